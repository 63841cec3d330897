// The table of transports: each row lives at the end of its transport's file.
#include "io/Transports.h"

#include <algorithm>

#include "base/HexText.h"
#include "base/ListText.h"
#include "io/MappingText.h"
#include "lines/ParportWiring.h"

extern const Transport kPpdevTransport, kGpioTransport, kPcf8574Transport, kMcp23008Transport,
    kMcp23017Transport;

namespace {

// The first row is the default where a kind's device names are shared.
const Transport* const kTransports[] = {
    &kPpdevTransport, &kGpioTransport, &kPcf8574Transport, &kMcp23008Transport, &kMcp23017Transport,
};

// "ppdev:, gpio: or pcf8574:"
std::string KindNames() {
    std::vector<std::string> names;
    for (const Transport* kind : kTransports) names.push_back(std::string(kind->name) + ":");
    return Alternatives(names);
}

}  // namespace

std::vector<const Transport*> Transports() {
    return {std::begin(kTransports), std::end(kTransports)};
}

NamedTransport TransportNamed(std::string_view text) {
    const std::size_t colon = text.find(':');
    for (const Transport* kind : kTransports)
        if (colon != std::string_view::npos && text.substr(0, colon) == kind->name)
            return {kind, text.substr(colon + 1)};
    for (const Transport* kind : kTransports)
        if (text.starts_with(kind->device)) return {kind, text};
    return {nullptr, text};
}

std::string AddPortMapping(std::vector<PortMapping>& map, std::string_view text) {
    const std::string shown = "--" + std::string(kPortMapOptionName) + " " + std::string(text);
    const std::size_t equals = text.find('=');
    std::string_view address = text.substr(0, std::min(equals, text.size()));
    if (address.starts_with("0x") || address.starts_with("0X")) address.remove_prefix(2);
    PortMapping entry;
    if (equals == std::string_view::npos || equals + 1 == text.size() ||
        !ParseNumber(address, entry.base, 16)) {
        return shown + ": expected a Port list address and a device, for example --" +
               kPortMapOptionName + " 0x378=/dev/parport1";
    }
    const NamedTransport named = TransportNamed(text.substr(equals + 1));
    if (!named.kind) {
        std::string devices;  // each start of a device's name once
        for (const Transport* kind : kTransports)
            if (devices.find(std::string(kind->device) + "...") == std::string::npos)
                devices += (devices.empty() ? "" : ", ") + std::string(kind->device) + "...";
        return shown + ": no kind of port takes " + Quoted(named.device) + ": a device begins " +
               devices + ", or a kind comes first (" + KindNames() + ")";
    }
    entry.kind = named.kind;
    entry.devicePath = std::string(named.device);
    if (std::string error; !entry.kind->parse(named.device, entry.config, error))
        return shown + ": " + error;
    if (std::find(std::begin(kPortBases), std::end(kPortBases), entry.base) ==
        std::end(kPortBases)) {
        return shown + ": " + HexAddress(entry.base) + " is not in the Port list (" +
               PortListText() + ")";
    }
    for (const PortMapping& other : map) {
        if (other.base == entry.base || other.devicePath == entry.devicePath)
            return shown + ": " + HexAddress(other.base) + "=" + other.devicePath +
                   " is mapped already; each address and each device once";
    }
    map.push_back(std::move(entry));
    return {};
}

std::string PortMapOptionHelp() {
    std::string help =
        "Drive the Port list entry BASE through DEVICE, whatever the port's own address, for "
        "example 0x378=/dev/parport1. May be given for each entry. DEVICE is";
    for (const Transport* kind : kTransports) help += " " + std::string(kind->help) + ";";
    help.back() = '.';
    return help + " A kind may come first (" + KindNames() +
           "). --port-io=sim practises on the wiring; raw ignores the mapping.";
}
