#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/PortIo.h"
#include "port/LineState.h"
#include "port/LineView.h"

// One thing a driver did, in the order it did it: a port write, a requested sleep,
// or a read of a line box.
struct BusEvent {
    enum Kind { Write, Sleep, Fetch };
    Kind kind;
    std::uint32_t where;  // Write: the I/O address; Fetch: the line box; Sleep: 0
    std::uint32_t value;  // Write: the byte; Sleep: milliseconds; Fetch: 0
    bool operator==(const BusEvent&) const = default;

    static BusEvent WriteOf(std::uint32_t address, std::uint8_t byte) {
        return {Write, address, byte};
    }
    static BusEvent SleepOf(std::uint32_t ms) { return {Sleep, 0, ms}; }
    static BusEvent FetchOf(int box) { return {Fetch, static_cast<std::uint32_t>(box), 0}; }
};

inline std::ostream& operator<<(std::ostream& os, const BusEvent& e) {
    switch (e.kind) {
        case BusEvent::Write:
            return os << "write 0x" << std::hex << e.where << " <- 0x" << e.value << std::dec;
        case BusEvent::Sleep:
            return os << "sleep " << e.value << " ms";
        case BusEvent::Fetch:
            return os << "read box " << e.where;
    }
    return os;
}

inline constexpr std::uint32_t kDataRegister = 0x378;
inline constexpr std::uint32_t kControlRegister = 0x37A;

// Port writes and sleeps on one virtual time line: the clock handed to the driver
// and an observer of the port. Nothing sleeps for real.
class BusTimeline final : public Clock, public PortObserver {
public:
    BusTimeline() { PortIo::Instance().AddObserver(this); }
    ~BusTimeline() override { PortIo::Instance().RemoveObserver(this); }
    BusTimeline(const BusTimeline&) = delete;
    BusTimeline& operator=(const BusTimeline&) = delete;

    std::uint64_t NowMicros() const override { return nowMicros_; }
    void SleepMillis(std::uint32_t ms) override {
        nowMicros_ += std::uint64_t{ms} * 1000;
        events.push_back(BusEvent::SleepOf(ms));
    }
    void OnPortWrite(std::uint32_t address, std::uint8_t value) override {
        events.push_back(BusEvent::WriteOf(address, value));
    }

    std::size_t WriteCount() const { return Count(BusEvent::Write); }
    std::uint64_t SleptMillis() const {
        std::uint64_t total = 0;
        for (const BusEvent& e : events)
            if (e.kind == BusEvent::Sleep) total += e.value;
        return total;
    }
    std::vector<std::uint8_t> ValuesAt(std::uint32_t address) const {
        std::vector<std::uint8_t> values;
        for (const BusEvent& e : events)
            if (e.kind == BusEvent::Write && e.where == address)
                values.push_back(static_cast<std::uint8_t>(e.value));
        return values;
    }
    std::size_t Count(BusEvent::Kind kind) const {
        std::size_t n = 0;
        for (const BusEvent& e : events) n += e.kind == kind;
        return n;
    }

    std::vector<BusEvent> events;

private:
    std::uint64_t nowMicros_ = 0;
};

// The events a driver is expected to produce, built from the bus rules themselves:
// every line change is one write, RS then RW at the start of a cycle, data set-up
// and enable pulse of 1 ms each, the control register receiving the flags XOR 0x03.
class ExpectedBus {
public:
    explicit ExpectedBus(std::uint8_t controlFlags = 0, std::uint8_t dataLatch = 0)
        : flags_(controlFlags), latch_(dataLatch) {}

    void Command8(std::uint8_t v, std::uint8_t c) { Cycle(false, {v}, c); }
    void Data8(std::uint8_t v, std::uint8_t c) { Cycle(true, {v}, c); }
    void Command4(std::uint8_t v, std::uint8_t c) { Cycle(false, Nibbles(v), c); }
    void Data4(std::uint8_t v, std::uint8_t c) { Cycle(true, Nibbles(v), c); }
    void Command(bool fourBit, std::uint8_t v, std::uint8_t c) {
        fourBit ? Command4(v, c) : Command8(v, c);
    }
    void Data(bool fourBit, std::uint8_t v, std::uint8_t c) { fourBit ? Data4(v, c) : Data8(v, c); }

    void Sleep(std::uint32_t ms) { events.push_back(BusEvent::SleepOf(ms)); }
    void Fetch(int box) { events.push_back(BusEvent::FetchOf(box)); }

