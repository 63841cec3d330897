#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lines/ModuleLines.h"
#include "io/KernelSystem.h"
#include "io/PortIo.h"

// A module on the lines of a GPIO chip (/dev/gpiochipN), one chip line per
// module line, as the mapping names them:
//
//   --port-map 0x378=/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18
//
//   module line  module pin  mapping   Raspberry Pi 40-pin header (/dev/gpiochip0)
//   RS           4           RS=7      GPIO7,  pin 26
//   RW           5           RW=N      not wired: module pin 5 to ground
//   E0           6           E0=8      GPIO8,  pin 24
//   D0 .. D3     7 .. 10     D0=N ...  not wired (4-bit bus only)
//   D4           11          D4=25     GPIO25, pin 22
//   D5           12          D5=24     GPIO24, pin 18
//   D6           13          D6=23     GPIO23, pin 16
//   D7           14          D7=18     GPIO18, pin 12
//   E1           (40x4)      E1=N      not wired (one controller only)
//
// Each line carries the level the dialog shows (no parallel-port inversions);
// invert=LINE+LINE names lines that pass an inverting buffer, which the tool
// undoes. A line not named is not wired: runs and Verify that need it are
// refused. The module's data lines at 5 V would damage 3.3 V GPIO pins, so
// reads need reads=safe (a level shifter, or a 3.3 V module).

// A parsed mapping: which chip line each module line is on.
struct GpioMapping {
    static constexpr int kLineCount = 12;  // the bits of a LineSet
    std::string chip;                      // "/dev/gpiochip0"
    // The chip line offset of each module line, by LineSet bit; nullopt: not wired.
    std::array<std::optional<std::uint32_t>, kLineCount> offsets{};
    LineSet inverted = 0;  // lines through an inverting buffer
    bool readsSafe = false;

    LineSet Wired() const;
};

// The mapping a --port-map device text names; nullopt with the usage error in `error`.
std::optional<GpioMapping> ParseGpioMapping(std::string_view device, std::string& error);
// What the module gets through a mapping (the same for the chip and the simulated module).
PortWiring GpioWiring(const GpioMapping& mapping);

// The GPIO row of the table of port kinds (PortIoMode.cpp).
std::string CheckGpioMapping(std::string_view device);
std::unique_ptr<PortBackend> MakeGpioPort(std::uint32_t base, const std::string& device,
                                          std::shared_ptr<KernelSystem> sys);
PortWiring SimulatedGpioWiring(const std::string& device);

// The kernel's GPIO character device, v2 uAPI (linux/gpio.h), called directly:
// Debian 12 ships libgpiod 1.6 (over the obsolete v1 ioctls), Debian 13 the
// incompatible 2.x, and the dozen ioctls the tool needs are stable kernel ABI.
//
// All wired lines are taken at start as one request, outputs at the dialog's
// levels. A refresh sets the lines that changed; turning the data lines around
// reconfigures the request with the other lines' values given, so no output
// moves. A chip that goes away (a USB bridge unplugged) is reported lost: runs
// stop, the tool goes on.
class GpioPort final : public PortBackend {
public:
    GpioPort(std::uint32_t base, GpioMapping mapping, std::shared_ptr<KernelSystem> sys);
    ~GpioPort() override;
    GpioPort(const GpioPort&) = delete;
    GpioPort& operator=(const GpioPort&) = delete;

    std::string Describe() const override;
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return GpioWiring(mapping_); }

    // Opens the chip and takes the lines; false, after telling why, when that fails.
    bool Open();

private:
    // The request's value bits of module lines (their levels as the pins carry them).
    std::uint64_t PinBits(LineSet lines) const;
    bool Take(int chipFd);
    // A request on the lines; false, after telling why, when it fails.
    bool LineRequest(unsigned long request, void* arg, const char* what);
    bool SetValues(std::uint64_t pins, std::uint64_t mask);
    bool TurnData(bool input, std::uint64_t pins);
    void ReportOpenProblem(const std::string& cause, const std::string& message);
    std::string ChipsFound() const;
    std::string HeldLines(int chipFd) const;

    std::uint32_t base_;
    GpioMapping mapping_;
    std::shared_ptr<KernelSystem> sys_;
    std::array<int, GpioMapping::kLineCount> index_{};  // request index by LineSet bit; -1: none
    int lineCount_ = 0;
    int lineFd_ = -1;         // the line request; -1 when not taken or lost
    std::uint64_t pins_ = 0;  // the levels the request's outputs carry
    bool dataInput_ = false;
    bool reached_ = false;
};
