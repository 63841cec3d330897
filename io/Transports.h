#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/Transport.h"

// --port-map BASE=DEVICE: the Port list entry BASE drives DEVICE, whatever
// kind of port it is.
inline constexpr const char kPortMapOptionName[] = "port-map";

// One --port-map entry, read by its kind.
struct PortMapping {
    std::uint32_t base = 0;  // one of kPortBases
    std::string devicePath;  // the device text after its kind: "/dev/parport1"
    const Transport* kind = nullptr;
    std::any config;  // what the kind read of the device text
};

// The kinds, in the table's order.
std::vector<const Transport*> Transports();
// The kind a mapping's device text names, and that text without the kind: an
// explicit kind ("pcf8574:/dev/i2c-1@0x27"), or the first kind whose device
// names begin it; a null kind when none takes it.
struct NamedTransport {
    const Transport* kind;
    std::string_view device;
};
NamedTransport TransportNamed(std::string_view text);

// Adds one --port-map value ("0x378=/dev/parport1") to `map`. Returns what is
// wrong with it for a usage error (an address outside the Port list, a device
// no kind takes or its kind cannot read, a base or device mapped twice), or an
// empty text when it was added.
std::string AddPortMapping(std::vector<PortMapping>& map, std::string_view text);
// The help text of the option, one sentence per kind.
std::string PortMapOptionHelp();
