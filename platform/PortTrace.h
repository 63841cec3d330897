#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/PortIo.h"

// Logs every port write as "<microseconds since start> <address> <value>", one
// line each, flushed at once so nothing is lost if the program is killed. A read
// is the same line with a fourth field, "read", so write lines stay as they are.
class PortTrace final : public PortObserver {
public:
    PortTrace() = default;
    ~PortTrace() override;
    PortTrace(const PortTrace&) = delete;
    PortTrace& operator=(const PortTrace&) = delete;

    // Opens (truncates) `path` and subscribes to the port; false if it cannot be opened.
    bool Open(const std::string& path);
    void OnPortWrite(std::uint32_t address, std::uint8_t value) override;
    void OnPortRead(std::uint32_t address, std::uint8_t value) override;

private:
    void Log(std::uint32_t address, std::uint8_t value, const char* suffix);
    std::FILE* file_ = nullptr;
    std::uint64_t origin_ = 0;
};
