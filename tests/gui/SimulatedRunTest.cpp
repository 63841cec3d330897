// Full test runs through the real dialog into the simulated module, on virtual
// time, with E1 straight to pin 17 and through an inverter: what the module
// shows must be what the line boxes say, the bus rules it reports broken must be
// exactly those of the wiring, and Verify must read it back as sent, never with
// two drivers on the data lines.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "lcd/LineText.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "res/Resource.h"
#include "res/Strings.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"
#include "ui/LcdTestDlg.h"

namespace {

// Escapes, custom characters and a literal backslash ahead of each demo text.
std::string TypedText(int size, int line) {
    return std::string("\\001\\\\x\\255") + kSizeDemos[size].lineText[line];
}

// Picks the size and types every line box.
void ChooseAndType(CLcdTestDlg& d, int size) {
    ChooseList(d, IDC_SIZE, size);
    for (int n = 0; n < 4; ++n)
        qobject_cast<QLineEdit*>(d.ControlWidget(IDC_LINE1 + n))
            ->setText(QString::fromLatin1(TypedText(size, n)));
}

// Row by row what the glass shows must be the boxes' texts: the module's own row
// layout is independent of the driver's line addresses, so a wrong address shows.
void ExpectModuleShows(const SimulatedModule& module, int size) {
    const ModuleGeometry& g = kModuleGeometry[size];
    std::vector<std::vector<std::uint8_t>> lines;
    for (int n = 0; n < g.linesPerController * g.controllerCount; ++n) {
        const std::string text = TypedText(size, size == kSize16x1 ? 0 : n);
        const bool rightHalf = size == kSize16x1 && n == 1;
        lines.push_back(EncodeLineText(rightHalf ? SecondHalfText(text) : text, g.columns));
    }
    if (size == kSize16x1) {  // one physical row of two halves
        lines[0].insert(lines[0].end(), lines[1].begin(), lines[1].end());
        lines.pop_back();
    }
    const auto rows = VisibleRows(size, module.Controller(0).State(), module.Controller(1).State());
    ASSERT_EQ(rows.size(), lines.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::vector<std::uint8_t> shown;
        for (const auto& code : rows[r].codes) shown.push_back(code.value_or(0xFF));
        EXPECT_EQ(shown, lines[r]) << "row " << r;
    }
    for (int c = 0; c < g.controllerCount; ++c) {
        const ControllerState& s = module.Controller(c).State();
        EXPECT_TRUE(s.displayOn && !s.cursorOn && !s.blinkOn);
        EXPECT_TRUE(std::equal(s.cgram.begin(), s.cgram.end(), std::begin(kGlyphTable)));
    }
}

// Judged at the module's pins: the port's data lines are inputs whenever a
// controller may drive (RW and its enable high), and the two controllers never
// drive at once. A straight E1 is the inverse of the dialog's; a module with one
// controller has nothing on it. Everything ends at rest.
void ExpectOneDriver(const std::vector<BusEvent>& writes, bool straightE1, bool secondController) {
    const std::uint32_t control = kPortBases[0] + kControlRegisterOffset;
    for (const BusEvent& w : writes) {
        if (w.where != control) continue;
        const auto flags = static_cast<std::uint8_t>(w.value ^ kControlInvertMask);
        const bool e1 = secondController && (((flags & kLineE1) != 0) != straightE1);
        const bool rw = flags & kLineRW;
        EXPECT_TRUE(!rw || !((flags & kLineE0) || e1) || (flags & kDataLinesInput)) << int(w.value);
        EXPECT_FALSE(rw && (flags & kLineE0) && e1) << int(w.value);
    }
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2], BusEvent::WriteOf(kPortBases[0], 0));
    EXPECT_EQ(writes.back(), BusEvent::WriteOf(control, ControlRegisterByte(0)));
}

// Every violation either controller reports, in order, as "E1: RS rose while
// E1 was high": the module's last description after each write that added one.
struct ViolationLog final : PortObserver {
    explicit ViolationLog(const SimulatedModule& module) : module(module) {
        PortIo::Instance().AddObserver(this);  // after the module, so it hears first
    }
    ~ViolationLog() override { PortIo::Instance().RemoveObserver(this); }
    void OnPortWrite(std::uint32_t, std::uint8_t) override {
        for (int c = 0; c < SimulatedModule::kControllers; ++c) {
            std::uint64_t total = 0;
            for (int kind = 0; kind < kViolationKinds; ++kind)
                total += module.Controller(c).Violations(static_cast<Violation>(kind));
            for (; seen[c] < total; ++seen[c])
                lines.push_back("E" + std::to_string(c) + ": " +
                                module.Controller(c).LastViolation());
        }
    }
    const SimulatedModule& module;
    std::uint64_t seen[SimulatedModule::kControllers] = {};
    std::vector<std::string> lines;
};

