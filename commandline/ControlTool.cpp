#include "commandline/ControlTool.h"

#include "app/Product.h"
#include "commandline/DriverExchange.h"
#include "commandline/Formatted.h"
#include "commandline/OutputFile.h"
#include "commandline/Recording.h"
#include "commandline/StatusReport.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/DriverLog.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef CONTROLLER_VERSION
#define CONTROLLER_VERSION "unknown"
#endif

namespace {

enum ExitStatus { Success = 0, Failed = 1, Usage = 2 };

// Seconds a driver exchange may take unless --timeout says otherwise.
const double DefaultTimeout = 5;

// The signal that asked the program to stop, 0 while none did.
volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int signal)
{
    stopRequested = signal;
}

// Descriptors 0 to 2 that are closed get /dev/null, so that no file the
// program opens, the driver's above all, takes their place. True when
// standard output was one of them.
bool openStandardDescriptors()
{
    bool outputClosed = false;
    for (int standard = 0; standard <= 2; ++standard) {
        if (::fcntl(standard, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (standard == STDOUT_FILENO)
            outputClosed = true;
        const int null = ::open("/dev/null", standard == 0 ? O_RDONLY : O_WRONLY);
        if (null < 0)
            std::_Exit(Failed);
        if (null != standard) {
            ::dup2(null, standard);
            ::close(null);
        }
    }
    return outputClosed;
}

// Ends the program as a closed pipe ends any tool that writes to it: by
// SIGPIPE, which shells report as status 141.
[[noreturn]] void endByBrokenPipe()
{
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
    std::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

// Ctrl-C, SIGTERM and a hang-up (a dropped SSH session) all ask for a clean
// stop; a second signal while cleaning up ends the program as usual.
void installStopHandlers()
{
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep or a blocked write returns at once.
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// Ends the program by the signal that asked it to stop, as the shell expects
// of a program stopped half-way, once its temporary file is gone.
[[noreturn]] void endByStopSignal()
{
    const int signal = stopRequested;
    std::signal(signal, SIG_DFL);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, signal);
    sigprocmask(SIG_UNBLOCK, &mask, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);
}

// Control bytes in a message (a file name's, say) are shown escaped, never
// sent raw to the terminal.
std::string printable(const std::string &text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            shown += formatted("\\x%02x", c);
        else
            shown += static_cast<char>(c);
    }
    return shown;
}

double monotonic()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec + time.tv_nsec / 1e9;
}

// The wall-clock time as RFC 3339 in UTC, to the millisecond.
std::string timestamp()
{
    timespec time{};
    clock_gettime(CLOCK_REALTIME, &time);
    std::tm parts{};
    gmtime_r(&time.tv_sec, &parts);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03ldZ", time.tv_nsec / 1000000);
    return text;
}

// Sleeps until a monotonic time; false when a stop was asked for first.
bool sleepUntil(double when)
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
    std::vector<std::string> operands;
};

class Tool
{
public:
    Tool(const Product &product, const char *name)
        : product(product), name(name), commands(product.commands)
    {
        // A desktop as wide and high as the driver's own scale makes the
        // record keep the touch area in the driver's units.
        Param::useDesktop(commands.areaDivisor, commands.areaDivisor);
        param = Param::getInst();
        commandList = available();
    }

    int run(int argc, char **argv);

private:
    struct Command
    {
        const char *name;
        const char *operands;     // as the help shows them
        const char *options;      // the long options it takes, space-separated
        const char *summary;
        int minimumOperands;
        int maximumOperands;
    };

    int parse(int argc, char **argv, Options &options);
    std::vector<Command> available() const;
    const Command *find(const std::string &word) const;

    int status(const Options &options);
    int setOutput(bool enabled);
    int setValue(const std::string &value, const char *what);
    int log(const std::string &file);
    int watch(const Options &options);
    int record(const std::string &file, double seconds);

