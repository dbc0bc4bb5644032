// The C library entry points the simulator takes over. Calls on the two
// driver paths and on simulated descriptors go to the Simulator; everything
// else goes straight to the next definition (the C library's).

#include "driversim/LibC.h"
#include "driversim/Simulator.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using DriverSim::Family;
using DriverSim::LibC;
using DriverSim::Simulator;

extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
ssize_t __read_chk(int fd, void *buffer, size_t length, size_t bufferLength);
int __xstat(int version, const char *path, struct stat *buffer);
int __xstat64(int version, const char *path, struct stat64 *buffer);
int __lxstat(int version, const char *path, struct stat *buffer);
int __lxstat64(int version, const char *path, struct stat64 *buffer);
int __fxstatat(int version, int dirfd, const char *path, struct stat *buffer, int flags);
int __fxstatat64(int version, int dirfd, const char *path, struct stat64 *buffer, int flags);
void __chk_fail() __attribute__((noreturn));
// Referenced by the link options of the object library, so the linker keeps this file.
void driversim_interposer_anchor();
}

namespace {

template <typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(LibC::next(name));
}

mode_t modeArgument(int flags, va_list arguments)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

// A control file looks like a proc file: regular, empty, readable and writable by all.
template <typename Stat>
int describe(Family family, Stat *buffer)
{
    if (Simulator::instance().lookUp(family) != 0)
        return -1;
    std::memset(buffer, 0, sizeof *buffer);
    buffer->st_mode = S_IFREG | 0666;
    buffer->st_nlink = 1;
    buffer->st_blksize = 1024;
    buffer->st_ino = family == Family::Pravex ? 4026531901u : 4026531902u;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    buffer->st_atim = now;
    buffer->st_mtim = now;
    buffer->st_ctim = now;
    return 0;
}

int describe(Family family, struct statx *buffer)
{
    if (Simulator::instance().lookUp(family) != 0)
        return -1;
    std::memset(buffer, 0, sizeof *buffer);
    buffer->stx_mask = STATX_BASIC_STATS;
    buffer->stx_mode = S_IFREG | 0666;
    buffer->stx_nlink = 1;
    buffer->stx_blksize = 1024;
    buffer->stx_ino = family == Family::Pravex ? 4026531901u : 4026531902u;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    buffer->stx_atime.tv_sec = now.tv_sec;
    buffer->stx_atime.tv_nsec = static_cast<__u32>(now.tv_nsec);
    buffer->stx_mtime = buffer->stx_atime;
    buffer->stx_ctime = buffer->stx_atime;
    return 0;
}

int openDriver(Family family, int flags)
{
    return Simulator::instance().open(family, flags);
}

// dup2/dup3 replace newfd silently; the simulator must forget it, then learn the copy.
void afterDuplicate(int oldfd, int newfd, int result)
{
    if (result < 0)
        return;
    if (Simulator::owns(newfd) && newfd != oldfd)
        Simulator::instance().dropped(newfd);
    if (Simulator::owns(oldfd))
        Simulator::instance().duplicated(oldfd, result);
}

} // namespace

