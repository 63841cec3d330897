#pragma once

#include <string>

class QCommandLineParser;

// Whether the window system the toolkit will use answers, checked before the
// application object exists: the toolkit aborts when it cannot open its
// display. Empty when it answers, or when the platform is one the tool does
// not check (offscreen and the like); otherwise what to tell the user, who is
// told to start `program` from a desktop. Start-up that needs no window skips this.
std::string DisplayProblem(const char* program = "lcdtest");

// Answers --help or --version, when the arguments ask for either and parse
// with `parser`'s options, and exits; returns otherwise. Called before the
// application object exists, so that nothing the toolkit says of the session
// as it starts (no XDG_RUNTIME_DIR for root over ssh, a locale that is not
// UTF-8) comes with the answer. --help-all and arguments with the toolkit's own
// options are left to the caller's parser, after the window system.
void AnswerHelpOrVersion(QCommandLineParser& parser, int argc, char** argv);
