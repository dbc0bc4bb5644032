#include "commandline/ControlTool.h"

#include "app/Product.h"
#include "commandline/Recording.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/DriverLog.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef CONTROLLER_VERSION
#define CONTROLLER_VERSION "unknown"
#endif

namespace {

enum ExitStatus { Success = 0, Failed = 1, Usage = 2 };

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

double now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec + time.tv_nsec / 1e9;
}

// Sleeps until a monotonic time; false when Ctrl-C came first.
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

bool writeAll(int file, const std::string &text)
{
    const char *data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(file, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// A whole number with nothing else around it.
bool parseInt(const char *text, long *value)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return *end == '\0' && errno == 0;
}

bool parseSeconds(const char *text, double *seconds)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    *seconds = std::strtod(text, &end);
    return *end == '\0' && *seconds > 0 && *seconds < 1e9;
}

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
    }

    int run(int argc, char **argv);

private:
    int status(bool json);
    int setOutput(bool enabled);
    int setThreshold(const char *value);
    int log(const char *file);
    int watch(double seconds);
    int record(const char *file, double seconds);

    void help() const;
    int usage(const std::string &message) const;
    int driverFailure(int error) const;
    int fileFailure(const char *file, int error) const;
    bool lunari() const { return commands.hasMatrix; }

    // One refresh of the live signals, as the signal window takes it; false
    // (with errno kept in lastError) when the driver did not answer.
    bool readSignals(int *samples);
    // Refreshes at the signal window's pace until Ctrl-C or the given seconds
    // (0: no end), handing each the seconds since the first; ends early with
    // a failed read or whatever else show returns.
    template <typename Show>
    int refreshes(double seconds, int *samples, Show show);
    void strongestSample(const int *samples, std::string &line) const;
    void strongestCell(std::string &line) const;

    const Product &product;
    const char *name;
    const CommandSet &commands;
    Param *param = nullptr;
    int lastError = 0;
};

int Tool::run(int argc, char **argv)
{
    if (argc < 2)
        return usage("a command is missing");
    const std::string verb = argv[1];
    std::vector<const char *> operands;
    bool json = false;
    double seconds = 0;
    long number = 0;   // a negative threshold is a value, not an option
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--json" && verb == "status") {
            json = true;
        } else if (argument == "--seconds" && (verb == "watch" || verb == "record")) {
            if (!parseSeconds(i + 1 < argc ? argv[i + 1] : nullptr, &seconds))
                return usage("--seconds takes a number of seconds above 0");
            ++i;
        } else if (argument.size() > 1 && argument[0] == '-' && !(verb == "threshold" && parseInt(argv[i], &number))) {
            return usage("unknown option '" + argument + "' for " + verb);
        } else {
            operands.push_back(argv[i]);
        }
    }

    auto operandsAtMost = [&](std::size_t count) { return operands.size() <= count; };
    if (verb == "--help" || verb == "-h" || verb == "help") {
        help();
        return Success;
    }
    if (verb == "--version") {
        std::printf("%s %s\n", name, CONTROLLER_VERSION);
        return Success;
    }
    if (verb == "status" && operandsAtMost(0))
        return status(json);
    if ((verb == "enable" || verb == "disable") && operandsAtMost(0))
        return setOutput(verb == "enable");
    if (verb == "threshold" && operands.size() == 1)
        return setThreshold(operands[0]);
    if (verb == "log" && operandsAtMost(1))
        return log(operands.empty() ? nullptr : operands[0]);
    if (verb == "watch" && operandsAtMost(0))
        return watch(seconds);
    if (verb == "record" && operands.size() == 1)
        return record(operands[0], seconds);

    for (const char *known : {"status", "enable", "disable", "threshold", "log", "watch", "record"}) {
        if (verb == known)
            return usage("wrong arguments for " + verb);
    }
    return usage("unknown command '" + verb + "'");
}

void Tool::help() const
{
    std::printf("Usage: %s COMMAND [OPTIONS]\n"
                "Asks and sets the %s touch controller through %s.\n\n"
                "Commands:\n"
                "  status [--json]             driver, scan rate, touch output, threshold and product data\n"
                "  enable                      switch touch output on\n"
                "  disable                     switch touch output off\n"
                "  threshold N                 set the detection threshold (%d to %d)\n",
                name, product.word, product.driverFile, product.threshold.minimum, product.threshold.maximum);
    if (product.writesDriverLog)
        std::printf("  log [FILE]                  write the driver log to FILE or standard output\n");
    std::printf("  watch [--seconds N]         a line per refresh with %s, until Ctrl-C or N seconds\n"
                "  record FILE [--seconds N]   record the live signals for replay, until Ctrl-C or N seconds\n"
                "  --help, --version\n\n"
                "Exit status: 0 on success, 1 when the driver is absent or a transfer fails, 2 for usage errors.\n",
                lunari() ? "the touch points and the strongest signal" : "the strongest signal");
}

