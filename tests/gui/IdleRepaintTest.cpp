// A refresh changes the line buttons' checks at once but leaves their painting
// to the next pause (a sleep, or the event loop), so it only waits for the
// readouts it must show before it returns. Nothing may be lost on the way.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <map>

#include "DialogHarness.h"
#include "base/Clock.h"
#include "port/LineState.h"
#include "res/Resource.h"
#include "ui/LcdTestDlg.h"

namespace {

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

class IdleRepaintTest : public ::testing::Test, protected DialogFixtureBase {};

TEST_F(IdleRepaintTest, DataRefreshPaintsReadoutsAtOnceAndChangedButtonsAtTheNextSleep) {
    RunModal<CLcdTestDlg>([&](CLcdTestDlg& d) {
        QCoreApplication::processEvents();  // the window's first paints
        PaintCounter paints(d);
        g_lines.dataLatch = 0x41;  // D6 and D0 go high
        d.RefreshDataPort();
        EXPECT_TRUE(qobject_cast<QAbstractButton*>(d.ControlWidget(IDC_D0_HIGH))->isChecked());
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
TEST_F(IdleRepaintTest, TheEventLoopPaintsEachButtonOnceAndAGoneDialogIsForgotten) {
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
        EXPECT_TRUE(qobject_cast<QAbstractButton*>(d.ControlWidget(IDC_E0_HIGH))->isChecked());
        paints.counts.clear();
        d.OnE0Low();
        EXPECT_EQ(paints.Of(IDC_E0_LOW), 0);
        Sleep(1);
        EXPECT_EQ(paints.Of(IDC_E0_LOW), 1);
    });
}

}  // namespace
