#include "bench/CpuLoad.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

// The signals that end the benchmark without its own say; each ends the load
// first. A crash or SIGKILL is left to the children's death signal.
constexpr std::array kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Long enough for every child to be running and spinning before a figure is
// taken.
constexpr std::chrono::milliseconds kSettle{100};

// The running children, for the signal handler, which can only read what is
// lock-free. One CpuLoad at a time, so one table.
constexpr std::size_t kMostChildren = 256;
std::array<std::atomic<pid_t>, kMostChildren> g_running{};
std::array<struct sigaction, kEndingSignals.size()> g_previous{};

extern "C" void EndLoadAndDie(int signal) {
    for (std::atomic<pid_t>& child : g_running)
        if (const pid_t pid = child.load(); pid > 0) kill(pid, SIGKILL);
    // The benchmark ends as the signal would have ended it.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(signal, &standard, nullptr);
    raise(signal);
}

void CatchEndingSignals() {
    struct sigaction catcher {};
    catcher.sa_handler = EndLoadAndDie;
    sigemptyset(&catcher.sa_mask);
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
        sigaction(kEndingSignals[i], &catcher, &g_previous[i]);
}

void RestoreEndingSignals() {
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
        sigaction(kEndingSignals[i], &g_previous[i], nullptr);
}

// The child's whole life, after fork: only calls that are safe in the child of
// a threaded process.
[[noreturn]] void Spin(pid_t parent) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (const int signal : kEndingSignals) sigaction(signal, &standard, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (getppid() != parent) _exit(0);  // the benchmark ended before the death signal was set
    volatile unsigned long turns = 0;
    for (;;) turns = turns + 1;
}

}  // namespace

CpuLoad::CpuLoad(unsigned processes) {
    if (processes > kMostChildren) {
        error_ = "at most " + std::to_string(kMostChildren) + " load processes";
        return;
    }
    if (processes == 0) return;
    CatchEndingSignals();
    catching_ = true;
    const pid_t self = getpid();
    for (unsigned i = 0; i < processes; ++i) {
        const pid_t pid = fork();
        if (pid == 0) Spin(self);
        if (pid < 0) {
            error_ = std::string("a load process could not be started: ") + std::strerror(errno);
            break;
        }
        children_.push_back(pid);
        g_running[i].store(pid);
    }
    std::this_thread::sleep_for(kSettle);
}

CpuLoad::~CpuLoad() {
    if (!catching_) return;
    for (const pid_t pid : children_) kill(pid, SIGKILL);
    for (const pid_t pid : children_) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (std::atomic<pid_t>& child : g_running) child.store(0);
    RestoreEndingSignals();
}
