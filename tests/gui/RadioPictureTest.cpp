// The line panel's radios draw a kept picture of each look instead of asking the
// style every time; what shows must still be the style's own drawing of the
// button's current look, whatever looks came before.

#include <gtest/gtest.h>

#include <QImage>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "platform/qt/Controls.h"

namespace {

// A kept picture is composed onto the background once more than a direct
// drawing, which may round an edge pixel differently by one level.
constexpr int kRoundingTolerance = 1;
constexpr int kPanelWidth = 120;
constexpr int kPanelHeight = 40;
const QRect kPlainGeometry(10, 10, 36, 14);
const QRect kStyleGeometry(60, 10, 36, 14);

int LargestChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

TEST(PlainRadioButtonPicture, IsTheStylesDrawingOfEveryLookInAnyOrder) {
    QWidget panel;
    panel.resize(kPanelWidth, kPanelHeight);
    auto* plain = new PlainRadioButton(&panel);
    plain->setGeometry(kPlainGeometry);
    auto* styled = new QRadioButton(&panel);  // drawn by the style every time
    styled->setAutoExclusive(false);
    styled->setGeometry(kStyleGeometry);
    panel.show();

    QPalette reddened = panel.palette();
    reddened.setColor(QPalette::Base, Qt::red);
    reddened.setColor(QPalette::Window, Qt::darkRed);

    struct Look {
        bool checked;
        bool enabled;
        bool reddened;
    };
    // Each look comes back after others, so a kept picture is shown again.
    const Look looks[] = {
        {false, true, false}, {true, true, false},  {false, true, false}, {true, false, false},
        {true, true, false},  {true, true, true},   {false, true, true},  {true, true, false},
        {false, false, true}, {false, true, false},
    };
    for (const Look& look : looks) {
        for (QRadioButton* button : {static_cast<QRadioButton*>(plain), styled}) {
            button->setChecked(look.checked);
            button->setEnabled(look.enabled);
            button->setPalette(look.reddened ? reddened : panel.palette());
        }
        EXPECT_LE(LargestChannelDifference(plain->grab().toImage(), styled->grab().toImage()),
                  kRoundingTolerance)
            << "checked " << look.checked << ", enabled " << look.enabled << ", reddened "
            << look.reddened;
    }
    // The looks differ from one another, so a stale picture could not pass.
    plain->setPalette(panel.palette());
    plain->setEnabled(true);
    plain->setChecked(false);
    const QImage unchecked = plain->grab().toImage();
    plain->setChecked(true);
    EXPECT_GT(LargestChannelDifference(unchecked, plain->grab().toImage()), kRoundingTolerance);
}

}  // namespace
