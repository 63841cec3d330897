// The benchmark: how close the test runs come to the delays they must request,
// with the precise sleep and with a plain sleep_for, and what one refresh costs,
// on a quiet machine and under a CPU load of the benchmark's own. Prints a
// table, then one "BENCH key=value ..." line per figure.

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "afx/WinApp.h"
#include "app/Display.h"
#include "app/ExitStatus.h"
#include "base/PreciseSleep.h"
#include "bench/CpuLoad.h"
#include "bench/DetectBench.h"
#include "bench/DialogBench.h"
#include "bench/SleepTiming.h"
#include "lcd/Geometry.h"
#include "res/Resources.h"
#include "sim/ModuleLayout.h"

namespace {

constexpr std::size_t kDefaultSleepSamples = 500;
constexpr std::size_t kDefaultRefreshCalls = 2000;
constexpr std::size_t kDefaultRepeat = 3;
constexpr std::uint32_t kSpreadSleepsMs[] = {1, 2};

// The parts of the benchmark, for --only.
constexpr char kPartOvershoot[] = "overshoot";
constexpr char kPartRuns[] = "runs";
constexpr char kPartRefresh[] = "refresh";
constexpr char kPartDetect[] = "detect";

constexpr double kNanosPerMilli = 1e6;
constexpr double kPercent = 100.0;

// printf into a string.
template <class... Args>
std::string Format(const char* format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format, args...);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.pop_back();
    return text;
}

// What each run must request and write, so a changed run is never taken for a
// faster one. A deliberate copy, independent of the tool's code (the tests hold
// their own): the benchmark refuses to time a run that has drifted from it.
struct ReferenceRun {
    int sizeIndex;
    BusWidth width;
    std::uint32_t requestedMs;
    std::size_t portWrites;

    int Bits() const { return width == BusWidth::Eight ? 8 : 4; }
    std::string Module() const { return ModuleSizeName(sizeIndex); }
    std::string Name() const { return Format("%s %d-bit", Module().c_str(), Bits()); }
};
constexpr ReferenceRun kReferenceRuns[] = {
    {kSize16x2, BusWidth::Eight, 599, 547},
    {kSize16x2, BusWidth::Four, 813, 870},
    {kSize40x4, BusWidth::Eight, 1582, 1572},
    {kSize40x4, BusWidth::Four, 2202, 2506},
};

// The goals. Quiet: a run within these ratios of its requested delays, and a
// data refresh within this many microseconds on a real display server. Under
// load: a run within the loaded ratio offscreen (none is set on a display,
// whose server shares the loaded cores), and shorter than with sleep_for.
constexpr double kTargetRatioOffscreen = 1.01;
constexpr double kTargetRatioDisplay = 1.02;
constexpr double kTargetRatioLoadedOffscreen = 1.03;
constexpr double kTargetDataRefreshMicros = 100.0;

struct RunGoal {
    double ratio = 0;  // 0: no ratio to keep
    bool belowPlain = false;
};

RunGoal GoalFor(unsigned load, bool onDisplay) {
    if (load == 0) return {onDisplay ? kTargetRatioDisplay : kTargetRatioOffscreen, false};
    return {onDisplay ? 0.0 : kTargetRatioLoadedOffscreen, true};
}

std::string GoalText(const RunGoal& goal) {
    std::string text;
    if (goal.ratio > 0) text = Format("within %.2f of its requested delays", goal.ratio);
    if (goal.belowPlain)
        text += std::string(text.empty() ? "" : " and ") + "shorter than with sleep_for";
    return text;
}

// A sleep to measure. Each measurement makes a clock of its own and ends it,
// so what the precise clock sets on the thread (its scheduler slice) is
// given back before the plain sleep is measured.
struct Sleeper {
    const char* name;
    std::unique_ptr<Clock> (*make)();
};

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string oneMinute;
    return in >> oneMinute ? oneMinute : "unknown";
}

void PrintSpreadRow(const char* label, const Spread& s) {
    std::printf(" %-16s %9.1f %9.1f %9.1f %9.1f %9.1f\n", label, s.min, s.median, s.p99, s.max,
                s.mean);
}

std::string SpreadFields(const Spread& s) {
    return Format("count=%zu min_us=%.2f median_us=%.2f p99_us=%.2f max_us=%.2f mean_us=%.2f",
                  s.count, s.min, s.median, s.p99, s.max, s.mean);
}

