#ifndef STARTLOCK_H
#define STARTLOCK_H

#include <QByteArray>

// Held by one starting copy at a time while it checks for and takes the
// single-instance segment. Without it, copies started together race inside
// that check: a detach that releases a stale segment also deletes the key
// file that another copy has just keyed its new segment by, and then both
// copies run, or neither does. Anything else that looks at the segment must
// hold it too, as its own attach and detach can release a segment that is
// being created. The kernel drops the lock when its holder dies.
class StartLock
{
public:
    // Waits a few seconds at most on each place; a holder that never lets go
    // is not waited for.
    explicit StartLock(const char *key);
    ~StartLock();
    StartLock(const StartLock &) = delete;
    StartLock &operator=(const StartLock &) = delete;

    // The lock file for a segment key in the temporary directory, shared by
    // all users; other locks of the same key differ in the suffix.
    static QByteArray path(const char *key, const char *suffix = ".startlock");
    // Where this user's copies meet when the shared file cannot be used:
    // the user's own runtime directory, which nobody else can write.
    // Empty when there is no such directory.
    static QByteArray privatePath(const char *key, const char *suffix = ".startlock");
    // Opens or makes a lock file without following a link or waiting on a
    // FIFO planted under its name; -1 when that fails.
    static int open(const QByteArray &name);

private:
    static int take(const QByteArray &name);

    int file = -1;
};

#endif // STARTLOCK_H