    int help(const Command *command);
    int usage(const std::string &message, const Command *command = nullptr) const;
    void message(const std::string &text) const;
    // One driver exchange under the time limit: the call's result, or -1
    // with errno ETIMEDOUT when it did not come back in time (EINTR when a
    // stop came first), the call then left behind on its thread.
    int exchange(const std::function<int()> &call);
    // Ends a command that does one thing when a stop was asked for, its file removed first.
    void endIfStopped();
    // A query's outcome: true when it answered in full; otherwise the failure is kept.
    bool asked(int result, const char *query, int wanted);
    // The basic status query, which most commands make, under the time limit.
    bool askedStatus();
    bool told(int result, const char *command);
    int driverFailure() const;
    // A write's or a commit's failure: a broken pipe ends the program as
    // SIGPIPE does, a stop request ends it cleanly, anything else is status 1.
    int outputFailure(OutputFile &out) const;
    // Checks a file name before anything is asked of the driver.
    int openFailure(OutputFile &out) const;
    bool lunari() const { return commands.hasMatrix; }

    // One refresh of the live signals, as the signal window takes it.
    bool readSignals(int *samples);
    // Refreshes at the signal window's pace until a stop, the given seconds
    // (0: no end) or a failure, handing each the seconds since the first. A
    // tick missed is skipped, not made up.
    template <typename Show>
    int refreshes(double seconds, int *samples, Show show);
    std::string strongestSample(const int *samples, bool json) const;
    std::string touchesAndStrongestCell(bool json) const;

    const Product &product;
    const char *name;
    const CommandSet &commands;
    Param *param = nullptr;
    std::vector<Command> commandList;
    StatusReport::Failure failure;
    double timeout = DefaultTimeout;
    const char *writing = nullptr;   // the command that needs write access, while one is sent
    // Commands that do one thing end by the signal that stops them, their
    // file (if any) removed first; watch and record end cleanly instead.
    bool looping = false;
    OutputFile *pending = nullptr;
    mutable bool progressShown = false;
};

std::vector<Tool::Command> Tool::available() const
{
    std::vector<Command> list;
    list.push_back({"status", "", "json format output", "driver, scan rate, touch output, threshold and product data",
                    0, 0});
    list.push_back({"enable", "", "", "switch the touch output on", 0, 0});
    list.push_back({"disable", "", "", "switch the touch output off", 0, 0});
    list.push_back({"threshold", "N", "", "set the detection threshold", 1, 1});
    if (commands.setIntensity != 0)
        list.push_back({"intensity", "N", "", "set the intensity", 1, 1});
    if (product.writesDriverLog)
        list.push_back({"log", "[FILE]", "", "write the driver log to FILE or standard output (-)", 0, 1});
    list.push_back({"watch", "", "json seconds", "a line per refresh, until Ctrl-C or N seconds", 0, 0});
    list.push_back({"record", "FILE", "seconds", "record the live signals for replay, until Ctrl-C or N seconds",
                    1, 1});
    return list;
}

const Tool::Command *Tool::find(const std::string &word) const
{
    for (const Command &command : commandList) {
        if (word == command.name)
            return &command;
    }
    return nullptr;
}

int Tool::parse(int argc, char **argv, Options &options)
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

int Tool::run(int argc, char **argv)
{
    Options options;
    const int parsed = parse(argc, argv, options);
    if (parsed != Success)
        return parsed;

    const Command *command = nullptr;
    if (!options.operands.empty()) {
        command = find(options.operands.front());
        if (!command) {
            const std::string word = options.operands.front();
            // An unknown option's value would pass for the command ("--sec 5 watch"): the option is the fault.
            if (!options.unknown.empty())
                return usage("unknown option '" + options.unknown + "'");
            if (word == "help" && options.operands.size() <= 2) {
                const Command *about = options.operands.size() == 2 ? find(options.operands[1]) : nullptr;
                if (options.operands.size() == 2 && !about)
                    return usage("unknown command '" + options.operands[1] + "'");
                return help(about);
            }
            if (word == "log" || word == "intensity")
                return usage("the " + std::string(product.word) + " driver has no " + word + " command");
            return usage("unknown command '" + word + "'");
        }
        options.operands.erase(options.operands.begin());
    }
    if (!options.unknown.empty())
        return usage("unknown option '" + options.unknown + "'" + (command ? std::string(" for ") + command->name : ""),
                     command);
    if (options.help)
        return help(command);
    if (options.version) {
        OutputFile out("-");
        if (!out.open() || !out.write(std::string(name) + " " + CONTROLLER_VERSION + "\n"))
            return outputFailure(out);
        return Success;
    }
    if (!command)
        return usage("a command is missing");

    for (const std::string &option : options.given) {
        // Every command talks to the driver, so every command takes a time limit.
        if (option == "timeout")
            continue;
        const std::string allowed = std::string(" ") + command->options + " ";
        if (allowed.find(" " + option + " ") == std::string::npos)
            return usage("unknown option '--" + option + "' for " + command->name, command);
    }
    const int count = static_cast<int>(options.operands.size());
    if (count < command->minimumOperands || count > command->maximumOperands)
        return usage(std::string(count < command->minimumOperands ? "missing" : "too many")
                         + " arguments for " + command->name, command);
    if (options.json && !options.format.empty() && options.format != "json")
        return usage("--json and --format=" + options.format + " ask for different forms", command);

    const std::string verb = command->name;
    const std::string operand = options.operands.empty() ? std::string() : options.operands.front();
    timeout = options.timeout;
    installStopHandlers();
    // Commands that only ask may do so through a file they may only read.
    AllowReadOnly(verb == "status" || verb == "log" || verb == "watch" || verb == "record");
    if (verb == "status")
        return status(options);
    if (verb == "enable" || verb == "disable")
        return setOutput(verb == "enable");
    if (verb == "threshold" || verb == "intensity")
        return setValue(operand, command->name);
    if (verb == "log")
        return log(operand);
    if (verb == "watch")
        return watch(options);
    return record(operand, options.seconds);
}

