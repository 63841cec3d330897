#include "afx/IdleRepaint.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

#include "base/IdleWork.h"

namespace {

struct Work {
    QPointer<QObject> owner;
    std::function<void()> run;
};

struct Waiting {
    std::vector<Work> work;
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

// Makes sure the next pause comes: the next sleep, or a pass through the event
// loop.
void AwaitPause(Waiting& s) {
    if (!s.sleepsPaint) {
        SetIdleWork(RepaintWaitingWidgets);
        s.sleepsPaint = true;
    }
    if (!s.loopPassQueued) {
        s.loopPassQueued = true;
        QTimer::singleShot(0, QCoreApplication::instance(), [] {
            State().loopPassQueued = false;
            RepaintWaitingWidgets();
        });
    }
}

}  // namespace

void RepaintWhenIdle(QWidget* widget) {
    Waiting& s = State();
    if (!widget || IsHeld(s, widget)) return;
    // Updates someone else turned off stay theirs to turn on.
    if (!widget->updatesEnabled()) return;
    widget->setUpdatesEnabled(false);
    s.widgets.emplace_back(widget);
    AwaitPause(s);
}

void WorkWhenIdle(QObject* owner, std::function<void()> work) {
    Waiting& s = State();
    if (!owner) return;
    const auto same = std::find_if(s.work.begin(), s.work.end(),
                                   [owner](const Work& w) { return w.owner == owner; });
    if (same != s.work.end()) {
        same->run = std::move(work);
        return;
    }
    s.work.push_back({owner, std::move(work)});
    AwaitPause(s);
}

void RepaintWaitingWidgets() {
    Waiting& s = State();
    if (s.work.empty() && s.widgets.empty()) return;
    for (const Work& w : std::exchange(s.work, {}))
        if (w.owner) w.run();
    const std::vector<QPointer<QWidget>> held = std::exchange(s.widgets, {});
    // Turning updates back on marks each widget for a repaint; the window's
    // pending repaint then paints them all in one pass.
    for (const QPointer<QWidget>& w : held)
        if (w) w->setUpdatesEnabled(true);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}
