#ifndef LIVESIGNALS_H
#define LIVESIGNALS_H

#include <string>

class ExchangeRunner;

// The commands that follow the live signals at the signal window's pace
// until Ctrl-C or a number of seconds: watch prints a line per refresh,
// record writes a recording the simulated controller can replay.
namespace LiveSignals {
// seconds: 0 for no end.
int watch(ExchangeRunner &runner, bool json, double seconds);
int record(ExchangeRunner &runner, const std::string &file, double seconds);
}

#endif // LIVESIGNALS_H
