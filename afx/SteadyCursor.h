#pragma once

class QLineEdit;

// A line edit shapes and draws its whole text again at every blink of its
// cursor; with a pasted text of a megabyte that is a good part of a core spent
// while the tool waits. While `edit` has the focus and holds more than
// kSteadyCursorChars characters, its cursor stays lit instead of blinking. Only
// the focused widget blinks, so the application's flash time is what is set;
// it comes back when the focus or a shorter text leaves.
inline constexpr int kSteadyCursorChars = 4096;
void KeepCursorSteadyOnLongText(QLineEdit* edit);
