#include "mainwindow/DriverLog.h"

#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void appendField(std::string &line, int value)
{
    char field[16];
    const int length = std::snprintf(field, sizeof field, "%4d", value);
    line.append(field, static_cast<size_t>(length));
}

// Writes a whole line at once, so each line reaches the file as soon as it is complete.
void writeLine(int file, const std::string &line)
{
    if (file < 0)
        return;
    const char *data = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(file, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

// Queries both matrices and hands over each line as soon as it is complete.
template <typename Emit>
bool lines(Param *param, Emit emit, bool *complete)
{
    long cells = param->layoutX > 0 && param->layoutY > 0 ? static_cast<long>(param->layoutX) * param->layoutY : 0;
    if (cells > Param::MatrixSize)
        cells = Param::MatrixSize;
    std::string line;

    const bool raw = GetMatrix(param, 67) > 0;
    const bool rawWhole = raw && lastRead >= cells;
    appendField(line, param->layoutX);
    appendField(line, param->layoutY);
    line += '\n';
    emit(line);

    line.clear();
    DriverLog::appendCells(line, param->matrix, param->layoutX, param->layoutY, false);
    line += '\n';
    emit(line);

    const bool signal = GetMatrix(param, 66) > 0;
    const bool signalWhole = signal && lastRead >= cells;
    line.clear();
    DriverLog::appendCells(line, param->matrix, param->layoutX, param->layoutY, true);
    line += '\n';
    emit(line);
    if (complete)
        *complete = rawWhole && signalWhole;
    return raw && signal;
}

} // namespace

namespace DriverLog {



int cellValue(unsigned char cell)
{
    return (cell ^ Mask) - Mask;
}

void appendCells(std::string &line, unsigned char *matrix, int layoutX, int layoutY, bool clear)
{
    for (int x = 0; x < layoutX; ++x) {
        for (int y = 0; y < layoutY; ++y) {
            const long index = static_cast<long>(x) * layoutY + y;
            if (index >= Param::MatrixSize)
                return;
            appendField(line, cellValue(matrix[index]));
            if (clear)
                matrix[index] = 0;
        }
    }
}

int openForRewrite(const char *fileName)
{
    const int file = ::open(fileName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (file < 0)
        return -1;
    struct stat info;
    int error = 0;
    if (::fstat(file, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode) || info.st_nlink != 1)
        error = EMLINK;
    else if (::ftruncate(file, 0) != 0)
        error = errno;
    if (error != 0) {
        ::close(file);
        errno = error;
        return -1;
    }
    return file;
}

bool record(Param *param, const char *fileName)
{
    const int file = openForRewrite(fileName);
    const bool answered = record(param, file);
    if (file >= 0)
        ::close(file);
    return answered;
}

bool record(Param *param, int file)
{
    return lines(param, [file](const std::string &line) { writeLine(file, line); }, nullptr);
}

bool text(Param *param, std::string &log, bool *complete)
{
    log.clear();
    return lines(param, [&log](const std::string &line) { log += line; }, complete);
}

} // namespace DriverLog
