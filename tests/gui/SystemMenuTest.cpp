#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "gui/DialogHarness.h"
#include "res/Resource.h"
#include "sim/SimulatedModule.h"
#include "ui/LcdTestDlg.h"

namespace {

class SystemMenuTest : public ::testing::Test, protected DialogFixtureBase {};

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
TEST_F(SystemMenuTest, TheAboutEntryAndItsCommands) {
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

TEST_F(SystemMenuTest, RightClickOnTheBackgroundOpensTheMenuAndItsCloseCancels) {
    const INT_PTR result = RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, {1, 1},
                                     d.Window()->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(d.Window(), &rightClick);
        EXPECT_TRUE(d.Window()->SystemMenu()->isVisible());
        d.Window()->SystemMenu()->hide();
        for (QAction* a : d.Window()->SystemMenu()->actions())
            if (a->data().toUInt() == SC_CLOSE) a->trigger();
    });
    EXPECT_EQ(result, IDCANCEL);
}

// Verify compares with the last run and says so in the notice line; before a run
// it reads nothing.
TEST_F(SystemMenuTest, VerifyComparesWithTheLastRunAndShowsTheResult) {
    SimulatedModule module(timeline, timeline.io, kPortBases[0]);
    module.SetControllerCount(1);  // the 16x2 the dialog starts with
    CLcdTestDlg dlg;
    std::vector<std::string> told;
    dlg.m_onVerified = [&](const VerifyResult& r) { told.push_back(r.Summary()); };
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        const std::size_t writes = timeline.WriteCount();
        d.SendMessage(WM_SYSCOMMAND, IDM_VERIFY);
        EXPECT_EQ(timeline.WriteCount(), writes);
        d.SendCommand(BN_CLICKED, IDC_INIT_4BIT);
        d.SendMessage(WM_SYSCOMMAND, IDM_VERIFY);
        EXPECT_EQ(d.Window()->Notice()->text().toStdString(),
                  "PASS: 16x2 4-bit, 97 bytes read back as sent");
    });
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0], "Verify: nothing to compare; run Init 8-bit or Init 4-bit first");
}

}  // namespace
