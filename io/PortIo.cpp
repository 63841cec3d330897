#include "io/PortIo.h"

#include <algorithm>
#include <cstdio>

#include "io/transports/ParportScan.h"

namespace {
const LineLevels kNoLines{};
}  // namespace

void SimulatedPort::Apply(std::uint32_t, const LineLevels&, LineGroup) {}

std::optional<std::uint8_t> SimulatedPort::ReadData(std::uint32_t base) {
    const LineLevels& lines = PortIo::Instance().Lines(base);
    if (lines.dataInput) return PortIo::Instance().DataLines(base);
    return lines.data;
}

PortWiring SimulatedPort::Wiring(std::uint32_t base) const {
    for (const auto& [wired, wiring] : wirings_)
        if (wired == base) return wiring;
    return ParallelPortWiring(e1_);
}

void SimulatedPort::SetWiring(std::uint32_t base, PortWiring wiring) {
    for (auto& [wired, existing] : wirings_) {
        if (wired != base) continue;
        existing = std::move(wiring);
        return;
    }
    wirings_.emplace_back(base, std::move(wiring));
}

PortIo::PortIo() : backend_(std::make_unique<SimulatedPort>()) {}

PortIo& PortIo::Instance() {
    static PortIo instance;
    return instance;
}

void PortIo::SetBackend(std::unique_ptr<PortBackend> backend) {
    backend_ = backend ? std::move(backend) : std::make_unique<SimulatedPort>();
}

SimulatedPort* PortIo::Simulated() {
    return dynamic_cast<SimulatedPort*>(backend_.get());
}

void PortIo::AddObserver(PortObserver* observer) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void PortIo::RemoveObserver(PortObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void PortIo::Write(std::uint32_t address, std::uint8_t value) {
    if (const auto reg = ParportRegisterAt(address)) {
        LineLevels& lines = lines_[static_cast<std::size_t>(reg->port)];
        if (reg->group == LineGroup::Data)
            lines.data = value;
        else
            DecodeControlRegister(value, lines);
        backend_->Apply(kPortBases[reg->port], lines, reg->group);
    } else {
        ReportProblem("port-address:" + HexAddress(address),
                      "refused to write I/O address " + HexAddress(address) +
                          ": not a parallel-port register (a fault in the tool; please report it)");
    }
    // A copy, so an observer may unsubscribe while it is told.
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortWrite(address, value);
}

std::optional<std::uint8_t> PortIo::Read(std::uint32_t address) {
    const auto reg = ParportRegisterAt(address);
    if (!reg || reg->group != LineGroup::Data) {
        ReportProblem("port-read-address:" + HexAddress(address),
                      "refused to read I/O address " + HexAddress(address) +
                          ": not a parallel port's data register (a fault in the tool; please "
                          "report it)");
        return std::nullopt;
    }
    const std::optional<std::uint8_t> value = backend_->ReadData(address);
    if (!value) return value;
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortRead(address, *value);
    return value;
}

const LineLevels& PortIo::Lines(std::uint32_t base) const {
    const auto reg = ParportRegisterAt(base);
    if (!reg || reg->group != LineGroup::Data) return kNoLines;
    return lines_[static_cast<std::size_t>(reg->port)];
}

std::uint8_t PortIo::DataLines(std::uint32_t dataAddress) const {
    std::uint8_t lines = 0xFF;
    for (const PortObserver* observer : observers_)
        if (const auto driven = observer->DrivenData(dataAddress)) lines &= *driven;
    return lines;
}

void PortIo::SetProblemSink(ProblemSink sink) {
    sink_ = std::move(sink);
}

void PortIo::ReportProblem(const std::string& cause, const std::string& message, bool aboutPort) {
    if (!reportedCauses_.insert(cause).second) return;
    problems_.push_back(message);
    if (aboutPort) lastPortProblem_ = message;
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    std::fflush(stderr);
    if (sink_) sink_(message);
}

void PortIo::ReportLost(std::uint32_t base, const std::string& cause, const std::string& message) {
    const auto reg = ParportRegisterAt(base);
    if (!reg || !lost_[static_cast<std::size_t>(reg->port)].empty()) return;
    lost_[static_cast<std::size_t>(reg->port)] = message;
    ReportProblem(cause, message);
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortLost(base, message);
}

const std::string& PortIo::LostMessage(std::uint32_t base) const {
    static const std::string kWorking;
    const auto reg = ParportRegisterAt(base);
    return reg ? lost_[static_cast<std::size_t>(reg->port)] : kWorking;
}

void PortIo::Refuse(const std::string& message) {
    // A refusal that repeats a reported problem (a lost port) was said already.
    const bool said = std::find(problems_.begin(), problems_.end(), message) != problems_.end();
    if (!said && reportedCauses_.insert("refused:" + message).second) {
        std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
        std::fflush(stderr);
    }
    if (sink_) sink_(message);
}

void PortIo::Reset() {
    backend_ = std::make_unique<SimulatedPort>();
    lines_ = {};
    lost_ = {};
    reportedCauses_.clear();
    problems_.clear();
    lastPortProblem_.clear();
}

void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) {
    PortIo::Instance().Write(port, value);
}

std::optional<std::uint8_t> DlPortReadPortUchar(std::uint32_t port) {
    return PortIo::Instance().Read(port);
}
