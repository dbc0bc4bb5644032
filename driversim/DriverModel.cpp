#include "driversim/DriverModel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace DriverSim {

namespace {

enum : unsigned char {
    // Pravex command set.
    PravexSetIntensity = 1,
    PravexSetOutPut = 4,
    PravexCalibrateStart = 5,
    PravexCalibrateEnd = 6,
    PravexSetThreshold = 7,
    PravexGetFps = 99,
    PravexGetGraph = 100,
    PravexGetCalibStatus = 101,
    PravexGetBasicStatus = 102,
    // Lunari command set.
    LunariSetOutPut = 1,
    LunariCalibrateStart = 2,
    LunariCalibrateEnd = 3,
    LunariSetThreshold = 4,
    LunariSetCalibrateMode = 5,
    LunariGetFps = 65,
    LunariGetMatrix = 66,
    LunariGetRawMatrix = 67,
    LunariGetCalibStatus = 68,
    LunariGetBasicStatus = 69,
    LunariGetTouchPoint = 70,
};

const int FullProgress = 150;
const int CalibrateEndLength = 15;   // the area record ends with byte 14
const int TouchRoom = 31;

unsigned char low(int value)
{
    return static_cast<unsigned char>(value & 0xff);
}

void putPair(unsigned char *out, int value)
{
    out[0] = low(value >> 8);
    out[1] = low(value);
}

int pair(const unsigned char *in)
{
    return (in[0] << 8) | in[1];
}

unsigned char clampByte(double value)
{
    return static_cast<unsigned char>(std::lround(std::min(255.0, std::max(0.0, value))));
}

} // namespace

DriverModel::DriverModel(Controller &controller, Family family)
    : c(controller), family(family)
{
}

int DriverModel::areaScale(Family family)
{
    return family == Family::Pravex ? 1023 : 4095;
}

long DriverModel::query(unsigned char *buffer, std::size_t length, bool atEnd, double now)
{
    ++c.reads;
    if (c.failReads > 0) {
        --c.failReads;
        return -c.failErrno;
    }
    if (c.failEveryRead > 0 && c.reads % c.failEveryRead == 0)
        return -c.failErrno;
    if (length == 0 || atEnd)
        return 0;

    std::vector<unsigned char> out;
    const auto override = c.overrides.find(buffer[0]);
    if (override != c.overrides.end())
        out = override->second;
    else if (!answer(buffer[0], out, now))
        return -EINVAL;

    std::size_t delivered = std::min(length, out.size());
    if (c.shortAnswer >= 0)
        delivered = std::min(delivered, static_cast<std::size_t>(c.shortAnswer));
    if (delivered > 0)
        std::memcpy(buffer, out.data(), delivered);
    return static_cast<long>(delivered);
}

long DriverModel::command(const unsigned char *request, std::size_t length, double now)
{
    ++c.writes;
    if (c.failWrites > 0) {
        --c.failWrites;
        return -c.failErrno;
    }
    if (c.failEveryWrite > 0 && c.writes % c.failEveryWrite == 0)
        return -c.failErrno;
    if (length == 0)
        return 0;

    const unsigned char code = request[0];
    const bool pravex = family == Family::Pravex;
    const bool startCode = code == (pravex ? PravexCalibrateStart : LunariCalibrateStart);
    const bool endCode = code == (pravex ? PravexCalibrateEnd : LunariCalibrateEnd);
    if (startCode) {
        c.calibrating = true;
        c.calibStatus = 1;
        c.calibValue = 0;
        c.calibTargetStartedAt = now;
        return static_cast<long>(length);
    }
    if (endCode) {
        if (length < CalibrateEndLength)
            return -EINVAL;
        calibrateEnd(request);
        return static_cast<long>(length);
    }

    int *target = nullptr;
    if (code == (pravex ? PravexSetOutPut : LunariSetOutPut))
        target = &c.output;
    else if (code == (pravex ? PravexSetThreshold : LunariSetThreshold))
        target = &c.threshold;
    else if (pravex && code == PravexSetIntensity)
        target = &c.intensity;
    else if (!pravex && code == LunariSetCalibrateMode)
        target = &c.calibMode;
    if (!target || length < 2)
        return -EINVAL;
    if (!c.ignoreCommands)
        *target = request[1];
    return static_cast<long>(length);
}

