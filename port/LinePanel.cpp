#include "port/LinePanel.h"

#include "io/PortIo.h"
#include "port/Readouts.h"
#include "res/Resource.h"

const LineButtons kDataLineButtons[8] = {
    {IDC_D0_HIGH, IDC_D0_LOW}, {IDC_D1_HIGH, IDC_D1_LOW}, {IDC_D2_HIGH, IDC_D2_LOW},
    {IDC_D3_HIGH, IDC_D3_LOW}, {IDC_D4_HIGH, IDC_D4_LOW}, {IDC_D5_HIGH, IDC_D5_LOW},
    {IDC_D6_HIGH, IDC_D6_LOW}, {IDC_D7_HIGH, IDC_D7_LOW},
};

const LineButtons kControlLineButtons[4] = {
    {IDC_E0_HIGH, IDC_E0_LOW},
    {IDC_RW_HIGH, IDC_RW_LOW},
    {IDC_RS_HIGH, IDC_RS_LOW},
    {IDC_E1_HIGH, IDC_E1_LOW},
};

namespace {
template <std::size_t N>
void MirrorBits(LineView& view, const LineButtons (&buttons)[N], std::uint8_t value) {
    for (std::size_t bit = 0; bit < N; ++bit) {
        const bool high = (value >> bit) & 1u;
        view.SetLineCheck(buttons[bit].high, high);
        view.SetLineCheck(buttons[bit].low, !high);
    }
}
}  // namespace

void LinePanel::RefreshDataPort() {
    MirrorBits(view_, kDataLineButtons, g_lines.dataLatch);
    view_.ShowReadouts(FormatReadouts(g_lines.dataLatch));
    DlPortWritePortUchar(g_lines.portBase, g_lines.dataLatch);
}

void LinePanel::RefreshControlPort() {
    MirrorBits(view_, kControlLineButtons, g_lines.controlFlags);
    DlPortWritePortUchar(g_lines.controlPort, ControlRegisterByte(g_lines.controlFlags));
}

std::optional<std::uint8_t> LinePanel::ReadDataPort() const {
    return DlPortReadPortUchar(g_lines.portBase);
}

void LinePanel::OnCloseupPort() {
    g_lines.portBase = PortBaseForSelection(view_.PortSelection());
    g_lines.controlPort = g_lines.portBase + kControlRegisterOffset;
}

void LinePanel::DriveData(std::uint8_t mask, bool high) {
    g_lines.dataLatch = high ? (g_lines.dataLatch | mask) : (g_lines.dataLatch & ~mask);
    RefreshDataPort();
}

void LinePanel::DriveControl(std::uint8_t mask, bool high) {
    g_lines.controlFlags = high ? (g_lines.controlFlags | mask) : (g_lines.controlFlags & ~mask);
    RefreshControlPort();
}

void LinePanel::ReturnToRest() {
    g_lines.dataLatch = 0;
    RefreshDataPort();
    g_lines.controlFlags = 0;
    RefreshControlPort();
}
