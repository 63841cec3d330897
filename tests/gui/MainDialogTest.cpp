// The dialog on real widgets: how it starts, its sizes, buttons and lists, Enter
// and the ways out, the system menu, its exit status, and the repaints a refresh
// leaves to the next pause.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <map>

#include "app/DialogRun.h"
#include "app/ExitStatus.h"
#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "port/LinePanel.h"
#include "port/LineState.h"
#include "res/Resource.h"
#include "res/Strings.h"
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

// Then text that is not Latin-1 becomes question marks and any length is taken.
TEST_F(MainDialogTest, StartsOnFirstPortAtRestWithTheDefaultSize) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        EXPECT_EQ(timeline.Writes(), (std::vector<BusEvent>{BusEvent::WriteOf(0x378, 0x00),
                                                            BusEvent::WriteOf(0x37A, 0x03)}));
        for (int bit = 0; bit < 12; ++bit) {
            const LineButtons& b = bit < 8 ? kDataLineButtons[bit] : kControlLineButtons[bit - 8];
            EXPECT_TRUE(!Checked(d, b.high) && Checked(d, b.low)) << b.high;
        }
        EXPECT_EQ(Text(d, IDC_DEC) + "|" + Text(d, IDC_HEX) + "|" + Text(d, IDC_CHAR), "0|0x00|");
        EXPECT_EQ(Control<QComboBox>(d, IDC_PORT)->currentText(), "0x378");
        EXPECT_EQ(Control<QComboBox>(d, IDC_SIZE)->currentText(), "16x2");
        const QFontMetrics lineFont(Control<QLineEdit>(d, IDC_LINE1)->font());  // columns align
        EXPECT_EQ(lineFont.horizontalAdvance("iiii"), lineFont.horizontalAdvance("WWWW"));
        // Focus and the tab order start at "Done", as the template orders the controls.
        EXPECT_EQ(d.Window()->focusWidget(), d.ControlWidget(IDOK));
        EXPECT_EQ(d.ControlWidget(IDOK)->nextInFocusChain(), d.ControlWidget(IDC_INIT_4BIT));
        const HICON icon = LoadIconResource(IDR_MAINFRAME);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(d.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(icon));

        auto* line1 = Control<QLineEdit>(d, IDC_LINE1);
        line1->setText(QString::fromUtf8("\u00e9\u20ac\U0001F600x"));
        EXPECT_EQ(Text(d, IDC_LINE1), "\xe9??x");
        line1->setText(QString(1 << 20, QChar('\\')));
        EXPECT_EQ(line1->text().size(), 1 << 20);
    });
}

// On the second port, each size shows its texts, which fill every box it uses
// exactly (box 1 of 16x1 holds both halves) and hold no backslash, so they reach
// the module unchanged. A box is read-only exactly when its size does not use it;
// E1 can be driven by hand only where a second controller sits on it. Choosing
// writes nothing. Then real clicks on all 24 buttons: each drives its own line on
// that port with Low, High, High again and Low; every click writes, and a line
// already Low stays Low.
TEST_F(MainDialogTest, EverySizeAndEveryButton) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        timeline.events.clear();
        ChooseWithKeys(Control<QComboBox>(d, IDC_PORT), 1);
        for (int size = 0; size < kModuleSizeCount; ++size) {
            Control<QLineEdit>(d, IDC_LINE1)->setText("typed by hand");
            ChooseWithKeys(Control<QComboBox>(d, IDC_SIZE), size);
            const ModuleGeometry& g = kModuleGeometry[size];
            const int lines = size == kSize16x1 ? 1 : g.linesPerController * g.controllerCount;
            const std::size_t columns = size == kSize16x1 ? 16 : g.columns;
            for (int n = 0; n < 4; ++n) {
                const std::string text = Text(d, IDC_LINE1 + n);
                const auto box = ::testing::Message() << kSizeNames[size] << " box " << n + 1;
                EXPECT_EQ(text, kSizeDemos[size].lineText[n]) << box;
                EXPECT_EQ(text.size(), n < lines ? columns : 0u) << box;
                EXPECT_EQ(text.find('\\'), std::string::npos) << box;
                EXPECT_EQ(Control<QLineEdit>(d, IDC_LINE1 + n)->isReadOnly(), n >= lines) << box;
            }
            for (int e1 : {IDC_E1_HIGH, IDC_E1_LOW})
                EXPECT_EQ(d.ControlWidget(e1)->isEnabled(), g.controllerCount == 2) << size;
        }
        EXPECT_TRUE(timeline.events.empty());
        ChooseWithKeys(Control<QComboBox>(d, IDC_SIZE), kSize40x4);
        for (int bit = 0; bit < 12; ++bit) {
            const bool data = bit < 8;
            const LineButtons& b = data ? kDataLineButtons[bit] : kControlLineButtons[bit - 8];
            const auto high = static_cast<std::uint8_t>(data ? 1 << bit : (1 << (bit - 8)) ^ 3);
            const std::uint8_t low = data ? 0 : 3;
            for (const int id : {b.low, b.high, b.high, b.low}) {
                Click(d, id);
                EXPECT_EQ(timeline.Writes().back(),
                          BusEvent::WriteOf(data ? 0x278 : 0x27A, id == b.high ? high : low))
                    << id;
                EXPECT_TRUE(Checked(d, id) && !Checked(d, id == b.high ? b.low : b.high)) << id;
            }
        }
        EXPECT_EQ(timeline.WriteCount(), 48u);
    });
}

