// Start-up: command-line extras, the port back-end, the simulated module, then
// the application object runs the main dialog.

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/CommonOptions.h"
#include "app/Display.h"
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

// The module view takes the Size list's selection as its layout index.
static_assert(kModuleLayoutCount == kModuleSizeCount, "one module layout per Size list entry");

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    std::exit(kExitUsage);
}

// Parses the extras; with no arguments the tool behaves as it always does.
CommonOptions ParseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Bench test for HD44780 character LCD modules on a parallel port.\n"
        "Without a parallel port it drives a simulated module.\n"
        "Scripted runs: lcdtest --run SIZE:8|4 [--verify] ... (lcdtest --run - --help).");
    parser.addHelpOption();
    parser.addVersionOption();
    const CommonOptionSet common;
    common.AddTo(parser);
    // process() ends an unknown option with status 1; a usage error is 2.
    if (!parser.parse(app.arguments())) UsageError(parser.errorText().toStdString());
    parser.process(app);  // --help and --version
    if (!parser.positionalArguments().isEmpty())
        UsageError("unexpected argument \"" + parser.positionalArguments().front().toStdString() +
                   "\" (see --help)");
    CommonOptions options;
    if (const std::string error = common.Read(parser, options); !error.empty()) UsageError(error);
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    // Scripted runs (--run) have their own options and need no display.
    if (IsScriptedRun(argc, argv)) return RunScripted(argc, argv);

    // Without a display the toolkit would abort. The options are still read
    // offscreen, so that --help and --version answer; anything else is refused.
    const std::string displayProblem = DisplayProblem();
    if (!displayProblem.empty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    PreferPlainXImages();
    QApplication app(argc, argv);
    QApplication::setApplicationName("lcdtest");
    QApplication::setApplicationVersion(LCDTEST_VERSION);
    const CommonOptions options = ParseOptions(app);
    if (!displayProblem.empty()) {
        std::fprintf(stderr, "lcdtest: %s\n", displayProblem.c_str());
        return kExitNoDisplay;
    }
    RegisterApplicationResources();

    PortIo& port = PortIo::Instance();
    port.SetBackend(MakePortBackend(options.portIo, options.portMap, options.e1Wiring));

    // The cable starts on the first port of the list, as the dialog does.
    const std::uint32_t startPort = PortBaseForSelection(0);
    std::unique_ptr<SimulatedModule> module;
    std::unique_ptr<ModuleView> view;  // beside the dialog, only for the simulated module
    if (port.Simulated()) {
        module = std::make_unique<SimulatedModule>(TheClock(), startPort);
        module->SetWiringFault(options.simFault);
        view = std::make_unique<ModuleView>(*module, TheClock());
    }

    PortTrace trace;
    VcdWriter vcd(TheClock());
    // Returned, not exited, so the toolkit and the module are torn down in order.
    if (const std::string error = OpenOutputs(options, startPort, trace, vcd); !error.empty()) {
        std::fprintf(stderr, "lcdtest: %s\n", error.c_str());
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
        // A module with one controller has nothing on pin 17.
        dlg.m_onSizeChosen = [&](int sizeIndex) {
            module->SetControllerCount(kModuleGeometry[sizeIndex].controllerCount);
            view->SetSizeIndex(sizeIndex);
        };
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
    return CloseOutputs(trace, vcd, status);
}
