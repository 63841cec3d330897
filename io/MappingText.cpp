#include "io/MappingText.h"

#include <algorithm>
#include <charconv>

bool ParseNumber(std::string_view text, std::uint32_t& value, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

std::vector<MappingItem> MappingItems(std::string_view list, char separator) {
    std::vector<MappingItem> items;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(separator), list.size());
        const std::string_view text = list.substr(0, end);
        const std::size_t equals = text.find('=');
        const bool hasValue = equals != std::string_view::npos;
        items.push_back({text, text.substr(0, std::min(equals, text.size())),
                         hasValue ? text.substr(equals + 1) : std::string_view{}, hasValue});
        if (end == list.size()) break;
        list.remove_prefix(end + 1);  // a separator at the very end adds nothing
    }
    return items;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string WiringLacks(const PortWiring& wiring) {
    std::string text;
    const auto add = [&](const std::string& note) { text += (text.empty() ? "" : ", ") + note; };
    LineSet missing = static_cast<LineSet>(kAllModuleLines & ~wiring.wired);
    if (missing & DataLines(kLowDataNibble)) {
        add("4-bit only");
        missing &= static_cast<LineSet>(~DataLines(kLowDataNibble));
    }
    // The lines every run needs, then the second enable, then what Verify needs.
    const LineSet others = missing & static_cast<LineSet>(~ControlLines(kLineE1 | kLineRW));
    if (others) add("no " + LineSetNames(others));
    if (missing & ControlLines(kLineE1)) add("no E1");
    if (missing & ControlLines(kLineRW))
        add("no RW: no Verify");
    else if (!wiring.noReads.empty())
        add("no Verify without reads=safe");
    return text;
}

int ListNumbered(const KernelSystem& sys, const std::string& dir, std::string_view prefix,
                 std::vector<std::uint32_t>& numbers) {
    std::vector<std::string> names;
    numbers.clear();
    const int listed = sys.ListDirectory(dir, names);
    for (const std::string_view name : names) {
        std::uint32_t number = 0;
        if (name.starts_with(prefix) && ParseNumber(name.substr(prefix.size()), number))
            numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return listed;
}
