#ifndef SWITCHCOMMANDS_H
#define SWITCHCOMMANDS_H

class ExchangeRunner;

// The commands that set the driver: the touch output on or off, the
// threshold and the intensity. Each reads the value back and tells what the
// driver holds, status 1 when it did not take it.
namespace SwitchCommands {
int setOutput(ExchangeRunner &runner, bool enabled);
// what: "threshold" or "intensity"; value: checked against its range already.
int setValue(ExchangeRunner &runner, const char *what, long value);
}

#endif // SWITCHCOMMANDS_H
