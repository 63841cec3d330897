// Start-up: command-line extras and the display, then a scripted run or the
// dialog (app/DialogRun.cpp: the port back-end, the simulated module, the outputs).

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "afx/WinApp.h"
#include "app/CommonOptions.h"
#include "app/Detection.h"
#include "app/DialogRun.h"
#include "app/Display.h"
#include "app/ExitStatus.h"
#include "app/ScriptedRun.h"
#include "res/Resources.h"

namespace {

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    std::exit(kExitUsage);
}

// The extras, with --help and --version; `common` defines the shared ones.
void AddOptions(QCommandLineParser& parser, const CommonOptionSet& common) {
    parser.setApplicationDescription(
        "Bench test for HD44780 character LCD modules on a parallel port, a GPIO chip\n"
        "(--port-map BASE=/dev/gpiochipN:...) or an I2C backpack (--port-map "
        "BASE=/dev/i2c-N@ADDR).\n"
        "Without any of them it drives a simulated module.\n"
        "Scripted runs: lcdtest --run SIZE:8|4 [--verify] ... (lcdtest --run - --help).\n"
        "Finding backpacks on the I2C buses: lcdtest --detect (lcdtest --detect --help).");
    parser.addHelpOption();
    parser.addVersionOption();
    common.AddTo(parser);
}

// Parses the extras; with no arguments the tool behaves as it always does.
CommonOptions ParseOptions(QCommandLineParser& parser, const CommonOptionSet& common,
                           const QApplication& app) {
    // process() ends an unknown option with status 1; a usage error is 2.
    if (!parser.parse(app.arguments())) UsageError(parser.errorText().toStdString());
    parser.process(app);  // --help-all, and --help or --version beside the toolkit's options
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
    if (IsDetection(argc, argv)) return RunDetection(argc, argv);
    QApplication::setApplicationName("lcdtest");
    QApplication::setApplicationVersion(LCDTEST_VERSION);
    QCommandLineParser parser;
    const CommonOptionSet common;
    AddOptions(parser, common);
    AnswerHelpOrVersion(parser, argc, argv);

    // Without a display the toolkit would abort. The options are still read
    // offscreen, so that a usage error is told as one; anything else is refused.
    const std::string displayProblem = DisplayProblem();
    if (!displayProblem.empty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    PreferPlainXImages();
    QApplication app(argc, argv);
    const CommonOptions options = ParseOptions(parser, common, app);
    if (!displayProblem.empty()) {
        std::fprintf(stderr, "lcdtest: %s\n", displayProblem.c_str());
        return kExitNoDisplay;
    }
    RegisterApplicationResources();
    return RunDialog(options);
}
