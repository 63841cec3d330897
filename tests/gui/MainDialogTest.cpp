#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "ui/LcdTestDlg.h"

namespace {

template <class T>
T* Control(CDialog& dlg, int id) {
    return qobject_cast<T*>(dlg.ControlWidget(id));
}

std::string Text(CDialog& dlg, int id) {
    CWnd control;
    control.Attach(dlg.ControlWidget(id), id);
    return control.GetWindowText();
}

bool Checked(CDialog& dlg, int id) {
    return Control<QRadioButton>(dlg, id)->isChecked();
}

void Click(CDialog& dlg, int id) {
    QTest::mouseClick(dlg.ControlWidget(id), Qt::LeftButton);
}

// Opens a list's drop-down part with the keyboard, moves to `index` and takes it
// with Enter, as a user would; the close-up report is then delivered.
void ChooseWithKeys(QComboBox* combo, int index) {
    QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
    QAbstractItemView* view = combo->view();
    ASSERT_TRUE(view->isVisible());
    QTest::keyClick(view, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    QCoreApplication::processEvents();
}

class MainDialogTest : public ::testing::Test, protected DialogFixtureBase {};

TEST_F(MainDialogTest, StartsOnFirstPortAtRestWithTheDefaultSize) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        EXPECT_EQ(timeline.Writes(), (std::vector<BusEvent>{BusEvent::WriteOf(0x378, 0x00),
                                                            BusEvent::WriteOf(0x37A, 0x03)}));
        for (int bit = 0; bit < 12; ++bit) {
            const LineButtons& b = bit < 8 ? kDataLineButtons[bit] : kControlLineButtons[bit - 8];
            EXPECT_TRUE(!Checked(d, b.high) && Checked(d, b.low)) << b.high;
        }
        EXPECT_EQ(Text(d, IDC_DEC) + "|" + Text(d, IDC_HEX) + "|" + Text(d, IDC_CHAR), "0|0x00|");
        EXPECT_EQ(Control<QComboBox>(d, IDC_PORT)->currentText(), "0x378");
        EXPECT_EQ(Control<QComboBox>(d, IDC_SIZE)->currentText(), "16x2");
        const QFontMetrics line1Font(Control<QLineEdit>(d, IDC_LINE1)->font());
        EXPECT_EQ(line1Font.horizontalAdvance("iiii"), line1Font.horizontalAdvance("WWWW"));
        const QFontMetrics readoutFont(d.ControlWidget(IDC_HEX)->font());
        EXPECT_NE(readoutFont.horizontalAdvance("iiii"), readoutFont.horizontalAdvance("WWWW"));
        // Focus and the tab order start at "Done", as the template orders the controls.
        EXPECT_EQ(d.Window()->focusWidget(), d.ControlWidget(IDOK));
        EXPECT_EQ(d.ControlWidget(IDOK)->nextInFocusChain(), d.ControlWidget(IDC_INIT_4BIT));
        const HICON icon = LoadIconResource(IDR_MAINFRAME);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(d.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(icon));
    });
}

TEST_F(MainDialogTest, EverySizeSetsItsTextsReadOnlyStatesAndE1) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        const std::size_t writesAtStart = timeline.WriteCount();
        for (int size = 0; size < kModuleSizeCount; ++size) {
            Control<QLineEdit>(d, IDC_LINE1)->setText("typed by hand");
            ChooseWithKeys(Control<QComboBox>(d, IDC_SIZE), size);
            const SizeDemo& demo = kSizeDemos[size];
            for (int n = 0; n < 4; ++n) {
                EXPECT_EQ(Text(d, IDC_LINE1 + n), demo.lineText[n]) << demo.name;
                EXPECT_EQ(Control<QLineEdit>(d, IDC_LINE1 + n)->isReadOnly(), demo.lineReadOnly[n])
                    << demo.name << " box " << n + 1;
            }
            for (int e1 : {IDC_E1_HIGH, IDC_E1_LOW})
                EXPECT_EQ(d.ControlWidget(e1)->isEnabled(), size == kSize40x4) << demo.name;
        }
        EXPECT_EQ(timeline.WriteCount(), writesAtStart);
    });
}

// The Size list acts on its close-up only, however the list was closed.
TEST_F(MainDialogTest, OnlyTheCloseUpRunsTheListHandlers) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        auto* size = Control<QComboBox>(d, IDC_SIZE);
        QTest::keyClick(size, Qt::Key_Down);  // selection moves, list stays closed
        QCoreApplication::processEvents();
        EXPECT_EQ(size->currentText(), "20x2");
        EXPECT_EQ(Text(d, IDC_LINE1), "*TORV-1602 16x2*");

        const std::function<void()> closers[] = {
            [&] { QTest::keyClick(size->view(), Qt::Key_Escape); },
            // The open list takes every click; this one lands outside it.
            [&] { QTest::mouseClick(size->view()->window(), Qt::LeftButton, {}, QPoint(-5, -5)); },
        };
        for (const auto& close : closers) {
            Control<QLineEdit>(d, IDC_LINE1)->setText("typed");
            QTest::keyClick(size, Qt::Key_Down, Qt::AltModifier);
            close();
            QCoreApplication::processEvents();
            EXPECT_FALSE(size->view()->isVisible());
            EXPECT_TRUE(d.Window()->isVisible()) << "closing the list leaves the dialog open";
            EXPECT_EQ(Text(d, IDC_LINE1), "** TORV-2002 20x2 **");
        }
    });
}

