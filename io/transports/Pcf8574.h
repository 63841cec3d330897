#pragma once

// A module on a PCF8574 I2C backpack, reached through i2c-dev (/dev/i2c-N).
// The common backpack wires the expander's eight pins like this:
//
//   PCF8574 pin      module line              module pin
//   P0  (pin 4)      RS                       4
//   P1  (pin 5)      RW                       5
//   P2  (pin 6)      E (the tool's E0)        6
//   P3  (pin 7)      backlight                16 (K), switched by a transistor
//   P4  (pin 9)      D4                       11
//   P5  (pin 10)     D5                       12
//   P6  (pin 11)     D6                       13
//   P7  (pin 12)     D7                       14
//   A0..A2 (1..3)    address jumpers          -
//
// D0..D3 (module pins 7..10) and a second enable (E1) are not wired: the
// backpack drives a module of one controller on the 4-bit bus only. The
// expander and the module share one supply, so reading the module is safe.
//
// Every change of a pin is one SMBus "send byte" carrying all eight pins, and a
// read is one "receive byte": the same single-byte transfers on the wire as a
// plain write(2) and read(2), but taken by SMBus-only adapters too.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "io/KernelSystem.h"
#include "io/PortIo.h"

inline constexpr int kPcf8574Pins = 8;

// What drives each of the expander's pins.
struct Pcf8574Map {
    // Per pin: a module line as its bit in a LineSet (0..11), kBacklight, or kNone.
    static constexpr int kNone = -1;
    static constexpr int kBacklight = 12;
    std::array<int, kPcf8574Pins> pin{};

    // The common backpack's wiring (the table above).
    static Pcf8574Map Common();
    LineSet Wired() const;
    bool operator==(const Pcf8574Map&) const = default;
};

// A --port-map device text read: "/dev/i2c-1@0x27:RS=P0,...,backlight=off".
struct Pcf8574Device {
    std::string bus;  // "/dev/i2c-1"
    int busNumber = 0;
    std::uint8_t address = 0;
    Pcf8574Map map = Pcf8574Map::Common();
    bool backlightOn = true;

    // "RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1".
    std::string WiringText() const;
    PortWiring Wiring() const;
    // The byte that puts these lines on the pins: the data pins high while the
    // data lines are inputs, so the module can pull them low; unused pins high.
    std::uint8_t PinsOf(const LineLevels& lines) const;
    // The data lines a byte read from the pins gives; unwired ones read 1.
    std::uint8_t DataOf(std::uint8_t pins) const;
};

// Reads a device text; nullopt, with `error` saying what is wrong, when it does not read.
std::optional<Pcf8574Device> ParsePcf8574Device(std::string_view text, std::string& error);

// The backpack as the back-end of one Port list entry. It is opened, its bus's
// abilities checked and the expander asked for one byte when it is made; what
// fails is told once with the fix, and its writes are then dropped. A device
// that goes away mid-run (the USB bridge unplugged) is reported lost.
class Pcf8574Port final : public PortBackend {
public:
    Pcf8574Port(std::uint32_t base, Pcf8574Device device, std::shared_ptr<KernelSystem> sys);
    ~Pcf8574Port() override;
    Pcf8574Port(const Pcf8574Port&) = delete;
    Pcf8574Port& operator=(const Pcf8574Port&) = delete;

    std::string Describe() const override;
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return device_.Wiring(); }

    bool IsOpen() const { return fd_ >= 0; }

private:
    bool Open();
    // One SMBus byte transfer; the negated errno when it failed (told here).
    int Transfer(bool receive, std::uint8_t& byte);
    void ReportTransferFailure(bool receive, int error);
    std::string Where() const;  // "the PCF8574 at 0x27 on /dev/i2c-1"

    std::uint32_t base_;
    Pcf8574Device device_;
    std::shared_ptr<KernelSystem> sys_;
    int fd_ = -1;
    bool lost_ = false;
    std::optional<std::uint8_t> pins_;  // what the expander holds, once a byte went through
    int failuresInARow_ = 0;
};

// The PortKind row's functions (io/PortChoice.cpp).
std::string CheckPcf8574Device(std::string_view device);
std::unique_ptr<PortBackend> MakePcf8574Port(std::uint32_t base, const std::string& device,
                                             std::shared_ptr<KernelSystem> sys);
PortWiring SimulatedPcf8574Wiring(const std::string& device);
