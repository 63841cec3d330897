// libFuzzer target for the line text encoding. Build and run (clang only):
//
//   cmake -S . -B build-fuzz -DLCDTEST_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
//   cmake --build build-fuzz --target line_text_fuzz
//   ./build-fuzz/tests/line_text_fuzz -runs=200000
//
// Input: the first byte is the line width (0..255, so widths above the 120-byte
// line buffer are tried too), the rest is the text. Checked for every input:
// - the encoded line has exactly `columns` bytes;
// - at most 4 x `columns` characters are consumed: whatever follows them never
//   changes the line, whether the text is cut there or other bytes are put there.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "lcd/LineText.h"

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "line text fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned columns = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::vector<std::uint8_t> line = EncodeLineText(text, columns);
    Check(line.size() == columns, "the line does not have `columns` bytes");
    for (std::size_t k = kLineBufferSize; k < line.size(); ++k)
        Check(line[k] == 0x20, "a position past the line buffer is not a space");

    const std::size_t limit = 4u * columns;
    if (text.size() < limit) return 0;
    const std::string_view consumable = text.substr(0, limit);
    // Tails that would continue an escape or start one, and the input's own bytes.
    // clang-format off
    const std::string tails[] = {"", "\\", "\\\\", "0", "00", "255", "\\255", "\\000",
                                 std::string(1, '\0'), std::string(text.rbegin(), text.rend())};
    // clang-format on
    for (const std::string& tail : tails) {
        const std::string changed = std::string(consumable) + tail;
        Check(EncodeLineText(changed, columns) == line,
              "characters after the first 4 x columns changed the line");
    }
    return 0;
}
