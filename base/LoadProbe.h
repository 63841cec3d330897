#pragma once

// More tasks ready to run than cores this thread may use, from the kernel's
// count of runnable tasks in /proc/loadavg. Unreadable, the machine counts as
// idle.
bool MachineBusy();
