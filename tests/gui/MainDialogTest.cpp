#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <set>

#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "support/PortRecorder.h"
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
        EXPECT_EQ(port.writes, (std::vector<PortWrite>{{0x378, 0x00}, {0x37A, 0x03}}));
        for (const LineButtons& b : kDataLineButtons) {
            EXPECT_FALSE(Control<QRadioButton>(d, b.high)->isChecked()) << b.high;
            EXPECT_TRUE(Control<QRadioButton>(d, b.low)->isChecked()) << b.low;
        }
        for (const LineButtons& b : kControlLineButtons) {
            EXPECT_FALSE(Control<QRadioButton>(d, b.high)->isChecked()) << b.high;
            EXPECT_TRUE(Control<QRadioButton>(d, b.low)->isChecked()) << b.low;
        }
        EXPECT_EQ(Text(d, IDC_DEC), "0");
        EXPECT_EQ(Text(d, IDC_HEX), "0x00");
        EXPECT_EQ(Text(d, IDC_CHAR), "");
        EXPECT_EQ(Control<QComboBox>(d, IDC_PORT)->currentText(), "0x378");
        EXPECT_EQ(Control<QComboBox>(d, IDC_SIZE)->currentText(), "16x2");
        EXPECT_EQ(Text(d, IDC_LINE1), "*TORV-1602 16x2*");
        EXPECT_EQ(Text(d, IDC_LINE2), "* Lumaworkshop *");
        const QFontMetrics line1Font(Control<QLineEdit>(d, IDC_LINE1)->font());
        EXPECT_EQ(line1Font.horizontalAdvance("iiii"), line1Font.horizontalAdvance("WWWW"));
        const QFontMetrics readoutFont(d.ControlWidget(IDC_HEX)->font());
        EXPECT_NE(readoutFont.horizontalAdvance("iiii"), readoutFont.horizontalAdvance("WWWW"));
        EXPECT_FALSE(Control<QRadioButton>(d, IDC_E1_HIGH)->isEnabled());
        EXPECT_EQ(d.Window()->focusWidget(), d.ControlWidget(IDOK));
        const HICON icon = LoadIconResource(IDR_MAINFRAME);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(d.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(icon));
    });
}

TEST_F(MainDialogTest, BuildsEveryControlInTemplateOrder) {
    const DialogTemplate* t = FindDialogTemplate(IDD_LCDTEST_DIALOG);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->controls.size(), 55u);
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        std::vector<QString> created;
        for (QObject* child : d.Window()->children())
            if (child->objectName().startsWith("control")) created.push_back(child->objectName());
        std::vector<QString> expected;
        for (const ControlTemplate& c : t->controls)
            expected.push_back(QStringLiteral("control%1").arg(c.id));
        EXPECT_EQ(created, expected);
        // Tab order starts at "Done" and follows the template's tab stops.
        EXPECT_EQ(d.Window()->FirstTabStop(), d.ControlWidget(IDOK));
        EXPECT_EQ(d.ControlWidget(IDOK)->nextInFocusChain(), d.ControlWidget(IDC_INIT_4BIT));
    });
}

TEST_F(MainDialogTest, EverySizeSetsItsTextsReadOnlyStatesAndE1) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        const std::size_t writesAtStart = port.writes.size();
        for (int size = 0; size < kModuleSizeCount; ++size) {
            Control<QLineEdit>(d, IDC_LINE1)->setText("typed by hand");
            ChooseWithKeys(Control<QComboBox>(d, IDC_SIZE), size);
            const SizeDemo& demo = kSizeDemos[size];
            const int boxes[] = {IDC_LINE1, IDC_LINE2, IDC_LINE3, IDC_LINE4};
            for (int n = 0; n < 4; ++n) {
                EXPECT_EQ(Text(d, boxes[n]), demo.lineText[n]) << demo.name;
                EXPECT_EQ(Control<QLineEdit>(d, boxes[n])->isReadOnly(), demo.lineReadOnly[n])
                    << demo.name << " box " << n + 1;
            }
            EXPECT_EQ(Control<QRadioButton>(d, IDC_E1_HIGH)->isEnabled(), size == kSize40x4);
            EXPECT_EQ(Control<QRadioButton>(d, IDC_E1_LOW)->isEnabled(), size == kSize40x4);
        }
        EXPECT_EQ(port.writes.size(), writesAtStart);
    });
}

