// The module view after real runs through the dialog, on virtual time: its dots,
// its status lines, and its repaints while a run holds the thread.

#include <gtest/gtest.h>

#include <QPaintEvent>
#include <QRegion>
#include <set>

#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "res/Resource.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"
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

class ModuleViewTest : public ::testing::Test, protected DialogFixtureBase {};

// 40x4 after a 4-bit run on the second port: every row shows its line box dot for
// dot, the lower two from the second controller, with bare glass between characters
// and rows, and the status lines name the port and both controllers. Then the
// cursor and its blink at row 1, column 5 (which rows are dark: VisibleRows), and
// a timing violation by hand.
TEST_F(ModuleViewTest, GlassAndStatusLinesAfterARun) {
    SimulatedModule module(timeline, 0x378);
    CLcdTestDlg dlg;
    dlg.m_onPortChosen = [&](std::uint32_t base) { module.AttachToPort(base); };
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        ChooseList(d, IDC_PORT, 1);
        ChooseList(d, IDC_SIZE, kSize40x4);
        Click(d, IDC_INIT_4BIT);
        const auto render = [&](bool blinkLit) {
            return RenderModule(module, kSize40x4, blinkLit, kDot);
        };
        const QImage image = render(true);
        const auto glyph = [&](int row, int column) {
            const auto code =
                static_cast<std::uint8_t>(kSizeDemos[kSize40x4].lineText[row][column]);
            return GlyphRows(module.Controller(0).State(), code);
        };
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 40; ++column)
                EXPECT_EQ(DotsShown(image, row, column), DotsOf(glyph(row, column)))
                    << "row " << row << " column " << column;
        EXPECT_EQ(ModuleStatusLines(module, kSize40x4),
                  QStringList({"40x4 on port 0x278", "E0: 4-bit, 2 lines, timing violations: 0",
                               "E1: 4-bit, 2 lines, timing violations: 0"}));

        ModuleDriver driver(d, timeline);
        driver.WriteCommand4(0x80 | 0x45, 0);
        driver.WriteCommand4(kDisplayOnCursorBlink, 0);
        Glyph underlined = glyph(1, 5), block;
        underlined.back() = kGlyphDotMask;
        block.fill(kGlyphDotMask);
        EXPECT_EQ(DotsShown(render(false), 1, 5), DotsOf(underlined));
        EXPECT_EQ(DotsShown(render(true), 1, 5), DotsOf(block));
        driver.WriteCommand4(0x0E, 0);  // blink off
        EXPECT_EQ(DotsShown(render(true), 1, 5), DotsOf(underlined));

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

QImage ModuleShown(ModuleView& view, const QSize& size) {
    const QImage window = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return window.copy(QRect(view.ModuleOffset(), size));
}

TEST_F(ModuleViewTest, RepaintsAsTheRunGoesAndBlinksOnTheClock) {
    SimulatedModule module(timeline, 0x378);
    ModuleView view(module, timeline);
    view.show();
    QCoreApplication::processEvents();  // takes the platform's expose, after which it paints
    ASSERT_TRUE(view.windowHandle()->isExposed());
    PaintSpy spy(module.Controller(0).State());
    view.installEventFilter(&spy);
    CLcdTestDlg dlg;
    dlg.m_onSizeChosen = [&](int size) { view.SetSizeIndex(size); };
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        ChooseList(d, IDC_SIZE, kSize16x1);
        spy.addresses.clear();
        Click(d, IDC_INIT_8BIT);
        // Painted after each character: every address the two halves' writes moved to.
        for (int a = 1; a <= 8; ++a) {
            EXPECT_TRUE(spy.addresses.count(a)) << a;
            EXPECT_TRUE(spy.addresses.count(kSecondLineAddress + a)) << kSecondLineAddress + a;
        }

        EXPECT_FALSE(view.Blinking());
        ModuleDriver driver(d, timeline);
        // A pause repaints only what the transfers changed: here one character.
        QCoreApplication::processEvents();
        spy.painted = QRegion();
        driver.WriteCommand8(0x80 | 3, 0);
        driver.WriteData8('Z', 0);
        QCoreApplication::processEvents();
        const int dots = view.DotPixels();
        const QRect cell =
            DotRect(0, 3, 0, 0, dots)
                .united(DotRect(0, 3, kGlyphRows - 1, kCharacterDotColumns - 1, dots))
                .translated(view.ModuleOffset());
        EXPECT_FALSE(spy.painted.isEmpty());
        EXPECT_TRUE(cell.contains(spy.painted.boundingRect()));
        const QImage now = RenderModule(module, kSize16x1, true, dots);
        EXPECT_EQ(ModuleShown(view, now.size()), now);
        driver.WriteCommand8(kDisplayOnCursorBlink, 0);
        driver.WriteCommand8(0x80, 0);
        EXPECT_TRUE(view.Blinking());
        // The phase comes from the clock: one phase later the window shows the other render.
        const QImage lit = RenderModule(module, kSize16x1, true, dots);
        const QImage plain = RenderModule(module, kSize16x1, false, dots);
        const QImage before = ModuleShown(view, lit.size());
        timeline.AdvanceMicros(kBlinkPhaseMicros);
        const QImage after = ModuleShown(view, lit.size());
        EXPECT_NE(lit, plain);
        EXPECT_TRUE((before == lit && after == plain) || (before == plain && after == lit));
        driver.WriteCommand8(kDisplayOnCursorOff, 0);
        EXPECT_FALSE(view.Blinking());
    });
}

}  // namespace
