#include "io/ProblemLog.h"

#include <algorithm>
#include <cstdio>

namespace {
void SayOnStandardError(const std::string& message) {
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    std::fflush(stderr);
}
}  // namespace

void ProblemLog::Report(const std::string& cause, const std::string& message, bool aboutPort) {
    if (!causes_.insert(cause).second) return;
    problems_.push_back(message);
    if (aboutPort) lastPortProblem_ = message;
    SayOnStandardError(message);
    if (sink_) sink_(message);
}

void ProblemLog::Refuse(const std::string& message) {
    // A refusal that repeats a reported problem (a lost port) was said already.
    const bool said = std::find(problems_.begin(), problems_.end(), message) != problems_.end();
    if (!said && causes_.insert("refused:" + message).second) SayOnStandardError(message);
    if (sink_) sink_(message);
}
