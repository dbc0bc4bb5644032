// The command-line programs, run for real with the simulated controller preloaded.

#include "app/Product.h"
#include "commandline/Recording.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "signalviews/Graph.h"
#include "tests/support/HeadlessPrograms.h"
#include "tests/support/PreloadedRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>

using DriverSim::Exchange;

namespace {

QString tool(const QString &name)
{
    return TestSupport::toolProgram(name == QLatin1String("pravexctl") ? Product::pravex : Product::lunari);
}

// What reached the driver: "read <code>", "write <hex>" or "openfailed".
QStringList wire(const QList<Exchange> &exchanges)
{
    QStringList seen;
    for (const Exchange &exchange : exchanges) {
        if (exchange.kind == Exchange::Read)
            seen << QStringLiteral("read %1").arg(exchange.code);
        else if (exchange.kind == Exchange::Write)
            seen << QStringLiteral("write ") + QByteArray(reinterpret_cast<const char *>(exchange.bytes.data()),
                                                          int(exchange.bytes.size())).toHex();
        else if (exchange.kind == Exchange::OpenFailed)
            seen << QStringLiteral("openfailed");
    }
    return seen;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

const QByteArray FixedLunari = "lunari.animate = 0\nlunari.layoutX = 6\nlunari.layoutY = 4\n"
                               "lunari.matrix66 = 1 -2 3 120 -128 5\nlunari.matrix67 = 200 7 0 255\n"
                               "lunari.touch = 100 200 4095 0\n";

} // namespace

class TestControlTool : public QObject
{
    Q_OBJECT

private slots:
    void verbs_data();
    void verbs();
    void statusAsJson_data();
    void statusAsJson();
    void logIsTheWindowProgramsLog();
    void replayShowsTheRecording_data();
    void replayShowsTheRecording();
    void ctrlCLeavesACompleteRecording();
    void frameOfAMoment_data();
    void frameOfAMoment();
    void besideTheWindowProgram();
};

void TestControlTool::verbs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("message");   // a part of what standard error says

    const QString p = QStringLiteral("pravexctl");
    const QString l = QStringLiteral("lunarictl");
    const QStringList none;
    QTest::newRow("status") << p << QStringList{"status"} << QByteArray() << 0 << QStringList{"read 99", "read 102"}
                            << QString();
    QTest::newRow("enable") << p << QStringList{"enable"} << QByteArray() << 0 << QStringList{"write 0401"} << QString();
    QTest::newRow("disable") << l << QStringList{"disable"} << QByteArray() << 0 << QStringList{"write 0100"}
                             << QString();
    QTest::newRow("threshold at the top") << p << QStringList{"threshold", "127"} << QByteArray() << 0
                                          << QStringList{"write 077f"} << QString();
    QTest::newRow("threshold at the bottom") << l << QStringList{"threshold", "4"} << QByteArray() << 0
                                             << QStringList{"write 0404"} << QString();
    QTest::newRow("threshold above") << p << QStringList{"threshold", "128"} << QByteArray() << 2 << none
                                     << QStringLiteral("from 8 to 127");
    QTest::newRow("threshold negative") << l << QStringList{"threshold", "-3"} << QByteArray() << 2 << none
                                        << QStringLiteral("from 4 to 50");
    QTest::newRow("threshold not a number") << l << QStringList{"threshold", "12a"} << QByteArray() << 2 << none
                                            << QStringLiteral("not '12a'");
    QTest::newRow("unknown command") << p << QStringList{"frob"} << QByteArray() << 2 << none
                                     << QStringLiteral("unknown command 'frob'");
    QTest::newRow("unknown option") << l << QStringList{"status", "--yaml"} << QByteArray() << 2 << none
                                     << QStringLiteral("unknown option '--yaml'");
    QTest::newRow("no log in the first set") << p << QStringList{"log"} << QByteArray() << 2 << none
                                             << QStringLiteral("keeps no log");
    QTest::newRow("not loaded") << l << QStringList{"status"} << QByteArray("lunari.present = 0\n") << 1
                                << QStringList{"openfailed"}
                                << QStringLiteral("/proc/rodurirede/communication: not loaded");
    QTest::newRow("not ours") << p << QStringList{"enable"} << QByteArray("pravex.openError = EACCES\n") << 1
                              << QStringList{"openfailed"} << QStringLiteral("permission denied");
    QTest::newRow("transfer fails") << l << QStringList{"threshold", "9"} << QByteArray("lunari.failWrites = 1\n")
                                    << 1 << QStringList{"write 0409"} << QStringLiteral("transfer failed");
}

