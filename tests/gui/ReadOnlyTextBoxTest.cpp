// Readouts are read-only text boxes drawn from kept pictures: what shows must
// always be the current text in the current colours, however texts, colours and
// focus came and went before, and the text must stay copyable.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <QWidget>

#include "platform/qt/Controls.h"

namespace {

const QRect kBoxGeometry(10, 10, 48, 20);

class ReadOnlyTextBoxTest : public ::testing::Test {
protected:
    ReadOnlyTextBoxTest() {
        panel.resize(100, 60);
        box = new ReadOnlyTextBox(Qt::AlignRight | Qt::AlignVCenter, &panel);
        box->setGeometry(kBoxGeometry);
        panel.show();
    }

    QImage Shows(const QString& text) {
        box->setText(text);
        return box->grab().toImage();
    }

    QWidget panel;
    ReadOnlyTextBox* box;
};

TEST_F(ReadOnlyTextBoxTest, ShowsTheCurrentTextWhateverCameBefore) {
    const QImage first = Shows("0x41");
    const QImage other = Shows("0x42");
    const QImage empty = Shows("");
    EXPECT_NE(first, other);
    EXPECT_NE(first, empty);
    EXPECT_EQ(Shows("0x41"), first);  // a kept picture, shown again
    EXPECT_EQ(Shows("0x42"), other);

    // New colours give new pictures, not the ones kept for the old colours.
    QPalette reddened = box->palette();
    reddened.setColor(QPalette::Base, Qt::red);
    box->setPalette(reddened);
    const QImage red = Shows("0x41");
    EXPECT_NE(red, first);
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
