// Full test runs through the real dialog into the simulated module, on virtual
// time: what the module shows must be what the line boxes say, the bus rules it
// reports broken must be exactly those of the wiring, and Verify, which before
// the run has nothing to compare, must read it back as sent, never with two
// drivers on the data lines, say so in the notice line, and end at rest. The
// module hangs on the parallel port, E1 straight to pin 17 or through an
// inverter, or, as --port-map with --port-io=sim puts it, on another
// transport's wiring, where it sees only the wired lines. Then the module view
// after such a run: its dots, its status lines, and its repaints while a run
// holds the thread.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QRegion>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "afx/DialogWindow.h"
#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "lcd/LineText.h"
#include "lcd/ModuleDriver.h"
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

// What the wiring cannot carry is refused in the notice line before any write;
// a run it can carry still reaches the module.
TEST(SimulatedWiring, WhatTheWiringLacksIsRefusedInTheNoticeLine) {
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

constexpr int kDot = 3;  // pixels per dot of the renders checked here

using Glyph = std::array<std::uint8_t, kGlyphRows>;

// A character's dots as text, row after row: '#' lit, '.' unlit, '?' neither, with
// the bare glass right of each dot row and below the character.
std::string DotsShown(const QImage& image, int row, int column) {
    std::string dots;
    for (int r = 0; r <= kGlyphRows; ++r)
        for (int c = 0; c <= kCharacterDotColumns; ++c) {
            const QPoint p = DotRect(row, column, r, c, kDot).center();
            const QRgb pixel = image.valid(p) ? image.pixel(p) : 0;
            dots += pixel == kLitDotRgb ? '#' : pixel == kUnlitDotRgb ? '.' : '?';
        }
    return dots;
}

std::string DotsOf(const Glyph& glyph) {
    std::string dots;
    for (std::uint8_t row : glyph) {
        for (int c = kCharacterDotColumns - 1; c >= 0; --c) dots += (row >> c) & 1 ? '#' : '.';
        dots += '?';
    }
    return dots + std::string(kCharacterDotColumns + 1, '?');
}

// The address counter as each paint of the view found it (DDRAM only).
struct PaintSpy final : QObject {
    explicit PaintSpy(const ControllerState& state) : state(state) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        painted += static_cast<QPaintEvent*>(event)->region();
        if (state.target == AddressTarget::Ddram) addresses.insert(state.addressCounter);
        return false;
    }
    const ControllerState& state;
    std::set<int> addresses;
    QRegion painted;
};

class ModuleViewTest : public ::testing::Test, protected DialogFixtureBase {};

