// Start-up of the real programs: single instance, exit status, placement.
#include "app/Product.h"
#include "app/WindowPlacement.h"
#include "tests/support/HeadlessPrograms.h"
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
    void keptOnScreen_data();
    void keptOnScreen();
    void secondCopyEndsAtOnce_data();
    void secondCopyEndsAtOnce();
    void bothProgramsRunSideBySide();
    void segmentOfKilledCopyDoesNotBlock_data();
    void segmentOfKilledCopyDoesNotBlock();

private:
    QProcess *start(const Product &product) { return programs.start(product, workDir.path()); }

    QTemporaryDir workDir;
    HeadlessPrograms programs;
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
    programs.stopAll();
}

void TestStartup::centring_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("full hd, odd window") << QRect(0, 0, 1920, 1080) << QSize(401, 300) << QPoint(759, 390);
    QTest::newRow("pravex window") << QRect(0, 0, 1024, 768) << QSize(309, 240) << QPoint(357, 264);
    QTest::newRow("lunari window") << QRect(0, 0, 1024, 768) << QSize(309, 238) << QPoint(357, 265);
    QTest::newRow("primary right of another") << QRect(1920, 0, 1024, 768) << QSize(309, 240) << QPoint(2277, 264);
    QTest::newRow("primary left of and below another") << QRect(-1024, 312, 1024, 768) << QSize(309, 240)
                                                       << QPoint(-667, 576);
    QTest::newRow("window larger than the screen") << QRect(0, 0, 300, 200) << QSize(401, 300) << QPoint(0, 0);
    QTest::newRow("window wider than a screen not at origin") << QRect(100, 50, 300, 400) << QSize(401, 300)
                                                             << QPoint(100, 100);
}

void TestStartup::centring()
{
    QFETCH(QRect, screen);
    QFETCH(QSize, window);
    QFETCH(QPoint, position);
    QCOMPARE(centredOn(screen, window), position);
}

void TestStartup::keptOnScreen_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QVector<QRect>>("screens");
    QTest::addColumn<QPoint>("position");
    const QRect left(0, 0, 1024, 768);
    const QRect right(1024, 0, 1280, 1024);
    QTest::newRow("one monitor, on it") << QRect(357, 264, 309, 240) << QVector<QRect>{left} << QPoint(357, 264);
    QTest::newRow("two monitors, on the second") << QRect(1500, 700, 309, 240) << QVector<QRect>{left, right}
                                                 << QPoint(1500, 700);
    QTest::newRow("across two, mostly on the first") << QRect(800, 100, 309, 240) << QVector<QRect>{left, right}
                                                      << QPoint(715, 100);
    QTest::newRow("past the bottom") << QRect(1100, 900, 309, 240) << QVector<QRect>{left, right}
                                     << QPoint(1100, 784);
    QTest::newRow("on a monitor gone") << QRect(1500, 700, 309, 240) << QVector<QRect>{left} << QPoint(357, 264);
    QTest::newRow("larger than the monitor") << QRect(-50, -50, 1100, 800) << QVector<QRect>{left} << QPoint(0, 0);
}

void TestStartup::keptOnScreen()
{
    QFETCH(QRect, frame);
    QFETCH(QVector<QRect>, screens);
    QFETCH(QPoint, position);
    // The first monitor is the primary.
    QCOMPARE(::keptOnScreen(frame, screens, screens.first()), position);
}

void TestStartup::secondCopyEndsAtOnce_data()
{
    TestSupport::addProductRows();
}

void TestStartup::secondCopyEndsAtOnce()
{
    QFETCH(QString, program);
    const Product &product = TestSupport::productNamed(program);

    QProcess *first = start(product);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product), 10000);

    QProcess *second = start(product);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    // The guard goes with the copy that held it, and the next start runs.
    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!guardHeld(product), 5000);
    QProcess *third = start(product);
    QVERIFY(third->waitForStarted());
    // A loaded machine can take seconds to start a program; an ended copy fails at once.
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product) || third->state() == QProcess::NotRunning, 20000);
    QVERIFY2(third->state() == QProcess::Running,
             qPrintable(QStringLiteral("the next copy ended with status %1").arg(third->exitCode())));
    QVERIFY(guardHeld(product));
}

void TestStartup::bothProgramsRunSideBySide()
{
    QProcess *pravex = start(Product::pravex);
    QProcess *lunari = start(Product::lunari);
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
    const Product &product = TestSupport::productNamed(program);

    QProcess *crashed = start(product);
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(product), 10000);
    const qint64 pid = crashed->processId();
    // Never a group or every process: only the copy this test started.
    QVERIFY(pid > 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    QVERIFY(crashed->waitForFinished(5000));

    QProcess *next = start(product);
    QVERIFY(next->waitForStarted());
    // A copy refused by a stale segment would end within this time.
    QVERIFY(!next->waitForFinished(2500));
    QCOMPARE(next->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