// The head of a table of spreads, its first column the load.
void PrintSpreadHeader(const char* what) {
    std::printf("  %-4s %-16s %9s %9s %9s %9s %9s\n", "load", what, "min", "median", "p99", "max",
                "mean");
}

// False, after saying why, when the load's processes could not be started.
bool Started(const CpuLoad& running) {
    if (running.Error().empty()) return true;
    std::fprintf(stderr, "lcdbench: %s\n", running.Error().c_str());
    return false;
}

bool MeasureSleepSpread(const std::vector<Sleeper>& sleepers, const std::vector<unsigned>& loads,
                        std::size_t samples, std::vector<std::string>& lines) {
    std::printf("\nSleep overshoot, microseconds (%zu sleeps each)\n", samples);
    PrintSpreadHeader("sleep");
    for (const unsigned load : loads) {
        const CpuLoad running(load);
        if (!Started(running)) return false;
        for (const Sleeper& sleeper : sleepers) {
            for (const std::uint32_t ms : kSpreadSleepsMs) {
                const std::unique_ptr<Clock> clock = sleeper.make();
                TimedClock timed(*clock);
                for (std::size_t i = 0; i < samples; ++i) timed.SleepMillis(ms);
                const Spread s = SpreadOf(OvershootMicros(timed.Sleeps()));
                const std::string label = Format("%s %u ms", sleeper.name, ms);
                std::printf("  %-4u", load);
                PrintSpreadRow(label.c_str(), s);
                lines.push_back(
                    Format("figure=overshoot load=%u sleep=%s ms=%u ", load, sleeper.name, ms) +
                    SpreadFields(s));
            }
        }
    }
    return true;
}

// What a test run is measured with: a sleep, and whether the simulated module's
// view is shown beside the dialog. The runs without the view are compared with
// each other and held to the goals.
struct Configuration {
    const char* label;  // in the table and the messages
    const Sleeper* sleeper;
    bool showModule;
};

// Each sleep alone, then the first (the precise one) with the view.
std::vector<Configuration> ConfigurationsOf(const std::vector<Sleeper>& sleepers) {
    std::vector<Configuration> configurations;
    for (const Sleeper& sleeper : sleepers)
        configurations.push_back({sleeper.name, &sleeper, false});
    configurations.push_back({"prec+view", &sleepers.front(), true});
    return configurations;
}

// One configuration's repeats of a reference run under one load, and the
// repeat of median wall time, which stands for them all.
struct Series {
    const Configuration* configuration;
    std::vector<RunResult> repeats;
    RunResult median;
};

// One load: the series of the reference run at hand, in the configurations'
// order, and over every reference run so far the wall time with each other
// sleep over that with the first.
struct UnderLoad {
    unsigned load;
    std::vector<Series> series;
    std::string gains;
};

double Millis(std::uint64_t nanos) {
    return static_cast<double>(nanos) / kNanosPerMilli;
}

// Runs `ref` with every configuration under every load, `repeat` times each.
// Taken in turns, loads and sleepers alike, so a noisy stretch of the machine
// falls on every configuration alike rather than on one. False, after saying
// why, when a run did not take place.
bool CollectRuns(const ReferenceRun& ref, const std::vector<Configuration>& configurations,
                 std::size_t repeat, std::vector<UnderLoad>& loads) {
    for (UnderLoad& under : loads) {
        under.series.clear();
        for (const Configuration& configuration : configurations)
            under.series.push_back({&configuration, {}, {}});
    }
    for (std::size_t i = 0; i < repeat; ++i) {
        for (UnderLoad& under : loads) {
            const CpuLoad running(under.load);
            if (!Started(running)) return false;
            for (Series& series : under.series) {
                const Configuration& configuration = *series.configuration;
                const std::unique_ptr<Clock> clock = configuration.sleeper->make();
                RunResult result =
                    RunThroughDialog(*clock, ref.sizeIndex, ref.width, configuration.showModule);
                if (!result.error.empty()) {
                    std::fprintf(stderr, "lcdbench: %s with %s, load %u: %s\n", ref.Name().c_str(),
                                 configuration.label, under.load, result.error.c_str());
                    return false;
                }
                series.repeats.push_back(std::move(result));
            }
        }
    }
    for (UnderLoad& under : loads) {
        for (Series& series : under.series) {
            std::vector<RunResult> sorted = series.repeats;
            std::sort(sorted.begin(), sorted.end(), [](const RunResult& a, const RunResult& b) {
                return a.wallNanos < b.wallNanos;
            });
            series.median = sorted[(sorted.size() - 1) / 2];
        }
    }
    return true;
}

