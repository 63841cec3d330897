#pragma once

#include <string>

// Whether the window system the toolkit will use answers, checked before the
// application object exists: the toolkit aborts when it cannot open its
// display. Empty when it answers, or when the platform is one the tool does
// not check (offscreen and the like); otherwise what to tell the user. Start-up
// that needs no window skips this.
std::string DisplayProblem();
