#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "io/PortBackend.h"

// Detection's look at one I2C address: how a kind of expander is told apart
// and its wiring found (io/Detect.h). Only I2C kinds have one.
struct TransportProbe;

// One kind of port a --port-map entry can name. Each kind is one file under
// io/transports/ that opens with its wiring table and ends with its row; the
// table of rows is io/Transports.cpp. A mapping's text is read once, by
// `parse`, into a configuration of the kind's own type, which `wiring` and
// `open` take.
struct Transport {
    std::string_view name;  // "gpio": also how a mapping names the kind, "gpio:/dev/gpiochip0:..."
    // The start of the device texts the kind takes when the mapping names no kind
    // ("/dev/gpiochip"); the first row with it is the one picked.
    std::string_view device;
    // Reads a device text into `config`; false with the usage error in `error`.
    bool (*parse)(std::string_view text, std::any& config, std::string& error);
    // What the configuration carries to the module; the simulated module hangs
    // on the same wiring. Null where the parallel port's own wiring holds.
    PortWiring (*wiring)(const std::any& config);
    // The back-end driving one Port list entry, opened now; what fails is told
    // through the request's context and the back-end then drops its writes.
    // Null for ppdev, whose devices go with the scan of the parallel ports.
    std::unique_ptr<PortBackend> (*open)(const std::any& config, const OpenRequest& request);
    std::string_view help;  // one sentence for --help
    const TransportProbe* probe;
};

// A row from a kind's typed functions: Parse returns the configuration or
// nullopt with the usage error; Wiring and Open may be nullptr.
template <typename Config, auto Parse, auto Wiring, auto Open>
constexpr Transport MakeTransport(std::string_view name, std::string_view device,
                                  std::string_view help, const TransportProbe* probe = nullptr) {
    Transport row{name, device, nullptr, nullptr, nullptr, help, probe};
    row.parse = [](std::string_view text, std::any& config, std::string& error) {
        std::optional<Config> parsed = Parse(text, error);
        if (parsed) config = std::move(*parsed);
        return parsed.has_value();
    };
    if constexpr (Wiring != nullptr)
        row.wiring = [](const std::any& config) {
            return Wiring(std::any_cast<const Config&>(config));
        };
    if constexpr (Open != nullptr) {
        row.open = [](const std::any& config, const OpenRequest& request) {
            return Open(std::any_cast<const Config&>(config), request);
        };
    }
    return row;
}