// False, after saying why, when the run requested or wrote other than it must,
// or the module saw a timing violation.
bool CheckRun(const ReferenceRun& ref, unsigned load, const Series& series) {
    const RunResult& r = series.median;
    bool ok = true;
    const auto expectedNanos = static_cast<std::uint64_t>(ref.requestedMs * kNanosPerMilli);
    if (r.requestedNanos != expectedNanos || r.portWrites != ref.portWrites) {
        std::fprintf(stderr,
                     "lcdbench: %s requested %.3f ms in %zu writes; it must request %u ms in %zu "
                     "writes\n",
                     ref.Name().c_str(), Millis(r.requestedNanos), r.portWrites, ref.requestedMs,
                     ref.portWrites);
        ok = false;
    }
    if (r.timingViolations != 0) {
        std::fprintf(stderr,
                     "lcdbench: %s with %s, load %u: the module saw %llu timing violations\n",
                     ref.Name().c_str(), series.configuration->label, load,
                     static_cast<unsigned long long>(r.timingViolations));
        ok = false;
    }
    return ok;
}

// The run's row in the table and its BENCH line.
void ReportRun(const ReferenceRun& ref, unsigned load, const Series& series,
               std::vector<std::string>& lines) {
    const Configuration& configuration = *series.configuration;
    const RunResult& r = series.median;
    const double requestedMs = Millis(r.requestedNanos);
    const double wallMs = Millis(r.wallNanos);
    std::printf("  %-11s %-4u %-10s %6.0f ms %7.1f ms %8.4f %8.1f %% %8.1f %% %7.1f /%6.1f\n",
                ref.Name().c_str(), load, configuration.label, requestedMs, wallMs, r.Ratio(),
                kPercent * r.OvershootShare(), kPercent * r.OtherShare(), r.dataRefresh.mean,
                r.controlRefresh.mean);
    lines.push_back(Format(
        "figure=run load=%u module=%s bus=%d sleep=%s view=%s requested_ms=%.3f wall_ms=%.3f "
        "ratio=%.5f overshoot_share=%.4f other_share=%.4f sleeps=%zu writes=%zu "
        "data_refresh_mean_us=%.2f data_refresh_median_us=%.2f control_refresh_mean_us=%.2f "
        "timing_violations=%llu",
        load, ref.Module().c_str(), ref.Bits(), configuration.sleeper->name,
        configuration.showModule ? "shown" : "none", requestedMs, wallMs, r.Ratio(),
        r.OvershootShare(), r.OtherShare(), r.sleeps, r.portWrites, r.dataRefresh.mean,
        r.dataRefresh.median, r.controlRefresh.mean,
        static_cast<unsigned long long>(r.timingViolations)));
}

// Each other sleep's wall time over the first's, and whether the first met
// its goal, on the runs without the view.
void ReportGoal(const ReferenceRun& ref, bool onDisplay, UnderLoad& under,
                std::vector<std::string>& lines) {
    std::vector<const Series*> compared;
    for (const Series& series : under.series)
        if (!series.configuration->showModule) compared.push_back(&series);
    const double firstWallMs = Millis(compared.front()->median.wallNanos);
    bool belowPlain = true;
    for (auto other = compared.begin() + 1; other != compared.end(); ++other) {
        const double gain = Millis((*other)->median.wallNanos) / firstWallMs;
        belowPlain = belowPlain && gain > 1;
        lines.push_back(Format("figure=gain load=%u module=%s bus=%d over=%s ratio=%.4f",
                               under.load, ref.Module().c_str(), ref.Bits(),
                               (*other)->configuration->sleeper->name, gain));
        under.gains += Format("  %s %.3f", ref.Name().c_str(), gain);
    }
    const RunGoal goal = GoalFor(under.load, onDisplay);
    const double ratio = firstWallMs / ref.requestedMs;
    const bool met = (goal.ratio == 0 || ratio <= goal.ratio) && (!goal.belowPlain || belowPlain);
    lines.push_back(
        Format("figure=target load=%u module=%s bus=%d goal_ratio=%s goal_below_plain=%s met=%s",
               under.load, ref.Module().c_str(), ref.Bits(),
               goal.ratio > 0 ? Format("%.2f", goal.ratio).c_str() : "none",
               goal.belowPlain ? "yes" : "no", met ? "yes" : "no"));
}

