#include "lines/ParportWiring.h"

#include "base/HexText.h"

std::string PortListText(std::string_view firstNote) {
    std::string text;
    for (int i = 0; i < kPortCount; ++i) {
        text += (i == 0 ? "" : i + 1 == kPortCount ? " or " : ", ") + HexAddress(kPortBases[i]);
        if (i == 0 && !firstNote.empty()) text += " " + std::string(firstNote);
    }
    return text;
}
