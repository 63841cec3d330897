#pragma once

#include <functional>

class QObject;
class QWidget;

// Repaints that wait for the thread's next pause: the next sleep or the event
// loop, whichever comes first. During a test run the line buttons change at
// every step; the run's sleeps then paint them while they wait, so a refresh
// itself paints only what must be on screen before it returns.

// Holds `widget`'s repaints until the next pause, then repaints it once,
// however often it changed meanwhile. Other widgets paint as usual.
void RepaintWhenIdle(QWidget* widget);

// Runs `work` at the next pause, before the waiting repaints, so it can mark
// what needs repainting. Asked again for the same `owner` before then, only
// the latest work runs. Forgotten if `owner` is destroyed first.
void WorkWhenIdle(QObject* owner, std::function<void()> work);

// The pause's work: runs the waiting work, then repaints the held widgets and
// any other repaint already waiting. Does nothing when nothing waits.
void RepaintWaitingWidgets();
