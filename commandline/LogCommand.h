#ifndef LOGCOMMAND_H
#define LOGCOMMAND_H

#include <string>

class ExchangeRunner;

// The log command: the driver log the window program writes, to a file
// replaced whole or to standard output ("-" or no name).
namespace LogCommand {
int run(ExchangeRunner &runner, const std::string &file);
}

#endif // LOGCOMMAND_H
