#include "afx/Controls.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QClipboard>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

// Pictures drawn once per look and kept. They belong to the application and go
// with it, not at program exit.
template <class Look>
QHash<Look, QPixmap>& KeptPictures() {
    static QHash<Look, QPixmap> pictures;
    static const bool forgottenAtQuit =
        (qAddPostRoutine([] { KeptPictures<Look>().clear(); }), true);
    (void)forgottenAtQuit;
    return pictures;
}

// The kept picture of `look`, drawn by `draw` the first time it is asked for.
// The bound only matters if looks never repeat; past it, all are drawn anew.
template <class Look, class Draw>
QPixmap KeptPicture(const Look& look, qsizetype bound, const Draw& draw) {
    QHash<Look, QPixmap>& kept = KeptPictures<Look>();
    auto it = kept.constFind(look);
    if (it == kept.cend()) {
        if (kept.size() >= bound) kept.clear();
        it = kept.insert(look, draw());
    }
    return *it;
}

// Everything the style's picture of a text-less radio button depends on.
struct RadioLook {
    int state;
    QSize size;
    qreal pixelRatio;
    qint64 palette;
    const QStyle* style;
    Qt::LayoutDirection direction;

    bool operator==(const RadioLook&) const = default;
};

size_t qHash(const RadioLook& look, size_t seed = 0) {
    return qHashMulti(seed, look.state, look.size.width(), look.size.height(), look.pixelRatio,
                      look.palette, look.style, static_cast<int>(look.direction));
}

// A dialog shows a handful of looks (checked or not, enabled or not, under the
// mouse, with focus); the bound only matters if palettes or styles keep changing.
constexpr qsizetype kMaxCachedLooks = 64;

}  // namespace

PlainRadioButton::PlainRadioButton(QWidget* parent) : QRadioButton(parent) {
    setCheckable(true);
    setAutoExclusive(false);
    // A group of its own, not exclusive: without one, every uncheck searches
    // all the dialog's buttons for an exclusive sibling first.
    auto* own = new QButtonGroup(this);
    own->setExclusive(false);
    own->addButton(this);
}

void PlainRadioButton::paintEvent(QPaintEvent* event) {
    QStyleOptionButton option;
    initStyleOption(&option);
    if (!option.text.isEmpty() || !option.icon.isNull()) {
        QRadioButton::paintEvent(event);
        return;
    }
    const RadioLook look{.state = static_cast<int>(option.state),
                         .size = size(),
                         .pixelRatio = devicePixelRatio(),
                         .palette = option.palette.cacheKey(),
                         .style = style(),
                         .direction = option.direction};
    const QPixmap picture = KeptPicture(look, kMaxCachedLooks, [&] {
        QPixmap drawn(size() * look.pixelRatio);
        drawn.setDevicePixelRatio(look.pixelRatio);
        drawn.fill(Qt::transparent);
        QStylePainter painter(&drawn, this);
        painter.drawControl(QStyle::CE_RadioButton, option);
        painter.end();
        return drawn;
    });
    QPainter(this).drawPixmap(0, 0, picture);
}

namespace {

// Space between the box's edge and its text, as a line edit keeps it.
constexpr int kTextMarginPixels = 2;

// Everything an unselected text box's picture depends on.
struct TextLook {
    QString text;
    QSize size;
    qreal pixelRatio;
    QString font;
    QRgb base;
    QRgb ink;
    int alignment;

    bool operator==(const TextLook&) const = default;
};

size_t qHash(const TextLook& look, size_t seed = 0) {
    return qHashMulti(seed, look.text, look.size.width(), look.size.height(), look.pixelRatio,
                      look.font, look.base, look.ink, look.alignment);
}

// Readouts show a few hundred texts in all; the bound only matters if the
// texts never repeat.
constexpr qsizetype kMaxKeptTexts = 2048;

}  // namespace

ReadOnlyTextBox::ReadOnlyTextBox(Qt::Alignment alignment, QWidget* parent)
    : QWidget(parent), alignment_(alignment), fontKey_(font().key()) {
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    // Every pixel comes from the picture, so nothing beneath needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ReadOnlyTextBox::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

QPixmap ReadOnlyTextBox::Draw(bool selected) const {
    const QPalette& colors = palette();
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(colors.color(QPalette::Base));
    QPainter painter(&picture);
    painter.setFont(font());
    const QRect area = rect().adjusted(kTextMarginPixels, 0, -kTextMarginPixels, 0);
    const int flags = static_cast<int>(alignment_) | Qt::TextSingleLine;
    if (selected) {
        painter.fillRect(painter.boundingRect(area, flags, text_),
                         colors.color(QPalette::Highlight));
        painter.setPen(colors.color(QPalette::HighlightedText));
    } else {
        painter.setPen(colors.color(QPalette::Text));
    }
    painter.drawText(area, flags, text_);
    painter.end();
    return picture;
}

void ReadOnlyTextBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (hasFocus() && !text_.isEmpty()) {
        painter.drawPixmap(0, 0, Draw(true));
        return;
    }
    const QPalette& colors = palette();
    const TextLook look{.text = text_,
                        .size = size(),
                        .pixelRatio = devicePixelRatioF(),
                        .font = fontKey_,
                        .base = colors.color(QPalette::Base).rgba(),
                        .ink = colors.color(QPalette::Text).rgba(),
                        .alignment = static_cast<int>(alignment_)};
    painter.drawPixmap(0, 0, KeptPicture(look, kMaxKeptTexts, [this] { return Draw(false); }));
}

void ReadOnlyTextBox::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(text_);
        return;
    }
    // Everything else goes to the dialog: Enter presses its default button.
    event->ignore();
}

void ReadOnlyTextBox::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void ReadOnlyTextBox::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void ReadOnlyTextBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) fontKey_ = font().key();
    QWidget::changeEvent(event);
}

CloseUpComboBox::CloseUpComboBox(QWidget* parent) : QComboBox(parent) {
    // The view's window is the drop-down part; it exists from here on.
    popup_ = view()->window();
    popup_->installEventFilter(this);
}

bool CloseUpComboBox::eventFilter(QObject* watched, QEvent* event) {
    // The popup hides before the chosen item is committed, so the report is
    // queued behind the commit.
    if (watched == popup_ && event->type() == QEvent::Hide)
        QMetaObject::invokeMethod(this, &CloseUpComboBox::closedUp, Qt::QueuedConnection);
    return QComboBox::eventFilter(watched, event);
}
