#include "app/Detection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "app/ExitStatus.h"
#include "base/Clock.h"
#include "io/ProblemLog.h"
#include "lcd/Detect.h"
#include "sim/SimulatedI2cBus.h"

namespace {

int Usage(const std::string& message) {
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    return kExitUsage;
}

}  // namespace

bool IsDetection(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--detect") == 0) return true;
    return false;
}

int RunDetection(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("lcdtest");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Detection: finds character modules on I2C expanders (PCF8574, PCF8574A, MCP23008, "
        "MCP23017) at 0x20..0x27 and 0x38..0x3F of every I2C bus, and their wiring. Prints one "
        "line per module: the --port-map value that drives it, then what was proven. Exit "
        "status 0 a module proven, 1 none, 2 usage error, 3 no I2C bus could be looked at.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption detect("detect", "Find the modules on the I2C buses.");
    const QCommandLineOption simI2c(kSimI2cOptionName, QString::fromStdString(SimI2cOptionHelp()),
                                    "ADDR=KIND[:MAP]");
    parser.addOptions({detect, simI2c});
    if (!parser.parse(app.arguments())) return Usage(parser.errorText().toStdString());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return kExitOk;
    }
    if (!parser.positionalArguments().isEmpty())
        return Usage("unexpected argument \"" + parser.positionalArguments().front().toStdString() +
                     "\" (see --detect --help)");

    std::vector<BackpackSetup> setups;
    for (const QString& value : parser.values(simI2c))
        if (std::string error = AddBackpackSetup(setups, value.toStdString()); !error.empty())
            return Usage(error);
    std::shared_ptr<KernelSystem> sys = MakeLinuxKernelSystem();
    if (!setups.empty()) {
        // Practice: the simulated bus stands in for the real ones.
        Clock& clock = TheClock();
        auto bus = std::make_shared<SimulatedI2cBus>(
            sys, clock, [&clock](std::uint64_t micros) { clock.SleepMicros(micros); });
        for (const BackpackSetup& setup : setups) bus->Add(setup);
        std::fprintf(stderr, "lcdtest: %s\n", bus->Describe().c_str());
        sys = bus;
    }
    ProblemLog log;
    const DetectReport report = DetectModules(sys, TheClock(), log);
    std::size_t proven = 0;
    for (std::size_t n = 0; n < report.modules.size(); ++n) {
        const FoundModule& found = report.modules[n];
        std::printf("%s\n", found.Describe(OfferedBase(n)).c_str());
        if (found.proven) ++proven;
    }
    std::fflush(stdout);
    for (const std::string& note : report.notes)
        std::fprintf(stderr, "lcdtest: %s\n", note.c_str());
    std::fprintf(stderr, "lcdtest: %zu module%s found (%zu proven) on %zu I2C bus%s\n",
                 report.modules.size(), report.modules.size() == 1 ? "" : "s", proven, report.buses,
                 report.buses == 1 ? "" : "es");
    if (report.buses == 0) return kExitPortUnreachable;
    return proven > 0 ? kExitOk : kExitFail;
}
