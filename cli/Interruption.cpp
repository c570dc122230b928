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

extern "C" void OnTerminationSignal(int number);

// Without SA_RESTART, so that a blocking call the signal lands in returns
// (EINTR) instead of being restarted and hiding the signal; std::signal on
// glibc restarts. Windows has only std::signal, which resets the handler
// after each call: the handler puts itself back.
void Catch(int number)
{
#ifdef _WIN32
    std::signal(number, OnTerminationSignal);
#else
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(number, &action, nullptr);
#endif
}

extern "C" void OnTerminationSignal(int number)
{
    // A second Ctrl-C may not skip the port's release.
    Catch(number);
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
        Catch(number);
    }
#ifdef SIGHUP
    Catch(SIGHUP);
#endif
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    // A file-size limit then fails the write (EFBIG) instead of killing the
    // program: the command ends with its line and removes its temporary file.
    std::signal(SIGXFSZ, SIG_IGN);
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
