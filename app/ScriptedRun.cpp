#include "app/ScriptedRun.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/CommonOptions.h"
#include "app/Display.h"
#include "app/PortSession.h"
#include "base/Clock.h"
#include "base/HexText.h"
#include "io/PortIo.h"
#include "io/record/PortTrace.h"
#include "io/record/VcdWriter.h"
#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "lcd/Verify.h"
#include "port/LinePanel.h"
#include "port/LineView.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"

namespace {

constexpr std::size_t kDetailLines = 8;

// The line panel's view when there is no dialog: nothing to mirror into.
class NoLineView final : public LineView {
public:
    explicit NoLineView(int portSelection) : portSelection_(portSelection) {}
    void SetLineCheck(int, bool) override {}
    void ShowReadouts(const Readouts&) override {}
    int PortSelection() const override { return portSelection_; }

private:
    int portSelection_;
};

// The line boxes of a scripted run: the size's demo texts unless given.
class ScriptedBoxes final : public TestRunSource {
public:
    explicit ScriptedBoxes(const ScriptedRun& run) : run_(run) {}
    int SizeSelection() const override { return run_.choice.sizeIndex; }
    std::string LineBoxText(int lineBoxId) const override {
        for (int n = 0; n < 4; ++n) {
            if (kLineBoxes[n] != lineBoxId) continue;
            return run_.lines[n].value_or(kSizeDemos[run_.choice.sizeIndex].lineText[n]);
        }
        return {};
    }

private:
    const ScriptedRun& run_;
};

int Usage(const std::string& message) {
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    return kExitUsage;
}

bool HasArgument(int argc, char** argv, const char* name) {
    const std::size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, length) == 0 &&
            (argv[i][length] == '\0' || argv[i][length] == '='))
            return true;
    return false;
}

}  // namespace

bool IsScriptedRun(int argc, char** argv) {
    return HasArgument(argc, argv, "--run");
}

ScriptedResult RunScriptedTest(const ScriptedRun& run, Clock& clock) {
    PortIo& port = ThePortIo();
    const auto unreachable = [&]() -> std::optional<ScriptedResult> {
        if (!port.Log().LastPortProblem().empty())
            return ScriptedResult{
                kExitPortUnreachable, "ERROR: " + port.Log().LastPortProblem(), {}};
        if (port.Simulated() && !run.simulationAsked)
            return ScriptedResult{kExitPortUnreachable,
                                  "ERROR: no parallel port could be reached (--port-io=sim runs "
                                  "on the simulated module)",
                                  {}};
        return std::nullopt;
    };
    if (auto failed = unreachable()) return *failed;
    // Refused before anything is written, as the dialog refuses.
    std::string refusal = RunRefusal(run.portBase, run.choice.sizeIndex, run.choice.width);
    if (refusal.empty() && run.verify) {
        if (const std::string cannot = VerifyRefusal(run.portBase); !cannot.empty())
            refusal = "Verify " + cannot;
    }
    if (!refusal.empty()) return {kExitUsage, "REFUSED: " + refusal, {}};

    NoLineView view(PortSelectionForBase(run.portBase));
    LinePanel panel(view);
    panel.OnCloseupPort();
    ModuleDriver driver(panel, clock);
    // At rest first, as the dialog starts.
    panel.ReturnToRest();

    const TestRunRecord sent =
        RunDisplayTest(driver, panel, clock, run.choice.width, ScriptedBoxes(run));
    if (auto failed = unreachable()) return *failed;
    if (!run.verify)
        return {
            kExitOk,
            "DONE: " + RunName(run.choice.sizeIndex, run.choice.width) + " run sent, not verified",
            {}};

    const VerifyResult result = VerifyModule(driver, panel, clock, sent);
    if (auto failed = unreachable()) return *failed;
    if (result.outcome == VerifyResult::Outcome::PortUnreadable)
        return {kExitPortUnreachable, "ERROR: " + result.Summary(), {}};
    const bool pass = result.outcome == VerifyResult::Outcome::Pass;
    return {pass ? kExitOk : kExitFail, result.Summary(), result.Details(kDetailLines)};
}

