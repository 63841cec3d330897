#include "io/record/VcdWriter.h"

#include <iterator>

#include "lines/ParportWiring.h"

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

std::string LevelLine(int level, char id) {
    return {static_cast<char>('0' + level), id, '\n'};
}

// A line the port does not wire floats: the dump says so once, at time 0.
std::string FloatingLine(char id) {
    return {'z', id, '\n'};
}

}  // namespace

VcdWriter::~VcdWriter() {
    Close();
}

bool VcdWriter::Open(const std::string& path, std::uint32_t portBase) {
    Close();
    error_.clear();
    if (!file_.Open(path)) {
        error_ = "cannot write the waveform file " + path + ": " + file_.Reason();
        return false;
    }
    lines_.Attach(portBase);
    wiring_ = io_.Wiring(portBase);
    origin_ = clock_.NowMicros();
    lastStamp_ = 0;
    recorded_ = Levels();
    std::string header =
        "$version lcdtest module lines $end\n$timescale 1us $end\n$scope module lcd $end\n";
    for (const Signal& signal : kSignalTable)
        header += std::string("$var wire 1 ") + signal.id + ' ' + signal.name + " $end\n";
    header += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    const std::uint16_t wired = Wired();
    for (int i = 0; i < kSignals; ++i) {
        header += wired >> i & 1 ? LevelLine(recorded_ >> i & 1, kSignalTable[i].id)
                                 : FloatingLine(kSignalTable[i].id);
    }
    header += "$end\n";
    if (!file_.Write(header)) {
        // The caller refuses the file and says why; nothing to report twice.
        error_ = "cannot write the waveform file " + path + ": " + file_.Reason();
        return false;
    }
    io_.AddObserver(this);
    return true;
}

void VcdWriter::AttachToPort(std::uint32_t portBase) {
    lines_.Attach(portBase);
    wiring_ = io_.Wiring(portBase);
    Record(Levels());
}

void VcdWriter::Close() {
    if (!file_.IsOpen()) return;
    io_.RemoveObserver(this);
    // A closing time stamp gives the last change a duration, so readers that
    // sample the dump still see it.
    file_.Write(NextStamp());
    if (!file_.Close()) Fail("finish");
}

void VcdWriter::OnPortWrite(std::uint32_t address, std::uint8_t /*value*/) {
    if (!file_.IsOpen() || !lines_.Apply(address)) return;
    Record(Levels());
}

// The signals of a set of module lines, in the header's order.
std::uint16_t VcdWriter::Signals(LineSet lines) {
    static_assert(std::size(kSignalTable) == kSignals && kControlSignals + kDataLines == kSignals);
    std::uint16_t signals = 0;
    for (int i = 0; i < kControlSignals; ++i)
        if (lines & ControlLines(kControlOrder[i])) signals |= 1u << i;
    return static_cast<std::uint16_t>(signals | (lines & DataLines(0xFF)) << kControlSignals);
}

std::uint16_t VcdWriter::Wired() const {
    return Signals(wiring_.wired);
}

// The levels at the module's pins: inverted lines as the port hardware leaves
// them, unwired ones left out.
std::uint16_t VcdWriter::Levels() const {
    const LineSet lines = ControlLines(lines_.Control()) | DataLines(lines_.Data());
    return static_cast<std::uint16_t>(Signals(lines ^ wiring_.invertedAtModule) & Wired());
}

// One port write takes about a microsecond on the bus, so two writes never share
// a time stamp; that also keeps a data change after a falling enable edge apart
// from the edge for a decoder sampling the dump.
std::string VcdWriter::NextStamp() {
    const std::uint64_t now = clock_.NowMicros() - origin_;
    lastStamp_ = now > lastStamp_ ? now : lastStamp_ + 1;
    return '#' + std::to_string(lastStamp_) + '\n';
}

void VcdWriter::Record(std::uint16_t levels) {
    if (!file_.IsOpen() || levels == recorded_) return;
    const std::uint16_t changed = levels ^ recorded_;
    recorded_ = levels;
    std::string change = NextStamp();
    for (int i = 0; i < kSignals; ++i)
        if (changed >> i & 1) change += LevelLine(levels >> i & 1, kSignalTable[i].id);
    if (!file_.Write(change)) Fail("write");
}

// A waveform that stops silently would mislead, so the user hears of it once.
void VcdWriter::Fail(const char* what) {
    io_.RemoveObserver(this);
    file_.Close();
    error_ = std::string("cannot ") + what + " the waveform file " + file_.Path() + ": " +
             file_.Reason() + " after " + std::to_string(file_.BytesWritten()) +
             " bytes; the waveform ends there";
    io_.Log().Report("waveform", error_, false);
}
