// The module view after a real run through the dialog, on virtual time: its dots,
// its status lines, and its repaints while a run holds the thread.

#include <gtest/gtest.h>

#include <QPaintEvent>
#include <QRegion>
#include <memory>
#include <set>

#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "res/Resource.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"
#include "support/FakeKernel.h"
#include "support/MappedPort.h"
#include "ui/LcdTestDlg.h"

namespace {

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
