// The simulator preloaded into a separate process that uses the real driver
// channel: scenario, transcript file and live control file.

#include "driversim/DriverSim.h"
#include "tests/support/PreloadedRun.h"

#include <QtTest>

using DriverSim::Exchange;

namespace {

QString probeProgram()
{
    return QStringLiteral(PROBE_PROGRAM);
}

QStringList lines(const PreloadedRun::Result &run)
{
    return QString::fromLocal8Bit(run.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString transfer(const Exchange &exchange)
{
    switch (exchange.kind) {
    case Exchange::Open: return QStringLiteral("open");
    case Exchange::OpenFailed: return QStringLiteral("openfailed");
    case Exchange::Seek: return QStringLiteral("seek %1").arg(exchange.length);
    case Exchange::Read: return QStringLiteral("read %1/%2").arg(exchange.code).arg(exchange.length);
    case Exchange::Write: return QStringLiteral("write %1/%2").arg(exchange.code).arg(exchange.length);
    case Exchange::Close: return QStringLiteral("close");
    }
    return QString();
}

} // namespace

class TestPreload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyOperation_data();
    void everyOperation();
    void badScenarioLinesAreReported();
    void timedLineUnloadsTheDriver();
    void controlFileChangesStateLive();

private:
    PreloadedRun::Result run(const QStringList &arguments, const QByteArray &scenario);

    QScopedPointer<PreloadedRun> preloaded;
};

void TestPreload::init()
{
    preloaded.reset(new PreloadedRun);
}

PreloadedRun::Result TestPreload::run(const QStringList &arguments, const QByteArray &scenario)
{
    preloaded->setScenario(scenario);
    return preloaded->run(probeProgram(), arguments);
}

void TestPreload::everyOperation_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QStringList>("transfers");
    QTest::addColumn<QStringList>("expectedLines");

    const QStringList calibration{
        "GetCalibStatus 1 status=1 value=0", "GetCalibStatus 1 status=1 value=50",
        "GetCalibStatus 1 status=1 value=100", "GetCalibStatus 1 status=1 value=150",
        "GetCalibStatus 1 status=2 value=0", "GetCalibStatus 1 status=2 value=50",
        "GetCalibStatus 1 status=2 value=100", "GetCalibStatus 1 status=2 value=150",
        "GetCalibStatus 1 status=3 value=0", "GetCalibStatus 1 status=3 value=50",
        "GetCalibStatus 1 status=3 value=100", "GetCalibStatus 1 status=3 value=150"};
    QStringList statusPolls;
    for (int i = 0; i < 13; ++i)
        statusPolls << "read 101/5";

    QStringList pravexLines{
        "GetFPS 1 fps=75 pending=0",
        "GetBasicStatus 1 touchPoints=10 firmware=3 version=1.2 layout=20x12 channels=32 intensity=8 "
        "output=1 threshold=40 calibMode=0 area=0,1920,0,1080",
        "SetOutPut 1", "SetThreshold 1", "SetIntensity 1", "CalibrateStart 1"};
    pravexLines << calibration << "GetCalibStatus 1 status=4 value=0" << "CalibrateEnd 1"
                << "GetBasicStatus 1 touchPoints=10 firmware=3 version=1.2 layout=20x12 channels=32 intensity=9 "
                   "output=0 threshold=44 calibMode=1 area=191,1728,107,972"
                << "GetGraph 1 nonzero=32";
    QTest::newRow("pravex")
        << "pravex_controller"
        << QByteArray("# a plain Pravex\npravex.fps = 75\npravex.threshold = 40\npravex.calibStep = 50\n")
        << (QStringList{"open", "read 99/5", "read 102/32", "write 4/2", "write 7/2", "write 1/2", "write 5/2"}
            << statusPolls << QStringList{"write 6/32", "read 102/32", "read 100/128"})
        << pravexLines;

    statusPolls.replaceInStrings(QStringLiteral("read 101/5"), QStringLiteral("read 68/4"));
    QStringList lunariLines{
        "GetFPS 1 fps=100 pending=1",
        "GetBasicStatus 1 touchPoints=10 firmware=2 version=1.1 layout=40x30 channels=0 intensity=0 "
        "output=1 threshold=30 calibMode=0 area=0,1920,0,1080",
        "SetOutPut 1", "SetThreshold 1", "SetCalibrateMode 1", "CalibrateStart 1"};
    lunariLines << calibration << "GetCalibStatus 1 status=5 value=0" << "CalibrateEnd 1"
                << "GetBasicStatus 1 touchPoints=10 firmware=2 version=1.1 layout=40x30 channels=0 intensity=0 "
                   "output=0 threshold=44 calibMode=1 area=192,1728,108,972"
                << "GetMatrix 1 code=67 sum=MATRIX67" << "GetMatrix 1 code=66 sum=MATRIX66" << "GetTouchPoint 1 count=1";
    QTest::newRow("lunari")
        << "lunari_controller"
        << QByteArray("lunari.fpsPending = 1\nlunari.calibStep = 50\nlunari.calibFails = 1\n"
                      "lunari.animate = off\nlunari.matrix67 = 2\nlunari.matrix66 = 1\nlunari.touch = 10 20\n")
        << (QStringList{"open", "read 65/4", "read 69/32", "write 1/2", "write 4/2", "write 5/2", "write 2/1"}
            << statusPolls << QStringList{"write 3/16", "read 69/32", "read 67/1200", "read 66/1200", "read 70/128"})
        << lunariLines.replaceInStrings(QStringLiteral("MATRIX67"), QStringLiteral("2400"))
                      .replaceInStrings(QStringLiteral("MATRIX66"), QStringLiteral("1200"));
}