extern "C" {

void driversim_interposer_anchor()
{
}

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(const char *, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(const char *, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat");
    return real(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat64");
    return real(dirfd, path, flags, mode);
}

int __open_2(const char *path, int flags)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(const char *, int)>("__open_2");
    return real(path, flags);
}

int __open64_2(const char *path, int flags)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(const char *, int)>("__open64_2");
    return real(path, flags);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(int, const char *, int)>("__openat_2");
    return real(dirfd, path, flags);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return openDriver(family, flags);
    static const auto real = next<int (*)(int, const char *, int)>("__openat64_2");
    return real(dirfd, path, flags);
}

off_t lseek(int fd, off_t offset, int whence) noexcept
{
    if (Simulator::owns(fd))
        return Simulator::instance().seek(fd, offset, whence);
    static const auto real = next<off_t (*)(int, off_t, int)>("lseek");
    return real(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) noexcept
{
    if (Simulator::owns(fd))
        return Simulator::instance().seek(fd, offset, whence);
    static const auto real = next<off64_t (*)(int, off64_t, int)>("lseek64");
    return real(fd, offset, whence);
}

ssize_t read(int fd, void *buffer, size_t length)
{
    if (Simulator::owns(fd))
        return Simulator::instance().read(fd, buffer, length);
    static const auto real = next<ssize_t (*)(int, void *, size_t)>("read");
    return real(fd, buffer, length);
}

ssize_t __read_chk(int fd, void *buffer, size_t length, size_t bufferLength)
{
    if (length > bufferLength)
        __chk_fail();
    if (Simulator::owns(fd))
        return Simulator::instance().read(fd, buffer, length);
    static const auto real = next<ssize_t (*)(int, void *, size_t, size_t)>("__read_chk");
    return real(fd, buffer, length, bufferLength);
}

ssize_t write(int fd, const void *buffer, size_t length)
{
    if (Simulator::owns(fd))
        return Simulator::instance().write(fd, buffer, length);
    static const auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
    return real(fd, buffer, length);
}

int close(int fd)
{
    if (Simulator::owns(fd))
        return Simulator::instance().close(fd);
    static const auto real = next<int (*)(int)>("close");
    return real(fd);
}

int dup(int fd) noexcept
{
    static const auto real = next<int (*)(int)>("dup");
    const int copy = real(fd);
    if (copy >= 0 && Simulator::owns(fd))
        Simulator::instance().duplicated(fd, copy);
    return copy;
}

int dup2(int oldfd, int newfd) noexcept
{
    static const auto real = next<int (*)(int, int)>("dup2");
    const int result = real(oldfd, newfd);
    afterDuplicate(oldfd, newfd, result);
    return result;
}

int dup3(int oldfd, int newfd, int flags) noexcept
{
    static const auto real = next<int (*)(int, int, int)>("dup3");
    const int result = real(oldfd, newfd, flags);
    afterDuplicate(oldfd, newfd, result);
    return result;
}

int fcntl(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    static const auto real = next<int (*)(int, int, ...)>("fcntl");
    const int result = real(fd, command, argument);
    if (result >= 0 && (command == F_DUPFD || command == F_DUPFD_CLOEXEC) && Simulator::owns(fd))
        Simulator::instance().duplicated(fd, result);
    return result;
}

int fcntl64(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    static const auto real = next<int (*)(int, int, ...)>("fcntl64");
    const int result = real(fd, command, argument);
    if (result >= 0 && (command == F_DUPFD || command == F_DUPFD_CLOEXEC) && Simulator::owns(fd))
        Simulator::instance().duplicated(fd, result);
    return result;
}

int stat(const char *path, struct stat *buffer) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(const char *, struct stat *)>("stat");
    return real(path, buffer);
}

int stat64(const char *path, struct stat64 *buffer) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(const char *, struct stat64 *)>("stat64");
    return real(path, buffer);
}

int lstat(const char *path, struct stat *buffer) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(const char *, struct stat *)>("lstat");
    return real(path, buffer);
}

int lstat64(const char *path, struct stat64 *buffer) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(const char *, struct stat64 *)>("lstat64");
    return real(path, buffer);
}

int fstatat(int dirfd, const char *path, struct stat *buffer, int flags) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, struct stat *, int)>("fstatat");
    return real(dirfd, path, buffer, flags);
}

int fstatat64(int dirfd, const char *path, struct stat64 *buffer, int flags) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, struct stat64 *, int)>("fstatat64");
    return real(dirfd, path, buffer, flags);
}

int __xstat(int version, const char *path, struct stat *buffer)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, struct stat *)>("__xstat");
    return real(version, path, buffer);
}

int __xstat64(int version, const char *path, struct stat64 *buffer)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, struct stat64 *)>("__xstat64");
    return real(version, path, buffer);
}

int __lxstat(int version, const char *path, struct stat *buffer)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, struct stat *)>("__lxstat");
    return real(version, path, buffer);
}

int __lxstat64(int version, const char *path, struct stat64 *buffer)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, struct stat64 *)>("__lxstat64");
    return real(version, path, buffer);
}

int __fxstatat(int version, int dirfd, const char *path, struct stat *buffer, int flags)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, int, const char *, struct stat *, int)>("__fxstatat");
    return real(version, dirfd, path, buffer, flags);
}

int __fxstatat64(int version, int dirfd, const char *path, struct stat64 *buffer, int flags)
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, int, const char *, struct stat64 *, int)>("__fxstatat64");
    return real(version, dirfd, path, buffer, flags);
}

int statx(int dirfd, const char *path, int flags, unsigned int mask, struct statx *buffer) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return describe(family, buffer);
    static const auto real = next<int (*)(int, const char *, int, unsigned int, struct statx *)>("statx");
    return real(dirfd, path, flags, mask, buffer);
}

int access(const char *path, int mode) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return Simulator::instance().lookUp(family);
    static const auto real = next<int (*)(const char *, int)>("access");
    return real(path, mode);
}

int faccessat(int dirfd, const char *path, int mode, int flags) noexcept
{
    Family family;
    if (Simulator::driverFile(path, &family))
        return Simulator::instance().lookUp(family);
    static const auto real = next<int (*)(int, const char *, int, int)>("faccessat");
    return real(dirfd, path, mode, flags);
}

} // extern "C"