// Real clicks on all 24 buttons, after the Port list moved to 0x278: each drives
// its own line there, a click on a checked button writes again, and the E1
// buttons do nothing while they are disabled.
TEST_F(MainDialogTest, EveryButtonDrivesItsLineOnTheChosenPort) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        timeline.events.clear();
        ChooseWithKeys(Control<QComboBox>(d, IDC_PORT), 1);
        Click(d, IDC_E1_HIGH);
        EXPECT_TRUE(timeline.events.empty());
        EXPECT_FALSE(Checked(d, IDC_E1_HIGH));
        ChooseWithKeys(Control<QComboBox>(d, IDC_SIZE), kSize40x4);
        for (int bit = 0; bit < 12; ++bit) {
            const bool data = bit < 8;
            const LineButtons& b = data ? kDataLineButtons[bit] : kControlLineButtons[bit - 8];
            const auto high = static_cast<std::uint8_t>(data ? 1 << bit : (1 << (bit - 8)) ^ 3);
            const std::uint32_t address = data ? 0x278 : 0x27A;
            Click(d, b.high);
            Click(d, b.high);
            EXPECT_EQ(timeline.Writes().back(), BusEvent::WriteOf(address, high)) << b.high;
            EXPECT_TRUE(Checked(d, b.high)) << b.high;
            Click(d, b.low);
            EXPECT_EQ(timeline.Writes().back(), BusEvent::WriteOf(address, data ? 0 : 3)) << b.low;
        }
        EXPECT_EQ(timeline.WriteCount(), 36u);
    });
}

TEST_F(MainDialogTest, EnterOnDonePressesItAndEveryWayOutCancelsWritingNothing) {
    struct Case {
        std::function<void(CLcdTestDlg&)> end;
        INT_PTR result;
    };
    const Case cases[] = {
        {[](CLcdTestDlg& d) { QTest::keyClick(d.Window()->focusWidget(), Qt::Key_Return); }, IDOK},
        {[](CLcdTestDlg& d) { QTest::keyClick(d.ControlWidget(IDC_LINE1), Qt::Key_Escape); },
         IDCANCEL},
        {[](CLcdTestDlg& d) { d.Window()->close(); }, IDCANCEL},
        {[](CLcdTestDlg& d) { d.SendMessage(WM_SYSCOMMAND, SC_CLOSE); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        timeline.events.clear();
        CLcdTestDlg dlg;
        EXPECT_EQ(RunModal<CLcdTestDlg>(dlg, c.end), c.result);
        EXPECT_EQ(timeline.WriteCount(), 2u) << "the start-up writes only";
    }
}

// 547 writes and 599 ms are the reference run's figures, independent of the code.
TEST_F(MainDialogTest, EnterOutsideAPushButtonStartsTheEightBitRun) {
    for (int focused : {IDC_LINE2, IDC_SIZE, IDC_HEX}) {
        CLcdTestDlg dlg;
        const INT_PTR result = RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
            d.ControlWidget(focused)->setFocus();
            timeline.events.clear();
            QTest::keyClick(d.ControlWidget(focused), Qt::Key_Return);
            EXPECT_EQ(timeline.WriteCount(), 547u) << focused;
            EXPECT_EQ(timeline.SleptMillis(), 599u) << focused;
        });
        EXPECT_EQ(result, kLeftOpen) << focused;
    }
}

TEST_F(MainDialogTest, TextThatIsNotLatin1BecomesQuestionMarksAndAnyLengthIsTaken) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        auto* line1 = Control<QLineEdit>(d, IDC_LINE1);
        line1->setText(QString::fromUtf8("\u00e9\u20ac\U0001F600x"));
        EXPECT_EQ(Text(d, IDC_LINE1), "\xe9??x");
        line1->setText(QString(1 << 20, QChar('\\')));
        EXPECT_EQ(line1->text().size(), 1 << 20);
        timeline.events.clear();
        Click(d, IDC_INIT_4BIT);
        EXPECT_EQ(timeline.WriteCount(), 870u);
    });
}

TEST(MinimisedIcon, CentresWithTruncationTowardZero) {
    for (const auto& [client, x] : {std::pair{36, 2}, {37, 3}, {20, -5}, {31, 0}}) {
        const IconOrigin o = MinimisedIconOrigin(client, client, 32, 32);
        EXPECT_EQ(o.x, x) << client;
        EXPECT_EQ(o.y, x) << client;
    }
}

}  // namespace
