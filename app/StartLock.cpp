#include "app/StartLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

StartLock::StartLock(const char *key)
{
    const QByteArray name = path(key);
    // No following of links, and no waiting on a FIFO planted under the name.
    const int candidate = ::open(name.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (candidate < 0)
        return;
    // A copy holds it only for a moment, so 500 tries 10 ms apart are plenty.
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (::flock(candidate, LOCK_EX | LOCK_NB) == 0) {
            file = candidate;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        ::usleep(10000);
    }
    ::close(candidate);
}

StartLock::~StartLock()
{
    if (file >= 0)
        ::close(file);
}

QByteArray StartLock::path(const char *key)
{
    return QFile::encodeName(QDir::tempPath()) + '/' + QByteArray(key).replace(' ', '_') + ".startlock";
}