void TestPreload::everyOperation()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QStringList, transfers);
    QFETCH(QStringList, expectedLines);

    const PreloadedRun::Result probe = run({program, QStringLiteral("all")}, scenario);
    QCOMPARE(probe.errors, QByteArray());
    QCOMPARE(probe.exitCode, 0);
    QCOMPARE(lines(probe), expectedLines);

    // The first transfer goes out on the fresh descriptor; every later one is preceded by a rewind.
    QStringList expected;
    for (int i = 0; i < transfers.size(); ++i) {
        if (i > 1)
            expected << QStringLiteral("seek 0");
        expected << transfers[i];
    }
    QStringList seen;
    const QList<Exchange> exchanges = preloaded->transcript(probe.pid);
    for (const Exchange &exchange : exchanges) {
        seen << transfer(exchange);
        QVERIFY(exchange.result >= 0);
    }
    QCOMPARE(seen, expected);
}

void TestPreload::badScenarioLinesAreReported()
{
    const PreloadedRun::Result probe = run({QStringLiteral("pravex_controller"), QStringLiteral("all")},
                                           "pravex.fps = 75\npravex.colour = blue\npravex.threshold = much\n");
    QCOMPARE(probe.exitCode, 0);
    QVERIFY2(probe.errors.contains("line 2: unknown key colour"), probe.errors.constData());
    QVERIFY2(probe.errors.contains("line 3: 'much' is not a number for threshold"), probe.errors.constData());
    QVERIFY(!lines(probe).isEmpty());
    QCOMPARE(lines(probe).first(), QStringLiteral("GetFPS 1 fps=75 pending=0"));
}

void TestPreload::timedLineUnloadsTheDriver()
{
    const PreloadedRun::Result probe = run({QStringLiteral("lunari_controller"), QStringLiteral("watch"),
                                            QStringLiteral("0.8")},
                                           "lunari.fps = 120\nat 0.3 lunari.present = 0\nat 0.5 lunari.present = 1\n");
    const QStringList watched = lines(probe);
    QCOMPARE(probe.exitCode, 0);
    QCOMPARE(watched.size(), 3);
    QVERIFY2(watched[0].endsWith(QLatin1String("GetFPS 1 fps=120")), qPrintable(watched[0]));
    QVERIFY2(watched[1].endsWith(QLatin1String("GetFPS -1 fps=120")), qPrintable(watched[1]));
    QVERIFY2(watched[2].endsWith(QLatin1String("GetFPS 1 fps=120")), qPrintable(watched[2]));
    const double unloadedAt = watched[1].section(QLatin1Char(' '), 0, 0).mid(2).toDouble();
    const double reloadedAt = watched[2].section(QLatin1Char(' '), 0, 0).mid(2).toDouble();
    // Loose bounds: the probe polls every 10 ms on a machine that may be busy.
    QVERIFY2(unloadedAt >= 0.2 && unloadedAt < 0.5, qPrintable(watched[1]));
    QVERIFY2(reloadedAt - unloadedAt >= 0.1, qPrintable(watched[2]));

    // Unloaded while open: the transfer fails, the channel closes and retries the open.
    QStringList kinds;
    for (const Exchange &exchange : preloaded->transcript(probe.pid))
        kinds << transfer(exchange).section(QLatin1Char(' '), 0, 0) + (exchange.error ? "!" : "");
    kinds.removeDuplicates();
    QCOMPARE(kinds, QStringList({"open", "read", "seek", "read!", "close", "openfailed!"}));
}

void TestPreload::controlFileChangesStateLive()
{
    QProcess probe;
    preloaded->start(probe, probeProgram(), {QStringLiteral("pravex_controller"), QStringLiteral("watch"),
                                             QStringLiteral("20")});
    QVERIFY(probe.state() == QProcess::Running);
    auto waitForLine = [&probe](const QString &ending) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            if (probe.canReadLine() || probe.waitForReadyRead(100)) {
                while (probe.canReadLine()) {
                    const QString line = QString::fromLocal8Bit(probe.readLine()).trimmed();
                    if (line.endsWith(ending))
                        return true;
                }
            }
        }
        return false;
    };

    QVERIFY(waitForLine(QStringLiteral("GetFPS 1 fps=60")));
    preloaded->writeControl("pravex.fps = 61\n");
    QVERIFY(waitForLine(QStringLiteral("GetFPS 1 fps=61")));
    preloaded->writeControl("pravex.fps = 61\npravex.present = 0\n");
    QVERIFY(waitForLine(QStringLiteral("GetFPS -1 fps=61")));
    preloaded->writeControl("pravex.present = 1\npravex.fps = 62\n");
    QVERIFY(waitForLine(QStringLiteral("GetFPS 1 fps=62")));

    probe.kill();
    probe.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TestPreload)
#include "tst_preload.moc"