bool DriverModel::answer(unsigned char code, std::vector<unsigned char> &out, double now)
{
    if (family == Family::Pravex) {
        switch (code) {
        case PravexGetFps:
            out.assign(5, 0);
            putPair(out.data(), c.fps);
            return true;
        case PravexGetCalibStatus:
            out.assign(5, 0);
            calibrationStatus(out, now);
            return true;
        case PravexGetBasicStatus:
            basicStatus(out);
            return true;
        case PravexGetGraph:
            if (const Recording::Frame *frame = replayFrame(now)) {
                out = frame->graph;
                out.resize(c.samples.size(), 0);
                return true;
            }
            if (c.animate) {
                ++c.frame;
                renderSamples();
            }
            out.assign(c.samples.begin(), c.samples.end());
            return true;
        default:
            return false;
        }
    }

    switch (code) {
    case LunariGetFps:
        out.assign(4, 0);
        putPair(out.data(), c.fps);
        out[3] = c.fpsPending ? 1 : 0;
        return true;
    case LunariGetCalibStatus:
        out.assign(4, 0);
        calibrationStatus(out, now);
        return true;
    case LunariGetBasicStatus:
        basicStatus(out);
        return true;
    case LunariGetMatrix:
    case LunariGetRawMatrix:
        if (code == LunariGetMatrix) {
            if (const Recording::Frame *frame = replayFrame(now)) {
                out = frame->matrix;
                return true;
            }
        }
        if (c.animate) {
            if (code == LunariGetMatrix)
                ++c.frame;
            renderMatrices();
        }
        c.matrix66.resize(cellCount(), 0);
        c.matrix67.resize(cellCount(), 0);
        out = code == LunariGetMatrix ? c.matrix66 : c.matrix67;
        return true;
    case LunariGetTouchPoint:
        if (const Recording::Frame *frame = replayFrame(now)) {
            out = frame->touch;
            return true;
        }
        if (c.animate)
            renderTouchBlock();
        out.assign(c.touchBlock.begin(), c.touchBlock.end());
        return true;
    default:
        return false;
    }
}

const Recording::Frame *DriverModel::replayFrame(double now)
{
    if (!c.replay)
        return nullptr;
    if (c.replayStartedAt < 0)
        c.replayStartedAt = now;
    return Recording::frameAt(*c.replay, now - c.replayStartedAt);
}

void DriverModel::basicStatus(std::vector<unsigned char> &out) const
{
    out.assign(32, 0);
    out[1] = low(c.touchPoints);
    out[2] = low(c.firmwareVersion);
    out[3] = low(c.driverVersionMajor);
    out[4] = low(c.driverVersionMinor);
    out[5] = low(c.channelCount);
    out[6] = low(c.layoutX);
    out[7] = low(c.layoutY);
    out[8] = low(c.intensity);
    out[9] = low(c.output);
    out[10] = low(c.threshold);
    out[11] = low(c.calibMode);
    putPair(&out[12], c.areaLeft);
    putPair(&out[14], c.areaRight);
    putPair(&out[16], c.areaTop);
    putPair(&out[18], c.areaBottom);
}

void DriverModel::calibrationStatus(std::vector<unsigned char> &out, double now)
{
    if (c.calibrating && c.calibSecondsPerTarget > 0) {
        // The disc fills in the first 80% of a target's time and stays full for the rest.
        const double elapsed = now - c.calibTargetStartedAt;
        const int target = static_cast<int>(elapsed / c.calibSecondsPerTarget);
        if (target >= 3) {
            c.calibStatus = c.calibFails ? 5 : 4;
            c.calibValue = 0;
        } else {
            const double part = (elapsed - target * c.calibSecondsPerTarget) / (0.8 * c.calibSecondsPerTarget);
            c.calibStatus = target + 1;
            c.calibValue = std::min(FullProgress, static_cast<int>(part * FullProgress));
        }
    }

    out[0] = low(c.calibStatus);
    putPair(&out[1], c.calibValue);

    // The next query sees the progress one step further, so every target
    // is reported full once before the driver moves on.
    if (c.calibrating && c.calibSecondsPerTarget <= 0 && c.calibStep > 0
        && c.calibStatus >= 1 && c.calibStatus <= 3) {
        if (c.calibValue >= FullProgress) {
            c.calibStatus = c.calibStatus == 3 ? (c.calibFails ? 5 : 4) : c.calibStatus + 1;
            c.calibValue = 0;
        } else {
            c.calibValue = std::min(FullProgress, c.calibValue + c.calibStep);
        }
    }
}

