// The line panel's radios and the readouts draw kept pictures instead of asking the
// style each time; what shows must still be the current look, whatever came before.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPalette>
#include <QRadioButton>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "platform/qt/Controls.h"

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
    struct Look {
        bool checked, enabled, reddened;
    };
    // Each look comes back after others, so a kept picture is shown again.
    const Look looks[] = {{false, true, false}, {true, true, false}, {false, true, false},
                          {true, false, false}, {true, true, false}, {true, true, true},
                          {false, true, true},  {true, true, false}, {false, false, true},
                          {false, true, false}};
    for (const Look& look : looks) {
        for (QRadioButton* button : {static_cast<QRadioButton*>(plain), styled}) {
            button->setChecked(look.checked);
            button->setEnabled(look.enabled);
            button->setPalette(look.reddened ? Reddened(panel.palette()) : panel.palette());
        }
        EXPECT_LE(LargestChannelDifference(plain->grab().toImage(), styled->grab().toImage()),
                  kRoundingTolerance)
            << look.checked << look.enabled << look.reddened;
    }
    // The looks differ from one another, so a stale picture could not pass.
    const QImage last = plain->grab().toImage();
    plain->setChecked(true);
    EXPECT_GT(LargestChannelDifference(last, plain->grab().toImage()), kRoundingTolerance);
}

class ReadOnlyTextBoxTest : public ::testing::Test {
protected:
    ReadOnlyTextBoxTest() {
        panel.resize(100, 60);
        box->setGeometry(10, 10, 48, 20);
        panel.show();
    }
    QImage Shows(const QString& text) {
        box->setText(text);
        return box->grab().toImage();
    }

    QWidget panel;
    ReadOnlyTextBox* box = new ReadOnlyTextBox(Qt::AlignRight | Qt::AlignVCenter, &panel);
};

TEST_F(ReadOnlyTextBoxTest, ShowsTheCurrentTextWhateverCameBefore) {
    const QImage first = Shows("0x41"), other = Shows("0x42"), empty = Shows("");
    EXPECT_NE(first, other);
    EXPECT_NE(first, empty);
    EXPECT_EQ(Shows("0x41"), first);  // a kept picture, shown again
    EXPECT_EQ(Shows("0x42"), other);
    // New colours give new pictures, not the ones kept for the old colours.
    box->setPalette(Reddened(box->palette()));
    const QImage red = Shows("0x41");
    EXPECT_EQ(red.pixelColor(1, 1), QColor(Qt::red));
    box->setPalette(QPalette());
    EXPECT_EQ(Shows("0x41"), first);
}

TEST_F(ReadOnlyTextBoxTest, FocusShowsTheTextSelectedAndTheCopyKeyCopiesIt) {
    panel.activateWindow();
    QApplication::setActiveWindow(&panel);  // which focuses the box, its only child
    box->clearFocus();
    ASSERT_FALSE(box->hasFocus());
    const QImage unfocused = Shows("'A'");
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    EXPECT_NE(box->grab().toImage(), unfocused);
    QApplication::clipboard()->clear();
    QTest::keySequence(box, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), "'A'");
    box->clearFocus();
    EXPECT_EQ(box->grab().toImage(), unfocused);
}

}  // namespace
