#ifndef STATUSCOMMAND_H
#define STATUSCOMMAND_H

#include "commandline/CommandLine.h"

class ExchangeRunner;

// The status command: the scan rate and the basic status, told as text,
// JSON or Prometheus metrics, to standard output or a file replaced whole.
namespace StatusCommand {
int run(ExchangeRunner &runner, const CommandLine::Options &options);
}

#endif // STATUSCOMMAND_H
