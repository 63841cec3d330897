#include "app/CommonOptions.h"

#include <algorithm>
#include <iterator>

#include "app/Display.h"
#include "app/ExitStatus.h"
#include "base/OutputFile.h"

namespace {

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CommonOptionSet::CommonOptionSet()
    : trace_("trace", "Log every port write (and read) to FILE: microseconds, address, value.",
             "FILE"),
      vcd_("vcd",
           "Record the twelve module lines of the selected port to FILE as a Value Change Dump.",
           "FILE"),
      portIo_(kPortIoOptionName, FromView(PortIoOptionHelp()), kPortIoOptionValueName, "auto"),
      portMap_(kPortMapOptionName, FromView(PortMapOptionHelp()), "BASE=DEVICE"),
      simFault_("sim-fault",
                "Wire the simulated module with FAULT: none, Dn=0, Dn=1, Dn=open, E0=open, "
                "E1=open, RW=0 or RS=0, several joined by commas. Implies --port-io=sim.",
                "FAULT"),
      e1Wiring_("e1-wiring",
                "How the second enable (E1) of a 40x4 module hangs on pin 17, which the port "
                "inverts: straight (default; as the wiring table, so E1 is active low at the "
                "pin) or inverter (through an inverter, such as a 74HC04 gate). Verify reads the "
                "second controller accordingly, and the simulated module is wired the same way.",
                "WIRING", "straight"),
      simI2c_(kSimI2cOptionName, QString::fromStdString(SimI2cOptionHelp()), "ADDR=KIND[:MAP]") {}

void CommonOptionSet::AddTo(QCommandLineParser& parser) const {
    parser.addOptions({trace_, vcd_, portIo_, portMap_, simFault_, e1Wiring_, simI2c_});
}

std::string CommonOptionSet::Read(const QCommandLineParser& parser, CommonOptions& options) const {
    for (const QCommandLineOption* file : {&trace_, &vcd_}) {
        if (parser.isSet(*file) && parser.value(*file).isEmpty())
            return "--" + file->names().front().toStdString() + " needs a file name";
    }
    options.tracePath = parser.value(trace_).toStdString();
    options.vcdPath = parser.value(vcd_).toStdString();

    const std::string mode = parser.value(portIo_).toStdString();
    const auto parsed = ParsePortIoMode(mode);
    if (!parsed) return "unknown --port-io mode \"" + mode + "\" (auto, sim, ppdev or raw)";
    options.portIo = *parsed;

    const std::string e1 = parser.value(e1Wiring_).toStdString();
    const auto named = std::find_if(std::begin(kE1WiringNames), std::end(kE1WiringNames),
                                    [&](const E1WiringName& entry) { return entry.name == e1; });
    if (named == std::end(kE1WiringNames))
        return "unknown --e1-wiring \"" + e1 + "\" (straight or inverter)";
    options.e1Wiring = named->wiring;

    for (const QString& value : parser.values(portMap_)) {
        std::string error = AddPortMapping(options.portMap, value.toStdString());
        if (!error.empty()) return error;
    }

    for (const QString& value : parser.values(simI2c_)) {
        std::string error = AddBackpackSetup(options.simI2c, value.toStdString());
        if (!error.empty()) return error;
    }

    const QString fault = parser.value(simFault_);
    if (fault.isEmpty()) return "";
    std::string error;
    const auto wiring = ParseWiringFault(fault.toStdString(), error);
    if (!wiring) return error;
    options.simFault = *wiring;
    if (options.simFault == WiringFault{}) return "";
    // A fault is practised on the simulated module only.
    if (options.portIo == PortIoMode::Auto) options.portIo = PortIoMode::Sim;
    if (options.portIo == PortIoMode::Sim) return "";
    return "--sim-fault wires the simulated module; it cannot go with --port-io=" +
           std::string(FormatPortIoMode(options.portIo));
}

std::string OpenOutputs(const CommonOptions& options, std::uint32_t portBase, PortTrace& trace,
                        VcdWriter& vcd) {
    if (!options.tracePath.empty() && !options.vcdPath.empty() &&
        SameFile(options.tracePath, options.vcdPath)) {
        return "--trace and --vcd name the same file (" + options.tracePath + " and " +
               options.vcdPath + "); give each its own";
    }
    if (!options.tracePath.empty() && !trace.Open(options.tracePath)) return trace.Error();
    if (!options.vcdPath.empty() && !vcd.Open(options.vcdPath, portBase)) return vcd.Error();
    return "";
}

int CloseOutputs(PortTrace& trace, VcdWriter& vcd, int status) {
    trace.Close();
    vcd.Close();
    return trace.Lost() || vcd.Lost() ? kExitOutputLost : status;
}
