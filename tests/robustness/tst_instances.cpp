// The single-instance guard against copies killed without releasing it,
// copies started at the same instant and copies of other users: exactly one
// copy runs, and a refused one says which.
#include "app/InstanceGuard.h"
#include "app/Product.h"
#include "tests/support/HeadlessPrograms.h"
#include "tests/support/TargetPrograms.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSystemSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using TestSupport::guardHeld;
using TestSupport::productNamed;

QByteArray executableOf(const Product &product)
{
    return TestSupport::windowProgram(product).toLocal8Bit();
}

// Copies of a program that wait on one pipe and start together when it closes.
class Racers
{
public:
    Racers(const QByteArray &program, int count)
    {
        if (::pipe(gate) != 0)
            return;
        // Everything the children need is built before fork; they only read and exec.
        const QByteArray platform("QT_QPA_PLATFORM=offscreen");
        environment.append(platform);
        for (char **entry = environ; *entry; ++entry) {
            if (qstrncmp(*entry, "QT_QPA_PLATFORM=", 16) != 0)
                environment.append(QByteArray(*entry));
        }
        std::vector<char *> envp;
        for (QByteArray &entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        for (const QString &word : TargetPrograms::command(QFile::decodeName(program), QStringList()))
            words.append(QFile::encodeName(word));
        std::vector<char *> argv;
        for (QByteArray &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                char byte;
                ::close(gate[1]);
                while (::read(gate[0], &byte, 1) < 0) {
                }
                ::execve(argv[0], argv.data(), envp.data());
                ::_exit(127);
            }
            if (pid > 0)
                pids.push_back(pid);
        }
        ::close(gate[0]);
    }

    ~Racers()
    {
        release();
        killAll();
    }

    void release()
    {
        if (gate[1] >= 0) {
            ::close(gate[1]);
            gate[1] = -1;
        }
    }

    // Copies still running; those that ended are collected with their status.
    int running()
    {
        int alive = 0;
        for (pid_t &pid : pids) {
            if (pid <= 0)
                continue;
            int status = 0;
            const pid_t ended = ::waitpid(pid, &status, WNOHANG);
            if (ended == 0) {
                ++alive;
            } else {
                statuses.push_back(status);
                pid = -1;
            }
        }
        return alive;
    }

    void killAll()
    {
        // Only positive ids: kill(-1) would reach every process there is.
        for (pid_t &pid : pids) {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                pid = -1;
            }
        }
    }

    std::vector<int> statuses;

private:
    int gate[2] = {-1, -1};
    std::vector<pid_t> pids;
    QList<QByteArray> environment;
    QList<QByteArray> words;
};

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startedAtTheSameInstant_data();
    void startedAtTheSameInstant();
    void killedCopiesLeaveNoBlockingSegment_data();
    void killedCopiesLeaveNoBlockingSegment();
    void plantedRunFiles_data();
    void plantedRunFiles();
    void sharedMachine_data();
    void sharedMachine();

private:
    QTemporaryDir workDir;
    bool guardBroken = false;
};

void TestInstances::initTestCase()
{
    QVERIFY(workDir.isValid());
    QVERIFY(QDir::setCurrent(workDir.path()));
    QTRY_VERIFY2_WITH_TIMEOUT(!guardHeld(Product::pravex) && !guardHeld(Product::lunari),
                              "another copy of a program is running", 60000);
}

// Once a case fails the guard is broken, and every later case would only
// wait out its time-outs.
void TestInstances::init()
{
    if (guardBroken)
        QSKIP("an earlier case failed");
}

void TestInstances::cleanup()
{
    guardBroken = guardBroken || QTest::currentTestFailed();
}

void TestInstances::startedAtTheSameInstant_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("copies");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        const QString name = QString::fromLatin1(product->programName);
        QTest::newRow(qPrintable(name + ", two copies")) << name << 2;
        QTest::newRow(qPrintable(name + ", four copies")) << name << 4;
    }
}

void TestInstances::startedAtTheSameInstant()
{
    QFETCH(QString, program);
    QFETCH(int, copies);
    const Product &product = productNamed(program);
    // Each round ends by killing the copy that runs, so every later round
    // also races over the segment that copy left behind.
    for (int round = 0; round < 4; ++round) {
        Racers racers(executableOf(product), copies);
        racers.release();
        QTRY_VERIFY_WITH_TIMEOUT(racers.running() <= 1, 10000);
        // The refused copies end at once; the one that runs goes on.
        QTest::qWait(1500);
        QCOMPARE(racers.running(), 1);
        QCOMPARE(int(racers.statuses.size()), copies - 1);
        for (int status : racers.statuses)
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
        QVERIFY(guardHeld(product));
        racers.killAll();
    }
}

