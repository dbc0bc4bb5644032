// The single-instance guard between local users, in processes forked from
// this one: a real copy of another user refuses a start at once and is
// named; what another user plants or locks in the shared temporary folder
// neither refuses nor delays one. Needs root to act as other users; exits 77
// (skipped) without it.
#include "app/InstanceGuard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int SkipExit = 77;

enum class Other { Copy, ReadLock, WriteLock, StartingLock, DescriptionLock, Segment };

// A process forked from this one that runs as another user; killed when done.
struct Child
{
    pid_t pid = -1;
    int report = -1; // what the child writes
    int stop = -1;   // closed to let a waiting child end
    bool ends = true; // false: killed at once

    ~Child()
    {
        if (stop >= 0)
            ::close(stop);
        if (pid > 0) {
            int status = 0;
            // A copy ends by itself once told to, releasing its segment; anything else is killed.
            for (int i = 0; ends && i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
                ::usleep(10000);
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
        }
        if (report >= 0)
            ::close(report);
    }

    // The child's first line, waiting 5 s at most.
    QByteArray readLine()
    {
        QByteArray line;
        char byte = 0;
        pollfd wait = {report, POLLIN, 0};
        while (::poll(&wait, 1, 5000) == 1 && ::read(report, &byte, 1) == 1 && byte != '\n')
            line.append(byte);
        return line;
    }
};

template<typename Work>
void spawn(Child &child, const passwd &user, mode_t mask, Work work)
{
    int report[2];
    int stop[2];
    if (::pipe(report) != 0 || ::pipe(stop) != 0)
        return;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::close(report[0]);
        ::close(stop[1]);
        ::umask(mask);
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.pw_gid) != 0 || ::setuid(user.pw_uid) != 0)
            ::_exit(126);
        work(report[1], stop[0]);
        ::_exit(0);
    }
    ::close(report[1]);
    ::close(stop[0]);
    child.report = report[0];
    child.stop = stop[1];
}

void say(int out, const QByteArray &line)
{
    (void)!::write(out, line.constData(), size_t(line.size()));
}

// What an intruder may do with the names a guard could use under the key:
// lock them as it likes and keep them locked by a program of its own.
void intrude(int out, const QByteArray &key, Other kind)
{
    const QByteArray stem = QFile::encodeName(QDir::tempPath()) + '/' + QByteArray(key).replace(' ', '_');
    for (const QByteArray &name : {stem + ".running", stem + ".startlock", stem + ".INTRUD.running"}) {
        const int file = ::open(name.constData(), O_RDWR | O_CREAT, 0644);
        struct flock lock = {};
        lock.l_whence = SEEK_SET;
        lock.l_type = kind == Other::ReadLock || kind == Other::DescriptionLock ? F_RDLCK : F_WRLCK;
        if (kind == Other::StartingLock) {
            lock.l_start = 1;
            lock.l_len = 1;
            (void)::flock(file, LOCK_EX);
        }
        if (::fcntl(file, kind == Other::DescriptionLock ? F_OFD_SETLK : F_SETLK, &lock) != 0)
            ::_exit(125);
    }
    say(out, "ready\n");
    // Locks stay with the process through exec; the report closes only once that is done.
    (void)::fcntl(out, F_SETFD, FD_CLOEXEC);
    ::execl("/bin/sleep", "sleep", "60", static_cast<char *>(nullptr));
    ::_exit(124);
}

// The user's record, copied: each look-up reuses the same one.
bool lookUp(const QString &name, passwd &entry)
{
    const passwd *found = ::getpwnam(qPrintable(name));
    if (found)
        entry = *found;
    return found;
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void otherUser_data();
    void otherUser();
    void startedTogether_data();
    void startedTogether();

private:
    QTemporaryDir temp;
    QByteArray key;
};

