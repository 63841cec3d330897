#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/Clock.h"

// Memories of one HD44780-compatible controller.
inline constexpr int kDdramBytes = 80;
inline constexpr int kCgramBytes = 64;
inline constexpr int kTwoLineLength = 40;                 // characters per line with two lines
inline constexpr std::uint8_t kSecondLineAddress = 0x40;  // DDRAM address of line 2's first cell
inline constexpr std::uint8_t kBlankCode = 0x20;          // what clear display fills DDRAM with

// Execution times at the nominal oscillator (270 kHz), and the waits of an
// initialisation by instructions right after power-on, in microseconds.
inline constexpr std::uint64_t kPowerOnBusyMicros = 40000;
inline constexpr std::uint64_t kFirstFunctionSetMicros = 4100;
inline constexpr std::uint64_t kSecondFunctionSetMicros = 100;
inline constexpr std::uint64_t kInstructionMicros = 37;  // also a data write or read
inline constexpr std::uint64_t kClearOrHomeMicros = 1520;
// A blinking character alternates with all dots lit, this long each.
inline constexpr std::uint64_t kBlinkPhaseMicros = 409600;

enum class AddressTarget : std::uint8_t { Ddram, Cgram };

// What the controller holds, register for register. Nothing here is derived for
// a display; see ModuleLayout.h for what a module shows.
struct ControllerState {
    std::array<std::uint8_t, kDdramBytes> ddram{};
    std::array<std::uint8_t, kCgramBytes> cgram{};
    std::uint8_t addressCounter = 0;  // 7 bits for DDRAM, 6 for CGRAM
    AddressTarget target = AddressTarget::Ddram;
    std::uint8_t instructionRegister = 0;  // the last instruction taken
    std::uint8_t dataRegister = 0;         // the last byte written, or the one to read next
    // Entry mode.
    bool increment = true;
    bool shiftDisplay = false;
    // Display control.
    bool displayOn = false;
    bool cursorOn = false;
    bool blinkOn = false;
    // Function set.
    bool eightBitBus = true;
    bool twoLines = false;
    bool font5x10 = false;
    // Positions the display has moved left, modulo the 80 DDRAM cells (a whole
    // number of lines in either mode).
    std::uint8_t displayShift = 0;
    // 4-bit bus: the next falling edge carries a low nibble.
    bool lowNibbleDue = false;
    std::uint8_t pendingHighNibble = 0;  // written high nibble, in bits 7..4
    std::uint8_t readLatch = 0;          // byte being read out nibble by nibble
};

// The DDRAM cell behind a 7-bit address, or -1 where no cell answers (0x28-0x3F
// and 0x68-0x7F with two lines, 0x50-0x7F with one).
int DdramCell(const ControllerState& state, std::uint8_t address);

// The bus rules a controller can see broken: a transfer latched while it was
// still busy; RS or RW changing from its enable's rise to its fall; another
// driver (the port or the other controller) on data lines it drives.
enum class Violation { Busy, UnsteadyControl, TwoDrivers };
inline constexpr int kViolationKinds = 3;

// One controller, driven by bus actions: each call is one falling edge of its
// enable line with RS and the data lines as they stood. Time comes from the
// clock, which also stamps the power-on.
class LcdController {
public:
    explicit LcdController(Clock& clock);

    // Back to the state of a freshly powered module: 8-bit bus, one line, display
    // off, DDRAM blank, increment; busy for the power-on time.
    void PowerOn();

    // A falling edge with RW low. On the 4-bit bus only D7..D4 count, high nibble first.
    void LatchWrite(bool rs, std::uint8_t bus);
    // A falling edge with RW high: returns what the controller drives on D7..D0
    // (D7..D4 only on the 4-bit bus). Changes no memory; a data read moves the
    // address counter.
    std::uint8_t LatchRead(bool rs);
    // What the controller drives on D7..D0 while its enable line is high with RW
    // high, before the falling edge: the byte LatchRead will return. On the 4-bit
    // bus D3..D0 are left alone and read as 0 here.
    std::uint8_t ReadOutput(bool rs) const;

    const ControllerState& State() const { return state_; }
    bool Busy() const { return clock_.NowMicros() < busyUntil_; }

    // Transfers latched while the controller was still busy.
    std::uint64_t TimingViolations() const { return Violations(Violation::Busy); }
    // How often a rule was broken, by kind, and the latest breach of any kind
    // described ("" while there was none).
    std::uint64_t Violations(Violation kind) const {
        return violations_[static_cast<std::size_t>(kind)];
    }
    const std::string& LastViolation() const { return lastViolation_; }
    // A breach the bus around the controller saw (the module checks RS, RW and
    // the data lines' drivers), counted with the controller's own.
    void ReportViolation(Violation kind, std::string description);

private:
    void CheckReady(bool rs, bool read, const std::string& what);
    void StartBusy(std::uint64_t micros, const char* operation);
    void Execute(std::uint8_t instruction);
    void WriteData(std::uint8_t value);
    void AfterDataRead();
    void StepAddress(bool up);
    void LoadDataRegister();
    std::uint8_t BusyFlagAndAddress() const;

    Clock& clock_;
    ControllerState state_;
    std::uint64_t busyUntil_ = 0;
    const char* busyWith_ = "";
    int functionSetsSincePowerOn_ = 0;
    std::array<std::uint64_t, kViolationKinds> violations_{};
    std::string lastViolation_;
};
