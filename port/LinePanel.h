#pragma once

#include <cstdint>
#include <optional>

#include "port/LineState.h"
#include "port/LineView.h"

// The High and Low button of one line.
struct LineButtons {
    int high;
    int low;
};

// Buttons of D0..D7, by bit.
extern const LineButtons kDataLineButtons[8];
// Buttons of the control lines, by bit: E0, RW, RS, E1.
extern const LineButtons kControlLineButtons[4];

// The only writers and readers of the port, and the twelve lines' High/Low
// operations. Every change follows one rule: change the data latch or the
// control flags, then refresh that register, which mirrors it into the view and
// writes the whole register byte to the port. Turning the data lines around for
// a read is a control refresh like any other.
class LinePanel {
public:
    explicit LinePanel(LineView& view) : view_(view) {}

    void RefreshDataPort();
    void RefreshControlPort();
    // Every line to rest: the data latch to 0 and its refresh, then the control
    // flags to 0 and theirs (the data lines outputs again).
    void ReturnToRest();
    // Points the line state at the port the Port list has selected; writes nothing.
    void OnCloseupPort();

    void OnE0High() { DriveControl(kLineE0, true); }
    void OnE0Low() { DriveControl(kLineE0, false); }
    void OnE1High() { DriveControl(kLineE1, true); }
    void OnE1Low() { DriveControl(kLineE1, false); }
    void OnRSHigh() { DriveControl(kLineRS, true); }
    void OnRSLow() { DriveControl(kLineRS, false); }
    void OnRWHigh() { DriveControl(kLineRW, true); }
    void OnRWLow() { DriveControl(kLineRW, false); }

    // The data lines as inputs (for a read) or outputs again: one control refresh.
    void OnDataInput() { DriveControl(kDataLinesInput, true); }
    void OnDataOutput() { DriveControl(kDataLinesInput, false); }
    // What the data lines carry now; nullopt when the port cannot be read.
    std::optional<std::uint8_t> ReadDataPort() const;

    void OnD0High() { DriveData(0x01, true); }
    void OnD0Low() { DriveData(0x01, false); }
    void OnD1High() { DriveData(0x02, true); }
    void OnD1Low() { DriveData(0x02, false); }
    void OnD2High() { DriveData(0x04, true); }
    void OnD2Low() { DriveData(0x04, false); }
    void OnD3High() { DriveData(0x08, true); }
    void OnD3Low() { DriveData(0x08, false); }
    void OnD4High() { DriveData(0x10, true); }
    void OnD4Low() { DriveData(0x10, false); }
    void OnD5High() { DriveData(0x20, true); }
    void OnD5Low() { DriveData(0x20, false); }
    void OnD6High() { DriveData(0x40, true); }
    void OnD6Low() { DriveData(0x40, false); }
    void OnD7High() { DriveData(0x80, true); }
    void OnD7Low() { DriveData(0x80, false); }

private:
    void DriveData(std::uint8_t mask, bool high);
    void DriveControl(std::uint8_t mask, bool high);

    LineView& view_;
};
