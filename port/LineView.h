#pragma once

#include "port/Readouts.h"

// What the line state is mirrored into: the line panel's radio buttons and the
// readouts of the main dialog. The dialog implements it; tests record it.
class LineView {
public:
    virtual ~LineView() = default;
    // Checks or unchecks one radio button of the line panel; no notification.
    virtual void SetLineCheck(int buttonId, bool checked) = 0;
    // Replaces the three readouts' texts and repaints them before returning.
    virtual void ShowReadouts(const Readouts& readouts) = 0;
    // The Port list's selection index, -1 when nothing is selected.
    virtual int PortSelection() const = 0;
};
