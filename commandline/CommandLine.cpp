#include "commandline/CommandLine.h"

#include "app/Product.h"
#include "commandline/Diagnostics.h"
#include "commandline/ExitStatus.h"
#include "commandline/Formatted.h"
#include "commandline/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifndef CONTROLLER_VERSION
#define CONTROLLER_VERSION "unknown"
#endif

using namespace ExitStatus;

namespace {

// Whether text is decimal digits with at most one point, which fractions
// alone may have: no blanks, signs, exponents or hexadecimal.
bool plainDecimal(const std::string &text, bool fraction)
{
    int digits = 0;
    int points = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.' && fraction)
            ++points;
        else
            return false;
    }
    return digits > 0 && points <= 1;
}

// A whole number with nothing else around it, a minus sign allowed.
bool parseInt(const std::string &text, long *value)
{
    if (!plainDecimal(text[0] == '-' ? text.substr(1) : text, false))
        return false;
    errno = 0;
    *value = std::strtol(text.c_str(), nullptr, 10);
    return errno == 0;
}

// Seconds from a millisecond up to about 30 years.
bool parseSeconds(const std::string &text, double *seconds)
{
    if (!plainDecimal(text, true))
        return false;
    *seconds = std::strtod(text.c_str(), nullptr);
    return *seconds >= 0.001 && *seconds < 1e9;
}

// Standard output's whole text, or the failure to write it.
int show(const std::string &text, Diagnostics &diagnostics)
{
    OutputFile out("-");
    if (!out.open() || !out.write(text))
        return diagnostics.outputFailure(out);
    return Success;
}

} // namespace

CommandLine::CommandLine(const Product &product, Diagnostics &diagnostics)
    : product(product), diagnostics(diagnostics), commands(available())
{
}

std::vector<CommandLine::Command> CommandLine::available() const
{
    std::vector<Command> list;
    list.push_back({"status", "", "json format output", "driver, scan rate, touch output, threshold and product data",
                    0, 0, true, false});
    list.push_back({"enable", "", "", "switch the touch output on", 0, 0, false, false});
    list.push_back({"disable", "", "", "switch the touch output off", 0, 0, false, false});
    list.push_back({"threshold", "N", "", "set the detection threshold", 1, 1, false, false});
    if (product.commands.setIntensity != 0)
        list.push_back({"intensity", "N", "", "set the intensity", 1, 1, false, false});
    if (product.writesDriverLog)
        list.push_back({"log", "[FILE]", "", "write the driver log to FILE or standard output (-)", 0, 1, true,
                        false});
    list.push_back({"watch", "", "json seconds", "a line per refresh, until Ctrl-C or N seconds", 0, 0, true, true});
    list.push_back({"record", "FILE", "seconds", "record the live signals for replay, until Ctrl-C or N seconds",
                    1, 1, true, true});
    return list;
}

const CommandLine::Command *CommandLine::find(const std::string &word) const
{
    for (const Command &command : commands) {
        if (word == command.name)
            return &command;
    }
    return nullptr;
}

int CommandLine::parse(int argc, char **argv, Options &options) const
{
    struct Known
    {
        const char *name;
        bool takesValue;
    };
    static const Known known[] = {{"help", false}, {"version", false}, {"json", false},
                                  {"format", true}, {"output", true},   {"seconds", true},
                                  {"timeout", true}};
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        long number = 0;
        if (endOfOptions || argument.size() < 2 || argument[0] != '-' || parseInt(argument, &number)) {
            options.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            endOfOptions = true;
            continue;
        }
        if (argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument.compare(0, 2, "--") != 0) {
            if (options.unknown.empty())
                options.unknown = argument;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string option = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const Known *match = nullptr;
        for (const Known &entry : known) {
            if (option == entry.name)
                match = &entry;
        }
        if (!match) {
            // Told once the command is known, with the options it does take.
            if (options.unknown.empty())
                options.unknown = argument.substr(0, equals);
            continue;
        }
        std::string value;
        if (match->takesValue) {
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return usage("--" + option + " needs a value");
        } else if (equals != std::string::npos) {
            return usage("--" + option + " takes no value");
        }
        options.given.push_back(option);
        if (option == "help") {
            options.help = true;
        } else if (option == "version") {
            options.version = true;
        } else if (option == "json") {
            options.json = true;
        } else if (option == "format") {
            if (value != "text" && value != "json" && value != "prometheus")
                return usage("--format is text, json or prometheus, not '" + value + "'");
            options.format = value;
        } else if (option == "output") {
            if (value.empty())
                return usage("--output needs a file name");
            options.output = value;
        } else if (option == "timeout") {
            if (!parseSeconds(value, &options.timeout))
                return usage("--timeout takes a number of seconds above 0, not '" + value + "'");
        } else if (!parseSeconds(value, &options.seconds)) {
            return usage("--seconds takes a number of seconds above 0, not '" + value + "'");
        }
    }
    return Success;
}

const CommandLine::Command *CommandLine::read(int argc, char **argv, Options &options, int *status)
{
    *status = parse(argc, argv, options);
    if (*status != Success)
        return nullptr;

    const Command *command = nullptr;
    if (!options.operands.empty()) {
        command = find(options.operands.front());
        if (!command) {
            const std::string word = options.operands.front();
            // An unknown option's value would pass for the command ("--sec 5 watch"): the option is the fault.
            if (!options.unknown.empty()) {
                *status = usage("unknown option '" + options.unknown + "'");
            } else if (word == "help" && options.operands.size() <= 2) {
                const Command *about = options.operands.size() == 2 ? find(options.operands[1]) : nullptr;
                *status = options.operands.size() == 2 && !about
                              ? usage("unknown command '" + options.operands[1] + "'")
                              : help(about);
            } else if (word == "log" || word == "intensity") {
                *status = usage("the " + std::string(product.word) + " driver has no " + word + " command");
            } else {
                *status = usage("unknown command '" + word + "'");
            }
            return nullptr;
        }
        options.operands.erase(options.operands.begin());
    }
    if (!options.unknown.empty())
        *status = usage("unknown option '" + options.unknown + "'"
                            + (command ? std::string(" for ") + command->name : ""),
                        command);
    else if (options.help)
        *status = help(command);
    else if (options.version)
        *status = version();
    else if (!command)
        *status = usage("a command is missing");
    else
        return (*status = check(*command, options)) == Success ? command : nullptr;
    return nullptr;
}

