// Full test runs through the real dialog into the simulated module, on virtual
// time: what the module shows must be what the line boxes say, the bus rules it
// reports broken must be exactly those of the wiring, and Verify, which before
// the run has nothing to compare, must read it back as sent, never with two
// drivers on the data lines, say so in the notice line, and end at rest. The
// module hangs on the parallel port, E1 straight to pin 17 or through an
// inverter, or, as --port-map with --port-io=sim puts it, on another
// transport's wiring, where it sees only the wired lines.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "afx/DialogWindow.h"
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
#include "support/FakeKernel.h"
#include "support/MappedPort.h"
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
    const auto rows = VisibleRows(size, module.Controller(0).State(), module.Controller(1).State());
    ASSERT_EQ(rows.size(), size == kSize16x1 ? 1u : g.linesPerController * g.controllerCount);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::string text = TypedText(size, static_cast<int>(r));
        std::vector<std::uint8_t> line = EncodeLineText(text, g.columns), shown;
        if (size == kSize16x1) {  // one physical row of two halves
            const auto right = EncodeLineText(SecondHalfText(text), g.columns);
            line.insert(line.end(), right.begin(), right.end());
        }
        for (const auto& code : rows[r].codes) shown.push_back(code.value_or(0xFF));
        EXPECT_EQ(shown, line) << "row " << r;
    }
    // The run ends with the display on, no cursor (its glyphs: Verify's PASS).
    for (int c = 0; c < g.controllerCount; ++c) {
        const ControllerState& s = module.Controller(c).State();
        EXPECT_TRUE(s.displayOn && !s.cursorOn && !s.blinkOn);
    }
}

// Hangs the simulated module's port 0x378 on the wiring of `mapping` (a
// --port-map value, "" for the parallel port) as --port-io=sim does, with E1
// on pin 17 as `e1` says; nothing is opened for it.
void UseSimulatedWiring(PortIo& io, const std::string& mapping, E1Wiring e1 = kDefaultE1Wiring) {
    auto kernel = std::make_shared<FakeKernel>();
    UsePortMap(io, kernel, mapping, PortIoMode::Sim, e1);
    EXPECT_EQ(kernel->opened, std::vector<std::string>{});
    ASSERT_TRUE(io.Simulated());
}

constexpr const char* kBackpack = "0x378=/dev/i2c-1@0x27";
// GPIO: the 4-bit wiring of a Raspberry Pi header without RW, the same with RW
// and reads made safe, and all twelve lines with E1 through an inverting buffer.
constexpr const char* kGpioFourBit = "0x378=/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18";
constexpr const char* kGpioFourBitReads =
    "0x378=/dev/gpiochip0:RS=7,RW=22,E0=8,D4=25,D5=24,D6=23,D7=18,reads=safe";
constexpr const char* kGpioAllLines =
    "0x378=/dev/gpiochip0:RS=7,RW=22,E0=8,E1=27,D0=5,D1=6,D2=13,D3=19,D4=25,D5=24,D6=23,D7=18,"
    "invert=E1,reads=safe";

// A size, a bus width, a --port-map value ("" for the parallel port), and how
// E1 hangs on pin 17 of the parallel port.
class SimulatedRunTest
    : public ::testing::TestWithParam<std::tuple<int, BusWidth, const char*, E1Wiring>>,
      protected DialogFixtureBase {};

TEST_P(SimulatedRunTest, ModuleShowsTheLineBoxesAndVerifyReadsThemBack) {
    // Plain names, not a structured binding: clang 14 cannot capture those.
    const int size = std::get<0>(GetParam());
    const BusWidth width = std::get<1>(GetParam());
    const std::string mapping = std::get<2>(GetParam());
    UseSimulatedWiring(timeline.io, mapping, std::get<3>(GetParam()));
    const ModuleGeometry& g = kModuleGeometry[size];
    const bool straight = mapping.empty() && std::get<3>(GetParam()) == E1Wiring::Straight;
    SimulatedModule module(timeline, timeline.io, 0x378);
    module.SetControllerCount(g.controllerCount);
    CLcdTestDlg dlg;
    std::optional<VerifyResult> verified;
    dlg.m_onVerified = [&](const VerifyResult& r) { verified = r; };
    std::string notice;  // once Verify has read the run back
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        ChooseAndType(d, size);
        // Before a run Verify has nothing to compare and reads nothing.
        const std::size_t atStart = timeline.WriteCount();
        d.SendMessage(WM_SYSCOMMAND, IDM_VERIFY);
        EXPECT_EQ(d.Window()->Notice()->text().toStdString(),
                  "Verify: nothing to compare; run Init 8-bit or Init 4-bit first");
        EXPECT_EQ(timeline.WriteCount(), atStart);
        Click(d, width == BusWidth::Eight ? IDC_INIT_8BIT : IDC_INIT_4BIT);
        d.SendMessage(WM_SYSCOMMAND, IDM_VERIFY);
        notice = d.Window()->Notice()->text().toStdString();
        const std::vector<BusEvent> writes = timeline.Writes();  // Verify ends at rest
        EXPECT_EQ(std::vector(writes.end() - 2, writes.end()),
                  (std::vector{BusEvent::WriteOf(0x378, 0), BusEvent::WriteOf(0x37A, 3)}));
        ExpectModuleShows(module, size);
    });
    // Under the glass: the wiring beside the port, and the bus rules broken. Only
    // a straight E1 on a 40x4 breaks any: the second enable rests high, so RS moves
    // under it at each of the run's twelve switches between instructions and data,
    // and Verify raises RW once as it ends that resting pulse with a busy read.
    const std::string how = !mapping.empty() ? timeline.io.Wiring(0x378).text
                            : straight       ? "E1 straight to pin 17"
                                             : "E1 through an inverter";
    QStringList status{QString(kSizeNames[size]) + " on port 0x378, " +
                       QString::fromStdString(how)};
    for (int c = 0; c < g.controllerCount; ++c)
        status << QString("E%1: %2-bit, 2 lines, timing violations: 0")
                      .arg(c)
                      .arg(width == BusWidth::Eight ? 8 : 4);
    if (straight && g.controllerCount > 1) {
        status.back() += ", RS/RW changes while enabled: 13, two drivers: 0";
        status << "    last: RW rose while E1 was high";
    }
    EXPECT_EQ(ModuleStatusLines(module, size), status);
    ASSERT_TRUE(verified);
    EXPECT_EQ(verified->outcome, VerifyResult::Outcome::Pass) << verified->Summary();
    EXPECT_EQ(notice, verified->Summary());
    // Per controller its busy flag and address, its glyphs, and its lines.
    EXPECT_EQ(verified->compared,
              g.controllerCount * (1u + sizeof kGlyphTable + g.linesPerController * g.columns));
}

