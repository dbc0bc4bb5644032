#include "app/InstanceGuard.h"

#include "app/StartLock.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char RunLockSuffix[] = ".running";

// A lock over the whole file, of the given kind.
struct flock wholeFile(short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

int openRegularFile(const QByteArray &name)
{
    const int file = StartLock::open(name);
    struct stat status = {};
    if (file >= 0 && (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(file);
        return -1;
    }
    return file;
}

} // namespace

InstanceGuard::InstanceGuard(const char *key)
    : key(key)
    , segment(QString::fromLatin1(key))
{
}

InstanceGuard::~InstanceGuard()
{
    const StartLock lock(key);
    segment.detach();
    if (runLock >= 0)
        ::close(runLock);
}

bool InstanceGuard::take()
{
    const StartLock lock(key);
    if (runLock < 0)
        runLock = openRunLock(key);
    holder = runLockHolder(runLock);
    if (holder != 0)
        return false;

    // No copy runs, so any segment under the key was left behind. Twice,
    // because the first create may make the key file anew (a cleaned
    // temporary folder), and a new key file can name a segment of an ended
    // copy, which only then can be attached to and released.
    bool created = false;
    bool attached = false;
    for (int attempt = 0; attempt < 2 && !created; ++attempt) {
        attached = segment.attach(QSharedMemory::ReadOnly);
        if (attached)
            segment.detach();
        created = segment.create(1, QSharedMemory::ReadWrite);
    }
    // A segment this user may release that is still held belongs to a copy
    // without a run lock (its lock file went with a cleaned temporary folder);
    // without a run lock of our own, a segment is all there is to go by.
    if (!created && (attached || runLock < 0))
        return false;
    // What else stops the segment is another user's segment or lock that no
    // copy uses, which only that user can remove: the run lock guards alone.
    if (runLock >= 0) {
        struct flock running = wholeFile(F_RDLCK);
        (void)::fcntl(runLock, F_SETLK, &running);
    }
    return true;
}

QString InstanceGuard::runningCopy() const
{
    if (holder <= 0)
        return QString();
    const QString process = QStringLiteral(" (process %1)").arg(holder);
    const QFileInfo proc(QStringLiteral("/proc/%1").arg(holder));
    if (!proc.exists())
        return process;
    const QString user = proc.owner();
    return QStringLiteral(" as user %1").arg(user.isEmpty() ? QString::number(proc.ownerId()) : user) + process;
}

qint64 InstanceGuard::runningProcess(const char *key)
{
    const int file = openRunLock(key);
    const qint64 process = runLockHolder(file);
    if (file >= 0)
        ::close(file);
    return process;
}

int InstanceGuard::openRunLock(const char *key)
{
    // Links, directories and FIFOs that anyone may leave under the shared
    // name send this user's copies to a place of their own.
    const int shared = openRegularFile(StartLock::path(key, RunLockSuffix));
    return shared >= 0 ? shared : openRegularFile(StartLock::privatePath(key, RunLockSuffix));
}

qint64 InstanceGuard::runLockHolder(int file)
{
    if (file < 0)
        return 0;
    struct flock probe = wholeFile(F_WRLCK);
    if (::fcntl(file, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK)
        return 0;
    return probe.l_pid > 0 ? probe.l_pid : -1;
}
