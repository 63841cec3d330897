#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "base/VirtualClock.h"
#include "io/PortIo.h"
#include "port/LineState.h"
#include "port/LineView.h"

// One thing the tool did, in the order it did it: a port write, a requested sleep
// (in milliseconds or in microseconds), or a read of a line box.
struct BusEvent {
    enum Kind { Write, Sleep, Fetch, MicroSleep };
    Kind kind;
    std::uint32_t where;  // Write: the I/O address; Fetch: the line box; else 0
    std::uint32_t value;  // Write: the byte; Sleep: milliseconds; MicroSleep: microseconds
    bool operator==(const BusEvent&) const = default;

    static BusEvent WriteOf(std::uint32_t address, std::uint8_t byte) {
        return {Write, address, byte};
    }
    static BusEvent FetchOf(int box) { return {Fetch, static_cast<std::uint32_t>(box), 0}; }
};

inline std::ostream& operator<<(std::ostream& os, const BusEvent& e) {
    const char* kinds[] = {"write", "sleep", "read box", "sleep us"};
    return os << kinds[e.kind] << " 0x" << std::hex << e.where << " 0x" << e.value << std::dec;
}

// `parts` one after another, `between` each two.
inline std::string Joined(const std::vector<std::string>& parts, const char* between) {
    std::string all;
    for (const std::string& p : parts) all += (all.empty() ? "" : between) + p;
    return all;
}

// Every problem `io` told so far, one a line.
inline std::string Told(const PortIo& io) {
    return Joined(io.Log().Problems(), "\n");
}

inline constexpr std::uint32_t kDataRegister = 0x378;
inline constexpr std::uint32_t kControlRegister = 0x37A;

// Port writes and requested sleeps on one virtual time line, from a port I/O of
// its own on a fresh simulated port (installed for the register functions) and
// the line state at its load values: the clock handed to the tool (a virtual
// clock that also lists each sleep among the writes) and an observer of the
// port.
class BusTimeline final : public Clock, public PortObserver {
public:
    PortIo io;

    BusTimeline() {
        g_lines = LineState{};
        io.AddObserver(this);
    }
    ~BusTimeline() override { io.RemoveObserver(this); }
    BusTimeline(const BusTimeline&) = delete;
    BusTimeline& operator=(const BusTimeline&) = delete;

    std::uint64_t NowMicros() const override { return clock_.NowMicros(); }
    void SleepMillis(std::uint32_t ms) override {
        events.push_back({BusEvent::Sleep, 0, ms});
        clock_.SleepMillis(ms);
    }
    void SleepMicros(std::uint64_t us) override {
        events.push_back({BusEvent::MicroSleep, 0, static_cast<std::uint32_t>(us)});
        clock_.SleepMicros(us);
    }
    void AdvanceMicros(std::uint64_t us) { clock_.AdvanceMicros(us); }
    void OnPortWrite(std::uint32_t address, std::uint8_t value) override {
        events.push_back(BusEvent::WriteOf(address, value));
    }

    std::vector<BusEvent> Writes() const {
        std::vector<BusEvent> writes;
        for (const BusEvent& e : events)
            if (e.kind == BusEvent::Write) writes.push_back(e);
        return writes;
    }
    std::size_t WriteCount() const { return Writes().size(); }
    // Every sleep since the timeline began, whatever was cleared from `events`.
    std::uint64_t SleptMillis() const { return clock_.TotalSleptMicros() / kMicrosPerMilli; }

    std::vector<BusEvent> events;

private:
    ScopedPortIo installed_{io};
    VirtualClock clock_;
};

// The events a driver is expected to produce, built from the bus rules themselves
// and kept independent of the driver it checks: every line change is one write,
// RS then RW at the start of a cycle, data set-up and enable pulse of 1 ms each,
// the control register receiving the flags XOR 0x03, any controller but 0 on E1.
class ExpectedBus {
public:
    explicit ExpectedBus(std::uint8_t controlFlags = 0) : flags_(controlFlags) {}

    // One instruction (rs false) or data byte to controller c.
    void Cycle(bool rs, bool fourBit, std::uint8_t v, std::uint8_t c) {
        Transfers(rs, fourBit ? Nibbles(v) : Bytes{v}, c);
    }
    void Sleep(std::uint32_t ms) { events.push_back({BusEvent::Sleep, 0, ms}); }
    void Fetch(int box) { events.push_back(BusEvent::FetchOf(box)); }

    // The bring-up of one controller, each instruction after its wait. On the 4-bit
    // bus the three 0x30 and the 0x20 go as single 8-bit transfers, the rest as
    // nibble pairs, and the 0x28 follows the 0x20 without a wait.
    void Init(bool fourBit, std::uint8_t c) {
        const std::uint32_t waits[] = {40, 5, 125, 1};
        for (int k = 0; k < 4; ++k) {
            Sleep(waits[k]);
            Cycle(false, false, fourBit ? (k < 3 ? 0x30 : 0x20) : 0x38, c);
        }
        if (fourBit) Cycle(false, true, 0x28, c);
        for (const std::uint8_t instruction : {0x08, 0x01, 0x06, 0x0F, 0x01}) {
            Sleep(2);
            Cycle(false, fourBit, instruction, c);
        }
    }

    // Data latch to 0 and written, then control flags to 0 and written: the
    // oracle's own copy of the line panel's ReturnToRest.
    void RestAll() {
        events.push_back(BusEvent::WriteOf(kDataRegister, 0));
        flags_ = 0;
        events.push_back(BusEvent::WriteOf(kControlRegister, flags_ ^ 0x03));
    }

    std::vector<BusEvent> events;

private:
    using Bytes = std::vector<std::uint8_t>;

    static Bytes Nibbles(std::uint8_t v) {
        return {static_cast<std::uint8_t>(v & 0xF0), static_cast<std::uint8_t>((v << 4) & 0xF0)};
    }
    void SetControl(std::uint8_t mask, bool high) {
        flags_ = high ? (flags_ | mask) : (flags_ & ~mask);
        events.push_back(BusEvent::WriteOf(kControlRegister, flags_ ^ 0x03));
    }
    void Transfers(bool rs, const Bytes& transfers, std::uint8_t c) {
        const std::uint8_t enable = c != 0 ? kLineE1 : kLineE0;
        SetControl(kLineRS, rs);
        SetControl(kLineRW, false);
        for (std::uint8_t t : transfers) {
            events.push_back(BusEvent::WriteOf(kDataRegister, t));
            Sleep(1);
            SetControl(enable, true);
            Sleep(1);
            SetControl(enable, false);
        }
    }

    std::uint8_t flags_;
};

// A line view that keeps only the last check of each button.
class RecordingLineView final : public LineView {
public:
    void SetLineCheck(int id, bool checked) override { checks[id] = checked; }
    void ShowReadouts(const Readouts&) override {}
    int PortSelection() const override { return selection; }

    std::map<int, bool> checks;
    int selection = 0;  // the Port list's
};
