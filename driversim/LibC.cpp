#include "driversim/LibC.h"

#include <dlfcn.h>

namespace DriverSim {

void *LibC::next(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

int LibC::open(const char *path, int flags, mode_t mode)
{
    static const auto real = reinterpret_cast<int (*)(const char *, int, ...)>(next("open"));
    return real(path, flags, mode);
}

int LibC::close(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(next("close"));
    return real(fd);
}

ssize_t LibC::read(int fd, void *buffer, size_t length)
{
    static const auto real = reinterpret_cast<ssize_t (*)(int, void *, size_t)>(next("read"));
    return real(fd, buffer, length);
}

ssize_t LibC::write(int fd, const void *buffer, size_t length)
{
    static const auto real = reinterpret_cast<ssize_t (*)(int, const void *, size_t)>(next("write"));
    return real(fd, buffer, length);
}

int LibC::stat(const char *path, struct stat *buffer)
{
    static const auto real = reinterpret_cast<int (*)(const char *, struct stat *)>(next("stat"));
    return real(path, buffer);
}

} // namespace DriverSim
