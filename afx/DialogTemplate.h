#pragma once

#include <cstdint>
#include <span>

// A dialog layout as data: controls with identifiers, texts, positions and
// sizes in dialog units, and style flags. The dialog framework builds windows
// from these; the program registers its own templates at start.

enum class ControlKind {
    PushButton,     // ordinary push button
    DefPushButton,  // the dialog's default push button
    Label,          // left-aligned static text
    Picture,        // static icon showing an icon resource
    GroupBox,       // frame around other controls
    DropDownList,   // drop-down list without an edit field
    Edit,           // single-line edit box
    RadioButton,    // plain radio button: a click only notifies
};

// Style flags of one control.
enum ControlStyle : std::uint32_t {
    kStyleNone = 0,
    kTabStop = 1u << 0,
    kGroup = 1u << 1,
    kBorder = 1u << 2,
    kReadOnly = 1u << 3,
    kRightAlign = 1u << 4,
    kAutoHScroll = 1u << 5,
    kVScroll = 1u << 6,
    kNoPrefix = 1u << 7,  // label text shown without mnemonic processing
    // The framework's own line for telling the user what the program
    // cannot (hardware not reached); the program never addresses it.
    kPlatformNotice = 1u << 8,
};

// Style flags of the dialog window.
enum DialogStyle : std::uint32_t {
    kDialogNone = 0,
    kDialogVisible = 1u << 0,
    kDialogAppWindow = 1u << 1,  // own task-bar button
};

struct ControlTemplate {
    ControlKind kind;
    int id;            // -1 for controls the program never addresses
    const char* text;  // nullptr for none
    std::int16_t x, y, cx, cy;
    std::uint32_t style;
    int resource = 0;  // icon resource of a picture
};

// One initial entry of a drop-down list, added in order when the dialog initialises.
struct ListEntry {
    int controlId;
    const char* text;
};

struct DialogTemplate {
    int id;
    const char* title;
    const char* fontFace;
    int pointSize;
    std::int16_t x, y, cx, cy;
    std::uint32_t style;
    std::span<const ControlTemplate> controls;
    std::span<const ListEntry> listEntries;
};

// Standard control identifiers of every dialog.
inline constexpr int IDC_STATIC = -1;  // controls the program never addresses
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// One string resource.
struct StringResource {
    int id;
    const char* text;
};

// What the program hands the framework to build its windows from. The framework
// keeps the spans, so they must outlive every dialog (static tables do).
struct ResourceSet {
    std::span<const DialogTemplate> dialogs;
    std::span<const StringResource> strings;
    void (*loadImages)() = nullptr;  // makes the compiled-in icons available
};

// Replaces the registered resources; dialogs created afterwards use them.
void RegisterResourceSet(const ResourceSet& resources);

// Runs the registered image loader the first time it is called after a registration.
void LoadImageResources();

// Looks up a string resource; nullptr if there is none.
const char* FindStringResource(int id);

// Looks up a dialog template by its resource identifier; nullptr if unknown.
const DialogTemplate* FindDialogTemplate(int id);

// Converts dialog units to pixels from the dialog font's base units: a
// horizontal unit is a quarter of the average character width, a vertical one
// an eighth of the character height, so the layout keeps its proportions at
// any font size.
struct DialogUnits {
    int baseX;  // average character width in pixels
    int baseY;  // character height in pixels

    constexpr int ToPixelsX(int units) const { return Scale(units, baseX, 4); }
    constexpr int ToPixelsY(int units) const { return Scale(units, baseY, 8); }

private:
    // Rounds to nearest, half away from zero, so neighbouring controls keep
    // the gaps their units give them.
    static constexpr int Scale(int units, int base, int divisor) {
        const long long product = static_cast<long long>(units) * base;
        const long long half = divisor / 2;
        return static_cast<int>(product >= 0 ? (product + half) / divisor
                                             : -((-product + half) / divisor));
    }
};
