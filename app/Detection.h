#pragma once

// Detection from the command line (--detect): no dialog, one line per module
// found on standard output (its --port-map value and what was proven), the
// rest on standard error. Returns the exit status: 0 when a module was proven,
// kExitFail when none was (nothing found, or only assumed), kExitUsage for bad
// options, kExitPortUnreachable when no I2C bus could be looked at.
bool IsDetection(int argc, char** argv);
int RunDetection(int argc, char** argv);
