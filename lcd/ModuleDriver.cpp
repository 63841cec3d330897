#include "lcd/ModuleDriver.h"

#include <span>

#include "port/LineState.h"

namespace {

// Inside a transfer: data set-up before the enable line rises, and the enable pulse.
constexpr std::uint32_t kDataSetupMs = 1;
constexpr std::uint32_t kEnablePulseMs = 1;

// Waits of the initialisation, before the instruction they precede.
constexpr std::uint32_t kNoWait = 0;
constexpr std::uint32_t kPowerOnWaitMs = 40;              // before the first function set
constexpr std::uint32_t kAfterFirstFunctionSetMs = 5;     // before the second
constexpr std::uint32_t kAfterSecondFunctionSetMs = 125;  // before the third
constexpr std::uint32_t kAfterThirdFunctionSetMs = 1;     // before the fourth
constexpr std::uint32_t kInstructionGapMs = 2;            // before each later instruction

// One step of an initialisation: a wait (none for kNoWait), then one instruction
// as an 8-bit or a 4-bit command cycle.
struct InitStep {
    std::uint32_t waitBeforeMs;
    std::uint8_t instruction;
    BusWidth bus;
};

constexpr InitStep kInit8Steps[] = {
    {kPowerOnWaitMs, kFunctionSet8Bit2Lines, BusWidth::Eight},
    {kAfterFirstFunctionSetMs, kFunctionSet8Bit2Lines, BusWidth::Eight},
    {kAfterSecondFunctionSetMs, kFunctionSet8Bit2Lines, BusWidth::Eight},
    {kAfterThirdFunctionSetMs, kFunctionSet8Bit2Lines, BusWidth::Eight},
    {kInstructionGapMs, kDisplayOff, BusWidth::Eight},
    {kInstructionGapMs, kClearDisplay, BusWidth::Eight},
    {kInstructionGapMs, kEntryModeIncrement, BusWidth::Eight},
    {kInstructionGapMs, kDisplayOnCursorBlink, BusWidth::Eight},
    {kInstructionGapMs, kClearDisplay, BusWidth::Eight},
};

// The first four instructions go as single 8-bit transfers whose D7..D4 carry the
// function-set pattern: until the 0x20 has been taken, the controller is on the
// 8-bit bus. The 0x28 follows the 0x20 with no wait of its own.
constexpr InitStep kInit4Steps[] = {
    {kPowerOnWaitMs, kFunctionSet8Bit, BusWidth::Eight},
    {kAfterFirstFunctionSetMs, kFunctionSet8Bit, BusWidth::Eight},
    {kAfterSecondFunctionSetMs, kFunctionSet8Bit, BusWidth::Eight},
    {kAfterThirdFunctionSetMs, kFunctionSet4Bit, BusWidth::Eight},
    {kNoWait, kFunctionSet4Bit2Lines, BusWidth::Four},
    {kInstructionGapMs, kDisplayOff, BusWidth::Four},
    {kInstructionGapMs, kClearDisplay, BusWidth::Four},
    {kInstructionGapMs, kEntryModeIncrement, BusWidth::Four},
    {kInstructionGapMs, kDisplayOnCursorBlink, BusWidth::Four},
    {kInstructionGapMs, kClearDisplay, BusWidth::Four},
};

void RunInit(ModuleDriver& driver, Clock& clock, std::span<const InitStep> steps,
             std::uint8_t controller) {
    for (const InitStep& step : steps) {
        if (step.waitBeforeMs != kNoWait) clock.SleepMillis(step.waitBeforeMs);
        driver.WriteCommand(step.bus, step.instruction, controller);
    }
}

}  // namespace

void ModuleDriver::SelectRegister(Register reg) {
    if (reg == Register::Instruction)
        panel_.OnRSLow();
    else
        panel_.OnRSHigh();
    panel_.OnRWLow();  // written even when RW is already low
}

