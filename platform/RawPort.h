#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ParportSystem.h"
#include "platform/PortIo.h"

inline constexpr const char kRawPortDevice[] = "/dev/port";

// The classic ports driven directly through /dev/port, for root. Only the
// registers of the classic ports are ever written: a bug elsewhere must not
// reach an arbitrary I/O port, so every other address is refused and reported.
class RawPort final : public PortBackend {
public:
    explicit RawPort(std::shared_ptr<ParportSystem> sys);
    ~RawPort() override;
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    std::string Describe() const override { return "parallel port (raw I/O through /dev/port)"; }
    void Write(std::uint32_t address, std::uint8_t value) override;

    // Opens /dev/port now, if that was not tried yet; true while it is open.
    // A failure is reported and not tried again.
    bool Open();

    // Whether `address` is a data or control register of a classic port.
    static bool IsAllowedAddress(std::uint32_t address);

private:
    std::shared_ptr<ParportSystem> sys_;
    int fd_ = -1;
    bool tried_ = false;
};
