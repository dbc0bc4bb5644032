#ifndef PROCESSRESOURCES_H
#define PROCESSRESOURCES_H

#include <cstddef>

// What the test process holds of the system: open descriptors and heap in use.
class ProcessResources
{
public:
    // Entries of /proc/self/fd, the listing's own descriptor left out.
    static int openDescriptors();

    // Bytes of heap the C library has handed out and not taken back; -1 when
    // the allocator is replaced (as under AddressSanitizer) and cannot say.
    static long long heapInUse();
};

#endif // PROCESSRESOURCES_H
