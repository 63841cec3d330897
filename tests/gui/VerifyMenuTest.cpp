#include <gtest/gtest.h>

#include <QLabel>

#include "gui/DialogHarness.h"
#include "res/Resource.h"
#include "sim/SimulatedModule.h"
#include "ui/LcdTestDlg.h"

namespace {

class VerifyMenuTest : public ::testing::Test, protected DialogFixtureBase {};

// The system menu's Verify compares with the last run and says so in the notice
// line; before a run it reads nothing.
TEST_F(VerifyMenuTest, ComparesWithTheLastRunAndShowsTheResult) {
    SimulatedModule module(timeline, kPortBases[0]);
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