void TestInstances::killedCopiesLeaveNoBlockingSegment_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("delayMs");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        const QString name = QString::fromLatin1(product->programName);
        // Killed while starting up, and killed while running.
        for (int delay : {0, 30, 120, 1000})
            QTest::newRow(qPrintable(QStringLiteral("%1 killed after %2 ms").arg(name).arg(delay))) << name << delay;
    }
}

void TestInstances::killedCopiesLeaveNoBlockingSegment()
{
    QFETCH(QString, program);
    QFETCH(int, delayMs);
    const Product &product = productNamed(program);
    HeadlessPrograms programs;
    QProcess &killed = *programs.start(product);
    QVERIFY(killed.waitForStarted());
    QTest::qWait(delayMs);
    const qint64 pid = killed.processId();
    QVERIFY(pid > 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    QVERIFY(killed.waitForFinished(5000));

    QProcess &next = *programs.start(product);
    QVERIFY(next.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product) || next.state() == QProcess::NotRunning, 10000);
    // A copy refused by a stale segment would end within this time.
    QVERIFY(!next.waitForFinished(1500));
    QCOMPARE(next.state(), QProcess::Running);
    next.kill();
    next.waitForFinished(5000);
}

void TestInstances::plantedRunFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << QStringLiteral("fifo");
    QTest::newRow("link") << QStringLiteral("link");
    QTest::newRow("directory") << QStringLiteral("directory");
}

void TestInstances::plantedRunFiles()
{
    QFETCH(QString, kind);
    // Whatever another user leaves under a run file's name in the shared
    // temporary folder, copies started together follow no link and run once.
    const QString planted = QDir::temp().filePath(QStringLiteral("windows_pravex_driver.PLANTD.running"));
    const QString elsewhere = workDir.filePath(QStringLiteral("elsewhere"));
    auto removePlanted = [&planted] {
        QFile::remove(planted);
        QDir().rmdir(planted);
    };
    removePlanted();
    const auto cleanUp = qScopeGuard(removePlanted);
    if (kind == QLatin1String("fifo"))
        QVERIFY(::mkfifo(QFile::encodeName(planted).constData(), 0644) == 0);
    else if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(elsewhere, planted));
    else
        QVERIFY(QDir().mkdir(planted));

    Racers racers(executableOf(Product::pravex), 3);
    racers.release();
    QTRY_VERIFY_WITH_TIMEOUT(racers.running() <= 1, 10000);
    QTest::qWait(1500);
    QCOMPARE(racers.running(), 1);
    QVERIFY(guardHeld(Product::pravex));
    QVERIFY(!QFile::exists(elsewhere));
}

namespace {

// The first program, headless, with a temporary folder of its own, as this
// user or as nobody.
QProcess *startCopy(QObject *owner, const QString &temp, bool asNobody)
{
    auto *process = new QProcess(owner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("TMPDIR"), temp);
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(temp);
    const QString program = TestSupport::windowProgram(Product::pravex);
    if (asNobody) {
        const passwd *nobody = ::getpwnam("nobody");
        process->start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                                                              QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                                                              QStringLiteral("--clear-groups")}
                                                      + TargetPrograms::command(program, QStringList()));
    } else {
        TargetPrograms::start(*process, program, QStringList());
    }
    return process;
}

// Removes the segments that ended copies left behind in folders that are gone.
void releaseSegmentsOf(const QList<qint64> &processes)
{
    QFile list(QStringLiteral("/proc/sysvipc/shm"));
    if (!list.open(QIODevice::ReadOnly))
        return;
    (void)list.readLine();
    for (QByteArray line = list.readLine(); !line.isEmpty(); line = list.readLine()) {
        // key shmid perms size cpid lpid nattch ...
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 6 && fields.at(6) == "0" && processes.contains(fields.at(4).toLongLong()))
            ::shmctl(fields.at(1).toInt(), IPC_RMID, nullptr);
    }
}

QString userName(bool nobody)
{
    const passwd *entry = nobody ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

} // namespace

