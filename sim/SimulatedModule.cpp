#include "sim/SimulatedModule.h"

#include <any>

#include "base/HexText.h"
#include "io/I2cExpander.h"
#include "lines/ModuleLines.h"
#include "sim/SimulatedI2cBus.h"

namespace {
constexpr std::uint8_t kAllDataLines = 0xFF;

void Mute(CharacterModule& module, SimulatedBackpack* backpack) {
    module.SetChangeListener({});
    module.SetViolationListener({});
    if (backpack) backpack->SetBacklightListener({});
}
}  // namespace

SimulatedModule::SimulatedModule(Clock& clock, PortIo& io, std::uint32_t portBase)
    : io_(io), own_(clock), lines_(io) {
    AttachToPort(portBase);
    io_.AddObserver(this);
    if (SimulatedPort* port = io_.Simulated()) port->Connect(this);
}

SimulatedModule::~SimulatedModule() {
    if (listenedTo_) Mute(*listenedTo_->Module(), listenedTo_);
    if (SimulatedPort* port = io_.Simulated()) port->Disconnect(this);
    io_.RemoveObserver(this);
}

void SimulatedModule::AttachToPort(std::uint32_t portBase) {
    lines_.Attach(portBase);
    wiring_ = io_.Wiring(portBase);
    if (const SimulatedBackpack* backpack = BackpackAt(portBase)) {
        const BackpackSetup& setup = backpack->Setup();
        wiring_.text = "the simulated " + std::string(setup.chip->name) + " at " +
                       HexByte(setup.wiring.address) + ", driven as " + wiring_.text;
    } else if (!io_.Simulated()) {
        wiring_.text = "nothing simulated hangs on it";
    }
    own_.Place(Seen());
    ListenToShown();
}

void SimulatedModule::FollowMappings(const std::vector<PortMapping>& map, SimulatedI2cBus* bus) {
    for (const PortMapping& entry : map) {
        const auto* device = std::any_cast<ExpanderDevice>(&entry.config);
        if (!device) continue;
        if (io_.Simulated()) {
            if (device->map.PinOf(ExpanderPins::kBacklight) >= 0)
                backlights_.emplace_back(entry.base, device->backlightOn);
        } else if (bus && device->bus == SimulatedI2cBus::kNode) {
            SimulatedBackpack* backpack = bus->At(device->address);
            if (backpack && backpack->Module()) backpacks_.emplace_back(entry.base, backpack);
        }
    }
    AttachToPort(lines_.Base());
}

SimulatedBackpack* SimulatedModule::BackpackAt(std::uint32_t base) const {
    for (const auto& [mapped, backpack] : backpacks_)
        if (mapped == base) return backpack;
    return nullptr;
}

const CharacterModule& SimulatedModule::Shown() const {
    const SimulatedBackpack* backpack = BackpackAt(lines_.Base());
    return backpack ? *backpack->Module() : own_;
}

std::optional<bool> SimulatedModule::Backlight() const {
    if (const SimulatedBackpack* backpack = BackpackAt(lines_.Base())) return backpack->Backlight();
    for (const auto& [base, lit] : backlights_)
        if (base == lines_.Base()) return lit;
    return std::nullopt;
}

void SimulatedModule::SetChangeListener(ChangeListener listener) {
    listener_ = std::move(listener);
    ListenToShown();
}

void SimulatedModule::SetViolationListener(std::function<void()> listener) {
    violationListener_ = std::move(listener);
    ListenToShown();
}

// Only the module shown tells the listeners; the others keep quiet.
void SimulatedModule::ListenToShown() {
    SimulatedBackpack* shown = BackpackAt(lines_.Base());
    if (listenedTo_ && listenedTo_ != shown) Mute(*listenedTo_->Module(), listenedTo_);
    listenedTo_ = shown;
    if (shown) Mute(own_, nullptr);
    CharacterModule& module = shown ? *shown->Module() : own_;
    module.SetChangeListener(listener_);
    module.SetViolationListener(violationListener_);
    if (shown) shown->SetBacklightListener(violationListener_);
}

void SimulatedModule::SetWiringFault(const WiringFault& fault) {
    fault_ = fault;
    own_.Place(Seen());
}

std::uint8_t SimulatedModule::UnwiredData() const {
    return static_cast<std::uint8_t>(~wiring_.wired & DataLines(kAllDataLines));
}

ModulePins SimulatedModule::Seen() const {
    ModulePins pins;
    const auto control = static_cast<std::uint8_t>(
        (lines_.Control() ^ (wiring_.invertedAtModule >> kControlLineShift)) &
        (wiring_.wired >> kControlLineShift));
    pins.control = fault_.Control(control);
    pins.data = fault_.Data((lines_.DataInput() ? kAllDataLines : lines_.Data()) | UnwiredData());
    pins.driven = lines_.DataInput() ? 0 : static_cast<std::uint8_t>(wiring_.wired & kAllDataLines);
    return pins;
}

std::optional<std::uint8_t> SimulatedModule::DrivenData(std::uint32_t base) const {
    if (base != lines_.Base()) return std::nullopt;
    return fault_.Data(own_.Output() | UnwiredData());
}

void SimulatedModule::OnPortWrite(std::uint32_t address, std::uint8_t /*value*/) {
    if (!lines_.Apply(address)) return;
    // A real port's writes reach no module of this one's.
    if (io_.Simulated())
        own_.Take(Seen());
    else
        own_.Place(Seen());
}
