#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

// Where the tool tells the user what it cannot do: on standard error and
// through a sink (the dialog's notice line), once per cause.
class ProblemLog {
public:
    using Sink = std::function<void(const std::string& message)>;
    // The sink may be empty.
    void SetSink(Sink sink) { sink_ = std::move(sink); }

    // Tells `message` unless `cause` was told already. `aboutPort` is false for a
    // problem of a file that records the port (a trace or waveform), which
    // leaves the port itself reached.
    void Report(const std::string& cause, const std::string& message, bool aboutPort = true);
    // A request the wiring cannot carry out (a run the port cannot drive):
    // shown through the sink every time it is refused, said on standard error once.
    void Refuse(const std::string& message);

    // The messages reported so far, oldest first.
    const std::vector<std::string>& Problems() const { return problems_; }
    // The latest problem about the port itself, "" while there is none.
    const std::string& LastPortProblem() const { return lastPortProblem_; }

private:
    Sink sink_;
    std::set<std::string> causes_;
    std::vector<std::string> problems_;
    std::string lastPortProblem_;
};
