#include "commandline/OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool standardOutputClosed = false;

std::string describeKind(const struct stat &info)
{
    if (S_ISLNK(info.st_mode))
        return "it is a symbolic link";
    if (S_ISDIR(info.st_mode))
        return "it is a directory";
    if (S_ISFIFO(info.st_mode))
        return "it is a FIFO";
    if (S_ISSOCK(info.st_mode))
        return "it is a socket";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return "it is a device";
    if (!S_ISREG(info.st_mode))
        return "it is not a plain file";
    if (info.st_nlink != 1)
        return "it is a plain file with " + std::to_string(info.st_nlink) + " names (hard links)";
    return std::string();
}

} // namespace

OutputFile::OutputFile(const std::string &name)
    : name(name), toStandardOutput(name.empty() || name == "-")
{
}

OutputFile::~OutputFile()
{
    discard();
}

void OutputFile::setStandardOutputClosed(bool closed)
{
    standardOutputClosed = closed;
}

std::string OutputFile::label() const
{
    return toStandardOutput ? std::string("standard output") : name;
}

std::string OutputFile::reason() const
{
    return refusal.empty() ? std::string(std::strerror(lastError)) : refusal;
}

bool OutputFile::open()
{
    lastError = 0;
    refusal.clear();
    if (toStandardOutput) {
        descriptor = STDOUT_FILENO;
        if (standardOutputClosed) {
            lastError = EBADF;
            return false;
        }
        return true;
    }

    // Looked at without opening it for real: an open of a device or a FIFO
    // could have effects of its own.
    int mode = 0666;
    const int look = ::open(name.c_str(), O_PATH | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (look >= 0) {
        struct stat info{};
        const bool described = ::fstat(look, &info) == 0;
        const int error = errno;
        ::close(look);
        if (!described) {
            lastError = error;
            return false;
        }
        refusal = describeKind(info);
        if (!refusal.empty()) {
            lastError = EINVAL;
            return false;
        }
        mode = static_cast<int>(info.st_mode & 07777);
    } else if (errno != ENOENT) {
        lastError = errno;
        return false;
    }

    const std::size_t slash = name.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string pattern = directory + "." + base + ".XXXXXX";
    descriptor = ::mkostemp(&pattern[0], O_CLOEXEC);
    if (descriptor < 0) {
        lastError = errno;
        return false;
    }
    temporary = pattern;
    // A new file gets the usual mode for the user's umask, a replaced one keeps its own.
    if (mode == 0666) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~static_cast<int>(mask);
    }
    ::fchmod(descriptor, static_cast<mode_t>(mode));
    return true;
}

bool OutputFile::write(const std::string &text)
{
    if (descriptor < 0) {
        lastError = EBADF;
        return false;
    }
    if (toStandardOutput && standardOutputClosed) {
        lastError = EBADF;
        return false;
    }
    const char *data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, left);
        if (written < 0) {
            // A signal that asks the program to stop ends the write; the caller checks for it.
            lastError = errno;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::commit()
{
    if (toStandardOutput)
        return !standardOutputClosed || (lastError = EBADF, false);
    if (descriptor < 0) {
        lastError = EBADF;
        return false;
    }
    const bool synced = ::fsync(descriptor) == 0 || errno == EINVAL;
    const int syncError = errno;
    const bool closed = ::close(descriptor) == 0;
    const int closeError = errno;
    descriptor = -1;
    if (!synced || !closed) {
        lastError = !synced ? syncError : closeError;
        discard();
        return false;
    }
    if (::rename(temporary.c_str(), name.c_str()) != 0) {
        lastError = errno;
        discard();
        return false;
    }
    temporary.clear();
    return true;
}

void OutputFile::discard()
{
    if (!toStandardOutput && descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
        temporary.clear();
    }
}