    // The bring-up of one controller: each instruction after its wait, if any.
    void Init8(std::uint8_t c) {
        const Step steps[] = {{40, 0x38}, {5, 0x38}, {125, 0x38}, {1, 0x38}, {2, 0x08},
                              {2, 0x01},  {2, 0x06}, {2, 0x0F},   {2, 0x01}};
        for (const Step& s : steps) {
            Sleep(s.waitMs);
            Command8(s.instruction, c);
        }
    }
    // The three 0x30 and the 0x20 go as single 8-bit transfers, the rest as nibble
    // pairs; the 0x28 follows the 0x20 without a wait.
    void Init4(std::uint8_t c) {
        const Step eightBit[] = {{40, 0x30}, {5, 0x30}, {125, 0x30}, {1, 0x20}};
        const Step fourBit[] = {{2, 0x08}, {2, 0x01}, {2, 0x06}, {2, 0x0F}, {2, 0x01}};
        for (const Step& s : eightBit) {
            Sleep(s.waitMs);
            Command8(s.instruction, c);
        }
        Command4(0x28, c);
        for (const Step& s : fourBit) {
            Sleep(s.waitMs);
            Command4(s.instruction, c);
        }
    }
    void Init(bool fourBit, std::uint8_t c) { fourBit ? Init4(c) : Init8(c); }

    // Data latch to 0 and written, then control flags to 0 and written.
    void RestAll() {
        SetData(0);
        flags_ = 0;
        events.push_back(BusEvent::WriteOf(kControlRegister, flags_ ^ 0x03));
    }

    std::vector<BusEvent> events;

private:
    struct Step {
        std::uint32_t waitMs;
        std::uint8_t instruction;
    };

    static std::vector<std::uint8_t> Nibbles(std::uint8_t v) {
        return {static_cast<std::uint8_t>(v & 0xF0), static_cast<std::uint8_t>((v << 4) & 0xF0)};
    }
    void SetControl(std::uint8_t mask, bool high) {
        flags_ = high ? (flags_ | mask) : (flags_ & ~mask);
        events.push_back(BusEvent::WriteOf(kControlRegister, flags_ ^ 0x03));
    }
    void SetData(std::uint8_t v) {
        latch_ = v;
        events.push_back(BusEvent::WriteOf(kDataRegister, v));
    }
    void Cycle(bool rs, const std::vector<std::uint8_t>& transfers, std::uint8_t c) {
        const std::uint8_t enable = c != 0 ? kLineE1 : kLineE0;
        SetControl(kLineRS, rs);
        SetControl(kLineRW, false);
        for (std::uint8_t t : transfers) {
            SetData(t);
            Sleep(1);
            SetControl(enable, true);
            Sleep(1);
            SetControl(enable, false);
        }
    }

    std::uint8_t flags_;
    std::uint8_t latch_;
};

// What a module would have latched: one entry per falling edge of an enable line,
// with the controller (0 for E0, 1 for E1), RS and the data lines at that moment.
// The events must start from the rest state (all lines low).
struct LatchedTransfer {
    int controller;
    bool rs;
    std::uint8_t data;
    bool operator==(const LatchedTransfer&) const = default;
};

inline std::vector<LatchedTransfer> DecodeTransfers(const std::vector<BusEvent>& events) {
    std::vector<LatchedTransfer> transfers;
    std::uint8_t flags = 0, latch = 0;
    for (const BusEvent& e : events) {
        if (e.kind != BusEvent::Write) continue;
        if (e.where == kDataRegister) {
            latch = static_cast<std::uint8_t>(e.value);
            continue;
        }
        const auto now = static_cast<std::uint8_t>(e.value ^ 0x03);
        const bool rs = now & kLineRS;
        if ((flags & kLineE0) && !(now & kLineE0)) transfers.push_back({0, rs, latch});
        if ((flags & kLineE1) && !(now & kLineE1)) transfers.push_back({1, rs, latch});
        flags = now;
    }
    return transfers;
}

// A line view that keeps only the last check of each button and the readouts.
class RecordingLineView final : public LineView {
public:
    void SetLineCheck(int id, bool checked) override { checks[id] = checked; }
    void ShowReadout(int id, const std::string& text) override { readouts[id] = text; }
    int PortSelection() const override { return selection; }

    std::map<int, bool> checks;
    std::map<int, std::string> readouts;
    int selection = 0;  // the Port list's
};
