// Full test runs through the real dialog into the simulated module, on virtual
// time: what the module shows must be what the line boxes say.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "gui/DialogHarness.h"
#include "lcd/Geometry.h"
#include "lcd/LineText.h"
#include "lcd/TestRun.h"
#include "res/Resource.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "ui/LcdTestDlg.h"

namespace {

constexpr int kLineBoxes[] = {IDC_LINE1, IDC_LINE2, IDC_LINE3, IDC_LINE4};

// Escapes, custom characters and a literal backslash ahead of each demo text.
std::string TypedText(const char* demo) {
    return std::string("\\001\\\\x\\255") + demo;
}

void ChooseSize(CLcdTestDlg& d, int size) {
    qobject_cast<QComboBox*>(d.ControlWidget(IDC_SIZE))->setCurrentIndex(size);
    d.SendCommand(CBN_CLOSEUP, IDC_SIZE);
}

void TypeLines(CLcdTestDlg& d, int size) {
    for (int n = 0; n < 4; ++n) {
        auto* box = qobject_cast<QLineEdit*>(d.ControlWidget(kLineBoxes[n]));
        box->setText(QString::fromLatin1(TypedText(kSizeDemos[size].lineText[n])));
    }
}

// The bytes each physical row must show, from the line boxes' texts.
std::vector<std::vector<std::uint8_t>> ExpectedRows(int size) {
    const ModuleGeometry& g = kModuleGeometry[size];
    std::vector<std::vector<std::uint8_t>> lines;
    for (int n = 0; n < g.linesPerController * g.controllerCount; ++n) {
        const std::string text = TypedText(kSizeDemos[size].lineText[size == kSize16x1 ? 0 : n]);
        const std::string_view source =
            size == kSize16x1 && n == 1 ? SecondHalfText(text) : std::string_view(text);
        lines.push_back(EncodeLineText(source, g.columns));
    }
    if (size == kSize16x1) {  // one physical row of two halves
        lines[0].insert(lines[0].end(), lines[1].begin(), lines[1].end());
        lines.pop_back();
    }
    return lines;
}

std::vector<std::uint8_t> Shown(const VisibleRow& row) {
    std::vector<std::uint8_t> codes;
    for (const auto& code : row.codes) codes.push_back(code.value_or(0xFF));
    return codes;
}

void ExpectModuleShows(const SimulatedModule& module, int size) {
    const ModuleGeometry& g = kModuleGeometry[size];
    const auto rows = VisibleRows(size, module.Controller(0).State(), module.Controller(1).State());
    const auto expected = ExpectedRows(size);
    ASSERT_EQ(rows.size(), expected.size()) << kSizeDemos[size].name;
    for (std::size_t r = 0; r < rows.size(); ++r)
        EXPECT_EQ(Shown(rows[r]), expected[r]) << kSizeDemos[size].name << " row " << r;
    for (int c = 0; c < g.controllerCount; ++c) {
        const LcdController& controller = module.Controller(c);
        const ControllerState& s = controller.State();
        EXPECT_EQ(controller.TimingViolations(), 0u) << controller.LastViolation();
        EXPECT_TRUE(s.displayOn);
        EXPECT_FALSE(s.cursorOn);
        EXPECT_FALSE(s.blinkOn);
        EXPECT_TRUE(std::equal(s.cgram.begin(), s.cgram.end(), std::begin(kGlyphTable)));
    }
}

struct RunCase {
    int size;
    BusWidth width;
};

class SimulatedRunTest : public ::testing::TestWithParam<RunCase>, protected DialogFixtureBase {};

TEST_P(SimulatedRunTest, ModuleShowsTheLineBoxesAndTheGlyphs) {
    const RunCase c = GetParam();
    SimulatedModule module(clock, 0x378);
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        ChooseSize(d, c.size);
        TypeLines(d, c.size);
        const int button = c.width == BusWidth::Eight ? IDC_INIT_8BIT : IDC_INIT_4BIT;
        QTest::mouseClick(d.ControlWidget(button), Qt::LeftButton);
        ExpectModuleShows(module, c.size);
    });
}

std::vector<RunCase> AllRuns() {
    std::vector<RunCase> runs;
    for (int size = 0; size < kModuleSizeCount; ++size)
        for (BusWidth width : {BusWidth::Eight, BusWidth::Four}) runs.push_back({size, width});
    return runs;
}

INSTANTIATE_TEST_SUITE_P(EverySizeBothWidths, SimulatedRunTest, ::testing::ValuesIn(AllRuns()),
                         [](const auto& info) {
                             std::string name = kSizeDemos[info.param.size].name;
                             name.replace(name.find('x'), 1, "by");
                             return name +
                                    (info.param.width == BusWidth::Eight ? "_8bit" : "_4bit");
                         });

class SimulatedReinitTest : public ::testing::Test, protected DialogFixtureBase {};

TEST_F(SimulatedReinitTest, EitherWidthAfterTheOtherComesOutRight) {
    for (const auto& order :
         {std::pair{IDC_INIT_8BIT, IDC_INIT_4BIT}, {IDC_INIT_4BIT, IDC_INIT_8BIT}}) {
        SimulatedModule module(clock, 0x378);
        CLcdTestDlg dlg;
        RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
            ChooseSize(d, kSize40x4);
            TypeLines(d, kSize40x4);
            QTest::mouseClick(d.ControlWidget(order.first), Qt::LeftButton);
            QTest::mouseClick(d.ControlWidget(order.second), Qt::LeftButton);
            ExpectModuleShows(module, kSize40x4);
            EXPECT_EQ(module.Controller(0).State().eightBitBus, order.second == IDC_INIT_8BIT);
        });
    }
}

// Sleeps that take a thousandth of what was asked.
class HurriedClock final : public Clock {
public:
    std::uint64_t NowMicros() const override { return now_; }
    void SleepMillis(std::uint32_t ms) override { now_ += ms; }

private:
    std::uint64_t now_ = 0;
};

TEST(SimulatedTiming, ARunWithItsDelaysCutShortIsFlagged) {
    PortRecorder port;
    HurriedClock hurried;
    ScopedClock useClock(hurried);
    SimulatedModule module(hurried, 0x378);
    CLcdTestDlg dlg;
    RunModal<CLcdTestDlg>(dlg, [&](CLcdTestDlg& d) {
        QTest::mouseClick(d.ControlWidget(IDC_INIT_8BIT), Qt::LeftButton);
        EXPECT_GT(module.Controller(0).TimingViolations(), 0u);
    });
}

}  // namespace