int Tool::usage(const std::string &message) const
{
    std::fprintf(stderr, "%s: %s; commands: status [--json], enable, disable, threshold %d..%d, %swatch "
                         "[--seconds N], record FILE [--seconds N] (see %s --help)\n",
                 name, message.c_str(), product.threshold.minimum, product.threshold.maximum,
                 product.writesDriverLog ? "log [FILE], " : "", name);
    return Usage;
}

int Tool::driverFailure(int error) const
{
    const char *reason = "transfer failed";
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        reason = "not loaded";
    else if (error == EACCES || error == EPERM)
        reason = "permission denied";
    else if (error == EBUSY)
        reason = "in use by another program";
    std::fprintf(stderr, "%s: %s: %s (%s)\n", name, product.driverFile, reason, std::strerror(error));
    return Failed;
}

int Tool::fileFailure(const char *file, int error) const
{
    const char *reason = std::strerror(error);
    if (error == ELOOP)
        reason = "it is a symbolic link";
    else if (error == EMLINK)
        reason = "it is not a plain file of one name";
    std::fprintf(stderr, "%s: cannot write %s: %s\n", name, file, reason);
    return Failed;
}

int Tool::status(bool json)
{
    const bool found = GetFPS(param) >= 0 && GetBasicStatus(param) >= 0;
    const int error = errno;
    if (!found) {
        if (json)
            std::printf("{\"present\": false, \"driverFile\": \"%s\"}\n", product.driverFile);
        return driverFailure(error);
    }

    const Param &p = *param;
    const bool pending = commands.reportsFpsPending && p.fpsPending;
    if (json) {
        std::printf("{\"present\": true, \"driverFile\": \"%s\", \"fps\": %d, ", product.driverFile, p.fps);
        if (commands.reportsFpsPending)
            std::printf("\"fpsPending\": %s, ", pending ? "true" : "false");
        std::printf("\"outputEnabled\": %s, \"threshold\": %d, \"touchPoints\": %d, \"firmwareVersion\": %d, "
                    "\"driverVersion\": \"%d.%d\", ",
                    p.outputEnabled ? "true" : "false", p.threshold, p.touchPoints, p.firmwareVersion,
                    p.driverVersionMajor, p.driverVersionMinor);
        if (commands.reportsChannels)
            std::printf("\"channelCount\": %d, \"intensity\": %d, ", p.channelCount, p.intensity);
        std::printf("\"layoutX\": %d, \"layoutY\": %d, \"calibMode\": %d, \"areaLeft\": %d, \"areaRight\": %d, "
                    "\"areaTop\": %d, \"areaBottom\": %d, \"areaScale\": %d}\n",
                    p.layoutX, p.layoutY, p.calibMode, p.areaLeft, p.areaRight, p.areaTop, p.areaBottom,
                    commands.areaDivisor);
        return Success;
    }

    std::printf("driver:          present (%s)\n", product.driverFile);
    if (pending)
        std::printf("scan rate:       not ready yet\n");
    else
        std::printf("scan rate:       %d FPS\n", p.fps);
    std::printf("touch output:    %s\n", p.outputEnabled ? "enabled" : "disabled");
    std::printf("threshold:       %d\n", p.threshold);
    std::printf("touch points:    %d\n", p.touchPoints);
    std::printf("firmware:        %d.0\n", p.firmwareVersion);
    std::printf("driver version:  %d.%d\n", p.driverVersionMajor, p.driverVersionMinor);
    if (commands.reportsChannels) {
        std::printf("channels:        %d\n", p.channelCount);
        std::printf("intensity:       %d\n", p.intensity);
    }
    std::printf("layout:          %d/%d\n", p.layoutX, p.layoutY);
    std::printf("calibration:     %s, area %d %d %d %d (left right top bottom, of 0 to %d)\n",
                p.calibMode == 0 ? "whole screen" : p.calibMode == 1 ? "drawn area" : "unknown mode",
                p.areaLeft, p.areaRight, p.areaTop, p.areaBottom, commands.areaDivisor);
    return Success;
}

int Tool::setOutput(bool enabled)
{
    param->outputEnabled = enabled;
    return SetOutPut(param) < 0 ? driverFailure(errno) : Success;
}

int Tool::setThreshold(const char *value)
{
    long threshold = 0;
    if (!parseInt(value, &threshold) || threshold < product.threshold.minimum
        || threshold > product.threshold.maximum) {
        return usage(std::string("the threshold is a whole number from ") + std::to_string(product.threshold.minimum)
                     + " to " + std::to_string(product.threshold.maximum) + ", not '" + value + "'");
    }
    param->threshold = static_cast<int>(threshold);
    return SetThreshold(param) < 0 ? driverFailure(errno) : Success;
}

