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
        QWidget* modal = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != dlg.Window() && w->isVisible() && qobject_cast<QDialog*>(w)) modal = w;
        if (!modal) return;
        EXPECT_EQ(QApplication::activeModalWidget(), modal);
        title = modal->windowTitle();
        QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, closeKey);
    });
    dlg.SendMessage(WM_SYSCOMMAND, command);
    QCoreApplication::processEvents();
    return title;
}

TEST_F(SystemMenuTest, EndsWithOneSeparatorAndTheAboutEntry) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        const QList<QAction*> actions = d.Window()->SystemMenu()->actions();
        ASSERT_GE(actions.size(), 3);
        int separators = 0;
        for (QAction* a : actions) separators += a->isSeparator();
        EXPECT_EQ(separators, 1);
        EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
        EXPECT_EQ(actions.back()->text(), "&About TORV_VozUriz...");
        EXPECT_EQ(actions.back()->data().toUInt(), IDM_ABOUTBOX);
        // The platform's own close entry is there and sends the close command.
        QAction* close = nullptr;
        for (QAction* a : actions)
            if (a->data().toUInt() == SC_CLOSE) close = a;
        ASSERT_NE(close, nullptr);
    });
}

TEST_F(SystemMenuTest, CommandsSixteenToThirtyOneOpenTheAboutBoxAndLeaveAllAlone) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        const std::size_t writes = timeline.WriteCount();
        for (UINT command : {16u, 17u, 31u}) {
            EXPECT_EQ(SendAndCloseAbout(d, command, Qt::Key_Return), "About TORV_VozUriz")
                << command;
        }
        EXPECT_EQ(SendAndCloseAbout(d, IDM_ABOUTBOX, Qt::Key_Escape), "About TORV_VozUriz");
        EXPECT_EQ(SendAndCloseAbout(d, 15, Qt::Key_Escape), "");
        EXPECT_EQ(SendAndCloseAbout(d, 32, Qt::Key_Escape), "");
        EXPECT_TRUE(d.Window()->isVisible());
        EXPECT_TRUE(d.Window()->isEnabled());
        EXPECT_EQ(timeline.WriteCount(), writes);
    });
}

TEST_F(SystemMenuTest, RightClickOnTheBackgroundOpensTheMenu) {
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        const QPoint where(1, 1);
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, where,
                                     d.Window()->mapToGlobal(where));
        QApplication::sendEvent(d.Window(), &rightClick);
        EXPECT_TRUE(d.Window()->SystemMenu()->isVisible());
        d.Window()->SystemMenu()->hide();
    });
}

TEST_F(SystemMenuTest, CloseFromTheMenuCancels) {
    CLcdTestDlg dlg;
    const INT_PTR result = RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        for (QAction* a : d.Window()->SystemMenu()->actions())
            if (a->data().toUInt() == SC_CLOSE) a->trigger();
    });
    EXPECT_EQ(result, IDCANCEL);
}

}  // namespace
