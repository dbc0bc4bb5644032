#ifndef DRIVEREXCHANGE_H
#define DRIVEREXCHANGE_H

#include <csignal>
#include <functional>

// Runs one driver exchange at a time on a thread of its own, so that a
// driver stuck in a transfer, deaf to signals even, cannot keep the program
// from writing its result and ending. The thread blocks every signal; they
// reach the waiting thread, which gives up at once when asked to stop.
class DriverExchange
{
public:
    enum Outcome { Answered, TimedOut, Stopped };

    // Runs call, waiting at most seconds. Answered: *result and errno as the
    // call left them. TimedOut or Stopped (stop became non-zero first): the
    // call is left running, and every later run is TimedOut at once, as the
    // stuck call still holds the channel.
    static Outcome run(double seconds, const std::function<int()> &call, int *result,
                       const volatile std::sig_atomic_t &stop);

    // Whether a call was left running. A thread that cannot be joined may
    // not meet the exit handlers: the program then ends with _exit.
    static bool abandoned();
};

#endif // DRIVEREXCHANGE_H
