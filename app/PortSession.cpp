#include "app/PortSession.h"

#include "io/PortIo.h"
#include "io/PortChoice.h"

PortSession::PortSession(const CommonOptions& options, std::uint32_t portBase, Clock& clock)
    : vcd_(clock) {
    PortIo& port = PortIo::Instance();
    port.Reset();
    port.SetBackend(MakePortBackend(options.portIo, options.portMap, options.e1Wiring));
    if (port.Simulated()) {
        module_ = std::make_unique<SimulatedModule>(clock, portBase);
        module_->SetWiringFault(options.simFault);
    }
    error_ = OpenOutputs(options, portBase, trace_, vcd_);
}

PortSession::~PortSession() {
    trace_.Close();
    vcd_.Close();
    module_.reset();
    PortIo::Instance().SetProblemSink({});
    PortIo::Instance().Reset();
}

void PortSession::AttachToPort(std::uint32_t base) {
    if (module_) module_->AttachToPort(base);
    if (vcd_.IsOpen()) vcd_.AttachToPort(base);
}

int PortSession::Finish(int status) {
    return CloseOutputs(trace_, vcd_, status);
}
