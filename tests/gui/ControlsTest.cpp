// The dialog's own controls. The line panel's radios and the readouts draw kept
// pictures instead of asking the style each time; what shows must still be the
// current look, whatever came before. The line boxes keep the cursor steady on
// a long text.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QPalette>
#include <QRadioButton>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "afx/Controls.h"
#include "afx/SteadyCursor.h"
#include "gui/DialogHarness.h"

namespace {

// A kept picture is composed onto the background once more than a direct
// drawing, which may round an edge pixel differently by one level.
constexpr int kRoundingTolerance = 1;

int LargestChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

QPalette Reddened(QPalette palette) {
    palette.setColor(QPalette::Base, Qt::red);
    palette.setColor(QPalette::Window, Qt::darkRed);
    return palette;
}

TEST(PlainRadioButtonPicture, IsTheStylesDrawingOfEveryLookInAnyOrder) {
    QWidget panel;
    panel.resize(120, 40);
    auto* plain = new PlainRadioButton(&panel);
    plain->setGeometry(10, 10, 36, 14);
    auto* styled = new QRadioButton(&panel);  // drawn by the style every time
    styled->setAutoExclusive(false);
    styled->setGeometry(60, 10, 36, 14);
    panel.show();
    // Looks as bits: 1 checked, 2 enabled, 4 reddened. Each comes back after
    // others, so a kept picture is shown again.
    for (const int look : {2, 3, 2, 1, 3, 7, 6, 3, 4, 2}) {
        for (QRadioButton* button : {static_cast<QRadioButton*>(plain), styled}) {
            button->setChecked(look & 1);
            button->setEnabled(look & 2);
            button->setPalette(look & 4 ? Reddened(panel.palette()) : panel.palette());
        }
        EXPECT_LE(LargestChannelDifference(plain->grab().toImage(), styled->grab().toImage()),
                  kRoundingTolerance)
            << look;
    }
}

TEST(ReadOnlyTextBox, ShowsTheCurrentTextAndSelectsItWithFocusForTheCopyKey) {
    QWidget panel;
    panel.resize(100, 60);
    auto* box = new ReadOnlyTextBox(Qt::AlignRight | Qt::AlignVCenter, &panel);
    box->setGeometry(10, 10, 48, 20);
    panel.show();
    ActivateNow(panel);  // which focuses the box, its only child
    box->clearFocus();
    ASSERT_FALSE(box->hasFocus());
    const auto shows = [&](const QString& text) {
        box->setText(text);
        return box->grab().toImage();
    };
    const QImage first = shows("0x41"), other = shows("0x42"), empty = shows("");
    EXPECT_NE(first, other);
    EXPECT_NE(first, empty);
    EXPECT_EQ(shows("0x41"), first);  // a kept picture, shown again
    // New colours give new pictures, not the ones kept for the old colours.
    box->setPalette(Reddened(box->palette()));
    EXPECT_EQ(shows("0x41").pixelColor(1, 1), QColor(Qt::red));
    box->setPalette(QPalette());
    EXPECT_EQ(shows("0x41"), first);

    // Focus shows the text selected, and the copy key copies it.
    const QImage unfocused = shows("'A'");
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    EXPECT_NE(box->grab().toImage(), unfocused);
    QApplication::clipboard()->clear();
    QTest::keySequence(box, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), "'A'");
    box->clearFocus();
    EXPECT_EQ(box->grab().toImage(), unfocused);
}

// The cursor stops blinking only while the focused box holds a text over the
// limit, and its blink comes back as it was.
TEST(SteadyCursor, BlinkStopsOnlyWhileAFocusedBoxHoldsALongText) {
    QApplication::setCursorFlashTime(1000);
    QWidget window;
    auto* box = new QLineEdit(&window);
    auto* other = new QLineEdit(&window);
    KeepCursorSteadyOnLongText(box);
    window.show();
    ActivateNow(window);
    const QString atLimit(kSteadyCursorChars, 'x');
    const QString over = atLimit + 'x';
    const std::tuple<QLineEdit*, QString, int> steps[] = {
        {box, atLimit, 1000}, {box, over, 0}, {other, over, 1000}, {box, over, 0}, {box, "", 1000}};
    for (const auto& [focus, text, flashMs] : steps) {
        focus->setFocus();
        box->setText(text);
        EXPECT_EQ(QApplication::cursorFlashTime(), flashMs) << text.size();
    }
}

}  // namespace
