#include "app/StartLock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QByteArray fileName(const char *key, const char *suffix)
{
    return QByteArray(key).replace(' ', '_') + suffix;
}

} // namespace

StartLock::StartLock(const char *key)
{
    // Anyone may leave a directory, a link or a held file under the shared
    // name; going on without a lock would let copies started together all
    // end, so they fall back to a place only this user can write.
    file = take(path(key));
    if (file < 0)
        file = take(privatePath(key));
}

StartLock::~StartLock()
{
    if (file >= 0)
        ::close(file);
}

QByteArray StartLock::path(const char *key, const char *suffix)
{
    return QFile::encodeName(QDir::tempPath()) + '/' + fileName(key, suffix);
}

QByteArray StartLock::privatePath(const char *key, const char *suffix)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return QByteArray();
    return QFile::encodeName(runtime) + '/' + fileName(key, suffix);
}

int StartLock::open(const QByteArray &name)
{
    if (name.isEmpty())
        return -1;
    return ::open(name.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

int StartLock::take(const QByteArray &name)
{
    const int candidate = open(name);
    if (candidate < 0)
        return -1;
    // A copy holds it only for a moment, so 500 tries 10 ms apart are plenty.
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (::flock(candidate, LOCK_EX | LOCK_NB) == 0)
            return candidate;
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        ::usleep(10000);
    }
    ::close(candidate);
    return -1;
}
