#pragma once

#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <initializer_list>
#include <string>
#include <string_view>

#include "afx/Afx.h"

// Single-byte window text: the program sees each character as one byte.
// Latin-1 characters become their byte, any other character becomes '?', and
// the text ends at its first zero character, as a C string would.
std::string ToSingleByte(const QString& text);
QString FromSingleByte(std::string_view text);

class CFont {
public:
    CFont() = default;
    explicit CFont(const QFont& font) : font_(font) {}
    const QFont& Get() const { return font_; }

private:
    QFont font_;
};

// The platform's stock fixed-pitch font.
inline constexpr int ANSI_FIXED_FONT = 11;
const CFont* GetStockObject(int which);

// A control object bound to a control of a dialog. Operations on an unbound
// control, or on one whose window is gone, do nothing.
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    void Attach(QWidget* widget, int id);
    bool IsBound() const { return !widget_.isNull(); }
    QWidget* Widget() const { return widget_.data(); }
    int GetDlgCtrlID() const { return id_; }

    void SetWindowText(std::string_view text);
    std::string GetWindowText() const;
    void EnableWindow(BOOL enable);
    void SetFont(const CFont* font, BOOL redraw = TRUE);

private:
    QPointer<QWidget> widget_;
    int id_ = 0;
};

// Repaints the shown ones of `windows` at once, before returning, in one pass
// when they share a parent: on X11 every pass is a hand-over to the X server.
void UpdateWindows(std::initializer_list<const CWnd*> windows);

class CEdit : public CWnd {
public:
    void SetReadOnly(BOOL readOnly = TRUE);
};

// Sets a button's check without any notification; anything but a button is
// left alone.
void SetButtonCheck(QWidget* button, int check);

class CButton : public CWnd {
public:
    // Sets the check without any notification.
    void SetCheck(int check);
};

class CComboBox : public CWnd {
public:
    // Appends without sorting; returns the new entry's index.
    int AddString(std::string_view text);
    // Selects without notification; -1 clears the selection.
    int SetCurSel(int index);
    int GetCurSel() const;
};

class CMenu {
public:
    explicit CMenu(QMenu* menu) : menu_(menu) {}
    BOOL AppendMenu(UINT flags, UINT id = 0, const char* text = nullptr);
    QMenu* Get() const { return menu_.data(); }

private:
    QPointer<QMenu> menu_;
};
