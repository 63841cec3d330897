#include "lines/ModuleLines.h"

namespace {

constexpr const char* kControlNames[] = {"E0", "RW", "RS", "E1"};
constexpr int kDataLineCount = 8;

}  // namespace

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
        if (lines >> (kControlLineShift + c) & 1) add(kControlNames[c]);
    return names;
}