void TestInstanceGuard::initTestCase()
{
    // A shared temporary folder of this run alone.
    QVERIFY(temp.isValid());
    QVERIFY(::chmod(QFile::encodeName(temp.path()).constData(), 01777) == 0);
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
}

void TestInstanceGuard::init()
{
    // A key of each row's own: what an intruder left belongs to it.
    static int row = 0;
    key = "guard test " + QByteArray::number(::getpid()) + ' ' + QByteArray::number(++row);
}

void TestInstanceGuard::otherUser_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("other");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("otherMask");
    QTest::addColumn<int>("protectedRegular"); // -1 leaves the machine's setting
    QTest::addColumn<QString>("tempFolder");   // empty: the shared one
    const QList<QPair<QString, QString>> users = {{"root", "nobody"}, {"nobody", "daemon"}};
    for (const auto &pair : users) {
        const QString &user = pair.first;
        const QString &other = pair.second;
        auto row = [&](const char *what) -> QTestData & { return QTest::newRow(qPrintable(user + ", " + other + what)); };
        row("'s copy runs") << user << other << int(Other::Copy) << 022 << -1 << QString();
        row("'s copy runs under umask 077") << user << other << int(Other::Copy) << 077 << -1 << QString();
        row("'s copy runs, protected_regular 1") << user << other << int(Other::Copy) << 077 << 1 << QString();
        row("'s copy runs, protected_regular 2") << user << other << int(Other::Copy) << 077 << 2 << QString();
        row(" holds read locks") << user << other << int(Other::ReadLock) << 022 << -1 << QString();
        row(" holds write locks") << user << other << int(Other::WriteLock) << 022 << -1 << QString();
        row(" holds the start") << user << other << int(Other::StartingLock) << 022 << -1 << QString();
        row(" holds open file description locks")
            << user << other << int(Other::DescriptionLock) << 022 << -1 << QString();
        row(" holds the segment") << user << other << int(Other::Segment) << 022 << -1 << QString();
        row("'s copy runs, TMPDIR names no folder")
            << user << other << int(Other::Copy) << 022 << -1 << QStringLiteral("/nonexistent/guard");
    }
}

void TestInstanceGuard::otherUser()
{
    QFETCH(QString, user);
    QFETCH(QString, other);
    QFETCH(int, kind);
    QFETCH(int, otherMask);
    QFETCH(int, protectedRegular);
    QFETCH(QString, tempFolder);
    passwd self = {};
    passwd intruder = {};
    if (!lookUp(user, self) || !lookUp(other, intruder))
        QSKIP("the users of this row are missing");

    // The machine's setting, put back after the row.
    auto setProtection = [](const QByteArray &value) {
        QFile setting(QStringLiteral("/proc/sys/fs/protected_regular"));
        return setting.open(QIODevice::WriteOnly) && setting.write(value) == value.size() && setting.flush();
    };
    QByteArray machineSetting;
    if (protectedRegular >= 0) {
        QFile setting(QStringLiteral("/proc/sys/fs/protected_regular"));
        if (setting.open(QIODevice::ReadOnly))
            machineSetting = setting.readAll().trimmed();
        if (machineSetting.isEmpty() || !setProtection(QByteArray::number(protectedRegular)))
            QSKIP("fs.protected_regular cannot be set here");
    }
    const auto restore = qScopeGuard([&] {
        if (!machineSetting.isEmpty())
            (void)setProtection(machineSetting);
    });

    // The other user starts first: a copy, or something of its own.
    Child first;
    const bool locks = Other(kind) != Other::Copy && Other(kind) != Other::Segment;
    first.ends = !locks;
    spawn(first, intruder, mode_t(otherMask), [&](int out, int stop) {
        if (locks)
            intrude(out, key, Other(kind));
        InstanceGuard guard(key.constData());
        QSharedMemory segment(QString::fromLatin1(key));
        const bool ready = Other(kind) == Other::Copy ? guard.take() : segment.create(1);
        say(out, ready ? "ready\n" : "refused\n");
        char byte;
        (void)!::read(stop, &byte, 1);
    });
    QCOMPARE(first.readLine(), QByteArray("ready"));
    if (locks)
        QCOMPARE(first.readLine(), QByteArray());

    Child next;
    const QByteArray nextTemp = QFile::encodeName(tempFolder);
    const QStringList rootEntries = QDir(QStringLiteral("/")).entryList(QDir::AllEntries | QDir::System | QDir::Hidden);
    spawn(next, self, 022, [&](int out, int) {
        if (!nextTemp.isEmpty())
            qputenv("TMPDIR", nextTemp);
        QElapsedTimer taking;
        taking.start();
        InstanceGuard guard(key.constData());
        const bool taken = guard.take();
        say(out, QByteArray(taken ? "runs" : "refused") + guard.runningCopy().toLocal8Bit() + " in "
                     + (taking.elapsed() < 1000 ? "no time" : "seconds") + '\n');
    });
    const QByteArray outcome = next.readLine();
    int status = -1;
    QCOMPARE(::waitpid(next.pid, &status, 0), next.pid);
    next.pid = -1;
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The start that is refused names the copy that runs; nothing else
    // refuses it, and a copy with no temporary folder makes no file elsewhere.
    if (Other(kind) == Other::Copy && tempFolder.isEmpty())
        QCOMPARE(outcome, QStringLiteral("refused as user %1 (process %2) in no time").arg(other).arg(first.pid).toLocal8Bit());
    else
        QCOMPARE(outcome, QByteArray("runs in no time"));
    QCOMPARE(QDir(QStringLiteral("/")).entryList(QDir::AllEntries | QDir::System | QDir::Hidden), rootEntries);
}