int Tool::help(const Command *command)
{
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
        if (verb == "enable" || verb == "disable" || verb == "threshold" || verb == "intensity")
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
        for (const Command &entry : commandList) {
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
    OutputFile out("-");
    if (!out.open() || !out.write(text))
        return outputFailure(out);
    return Success;
}

int Tool::usage(const std::string &problem, const Command *command) const
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
        for (const Command &entry : commandList) {
            choices += separator + std::string(entry.name);
            separator = ", ";
        }
        choices += "; options: --help, --version, --timeout SECONDS";
    }
    message(problem + choices + " (see " + name + " --help)");
    return Usage;
}

void Tool::message(const std::string &text) const
{
    // A progress line still open on the terminal ends first.
    const std::string line = std::string(progressShown ? "\n" : "") + name + ": " + printable(text) + "\n";
    progressShown = false;
    const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

int Tool::exchange(const std::function<int()> &call)
{
    int result = -1;
    switch (DriverExchange::run(timeout, call, &result, stopRequested)) {
    case DriverExchange::Answered:
        return result;
    case DriverExchange::TimedOut:
        errno = ETIMEDOUT;
        return -1;
    case DriverExchange::Stopped:
        break;
    }
    endIfStopped();
    errno = EINTR;
    return -1;
}

void Tool::endIfStopped()
{
    if (!stopRequested || looping)
        return;
    if (pending)
        pending->discard();
    endByStopSignal();
}

bool Tool::asked(int result, const char *query, int wanted)
{
    // A query that reads nothing (an old driver's touch points) counts as answered.
    if (result > 0 && (lastRead < 0 || lastRead >= wanted))
        return true;
    const int error = errno;
    if (result <= 0 && error == ETIMEDOUT) {
        failure.word = "timeout";
        failure.reason = formatted("no answer to the %s within %g s (timeout)", query, timeout);
    } else if (result > 0) {
        failure.word = "short-answer";
        failure.reason = formatted("short answer to the %s (%d of %d bytes)", query, lastRead, wanted);
    } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
        failure.word = "not-loaded";
        failure.reason = std::string("not loaded (") + std::strerror(error) + ")";
    } else if (error == EACCES || error == EPERM) {
        failure.word = "permission-denied";
        failure.reason = std::string("permission denied (") + std::strerror(error) + ")";
        if (writing)
            failure.reason += std::string("; ") + writing + " needs write access to it";
    } else if (error == EBUSY) {
        failure.word = "busy";
        failure.reason = std::string("in use by another program (") + std::strerror(error) + ")";
    } else {
        failure.word = "transfer-failed";
        failure.reason = std::string("transfer failed in the ") + query + " (" + std::strerror(error) + ")";
    }
    return false;
}

bool Tool::askedStatus()
{
    return asked(exchange([this] { return GetBasicStatus(param); }), "basic status query",
                 KerDecode::BasicStatusLength);
}

bool Tool::told(int result, const char *command)
{
    if (result > 0)
        return true;
    asked(result, command, 0);
    return false;
}

int Tool::driverFailure() const
{
    message(std::string(product.driverFile) + ": " + failure.reason);
    return Failed;
}

