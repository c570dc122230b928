#include "Interruption.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace velkor {

namespace {

// Lock-free atomics are what a signal handler may touch.
std::atomic<int> caughtSignal{0};
std::atomic<bool> commandRunning{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

extern "C" void OnTerminationSignal(int number)
{
    // Where the handler is reset after each call, the next signal must still
    // find it: a second Ctrl-C may not skip the port's release.
    std::signal(number, OnTerminationSignal);
    int none = 0;
    caughtSignal.compare_exchange_strong(none, number);
    if (!commandRunning) {
        std::_Exit(128 + number);
    }
}

}  // namespace

void InstallInterruptionHandlers()
{
    for (const int number : {SIGINT, SIGTERM}) {
        std::signal(number, OnTerminationSignal);
    }
#ifdef SIGHUP
    std::signal(SIGHUP, OnTerminationSignal);
#endif
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void CommandStarting()
{
    commandRunning = true;
}

int CaughtSignal()
{
    return caughtSignal;
}

}  // namespace velkor
