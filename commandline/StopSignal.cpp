#include "commandline/StopSignal.h"

#include <cerrno>
#include <initializer_list>
#include <cstdlib>
#include <ctime>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int signal)
{
    stopRequested = signal;
}

// Lets one signal through at its default action and raises it; the exit
// status only if the signal somehow returns.
[[noreturn]] void endBy(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, signal);
    sigprocmask(SIG_UNBLOCK, &mask, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);
}

} // namespace

void StopSignal::install()
{
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep or a blocked write returns at once.
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int StopSignal::requested()
{
    return stopRequested;
}

const volatile std::sig_atomic_t &StopSignal::flag()
{
    return stopRequested;
}

void StopSignal::end()
{
    endBy(stopRequested);
}

void StopSignal::endByBrokenPipe()
{
    endBy(SIGPIPE);
}

bool StopSignal::sleepUntil(double when)
{
    timespec until{};
    until.tv_sec = static_cast<time_t>(when);
    until.tv_nsec = static_cast<long>((when - until.tv_sec) * 1e9);
    while (!stopRequested) {
        const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (result == 0)
            return !stopRequested;
        if (result != EINTR)
            return false;
    }
    return false;
}

double StopSignal::monotonic()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec + time.tv_nsec / 1e9;
}