void TestControlTool::verbs()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, scenario);
    QFETCH(int, exitCode);
    QFETCH(QStringList, sent);
    QFETCH(QString, message);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const PreloadedRun::Result run = preloaded.run(tool(program), arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(wire(preloaded.transcript(run.pid)), sent);
    const QString errors = QString::fromLocal8Bit(run.errors);
    QCOMPARE(errors.count(QLatin1Char('\n')), message.isEmpty() ? 0 : 1);
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

void TestControlTool::statusAsJson_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QVariantMap>("expected");

    const QVariantMap common{{"present", true}, {"fps", 75}, {"outputEnabled", false}, {"threshold", 40},
                             {"touchPoints", 7}, {"firmwareVersion", 4}, {"driverVersion", "2.10"},
                             {"layoutX", 16}, {"layoutY", 9}, {"calibMode", 1}, {"areaLeft", 100},
                             {"areaRight", 900}, {"areaTop", 50}, {"areaBottom", 1000}};
    QVariantMap pravex = common;
    pravex.insert({{"driverFile", "/proc/zazevizuve/communication"}, {"channelCount", 25}, {"intensity", 6},
                   {"areaScale", 1023}});
    QVariantMap lunari = common;
    lunari.insert({{"driverFile", "/proc/rodurirede/communication"}, {"fpsPending", true}, {"areaScale", 4095}});
    for (const char *family : {"pravex", "lunari"}) {
        QByteArray scenario;
        for (const char *setting : {"fps = 75", "fpsPending = 1", "output = 0", "threshold = 40", "touchPoints = 7",
                                    "firmwareVersion = 4", "driverVersionMajor = 2", "driverVersionMinor = 10",
                                    "layoutX = 16", "layoutY = 9", "channelCount = 25", "intensity = 6",
                                    "calibMode = 1", "areaLeft = 100", "areaRight = 900", "areaTop = 50",
                                    "areaBottom = 1000"})
            scenario += QByteArray(family) + '.' + setting + '\n';
        QTest::newRow(family) << QString::fromLatin1(family) + QStringLiteral("ctl") << scenario
                              << (qstrcmp(family, "pravex") == 0 ? pravex : lunari);
    }
}

void TestControlTool::statusAsJson()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QVariantMap, expected);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const PreloadedRun::Result run = preloaded.run(tool(program), {QStringLiteral("status"), QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.output, &error);
    QVERIFY2(document.isObject(), qPrintable(error.errorString()));
    QCOMPARE(document.object().toVariantMap(), expected);
}

void TestControlTool::logIsTheWindowProgramsLog()
{
    // The window program's log for this driver state, written in process.
    QByteArray windowLog;
    {
        TestSupport::WorkingFolder folder;
        TestSupport::useProduct(Product::lunari);
        QVERIFY(DriverSim::loadScenario(FixedLunari.toStdString()));
        { MainDialog window; }
        windowLog = readFile(folder.filePath(QStringLiteral("VeDorurerezo.log")));
    }
    QCOMPARE(windowLog.count('\n'), 3);

    PreloadedRun preloaded;
    preloaded.setScenario(FixedLunari);
    const QString file = preloaded.path(QStringLiteral("copy.log"));
    QCOMPARE(preloaded.run(tool(QStringLiteral("lunarictl")), {QStringLiteral("log"), file}).exitCode, 0);
    QCOMPARE(readFile(file), windowLog);
    const PreloadedRun::Result toOutput = preloaded.run(tool(QStringLiteral("lunarictl")), {QStringLiteral("log")});
    QCOMPARE(toOutput.output, windowLog);

    // A link at the name is not followed, and the driver hears nothing.
    const QString link = preloaded.path(QStringLiteral("link.log"));
    QVERIFY(QFile::link(file, link));
    const PreloadedRun::Result linked = preloaded.run(tool(QStringLiteral("lunarictl")), {QStringLiteral("log"), link});
    QCOMPARE(linked.exitCode, 1);
    QVERIFY2(linked.errors.contains("symbolic link"), linked.errors.constData());
    QVERIFY(wire(preloaded.transcript(linked.pid)).isEmpty());
    QCOMPARE(readFile(file), windowLog);
}

void TestControlTool::replayShowsTheRecording_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::newRow("pravex") << QStringLiteral("pravexctl")
                            << QByteArray("pravex.animate = 0\npravex.layoutX = 5\npravex.layoutY = 3\n"
                                          "pravex.samples = 10 200 30 40 50 60 250 80\n");
    QTest::newRow("lunari") << QStringLiteral("lunarictl") << FixedLunari;
}