int Tool::outputFailure(OutputFile &out) const
{
    const int error = out.error();
    out.discard();
    if (error == EPIPE)
        endByBrokenPipe();
    if (error == EINTR && stopRequested)
        return Success;
    message("cannot write " + out.label() + ": " + out.reason());
    return Failed;
}

int Tool::openFailure(OutputFile &out) const
{
    message("cannot write " + out.label() + ": " + out.reason());
    return Failed;
}

int Tool::status(const Options &options)
{
    const std::string form = options.json ? std::string("json") : options.format.empty() ? "text" : options.format;
    OutputFile out(options.output);
    if (!out.open())
        return openFailure(out);
    pending = &out;
    const bool found =
        asked(exchange([this] { return GetFPS(param); }), "scan-rate query", commands.getFpsLength) && askedStatus();
    const StatusReport::Failure none;
    std::string text;
    if (form == "json")
        text = StatusReport::json(product, *param, found ? none : failure);
    else if (form == "prometheus")
        text = StatusReport::prometheus(product, *param, found ? none : failure);
    else if (found)
        text = StatusReport::text(product, *param);
    // The machine-readable forms tell of a failure too, so that a monitor sees it.
    if (!text.empty() && !out.write(text))
        return outputFailure(out);
    endIfStopped();
    if (!text.empty() && !out.commit())
        return outputFailure(out);
    // A metrics file for the textfile collector carries the failure as data:
    // the driver's state is what it reports, and the run itself succeeded.
    if (form == "prometheus" && !out.standardOutput())
        return Success;
    return found ? int(Success) : driverFailure();
}

int Tool::setOutput(bool enabled)
{
    // Standard output first, so that nothing is changed when the answer cannot be told.
    OutputFile out("-");
    if (!out.open())
        return openFailure(out);
    param->outputEnabled = enabled;
    writing = enabled ? "enable" : "disable";
    if (!told(exchange([this] { return SetOutPut(param); }), "output command") || !askedStatus())
        return driverFailure();
    if (!out.write(std::string("touch output: ") + (param->outputEnabled ? "enabled" : "disabled") + "\n"))
        return outputFailure(out);
    if (param->outputEnabled != enabled) {
        message(std::string(product.driverFile) + ": the driver kept the touch output "
                + (param->outputEnabled ? "enabled" : "disabled") + " (it did not take the command)");
        return Failed;
    }
    return Success;
}

int Tool::setValue(const std::string &value, const char *what)
{
    const bool threshold = std::strcmp(what, "threshold") == 0;
    // The intensity is one byte in the command and in the status answer,
    // and the driver alone knows which of those values it supports.
    const int minimum = threshold ? product.threshold.minimum : 0;
    const int maximum = threshold ? product.threshold.maximum : 255;
    long number = 0;
    if (!parseInt(value, &number) || number < minimum || number > maximum) {
        return usage(std::string("the ") + what + " is a whole number from " + std::to_string(minimum) + " to "
                         + std::to_string(maximum) + ", not '" + value + "'",
                     find(what));
    }
    OutputFile out("-");
    if (!out.open())
        return openFailure(out);
    int *field = threshold ? &param->threshold : &param->intensity;
    *field = static_cast<int>(number);
    writing = what;
    const int sent = exchange([this, threshold] { return threshold ? SetThreshold(param) : SetIntensity(param); });
    if (!told(sent, threshold ? "threshold command" : "intensity command") || !askedStatus())
        return driverFailure();
    if (!out.write(std::string(what) + ": " + std::to_string(*field) + "\n"))
        return outputFailure(out);
    if (*field != number) {
        message(std::string(product.driverFile) + ": the driver holds " + what + " " + std::to_string(*field)
                + ", not " + std::to_string(number) + " (it did not take the command)");
        return Failed;
    }
    return Success;
}

int Tool::log(const std::string &file)
{
    // The file first, so that nothing is asked of the driver for a file that cannot be written.
    OutputFile out(file);
    if (!out.open())
        return openFailure(out);
    pending = &out;
    if (!askedStatus())
        return driverFailure();
    // Shared with the exchange, which a hung driver keeps running after this returns.
    struct Answer
    {
        std::string text;
        bool complete = false;
    };
    const auto answer = std::make_shared<Answer>();
    const int read =
        exchange([this, answer] { return DriverLog::text(param, answer->text, &answer->complete) ? 1 : -1; });
    if (read <= 0) {
        asked(-1, "matrix query", 0);
        return driverFailure();
    }
    if (!answer->complete) {
        failure.word = "short-answer";
        failure.reason = "short answer to the matrix query";
        return driverFailure();
    }
    if (!out.write(answer->text))
        return outputFailure(out);
    endIfStopped();
    if (!out.commit())
        return outputFailure(out);
    return Success;
}

