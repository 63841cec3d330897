#pragma once

#include <cstdint>
#include <vector>

#include "platform/PortIo.h"
#include "port/LineState.h"

// One port write as the tests see it.
struct PortWrite {
    std::uint32_t address;
    std::uint8_t value;
    bool operator==(const PortWrite&) const = default;
};

// Records every port write while it lives, on a fresh simulated port with the
// line state back at load values.
class PortRecorder final : public PortObserver {
public:
    PortRecorder() {
        PortIo::Instance().Reset();
        g_lines = LineState{};
        PortIo::Instance().AddObserver(this);
    }
    ~PortRecorder() override { PortIo::Instance().RemoveObserver(this); }
    PortRecorder(const PortRecorder&) = delete;
    PortRecorder& operator=(const PortRecorder&) = delete;

    void OnPortWrite(std::uint32_t address, std::uint8_t value) override {
        writes.push_back({address, value});
    }
    // The values written to one address, in order.
    std::vector<std::uint8_t> ValuesAt(std::uint32_t address) const {
        std::vector<std::uint8_t> values;
        for (const PortWrite& w : writes)
            if (w.address == address) values.push_back(w.value);
        return values;
    }

    std::vector<PortWrite> writes;
};
