// Dialog templates and string resources. Positions and sizes are dialog units.

#include "afx/DialogTemplate.h"
#include "res/Resource.h"
#include "res/Resources.h"
#include "res/Strings.h"

namespace {

using K = ControlKind;

constexpr std::uint32_t kGroupTab = kGroup | kTabStop;
constexpr std::uint32_t kLineBox = kTabStop | kBorder | kAutoHScroll;
constexpr std::uint32_t kReadout = kTabStop | kReadOnly | kRightAlign | kAutoHScroll;
constexpr std::uint32_t kList = kTabStop | kVScroll;

// The main dialog, in template order: creation and tab order.
constexpr ControlTemplate kMainControls[] = {
    {K::PushButton, IDOK, "Done", 206, 10, 26, 14, kTabStop},
    {K::PushButton, IDC_INIT_4BIT, "Init 4-bit", 172, 10, 32, 14, kTabStop},
    {K::Label, IDC_STATIC, "Size", 30, 13, 14, 8, kGroup},
    {K::Label, IDC_STATIC, "E0", 25, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "RS", 55, 107, 12, 8, kGroup},
    {K::Label, IDC_STATIC, "RW", 69, 107, 13, 8, kGroup},
    {K::Label, IDC_STATIC, "D0", 200, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D1", 186, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D2", 170, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D3", 154, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D4", 140, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D5", 124, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D6", 110, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "D7", 96, 107, 10, 8, kGroup},
    {K::Label, IDC_STATIC, "E1", 41, 107, 10, 8, kGroup},
    {K::DropDownList, IDC_SIZE, nullptr, 44, 11, 32, 246, kList},
    {K::Label, IDC_STATIC, "Port", 81, 13, 14, 8, kGroup},
    {K::DropDownList, IDC_PORT, nullptr, 95, 11, 35, 246, kList},
    {K::Edit, IDC_LINE1, nullptr, 7, 40, 225, 15, kLineBox},
    {K::Edit, IDC_LINE2, nullptr, 7, 56, 225, 15, kLineBox},
    {K::Edit, IDC_LINE3, nullptr, 7, 72, 225, 15, kLineBox},
    {K::Edit, IDC_LINE4, nullptr, 7, 88, 225, 15, kLineBox},
    {K::Picture, IDC_STATIC, nullptr, 7, 7, 20, 20, kStyleNone, IDI_PICTURE},
    {K::Label, IDC_STATIC, kMainNotice, 36, 140, 166, 8, kGroup | kPlatformNotice},
    {K::RadioButton, IDC_E0_HIGH, nullptr, 25, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_E0_LOW, nullptr, 25, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_E1_HIGH, nullptr, 41, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_E1_LOW, nullptr, 41, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_RS_HIGH, nullptr, 55, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_RS_LOW, nullptr, 55, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_RW_HIGH, nullptr, 71, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_RW_LOW, nullptr, 71, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D7_HIGH, nullptr, 96, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D7_LOW, nullptr, 96, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D6_HIGH, nullptr, 110, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D6_LOW, nullptr, 110, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D5_HIGH, nullptr, 126, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D5_LOW, nullptr, 126, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D4_HIGH, nullptr, 140, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D4_LOW, nullptr, 140, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D3_HIGH, nullptr, 156, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D3_LOW, nullptr, 156, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D2_HIGH, nullptr, 170, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D2_LOW, nullptr, 170, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D1_HIGH, nullptr, 186, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D1_LOW, nullptr, 186, 129, 16, 8, kGroup},
    {K::RadioButton, IDC_D0_HIGH, nullptr, 201, 118, 16, 8, kGroup},
    {K::RadioButton, IDC_D0_LOW, nullptr, 201, 129, 16, 8, kGroup},
    {K::Label, IDC_STATIC, "High", 7, 118, 16, 8, kGroup},
    {K::Label, IDC_STATIC, "Low", 9, 129, 14, 8, kGroup},
    {K::DefPushButton, IDC_INIT_8BIT, "Init 8-bit", 136, 10, 31, 14, kTabStop},
    {K::Edit, IDC_HEX, nullptr, 214, 133, 18, 13, kReadout},
    {K::Edit, IDC_DEC, nullptr, 214, 120, 18, 12, kReadout},
    {K::Edit, IDC_CHAR, nullptr, 214, 107, 18, 12, kReadout},
    {K::Label, IDC_STATIC,
     "Type characters to send below. Use \\123 for binary numbers, \\\\ for \\:", 7, 28, 225, 8,
     kGroup},
};

constexpr ListEntry kMainListEntries[] = {
    {IDC_SIZE, kSizeNames[0]}, {IDC_SIZE, kSizeNames[1]}, {IDC_SIZE, kSizeNames[2]},
    {IDC_SIZE, kSizeNames[3]}, {IDC_SIZE, kSizeNames[4]}, {IDC_SIZE, kSizeNames[5]},
    {IDC_SIZE, kSizeNames[6]}, {IDC_SIZE, kSizeNames[7]}, {IDC_SIZE, kSizeNames[8]},
    {IDC_SIZE, kSizeNames[9]}, {IDC_PORT, "0x378"},       {IDC_PORT, "0x278"},
    {IDC_PORT, "0x3BC"},
};

constexpr ControlTemplate kAboutControls[] = {
    {K::Label, IDC_STATIC, "TORV_VozUriz Version 0.1", 32, 13, 119, 8, kGroup | kNoPrefix},
    {K::DefPushButton, IDOK, "OK", 183, 7, 32, 14, kGroupTab},
    {K::Label, IDC_STATIC, kAboutNotice, 7, 29, 164, 8, kGroup},
    {K::Label, IDC_STATIC, kMakerAddress, 7, 39, 208, 8, kGroup},
    {K::Picture, IDC_STATIC, nullptr, 7, 7, 20, 20, kStyleNone, IDI_PICTURE},
    {K::Label, IDC_STATIC, kDriverLine1, 13, 56, 171, 8, kGroup},
    {K::Label, IDC_STATIC, kDriverLine2, 13, 66, 105, 8, kGroup},
    {K::Label, IDC_STATIC, kDriverLine3, 13, 76, 179, 8, kGroup},
    {K::GroupBox, IDC_STATIC, nullptr, 7, 48, 208, 41, kStyleNone},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_LCDTEST_DIALOG, kMainTitle, "MS Sans Serif", 8, 0, 0, 239, 151,
     kDialogVisible | kDialogAppWindow, kMainControls, kMainListEntries},
    {IDD_ABOUTBOX,
     "About TORV_VozUriz",
     "MS Sans Serif",
     8,
     0,
     0,
     222,
     95,
     kDialogNone,
     kAboutControls,
     {}},
};

constexpr StringResource kStrings[] = {
    {IDS_ABOUTBOX, "&About TORV_VozUriz..."},
    {IDS_VERIFY, "&Verify the module"},
    {IDS_DETECT, "&Find I2C backpacks..."},
};

}  // namespace

void RegisterApplicationResources() {
    RegisterResourceSet({kTemplates, kStrings, &LoadApplicationImages});
}