bool Tool::readSignals(int *samples)
{
    if (!lunari())
        return asked(exchange([samples] { return GetGraph(samples); }), "graph query", KerDecode::GraphLength);
    const long cells = std::min<long>(static_cast<long>(std::max(param->layoutX, 0)) * std::max(param->layoutY, 0),
                                      Param::MatrixSize);
    return asked(exchange([this] { return GetMatrix(param, 66); }), "matrix query", static_cast<int>(cells))
           && asked(exchange([this] { return GetTouchPoint(param); }), "touch-point query",
                    KerDecode::TouchBlockLength);
}

std::string Tool::strongestSample(const int *samples, bool json) const
{
    const KerDecode::GraphChannels channels =
        KerDecode::graphChannels(param->layoutX, param->layoutY, param->channelCount);
    const int countX = channels.x;
    const int count = channels.x + channels.y;
    int best = 0;
    for (int i = 1; i < count; ++i) {
        if (samples[i] > samples[best])
            best = i;
    }
    const char axis = best < countX ? 'X' : 'Y';
    const int place = best < countX ? best + 1 : best - countX + 1;
    if (json) {
        if (count == 0)
            return "\"strongest\": null";
        return formatted("\"strongest\": {\"value\": %d, \"channel\": %d, \"axis\": \"%c\", \"index\": %d}",
                      samples[best], best + 1, axis, place);
    }
    if (count == 0)
        return "no channels";
    return formatted("strongest %3d on channel %d (%c %d)", samples[best], best + 1, axis, place);
}

std::string Tool::touchesAndStrongestCell(bool json) const
{
    const int count = KerDecode::touchCount(param->touchData);
    std::string line = json ? std::string("\"touches\": [") : formatted("touches %d", count);
    for (int i = 0; i < count; ++i) {
        const int x = KerDecode::touchX(param->touchData, i);
        const int y = KerDecode::touchY(param->touchData, i);
        line += json ? formatted("%s{\"x\": %d, \"y\": %d}", i ? ", " : "", x, y) : formatted(" (%d,%d)", x, y);
    }
    if (json)
        line += "], ";
    const int layoutX = std::max(param->layoutX, 0);
    const int layoutY = std::max(param->layoutY, 0);
    int best = -1;
    int bestValue = 0;
    for (int cell = 0; cell < layoutX * layoutY && cell < Param::MatrixSize; ++cell) {
        const int value = static_cast<signed char>(param->matrix[cell]);
        if (best < 0 || value > bestValue) {
            best = cell;
            bestValue = value;
        }
    }
    if (json) {
        line += best < 0 ? std::string("\"strongest\": null")
                         : formatted("\"strongest\": {\"value\": %d, \"x\": %d, \"y\": %d}", bestValue, best / layoutY,
                                  best % layoutY);
    } else {
        line += best < 0 ? std::string("  no cells")
                         : formatted("  strongest %4d at %d,%d", bestValue, best / layoutY, best % layoutY);
    }
    return line;
}

template <typename Show>
int Tool::refreshes(double seconds, int *samples, Show show)
{
    const double interval = product.graphPollMs / 1000.0;
    const double start = monotonic();
    double due = start;
    while (!stopRequested) {
        if (seconds > 0 && due - start > seconds + 1e-9)
            break;
        if (!sleepUntil(due))
            break;
        if (!readSignals(samples))
            return stopRequested ? int(Success) : driverFailure();
        const double now = monotonic();
        const int result = show(now - start);
        if (result != Success)
            return result;
        // Ticks missed meanwhile (the program stopped, the machine busy) are
        // skipped, and the pace starts again from now: none is made up.
        due += interval;
        const double after = monotonic();
        if (due <= after)
            due = after + interval;
    }
    return Success;
}