void DriverModel::calibrateEnd(const unsigned char *request)
{
    CalibrateEndRequest &end = c.lastCalibrateEnd;
    end.received = true;
    end.mode = request[2];
    end.screenWidth = pair(request + 3);
    end.screenHeight = pair(request + 5);
    end.left = pair(request + 7);
    end.right = pair(request + 9);
    end.top = pair(request + 11);
    end.bottom = pair(request + 13);

    c.calibrating = false;
    c.calibStatus = 0;
    c.calibValue = 0;
    c.calibMode = end.mode;

    // The area arrives in screen pixels; the driver keeps it in its own scale.
    const int scale = areaScale(family);
    auto toScale = [scale](int pixels, int size) {
        return std::min(scale, (pixels * scale + size / 2) / size);
    };
    if (end.screenWidth > 0) {
        c.areaLeft = toScale(end.left, end.screenWidth);
        c.areaRight = toScale(end.right, end.screenWidth);
    }
    if (end.screenHeight > 0) {
        c.areaTop = toScale(end.top, end.screenHeight);
        c.areaBottom = toScale(end.bottom, end.screenHeight);
    }
}

int DriverModel::cellCount() const
{
    return low(c.layoutX) * low(c.layoutY);
}

void DriverModel::renderSamples()
{
    // A finger crosses the panel: a bump slides over the X channels and,
    // more slowly, over the Y channels, entering and leaving at the edges.
    const int layoutX = low(c.layoutX);
    const int layoutY = low(c.layoutY);
    const int countX = std::min(layoutX, 128);
    const int countY = std::min(layoutY, 128 - countX);
    const double fingerX = std::fmod(c.frame * 0.35, layoutX + 6.0) - 3.0;
    const double fingerY = std::fmod(c.frame * 0.22, layoutY + 6.0) - 3.0;
    auto level = [this](int channel, double finger) {
        const double bump = std::max(0.0, 1.0 - std::fabs(channel + 0.5 - finger) / 2.2);
        return clampByte(8.0 + 150.0 * bump + (channel * 7 + c.frame * 3) % 4);
    };
    c.samples.fill(0);
    for (int i = 0; i < countX; ++i)
        c.samples[i] = level(i, fingerX);
    for (int i = 0; i < countY; ++i)
        c.samples[countX + i] = level(i, fingerY);
}

double DriverModel::touchFractionX(int point) const
{
    return 0.5 + 0.38 * std::sin(c.frame * 0.07 + point * 2.1);
}

double DriverModel::touchFractionY(int point) const
{
    return 0.5 + 0.38 * std::sin(c.frame * 0.091 + point * 2.1 + 0.7);
}

void DriverModel::renderMatrices()
{
    const int layoutX = low(c.layoutX);
    const int layoutY = low(c.layoutY);
    const int points = std::min(std::max(c.touchCount, 0), TouchRoom);
    c.matrix66.assign(cellCount(), 0);
    c.matrix67.assign(cellCount(), 0);
    for (int x = 0; x < layoutX; ++x) {
        for (int y = 0; y < layoutY; ++y) {
            double blob = 0;
            for (int i = 0; i < points; ++i) {
                const double dx = x + 0.5 - touchFractionX(i) * layoutX;
                const double dy = y + 0.5 - touchFractionY(i) * layoutY;
                blob += 110.0 * std::exp(-(dx * dx + dy * dy) / 2.5);
            }
            // Signed signal around zero with a little ripple, and raw counts
            // that drop where the finger rests.
            const int ripple = (x * 31 + y * 17 + c.frame * 7) % 5 - 2;
            const long signal = std::lround(std::min(127.0, blob + ripple));
            const int cell = x * layoutY + y;
            c.matrix66[cell] = static_cast<unsigned char>(static_cast<signed char>(signal));
            c.matrix67[cell] = clampByte(160.0 + (x * 13 + y * 7) % 24 - 0.5 * blob);
        }
    }
}

void DriverModel::renderTouchBlock()
{
    c.touchBlock.fill(0);
    c.touchBlock[0] = low(c.touchCount);
    const int points = std::min(std::max(c.touchCount, 0), TouchRoom);
    for (int i = 0; i < points; ++i) {
        const int x = static_cast<int>(touchFractionX(i) * 4095.0);
        const int y = static_cast<int>(touchFractionY(i) * 4095.0);
        unsigned char *entry = &c.touchBlock[2 + 4 * i];
        entry[0] = low(x);
        entry[1] = low(x >> 8);
        entry[2] = low(y);
        entry[3] = low(y >> 8);
    }
}

} // namespace DriverSim