TEST_F(MainDialogTest, OnlyTheCloseUpRunsTheListHandlers) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        auto* size = Control<QComboBox>(d, IDC_SIZE);
        QTest::keyClick(size, Qt::Key_Down);  // selection moves, list stays closed
        QCoreApplication::processEvents();
        EXPECT_EQ(size->currentText(), "20x2");
        EXPECT_EQ(Text(d, IDC_LINE1), "*TORV-1602 16x2*");

        // Opening and closing without choosing (Escape, or a click outside) still reports.
        Control<QLineEdit>(d, IDC_LINE1)->setText("typed");
        QTest::keyClick(size, Qt::Key_Down, Qt::AltModifier);
        QTest::keyClick(size->view(), Qt::Key_Escape);
        QCoreApplication::processEvents();
        EXPECT_TRUE(d.Window()->isVisible()) << "Escape in an open list only closes the list";
        EXPECT_EQ(Text(d, IDC_LINE1), "** TORV-2002 20x2 **");

        Control<QLineEdit>(d, IDC_LINE1)->setText("typed");
        QTest::keyClick(size, Qt::Key_Down, Qt::AltModifier);
        // The open list takes every click; this one lands outside it.
        QTest::mouseClick(size->view()->window(), Qt::LeftButton, {}, QPoint(-5, -5));
        QCoreApplication::processEvents();
        EXPECT_FALSE(size->view()->isVisible());
        EXPECT_EQ(Text(d, IDC_LINE1), "** TORV-2002 20x2 **");
    });
}

TEST_F(MainDialogTest, PortCloseUpRepointsWithoutWriting) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        port.writes.clear();
        ChooseWithKeys(Control<QComboBox>(d, IDC_PORT), 1);
        EXPECT_TRUE(port.writes.empty());
        QTest::mouseClick(d.ControlWidget(IDC_D0_HIGH), Qt::LeftButton);
        EXPECT_EQ(port.writes, (std::vector<PortWrite>{{0x278, 0x01}}));
        QTest::mouseClick(d.ControlWidget(IDC_RS_HIGH), Qt::LeftButton);
        EXPECT_EQ(port.writes.back(), (PortWrite{0x27A, 0x07}));
    });
}

TEST_F(MainDialogTest, RadioClicksOnlyNotifyAndDisabledE1DoesNothing) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        port.writes.clear();
        QTest::mouseClick(d.ControlWidget(IDC_D6_HIGH), Qt::LeftButton);
        QTest::mouseClick(d.ControlWidget(IDC_D0_HIGH), Qt::LeftButton);
        EXPECT_EQ(Text(d, IDC_DEC), "65");
        EXPECT_EQ(Text(d, IDC_HEX), "0x41");
        EXPECT_EQ(Text(d, IDC_CHAR), "'A'");
        // A click on a checked button unchecks nothing; its refresh writes again.
        QTest::mouseClick(d.ControlWidget(IDC_D0_HIGH), Qt::LeftButton);
        EXPECT_TRUE(Control<QRadioButton>(d, IDC_D0_HIGH)->isChecked());
        EXPECT_EQ(port.writes.size(), 3u);
        QTest::mouseClick(d.ControlWidget(IDC_E1_HIGH), Qt::LeftButton);
        EXPECT_EQ(port.writes.size(), 3u);
        EXPECT_FALSE(Control<QRadioButton>(d, IDC_E1_HIGH)->isChecked());
    });
}

