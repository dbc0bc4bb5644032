#include "commandline/LiveSignals.h"

#include "app/Product.h"
#include "commandline/Diagnostics.h"
#include "commandline/ExchangeRunner.h"
#include "commandline/ExitStatus.h"
#include "commandline/Formatted.h"
#include "commandline/OutputFile.h"
#include "commandline/Recording.h"
#include "commandline/StopSignal.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace ExitStatus;

namespace {

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

bool lunari(const ExchangeRunner &runner)
{
    return runner.product().commands.hasMatrix;
}

// The matrix cells the layout has, at most the matrix buffer's size.
long matrixCells(const Param &param)
{
    return std::min<long>(static_cast<long>(std::max(param.layoutX, 0)) * std::max(param.layoutY, 0),
                          Param::MatrixSize);
}

// One refresh of the live signals, as the signal window takes it.
bool readSignals(ExchangeRunner &runner, int *samples)
{
    if (!lunari(runner))
        return runner.ask("graph query", KerDecode::GraphLength, [samples] { return GetGraph(samples); });
    Param *param = runner.param();
    return runner.ask("matrix query", static_cast<int>(matrixCells(*param)), [param] { return GetMatrix(param, 66); })
           && runner.ask("touch-point query", KerDecode::TouchBlockLength, [param] { return GetTouchPoint(param); });
}

// Refreshes at the signal window's pace until a stop, the given seconds
// (0: no end) or a failure, handing each the seconds since the first. A
// tick missed is skipped, not made up.
template <typename Show>
int refreshes(ExchangeRunner &runner, double seconds, int *samples, Show show)
{
    const double interval = runner.product().graphPollMs / 1000.0;
    const double start = StopSignal::monotonic();
    double due = start;
    while (!StopSignal::requested()) {
        if (seconds > 0 && due - start > seconds + 1e-9)
            break;
        if (!StopSignal::sleepUntil(due))
            break;
        if (!readSignals(runner, samples))
            return StopSignal::requested() ? int(Success) : runner.driverFailure();
        const double now = StopSignal::monotonic();
        const int result = show(now - start);
        if (result != Success)
            return result;
        // Ticks missed meanwhile (the program stopped, the machine busy) are
        // skipped, and the pace starts again from now: none is made up.
        due += interval;
        const double after = StopSignal::monotonic();
        if (due <= after)
            due = after + interval;
    }
    return Success;
}

std::string strongestSample(const Param &param, const int *samples, bool json)
{
    const KerDecode::GraphChannels channels =
        KerDecode::graphChannels(param.layoutX, param.layoutY, param.channelCount);
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

std::string touchesAndStrongestCell(const Param &param, bool json)
{
    const int count = KerDecode::touchCount(param.touchData);
    std::string line = json ? std::string("\"touches\": [") : formatted("touches %d", count);
    for (int i = 0; i < count; ++i) {
        const int x = KerDecode::touchX(param.touchData, i);
        const int y = KerDecode::touchY(param.touchData, i);
        line += json ? formatted("%s{\"x\": %d, \"y\": %d}", i ? ", " : "", x, y) : formatted(" (%d,%d)", x, y);
    }
    if (json)
        line += "], ";
    const int layoutY = std::max(param.layoutY, 0);
    int best = -1;
    int bestValue = 0;
    for (int cell = 0; cell < matrixCells(param); ++cell) {
        const int value = static_cast<signed char>(param.matrix[cell]);
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

} // namespace

int LiveSignals::watch(ExchangeRunner &runner, bool json, double seconds)
{
    Diagnostics &diagnostics = runner.diagnostics();
    OutputFile out("-");
    if (!out.open())
        return diagnostics.openFailure(out);
    if (!runner.askStatus())
        return StopSignal::requested() ? int(Success) : runner.driverFailure();
    const Param &param = *runner.param();
    int samples[KerDecode::GraphLength] = {};
    return refreshes(runner, seconds, samples, [&](double time) {
        const std::string signals =
            lunari(runner) ? touchesAndStrongestCell(param, json) : strongestSample(param, samples, json);
        const std::string line = json ? "{\"timestamp\": \"" + timestamp() + "\", "
                                            + formatted("\"seconds\": %.3f, ", time) + signals + "}\n"
                                      : formatted("%8.3f  ", time) + signals + "\n";
        return out.write(line) ? int(Success) : diagnostics.outputFailure(out);
    });
}

int LiveSignals::record(ExchangeRunner &runner, const std::string &file, double seconds)
{
    const Product &product = runner.product();
    Diagnostics &diagnostics = runner.diagnostics();
    Param *param = runner.param();
    OutputFile out(file);
    if (!out.open())
        return diagnostics.openFailure(out);
    const auto nothingRecorded = [&] {
        out.discard();
        diagnostics.message("nothing was recorded: stopped before the first frame");
        return int(Failed);
    };

    Recording::Data data;
    data.product = lunari(runner) ? "lunari" : "pravex";
    data.intervalMs = product.graphPollMs;
    // The raw answers stay in the scratch buffer after each query.
    if (!runner.askScanRate())
        return StopSignal::requested() ? nothingRecorded() : runner.driverFailure();
    data.scanRate.assign(szTemp, szTemp + product.commands.getFpsLength);
    if (!runner.askStatus())
        return StopSignal::requested() ? nothingRecorded() : runner.driverFailure();
    data.status.assign(szTemp, szTemp + KerDecode::BasicStatusLength);
    const std::string comment = std::string(product.word) + ", layout " + std::to_string(param->layoutX) + "/"
                                + std::to_string(param->layoutY) + ", threshold "
                                + std::to_string(param->threshold) + ", driver "
                                + std::to_string(param->driverVersionMajor) + "."
                                + std::to_string(param->driverVersionMinor);
    if (!out.write(Recording::header(data, comment)))
        return diagnostics.outputFailure(out);

    const bool progress = ::isatty(STDERR_FILENO) && !out.standardOutput();
    int samples[KerDecode::GraphLength] = {};
    long frames = 0;
    bool written = true;
    const int result = refreshes(runner, seconds, samples, [&](double time) {
        Recording::Frame frame;
        frame.time = time;
        if (lunari(runner)) {
            frame.matrix.assign(param->matrix, param->matrix + matrixCells(*param));
            frame.touch.assign(param->touchData, param->touchData + KerDecode::TouchBlockLength);
        } else {
            frame.graph.assign(samples, samples + KerDecode::GraphLength);
        }
        if (!out.write(Recording::frameLine(frame))) {
            written = false;
            return diagnostics.outputFailure(out);
        }
        ++frames;
        if (progress) {
            diagnostics.progress(formatted("\r%s: recording %s: %.1f s, %ld frames ", diagnostics.program(),
                                           file.c_str(), frame.time, frames));
        }
        return int(Success);
    });
    // A write that failed took the temporary file with it: a cut recording
    // never replaces a complete one. Every other end keeps what was recorded.
    if (!written)
        return result;
    diagnostics.endProgress();
    if (frames == 0 && StopSignal::requested())
        return nothingRecorded();
    if (!out.commit()) {
        // Checked before recording, the name may still be refused at the
        // end: the recording stays under its temporary name, not lost.
        const std::string kept = out.keep();
        if (!kept.empty()) {
            diagnostics.message("cannot write " + out.label() + ": " + out.reason() + "; the recording is kept as "
                                + kept);
            return Failed;
        }
        const int failed = diagnostics.outputFailure(out);
        return failed == Success ? result : failed;
    }
    return result;
}
