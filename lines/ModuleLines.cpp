#include "lines/ModuleLines.h"

namespace {

constexpr std::string_view kLineNames[kModuleLineCount] = {"D0", "D1", "D2", "D3", "D4", "D5",
                                                           "D6", "D7", "E0", "RW", "RS", "E1"};
constexpr int kDataLineCount = 8;

}  // namespace

std::string_view LineName(int bit) {
    return bit >= 0 && bit < kModuleLineCount ? kLineNames[bit] : "";
}

int LineBitNamed(std::string_view name) {
    for (int bit = 0; bit < kModuleLineCount; ++bit)
        if (kLineNames[bit] == name) return bit;
    return -1;
}

std::string LineSetNames(LineSet lines) {
    std::string names;
    const auto add = [&](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
    // Runs of data lines read as ranges: "D0..D3".
    for (int n = 0; n < kDataLineCount;) {
        if (!(lines >> n & 1)) {
            ++n;
            continue;
        }
        int last = n;
        while (last + 1 < kDataLineCount && (lines >> (last + 1) & 1)) ++last;
        const std::string first = "D" + std::to_string(n);
        add(last == n ? first : first + (last == n + 1 ? ", D" : "..D") + std::to_string(last));
        n = last + 1;
    }
    for (int c = 0; c < 4; ++c)
        if (lines >> (kControlLineShift + c) & 1)
            add(std::string(kLineNames[kControlLineShift + c]));
    return names;
}
