#include "platform/qt/Controls.h"

#include <QAbstractItemView>
#include <QEvent>

PlainRadioButton::PlainRadioButton(QWidget* parent) : QRadioButton(parent) {
    setCheckable(true);
    setAutoExclusive(false);
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
