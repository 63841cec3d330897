#include <gtest/gtest.h>

#include <string>

#include "lcd/Geometry.h"

namespace {

// Every text the size uses fills its line exactly; line 1 of "16x1" holds both
// halves. No text holds a backslash, so each reaches the module unchanged.
TEST(SizeDemos, EveryTextFillsItsLine) {
    for (int k = 0; k < kModuleSizeCount; ++k) {
        const SizeDemo& d = kSizeDemos[k];
        const ModuleGeometry& g = kModuleGeometry[k];
        const int lines = g.linesPerController * g.controllerCount;
        for (int n = 0; n < 4; ++n) {
            const std::string text = d.lineText[n];
            std::size_t want = n < lines ? g.columns : 0;
            if (k == kSize16x1) want = n == 0 ? 16 : 0;
            EXPECT_EQ(text.size(), want) << d.name << " line " << n + 1;
            EXPECT_EQ(text.find('\\'), std::string::npos) << d.name;
        }
    }
    const std::string web = kSizeDemos[kSize24x2].lineText[1];
    EXPECT_EQ(web.substr(0, 2) + web.substr(22), "*  *") << "a 20-character address framed";
}

// A line box is read-only exactly when its size has no text for it, box 1 never;
// E1 can be driven by hand only where a second controller sits on it.
TEST(SizeDemos, BoxStatesFollowTheLinesInUse) {
    for (int k = 0; k < kModuleSizeCount; ++k) {
        const SizeDemo& d = kSizeDemos[k];
        EXPECT_FALSE(d.lineReadOnly[0]) << d.name;
        for (int n = 1; n < 4; ++n)
            EXPECT_EQ(d.lineReadOnly[n], *d.lineText[n] == '\0') << d.name << " box " << n + 1;
        EXPECT_EQ(d.e1Enabled, kModuleGeometry[k].controllerCount == 2) << d.name;
    }
}

TEST(SizeDemos, NamesInSizeListOrder) {
    const char* names[] = {"8x2",  "12x2", "16x1", "16x2", "20x2",
                           "24x2", "16x4", "20x4", "40x2", "40x4"};
    for (int k = 0; k < kModuleSizeCount; ++k) EXPECT_STREQ(kSizeDemos[k].name, names[k]);
    EXPECT_STREQ(kSizeDemos[kSize16x1].name, "16x1");
    EXPECT_STREQ(kSizeDemos[kSize40x4].name, "40x4");
}

}  // namespace
