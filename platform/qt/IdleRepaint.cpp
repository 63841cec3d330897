#include "platform/qt/IdleRepaint.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/Clock.h"

namespace {

struct Waiting {
    std::vector<QPointer<QWidget>> widgets;
    // A pass through the event loop is queued; sleeps may paint before it.
    bool loopPassQueued = false;
    bool sleepsPaint = false;
};

Waiting& State() {
    static Waiting waiting;
    return waiting;
}

bool IsHeld(const Waiting& s, QWidget* widget) {
    return std::any_of(s.widgets.begin(), s.widgets.end(),
                       [widget](const QPointer<QWidget>& w) { return w == widget; });
}

}  // namespace

void RepaintWhenIdle(QWidget* widget) {
    Waiting& s = State();
    if (!widget || IsHeld(s, widget)) return;
    // Updates someone else turned off stay theirs to turn on.
    if (!widget->updatesEnabled()) return;
    if (!s.sleepsPaint) {
        SetIdleWork(RepaintWaitingWidgets);
        s.sleepsPaint = true;
    }
    widget->setUpdatesEnabled(false);
    s.widgets.emplace_back(widget);
    if (!s.loopPassQueued) {
        s.loopPassQueued = true;
        QTimer::singleShot(0, QCoreApplication::instance(), [] {
            State().loopPassQueued = false;
            RepaintWaitingWidgets();
        });
    }
}

void RepaintWaitingWidgets() {
    Waiting& s = State();
    if (s.widgets.empty()) return;
    const std::vector<QPointer<QWidget>> held = std::exchange(s.widgets, {});
    // Turning updates back on marks each widget for a repaint; the window's
    // pending repaint then paints them all in one pass.
    for (const QPointer<QWidget>& w : held)
        if (w) w->setUpdatesEnabled(true);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}
