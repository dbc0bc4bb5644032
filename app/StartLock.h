#ifndef STARTLOCK_H
#define STARTLOCK_H

#include <QByteArray>

// Held by one starting copy at a time while it checks for and takes the
// single-instance segment. Without it, copies started together race inside
// that check: a detach that releases a stale segment also deletes the key
// file that another copy has just keyed its new segment by, and then both
// copies run. Anything else that looks at the segment must hold it too, as
// its own attach and detach can release a segment that is being created.
// The kernel drops the lock when its holder dies.
class StartLock
{
public:
    // Waits a few seconds at most; a holder that never lets go is not waited
    // for, and the caller goes on without the lock.
    explicit StartLock(const char *key);
    ~StartLock();
    StartLock(const StartLock &) = delete;
    StartLock &operator=(const StartLock &) = delete;

    // The lock file for a segment key, in the temporary directory.
    static QByteArray path(const char *key);

private:
    int file = -1;
};

#endif // STARTLOCK_H
