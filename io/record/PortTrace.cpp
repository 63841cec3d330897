#include "io/record/PortTrace.h"

#include <cinttypes>
#include <cstdio>

#include "base/Clock.h"

PortTrace::~PortTrace() {
    Close();
}

bool PortTrace::Open(const std::string& path) {
    Close();
    error_.clear();
    lines_ = 0;
    if (!file_.Open(path)) {
        error_ = "cannot write the trace file " + path + ": " + file_.Reason();
        return false;
    }
    origin_ = TheClock().NowMicros();
    io_.AddObserver(this);
    return true;
}

void PortTrace::Close() {
    if (!file_.IsOpen()) return;
    io_.RemoveObserver(this);
    if (!file_.Close()) Fail();
}

void PortTrace::OnPortWrite(std::uint32_t address, std::uint8_t value) {
    Log(address, value, "");
}

void PortTrace::OnPortRead(std::uint32_t address, std::uint8_t value) {
    Log(address, value, " read");
}

void PortTrace::OnPortLost(std::uint32_t base, const std::string& message) {
    char head[48];
    std::snprintf(head, sizeof head, "%" PRIu64 " 0x%03X lost ", TheClock().NowMicros() - origin_,
                  static_cast<unsigned>(base));
    Put(std::string(head) + message + "\n");
}

void PortTrace::Log(std::uint32_t address, std::uint8_t value, const char* suffix) {
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%" PRIu64 " 0x%03X 0x%02X%s\n",
                                TheClock().NowMicros() - origin_, static_cast<unsigned>(address),
                                static_cast<unsigned>(value), suffix);
    Put({line, static_cast<std::size_t>(n)});
}

void PortTrace::Put(std::string_view line) {
    if (!file_.IsOpen()) return;
    if (!file_.Write(line)) {
        Fail();
        return;
    }
    ++lines_;
}

// A trace that stops silently would mislead, so the user hears of it once.
void PortTrace::Fail() {
    io_.RemoveObserver(this);
    file_.Close();
    error_ = "cannot write the trace file " + file_.Path() + ": " + file_.Reason() + " after " +
             std::to_string(file_.BytesWritten()) + " bytes (" + std::to_string(lines_) +
             " whole lines); the trace ends there";
    io_.Log().Report("trace", error_, false);
}
