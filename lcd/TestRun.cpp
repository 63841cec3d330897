#include "lcd/TestRun.h"

#include <string_view>
#include <vector>

#include "base/HexText.h"
#include "io/PortIo.h"
#include "lcd/Geometry.h"
#include "lcd/LineText.h"
#include "port/LineState.h"
#include "res/Resource.h"
#include "res/Strings.h"

// clang-format off
const std::uint8_t kGlyphTable[64] = {
    0x00, 0x08, 0x0C, 0x0E, 0x0F, 0x0E, 0x0C, 0x08,  // 0: solid triangle pointing right
    0x00, 0x01, 0x03, 0x07, 0x0F, 0x07, 0x03, 0x01,  // 1: solid triangle pointing left
    0x00, 0x04, 0x04, 0x0E, 0x0E, 0x1F, 0x1F, 0x00,  // 2: solid triangle pointing up
    0x00, 0x1F, 0x1F, 0x0E, 0x0E, 0x04, 0x04, 0x00,  // 3: solid triangle pointing down
    0x00, 0x00, 0x0E, 0x1F, 0x1F, 0x1F, 0x0E, 0x00,  // 4: solid disc
    0x04, 0x0A, 0x04, 0x07, 0x04, 0x06, 0x01, 0x01,  // 5: small ring over a stem with strokes
    0x04, 0x0A, 0x04, 0x11, 0x0E, 0x04, 0x0A, 0x11,  // 6: stick figure, arms raised
    0x15, 0x0A, 0x15, 0x0A, 0x15, 0x0A, 0x15, 0x0A,  // 7: checkerboard of single dots
};
// clang-format on

namespace {

// The encoded text of display line n. The second line of a "16x1" module is the
// right half of its one line: line box 1 from its 9th typed character on.
std::vector<std::uint8_t> EncodedLine(const TestRunSource& source, int sizeIndex, unsigned n,
                                      unsigned columns) {
    if (sizeIndex == kSize16x1 && n == 1) {
        const std::string box1 = source.LineBoxText(IDC_LINE1);
        return EncodeLineText(SecondHalfText(box1), columns);
    }
    return EncodeLineText(source.LineBoxText(kLineBoxes[n]), columns);
}

}  // namespace

std::optional<RunChoice> ParseRunChoice(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view bits = text.substr(colon + 1);
    if (bits != "8" && bits != "4") return std::nullopt;
    for (int size = 0; size < kModuleSizeCount; ++size)
        if (text.substr(0, colon) == kSizeNames[size])
            return RunChoice{size, bits == "8" ? BusWidth::Eight : BusWidth::Four};
    return std::nullopt;
}

std::string RunName(int sizeIndex, BusWidth width) {
    return std::string(kSizeNames[sizeIndex]) + (width == BusWidth::Eight ? " 8-bit" : " 4-bit");
}

std::string RunRefusal(std::uint32_t base, int sizeIndex, BusWidth width) {
    if (const std::string& lost = ThePortIo().LostMessage(base); !lost.empty()) return lost;
    const PortWiring wiring = ThePortIo().Wiring(base);
    const std::string has =
        "the wiring of " + HexAddress(base) + (wiring.text.empty() ? "" : " (" + wiring.text + ")");
    const LineSet always = ControlLines(kLineE0 | kLineRS) | DataLines(kHighDataNibble);
    if (!wiring.Wires(always))
        return "no test run can go through " + has + ": it lacks " +
               LineSetNames(always & ~wiring.wired) + ", which every run needs";
    if (width == BusWidth::Eight && !wiring.Wires(DataLines(kLowDataNibble)))
        return "Init 8-bit needs D0..D3, which " + has + " lacks: use Init 4-bit";
    if (kModuleGeometry[sizeIndex].controllerCount > 1 && !wiring.Wires(ControlLines(kLineE1)))
        return std::string(kSizeNames[sizeIndex]) + " needs E1 for its second controller, which " +
               has + " lacks: wire E1, or test a size with one controller";
    return "";
}

TestRunRecord RunDisplayTest(ModuleDriver& driver, LinePanel& panel, Clock& clock, BusWidth width,
                             const TestRunSource& source) {
    TestRunRecord record;
    const int sizeIndex = source.SizeSelection();
    if (!IsModuleSizeIndex(sizeIndex)) return record;
    record.refusal = RunRefusal(g_lines.portBase, sizeIndex, width);
    if (!record.refusal.empty()) {
        ThePortIo().Log().Refuse(record.refusal);
        return record;
    }
    record.sizeIndex = sizeIndex;
    record.width = width;
    const ModuleGeometry& geometry = kModuleGeometry[sizeIndex];

    // Once the port's device is gone the run does nothing more.
    const std::string& lost = ThePortIo().LostMessage(g_lines.portBase);
    const auto command = [&](std::uint8_t value, std::uint8_t controller) {
        if (!lost.empty()) return;
        clock.SleepMillis(kCycleGapMs);
        driver.WriteCommand(width, value, controller);
    };
    const auto data = [&](std::uint8_t value, std::uint8_t controller) {
        if (!lost.empty()) return;
        clock.SleepMillis(kCycleGapMs);
        driver.WriteData(width, value, controller);
    };

    for (std::uint8_t c = 0; c < geometry.controllerCount && lost.empty(); ++c) {
        driver.InitController(width, c);
        for (std::uint8_t l = 0; l < geometry.linesPerController && lost.empty(); ++l) {
            command(geometry.lineAddress[l], c);
            const unsigned n = l + c * geometry.linesPerController;
            SentLine sent{c, static_cast<std::uint8_t>(geometry.lineAddress[l] & ~kSetDdramAddress),
                          EncodedLine(source, sizeIndex, n, geometry.columns)};
            for (const std::uint8_t byte : sent.bytes) data(byte, c);
            record.lines.push_back(std::move(sent));
        }
        command(kDisplayOnCursorOff, c);
        command(kSetCgramAddress0, c);
        for (const std::uint8_t row : kGlyphTable) data(row, c);
    }

    if (!lost.empty()) {
        record.stopped = lost;
        return record;
    }
    panel.ReturnToRest();
    return record;
}
