#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include "afx/SteadyCursor.h"
#include "gui/DialogHarness.h"

// The cursor stops blinking only while the focused box holds a text over the
// limit, and its blink comes back as it was.
TEST(SteadyCursorTest, BlinkStopsOnlyWhileAFocusedBoxHoldsALongText) {
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
