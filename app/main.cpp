// Start-up: command-line extras, the port back-end, the simulated module, then
// the application object runs the main dialog.

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/LcdTestApp.h"
#include "app/ScriptedRun.h"
#include "lcd/Geometry.h"
#include "platform/Clock.h"
#include "platform/PortIo.h"
#include "platform/PortIoMode.h"
#include "platform/PortTrace.h"
#include "platform/qt/DialogWindow.h"
#include "platform/qt/WinApp.h"
#include "port/LineState.h"
#include "res/Resources.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/VcdWriter.h"
#include "sim/view/ModuleView.h"
#include "ui/LcdTestDlg.h"

namespace {

constexpr int kUsageError = 2;

// The module view takes the Size list's selection as its layout index.
static_assert(kModuleLayoutCount == kModuleSizeCount, "one module layout per Size list entry");

struct Options {
    QString tracePath;
    QString vcdPath;
    PortIoMode portIo = kDefaultPortIoMode;
    WiringFault simFault;
    std::vector<PortMapping> portMap;
};

// Parses the extras; with no arguments the tool behaves as it always does.
Options ParseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Bench test for HD44780 character LCD modules on a parallel port.\n"
        "Without a parallel port it drives a simulated module.\n"
        "Scripted runs: lcdtest --run SIZE:8|4 [--verify] ... (lcdtest --run - --help).");
    parser.addHelpOption();
    parser.addVersionOption();
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
    const QCommandLineOption simFault = SimFaultOption();
    parser.addOption(simFault);
    const QCommandLineOption portMap(
        kPortMapOptionName,
        QString::fromUtf8(PortMapOptionHelp().data(), PortMapOptionHelp().size()), "BASE=DEVICE");
    parser.addOption(portMap);
    parser.process(app);

    Options options;
    options.tracePath = parser.value(trace);
    options.vcdPath = parser.value(vcd);
    const std::string mode = parser.value(portIo).toStdString();
    const auto parsed = ParsePortIoMode(mode);
    if (!parsed) {
        std::fprintf(stderr, "lcdtest: unknown --port-io mode \"%s\" (auto, sim, ppdev or raw)\n",
                     mode.c_str());
        std::exit(kUsageError);
    }
    options.portIo = *parsed;
    if (!ApplySimFault(parser.value(simFault), options.portIo, options.simFault))
        std::exit(kUsageError);
    for (const QString& value : parser.values(portMap)) {
        const std::string error = AddPortMapping(options.portMap, value.toStdString());
        if (error.empty()) continue;
        std::fprintf(stderr, "lcdtest: %s\n", error.c_str());
        std::exit(kUsageError);
    }
    return options;
}

// Without any display the toolkit would abort; say plainly what is missing.
bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    // Scripted runs (--run) have their own options and need no display.
    if (IsScriptedRun(argc, argv)) return RunScripted(argc, argv);

    // Without a display the toolkit would abort. The options are still read
    // offscreen, so that --help and --version answer; anything else is refused.
    const bool display = HasDisplay();
    if (!display) qputenv("QT_QPA_PLATFORM", "offscreen");
    PreferPlainXImages();
    QApplication app(argc, argv);
    QApplication::setApplicationName("lcdtest");
    QApplication::setApplicationVersion(LCDTEST_VERSION);
    const Options options = ParseOptions(app);
    if (!display) {
        std::fprintf(stderr,
                     "lcdtest: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it "
                     "from a desktop session\n");
        return 1;
    }
    RegisterApplicationResources();

    PortIo& port = PortIo::Instance();
    port.SetBackend(MakePortBackend(options.portIo, options.portMap));

    PortTrace trace;
    if (!options.tracePath.isEmpty() && !trace.Open(options.tracePath.toStdString())) {
        std::fprintf(stderr, "lcdtest: cannot write the trace file %s\n",
                     qPrintable(options.tracePath));
        return kUsageError;
    }

    // The cable starts on the first port of the list, as the dialog does.
    const std::uint32_t startPort = PortBaseForSelection(0);
    std::unique_ptr<SimulatedModule> module;
    std::unique_ptr<ModuleView> view;  // beside the dialog, only for the simulated module
    if (port.Simulated()) {
        module = std::make_unique<SimulatedModule>(TheClock(), startPort);
        module->SetWiringFault(options.simFault);
        view = std::make_unique<ModuleView>(*module, TheClock());
    }

    VcdWriter vcd(TheClock());
    if (!options.vcdPath.isEmpty() && !vcd.Open(options.vcdPath.toStdString(), startPort)) {
        std::fprintf(stderr, "lcdtest: %s\n", vcd.Error().c_str());
        return kUsageError;
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
        dlg.m_onVerified = [&](const VerifyResult& result) {
            view->SetVerifyResult(QString::fromStdString(result.Summary()));
        };
        // Placed once the dialog is up and its frame is known.
        dlg.m_onShown = [&](CDialog&) {
            QTimer::singleShot(0, view.get(), [&] {
                if (QWidget* window = dlg.Window()) view->ShowBeside(*window);
            });
        };
    };
    const int status = AfxWinMain();
    port.SetProblemSink({});
    return status;
}
