// Start-up: command-line extras, the port back-end, the simulated module, then
// the application object runs the main dialog.

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Display.h"
#include "app/LcdTestApp.h"
#include "platform/Clock.h"
#include "platform/OutputFile.h"
#include "platform/PortIo.h"
#include "platform/PortIoMode.h"
#include "platform/PortTrace.h"
#include "platform/qt/DialogWindow.h"
#include "port/LineState.h"
#include "sim/SimulatedModule.h"
#include "sim/VcdWriter.h"
#include "sim/view/ModuleView.h"
#include "ui/LcdTestDlg.h"

namespace {

struct Options {
    QString tracePath;
    QString vcdPath;
    PortIoMode portIo = kDefaultPortIoMode;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    std::exit(kExitUsage);
}

// Parses the extras; with no arguments the tool behaves as it always does.
Options ParseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Bench test for HD44780 character LCD modules on a parallel port.\n"
        "Without a parallel port it drives a simulated module.");
    parser.addHelpOption();
    const QCommandLineOption trace(
        "trace", "Log every port write to FILE: microseconds, address, value.", "FILE");
    const QCommandLineOption vcd(
        "vcd",
        "Record the twelve module lines of the selected port to FILE as a Value Change Dump.",
        "FILE");
    const QCommandLineOption portIo(
        kPortIoOptionName, QString::fromUtf8(PortIoOptionHelp().data(), PortIoOptionHelp().size()),
        kPortIoOptionValueName, "auto");
    parser.addOption(trace);
    parser.addOption(vcd);
    parser.addOption(portIo);
    // process() ends an unknown option with status 1; a usage error is 2.
    if (!parser.parse(app.arguments())) UsageError(parser.errorText().toStdString());
    parser.process(app);
    for (const QCommandLineOption* file : {&trace, &vcd}) {
        if (parser.isSet(*file) && parser.value(*file).isEmpty())
            UsageError("--" + file->names().front().toStdString() + " needs a file name");
    }
    if (!parser.positionalArguments().isEmpty())
        UsageError("unexpected argument \"" + parser.positionalArguments().front().toStdString() +
                   "\" (see --help)");

    Options options;
    options.tracePath = parser.value(trace);
    options.vcdPath = parser.value(vcd);
    const std::string mode = parser.value(portIo).toStdString();
    const auto parsed = ParsePortIoMode(mode);
    if (!parsed) UsageError("unknown --port-io mode \"" + mode + "\" (auto, sim, ppdev or raw)");
    options.portIo = *parsed;
    return options;
}

// Both files opened for writing would wreck each other.
bool OutputsClash(const Options& options) {
    if (options.tracePath.isEmpty() || options.vcdPath.isEmpty() ||
        !SameFile(options.tracePath.toStdString(), options.vcdPath.toStdString()))
        return false;
    std::fprintf(stderr,
                 "lcdtest: --trace and --vcd name the same file (%s and %s); give each its own\n",
                 qPrintable(options.tracePath), qPrintable(options.vcdPath));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::string problem = DisplayProblem(); !problem.empty()) {
        std::fprintf(stderr, "lcdtest: %s\n", problem.c_str());
        return kExitNoDisplay;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("lcdtest");
    const Options options = ParseOptions(app);
    if (OutputsClash(options)) return kExitUsage;

    PortIo& port = PortIo::Instance();
    port.SetBackend(MakePortBackend(options.portIo));

    PortTrace trace;
    if (!options.tracePath.isEmpty() && !trace.Open(options.tracePath.toStdString())) {
        std::fprintf(stderr, "lcdtest: %s\n", trace.Error().c_str());
        return kExitUsage;
    }

    // The cable starts on the first port of the list, as the dialog does.
    const std::uint32_t startPort = PortBaseForSelection(0);
    std::unique_ptr<SimulatedModule> module;
    std::unique_ptr<ModuleView> view;  // beside the dialog, only for the simulated module
    if (port.Simulated()) {
        module = std::make_unique<SimulatedModule>(TheClock(), startPort);
        view = std::make_unique<ModuleView>(*module, TheClock());
    }

    VcdWriter vcd(TheClock());
    if (!options.vcdPath.isEmpty() && !vcd.Open(options.vcdPath.toStdString(), startPort)) {
        std::fprintf(stderr, "lcdtest: %s\n", vcd.Error().c_str());
        return kExitUsage;
    }

    theApp.m_prepareDialog = [&](CLcdTestDlg& dlg) {
        port.SetProblemSink(
            [&dlg](const std::string& message) { dlg.ShowPlatformNotice(message); });
        if (!port.Problems().empty()) dlg.ShowPlatformNotice(port.Problems().back());
        dlg.m_onPortChosen = [&](std::uint32_t base) {
            if (module) module->AttachToPort(base);
            if (vcd.IsOpen()) vcd.AttachToPort(base);
            if (view) view->Refresh();
        };
        if (!view) return;
        dlg.m_onSizeChosen = [&](int sizeIndex) { view->SetSizeIndex(sizeIndex); };
        // Placed once the dialog is up and its frame is known.
        dlg.m_onShown = [&](CDialog&) {
            QTimer::singleShot(0, view.get(), [&] {
                if (QWidget* window = dlg.Window()) view->ShowBeside(*window);
            });
        };
    };
    const int status = AfxWinMain();
    port.SetProblemSink({});
    // A loss shows up at the latest here; it was told when it happened.
    trace.Close();
    vcd.Close();
    return trace.Lost() || vcd.Lost() ? kExitOutputLost : status;
}
