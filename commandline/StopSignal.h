#ifndef STOPSIGNAL_H
#define STOPSIGNAL_H

#include <csignal>

// Ctrl-C, SIGTERM and a hang-up (a dropped SSH session) ask the command-line
// programs for a clean stop; this is where that request is kept and where the
// program ends as a signal would have ended it.
namespace StopSignal {

// The handlers for INT, TERM and HUP; a second signal while cleaning up ends
// the program as usual.
void install();
// The signal that asked the program to stop, 0 while none did.
int requested();
// The flag itself, for a wait that looks at it while it waits.
const volatile std::sig_atomic_t &flag();

// Ends the program by the signal that asked it to stop, as the shell expects
// of a program stopped half-way.
[[noreturn]] void end();
// Ends the program as a closed pipe ends any tool that writes to it: by
// SIGPIPE, which shells report as status 141.
[[noreturn]] void endByBrokenPipe();

// Sleeps until a monotonic time (seconds); false when a stop was asked for first.
bool sleepUntil(double when);
double monotonic();

} // namespace StopSignal

#endif // STOPSIGNAL_H
