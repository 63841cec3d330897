#include "app/PortSession.h"

#include "io/PortChoice.h"
#include "io/PortIo.h"

PortSession::PortSession(const CommonOptions& options, std::uint32_t portBase, Clock& clock)
    : installed_(io_), trace_(io_), vcd_(clock, io_) {
    UsePortBackend(io_, options.portIo, options.portMap, options.e1Wiring);
    if (io_.Simulated()) {
        module_ = std::make_unique<SimulatedModule>(clock, io_, portBase);
        module_->SetWiringFault(options.simFault);
    }
    error_ = OpenOutputs(options, portBase, trace_, vcd_);
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
