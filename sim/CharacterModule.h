#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "base/Clock.h"
#include "sim/LcdController.h"

// One transfer as a controller latched it on the falling edge of its enable line.
struct BusTransfer {
    int controller;    // 0 on E0, 1 on E1
    bool rs;           // data register when true, instruction register otherwise
    bool read;         // RW was high
    std::uint8_t bus;  // D7..D0 as they stood at the edge
};

// What reaches the module's pins from outside, whatever it hangs on.
struct ModulePins {
    std::uint8_t control = 0;  // kLineE0 | kLineRW | kLineRS | kLineE1 at the pins
    std::uint8_t data = 0xFF;  // D0..D7 as driven from outside; undriven ones high (pull-ups)
    std::uint8_t driven = 0;   // the data lines something outside drives
    bool operator==(const ModulePins&) const = default;
};

// A character module at its pins: two controllers sharing RS, RW and D0..D7,
// controller 0 clocked by E0 and controller 1 by E1 (a one-controller module has
// nothing on E1). Fed the levels its pins see, it latches on each enable's fall,
// and while RW and a controller's enable are high that controller drives the
// data lines (D3..D0 left to the pull-ups on the 4-bit bus).
//
// Besides the controllers' busy times it checks the bus rules, per controller:
// RS and RW stay put from its enable's rise to its fall, and nothing else drives
// the data lines it drives (whatever feeds the pins, or the other controller).
class CharacterModule {
public:
    static constexpr int kControllers = 2;

    // Powers both controllers on now. `outside` names what feeds the pins in
    // the rules' messages ("the port").
    explicit CharacterModule(Clock& clock, std::string outside = "the port");
    CharacterModule(const CharacterModule&) = delete;
    CharacterModule& operator=(const CharacterModule&) = delete;

    // Controller 0, or controller 1 for any other number (as E1 serves every
    // controller number but 0).
    const LcdController& Controller(int number) const { return controllers_[number == 0 ? 0 : 1]; }

    // 2 (from construction): a 40x4's two controllers; 1: a module with one,
    // whose E1 pin is not there. Changes no level and makes no edge.
    void SetControllerCount(int count) {
        controllerCount_ = count < kControllers ? 1 : kControllers;
    }

    // New levels at the pins: latches where an enable fell and checks the rules.
    void Take(const ModulePins& pins);
    // New levels with no edge and no check (the cable moved, the wiring changed).
    void Place(const ModulePins& pins) { pins_ = pins; }
    const ModulePins& Pins() const { return pins_; }

    // The data lines the controllers drive now, and what they put there (1 on
    // the lines they leave alone).
    std::uint8_t Drives() const;
    std::uint8_t Output() const;

    // Called after every latched transfer, reads included, so a view can repaint at once.
    using ChangeListener = std::function<void(const BusTransfer&)>;
    void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }
    // Called after a change that broke a bus rule but latched nothing.
    void SetViolationListener(std::function<void()> listener) {
        violationListener_ = std::move(listener);
    }

private:
    // The control lines the controllers see: no E1 on a module with one.
    std::uint8_t Control(const ModulePins& pins) const;
    // The data lines each controller drives under `control` (none while RW or
    // its enable is low).
    std::array<std::uint8_t, kControllers> DrivenBy(std::uint8_t control) const;
    std::uint64_t BusViolations() const;
    void CheckControl(std::uint8_t before, std::uint8_t after);
    void CheckDrivers(const std::array<std::uint8_t, kControllers>& drivenBefore,
                      std::uint8_t outsideBefore);

    std::array<LcdController, kControllers> controllers_;
    std::string outside_;
    ModulePins pins_;
    int controllerCount_ = kControllers;
    ChangeListener listener_;
    std::function<void()> violationListener_;
};