void TestControlTool::replayShowsTheRecording()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const QString file = preloaded.path(QStringLiteral("panel.rec"));
    const PreloadedRun::Result run =
        preloaded.run(tool(program), {QStringLiteral("record"), file, QStringLiteral("--seconds"), QStringLiteral("0.3")});
    QCOMPARE(run.exitCode, 0);
    Recording::Data recording;
    std::string error;
    QVERIFY2(Recording::parse(readFile(file).toStdString(), &recording, &error), error.c_str());
    QVERIFY(recording.frames.size() >= 2);
    const Recording::Frame &frame = recording.frames.front();

    // The window program, on a driver that plays the recording, shows its picture.
    const bool lunari = program == QLatin1String("lunarictl");
    Param *param = TestSupport::useProduct(lunari ? Product::lunari : Product::pravex);
    QVERIFY(DriverSim::loadScenario(std::string(lunari ? "lunari" : "pravex") + ".replay = " + file.toStdString()));
    Graph graph;
    TestSupport::stopPolling(graph);
    if (lunari) {
        QCOMPARE(GetBasicStatus(param), 1);
        graph.rePaint();
        QCOMPARE(QByteArray(reinterpret_cast<char *>(param->matrix), int(frame.matrix.size())),
                 QByteArray(reinterpret_cast<const char *>(frame.matrix.data()), int(frame.matrix.size())));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(param->touchData), 128),
                 QByteArray(reinterpret_cast<const char *>(frame.touch.data()), 128));
    } else {
        graph.repaint();
        QCOMPARE(param->layoutX, 5);
        QCOMPARE(param->waveX[1], int(frame.graph[1]));
        QCOMPARE(param->waveY[1], int(frame.graph[6]));
    }
}

void TestControlTool::ctrlCLeavesACompleteRecording()
{
    PreloadedRun preloaded;
    QProcess recorder;
    const QString file = preloaded.path(QStringLiteral("interrupted.rec"));
    preloaded.start(recorder, tool(QStringLiteral("lunarictl")), {QStringLiteral("record"), file});
    QTRY_VERIFY(readFile(file).count("\nframe ") >= 3);
    ::kill(pid_t(recorder.processId()), SIGINT);
    QVERIFY(recorder.waitForFinished(5000));
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recorder.exitCode(), 0);
    const QByteArray text = readFile(file);
    QVERIFY(text.endsWith('\n'));
    Recording::Data data;
    QVERIFY(Recording::parse(text.toStdString(), &data, nullptr));
    QCOMPARE(int(data.frames.size()), text.count("\nframe "));
}

void TestControlTool::frameOfAMoment_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("frame");   // the time of the frame on show
    // Frames at 0, 0.1 and 0.3, taken every 100 ms: the loop is 0.4 s long.
    QTest::newRow("start") << 0.0 << 0.0;
    QTest::newRow("between") << 0.25 << 0.1;
    QTest::newRow("last") << 0.39 << 0.3;
    QTest::newRow("looped") << 0.45 << 0.0;
    QTest::newRow("looped twice") << 0.92 << 0.1;
}

void TestControlTool::frameOfAMoment()
{
    QFETCH(double, seconds);
    QFETCH(double, frame);
    Recording::Data data;
    data.intervalMs = 100;
    for (double time : {0.0, 0.1, 0.3}) {
        Recording::Frame f;
        f.time = time;
        data.frames.push_back(f);
    }
    QCOMPARE(Recording::frameAt(data, seconds)->time, frame);
}

void TestControlTool::besideTheWindowProgram()
{
    PreloadedRun preloaded;
    HeadlessPrograms programs;
    QProcess &window = *programs.start(Product::lunari, preloaded.path(QString()), preloaded.environment());
    QVERIFY(window.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!preloaded.transcript(window.processId()).isEmpty(), 10000);

    // Neither takes the other's place: the tool runs while the window polls, twice at once.
    QProcess watching;
    preloaded.start(watching, tool(QStringLiteral("lunarictl")),
                    {QStringLiteral("watch"), QStringLiteral("--seconds"), QStringLiteral("1")});
    const PreloadedRun::Result status = preloaded.run(tool(QStringLiteral("lunarictl")), {QStringLiteral("status")});
    QCOMPARE(status.exitCode, 0);
    QVERIFY(watching.waitForFinished(10000));
    QCOMPARE(watching.exitCode(), 0);
    QVERIFY(watching.readAllStandardOutput().count('\n') >= 10);
    QCOMPARE(window.state(), QProcess::Running);
    for (const Exchange &exchange : preloaded.transcript(window.processId()))
        QVERIFY(exchange.result >= 0);
}

QTEST_MAIN(TestControlTool)
#include "tst_controltool.moc"
