#include <gtest/gtest.h>

#include <string>

#include "lcd/Geometry.h"

namespace {

// Every text the size uses fills its line exactly (line 1 of "16x1" holds both
// halves) and holds no backslash, so it reaches the module unchanged. A box is
// read-only exactly when its size has no text for it, box 1 never; E1 can be
// driven by hand only where a second controller sits on it.
TEST(SizeDemos, TextsAndBoxStatesFollowTheLinesInUse) {
    for (int k = 0; k < kModuleSizeCount; ++k) {
        const SizeDemo& d = kSizeDemos[k];
        const ModuleGeometry& g = kModuleGeometry[k];
        const int lines = k == kSize16x1 ? 1 : g.linesPerController * g.controllerCount;
        const std::size_t columns = k == kSize16x1 ? 16 : g.columns;
        for (int n = 0; n < 4; ++n) {
            const std::string text = d.lineText[n];
            EXPECT_EQ(text.size(), n < lines ? columns : 0) << d.name << " line " << n + 1;
            EXPECT_EQ(text.find('\\'), std::string::npos) << d.name;
            EXPECT_EQ(d.lineReadOnly[n], n > 0 && text.empty()) << d.name << " box " << n + 1;
        }
        EXPECT_EQ(d.e1Enabled, g.controllerCount == 2) << d.name;
    }
    const std::string web = kSizeDemos[kSize24x2].lineText[1];
    EXPECT_EQ(web.substr(0, 2) + web.substr(22), "*  *") << "a 20-character address framed";
}

}  // namespace
