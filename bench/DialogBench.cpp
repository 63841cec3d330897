#include "bench/DialogBench.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "afx/DialogWindow.h"
#include "afx/IdleRepaint.h"
#include "base/PreciseSleep.h"
#include "io/PortIo.h"
#include "port/LineState.h"
#include "res/Resource.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"
#include "ui/LcdTestDlg.h"

namespace {

using Steady = std::chrono::steady_clock;

// How long the window may take to appear on screen, and how long its first
// paints are given before anything is timed.
constexpr std::chrono::seconds kExposeTimeout{10};
constexpr std::chrono::milliseconds kSettleTime{100};
constexpr int kEventSliceMs = 10;

// Refresh calls left out of the figures while caches and glyphs warm up.
constexpr std::size_t kWarmUpCalls = 64;
// Steps the data latch through all 256 values, several bits at a time, as a
// test run does.
constexpr unsigned kLatchStride = 37;
constexpr double kNanosPerMicro = 1000.0;
// Data refreshes timed after a sleep, and the sleep: as long as each of a bus
// cycle's own.
constexpr std::size_t kRefreshesAfterSleep = 500;
constexpr std::uint32_t kCycleSleepMs = 1;

// Times each refresh of a run by its port write, which is the refresh's last
// step: from the later of the previous write and the last sleep's end. Added
// after the simulated module, so the module's share of a write is counted.
class RefreshTimer final : public PortObserver {
public:
    RefreshTimer(const TimedClock& clock, PortIo& io) : clock_(clock), io_(io) {
        io_.AddObserver(this);
    }
    ~RefreshTimer() override { io_.RemoveObserver(this); }
    RefreshTimer(const RefreshTimer&) = delete;
    RefreshTimer& operator=(const RefreshTimer&) = delete;

    void Start() {
        data.clear();
        control.clear();
        lastWrite_ = SteadyNanos();
    }

    void OnPortWrite(std::uint32_t address, std::uint8_t) override {
        const std::uint64_t now = SteadyNanos();
        const std::uint64_t from = std::max(lastWrite_, clock_.LastWakeNanos());
        const double micros = static_cast<double>(now - from) / kNanosPerMicro;
        (address == g_lines.portBase ? data : control).push_back(micros);
        lastWrite_ = now;
    }

    std::size_t Writes() const { return data.size() + control.size(); }

    std::vector<double> data;
    std::vector<double> control;

private:
    const TimedClock& clock_;
    PortIo& io_;
    std::uint64_t lastWrite_ = 0;
};

// Lets a window come up on screen and finish its first paints, so the timed
// part repaints a visible window, as the user's would be.
std::string WaitUntilShown(QWidget* window) {
    if (!window) return "the dialog has no window";
    const auto limit = Steady::now() + kExposeTimeout;
    while (!window->windowHandle() || !window->windowHandle()->isExposed()) {
        if (Steady::now() > limit) return "a window never appeared on screen";
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
    }
    const auto settled = Steady::now() + kSettleTime;
    while (Steady::now() < settled)
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
    return {};
}

// Runs `body` on the shown dialog from inside its modal loop, as a user's click
// would arrive, then ends the dialog. Returns what went wrong, if anything.
template <class Body>
std::string WithShownDialog(CLcdTestDlg& dlg, Body body) {
    std::string error;
    dlg.m_onShown = [&](CDialog&) {
        QTimer::singleShot(0, [&] {
            error = WaitUntilShown(dlg.Window());
            if (error.empty()) error = body(dlg);
            dlg.EndDialog(IDOK);
        });
    };
    if (dlg.DoModal() < 0) return "the main dialog could not be created";
    return error;
}

}  // namespace

