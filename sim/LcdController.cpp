#include "sim/LcdController.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

#include "base/HexText.h"
#include "lines/ModuleLines.h"

namespace {

// Instruction codes: the highest set bit names the instruction.
constexpr std::uint8_t kClearDisplay = 0x01;
constexpr std::uint8_t kReturnHome = 0x02;
constexpr std::uint8_t kEntryModeSet = 0x04;
constexpr std::uint8_t kEntryIncrementBit = 0x02;  // I/D
constexpr std::uint8_t kEntryShiftBit = 0x01;      // S
constexpr std::uint8_t kDisplayControl = 0x08;
constexpr std::uint8_t kDisplayOnBit = 0x04;  // D
constexpr std::uint8_t kCursorOnBit = 0x02;   // C
constexpr std::uint8_t kBlinkOnBit = 0x01;    // B
constexpr std::uint8_t kCursorOrDisplayShift = 0x10;
constexpr std::uint8_t kShiftDisplayBit = 0x08;  // S/C
constexpr std::uint8_t kShiftRightBit = 0x04;    // R/L
constexpr std::uint8_t kFunctionSet = 0x20;
constexpr std::uint8_t kEightBitBusBit = 0x10;  // DL
constexpr std::uint8_t kTwoLinesBit = 0x08;     // N
constexpr std::uint8_t kFont5x10Bit = 0x04;     // F
constexpr std::uint8_t kSetCgramAddress = 0x40;
constexpr std::uint8_t kCgramAddressMask = 0x3F;
constexpr std::uint8_t kSetDdramAddress = 0x80;
constexpr std::uint8_t kDdramAddressMask = 0x7F;

constexpr std::uint8_t kBusyFlag = 0x80;
constexpr int kNibbleShift = 4;

// Last cell addresses of each line, where the address counter wraps.
constexpr std::uint8_t kOneLineLastAddress = 0x4F;
constexpr std::uint8_t kFirstLineLastAddress = 0x27;
constexpr std::uint8_t kSecondLineLastAddress = 0x67;

std::uint8_t NextDdramAddress(std::uint8_t address, bool up, bool twoLines) {
    if (twoLines) {
        if (up && address == kFirstLineLastAddress) return kSecondLineAddress;
        if (up && address == kSecondLineLastAddress) return 0;
        if (!up && address == kSecondLineAddress) return kFirstLineLastAddress;
        if (!up && address == 0) return kSecondLineLastAddress;
    } else {
        if (up && address == kOneLineLastAddress) return 0;
        if (!up && address == 0) return kOneLineLastAddress;
    }
    return static_cast<std::uint8_t>((address + (up ? 1 : -1)) & kDdramAddressMask);
}

}  // namespace

int DdramCell(const ControllerState& state, std::uint8_t address) {
    address &= kDdramAddressMask;
    if (!state.twoLines) return address < kDdramBytes ? address : -1;
    if (address < kTwoLineLength) return address;
    const int column = address - kSecondLineAddress;
    return column >= 0 && column < kTwoLineLength ? kTwoLineLength + column : -1;
}

LcdController::LcdController(Clock& clock) : clock_(clock) {
    PowerOn();
}

void LcdController::PowerOn() {
    state_ = ControllerState{};
    state_.ddram.fill(kBlankCode);
    functionSetsSincePowerOn_ = 0;
    busyUntil_ = 0;
    StartBusy(kPowerOnBusyMicros, "the power-on reset");
}

void LcdController::StartBusy(std::uint64_t micros, const char* operation) {
    busyUntil_ = clock_.NowMicros() + micros;
    busyWith_ = operation;
}

// Reading the busy flag is how a host waits, so it is the one transfer that may
// come while the controller is busy.
void LcdController::CheckReady(bool rs, bool read, const std::string& what) {
    const std::uint64_t now = clock_.NowMicros();
    if (now >= busyUntil_ || (read && !rs)) return;
    char text[160];
    std::snprintf(text, sizeof text, "%s latched %" PRIu64 " us before the end of %s", what.c_str(),
                  busyUntil_ - now, busyWith_);
    ReportViolation(Violation::Busy, text);
}

void LcdController::ReportViolation(Violation kind, std::string description) {
    ++violations_[static_cast<std::size_t>(kind)];
    lastViolation_ = std::move(description);
}

void LcdController::LatchWrite(bool rs, std::uint8_t bus) {
    const char* reg = rs ? "data" : "instruction";
    if (state_.eightBitBus) {
        CheckReady(rs, false, std::string(reg) + " " + HexByte(bus));
        if (rs)
            WriteData(bus);
        else
            Execute(bus);
        return;
    }
    const std::uint8_t nibble = bus & kHighDataNibble;
    if (!state_.lowNibbleDue) {
        CheckReady(rs, false, std::string(reg) + " high nibble " + HexByte(nibble));
        state_.pendingHighNibble = nibble;
        state_.lowNibbleDue = true;
        return;
    }
    CheckReady(rs, false, std::string(reg) + " low nibble " + HexByte(nibble));
    state_.lowNibbleDue = false;
    const auto value = static_cast<std::uint8_t>(state_.pendingHighNibble | nibble >> kNibbleShift);
    if (rs)
        WriteData(value);
    else
        Execute(value);
}

std::uint8_t LcdController::ReadOutput(bool rs) const {
    const std::uint8_t byte = rs ? state_.dataRegister : BusyFlagAndAddress();
    if (state_.eightBitBus) return byte;
    return state_.lowNibbleDue ? static_cast<std::uint8_t>(state_.readLatch << kNibbleShift)
                               : static_cast<std::uint8_t>(byte & kHighDataNibble);
}

