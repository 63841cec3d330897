#pragma once

#include <string>

#include "lcd/Geometry.h"
#include "lcd/TestRun.h"
#include "res/Resource.h"

// The dialog's boxes as a run reads them: line 1 holds "A", the others nothing.
struct OneLetter final : TestRunSource {
    explicit OneLetter(int size) : size(size) {}
    int SizeSelection() const override { return size; }
    std::string LineBoxText(int id) const override { return id == IDC_LINE1 ? "A" : ""; }
    int size;
};

// The boxes as the dialog fills them for `size`: its demo texts.
struct DemoBoxes final : TestRunSource {
    explicit DemoBoxes(int size = kSize16x2) : size(size) {}
    int SizeSelection() const override { return size; }
    std::string LineBoxText(int id) const override {
        return kSizeDemos[size].lineText[id - IDC_LINE1];
    }
    int size;
};
