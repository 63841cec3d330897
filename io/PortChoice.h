#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/KernelSystem.h"
#include "io/PortIo.h"
#include "io/Transports.h"

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

// Picks and prepares the back-end for `mode`, with the Port list entries mapped
// as `map` says, and every parallel port's E1 wired to the module as `e1` says.
// Whatever fails is told through `io`, whose lines the mapped ports start from;
// the back-end returned always takes writes (dropping them when the hardware
// cannot be reached).
PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<KernelSystem> sys,
                                    const std::vector<PortMapping>& map, E1Wiring e1, PortIo& io);

// ChoosePortBackend on the running kernel, put in use by `io`, with its
// announcement said on standard error ("lcdtest: using ...").
void UsePortBackend(PortIo& io, PortIoMode mode, const std::vector<PortMapping>& map = {},
                    E1Wiring e1 = kDefaultE1Wiring,
                    std::shared_ptr<KernelSystem> sys = MakeLinuxKernelSystem());
