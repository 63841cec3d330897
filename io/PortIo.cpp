#include "io/PortIo.h"

#include <algorithm>

#include "base/HexText.h"
#include "io/transports/Simulated.h"

namespace {
const LineLevels kNoLines{};

// The Port list entry `base` is (its index), or nullopt for any other address.
std::optional<std::size_t> EntryOf(std::uint32_t base) {
    const auto reg = ParportRegisterAt(base);
    if (!reg || reg->group != LineGroup::Data) return std::nullopt;
    return static_cast<std::size_t>(reg->port);
}
}  // namespace

PortIo::PortIo() : backend_(std::make_unique<SimulatedPort>()) {}

PortIo::~PortIo() = default;

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
        log_.Report("port-address:" + HexAddress(address),
                    "refused to write I/O address " + HexAddress(address) +
                        ": not a parallel-port register (a fault in the tool; please report it)");
    }
    // A copy, so an observer may unsubscribe while it is told.
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortWrite(address, value);
}

std::optional<std::uint8_t> PortIo::Read(std::uint32_t address) {
    if (!EntryOf(address)) {
        log_.Report("port-read-address:" + HexAddress(address),
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
    const auto entry = EntryOf(base);
    return entry ? lines_[*entry] : kNoLines;
}

void PortIo::ReportLost(std::uint32_t base, const std::string& cause, const std::string& message) {
    const auto entry = EntryOf(base);
    if (!entry || !lost_[*entry].empty()) return;
    lost_[*entry] = message;
    log_.Report(cause, message);
    const auto observers = observers_;
    for (PortObserver* observer : observers) observer->OnPortLost(base, message);
}

const std::string& PortIo::LostMessage(std::uint32_t base) const {
    static const std::string kWorking;
    const auto entry = EntryOf(base);
    return entry ? lost_[*entry] : kWorking;
}

namespace {
PortIo*& Installed() {
    static PortIo* installed = nullptr;
    return installed;
}
}  // namespace

PortIo& ThePortIo() {
    if (PortIo* io = Installed()) return *io;
    // Code that writes the port before any owner installed one (a dialog made
    // on its own) still has a port: a simulated one nobody looks at.
    static PortIo standIn;
    return standIn;
}

ScopedPortIo::ScopedPortIo(PortIo& io) : previous_(Installed()) {
    Installed() = &io;
}

ScopedPortIo::~ScopedPortIo() {
    Installed() = previous_;
}

void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) {
    ThePortIo().Write(port, value);
}

std::optional<std::uint8_t> DlPortReadPortUchar(std::uint32_t port) {
    return ThePortIo().Read(port);
}