// What a 40x4 with E1 straight to pin 17 reports: the second enable rests high,
// so RS moves under it at every switch between instructions and data (twelve
// times, at either width); Verify adds RW rising once, as it ends that resting
// pulse with a busy-flag read. Nothing else: no busy time, no two drivers.
std::vector<std::string> StraightE1Violations(bool verified) {
    std::vector<std::string> lines;
    for (int n = 0; n < 6; ++n) {
        lines.push_back("E1: RS rose while E1 was high");
        lines.push_back("E1: RS fell while E1 was high");
    }
    if (verified) lines.push_back("E1: RW rose while E1 was high");
    return lines;
}

using RunParam = std::tuple<int, BusWidth, E1Wiring>;

class SimulatedRunTest : public ::testing::TestWithParam<RunParam>, protected DialogFixtureBase {};

TEST_P(SimulatedRunTest, ModuleShowsTheLineBoxesAndVerifyReadsThemBack) {
    // Plain names, not a structured binding: clang 14 cannot capture those.
    const int size = std::get<0>(GetParam());
    const BusWidth width = std::get<1>(GetParam());
    const bool straight = std::get<2>(GetParam()) == E1Wiring::Straight;
    const ModuleGeometry& g = kModuleGeometry[size];
    PortIo::Instance().SetBackend(std::make_unique<SimulatedPort>(std::get<2>(GetParam())));
    SimulatedModule module(timeline, 0x378);
    module.SetControllerCount(g.controllerCount);
    ViolationLog log(module);
    const bool straight40x4 = straight && g.controllerCount > 1;
    CLcdTestDlg dlg;
    std::optional<VerifyResult> verified;
    dlg.m_onVerified = [&](const VerifyResult& r) { verified = r; };
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        ChooseAndType(d, size);
        Click(d, width == BusWidth::Eight ? IDC_INIT_8BIT : IDC_INIT_4BIT);
        EXPECT_EQ(log.lines,
                  straight40x4 ? StraightE1Violations(false) : std::vector<std::string>{});
        const std::size_t runWrites = timeline.WriteCount();
        d.SendMessage(WM_SYSCOMMAND, IDM_VERIFY);
        const std::vector<BusEvent> writes = timeline.Writes();
        ExpectOneDriver({writes.begin() + static_cast<std::ptrdiff_t>(runWrites), writes.end()},
                        straight, g.controllerCount > 1);
        ExpectModuleShows(module, size);
    });
    EXPECT_EQ(log.lines, straight40x4 ? StraightE1Violations(true) : std::vector<std::string>{});
    // Under the glass: the wiring beside the port, and the second controller's
    // bus-rule counts with the last breach once there was one.
    QStringList status{QString(kSizeNames[size]) + " on port 0x378, " +
                       (straight ? "E1 straight to pin 17" : "E1 through an inverter")};
    for (int c = 0; c < g.controllerCount; ++c)
        status << QString("E%1: %2-bit, 2 lines, timing violations: 0")
                      .arg(c)
                      .arg(width == BusWidth::Eight ? 8 : 4);
    if (straight40x4) status.back() += ", RS/RW changes while enabled: 13, two drivers: 0";
    if (straight40x4) status << "    last: RW rose while E1 was high";
    EXPECT_EQ(ModuleStatusLines(module, size), status);
    ASSERT_TRUE(verified);
    EXPECT_EQ(verified->outcome, VerifyResult::Outcome::Pass) << verified->Summary();
    const std::size_t lines = g.controllerCount * g.linesPerController;
    EXPECT_EQ(verified->compared,
              g.controllerCount * (1u + sizeof kGlyphTable) + lines * g.columns);
}

INSTANTIATE_TEST_SUITE_P(
    EverySizeBothWidthsBothE1Wirings, SimulatedRunTest,
    ::testing::Combine(::testing::Range(0, kModuleSizeCount),
                       ::testing::Values(BusWidth::Eight, BusWidth::Four),
                       ::testing::Values(E1Wiring::Straight, E1Wiring::Inverter)),
    [](const auto& info) {
        return std::string(kSizeNames[std::get<0>(info.param)]) +
               (std::get<1>(info.param) == BusWidth::Eight ? "_8bit" : "_4bit") +
               (std::get<2>(info.param) == E1Wiring::Straight ? "_straight" : "_inverter");
    });

}  // namespace
