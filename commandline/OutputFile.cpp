#include "commandline/OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <climits>
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
    struct stat earlier{};
    bool existed = false;
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
        earlier = info;
        existed = true;
    } else if (errno != ENOENT) {
        lastError = errno;
        return false;
    }

    const std::size_t slash = name.rfind('/');
    folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);

    // In a sticky folder (/tmp) only the file's owner, the folder's owner or
    // root may rename over a file: found out now, not after a long recording.
    struct stat place{};
    const uid_t user = ::geteuid();
    if (existed && user != 0 && earlier.st_uid != user && ::stat(folder.empty() ? "." : folder.c_str(), &place) == 0
        && (place.st_mode & S_ISVTX) && place.st_uid != user) {
        refusal = "it belongs to another user, in a folder where only the owner may replace a file";
        lastError = EPERM;
        return false;
    }

    // The temporary name adds 8 bytes, which a long name may not have to spare.
    const std::size_t room = NAME_MAX - std::string(".." "XXXXXX").size();
    if (base.size() > room)
        base.resize(room);
    std::string pattern = folder + "." + base + ".XXXXXX";
    descriptor = ::mkostemp(&pattern[0], O_CLOEXEC);
    if (descriptor < 0) {
        lastError = errno;
        return false;
    }
    temporary = pattern;
    if (existed) {
        // A replaced file keeps its owner and group where the user may set
        // them (the group alone, for one of the user's groups), then its mode,
        // which a change of owner would clear of set-ID bits.
        const bool groupKept = ::fchown(descriptor, earlier.st_uid, earlier.st_gid) == 0
                               || ::fchown(descriptor, static_cast<uid_t>(-1), earlier.st_gid) == 0;
        // What the old group might do is not handed to the user's own group.
        ::fchmod(descriptor, earlier.st_mode & (groupKept ? 07777 : 07707));
    } else {
        // A new file gets the usual mode for the user's umask.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(descriptor, 0666 & ~mask);
    }
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
    // A failed rename leaves the complete file under its temporary name, for the caller to keep or discard.
    if (::rename(temporary.c_str(), name.c_str()) != 0) {
        lastError = errno;
        return false;
    }
    temporary.clear();
    // The folder too, so that the new name survives a power cut.
    const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

std::string OutputFile::keep()
{
    if (descriptor >= 0 || temporary.empty())
        return std::string();
    const std::string kept = temporary;
    temporary.clear();
    return kept;
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