// Puts one byte on the data lines and clocks it in with the controller's enable line.
void ModuleDriver::Transfer(std::uint8_t dataLatch, std::uint8_t controller) {
    g_lines.dataLatch = dataLatch;
    panel_.RefreshDataPort();
    clock_.SleepMillis(kDataSetupMs);
    Enable(controller, true);
    clock_.SleepMillis(kEnablePulseMs);
    Enable(controller, false);
}

void ModuleDriver::Enable(std::uint8_t controller, bool high) {
    if (controller != 0)
        high != e1ActiveLow_ ? panel_.OnE1High() : panel_.OnE1Low();
    else
        high ? panel_.OnE0High() : panel_.OnE0Low();
}

std::vector<std::optional<std::uint8_t>> ModuleDriver::ReadPulses(Register reg, std::size_t pulses,
                                                                  std::uint8_t controller) {
    std::vector<std::optional<std::uint8_t>> samples;
    samples.reserve(pulses);
    if (reg == Register::Instruction)
        panel_.OnRSLow();
    else
        panel_.OnRSHigh();
    panel_.OnDataInput();
    panel_.OnRWHigh();
    for (std::size_t p = 0; p < pulses; ++p) {
        clock_.SleepMillis(kDataSetupMs);
        Enable(controller, true);
        clock_.SleepMillis(kEnablePulseMs);
        samples.push_back(panel_.ReadDataPort());
        Enable(controller, false);
    }
    panel_.OnRWLow();
    panel_.OnDataOutput();
    return samples;
}

void ModuleDriver::EndRestingE1Pulse(std::size_t pulses) {
    panel_.OnRSLow();
    panel_.OnDataInput();
    panel_.OnRWHigh();
    for (std::size_t p = 0; p < pulses; ++p) {
        if (p > 0) {
            clock_.SleepMillis(kDataSetupMs);
            Enable(1, true);
        }
        clock_.SleepMillis(kEnablePulseMs);
        Enable(1, false);
    }
    panel_.OnRWLow();
    panel_.OnDataOutput();
}

void ModuleDriver::Cycle8(Register reg, std::uint8_t value, std::uint8_t controller) {
    SelectRegister(reg);
    Transfer(value, controller);
}

// RS and RW are set once for both nibbles; the low nibble goes on the data lines
// right after the enable line falls.
void ModuleDriver::Cycle4(Register reg, std::uint8_t value, std::uint8_t controller) {
    SelectRegister(reg);
    Transfer(value & kHighDataNibble, controller);
    Transfer(static_cast<std::uint8_t>(value << 4) & kHighDataNibble, controller);
}

void ModuleDriver::WriteCommand8(std::uint8_t value, std::uint8_t controller) {
    Cycle8(Register::Instruction, value, controller);
}

void ModuleDriver::WriteData8(std::uint8_t value, std::uint8_t controller) {
    Cycle8(Register::Data, value, controller);
}

void ModuleDriver::WriteCommand4(std::uint8_t value, std::uint8_t controller) {
    Cycle4(Register::Instruction, value, controller);
}

void ModuleDriver::WriteData4(std::uint8_t value, std::uint8_t controller) {
    Cycle4(Register::Data, value, controller);
}

void ModuleDriver::InitController8(std::uint8_t controller) {
    RunInit(*this, clock_, kInit8Steps, controller);
}

void ModuleDriver::InitController4(std::uint8_t controller) {
    RunInit(*this, clock_, kInit4Steps, controller);
}

void ModuleDriver::WriteCommand(BusWidth width, std::uint8_t value, std::uint8_t controller) {
    width == BusWidth::Eight ? WriteCommand8(value, controller) : WriteCommand4(value, controller);
}

void ModuleDriver::WriteData(BusWidth width, std::uint8_t value, std::uint8_t controller) {
    width == BusWidth::Eight ? WriteData8(value, controller) : WriteData4(value, controller);
}

void ModuleDriver::InitController(BusWidth width, std::uint8_t controller) {
    width == BusWidth::Eight ? InitController8(controller) : InitController4(controller);
}