// Runs every reference run with each sleeper, then with the first sleeper and
// the module's view shown, under each load, and reports each as it is done;
// returns false when a run did not take place or did not request and write
// what it must.
bool MeasureRuns(const std::vector<Sleeper>& sleepers, const std::vector<unsigned>& loads,
                 std::size_t repeat, bool onDisplay, std::vector<std::string>& lines) {
    std::printf(
        "\nTest runs through the dialog (simulated port and module, real sleeps; median of %zu)\n",
        repeat);
    std::printf("  %-11s %-4s %-10s %9s %10s %8s %10s %10s %16s\n", "run", "load", "sleep",
                "requested", "wall", "ratio", "overshoot", "refreshes", "data/control us");
    const std::vector<Configuration> configurations = ConfigurationsOf(sleepers);
    std::vector<UnderLoad> underLoads;
    for (const unsigned load : loads) underLoads.push_back({load, {}, ""});
    bool ok = true;
    for (const ReferenceRun& ref : kReferenceRuns) {
        if (!CollectRuns(ref, configurations, repeat, underLoads)) return false;
        for (UnderLoad& under : underLoads) {
            for (const Series& series : under.series) {
                ReportRun(ref, under.load, series, lines);
                ok = CheckRun(ref, under.load, series) && ok;
            }
            ReportGoal(ref, onDisplay, under, lines);
        }
    }
    for (const UnderLoad& under : underLoads) {
        std::printf("  load %u: wall time with %s over wall time with %s:%s\n", under.load,
                    sleepers.back().name, sleepers.front().name, under.gains.c_str());
        std::printf("  load %u goal: every run with %s %s\n", under.load, sleepers.front().name,
                    GoalText(GoalFor(under.load, onDisplay)).c_str());
    }
    return ok;
}

bool MeasureRefreshCost(std::size_t calls, const std::vector<unsigned>& loads, bool onDisplay,
                        std::vector<std::string>& lines) {
    std::printf("\nRefresh cost on a shown dialog, microseconds (%zu calls each)\n", calls);
    PrintSpreadHeader("register");
    for (const unsigned load : loads) {
        const CpuLoad running(load);
        if (!Started(running)) return false;
        const RefreshCost cost = MeasureRefreshes(calls);
        if (!cost.error.empty()) {
            std::fprintf(stderr, "lcdbench: refresh cost, load %u: %s\n", load, cost.error.c_str());
            return false;
        }
        const struct {
            const char* label;
            const char* key;
            const Spread& spread;
        } rows[] = {
            {"data", "data", cost.data},
            {"control", "control", cost.control},
            {"buttons at pause", "buttons_at_pause", cost.pause},
            {"data after 1 ms", "data_after_sleep", cost.dataAfterSleep},
        };
        for (const auto& row : rows) {
            std::printf("  %-4u", load);
            PrintSpreadRow(row.label, row.spread);
            lines.push_back(Format("figure=refresh load=%u register=%s ", load, row.key) +
                            SpreadFields(row.spread));
        }
        if (onDisplay && load == 0) {
            lines.push_back(Format("figure=target load=0 register=data goal_us=%.0f met=%s",
                                   kTargetDataRefreshMicros,
                                   cost.data.median < kTargetDataRefreshMicros ? "yes" : "no"));
        }
    }
    std::printf(
        "  (buttons at pause: the line buttons that a data and a control refresh\n"
        "   changed, painted at the next pause, within the next sleep in a run;\n"
        "   data after 1 ms: a data refresh right after a 1 ms sleep, as in a run)\n");
    if (onDisplay)
        std::printf("  load 0 goal: a data refresh under %.0f us\n", kTargetDataRefreshMicros);
    return true;
}

// The offscreen platform says at every fixed-size window that it cannot pass
// size hints on; that says nothing about the figures, so it is left out.
QtMessageHandler g_standardMessages = nullptr;

void DropSizeHintNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("does not support propagateSizeHints"))) return;
    if (g_standardMessages) {
        g_standardMessages(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

// The option's count, or 0 when it is not a whole number.
std::size_t CountOption(const QCommandLineParser& parser, const QCommandLineOption& option) {
    bool ok = false;
    const qulonglong count = parser.value(option).toULongLong(&ok);
    return ok ? static_cast<std::size_t>(count) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    CWinApp application;
    QApplication::setApplicationName("lcdbench");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Times the test runs through the main dialog on the simulated port, the sleep's "
        "overshoot and the cost of one refresh, on the current Qt platform, quiet and under a "
        "CPU load of its own.");
    parser.addHelpOption();
    const QCommandLineOption sleepSamples("sleep-samples", "Sleeps per overshoot figure.", "N",
                                          QString::number(kDefaultSleepSamples));
    const QCommandLineOption refreshCalls("refresh-calls", "Calls per refresh figure.", "N",
                                          QString::number(kDefaultRefreshCalls));
    const QCommandLineOption only(
        "only", "Measures one part only: overshoot, runs, refresh or detect.", "PART");
    parser.addOption(sleepSamples);
    const QCommandLineOption repeatRuns("repeat", "Runs each test run N times; the median counts.",
                                        "N", QString::number(kDefaultRepeat));
    const QCommandLineOption loadOption(
        "load",
        "Measures with N CPU-bound processes of its own running (0: quiet); may be given more "
        "than once, the loads taking turns. Default: 0, then one per core.",
        "N");
    parser.addOption(refreshCalls);
    parser.addOption(repeatRuns);
    parser.addOption(loadOption);
    parser.addOption(only);
    AnswerHelpOrVersion(parser, argc, argv);
    // Without a display the toolkit would abort; as the tool, the benchmark says so.
    if (const std::string problem = DisplayProblem("lcdbench"); !problem.empty()) {
        std::fprintf(stderr, "lcdbench: %s\n", problem.c_str());
        return kExitNoDisplay;
    }
    // As in the tool: prepare the window system before it starts.
    PreferPlainXImages();
    g_standardMessages = qInstallMessageHandler(DropSizeHintNotes);
    QApplication app(argc, argv);
    RegisterApplicationResources();
    parser.process(app);
    const QString part = parser.value(only);
    if (!part.isEmpty() && part != QLatin1String(kPartOvershoot) &&
        part != QLatin1String(kPartRuns) && part != QLatin1String(kPartRefresh) &&
        part != QLatin1String(kPartDetect)) {
        std::fprintf(stderr, "lcdbench: --only takes overshoot, runs, refresh or detect\n");
        return kExitUsage;
    }
    const auto measures = [&](const char* name) { return part.isEmpty() || part == name; };
    const std::size_t samples = CountOption(parser, sleepSamples);
    const std::size_t calls = CountOption(parser, refreshCalls);
    const std::size_t repeat = CountOption(parser, repeatRuns);
    if (samples == 0 || calls == 0 || repeat == 0) {
        std::fprintf(stderr,
                     "lcdbench: --sleep-samples, --refresh-calls and --repeat take a count above "
                     "0\n");
        return kExitUsage;
    }

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<unsigned> loads;
    for (const QString& value : parser.values(loadOption)) {
        bool ok = false;
        const unsigned load = value.toUInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "lcdbench: --load takes a count of processes, 0 or more\n");
            return kExitUsage;
        }
        loads.push_back(load);
    }
    if (loads.empty()) loads = {0, cores};
    std::string loadList;
    for (const unsigned load : loads)
        loadList += (loadList.empty() ? "" : ", ") + std::to_string(load);

    const QString platform = QGuiApplication::platformName();
    const bool onDisplay = platform != QLatin1String("offscreen");
    std::printf(
        "lcdbench on the \"%s\" platform, Qt %s, %u cores, load average %s, %s\n"
        "loads: %s CPU-bound processes of its own\n",
        qPrintable(platform), qVersion(), cores, LoadAverage().c_str(),
        qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), loadList.c_str());

    const std::vector<Sleeper> sleepers = {
        {"precise", [] { return std::unique_ptr<Clock>(std::make_unique<MonotonicClock>()); }},
        {"sleep_for", [] { return std::unique_ptr<Clock>(std::make_unique<PlainSleepClock>()); }},
    };

    std::vector<std::string> lines;
    const bool overshootOk =
        !measures(kPartOvershoot) || MeasureSleepSpread(sleepers, loads, samples, lines);
    const bool runsOk =
        !measures(kPartRuns) || MeasureRuns(sleepers, loads, repeat, onDisplay, lines);
    const bool refreshOk =
        !measures(kPartRefresh) || MeasureRefreshCost(calls, loads, onDisplay, lines);
    // Modelled time, the same on any machine and platform: measured once, offscreen.
    const bool detectOk = !measures(kPartDetect) || onDisplay || MeasureDetection(lines);

    std::printf("\n");
    for (const std::string& line : lines)
        std::printf("BENCH platform=%s %s\n", qPrintable(platform), line.c_str());
    return overshootOk && runsOk && refreshOk && detectOk ? kExitOk : kExitFail;
}