int CommandLine::check(const Command &command, Options &options) const
{
    for (const std::string &option : options.given) {
        // Every command talks to the driver, so every command takes a time limit.
        if (option == "timeout")
            continue;
        const std::string allowed = std::string(" ") + command.options + " ";
        if (allowed.find(" " + option + " ") == std::string::npos)
            return usage("unknown option '--" + option + "' for " + command.name, &command);
    }
    const int count = static_cast<int>(options.operands.size());
    if (count < command.minimumOperands || count > command.maximumOperands)
        return usage(std::string(count < command.minimumOperands ? "missing" : "too many")
                         + " arguments for " + command.name, &command);
    if (options.json && !options.format.empty() && options.format != "json")
        return usage("--json and --format=" + options.format + " ask for different forms", &command);

    const bool threshold = std::strcmp(command.name, "threshold") == 0;
    if (!threshold && std::strcmp(command.name, "intensity") != 0)
        return Success;
    // The intensity is one byte in the command and in the status answer,
    // and the driver alone knows which of those values it supports.
    const int minimum = threshold ? product.threshold.minimum : 0;
    const int maximum = threshold ? product.threshold.maximum : 255;
    const std::string &value = options.operands.front();
    if (!parseInt(value, &options.value) || options.value < minimum || options.value > maximum) {
        return usage(std::string("the ") + command.name + " is a whole number from " + std::to_string(minimum)
                         + " to " + std::to_string(maximum) + ", not '" + value + "'",
                     &command);
    }
    return Success;
}

int CommandLine::help(const Command *command) const
{
    const char *name = diagnostics.program();
    std::string text;
    if (command) {
        text = std::string("Usage: ") + name + " " + command->name;
        if (*command->operands)
            text += std::string(" ") + command->operands;
        const std::string options = command->options;
        if (options.find("json") != std::string::npos)
            text += " [--json]";
        if (options.find("format") != std::string::npos)
            text += " [--format=text|json|prometheus] [--output FILE]";
        if (options.find("seconds") != std::string::npos)
            text += " [--seconds N]";
        text += std::string("\n") + command->summary;
        const std::string verb = command->name;
        if (verb == "threshold")
            text += formatted(", %d to %d", product.threshold.minimum, product.threshold.maximum);
        if (verb == "intensity")
            text += ", 0 to 255";
        text += ".\n";
        if (!command->onlyAsks)
            text += "Reads the value back and exits 1 when the driver did not take it.\n";
        if (verb == "status")
            text += "--output writes FILE whole, replacing it only once complete (for node_exporter's textfile "
                    "collector).\n";
        if (verb == "record" || verb == "log")
            text += "FILE is replaced only once complete; - is standard output.\n";
        text += "--timeout SECONDS limits each exchange with the driver (default 5).\n";
    } else {
        text = std::string("Usage: ") + name + " [OPTIONS] COMMAND [ARGUMENTS]\n" + "Asks and sets the "
               + product.word + " touch controller through " + product.driverFile + ".\n\nCommands:\n";
        for (const Command &entry : commands) {
            std::string head = std::string(entry.name) + " " + entry.operands;
            head.resize(std::max<std::size_t>(head.size(), 18), ' ');
            text += "  " + head + entry.summary + "\n";
        }
        text += std::string("\nOptions go before or after the command; '") + name
                + " COMMAND --help' describes one.\n  -h, --help, --version\n"
                  "  --timeout SECONDS   the time each driver exchange may take (default 5)\n\n"
                  "Exit status: 0 on success, 1 when the driver is absent, refuses, fails, hangs or does not take\n"
                  "a value, or output cannot be written; 2 for usage errors.\n";
    }
    return show(text, diagnostics);
}

int CommandLine::version() const
{
    return show(std::string(diagnostics.program()) + " " + CONTROLLER_VERSION + "\n", diagnostics);
}

int CommandLine::usage(const std::string &problem, const Command *command) const
{
    std::string choices;
    if (command) {
        std::string options = command->options;
        choices = std::string("; ") + command->name + " takes " + (*command->operands ? command->operands : "no arguments");
        std::string list;
        for (const char *option : {"json", "format", "output", "seconds"}) {
            if (options.find(option) != std::string::npos)
                list += std::string(list.empty() ? "" : ", ") + "--" + option
                        + (std::strcmp(option, "format") == 0 ? "=text|json|prometheus"
                           : std::strcmp(option, "output") == 0 ? " FILE"
                           : std::strcmp(option, "seconds") == 0 ? " N" : "");
        }
        choices += list.empty() ? " and no options" : " and the options " + list + ", --help";
    } else {
        choices = "; commands:";
        const char *separator = " ";
        for (const Command &entry : commands) {
            choices += separator + std::string(entry.name);
            separator = ", ";
        }
        choices += "; options: --help, --version, --timeout SECONDS";
    }
    diagnostics.message(problem + choices + " (see " + diagnostics.program() + " --help)");
    return Usage;
}
