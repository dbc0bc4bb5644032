#include "driverlink/KerDriverFunc.h"

#include "app/Product.h"
#include "driverlink/Param.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

int fd = 0;
unsigned char szTemp[129];
int lastRead = -1;
int openError = 0;

namespace {

bool readOnlyAllowed = false;

const CommandSet &commands()
{
    return Product::active().commands;
}

void closeChannel()
{
    ::close(fd);
    fd = 0;
}

// Opens or rewinds the channel; false when the driver file cannot be opened.
// Commands ask before they fill szTemp, so a command that cannot be sent
// leaves its bytes as the last exchange left them.
bool channelReady()
{
    Init();
    return fd != 0;
}

// Sends the first length bytes of szTemp on the ready channel; byte 0 must
// hold the code already.
int sendCommand(int length)
{
    if (::write(fd, szTemp, length) < 0) {
        closeChannel();
        return -1;
    }
    return 1;
}

// Reads an answer into buffer after placing the query code in its byte 0.
int query(unsigned char code, unsigned char *buffer, int length)
{
    lastRead = -1;
    if (!channelReady())
        return -1;
    buffer[0] = code;
    const ssize_t count = ::read(fd, buffer, length);
    if (count < 0) {
        closeChannel();
        return -1;
    }
    lastRead = static_cast<int>(count);
    return 1;
}

int unsignedPair(const unsigned char *pair)
{
    return (pair[0] << 8) | pair[1];
}

} // namespace

int Init()
{
    if (fd != 0)
        return static_cast<int>(::lseek(fd, 0, SEEK_SET));

    const char *file = Product::active().driverFile;
    int opened = ::open(file, O_RDWR);
    if (opened == -1 && (errno == EACCES || errno == EPERM) && readOnlyAllowed)
        opened = ::open(file, O_RDONLY);
    if (opened == 0) {
        // Descriptor 0 stands for "closed": move the open file to another
        // number without opening it again, as a driver may allow one opener.
        opened = ::fcntl(0, F_DUPFD, 1);
        ::close(0);
    }
    openError = opened == -1 ? errno : 0;
    if (opened != -1)
        fd = opened;
    return opened;
}

void AllowReadOnly(bool allowed)
{
    readOnlyAllowed = allowed;
}

int SetOutPut(Param *param)
{
    if (!channelReady())
        return -1;
    szTemp[0] = commands().setOutPut;
    szTemp[1] = param->outputEnabled ? 1 : 0;
    return sendCommand(2);
}

int SetThreshold(Param *param)
{
    if (!channelReady())
        return -1;
    szTemp[0] = commands().setThreshold;
    szTemp[1] = static_cast<unsigned char>(param->threshold);
    return sendCommand(2);
}

int CalibrateStart()
{
    if (!channelReady())
        return -1;
    szTemp[0] = commands().calibrateStart;
    return sendCommand(commands().calibrateStartLength);
}

int CalibrateEnd(Param *param)
{
    if (!channelReady())
        return -1;
    szTemp[0] = commands().calibrateEnd;
    szTemp[2] = static_cast<unsigned char>(param->calibMode);
    KerDecode::putPair(szTemp + 3, param->screenWidth);
    KerDecode::putPair(szTemp + 5, param->screenHeight);
    KerDecode::putPair(szTemp + 7, param->areaLeft);
    KerDecode::putPair(szTemp + 9, param->areaRight);
    KerDecode::putPair(szTemp + 11, param->areaTop);
    KerDecode::putPair(szTemp + 13, param->areaBottom);
    return sendCommand(commands().calibrateEndLength);
}

int GetFPS(Param *param)
{
    const int result = query(commands().getFps, szTemp, commands().getFpsLength);
    if (result > 0)
        KerDecode::scanRate(szTemp, commands(), param);
    return result;
}

int GetCalibStatus(Param *param)
{
    const int result = query(commands().getCalibStatus, szTemp, commands().getCalibStatusLength);
    if (result > 0)
        KerDecode::calibStatus(szTemp, param);
    return result;
}

int GetBasicStatus(Param *param)
{
    const int result = query(commands().getBasicStatus, szTemp, KerDecode::BasicStatusLength);
    if (result > 0)
        KerDecode::basicStatus(szTemp, commands(), param);
    return result;
}

int SetIntensity(Param *param)
{
    if (commands().setIntensity == 0)
        return -2;
    if (!channelReady())
        return -1;
    szTemp[0] = commands().setIntensity;
    szTemp[1] = static_cast<unsigned char>(param->intensity);
    return sendCommand(2);
}

