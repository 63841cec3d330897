#include "sim/WiringFault.h"

#include <cctype>

#include "lines/ParportWiring.h"

namespace {

struct ControlName {
    const char* name;
    std::uint8_t line;
};
constexpr ControlName kControlNames[] = {
    {"E0", kLineE0}, {"RW", kLineRW}, {"RS", kLineRS}, {"E1", kLineE1}};
constexpr int kDataLines = 8;

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// Applies one "LINE=LEVEL" item; false when it names no fault.
bool ApplyItem(const std::string& item, WiringFault& fault) {
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos) return false;
    const std::string line = item.substr(0, equals);
    const std::string level = item.substr(equals + 1);
    if (line.size() == 2 && line[0] == 'D' && line[1] >= '0' && line[1] < '0' + kDataLines) {
        const auto bit = static_cast<std::uint8_t>(1u << (line[1] - '0'));
        if (level == "0") {
            fault.dataLow |= bit;
            fault.dataHigh &= static_cast<std::uint8_t>(~bit);
            return true;
        }
        if (level == "1" || level == "OPEN") {
            fault.dataHigh |= bit;
            fault.dataLow &= static_cast<std::uint8_t>(~bit);
            return true;
        }
        return false;
    }
    for (const ControlName& control : kControlNames) {
        if (line != control.name) continue;
        if (level != "0" && level != "OPEN") return false;
        fault.controlLow |= control.line;
        return true;
    }
    return false;
}

}  // namespace

std::optional<WiringFault> ParseWiringFault(std::string_view text, std::string& error) {
    const std::string upper = Upper(text);
    WiringFault fault;
    if (upper == "NONE") return fault;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = upper.find(',', start);
        const std::string item = upper.substr(start, comma - start);
        if (!ApplyItem(item, fault)) {
            error = "unknown wiring fault \"" + std::string(text.substr(start, comma - start)) +
                    "\" (none, Dn=0, Dn=1, Dn=open for n 0 to 7, E0=open, E1=open, RW=0, RS=0)";
            return std::nullopt;
        }
        if (comma == std::string::npos) return fault;
        start = comma + 1;
    }
}

std::string FormatWiringFault(const WiringFault& fault) {
    std::string text;
    const auto add = [&](const std::string& item) { text += (text.empty() ? "" : ",") + item; };
    for (int n = 0; n < kDataLines; ++n) {
        if (fault.dataLow & (1u << n)) add("D" + std::to_string(n) + "=0");
        if (fault.dataHigh & (1u << n)) add("D" + std::to_string(n) + "=1");
    }
    for (const ControlName& control : kControlNames)
        if (fault.controlLow & control.line) add(std::string(control.name) + "=open");
    return text.empty() ? "none" : text;
}
