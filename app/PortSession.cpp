#include "app/PortSession.h"

#include <algorithm>
#include <any>
#include <cstdio>

#include "base/HexText.h"
#include "io/I2cExpander.h"
#include "io/PortChoice.h"
#include "io/PortIo.h"

namespace {

// The simulated bus's time, waited on `clock`, so a run lasts as long as on a
// real bus.
SimulatedI2cBus::Wait WaitOn(Clock& clock) {
    return [&clock](std::uint64_t micros) { clock.SleepMicros(micros); };
}

// Whether a Port list entry drives a backpack on `bus`.
bool DrivesTheBus(const std::vector<PortMapping>& map, const SimulatedI2cBus& bus) {
    return std::any_of(map.begin(), map.end(), [&](const PortMapping& entry) {
        const auto* device = std::any_cast<ExpanderDevice>(&entry.config);
        return device && device->bus == SimulatedI2cBus::kNode && bus.At(device->address);
    });
}

}  // namespace

PortSession::PortSession(const CommonOptions& options, std::uint32_t portBase, Clock& clock)
    : options_(options),
      sys_(MakeLinuxKernelSystem()),
      installed_(io_),
      trace_(io_),
      vcd_(clock, io_) {
    if (!options.simI2c.empty()) {
        // Everything the tool opens goes through the bus, which hides the real ones.
        bus_ = std::make_shared<SimulatedI2cBus>(sys_, clock, WaitOn(clock));
        for (const BackpackSetup& setup : options.simI2c) bus_->Add(setup);
        sys_ = bus_;
    }
    UseBackend();
    if (io_.Simulated() || (bus_ && DrivesTheBus(options.portMap, *bus_))) {
        module_ = std::make_unique<SimulatedModule>(clock, io_, portBase);
        module_->SetWiringFault(options.simFault);
        module_->FollowMappings(options.portMap, bus_.get());
    }
    error_ = OpenOutputs(options, portBase, trace_, vcd_);
}

void PortSession::UseBackend() {
    PortBackendChoice choice =
        ChoosePortBackend(options_.portIo, sys_, options_.portMap, options_.e1Wiring, io_);
    std::fprintf(stderr, "lcdtest: %s%s\n", choice.announcement.c_str(),
                 bus_ ? ("; " + bus_->Describe()).c_str() : "");
    std::fflush(stderr);
    io_.SetBackend(std::move(choice.backend));
}

std::string PortSession::Map(std::uint32_t base, const std::string& device) {
    std::vector<PortMapping> map;
    for (const PortMapping& entry : options_.portMap)
        if (entry.base != base) map.push_back(entry);
    if (std::string error = AddPortMapping(map, HexAddress(base) + "=" + device); !error.empty())
        return error;
    options_.portMap = std::move(map);
    io_.SetBackend(nullptr);  // the old one lets go of its devices first
    UseBackend();
    if (module_) {
        module_->FollowMappings(options_.portMap, bus_.get());
        if (SimulatedPort* port = io_.Simulated()) port->Connect(module_.get());
    }
    return "";
}

PortSession::~PortSession() {
    trace_.Close();
    vcd_.Close();
    module_.reset();
    io_.Log().SetSink({});
}

void PortSession::AttachToPort(std::uint32_t base) {
    if (module_) module_->AttachToPort(base);
    if (vcd_.IsOpen()) vcd_.AttachToPort(base);
}

int PortSession::Finish(int status) {
    return CloseOutputs(trace_, vcd_, status);
}