// The Size list acts on its close-up only, however the list was closed.
TEST_F(MainDialogTest, OnlyTheCloseUpRunsTheListHandlers) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
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

// Enter on Done ends the dialog; Enter elsewhere starts the 8-bit run (547 writes
// after the 2 at start-up: the reference run's figure, independent of the code);
// every other way out, the system menu's Close included, cancels, writing nothing.
TEST_F(MainDialogTest, EnterAndTheWaysOut) {
    const auto enterOn = [](int id) {
        return [id](CLcdTestDlg& d) {
            d.ControlWidget(id)->setFocus();
            QTest::keyClick(d.ControlWidget(id), Qt::Key_Return);
        };
    };
    struct Case {
        std::function<void(CLcdTestDlg&)> act;
        INT_PTR result;
        std::size_t writes;
    };
    const Case cases[] = {
        {enterOn(IDOK), IDOK, 2},
        {enterOn(IDC_LINE2), kLeftOpen, 2 + 547},
        {enterOn(IDC_SIZE), kLeftOpen, 2 + 547},
        {enterOn(IDC_HEX), kLeftOpen, 2 + 547},
        {[](CLcdTestDlg& d) { QTest::keyClick(d.ControlWidget(IDC_LINE1), Qt::Key_Escape); },
         IDCANCEL, 2},
        {[](CLcdTestDlg& d) { d.Window()->close(); }, IDCANCEL, 2},
        {[](CLcdTestDlg& d) { d.SendMessage(WM_SYSCOMMAND, SC_CLOSE); }, IDCANCEL, 2},
        // A right click on the background opens the system menu, and its Close.
        {[](CLcdTestDlg& d) {
             QContextMenuEvent rightClick(QContextMenuEvent::Mouse, {1, 1},
                                          d.Window()->mapToGlobal(QPoint(1, 1)));
             QApplication::sendEvent(d.Window(), &rightClick);
             EXPECT_TRUE(d.Window()->SystemMenu()->isVisible());
             d.Window()->SystemMenu()->hide();
             for (QAction* a : d.Window()->SystemMenu()->actions())
                 if (a->data().toUInt() == SC_CLOSE) a->trigger();
         },
         IDCANCEL, 2},
    };
    for (const Case& c : cases) {
        timeline.events.clear();
        EXPECT_EQ(RunModal<CLcdTestDlg>(c.act), c.result);
        EXPECT_EQ(timeline.WriteCount(), c.writes) << c.result;
    }
}

// The dialog as the program starts it, closed once it is up: status 0 with a whole
// trace, 4 when the trace lost data (/dev/full takes not even the start-up writes).
TEST_F(MainDialogTest, ItsExitStatusTellsWhetherTheTraceIsWhole) {
    namespace fs = std::filesystem;
    const std::string whole =
        (fs::temp_directory_path() / ("lcdtest-trace-" + std::to_string(getpid()))).string();
    for (const auto& [path, status] :
         {std::pair{whole, 0}, std::pair{std::string("/dev/full"), int{kExitOutputLost}}}) {
        CommonOptions options;
        options.portIo = PortIoMode::Sim;
        options.tracePath = path;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [] {
            if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
        });
        closer.start(0);
        EXPECT_EQ(RunDialog(options), status) << path;
    }
    fs::remove(whole);
}

