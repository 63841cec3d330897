#include "platform/qt/Controls.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

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

// Pictures belong to the application and go with it, not at program exit.
QHash<RadioLook, QPixmap>& CachedLooks() {
    static QHash<RadioLook, QPixmap> looks;
    static const bool forgottenAtQuit = (qAddPostRoutine([] { CachedLooks().clear(); }), true);
    (void)forgottenAtQuit;
    return looks;
}

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
    QHash<RadioLook, QPixmap>& looks = CachedLooks();
    auto it = looks.constFind(look);
    if (it == looks.cend()) {
        if (looks.size() >= kMaxCachedLooks) looks.clear();
        QPixmap picture(size() * look.pixelRatio);
        picture.setDevicePixelRatio(look.pixelRatio);
        picture.fill(Qt::transparent);
        QStylePainter painter(&picture, this);
        painter.drawControl(QStyle::CE_RadioButton, option);
        painter.end();
        it = looks.insert(look, picture);
    }
    QPainter(this).drawPixmap(0, 0, *it);
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
