#include "tests/support/TargetPrograms.h"

#include <QProcess>

#ifdef CONTROLLER_TEST_EMULATOR
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

// QProcess starts children with clone(CLONE_PIDFD) when waitid() takes a pidfd.
// Under user-mode emulation waitid() reaches the host kernel, which takes one,
// while the emulator (qemu 7.2) rejects that clone flag, so no child would
// start. Refusing pidfds in waitid() makes Qt fall back on fork(), which the
// emulator runs. Linked into every test that starts a program.
extern "C" long syscall(long number, ...) noexcept
{
    constexpr long idTypePidfd = 3;   // P_PIDFD
    va_list list;
    va_start(list, number);
    long arguments[6];
    for (long &argument : arguments)
        argument = va_arg(list, long);
    va_end(list);
    if (number == SYS_waitid && arguments[0] == idTypePidfd) {
        errno = EINVAL;
        return -1;
    }
    using Syscall = long (*)(long, ...);
    static const auto next = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    return next(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
}
#endif

namespace TargetPrograms {

QStringList command(const QString &program, const QStringList &arguments)
{
#ifdef CONTROLLER_TEST_EMULATOR
    QStringList words = QString::fromUtf8(CONTROLLER_TEST_EMULATOR).split(QLatin1Char(' '), Qt::SkipEmptyParts);
#else
    QStringList words;
#endif
    return words << program << arguments;
}

void start(QProcess &process, const QString &program, const QStringList &arguments)
{
    QStringList words = command(program, arguments);
    process.start(words.takeFirst(), words);
}

} // namespace TargetPrograms
