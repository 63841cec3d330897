#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ParportSystem.h"
#include "platform/PortIo.h"

// How the tool reaches the parallel port, chosen with --port-io=MODE.
enum class PortIoMode {
    Auto,   // ppdev when a port can be opened and claimed, otherwise the simulated module
    Sim,    // the simulated module, never the hardware
    Ppdev,  // /dev/parportN (group lp)
    Raw,    // /dev/port (root)
};

inline constexpr const char kPortIoOptionName[] = "port-io";
inline constexpr const char kPortIoOptionValueName[] = "mode";
inline constexpr PortIoMode kDefaultPortIoMode = PortIoMode::Auto;

// "auto", "sim", "ppdev" or "raw" (exactly these); nullopt for anything else.
std::optional<PortIoMode> ParsePortIoMode(std::string_view text);
// The option value for a mode; "unknown" for a value outside the enum.
std::string_view FormatPortIoMode(PortIoMode mode);
// The help text of the option.
std::string_view PortIoOptionHelp();

struct PortBackendChoice {
    std::unique_ptr<PortBackend> backend;  // never null
    std::string announcement;              // one line telling which back-end is in use
};

// Picks and prepares the back-end for `mode`. Whatever fails is reported
// through PortIo::ReportProblem; the back-end returned always takes writes
// (dropping them when the hardware cannot be reached).
PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<ParportSystem> sys);

// ChoosePortBackend on the running kernel, with its announcement said on
// standard error ("lcdtest: using ..."). For start-up:
//   PortIo::Instance().SetBackend(MakePortBackend(mode));
std::unique_ptr<PortBackend> MakePortBackend(
    PortIoMode mode, std::shared_ptr<ParportSystem> sys = MakeLinuxParportSystem());
