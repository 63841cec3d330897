#include "afx/Wnd.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegion>
#include <vector>

#include "afx/Controls.h"
#include "afx/IdleRepaint.h"

std::string ToSingleByte(const QString& text) {
    constexpr char32_t kLastSingleByte = 0xFF;
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (char32_t c : text.toUcs4()) {
        if (c == 0) break;
        bytes.push_back(c <= kLastSingleByte ? static_cast<char>(c) : '?');
    }
    return bytes;
}

QString FromSingleByte(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

const CFont* GetStockObject(int which) {
    if (which != ANSI_FIXED_FONT) return nullptr;
    static const CFont fixed([] {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        // Some platforms answer with a proportional font; then ask for any
        // monospaced family. The glyph widths tell, not the font's own flag.
        const QFontMetrics metrics(font);
        if (metrics.horizontalAdvance(QStringLiteral("iiii")) !=
            metrics.horizontalAdvance(QStringLiteral("WWWW"))) {
            font.setFamily(QStringLiteral("monospace"));
            font.setStyleHint(QFont::TypeWriter);
            font.setFixedPitch(true);
        }
        return font;
    }());
    return &fixed;
}

void CWnd::Attach(QWidget* widget, int id) {
    widget_ = widget;
    id_ = id;
}

void CWnd::SetWindowText(std::string_view text) {
    QWidget* w = Widget();
    if (!w) return;
    const QString s = FromSingleByte(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(s);
        edit->setCursorPosition(0);
    } else if (auto* box = qobject_cast<ReadOnlyTextBox*>(w)) {
        box->setText(s);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(s);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(s);
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
        box->setTitle(s);
    } else {
        w->setWindowTitle(s);
    }
}

std::string CWnd::GetWindowText() const {
    QWidget* w = Widget();
    if (!w) return {};
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return ToSingleByte(edit->text());
    if (auto* box = qobject_cast<ReadOnlyTextBox*>(w)) return ToSingleByte(box->text());
    if (auto* label = qobject_cast<QLabel*>(w)) return ToSingleByte(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return ToSingleByte(button->text());
    if (auto* combo = qobject_cast<QComboBox*>(w)) return ToSingleByte(combo->currentText());
    if (auto* box = qobject_cast<QGroupBox*>(w)) return ToSingleByte(box->title());
    return ToSingleByte(w->windowTitle());
}

void CWnd::EnableWindow(BOOL enable) {
    if (QWidget* w = Widget()) w->setEnabled(enable != FALSE);
}

void UpdateWindows(std::initializer_list<const CWnd*> windows) {
    QWidget* parent = nullptr;
    QRegion area;
    std::vector<QWidget*> shown;
    for (const CWnd* window : windows) {
        QWidget* w = window->Widget();
        if (!w || !w->isVisible()) continue;
        shown.push_back(w);
        if (shown.size() == 1) parent = w->parentWidget();
        if (w->parentWidget() != parent) parent = nullptr;
        area += w->geometry();
    }
    if (parent) {
        parent->repaint(area);
        return;
    }
    for (QWidget* w : shown) w->repaint();
}

void CWnd::SetFont(const CFont* font, BOOL redraw) {
    QWidget* w = Widget();
    if (!w || !font) return;
    w->setFont(font->Get());
    if (redraw) w->update();
}

void CEdit::SetReadOnly(BOOL readOnly) {
    // A box made read-only and frameless by its template is a readout and
    // stays read-only.
    if (auto* edit = qobject_cast<QLineEdit*>(Widget())) edit->setReadOnly(readOnly != FALSE);
}

void SetButtonCheck(QWidget* widget, int check) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const bool checked = check == BST_CHECKED;
        if (button->isChecked() == checked) return;
        // The check changes now; the button shows it at the next pause, so a
        // refresh that rechecks many buttons does not wait for their painting.
        RepaintWhenIdle(button);
        const QSignalBlocker quiet(button);
        button->setChecked(checked);
    }
}

void CButton::SetCheck(int check) {
    SetButtonCheck(Widget(), check);
}

int CComboBox::AddString(std::string_view text) {
    auto* combo = qobject_cast<QComboBox*>(Widget());
    if (!combo) return CB_ERR;
    const QSignalBlocker quiet(combo);
    combo->addItem(FromSingleByte(text));
    return combo->count() - 1;
}

int CComboBox::SetCurSel(int index) {
    auto* combo = qobject_cast<QComboBox*>(Widget());
    if (!combo) return CB_ERR;
    const QSignalBlocker quiet(combo);
    if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        return CB_ERR;
    }
    combo->setCurrentIndex(index);
    return index;
}

int CComboBox::GetCurSel() const {
    auto* combo = qobject_cast<QComboBox*>(Widget());
    return combo ? combo->currentIndex() : CB_ERR;
}

BOOL CMenu::AppendMenu(UINT flags, UINT id, const char* text) {
    QMenu* menu = Get();
    if (!menu) return FALSE;
    if (flags & MF_SEPARATOR) {
        menu->addSeparator();
        return TRUE;
    }
    QAction* action = menu->addAction(QString::fromLatin1(text ? text : ""));
    action->setData(id);
    return TRUE;
}