int Tool::watch(const Options &options)
{
    looping = true;
    OutputFile out("-");
    if (!out.open())
        return openFailure(out);
    if (!askedStatus())
        return stopRequested ? int(Success) : driverFailure();
    int samples[KerDecode::GraphLength] = {};
    return refreshes(options.seconds, samples, [&](double time) {
        std::string line;
        if (options.json) {
            line = "{\"timestamp\": \"" + timestamp() + "\", " + formatted("\"seconds\": %.3f, ", time)
                   + (lunari() ? touchesAndStrongestCell(true) : strongestSample(samples, true)) + "}\n";
        } else {
            line = formatted("%8.3f  ", time) + (lunari() ? touchesAndStrongestCell(false) : strongestSample(samples, false))
                   + "\n";
        }
        return out.write(line) ? int(Success) : outputFailure(out);
    });
}

int Tool::record(const std::string &file, double seconds)
{
    looping = true;
    OutputFile out(file);
    if (!out.open())
        return openFailure(out);
    const auto nothingRecorded = [&] {
        out.discard();
        message("nothing was recorded: stopped before the first frame");
        return int(Failed);
    };

    Recording::Data data;
    data.product = lunari() ? "lunari" : "pravex";
    data.intervalMs = product.graphPollMs;
    // The raw answers stay in the scratch buffer after each query.
    if (!asked(exchange([this] { return GetFPS(param); }), "scan-rate query", commands.getFpsLength))
        return stopRequested ? nothingRecorded() : driverFailure();
    data.scanRate.assign(szTemp, szTemp + commands.getFpsLength);
    if (!askedStatus())
        return stopRequested ? nothingRecorded() : driverFailure();
    data.status.assign(szTemp, szTemp + KerDecode::BasicStatusLength);
    const std::string comment = std::string(product.word) + ", layout " + std::to_string(param->layoutX) + "/"
                                + std::to_string(param->layoutY) + ", threshold "
                                + std::to_string(param->threshold) + ", driver "
                                + std::to_string(param->driverVersionMajor) + "."
                                + std::to_string(param->driverVersionMinor);
    if (!out.write(Recording::header(data, comment)))
        return outputFailure(out);

    const bool progress = ::isatty(STDERR_FILENO) && !out.standardOutput();
    int samples[KerDecode::GraphLength] = {};
    long frames = 0;
    bool written = true;
    const int result = refreshes(seconds, samples, [&](double time) {
        Recording::Frame frame;
        frame.time = time;
        if (lunari()) {
            const long cells = std::min<long>(static_cast<long>(std::max(param->layoutX, 0))
                                                  * std::max(param->layoutY, 0), Param::MatrixSize);
            frame.matrix.assign(param->matrix, param->matrix + cells);
            frame.touch.assign(param->touchData, param->touchData + KerDecode::TouchBlockLength);
        } else {
            frame.graph.assign(samples, samples + KerDecode::GraphLength);
        }
        if (!out.write(Recording::frameLine(frame))) {
            written = false;
            return outputFailure(out);
        }
        ++frames;
        if (progress) {
            const std::string line = formatted("\r%s: recording %s: %.1f s, %ld frames ", name, file.c_str(),
                                            frame.time, frames);
            const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
            (void)ignored;
            progressShown = true;
        }
        return int(Success);
    });
    // A write that failed took the temporary file with it: a cut recording
    // never replaces a complete one. Every other end keeps what was recorded.
    if (!written)
        return result;
    if (progressShown) {
        const ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
        (void)ignored;
        progressShown = false;
    }
    if (frames == 0 && stopRequested)
        return nothingRecorded();
    if (!out.commit()) {
        // Checked before recording, the name may still be refused at the
        // end: the recording stays under its temporary name, not lost.
        const std::string kept = out.keep();
        if (!kept.empty()) {
            message("cannot write " + out.label() + ": " + out.reason() + "; the recording is kept as " + kept);
            return Failed;
        }
        const int failed = outputFailure(out);
        return failed == Success ? result : failed;
    }
    return result;
}

} // namespace

int controlMain(int argc, char **argv, const Product &product)
{
    OutputFile::setStandardOutputClosed(openStandardDescriptors());
    Product::select(product);
    // A closed pipe shows as EPIPE on the write, so that temporary files go first.
    std::signal(SIGPIPE, SIG_IGN);

    Tool tool(product, product.toolName);
    const int status = tool.run(argc, argv);
    // A driver exchange left stuck on its thread cannot be joined, and the
    // exit handlers could wait for it: the program ends here and now.
    if (DriverExchange::abandoned())
        std::_Exit(status);
    return status;
}
