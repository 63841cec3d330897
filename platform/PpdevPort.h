#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ParportScan.h"
#include "platform/ParportSystem.h"
#include "platform/PortIo.h"

// A real parallel port through the kernel's ppdev driver (/dev/parportN), the
// way an ordinary user in group lp reaches the hardware. Each port is opened,
// taken exclusively and claimed on its first write, and held until the
// back-end is destroyed. A write the hardware cannot take is dropped and the
// user is told once per cause; nothing here stops the program.
class PpdevPort final : public PortBackend {
public:
    PpdevPort(std::shared_ptr<ParportSystem> sys, std::vector<ParportDevice> ports);
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    std::string Describe() const override;
    void Write(std::uint32_t address, std::uint8_t value) override;

    // Opens and claims the port with this base now, if that was not tried yet;
    // true while it is held. A failure is reported and not tried again.
    bool Claim(std::uint32_t base);
    // Claims the ports in order until one is held; true if one is.
    bool ClaimAny();

    const std::vector<ParportDevice>& Ports() const { return ports_; }

private:
    struct Handle {
        int fd = -1;
        bool tried = false;
    };
    bool ClaimAt(std::size_t index);
    std::string SuggestPortMap(std::uint32_t base) const;

    std::shared_ptr<ParportSystem> sys_;
    std::vector<ParportDevice> ports_;
    std::vector<Handle> handles_;  // one per port, same order
};