int GetGraph(int *samples)
{
    if (commands().getGraph == 0)
        return -2;
    const int result = query(commands().getGraph, szTemp, KerDecode::GraphLength);
    if (result > 0) {
        for (int i = 0; i < KerDecode::GraphLength; ++i)
            samples[i] = szTemp[i];
    }
    return result;
}

int SetCalibrateMode(unsigned char mode)
{
    if (commands().setCalibrateMode == 0)
        return -2;
    if (!channelReady())
        return -1;
    szTemp[0] = commands().setCalibrateMode;
    szTemp[1] = mode;
    return sendCommand(2);
}

int GetMatrix(Param *param, unsigned char code)
{
    if ((code != 66 && code != 67) || !commands().hasMatrix)
        return -2;
    // Both counts come from single status bytes; the bound keeps a record
    // changed by other means from reading past the buffer.
    long cells = static_cast<long>(param->layoutX) * param->layoutY;
    if (param->layoutX <= 0 || param->layoutY <= 0)
        cells = 0;
    if (cells > Param::MatrixSize)
        cells = Param::MatrixSize;
    return query(code, param->matrix, static_cast<int>(cells));
}

int GetTouchPoint(Param *param)
{
    if (commands().getTouchPoint == 0)
        return -2;
    if (!(param->driverVersionMajor > 1 || param->driverVersionMinor > 0)) {
        lastRead = -1;
        return 1;
    }
    return query(commands().getTouchPoint, param->touchData, KerDecode::TouchBlockLength);
}

namespace KerDecode {

void basicStatus(const unsigned char *answer, const CommandSet &set, Param *param)
{
    param->touchPoints = answer[1];
    param->firmwareVersion = answer[2];
    param->driverVersionMajor = answer[3];
    param->driverVersionMinor = answer[4];
    if (set.reportsChannels)
        param->channelCount = answer[5];
    param->layoutX = answer[6];
    param->layoutY = answer[7];
    if (set.reportsChannels)
        param->intensity = answer[8];
    param->outputEnabled = static_cast<signed char>(answer[9]) > 0;
    param->threshold = answer[10];
    param->calibMode = static_cast<signed char>(answer[11]);
    param->areaLeft = areaEdge(param->screenWidth, answer + 12, set.areaDivisor);
    param->areaRight = areaEdge(param->screenWidth, answer + 14, set.areaDivisor);
    param->areaTop = areaEdge(param->screenHeight, answer + 16, set.areaDivisor);
    param->areaBottom = areaEdge(param->screenHeight, answer + 18, set.areaDivisor);
}

void scanRate(const unsigned char *answer, const CommandSet &set, Param *param)
{
    param->fps = unsignedPair(answer);
    if (set.reportsFpsPending)
        param->fpsPending = answer[3] == 1;
}

void calibStatus(const unsigned char *answer, Param *param)
{
    param->calibStatus = static_cast<signed char>(answer[0]);
    param->calibValue = unsignedPair(answer + 1);
}

int areaEdge(int screenSize, const unsigned char *pair, int divisor)
{
    // Wraps like the 32-bit product it is, instead of overflowing on a huge desktop.
    const auto product = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(screenSize) * static_cast<std::uint32_t>(unsignedPair(pair)));
    return product / divisor;
}

GraphChannels graphChannels(int layoutX, int layoutY, int channelCount)
{
    auto bound = [](int value, int limit) { return value < 0 ? 0 : value > limit ? limit : value; };
    GraphChannels channels;
    channels.x = bound(layoutX, GraphLength);
    channels.y = bound(layoutY, GraphLength - channels.x);
    channels.labels = bound(channelCount, GraphLength);
    return channels;
}

int touchCount(const unsigned char *block)
{
    return block[0] < MaxTouchPoints ? block[0] : static_cast<int>(MaxTouchPoints);
}

int touchX(const unsigned char *block, int i)
{
    return block[2 + 4 * i] | (block[3 + 4 * i] << 8);
}

int touchY(const unsigned char *block, int i)
{
    return block[4 + 4 * i] | (block[5 + 4 * i] << 8);
}

void putPair(unsigned char *out, int value)
{
    out[0] = static_cast<unsigned char>((value >> 8) & 0xff);
    out[1] = static_cast<unsigned char>(value & 0xff);
}

} // namespace KerDecode
