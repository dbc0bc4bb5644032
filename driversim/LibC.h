#ifndef LIBC_H
#define LIBC_H

#include <sys/stat.h>
#include <sys/types.h>

namespace DriverSim {

// The C library's own functions behind the interposed ones, for the
// simulator's real work (reserving descriptors, files of its own).
class LibC
{
public:
    static int open(const char *path, int flags, mode_t mode = 0);
    static int close(int fd);
    static ssize_t read(int fd, void *buffer, size_t length);
    static ssize_t write(int fd, const void *buffer, size_t length);
    static int stat(const char *path, struct stat *buffer);

    // Looks a symbol up in the libraries after the one holding the simulator.
    static void *next(const char *name);
};

} // namespace DriverSim

#endif // LIBC_H
