#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <string>
#include <vector>

class Diagnostics;
struct Product;

// A command line of the command-line programs, read and checked in full
// before anything is asked of the driver, with the help and usage texts
// that describe it.
class CommandLine
{
public:
    // Seconds a driver exchange may take unless --timeout says otherwise.
    static constexpr double DefaultTimeout = 5;

    struct Command
    {
        const char *name;
        const char *operands;     // as the help shows them
        const char *options;      // the long options it takes, space-separated
        const char *summary;
        int minimumOperands;
        int maximumOperands;
        bool onlyAsks;            // may use a control file opened for reading only
        bool refreshes;           // runs until stopped, ending cleanly
    };

    // The options a command line may carry, before or after the command.
    struct Options
    {
        bool help = false;
        bool version = false;
        bool json = false;
        std::string format;          // status: text, json or prometheus
        std::string output;          // status: the file to write instead of standard output
        double seconds = 0;          // watch, record: 0 for no end
        double timeout = DefaultTimeout;   // for each driver exchange
        std::vector<std::string> given;   // the long names given, for checking them against the command
        std::string unknown;              // the first option no command takes
        std::vector<std::string> operands;   // the command's own, once it is known
        long value = 0;                      // threshold, intensity: the number asked for
    };

    CommandLine(const Product &product, Diagnostics &diagnostics);

    // Reads a command line. Null with *status set when the run ends here: a
    // usage error, or the help or version told; otherwise the command to run.
    const Command *read(int argc, char **argv, Options &options, int *status);

private:
    std::vector<Command> available() const;
    const Command *find(const std::string &word) const;
    int parse(int argc, char **argv, Options &options) const;
    // The checks once the command is known; Success when it may run.
    int check(const Command &command, Options &options) const;
    int help(const Command *command) const;
    int version() const;
    int usage(const std::string &problem, const Command *command = nullptr) const;

    const Product &product;
    Diagnostics &diagnostics;
    std::vector<Command> commands;
};

#endif // COMMANDLINE_H