// Sends a system command and, if an About box comes up, records its title and
// closes it with `closeKey`; returns the title ("" when none came up).
QString SendAndCloseAbout(CLcdTestDlg& dlg, UINT command, Qt::Key closeKey) {
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == dlg.Window() || !qobject_cast<QDialog*>(modal)) return;
        title = modal->windowTitle();
        QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, closeKey);
    });
    dlg.SendMessage(WM_SYSCOMMAND, command);
    QCoreApplication::processEvents();
    return title;
}

// The menu ends with the About entry. A command is the About entry's whatever its
// low four bits (16 to 31); the box leaves all alone.
TEST_F(MainDialogTest, TheAboutEntryAndItsCommands) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        EXPECT_EQ(d.Window()->SystemMenu()->actions().back()->data().toUInt(), IDM_ABOUTBOX);
        const std::size_t writes = timeline.WriteCount();
        for (const auto& [command, title] : {std::pair{16u, "About TORV_VozUriz"},
                                             {17u, "About TORV_VozUriz"},
                                             {31u, "About TORV_VozUriz"},
                                             {15u, ""},
                                             {32u, ""}}) {
            EXPECT_EQ(
                SendAndCloseAbout(d, command, command == 17 ? Qt::Key_Escape : Qt::Key_Return),
                title)
                << command;
        }
        EXPECT_TRUE(d.Window()->isVisible() && d.Window()->isEnabled());
        EXPECT_EQ(timeline.WriteCount(), writes);
    });
}

// Counts paint events per control identifier of one dialog.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(CDialog& dlg) : dlg_(dlg) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~PaintCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
    int Of(int id) { return counts[dlg_.ControlWidget(id)]; }
    bool eventFilter(QObject* watched, QEvent* event) override {
        counts[watched] += event->type() == QEvent::Paint;
        return false;
    }
    std::map<QObject*, int> counts;

private:
    CDialog& dlg_;
};

// A refresh changes the line buttons' checks at once but leaves their painting
// to the next pause (a sleep, or the event loop), so it only waits for the
// readouts it must show before it returns. Nothing may be lost on the way.
TEST_F(MainDialogTest, DataRefreshPaintsReadoutsAtOnceAndChangedButtonsAtTheNextSleep) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        QCoreApplication::processEvents();  // the window's first paints
        PaintCounter paints(d);
        g_lines.dataLatch = 0x41;  // D6 and D0 go high
        d.RefreshDataPort();
        EXPECT_TRUE(Checked(d, IDC_D0_HIGH));
        const int changed[] = {IDC_D0_HIGH, IDC_D0_LOW, IDC_D6_HIGH, IDC_D6_LOW};
        for (int sleeps = 0; sleeps < 2; ++sleeps) {
            for (int readout : {IDC_DEC, IDC_HEX, IDC_CHAR}) EXPECT_EQ(paints.Of(readout), 1);
            for (int button : changed) EXPECT_EQ(paints.Of(button), sleeps) << button;
            for (int same : {IDC_D1_HIGH, IDC_D1_LOW, IDC_D7_LOW, IDC_E0_LOW})
                EXPECT_EQ(paints.Of(same), 0) << same;
            Sleep(1);
        }
    });
}

// Buttons still waiting when a dialog ends are forgotten, without holding back
// the next dialog's. Without a sleep the event loop paints each changed button
// once in its last state; after that a change waits for a pause again.
TEST_F(MainDialogTest, TheEventLoopPaintsEachButtonOnceAndAGoneDialogIsForgotten) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        d.OnRSHigh();  // held, and the dialog ends before any pause
        d.EndDialog(IDOK);
    });
    // The dialog is gone: this must not touch its buttons (the sanitizer run tells).
    Sleep(1);
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        QCoreApplication::processEvents();
        PaintCounter paints(d);
        d.OnRSHigh();  // from the rest state this dialog starts in
        for (int k = 0; k < 3; ++k) k % 2 ? d.OnE0Low() : d.OnE0High();  // High, Low, High
        EXPECT_EQ(paints.Of(IDC_E0_HIGH), 0);
        QCoreApplication::processEvents();
        for (int id : {IDC_E0_HIGH, IDC_E0_LOW, IDC_RS_HIGH, IDC_RS_LOW})
            EXPECT_EQ(paints.Of(id), 1) << id;
        EXPECT_TRUE(Checked(d, IDC_E0_HIGH));
        paints.counts.clear();
        d.OnE0Low();
        EXPECT_EQ(paints.Of(IDC_E0_LOW), 0);
        Sleep(1);
        EXPECT_EQ(paints.Of(IDC_E0_LOW), 1);
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
