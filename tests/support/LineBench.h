#pragma once

#include "lcd/ModuleDriver.h"
#include "port/LinePanel.h"
#include "support/BusTimeline.h"

// The line panel and the driver over a recording port, as the dialog holds them:
// a fresh port and line state first (the time line), a view that keeps the
// checks, the panel pointed at the Port list's first entry, and the driver
// sleeping on the time line.
struct LineBench {
    LineBench() { panel.OnCloseupPort(); }

    BusTimeline timeline;  // first: a fresh port and line state
    RecordingLineView view;
    LinePanel panel{view};
    ModuleDriver driver{panel, timeline};
};
