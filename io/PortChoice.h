#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/transports/ParportScan.h"
#include "io/KernelSystem.h"
#include "io/PortIo.h"

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

// One kind of port a --port-map entry can name, told apart by its device's
// name. Each transport's own file provides its row's functions; the table of
// kinds is in PortIoMode.cpp, so a new transport adds a file and a row.
struct PortKind {
    std::string_view name;          // "ppdev", "gpio", ...
    std::string_view devicePrefix;  // "/dev/parport", "/dev/gpiochip", ...
    // What is wrong with a mapping's device text, for a usage error; "" when
    // it reads well. Null: any text (the scan judges a ppdev device).
    std::string (*check)(std::string_view device);
    // The back-end driving the Port list entry `base` through `device`, opened
    // now; failures are reported and its writes dropped. Null for ppdev, whose
    // devices go with the scan of the kernel's parallel ports.
    std::unique_ptr<PortBackend> (*make)(std::uint32_t base, const std::string& device,
                                         std::shared_ptr<KernelSystem> sys);
    // The wiring the simulated module hangs on for `device` (--port-io=sim);
    // null where the simulated port stands in as it is.
    PortWiring (*simulated)(const std::string& device);
    std::string_view help;  // one sentence for --help
};

// The kind a mapping's device names (ppdev for anything no other kind claims).
const PortKind& PortKindOf(std::string_view device);

// Adds one --port-map value ("0x378=/dev/parport1") to `map`. Returns what is
// wrong with it for a usage error (an address outside the Port list, a base or
// device mapped twice), or an empty text when it was added.
std::string AddPortMapping(std::vector<PortMapping>& map, std::string_view text);
// The help text of the option, one sentence per kind of port.
std::string PortMapOptionHelp();

struct PortBackendChoice {
    std::unique_ptr<PortBackend> backend;  // never null
    std::string announcement;              // one line telling which back-end is in use
};

// Picks and prepares the back-end for `mode`, with the ppdev ports mapped as
// `map` says (only ppdev and auto use it), and every parallel port's E1 wired
// to the module as `e1` says. Whatever fails is reported through
// PortIo::ReportProblem; the back-end returned always takes writes (dropping
// them when the hardware cannot be reached).
PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<KernelSystem> sys,
                                    const std::vector<PortMapping>& map = {},
                                    E1Wiring e1 = kDefaultE1Wiring);

// ChoosePortBackend on the running kernel, with its announcement said on
// standard error ("lcdtest: using ..."). For start-up:
//   PortIo::Instance().SetBackend(MakePortBackend(mode));
std::unique_ptr<PortBackend> MakePortBackend(
    PortIoMode mode, const std::vector<PortMapping>& map = {}, E1Wiring e1 = kDefaultE1Wiring,
    std::shared_ptr<KernelSystem> sys = MakeLinuxKernelSystem());
