#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QWidget>

#include "platform/qt/SteadyCursor.h"

namespace {

// The cursor of a focused box stops blinking only while the box holds a text
// longer than kSteadyCursorChars, and the blink comes back as it was.
TEST(SteadyCursorTest, BlinkStopsOnlyWhileAFocusedBoxHoldsALongText) {
    QApplication::setCursorFlashTime(1000);
    QWidget window;
    auto* box = new QLineEdit(&window);
    auto* other = new QLineEdit(&window);
    KeepCursorSteadyOnLongText(box);
    window.show();
    QApplication::setActiveWindow(&window);
    const QString longText(kSteadyCursorChars + 1, 'x');
    const struct {
        QLineEdit* focus;
        QString text;
        int flashMs;
    } steps[] = {
        {box, QString(kSteadyCursorChars, 'x'), 1000},  // long enough to fit the rule, not over
        {box, longText, 0},                             // a paste into the focused box
        {other, longText, 1000},                        // the focus leaves
        {box, longText, 0},                             // and comes back
        {box, "short", 1000},                           // the text shrinks
    };
    for (const auto& step : steps) {
        step.focus->setFocus();
        box->setText(step.text);
        EXPECT_EQ(QApplication::cursorFlashTime(), step.flashMs) << step.text.size();
    }
}

}  // namespace
