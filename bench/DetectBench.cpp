#include "bench/DetectBench.h"

#include <cstdio>
#include <memory>

#include "base/VirtualClock.h"
#include "io/ProblemLog.h"
#include "lcd/Detect.h"
#include "sim/SimulatedI2cBus.h"

namespace {

constexpr double kMicrosPerMilli = 1000.0;
constexpr double kKnownGoalMillis = 1000.0;
constexpr double kSearchGoalMillis = 10000.0;

struct Backpack {
    const char* name;
    const char* setup;  // as --sim-i2c takes it
    bool known;         // a wiring the tables know, so the 1 s goal
};

// One of each kind of wiring: the tables', the search's, one that cannot be read.
constexpr Backpack kBackpacks[] = {
    {"PCF8574 common", "0x27=pcf8574", true},
    {"PCF8574 D4..D7 on P0..P3", "0x20=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P4,RW=P5,RS=P6,BL=P7",
     true},
    {"MCP23017 RGB plate", "0x21=mcp23017", true},
    {"PCF8574A other map", "0x3F=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P6,RW=P5,RS=P4,BL=P7", false},
    {"MCP23008 RW on GP0", "0x20=mcp23008:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7",
     false},
    {"PCF8574 RW to ground", "0x27=pcf8574,rw=ground", true},
};

std::string Format(const char* format, double a, double b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

bool MeasureDetection(std::vector<std::string>& lines) {
    std::printf(
        "\ndetection on the simulated I2C bus at 100 kHz, one backpack at a time (modelled time; "
        "transfers / ms per step)\n%-26s %-14s %-14s %-14s %-14s %-14s %-16s %s\n",
        "backpack", "look", "kind check", "known wirings", "search", "greeting", "total", "goal");
    bool ok = true;
    for (const Backpack& backpack : kBackpacks) {
        VirtualClock clock;
        auto bus = std::make_shared<SimulatedI2cBus>(
            MakeLinuxKernelSystem(), clock,
            [&clock](std::uint64_t micros) { clock.AdvanceMicros(micros); });
        std::string error;
        bus->Add(*ParseBackpackSetup(backpack.setup, error));
        ProblemLog log;
        const DetectReport report = DetectModules(bus, clock, log);
        const bool found = report.modules.size() == 1;
        const bool proven = found && report.modules.front().proven;
        std::size_t transfers = 0;
        std::string row;
        for (const DetectStep& step : report.steps) {
            transfers += step.transfers;
            row += Format("%5.0f / %-6.1f ", static_cast<double>(step.transfers),
                          static_cast<double>(step.micros) / kMicrosPerMilli);
        }
        const double millis = static_cast<double>(clock.NowMicros()) / kMicrosPerMilli;
        const double goal = backpack.known ? kKnownGoalMillis : kSearchGoalMillis;
        const bool met =
            millis < goal && found &&
            (proven || std::string(backpack.setup).find("rw=ground") != std::string::npos);
        ok = ok && met;
        std::printf("%-26s %s%5zu / %-8.1f under %.0f s: %s\n", backpack.name, row.c_str(),
                    transfers, millis, goal / kMicrosPerMilli, met ? "yes" : "NO");
        lines.push_back("part=detect backpack=\"" + std::string(backpack.name) + "\" transfers=" +
                        std::to_string(transfers) + Format(" ms=%.1f goal_ms=%.0f", millis, goal) +
                        " proven=" + (proven ? "yes" : "no") + " met=" + (met ? "yes" : "no"));
    }
    return ok;
}
