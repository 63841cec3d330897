#include "afx/DialogWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <limits>

#include "afx/Controls.h"
#include "afx/Dialog.h"
#include "afx/SteadyCursor.h"

namespace {

constexpr int kPictureIconPixels = 32;

// Room a control needs beside its text: button bevels, a list's arrow.
constexpr int kButtonPadding = 12;
constexpr int kListPadding = 34;

DialogUnits UnitsFor(const QFont& font, const DialogTemplate& t) {
    // The horizontal base unit: the average width of the Latin letters, rounded half up.
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    int baseX = (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
    // Fonts other than the layout's own run wider on digits and punctuation;
    // widen every unit alike until each text fits, so the proportions hold.
    auto fit = [&](const QString& text, int padding, int widthUnits) {
        if (widthUnits <= 0 || text.isEmpty()) return;
        const int needed = metrics.horizontalAdvance(text) + padding;
        baseX = std::max(baseX, (needed * 4 + widthUnits - 1) / widthUnits);
    };
    for (const ControlTemplate& c : t.controls) {
        if (!c.text) continue;
        const bool button =
            c.kind == ControlKind::PushButton || c.kind == ControlKind::DefPushButton;
        if (button || c.kind == ControlKind::Label)
            fit(FromSingleByte(c.text), button ? kButtonPadding : 0, c.cx);
    }
    for (const ListEntry& entry : t.listEntries) {
        for (const ControlTemplate& c : t.controls)
            if (c.id == entry.controlId) fit(FromSingleByte(entry.text), kListPadding, c.cx);
    }
    return {baseX, metrics.height()};
}

QString TextOf(const ControlTemplate& control) {
    return control.text ? FromSingleByte(control.text) : QString();
}

}  // namespace

DialogWindow::DialogWindow(CDialog& owner, const DialogTemplate& t, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      owner_(owner),
      units_(UnitsFor(QApplication::font(), t)),
      systemMenu_(new QMenu(this)) {
    setWindowTitle(FromSingleByte(t.title ? t.title : ""));
    height_ = units_.ToPixelsY(t.cy);
    setFixedSize(units_.ToPixelsX(t.cx), height_);
    for (const ControlTemplate& control : t.controls) {
        QWidget* w = CreateControl(control);
        if (control.id != -1) controls_.emplace(control.id, w);
        if ((control.style & kTabStop) && !firstTabStop_) firstTabStop_ = w;
    }
    connect(systemMenu_, &QMenu::triggered, this, [this](QAction* action) {
        if (action->data().isValid()) owner_.SendMessage(WM_SYSCOMMAND, action->data().toUInt());
    });
    QAction* move = systemMenu_->addAction(tr("&Move"));
    move->setData(SC_MOVE);
    QAction* close = systemMenu_->addAction(tr("&Close\tAlt+F4"));
    close->setData(SC_CLOSE);
}

void DialogWindow::ShowNotice(const QString& text) {
    if (!notice_) return;
    notice_->setText(text.isEmpty() ? noticeText_ : text);
    const int needed = std::max(noticeHeight_, notice_->heightForWidth(notice_->width()));
    notice_->resize(notice_->width(), needed);
    setFixedSize(width(), height_ + needed - noticeHeight_);
}

QWidget* DialogWindow::CreateControl(const ControlTemplate& c) {
    QWidget* w = nullptr;
    int height = units_.ToPixelsY(c.cy);
    switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(TextOf(c), this);
            button->setAutoDefault(true);  // Enter presses the focused push button
            button->setDefault(c.kind == ControlKind::DefPushButton);
            connect(button, &QPushButton::clicked, this,
                    [this, id = c.id] { owner_.SendCommand(BN_CLICKED, id); });
            w = button;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(TextOf(c), this);
            label->setTextFormat(Qt::PlainText);
            if (c.style & kPlatformNotice) {
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                notice_ = label;
                noticeText_ = label->text();
                noticeHeight_ = height;
            }
            w = label;
            break;
        }
        case ControlKind::Picture: {
            auto* picture = new QLabel(this);
            if (HICON icon = LoadIconResource(c.resource))
                picture->setPixmap(icon->pixmap(kPictureIconPixels));
            picture->installEventFilter(this);
            picture_ = picture;
            w = picture;
            break;
        }
        case ControlKind::GroupBox:
            w = new QGroupBox(TextOf(c), this);
            break;
        case ControlKind::DropDownList: {
            auto* combo = new CloseUpComboBox(this);
            connect(combo, &CloseUpComboBox::closedUp, this,
                    [this, id = c.id] { owner_.SendCommand(CBN_CLOSEUP, id); });
            // The template's height is the open list's extent; the closed box
            // keeps its natural height.
            const int rowHeight = std::max(1, combo->view()->sizeHintForRow(0));
            combo->setMaxVisibleItems(std::max(1, height / rowHeight));
            height = combo->sizeHint().height();
            w = combo;
            break;
        }
        case ControlKind::Edit: {
            const Qt::Alignment alignment = (c.style & kRightAlign)
                                                ? Qt::AlignRight | Qt::AlignVCenter
                                                : Qt::AlignLeft | Qt::AlignVCenter;
            if ((c.style & kReadOnly) && !(c.style & kBorder)) {
                // A readout: shown and copied, never edited.
                auto* box = new ReadOnlyTextBox(alignment, this);
                box->setText(TextOf(c));
                w = box;
                break;
            }
            auto* edit = new QLineEdit(TextOf(c), this);
            edit->setMaxLength(std::numeric_limits<int>::max());  // any length is taken
            KeepCursorSteadyOnLongText(edit);
            // A frameless box paints no background of its own; filling it makes
            // the box opaque, so repainting it leaves the dialog beneath alone.
            if (!(c.style & kBorder)) edit->setAutoFillBackground(true);
            edit->setReadOnly(c.style & kReadOnly);
            edit->setFrame(c.style & kBorder);
            edit->setAlignment(alignment);
            w = edit;
            break;
        }
        case ControlKind::RadioButton: {
            auto* radio = new PlainRadioButton(this);
            // Opaque: a repaint of the circle needs nothing painted beneath it.
            radio->setAutoFillBackground(true);
            connect(radio, &QAbstractButton::clicked, this,
                    [this, id = c.id] { owner_.SendCommand(BN_CLICKED, id); });
            w = radio;
            break;
        }
    }
    if (!(c.style & kTabStop) && w->focusPolicy() != Qt::NoFocus) w->setFocusPolicy(Qt::ClickFocus);
    w->setGeometry(units_.ToPixelsX(c.x), units_.ToPixelsY(c.y), units_.ToPixelsX(c.cx), height);
    w->setObjectName(QStringLiteral("control%1").arg(c.id));
    return w;
}

QWidget* DialogWindow::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void DialogWindow::PopUpSystemMenu(const QPoint& globalPos) {
    systemMenu_->popup(globalPos);
}

void DialogWindow::reject() {
    // Escape: the Cancel command, which the dialog handles like any other.
    if (ending_) return;
    owner_.SendCommand(BN_CLICKED, IDCANCEL);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    // The close box is the platform's close system command.
    event->ignore();
    owner_.SendMessage(WM_SYSCOMMAND, SC_CLOSE);
}

void DialogWindow::paintEvent(QPaintEvent* event) {
    owner_.DispatchPaint(event);
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        owner_.SendCommand(0, ID_HELP);
        return;
    }
    QDialog::keyPressEvent(event);
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    PopUpSystemMenu(event->globalPos());
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picture_ && event->type() == QEvent::MouseButtonPress) {
        PopUpSystemMenu(picture_->mapToGlobal(QPoint(0, picture_->height())));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