int Tool::log(const char *file)
{
    if (!product.writesDriverLog)
        return usage(std::string("the ") + product.word + " driver keeps no log");
    // The file first, so that nothing is asked of the driver for a file that cannot be written.
    const int out = file ? DriverLog::openForRewrite(file) : STDOUT_FILENO;
    if (out < 0)
        return fileFailure(file, errno);
    int result = Success;
    if (GetBasicStatus(param) < 0)
        result = driverFailure(errno);
    else if (!DriverLog::record(param, out))
        result = driverFailure(errno);
    if (file)
        ::close(out);
    return result;
}

bool Tool::readSignals(int *samples)
{
    const bool read = lunari() ? GetMatrix(param, 66) > 0 && GetTouchPoint(param) > 0 : GetGraph(samples) > 0;
    lastError = read ? 0 : errno;
    return read;
}

void Tool::strongestSample(const int *samples, std::string &line) const
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
    char text[96];
    if (count == 0)
        std::snprintf(text, sizeof text, "no channels");
    else
        std::snprintf(text, sizeof text, "strongest %3d on channel %d (%c %d)", samples[best], best + 1,
                      best < countX ? 'X' : 'Y', best < countX ? best + 1 : best - countX + 1);
    line += text;
}

void Tool::strongestCell(std::string &line) const
{
    const int count = KerDecode::touchCount(param->touchData);
    char text[64];
    std::snprintf(text, sizeof text, "touches %d", count);
    line += text;
    for (int i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, " (%d,%d)", KerDecode::touchX(param->touchData, i),
                      KerDecode::touchY(param->touchData, i));
        line += text;
    }
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
    if (best < 0)
        std::snprintf(text, sizeof text, "  no cells");
    else
        std::snprintf(text, sizeof text, "  strongest %4d at %d,%d", bestValue, best / layoutY, best % layoutY);
    line += text;
}

template <typename Show>
int Tool::refreshes(double seconds, int *samples, Show show)
{
    const double interval = product.graphPollMs / 1000.0;
    const double start = now();
    for (long tick = 0; !stopRequested; ++tick) {
        const double due = start + tick * interval;
        if (seconds > 0 && due - start > seconds)
            break;
        if (!sleepUntil(due))
            break;
        if (!readSignals(samples))
            return driverFailure(lastError);
        const int result = show(now() - start);
        if (result != Success)
            return result;
    }
    return Success;
}

int Tool::watch(double seconds)
{
    if (GetBasicStatus(param) < 0)
        return driverFailure(errno);
    int samples[KerDecode::GraphLength] = {};
    return refreshes(seconds, samples, [&](double time) {
        char text[32];
        std::snprintf(text, sizeof text, "%8.3f  ", time);
        std::string line = text;
        if (lunari())
            strongestCell(line);
        else
            strongestSample(samples, line);
        line += '\n';
        return writeAll(STDOUT_FILENO, line) ? Success : Failed;
    });
}

int Tool::record(const char *file, double seconds)
{
    const int out = DriverLog::openForRewrite(file);
    if (out < 0)
        return fileFailure(file, errno);

    Recording::Data data;
    data.product = lunari() ? "lunari" : "pravex";
    data.intervalMs = product.graphPollMs;
    // The raw answers stay in the scratch buffer after each query.
    if (GetFPS(param) < 0) {
        ::close(out);
        return driverFailure(errno);
    }
    data.scanRate.assign(szTemp, szTemp + commands.getFpsLength);
    if (GetBasicStatus(param) < 0) {
        ::close(out);
        return driverFailure(errno);
    }
    data.status.assign(szTemp, szTemp + KerDecode::BasicStatusLength);
    const std::string comment = std::string(product.word) + ", layout " + std::to_string(param->layoutX) + "/"
                                + std::to_string(param->layoutY) + ", threshold "
                                + std::to_string(param->threshold) + ", driver "
                                + std::to_string(param->driverVersionMajor) + "."
                                + std::to_string(param->driverVersionMinor);
    if (!writeAll(out, Recording::header(data, comment))) {
        const int error = errno;
        ::close(out);
        return fileFailure(file, error);
    }

    const bool progress = ::isatty(STDERR_FILENO);
    int samples[KerDecode::GraphLength] = {};
    long frames = 0;
    int result = refreshes(seconds, samples, [&](double time) {
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
        // Each frame goes out whole, so that the file ends on a complete line whenever it stops.
        if (!writeAll(out, Recording::frameLine(frame)))
            return fileFailure(file, errno);
        ++frames;
        if (progress)
            std::fprintf(stderr, "\r%s: recording %s: %.1f s, %ld frames ", name, file, frame.time, frames);
        return int(Success);
    });
    if (progress)
        std::fprintf(stderr, "\n");
    if (::close(out) != 0 && result == Success)
        result = fileFailure(file, errno);
    return result;
}

} // namespace

int controlMain(int argc, char **argv, const Product &product)
{
    Product::select(product);
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep or a blocked write returns at once on Ctrl-C.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Tool tool(product, product.toolName);
    return tool.run(argc, argv);
}
