#include "ProcessResources.h"

#include <dirent.h>
#include <malloc.h>

int ProcessResources::openDescriptors()
{
    DIR *directory = ::opendir("/proc/self/fd");
    if (!directory)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(directory);
    // The listing itself held one descriptor while it counted.
    return count - 1;
}

long long ProcessResources::heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return -1;
#else
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long long>(info.uordblks) + static_cast<long long>(info.hblkhd);
#endif
}
