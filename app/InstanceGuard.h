#ifndef INSTANCEGUARD_H
#define INSTANCEGUARD_H

#include <QSharedMemory>
#include <QString>

// Lets one copy of a program run on the machine, whoever starts it: the
// shared-memory segment under the program's key, and beside it a lock on a
// file that a running copy holds for its whole life. The kernel drops that
// lock however the copy ends, so it tells a copy that runs from a segment
// left behind, which another user's segment cannot show to everyone.
class InstanceGuard
{
public:
    explicit InstanceGuard(const char *key);
    // Lets go of the segment where no starting copy is in the middle of its check.
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    // Takes the guard; false when another copy runs.
    bool take();
    // Who runs the copy that refused this one, as " as user root (process
    // 812)"; empty where that is not known.
    QString runningCopy() const;

    // The process that runs a copy under the key: 0 when none does, -1 when
    // one does that this process cannot see. Only for a process that holds no
    // guard: closing the file it looks at would release its own.
    static qint64 runningProcess(const char *key);

private:
    static int openRunLock(const char *key);
    static qint64 runLockHolder(int file);

    const char *key;
    QSharedMemory segment;
    int runLock = -1;
    qint64 holder = 0;
};

#endif // INSTANCEGUARD_H
