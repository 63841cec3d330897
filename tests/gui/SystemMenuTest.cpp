#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "gui/DialogHarness.h"
#include "res/Resource.h"
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

}  // namespace