// 40x4, 4-bit, on the second port. The view repaints after each character of the
// run; then every row shows its line box dot for dot, the lower two from the
// second controller, with bare glass between characters and rows, and the status
// lines name the port and both controllers. A pause repaints only what changed.
// The cursor and its blink at row 1, column 5 (which rows are dark: VisibleRows),
// the blink's phase from the clock, and a timing violation by hand.
TEST_F(ModuleViewTest, DotsStatusLinesAndRepaintsAroundARun) {
    // Through an inverter, so that RS moving under a straight E1 changes no status
    // line while the repaints are measured (that wiring's lines: SimulatedRunTest).
    timeline.io.SetBackend(std::make_unique<SimulatedPort>(E1Wiring::Inverter));
    SimulatedModule module(timeline, timeline.io, 0x378);
    ModuleView view(module, timeline);
    view.show();
    QCoreApplication::processEvents();  // takes the platform's expose, after which it paints
    ASSERT_TRUE(view.windowHandle()->isExposed());
    PaintSpy spy(module.Controller(0).State());
    view.installEventFilter(&spy);
    CLcdTestDlg dlg;
    dlg.m_onPortChosen = [&](std::uint32_t base) { module.AttachToPort(base); };
    dlg.m_onSizeChosen = [&](int size) { view.SetSizeIndex(size); };
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        ChooseList(d, IDC_PORT, 1);
        ChooseList(d, IDC_SIZE, kSize40x4);
        spy.addresses.clear();
        Click(d, IDC_INIT_4BIT);
        for (int a = 1; a < 40; ++a) EXPECT_TRUE(spy.addresses.count(a)) << a;  // then it wraps
        const auto render = [&](bool blinkLit, int dots) {
            return RenderModule(module, kSize40x4, blinkLit, dots);
        };
        const auto glyph = [&](int row, int column) {
            const auto code =
                static_cast<std::uint8_t>(kSizeDemos[kSize40x4].lineText[row][column]);
            return GlyphRows(module.Controller(0).State(), code);
        };
        const QImage image = render(true, kDot);
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 40; ++column)
                EXPECT_EQ(DotsShown(image, row, column), DotsOf(glyph(row, column)))
                    << "row " << row << " column " << column;
        // The controllers' lines after a sound run: SimulatedRunTest.
        EXPECT_EQ(ModuleStatusLines(module, kSize40x4).front(),
                  "40x4 on port 0x278, E1 through an inverter");

        ModuleDriver driver(d, timeline);
        QCoreApplication::processEvents();
        spy.painted = QRegion();
        driver.WriteCommand4(0x80 | 3, 0);
        driver.WriteData4('Z', 0);
        QCoreApplication::processEvents();
        const int dots = view.DotPixels();
        const QRect cell =
            DotRect(0, 3, 0, 0, dots)
                .united(DotRect(0, 3, kGlyphRows - 1, kCharacterDotColumns - 1, dots))
                .translated(view.ModuleOffset());
        EXPECT_FALSE(spy.painted.isEmpty());
        EXPECT_TRUE(cell.contains(spy.painted.boundingRect()));
        const auto shown = [&] {
            const QImage window = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
            return window.copy(QRect(view.ModuleOffset(), render(true, dots).size()));
        };
        EXPECT_EQ(shown(), render(true, dots));

        EXPECT_FALSE(view.Blinking());
        driver.WriteCommand4(0x80 | 0x45, 0);
        driver.WriteCommand4(kDisplayOnCursorBlink, 0);
        EXPECT_TRUE(view.Blinking());
        Glyph underlined = glyph(1, 5), block;
        underlined.back() = kGlyphDotMask;
        block.fill(kGlyphDotMask);
        EXPECT_EQ(DotsShown(render(false, kDot), 1, 5), DotsOf(underlined));
        EXPECT_EQ(DotsShown(render(true, kDot), 1, 5), DotsOf(block));
        // One phase later the window shows the other render.
        const QImage lit = render(true, dots), plain = render(false, dots), before = shown();
        timeline.AdvanceMicros(kBlinkPhaseMicros);
        EXPECT_TRUE((before == lit && shown() == plain) || (before == plain && shown() == lit));
        driver.WriteCommand4(0x0E, 0);  // blink off
        EXPECT_FALSE(view.Blinking());
        EXPECT_EQ(DotsShown(render(true, kDot), 1, 5), DotsOf(underlined));

        // By hand, once that command is done and then with no time passing: a data
        // byte in two nibbles, then a nibble while the controller still writes it.
        timeline.AdvanceMicros(1000);
        d.OnRSHigh();
        for (int edge = 0; edge < 3; ++edge) {
            d.OnE0High();
            d.OnE0Low();
        }
    });
    ASSERT_EQ(module.Controller(0).TimingViolations(), 1u);
    EXPECT_EQ(
        ModuleStatusLines(module, kSize40x4).mid(1, 2),
        QStringList({"E0: 4-bit, 2 lines, timing violations: 1",
                     "    last: " + QString::fromStdString(module.Controller(0).LastViolation())}));
    // A line too long for the window wraps, and the window grows to show it whole.
    const int height = view.height();
    const QString verdict =
        "FAIL: 40x4 4-bit, 1 of 580 bytes differ, first E1 line 2 column 40 "
        "(DDRAM 0x67): expected 0x3E, read 0x3F; likely cause: D0 always "
        "reads 1: that line is stuck or open";
    view.SetVerifyResult(verdict);
    QCoreApplication::processEvents();
    EXPECT_GT(view.height(), height);
    EXPECT_EQ(view.toolTip().split('\n').back(), verdict);
}

// With the backlight off the glass is dark and its unlit dots with it, and the
// status line says so early (here a backpack's mapping with backlight=, on the
// simulated port; from a backpack's pin: SimulatedI2cBusTest).
TEST(ModuleViewBacklight, DarkGlassAndItsStatus) {
    for (const bool on : {true, false}) {
        BusTimeline timeline;
        const std::string backlight = on ? "on" : "off";
        const MappedPort port =
            UsePortMap(timeline.io, std::make_shared<FakeKernel>(),
                       "0x378=/dev/i2c-1@0x27,backlight=" + backlight, PortIoMode::Sim);
        SimulatedModule module(timeline, timeline.io, 0x378);
        module.FollowMappings(port.map, nullptr);
        const QImage image = RenderModule(module, kSize16x2, true, kDot);
        const QRect dot = DotRect(0, 0, 0, 0, kDot);
        EXPECT_EQ(image.pixel(dot.center()), on ? kUnlitDotRgb : kDarkUnlitDotRgb);
        EXPECT_EQ(image.pixel(dot.topLeft() - QPoint(kDot, kDot)), on ? kGlassRgb : kDarkGlassRgb);
        EXPECT_EQ(ModuleStatusLines(module, kSize16x2).front(),
                  QString::fromStdString("16x2 on port 0x378, backlight " + backlight +
                                         ", RS=P0, RW=P1, E0=P2, backlight P3 " + backlight +
                                         ", D4..D7=P4..P7; 4-bit only, no E1"));
    }
}

}  // namespace