RunResult RunThroughDialog(Clock& sleeper, int sizeIndex, BusWidth width, bool showModule) {
    RunResult result;
    PortIo io;  // a fresh simulated port
    const ScopedPortIo useIo(io);
    TimedClock timed(sleeper);
    const ScopedClock useTimed(timed);  // before the dialog, which keeps the clock it finds
    SimulatedModule module(timed, io, PortBaseForSelection(0));
    RefreshTimer refreshes(timed, io);
    std::unique_ptr<ModuleView> view;
    if (showModule) view = std::make_unique<ModuleView>(module, timed);

    CLcdTestDlg dlg;
    dlg.m_onPortChosen = [&](std::uint32_t base) { module.AttachToPort(base); };
    if (view) dlg.m_onSizeChosen = [&](int size) { view->SetSizeIndex(size); };
    const int initButton = width == BusWidth::Eight ? IDC_INIT_8BIT : IDC_INIT_4BIT;
    result.error = WithShownDialog(dlg, [&](CLcdTestDlg& d) -> std::string {
        auto* size = qobject_cast<QComboBox*>(d.ControlWidget(IDC_SIZE));
        auto* init = qobject_cast<QAbstractButton*>(d.ControlWidget(initButton));
        if (!size || !init) return "the dialog lacks the Size list or the Init button";
        if (view) {
            view->ShowBeside(*d.Window());
            if (std::string error = WaitUntilShown(view.get()); !error.empty()) return error;
        }
        size->setCurrentIndex(sizeIndex);
        d.SendCommand(CBN_CLOSEUP, IDC_SIZE);
        QCoreApplication::processEvents();  // the size's texts paint before the timing
        timed.Clear();
        refreshes.Start();
        const std::uint64_t start = SteadyNanos();
        init->click();
        result.wallNanos = SteadyNanos() - start;
        return {};
    });
    result.requestedNanos = timed.RequestedNanos();
    result.sleptNanos = timed.ActualNanos();
    result.sleeps = timed.Sleeps().size();
    result.portWrites = refreshes.Writes();
    result.dataRefresh = SpreadOf(std::move(refreshes.data));
    result.controlRefresh = SpreadOf(std::move(refreshes.control));
    for (int c = 0; c < SimulatedModule::kControllers; ++c)
        result.timingViolations += module.Controller(c).TimingViolations();
    return result;
}

RefreshCost MeasureRefreshes(std::size_t calls) {
    RefreshCost cost;
    PortIo io;  // a fresh simulated port
    const ScopedPortIo useIo(io);
    CLcdTestDlg dlg;
    cost.error = WithShownDialog(dlg, [&](CLcdTestDlg& d) -> std::string {
        std::vector<double> data;
        std::vector<double> control;
        std::vector<double> pause;
        data.reserve(calls);
        control.reserve(calls);
        pause.reserve(calls);
        for (std::size_t i = 0; i < kWarmUpCalls + calls; ++i) {
            g_lines.dataLatch = static_cast<std::uint8_t>(i * kLatchStride);
            std::uint64_t start = SteadyNanos();
            d.RefreshDataPort();
            const std::uint64_t dataNanos = SteadyNanos() - start;

            g_lines.controlFlags = i % 2 ? kLineE0 : 0;  // an enable pulse's two edges
            start = SteadyNanos();
            d.RefreshControlPort();
            const std::uint64_t controlNanos = SteadyNanos() - start;

            start = SteadyNanos();
            RepaintWaitingWidgets();  // what the next sleep does
            const std::uint64_t pauseNanos = SteadyNanos() - start;

            if (i < kWarmUpCalls) continue;
            data.push_back(static_cast<double>(dataNanos) / kNanosPerMicro);
            control.push_back(static_cast<double>(controlNanos) / kNanosPerMicro);
            pause.push_back(static_cast<double>(pauseNanos) / kNanosPerMicro);
        }
        cost.data = SpreadOf(std::move(data));
        cost.control = SpreadOf(std::move(control));
        cost.pause = SpreadOf(std::move(pause));

        // The same data refreshes, each after a sleep of a bus cycle's length,
        // as a test run makes them.
        MonotonicClock sleeper;
        std::vector<double> afterSleep;
        afterSleep.reserve(kRefreshesAfterSleep);
        for (std::size_t i = 0; i < kRefreshesAfterSleep; ++i) {
            g_lines.dataLatch = static_cast<std::uint8_t>(i * kLatchStride);
            sleeper.SleepMillis(kCycleSleepMs);
            const std::uint64_t start = SteadyNanos();
            d.RefreshDataPort();
            afterSleep.push_back(static_cast<double>(SteadyNanos() - start) / kNanosPerMicro);
        }
        cost.dataAfterSleep = SpreadOf(std::move(afterSleep));
        return {};
    });
    return cost;
}