std::string RunTestName(const ::testing::TestParamInfo<SimulatedRunTest::ParamType>& info) {
    const std::string mapping = std::get<2>(info.param);
    const bool straight = std::get<3>(info.param) == E1Wiring::Straight;
    return std::string(kSizeNames[std::get<0>(info.param)]) +
           (std::get<1>(info.param) == BusWidth::Eight ? "_8bit" : "_4bit") +
           (!mapping.empty() ? "_" + std::string(TransportNamed(mapping.substr(6)).kind->name)
            : straight       ? "_straight"
                             : "_inverter");
}

INSTANTIATE_TEST_SUITE_P(
    EverySizeBothWidthsBothE1Wirings, SimulatedRunTest,
    ::testing::Combine(::testing::Range(0, kModuleSizeCount),
                       ::testing::Values(BusWidth::Eight, BusWidth::Four), ::testing::Values(""),
                       ::testing::Values(E1Wiring::Straight, E1Wiring::Inverter)),
    RunTestName);

// The common backpack: one controller on the 4-bit bus, no D0..D3; GPIO wirings:
// the 4-bit bus on one controller, and every line on both.
INSTANTIATE_TEST_SUITE_P(
    OtherTransports, SimulatedRunTest,
    ::testing::Values(std::tuple{kSize16x2, BusWidth::Four, kBackpack, kDefaultE1Wiring},
                      std::tuple{kSize20x4, BusWidth::Four, kBackpack, kDefaultE1Wiring},
                      std::tuple{kSize16x2, BusWidth::Four, kGpioFourBitReads, kDefaultE1Wiring},
                      std::tuple{kSize20x4, BusWidth::Four, kGpioFourBitReads, kDefaultE1Wiring},
                      std::tuple{kSize40x4, BusWidth::Eight, kGpioAllLines, kDefaultE1Wiring},
                      std::tuple{kSize40x4, BusWidth::Four, kGpioAllLines, kDefaultE1Wiring}),
    RunTestName);

class SimulatedWiringTest : public ::testing::Test, protected DialogFixtureBase {};

// What the wiring cannot carry is refused in the notice line before any write;
// a run it can carry still reaches the module.
TEST_F(SimulatedWiringTest, WhatTheWiringLacksIsRefusedInTheNoticeLine) {
    struct Case {
        const char* mapping;
        bool verify;  // Verify after an "Init 4-bit", else "Init 8-bit"
        const char* notice;
    };
    const Case cases[] = {
        {kBackpack, false,
         "Init 8-bit needs D0..D3, which the wiring of 0x378 (RS=P0, RW=P1, E0=P2, backlight P3 "
         "on, D4..D7=P4..P7; 4-bit only, no E1) lacks: use Init 4-bit"},
        {kGpioFourBit, true,
         "Verify needs RW to read the module, which the wiring of 0x378 (RS=7, E0=8, D4=25, "
         "D5=24, D6=23, D7=18) lacks: wire the module's RW to the port instead of to ground"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notice);
        BusTimeline fresh;  // a port of its own for each case
        const ScopedClock useFresh(fresh);
        UseSimulatedWiring(fresh.io, c.mapping);
        SimulatedModule module(fresh, fresh.io, 0x378);
        RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
            fresh.io.Log().SetSink([&](const std::string& m) { d.ShowPlatformNotice(m); });
            ChooseAndType(d, kSize16x2);
            if (c.verify) {
                Click(d, IDC_INIT_4BIT);
                ExpectModuleShows(module, kSize16x2);
            }
            const std::size_t writes = fresh.WriteCount();
            const QLabel& notice = *d.Window()->Notice();
            const QString own = notice.text();
            const int height = d.Window()->height();
            if (c.verify)
                d.SendMessage(WM_SYSCOMMAND, IDM_VERIFY);
            else
                Click(d, IDC_INIT_8BIT);
            EXPECT_EQ(notice.text().toStdString(), c.notice);
            EXPECT_EQ(fresh.WriteCount(), writes);
            // The whole message shows, wrapped: the line and the window grow for it.
            EXPECT_GE(notice.height(), notice.heightForWidth(notice.width()));
            EXPECT_GT(d.Window()->height(), height);
            // A run that goes through takes the refusal off, and the window shrinks back.
            Click(d, IDC_INIT_4BIT);
            EXPECT_EQ(notice.text(), own);
            EXPECT_EQ(d.Window()->height(), height);
            fresh.io.Log().SetSink({});
        });
    }
}

}  // namespace