void TestInstances::sharedMachine_data()
{
    QTest::addColumn<bool>("firstAsNobody");
    QTest::addColumn<int>("firstEnd"); // the signal that ends the first copy; 0 leaves it running
    QTest::addColumn<bool>("nextAsNobody");
    QTest::addColumn<bool>("freshTemporaryFolder");
    QTest::newRow("own copy runs") << false << 0 << false << false;
    QTest::newRow("root's copy runs, nobody starts") << false << 0 << true << false;
    QTest::newRow("nobody's copy runs, root starts") << true << 0 << false << false;
    QTest::newRow("root's copy killed, nobody starts") << false << SIGKILL << true << false;
    QTest::newRow("nobody's copy killed, root starts") << true << SIGKILL << false << false;
    QTest::newRow("copies terminated, temporary folder made anew") << false << SIGTERM << false << true;
}

void TestInstances::sharedMachine()
{
    QFETCH(bool, firstAsNobody);
    QFETCH(int, firstEnd);
    QFETCH(bool, nextAsNobody);
    QFETCH(bool, freshTemporaryFolder);
    if ((firstAsNobody || nextAsNobody) && (::geteuid() != 0 || !::getpwnam("nobody")))
        QSKIP("starting a copy as another user needs root and the user nobody");

    // A folder of the test's own, so no copy of another test run meets these.
    QTemporaryDir base;
    QVERIFY(base.isValid() && ::chmod(QFile::encodeName(base.path()).constData(), 0755) == 0);
    const QString temp = base.filePath(QStringLiteral("tmp"));
    const bool hadTemp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray oldTemp = qgetenv("TMPDIR");
    const auto restoreTemp = qScopeGuard([hadTemp, oldTemp] {
        if (hadTemp)
            qputenv("TMPDIR", oldTemp);
        else
            qunsetenv("TMPDIR");
    });
    qputenv("TMPDIR", QFile::encodeName(temp));
    QObject copies;
    auto makeTemp = [&temp] {
        QDir(temp).removeRecursively();
        return QDir().mkdir(temp) && ::chmod(QFile::encodeName(temp).constData(), 01777) == 0;
    };
    QVERIFY(makeTemp());

    // Four rounds where the folder is made anew: a new key file can take the
    // inode, and so the key, of a segment an ended copy left behind.
    const char *key = Product::pravex.instanceKey;
    QList<qint64> started;
    const auto release = qScopeGuard([&started] { releaseSegmentsOf(started); });
    // The lock that a segment is made under, left by a copy that did not end
    // cleanly, goes too (it would outlive the folder of its key file).
    auto releaseLock = [key] { QSystemSemaphore(QString::fromLatin1(key), 1, QSystemSemaphore::Create); };
    for (int round = 0; round < (freshTemporaryFolder ? 4 : 1); ++round) {
        QProcess *first = startCopy(&copies, temp, firstAsNobody);
        QVERIFY(first->waitForStarted());
        started.append(first->processId());
        QTRY_VERIFY_WITH_TIMEOUT(InstanceGuard::runningProcess(key, TestSupport::windowProgram(Product::pravex)) == first->processId()
                                     || first->state() == QProcess::NotRunning,
                                 20000);
        QCOMPARE(first->state(), QProcess::Running);
        if (firstEnd != 0) {
            ::kill(static_cast<pid_t>(first->processId()), firstEnd);
            QVERIFY(first->waitForFinished(5000));
        }
        if (freshTemporaryFolder) {
            releaseLock();
            QVERIFY(makeTemp());
        }

        QProcess *next = startCopy(&copies, temp, nextAsNobody);
        QVERIFY(next->waitForStarted());
        started.append(next->processId());
        const bool ended = next->waitForFinished(firstEnd == 0 ? 20000 : 2500);
        QCOMPARE(ended, firstEnd == 0);
        QByteArrayList refusals;
        const QByteArrayList lines = next->readAllStandardError().split('\n');
        for (const QByteArray &line : lines) {
            if (line.contains("already running"))
                refusals.append(line);
        }
        if (firstEnd == 0) {
            QCOMPARE(next->exitCode(), 0);
            const QString expected = QStringLiteral("pravex_controller is already running as user %1 (process %2).")
                                         .arg(userName(firstAsNobody))
                                         .arg(first->processId());
            QCOMPARE(refusals, QByteArrayList{expected.toLocal8Bit()});
        } else {
            QCOMPARE(refusals, QByteArrayList());
        }
        for (QProcess *copy : {first, next}) {
            copy->kill();
            copy->waitForFinished(5000);
        }
        releaseLock();
    }
}

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