std::uint8_t LcdController::LatchRead(bool rs) {
    const char* what = rs ? "data read" : "busy flag read";
    const std::uint8_t value = ReadOutput(rs);
    if (state_.eightBitBus) {
        CheckReady(rs, true, what);
        if (rs) AfterDataRead();
        return value;
    }
    // The byte is taken when its high nibble goes out, as a real controller does,
    // so both halves belong to the same moment.
    CheckReady(rs, true, std::string(what) + (state_.lowNibbleDue ? " (low nibble)" : ""));
    if (!state_.lowNibbleDue) {
        state_.readLatch = rs ? state_.dataRegister : BusyFlagAndAddress();
        state_.lowNibbleDue = true;
        return value;
    }
    state_.lowNibbleDue = false;
    if (rs) AfterDataRead();
    return value;
}

std::uint8_t LcdController::BusyFlagAndAddress() const {
    return static_cast<std::uint8_t>((Busy() ? kBusyFlag : 0) | state_.addressCounter);
}

void LcdController::StepAddress(bool up) {
    if (state_.target == AddressTarget::Cgram)
        state_.addressCounter =
            static_cast<std::uint8_t>((state_.addressCounter + (up ? 1 : -1)) & kCgramAddressMask);
    else
        state_.addressCounter = NextDdramAddress(state_.addressCounter, up, state_.twoLines);
}

// A set address, a cursor move or a read leaves the addressed byte in the data
// register, ready for the next read.
void LcdController::LoadDataRegister() {
    if (state_.target == AddressTarget::Cgram) {
        state_.dataRegister = state_.cgram[state_.addressCounter & kCgramAddressMask];
        return;
    }
    const int cell = DdramCell(state_, state_.addressCounter);
    state_.dataRegister = cell < 0 ? 0 : state_.ddram[cell];
}

void LcdController::WriteData(std::uint8_t value) {
    state_.dataRegister = value;
    if (state_.target == AddressTarget::Cgram) {
        state_.cgram[state_.addressCounter & kCgramAddressMask] = value;
    } else {
        // An address without a cell takes nothing, as on the chip.
        const int cell = DdramCell(state_, state_.addressCounter);
        if (cell >= 0) state_.ddram[cell] = value;
        if (state_.shiftDisplay) {
            const int step = state_.increment ? 1 : kDdramBytes - 1;
            state_.displayShift =
                static_cast<std::uint8_t>((state_.displayShift + step) % kDdramBytes);
        }
    }
    StepAddress(state_.increment);
    StartBusy(kInstructionMicros, "a data write");
}

void LcdController::AfterDataRead() {
    StepAddress(state_.increment);
    LoadDataRegister();
    StartBusy(kInstructionMicros, "a data read");
}

void LcdController::Execute(std::uint8_t instruction) {
    state_.instructionRegister = instruction;
    if (instruction & kSetDdramAddress) {
        state_.target = AddressTarget::Ddram;
        state_.addressCounter = instruction & kDdramAddressMask;
        LoadDataRegister();
        StartBusy(kInstructionMicros, "set DDRAM address");
    } else if (instruction & kSetCgramAddress) {
        state_.target = AddressTarget::Cgram;
        state_.addressCounter = instruction & kCgramAddressMask;
        LoadDataRegister();
        StartBusy(kInstructionMicros, "set CGRAM address");
    } else if (instruction & kFunctionSet) {
        // A pair has just completed (or the bus was 8-bit), so a switch to the
        // 4-bit bus always starts on a high nibble.
        state_.eightBitBus = instruction & kEightBitBusBit;
        state_.twoLines = instruction & kTwoLinesBit;
        state_.font5x10 = instruction & kFont5x10Bit;
        // Right after power-on the first two function sets take far longer.
        ++functionSetsSincePowerOn_;
        if (functionSetsSincePowerOn_ == 1)
            StartBusy(kFirstFunctionSetMicros, "the first function set after power-on");
        else if (functionSetsSincePowerOn_ == 2)
            StartBusy(kSecondFunctionSetMicros, "the second function set after power-on");
        else
            StartBusy(kInstructionMicros, "function set");
    } else if (instruction & kCursorOrDisplayShift) {
        const bool right = instruction & kShiftRightBit;
        if (instruction & kShiftDisplayBit) {
            const int step = right ? kDdramBytes - 1 : 1;
            state_.displayShift =
                static_cast<std::uint8_t>((state_.displayShift + step) % kDdramBytes);
        } else {
            StepAddress(right);
            LoadDataRegister();
        }
        StartBusy(kInstructionMicros, "cursor or display shift");
    } else if (instruction & kDisplayControl) {
        state_.displayOn = instruction & kDisplayOnBit;
        state_.cursorOn = instruction & kCursorOnBit;
        state_.blinkOn = instruction & kBlinkOnBit;
        StartBusy(kInstructionMicros, "display control");
    } else if (instruction & kEntryModeSet) {
        state_.increment = instruction & kEntryIncrementBit;
        state_.shiftDisplay = instruction & kEntryShiftBit;
        StartBusy(kInstructionMicros, "entry mode set");
    } else if (instruction & kReturnHome) {
        state_.target = AddressTarget::Ddram;
        state_.addressCounter = 0;
        state_.displayShift = 0;
        StartBusy(kClearOrHomeMicros, "return home");
    } else if (instruction & kClearDisplay) {
        state_.ddram.fill(kBlankCode);
        state_.target = AddressTarget::Ddram;
        state_.addressCounter = 0;
        state_.displayShift = 0;
        state_.increment = true;  // the entry mode's S stays as it was
        StartBusy(kClearOrHomeMicros, "clear display");
    }
    // 0x00 is no instruction: the controller takes it and does nothing.
}
