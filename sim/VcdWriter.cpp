#include "sim/VcdWriter.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <iterator>

#include "platform/ParportWiring.h"

namespace {

struct Signal {
    const char* name;
    char id;  // the dump's one-character identifier
};

// Header order; the data lines follow the control lines, D0 first.
constexpr Signal kSignalTable[] = {
    {"E0", '!'},  {"E1", '"'}, {"RS", '#'}, {"RW", '$'}, {"D0", '%'}, {"D1", '&'},
    {"D2", '\''}, {"D3", '('}, {"D4", ')'}, {"D5", '*'}, {"D6", '+'}, {"D7", ','},
};
constexpr std::uint8_t kControlOrder[] = {kLineE0, kLineE1, kLineRS, kLineRW};
constexpr int kControlSignals = sizeof kControlOrder;
constexpr int kDataLines = 8;

}  // namespace

VcdWriter::~VcdWriter() {
    Close();
}

bool VcdWriter::Open(const std::string& path, std::uint32_t portBase) {
    Close();
    error_.clear();
    path_ = path;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        error_ = path + ": " + std::strerror(errno);
        return false;
    }
    lines_.Attach(portBase, PortIo::Instance().Simulated());
    origin_ = clock_.NowMicros();
    lastStamp_ = 0;
    recorded_ = Levels();
    std::fputs("$version lcdtest module lines $end\n$timescale 1us $end\n$scope module lcd $end\n",
               file_);
    for (const Signal& signal : kSignalTable)
        std::fprintf(file_, "$var wire 1 %c %s $end\n", signal.id, signal.name);
    std::fputs("$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n", file_);
    for (int i = 0; i < kSignals; ++i)
        std::fprintf(file_, "%d%c\n", (recorded_ >> i) & 1, kSignalTable[i].id);
    std::fputs("$end\n", file_);
    if (std::fflush(file_) != 0) {
        Fail("cannot write the header");
        return false;
    }
    PortIo::Instance().AddObserver(this);
    return true;
}

void VcdWriter::AttachToPort(std::uint32_t portBase) {
    lines_.Attach(portBase, PortIo::Instance().Simulated());
    Record(Levels());
}

void VcdWriter::Close() {
    if (!file_) return;
    PortIo::Instance().RemoveObserver(this);
    // A closing time stamp gives the last change a duration, so readers that
    // sample the dump still see it.
    std::fprintf(file_, "#%" PRIu64 "\n", NextStamp());
    if (std::fclose(file_) != 0 && error_.empty())
        error_ = path_ + ": cannot finish the waveform: " + std::strerror(errno);
    file_ = nullptr;
}

void VcdWriter::OnPortWrite(std::uint32_t address, std::uint8_t value) {
    if (!file_ || !lines_.Apply(address, value)) return;
    Record(Levels());
}

std::uint16_t VcdWriter::Levels() const {
    static_assert(std::size(kSignalTable) == kSignals && kControlSignals + kDataLines == kSignals);
    std::uint16_t levels = 0;
    for (int i = 0; i < kControlSignals; ++i)
        if (lines_.Control() & kControlOrder[i]) levels |= 1u << i;
    return static_cast<std::uint16_t>(levels | lines_.Data() << kControlSignals);
}

// One port write takes about a microsecond on the bus, so two writes never share
// a time stamp; that also keeps a data change after a falling enable edge apart
// from the edge for a decoder sampling the dump.
std::uint64_t VcdWriter::NextStamp() {
    const std::uint64_t now = clock_.NowMicros() - origin_;
    lastStamp_ = now > lastStamp_ ? now : lastStamp_ + 1;
    return lastStamp_;
}

void VcdWriter::Record(std::uint16_t levels) {
    if (!file_ || levels == recorded_) return;
    const std::uint16_t changed = levels ^ recorded_;
    recorded_ = levels;
    std::fprintf(file_, "#%" PRIu64 "\n", NextStamp());
    for (int i = 0; i < kSignals; ++i)
        if (changed >> i & 1) std::fprintf(file_, "%d%c\n", levels >> i & 1, kSignalTable[i].id);
    if (std::fflush(file_) != 0) Fail("cannot write");
}

// A waveform that stops silently would mislead, so the user hears of it once.
void VcdWriter::Fail(const char* what) {
    error_ = path_ + ": " + what + ": " + std::strerror(errno);
    PortIo::Instance().RemoveObserver(this);
    std::fclose(file_);
    file_ = nullptr;
    PortIo::Instance().ReportProblem("waveform", "waveform file " + error_);
}
