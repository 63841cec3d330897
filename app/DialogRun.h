#pragma once

#include "app/CommonOptions.h"

// The dialog as started without --run: the port back-end the options choose, the
// simulated module and its window when the port is simulated, the trace and the
// waveform, then the main dialog until it is closed. Returns the exit status:
// kExitUsage when an output file cannot be made (told on standard error), else 0,
// or kExitOutputLost when the trace or the waveform lost data. Needs the
// application object and the resources.
int RunDialog(const CommonOptions& options);
