#pragma once

#include <functional>

// Work that may wait for the thread's next pause, such as repaints the screen
// can take a moment later. Every clock's wait runs it within its own deadline,
// so a wait that would only have spun does it instead. One piece of work at a
// time; an empty function removes it.
void SetIdleWork(std::function<void()> work);
void RunIdleWork();
