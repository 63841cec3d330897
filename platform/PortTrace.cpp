#include "platform/PortTrace.h"

#include <cinttypes>

#include "platform/Clock.h"

PortTrace::~PortTrace() {
    if (!file_) return;
    PortIo::Instance().RemoveObserver(this);
    std::fclose(file_);
}

bool PortTrace::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) return false;
    origin_ = TheClock().NowMicros();
    PortIo::Instance().AddObserver(this);
    return true;
}

void PortTrace::OnPortWrite(std::uint32_t address, std::uint8_t value) {
    Log(address, value, "");
}

void PortTrace::OnPortRead(std::uint32_t address, std::uint8_t value) {
    Log(address, value, " read");
}

void PortTrace::Log(std::uint32_t address, std::uint8_t value, const char* suffix) {
    std::fprintf(file_, "%" PRIu64 " 0x%03X 0x%02X%s\n", TheClock().NowMicros() - origin_,
                 static_cast<unsigned>(address), static_cast<unsigned>(value), suffix);
    std::fflush(file_);
}
