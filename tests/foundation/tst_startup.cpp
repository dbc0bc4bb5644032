// Start-up of the real programs: single instance, exit status, centring.
#include "app/Desktop.h"
#include "app/Product.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using TestSupport::guardHeld;

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void centring_data();
    void centring();
    void secondCopyEndsAtOnce_data();
    void secondCopyEndsAtOnce();
    void bothProgramsRunSideBySide();
    void segmentOfKilledCopyDoesNotBlock_data();
    void segmentOfKilledCopyDoesNotBlock();

private:
    QProcess *start(const QString &program);
    void stopAll();

    QTemporaryDir workDir;
    QList<QProcess *> running;
};

void TestStartup::initTestCase()
{
    QVERIFY(workDir.isValid());
    // Copies started by other test runs on this machine hold the same keys.
    QTRY_VERIFY2_WITH_TIMEOUT(!guardHeld(Product::pravex) && !guardHeld(Product::lunari), "another copy of a program is running",
                              60000);
}

void TestStartup::cleanup()
{
    stopAll();
}

QProcess *TestStartup::start(const QString &program)
{
    auto *process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(workDir.path());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, QStringList());
    running.append(process);
    return process;
}

void TestStartup::stopAll()
{
    for (QProcess *process : qAsConst(running)) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        delete process;
    }
    running.clear();
}

void TestStartup::centring_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("full hd, odd window") << QSize(1920, 1080) << QSize(401, 300) << QPoint(759, 390);
    QTest::newRow("pravex window") << QSize(1024, 768) << QSize(309, 240) << QPoint(357, 264);
    QTest::newRow("lunari window") << QSize(1024, 768) << QSize(309, 238) << QPoint(357, 265);
    QTest::newRow("window wider than desktop") << QSize(300, 200) << QSize(401, 300) << QPoint(-50, -50);
}

void TestStartup::centring()
{
    QFETCH(QSize, desktop);
    QFETCH(QSize, window);
    QFETCH(QPoint, position);
    QCOMPARE(centredPosition(desktop, window), position);
}

void TestStartup::secondCopyEndsAtOnce_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("productName");
    QTest::newRow("pravex") << QStringLiteral(PRAVEX_PROGRAM) << QString::fromLatin1(Product::pravex.programName);
    QTest::newRow("lunari") << QStringLiteral(LUNARI_PROGRAM) << QString::fromLatin1(Product::lunari.programName);
}

void TestStartup::secondCopyEndsAtOnce()
{
    QFETCH(QString, program);
    QFETCH(QString, productName);
    const Product &product = TestSupport::productNamed(productName);

    QProcess *first = start(program);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product), 10000);

    QProcess *second = start(program);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    // The guard goes with the copy that held it, and the next start runs.
    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!guardHeld(product), 5000);
    QProcess *third = start(program);
    QVERIFY(third->waitForStarted());
    // A loaded machine can take seconds to start a program; an ended copy fails at once.
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product) || third->state() == QProcess::NotRunning, 20000);
    QVERIFY2(third->state() == QProcess::Running,
             qPrintable(QStringLiteral("the next copy ended with status %1").arg(third->exitCode())));
    QVERIFY(guardHeld(product));
}

void TestStartup::bothProgramsRunSideBySide()
{
    QProcess *pravex = start(QStringLiteral(PRAVEX_PROGRAM));
    QProcess *lunari = start(QStringLiteral(LUNARI_PROGRAM));
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(Product::pravex) && guardHeld(Product::lunari), 10000);
    QTest::qWait(300);
    QCOMPARE(pravex->state(), QProcess::Running);
    QCOMPARE(lunari->state(), QProcess::Running);
}

void TestStartup::segmentOfKilledCopyDoesNotBlock_data()
{
    secondCopyEndsAtOnce_data();
}

void TestStartup::segmentOfKilledCopyDoesNotBlock()
{
    QFETCH(QString, program);
    QFETCH(QString, productName);
    const Product &product = TestSupport::productNamed(productName);

    QProcess *crashed = start(program);
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product), 10000);
    const qint64 pid = crashed->processId();
    // Never a group or every process: only the copy this test started.
    QVERIFY(pid > 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    QVERIFY(crashed->waitForFinished(5000));

    QProcess *next = start(program);
    QVERIFY(next->waitForStarted());
    // A copy refused by a stale segment would end within this time.
    QVERIFY(!next->waitForFinished(2500));
    QCOMPARE(next->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
