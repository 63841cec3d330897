#include "platform/PortIo.h"

#include <algorithm>
#include <cstdio>

#include "platform/ParportWiring.h"

namespace {
constexpr std::size_t kIoSpace = 0x10000;
}

SimulatedPort::SimulatedPort() : last_(kIoSpace, -1) {}

void SimulatedPort::Write(std::uint32_t address, std::uint8_t value) {
    if (address < kIoSpace) last_[address] = value;
}

std::optional<std::uint8_t> SimulatedPort::Read(std::uint32_t address) {
    const int control = LastWritten(address + kControlRegisterOffset);
    if (control >= 0 && (control & kDataLinesInput)) return PortIo::Instance().DataLines(address);
    const int latch = LastWritten(address);
    return static_cast<std::uint8_t>(latch < 0 ? 0 : latch);
}

int SimulatedPort::LastWritten(std::uint32_t address) const {
    return address < kIoSpace ? last_[address] : -1;
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
    backend_->Write(address, value);
    // A copy, so an observer may unsubscribe while it is told.
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortWrite(address, value);
}

std::optional<std::uint8_t> PortIo::Read(std::uint32_t address) {
    const std::optional<std::uint8_t> value = backend_->Read(address);
    if (!value) return value;
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortRead(address, *value);
    return value;
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

void PortIo::Reset() {
    backend_ = std::make_unique<SimulatedPort>();
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