void TestInstanceGuard::startedTogether_data()
{
    QTest::addColumn<QStringList>("users");
    QTest::newRow("root and nobody") << QStringList{"root", "nobody"};
    QTest::newRow("six copies of three users") << QStringList{"root", "nobody", "daemon", "root", "nobody", "daemon"};
}

void TestInstanceGuard::startedTogether()
{
    QFETCH(QStringList, users);
    // Copies of several users that start at one instant: exactly one runs,
    // and the others name it.
    for (int round = 0; round < 10; ++round) {
        int gate[2];
        QVERIFY(::pipe(gate) == 0);
        std::vector<std::unique_ptr<Child>> copies;
        const auto endInTurn = qScopeGuard([&copies] {
            // The last one first: each later child holds the stop pipes of those before it.
            while (!copies.empty())
                copies.pop_back();
        });
        for (const QString &name : users) {
            passwd user = {};
            if (!lookUp(name, user))
                QSKIP("the users of this row are missing");
            copies.push_back(std::make_unique<Child>());
            spawn(*copies.back(), user, 022, [&](int out, int stop) {
                char byte;
                ::close(gate[1]);
                (void)!::read(gate[0], &byte, 1);
                InstanceGuard guard(key.constData());
                say(out, guard.take() ? "runs\n" : "refused" + guard.runningCopy().toLocal8Bit() + '\n');
                (void)!::read(stop, &byte, 1);
            });
        }
        ::close(gate[0]);
        ::close(gate[1]);
        QByteArrayList outcomes;
        pid_t running = -1;
        for (const auto &copy : copies) {
            outcomes.append(copy->readLine());
            if (outcomes.last() == "runs")
                running = copy->pid;
        }
        QCOMPARE(outcomes.count("runs"), 1);
        const QByteArray named = " (process " + QByteArray::number(running) + ')';
        for (const QByteArray &outcome : outcomes)
            QVERIFY2(outcome == "runs" || outcome.endsWith(named), outcome.constData());
    }
}

int main(int argc, char **argv)
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "Acting as other users needs root.\n");
        return SkipExit;
    }
    QCoreApplication app(argc, argv);
    TestInstanceGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceguard.moc"
