#pragma once

class QWidget;

// Repaints that wait for the thread's next pause: the next sleep or the event
// loop, whichever comes first. During a test run the line buttons change at
// every step; the run's sleeps then paint them while they wait, so a refresh
// itself paints only what must be on screen before it returns.

// Holds `widget`'s repaints until the next pause, then repaints it once,
// however often it changed meanwhile. Other widgets paint as usual.
void RepaintWhenIdle(QWidget* widget);

// The pause's work: repaints the held widgets and any other repaint already
// waiting. Does nothing when nothing waits.
void RepaintWaitingWidgets();