TEST_F(MainDialogTest, EnterAtStartPressesDoneAndEndingWritesNothing) {
    CLcdTestDlg dlg;
    const INT_PTR result = RunModal<CLcdTestDlg>(
        dlg, [&](CLcdTestDlg& d) { QTest::keyClick(d.Window()->focusWidget(), Qt::Key_Return); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(port.writes.size(), 2u);
}

TEST_F(MainDialogTest, EscapeAndCloseBoxCancel) {
    using Ender = std::function<void(CLcdTestDlg&)>;
    const Ender enders[] = {
        [](CLcdTestDlg& d) { QTest::keyClick(d.ControlWidget(IDC_LINE1), Qt::Key_Escape); },
        [](CLcdTestDlg& d) { d.Window()->close(); },
        [](CLcdTestDlg& d) { d.SendMessage(WM_SYSCOMMAND, SC_CLOSE); },
    };
    for (const Ender& end : enders) {
        port.writes.clear();
        CLcdTestDlg dlg;
        EXPECT_EQ(RunModal<CLcdTestDlg>(dlg, end), IDCANCEL);
        EXPECT_EQ(port.writes.size(), 2u);
    }
}

TEST_F(MainDialogTest, EnterOutsideAPushButtonStartsTheEightBitRun) {
    for (int focused : {IDC_LINE2, IDC_SIZE, IDC_HEX}) {
        CLcdTestDlg dlg;
        const INT_PTR result = RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
            QWidget* target = d.ControlWidget(focused);
            target->setFocus();
            port.writes.clear();
            clock.ClearSleeps();
            QTest::keyClick(target, Qt::Key_Return);
            EXPECT_EQ(port.writes.size(), 547u) << focused;
            EXPECT_EQ(clock.TotalSleptMillis(), 599u) << focused;
        });
        EXPECT_EQ(result, kLeftOpen) << focused;
    }
}

TEST_F(MainDialogTest, TextThatIsNotLatin1BecomesQuestionMarksAndAnyLengthIsTaken) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        auto* line1 = Control<QLineEdit>(d, IDC_LINE1);
        line1->setText(QString::fromUtf8("\u00e9\u20ac\U0001F600x"));
        CEdit box;
        box.Attach(line1, IDC_LINE1);
        EXPECT_EQ(box.GetWindowText(), "\xe9??x");

        line1->setText(QString(1 << 20, QChar('\\')));
        EXPECT_EQ(line1->text().size(), 1 << 20);
        port.writes.clear();
        QTest::mouseClick(d.ControlWidget(IDC_INIT_4BIT), Qt::LeftButton);
        EXPECT_EQ(port.writes.size(), 870u);
    });
}

TEST(MinimisedIcon, CentresWithTruncationTowardZero) {
    struct Case {
        int client, x;
    };
    for (const Case c : {Case{36, 2}, Case{37, 3}, Case{20, -5}, Case{31, 0}}) {
        const IconOrigin o = MinimisedIconOrigin(c.client, c.client, 32, 32);
        EXPECT_EQ(o.x, c.x) << c.client;
        EXPECT_EQ(o.y, c.x) << c.client;
    }
}

TEST(MessageMap, RoutesEveryPanelButtonOnceAndEndsWithThePortList) {
    const auto& map = CLcdTestDlg::kMessageMap;
    std::set<int> ids;
    int panelRows = 0;
    for (const auto& row : map) {
        if (row.message != WM_COMMAND || row.code != BN_CLICKED) continue;
        if (row.id == IDC_INIT_4BIT || row.id == IDC_INIT_8BIT) continue;
        ++panelRows;
        ids.insert(row.id);
    }
    EXPECT_EQ(panelRows, 24);
    EXPECT_EQ(ids.size(), 24u);
    for (const LineButtons& b : kDataLineButtons)
        EXPECT_TRUE(ids.count(b.high) && ids.count(b.low));
    for (const LineButtons& b : kControlLineButtons)
        EXPECT_TRUE(ids.count(b.high) && ids.count(b.low));
    EXPECT_EQ(map[30].code, CBN_CLOSEUP);
    EXPECT_EQ(map[30].id, IDC_PORT);
}

}  // namespace