namespace {

// The options of a scripted run beside the ones it shares with the dialog.
class ScriptedOptionSet {
public:
    ScriptedOptionSet()
        : run_("run", "The size and bus width, e.g. 16x2:8 or 40x4:4.", "SIZE:8|4"),
          verify_("verify", "Read the module back and compare."),
          noWindow_("no-window", "Show no window, even with a display."),
          port_("port", QString::fromStdString("The port: " + PortListText("(default)") + "."),
                "BASE", QString::fromStdString(HexAddress(kPortBases[0]))) {
        for (int n = 1; n <= 4; ++n)
            lines_.emplace_back(
                QStringLiteral("line%1").arg(n),
                QStringLiteral("The text of line %1 (default: the size's demo text).").arg(n),
                "TEXT");
    }

    void AddTo(QCommandLineParser& parser) const {
        for (const auto& option : {run_, verify_, noWindow_, port_}) parser.addOption(option);
        common_.AddTo(parser);
        for (const auto& option : lines_) parser.addOption(option);
    }

    // Reads them from a parser that has parsed; "" or the usage error to tell.
    std::string Read(const QCommandLineParser& parser, ScriptedRun& run,
                     CommonOptions& options) const {
        if (!parser.positionalArguments().isEmpty())
            return "unexpected argument \"" + parser.positionalArguments().front().toStdString() +
                   "\"";
        const auto choice = ParseRunChoice(parser.value(run_).toStdString());
        if (!choice)
            return "--run takes a size and a bus width such as 16x2:8 or 40x4:4, not \"" +
                   parser.value(run_).toStdString() + "\"";
        run.choice = *choice;
        run.verify = parser.isSet(verify_);
        for (int n = 0; n < 4; ++n)
            if (parser.isSet(lines_[n]))
                run.lines[n] = parser.value(lines_[n]).toLatin1().toStdString();
        bool number = false;
        run.portBase = parser.value(port_).toUInt(&number, 0);
        if (!number || PortSelectionForBase(run.portBase) < 0)
            return "--port takes " + PortListText() + ", not \"" +
                   parser.value(port_).toStdString() + "\"";
        if (std::string error = common_.Read(parser, options); !error.empty()) return error;
        run.simulationAsked = options.portIo == PortIoMode::Sim;
        return "";
    }

private:
    QCommandLineOption run_, verify_, noWindow_, port_;
    std::vector<QCommandLineOption> lines_;
    CommonOptionSet common_;
};

// The command line read into `run` and `options`; nullopt when the run is not
// to go on, with the status to end with (after --help, or a usage error told).
std::optional<int> ParseScriptedRun(const QCoreApplication& app, ScriptedRun& run,
                                    CommonOptions& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Scripted run: one test run of the module, optionally read back, and one result line. "
        "Exit status 0 PASS (or sent, without --verify), 1 FAIL, 2 usage error, 3 port not "
        "reached, 4 the trace or waveform lost data.");
    const QCommandLineOption help = parser.addHelpOption();
    const ScriptedOptionSet set;
    set.AddTo(parser);
    if (!parser.parse(app.arguments())) return Usage(parser.errorText().toStdString());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return kExitOk;
    }
    if (const std::string error = set.Read(parser, run, options); !error.empty())
        return Usage(error);
    return std::nullopt;
}

}  // namespace

int RunScripted(int argc, char** argv) {
    // Without a reachable display the run goes on without a window.
    const bool window = !HasArgument(argc, argv, "--no-window") && DisplayProblem().empty();
    std::unique_ptr<QCoreApplication> app;
    if (window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName("lcdtest");

    ScriptedRun run;
    CommonOptions options;
    if (const std::optional<int> status = ParseScriptedRun(*app, run, options)) return *status;

    PortSession session(options, run.portBase, TheClock());
    if (!session.Error().empty()) return Usage(session.Error());
    std::unique_ptr<ModuleView> view;
    if (SimulatedModule* module = session.Module()) {
        // A module with one controller has nothing on pin 17.
        module->SetControllerCount(kModuleGeometry[run.choice.sizeIndex].controllerCount);
        if (window) {
            view = std::make_unique<ModuleView>(*module, TheClock());
            view->SetSizeIndex(run.choice.sizeIndex);
            view->show();
        }
    }
    const ScriptedResult result = RunScriptedTest(run, TheClock());
    for (const std::string& detail : result.details)
        std::fprintf(stderr, "lcdtest: %s\n", detail.c_str());
    std::printf("%s\n", result.line.c_str());
    std::fflush(stdout);
    return session.Finish(result.status);
}
