#pragma once

// The tool's exit statuses: the dialog's, a scripted run's and the benchmark's.
// 1 says the check did not pass, or for the dialog that no display could be opened.
enum ExitStatus : int {
    kExitOk = 0,               // the dialog was closed; a scripted run passed (or was sent)
    kExitFail = 1,             // Verify found the module other than the run left it
    kExitNoDisplay = 1,        // the dialog could not open a display
    kExitUsage = 2,            // bad arguments, an output file refused at start, a refused run
    kExitPortUnreachable = 3,  // a scripted run's port could not be reached
    kExitOutputLost = 4,       // the trace or the waveform did not reach its file whole
};
