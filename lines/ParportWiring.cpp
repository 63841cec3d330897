#include "lines/ParportWiring.h"

#include "base/HexText.h"
#include "base/ListText.h"

std::string PortListText(std::string_view firstNote) {
    std::vector<std::string> bases;
    for (const std::uint32_t base : kPortBases) bases.push_back(HexAddress(base));
    if (!firstNote.empty()) bases.front() += " " + std::string(firstNote);
    return Alternatives(bases);
}
