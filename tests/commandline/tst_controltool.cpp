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

#include <QDateTime>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QJsonArray>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The files of a folder, hidden ones (temporary files) included.
QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A pipe whose reading end is closed already (or, with keepReader, open but
// full), for a program's standard output; closed again when it goes.
class Pipe
{
public:
    explicit Pipe(bool keepReader)
    {
        if (::pipe(ends) != 0)
            return;
        if (!keepReader) {
            ::close(ends[0]);
            ends[0] = -1;
            return;
        }
        // Filled while it does not block, then left blocking for the program.
        const int flags = ::fcntl(ends[1], F_GETFL);
        ::fcntl(ends[1], F_SETFL, flags | O_NONBLOCK);
        const QByteArray chunk(4096, 'x');
        while (::write(ends[1], chunk.constData(), size_t(chunk.size())) > 0) {
        }
        ::fcntl(ends[1], F_SETFL, flags);
    }
    ~Pipe()
    {
        for (int end : ends) {
            if (end >= 0)
                ::close(end);
        }
    }
    // The shell redirection of standard output to the writing end.
    QString redirection() const { return QStringLiteral(">&%1").arg(ends[1]); }

private:
    int ends[2] = {-1, -1};
};

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
    void readBack_data();
    void readBack();
    void outputFailures_data();
    void outputFailures();
    void nothingReachesTheDriverByAccident_data();
    void nothingReachesTheDriverByAccident();
    void stopsWhateverItIsDoing_data();
    void stopsWhateverItIsDoing();
    void stopLeavesTheEarlierFile_data();
    void stopLeavesTheEarlierFile();
    void replacedFileKeepsItsAttributes_data();
    void replacedFileKeepsItsAttributes();
    void replacementIsDurable();
    void stickyFolderRefusesAtOnce();
    void lateRenameFailureKeepsTheRecording();
    void watchAsJsonKeepsItsRate();
    void watchNamesTheStrongest_data();
    void watchNamesTheStrongest();
    void errorEndsTheProgressLine();
    void logIsTheWindowProgramsLog();
    void replayShowsTheRecording_data();
    void replayShowsTheRecording();
    void ctrlCLeavesACompleteRecording();
    void frameOfAMoment_data();
    void frameOfAMoment();
    void recordingNumbersAreStrict_data();
    void recordingNumbersAreStrict();
    void besideTheWindowProgram();
    void busyBesideAWindowProgramOfAnExclusiveDriver();
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
    QTest::newRow("enable") << p << QStringList{"enable"} << QByteArray() << 0
                            << QStringList{"write 0401", "read 102"} << QString();
    QTest::newRow("disable") << l << QStringList{"disable"} << QByteArray() << 0
                             << QStringList{"write 0100", "read 69"} << QString();
    QTest::newRow("threshold at the top") << p << QStringList{"threshold", "127"} << QByteArray() << 0
                                          << QStringList{"write 077f", "read 102"} << QString();
    QTest::newRow("threshold at the bottom") << l << QStringList{"threshold", "4"} << QByteArray() << 0
                                             << QStringList{"write 0404", "read 69"} << QString();
    QTest::newRow("intensity") << p << QStringList{"intensity", "255"} << QByteArray() << 0
                               << QStringList{"write 01ff", "read 102"} << QString();
    QTest::newRow("intensity above") << p << QStringList{"intensity", "256"} << QByteArray() << 2 << none
                                     << QStringLiteral("from 0 to 255");
    QTest::newRow("no intensity in the second set") << l << QStringList{"intensity", "3"} << QByteArray() << 2
                                                    << none << QStringLiteral("has no intensity command");
    QTest::newRow("options before the command") << l << QStringList{"--seconds=0.1", "watch"} << QByteArray() << 0
                                                << QStringList{"read 69", "read 66", "read 70"}
                                                << QString();
    QTest::newRow("after --, a value") << p << QStringList{"threshold", "--", "9"} << QByteArray() << 0
                                       << QStringList{"write 0709", "read 102"} << QString();
    QTest::newRow("help of a command") << l << QStringList{"record", "--help"} << QByteArray() << 0 << none
                                       << QString();
    QTest::newRow("help of the program") << p << QStringList{"-h"} << QByteArray() << 0 << none << QString();
    QTest::newRow("version") << p << QStringList{"--version"} << QByteArray() << 0 << none << QString();
    QTest::newRow("option of another command") << l << QStringList{"enable", "--seconds", "3"} << QByteArray() << 2
                                               << none << QStringLiteral("enable takes no arguments and no options");
    QTest::newRow("value for a switch") << l << QStringList{"status", "--json=yes"} << QByteArray() << 2 << none
                                        << QStringLiteral("--json takes no value");
    QTest::newRow("short answer") << l << QStringList{"status"} << QByteArray("lunari.shortAnswer = 0\n") << 1
                                  << QStringList{"read 65"}
                                  << QStringLiteral("short answer to the scan-rate query (0 of 4 bytes)");
    QTest::newRow("short log") << l << QStringList{"log"} << QByteArray("lunari.override.67 = 1 2\n") << 1
                               << QStringList{"read 69", "read 67", "read 66"}
                               << QStringLiteral("short answer to the matrix query");
    QTest::newRow("a FIFO for the log") << l << QStringList{"log", "fifo"} << QByteArray() << 1 << none
                                        << QStringLiteral("cannot write fifo: it is a FIFO");
    QTest::newRow("a device for the recording") << p << QStringList{"record", "/dev/null"} << QByteArray() << 1
                                                << none << QStringLiteral("cannot write /dev/null: it is a device");
    QTest::newRow("threshold above") << p << QStringList{"threshold", "128"} << QByteArray() << 2 << none
                                     << QStringLiteral("from 8 to 127");
    QTest::newRow("threshold negative") << l << QStringList{"threshold", "-3"} << QByteArray() << 2 << none
                                        << QStringLiteral("from 4 to 50");
    QTest::newRow("threshold not a number") << l << QStringList{"threshold", "12a"} << QByteArray() << 2 << none
                                            << QStringLiteral("not '12a'");
    QTest::newRow("unknown command") << p << QStringList{"frob"} << QByteArray() << 2 << none
                                     << QStringLiteral("unknown command 'frob'");
    QTest::newRow("unknown option") << l << QStringList{"status", "--yaml"} << QByteArray() << 2 << none
                                     << QStringLiteral("unknown option '--yaml' for status; status takes no "
                                                       "arguments and the options --json, --format");
    QTest::newRow("no log in the first set") << p << QStringList{"log"} << QByteArray() << 2 << none
                                             << QStringLiteral("the Pravex driver has no log command");
    QTest::newRow("not loaded") << l << QStringList{"status"} << QByteArray("lunari.present = 0\n") << 1
                                << QStringList{"openfailed"}
                                << QStringLiteral("/proc/rodurirede/communication: not loaded");
    QTest::newRow("not ours") << p << QStringList{"enable"} << QByteArray("pravex.openError = EACCES\n") << 1
                              << QStringList{"openfailed"} << QStringLiteral("permission denied");
    QTest::newRow("transfer fails") << l << QStringList{"threshold", "9"} << QByteArray("lunari.failWrites = 1\n")
                                    << 1 << QStringList{"write 0409"} << QStringLiteral("transfer failed");
    QTest::newRow("intensity transfer fails") << p << QStringList{"intensity", "9"} << QByteArray("pravex.failWrites = 1\n")
                                              << 1 << QStringList{"write 0109"}
                                              << QStringLiteral("transfer failed in the intensity command");
    QTest::newRow("watch for no time") << l << QStringList{"watch", "--seconds", "0"} << QByteArray() << 2 << none
                                       << QStringLiteral("--seconds takes a number of seconds above 0, not '0'");
    QTest::newRow("seconds in hexadecimal") << l << QStringList{"watch", "--seconds=0x1"} << QByteArray() << 2 << none
                                            << QStringLiteral("not '0x1'");
    QTest::newRow("seconds next to nothing") << p << QStringList{"watch", "--seconds=1e-300"} << QByteArray() << 2
                                             << none << QStringLiteral("not '1e-300'");
    QTest::newRow("seconds with two points") << l << QStringList{"watch", "--seconds=1.2.3"} << QByteArray() << 2
                                             << none << QStringLiteral("not '1.2.3'");
    QTest::newRow("threshold after a blank") << l << QStringList{"threshold", " 9"} << QByteArray() << 2 << none
                                             << QStringLiteral("not ' 9'");
    QTest::newRow("unknown option with a value") << l << QStringList{"--sec", "5", "watch"} << QByteArray() << 2
                                                 << none << QStringLiteral("unknown option '--sec'; commands:");
    QTest::newRow("help of an unknown command") << p << QStringList{"help", "nosuch"} << QByteArray() << 2 << none
                                                << QStringLiteral("unknown command 'nosuch'");
    QTest::newRow("version after a command") << p << QStringList{"status", "--version"} << QByteArray() << 0 << none
                                             << QString();
    QTest::newRow("control bytes in a name") << l << QStringList{"log", "no\nsuch/x"} << QByteArray() << 1 << none
                                             << QStringLiteral("cannot write no\\x0asuch/x: No such file");
    QTest::newRow("status of a hung driver") << l << QStringList{"status", "--timeout", "0.5"}
                                             << QByteArray("lunari.stuck = 1\n") << 1 << none
                                             << QStringLiteral("/proc/rodurirede/communication: no answer to the "
                                                               "scan-rate query within 0.5 s (timeout)");
    QTest::newRow("enable on a hung driver") << p << QStringList{"--timeout=0.5", "enable"}
                                             << QByteArray("pravex.stuck = 1\n") << 1 << none
                                             << QStringLiteral("no answer to the output command within 0.5 s");
    QTest::newRow("watch of a driver that hangs") << l << QStringList{"watch", "--timeout", "0.5"}
                                                  << QByteArray("at 0.3 lunari.stuck = 1\n") << 1
                                                  << QStringList{"read 69", "read 66", "read 70"}
                                                  << QStringLiteral("query within 0.5 s (timeout)");
    QTest::newRow("status, reading only") << l << QStringList{"status"} << QByteArray("lunari.readOnly = 1\n") << 0
                                          << QStringList{"openfailed", "read 65", "read 69"} << QString();
    QTest::newRow("enable, reading only") << l << QStringList{"enable"} << QByteArray("lunari.readOnly = 1\n") << 1
                                          << QStringList{"openfailed"}
                                          << QStringLiteral("permission denied (Permission denied); enable needs "
                                                            "write access to it");
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
    QCOMPARE(::mkfifo(QFile::encodeName(preloaded.path(QStringLiteral("fifo"))).constData(), 0644), 0);
    const PreloadedRun::Result run = preloaded.run(tool(program), arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(wire(preloaded.transcript(run.pid)).mid(0, sent.size()), sent);
    if (!arguments.contains(QStringLiteral("watch")))
        QCOMPARE(wire(preloaded.transcript(run.pid)), sent);
    const QString errors = QString::fromLocal8Bit(run.errors);
    QCOMPARE(errors.count(QLatin1Char('\n')), message.isEmpty() ? 0 : 1);
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

void TestControlTool::statusAsJson_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("exitCode");
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
        QTest::newRow(family) << QString::fromLatin1(family) + QStringLiteral("ctl") << scenario << 0
                              << (qstrcmp(family, "pravex") == 0 ? pravex : lunari);
    }

    // A failure still answers on standard output, with a stable word.
    const QVariantMap file{{"driverFile", "/proc/rodurirede/communication"}};
    const struct
    {
        const char *row;
        const char *scenario;
        bool present;
        const char *error;
        const char *reason;
    } failures[] = {
        {"not loaded", "lunari.present = 0", false, "not-loaded", "not loaded (No such file or directory)"},
        {"not ours", "lunari.openError = EACCES", true, "permission-denied", "permission denied (Permission denied)"},
        {"busy", "lunari.openError = EBUSY", true, "busy", "in use by another program (Device or resource busy)"},
        {"transfer failed", "lunari.failReads = 2", true, "transfer-failed",
         "transfer failed in the scan-rate query (Input/output error)"},
        {"short answer", "lunari.override.69 = 0 1 2", true, "short-answer",
         "short answer to the basic status query (3 of 32 bytes)"},
        {"hung", "lunari.stuck = 1", true, "timeout", "no answer to the scan-rate query within 1 s (timeout)"},
    };
    for (const auto &failure : failures) {
        QVariantMap expected = file;
        expected.insert({{"present", failure.present}, {"error", failure.error}, {"reason", failure.reason}});
        QTest::newRow(failure.row) << QStringLiteral("lunarictl") << QByteArray(failure.scenario) + '\n' << 1
                                   << expected;
    }
}

void TestControlTool::statusAsJson()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, expected);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const PreloadedRun::Result run = preloaded.run(tool(program), {QStringLiteral("status"), QStringLiteral("--json"),
                                                                    QStringLiteral("--timeout"), QStringLiteral("1")});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.errors.count('\n'), exitCode);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.output, &error);
    QVERIFY2(document.isObject(), qPrintable(error.errorString()));
    QCOMPARE(document.object().toVariantMap(), expected);
}

void TestControlTool::readBack_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<QString>("message");

    const QString p = QStringLiteral("pravexctl");
    const QString l = QStringLiteral("lunarictl");
    const QByteArray ignoring = "pravex.ignoreCommands = 1\nlunari.ignoreCommands = 1\n";
    QTest::newRow("enable") << p << QStringList{"enable"} << QByteArray("pravex.output = 0\n") << 0
                            << QByteArray("touch output: enabled\n") << QString();
    QTest::newRow("disable") << l << QStringList{"disable"} << QByteArray() << 0
                             << QByteArray("touch output: disabled\n") << QString();
    QTest::newRow("threshold") << l << QStringList{"threshold", "44"} << QByteArray() << 0
                               << QByteArray("threshold: 44\n") << QString();
    QTest::newRow("intensity") << p << QStringList{"intensity", "0"} << QByteArray() << 0
                               << QByteArray("intensity: 0\n") << QString();
    QTest::newRow("enable ignored") << p << QStringList{"enable"} << ignoring + "pravex.output = 0\n" << 1
                                    << QByteArray("touch output: disabled\n")
                                    << QStringLiteral("kept the touch output disabled (it did not take the command)");
    QTest::newRow("disable ignored") << l << QStringList{"disable"} << ignoring << 1
                                     << QByteArray("touch output: enabled\n")
                                     << QStringLiteral("kept the touch output enabled");
    QTest::newRow("threshold ignored") << l << QStringList{"threshold", "20"} << ignoring << 1
                                       << QByteArray("threshold: 30\n")
                                       << QStringLiteral("the driver holds threshold 30, not 20");
    QTest::newRow("intensity ignored") << p << QStringList{"intensity", "20"} << ignoring << 1
                                       << QByteArray("intensity: 8\n")
                                       << QStringLiteral("the driver holds intensity 8, not 20");
}

void TestControlTool::readBack()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, scenario);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, printed);
    QFETCH(QString, message);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const PreloadedRun::Result run = preloaded.run(tool(program), arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.output, printed);
    QCOMPARE(run.errors.count('\n'), message.isEmpty() ? 0 : 1);
    QVERIFY2(QString::fromLocal8Bit(run.errors).contains(message), run.errors.constData());
}

void TestControlTool::outputFailures_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("target");   // /dev/full, closed, pipe, full disk or no driver
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString l = QStringLiteral("lunarictl");
    const QString p = QStringLiteral("pravexctl");
    const struct
    {
        const char *row;
        QString program;
        QStringList arguments;
    } commands[] = {
        {"status", p, {"status"}},
        {"status --json", l, {"status", "--json"}},
        {"log", l, {"log"}},
        {"watch", p, {"watch", "--seconds", "2"}},
        {"record", l, {"record", "-", "--seconds", "2"}},
    };
    for (const auto &command : commands) {
        QTest::addRow("%s to /dev/full", command.row) << command.program << command.arguments << "/dev/full" << 1
                                                      << "cannot write standard output: No space left on device";
        QTest::addRow("%s to a closed output", command.row) << command.program << command.arguments << "closed" << 1
                                                            << "cannot write standard output: Bad file descriptor";
        // As shells report a program ended by SIGPIPE, quietly.
        QTest::addRow("%s to a closed pipe", command.row) << command.program << command.arguments << "pipe"
                                                          << 128 + SIGPIPE << QString();
    }
    // The disk fills up in the middle of the file.
    QTest::newRow("log on a full disk") << l << QStringList{"log", "FILE"} << "full disk" << 1
                                        << "cannot write FILE: No space left on device";
    QTest::newRow("record on a full disk") << l << QStringList{"record", "FILE", "--seconds", "3"} << "full disk" << 1
                                           << "cannot write FILE: No space left on device";
    QTest::newRow("log without a driver") << l << QStringList{"log", "FILE"} << "no driver" << 1
                                          << "/proc/rodurirede/communication: not loaded (No such file or directory)";
    QTest::newRow("record without a driver") << p << QStringList{"record", "FILE"} << "no driver" << 1
                                             << "/proc/zazevizuve/communication: not loaded (No such file or directory)";
}

void TestControlTool::outputFailures()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, target);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    PreloadedRun preloaded;
    const Pipe closedPipe(false);
    QString command = QStringLiteral("\"$0\" \"$@\" ");
    QString disk;
    if (target == QLatin1String("/dev/full")) {
        command += QStringLiteral(">/dev/full");
    } else if (target == QLatin1String("closed")) {
        command += QStringLiteral(">&-");
    } else if (target == QLatin1String("pipe")) {
        command += closedPipe.redirection();
    } else {
        // An earlier file, on a small file system of its own with 8 KiB left, or beside a driver that is gone.
        disk = preloaded.path(QStringLiteral("disk"));
        QVERIFY(QDir().mkpath(disk));
        const bool full = target == QLatin1String("full disk");
        if (full && ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no tmpfs can be mounted here (not root?)");
        if (!full)
            preloaded.setScenario("pravex.present = 0\nlunari.present = 0\n");
        QFile earlier(disk + QStringLiteral("/FILE"));
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n") == 8);
        earlier.close();
        QFile filler(disk + QStringLiteral("/filler"));
        while (full && filler.size() < 1024 * 1024) {
            QVERIFY(filler.open(QIODevice::Append));
            const bool room = filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush();
            filler.close();
            if (!room) {
                QVERIFY(filler.resize(filler.size() / 4096 * 4096 - 8192));
                break;
            }
        }
        arguments.replaceInStrings(QStringLiteral("FILE"), disk + QStringLiteral("/FILE"));
        message.replace(QStringLiteral("FILE"), disk + QStringLiteral("/FILE"));
    }
    const PreloadedRun::Result run = preloaded.runInShell(command, tool(program), arguments);
    QStringList left;
    if (!disk.isEmpty()) {
        left = filesIn(disk);
        const QByteArray kept = readFile(disk + QStringLiteral("/FILE"));
        if (target == QLatin1String("full disk"))
            ::umount(QFile::encodeName(disk).constData());
        QCOMPARE(kept, QByteArray("earlier\n"));
        QCOMPARE(left, target == QLatin1String("full disk") ? QStringList({"FILE", "filler"}) : QStringList{"FILE"});
    }
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QString::fromLocal8Bit(run.errors),
             message.isEmpty() ? QString() : program + QStringLiteral(": ") + message + QLatin1Char('\n'));
}

void TestControlTool::nothingReachesTheDriverByAccident_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("closing");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("sent");

    const QString l = QStringLiteral("lunarictl");
    const QString p = QStringLiteral("pravexctl");
    QTest::newRow("status, input closed") << p << QStringList{"status"} << "<&-" << 0
                                          << QStringList{"read 99", "read 102"};
    // Nothing is asked or changed when the answer cannot be told.
    QTest::newRow("log, output closed") << l << QStringList{"log"} << ">&-" << 1 << QStringList();
    QTest::newRow("enable, output closed") << p << QStringList{"enable"} << ">&-" << 1 << QStringList();
    QTest::newRow("record, output closed") << l << QStringList{"record", "-"} << ">&-" << 1 << QStringList();
    QTest::newRow("log to a file, input and errors closed") << l << QStringList{"log", "panel.log"} << "<&- 2>&-" << 0
                                                            << QStringList{"read 69", "read 67", "read 66"};
    QTest::newRow("bad threshold, errors closed") << l << QStringList{"threshold", "99"} << "2>&-" << 2
                                                  << QStringList();
    QTest::newRow("short answer, input and errors closed") << l << QStringList{"status", "--json"} << "2>&- <&-" << 1
                                                           << QStringList{"read 65", "read 69"};
}

void TestControlTool::nothingReachesTheDriverByAccident()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, closing);
    QFETCH(int, exitCode);
    QFETCH(QStringList, sent);

    PreloadedRun preloaded;
    if (QTest::currentDataTag() == QByteArray("short answer, input and errors closed"))
        preloaded.setScenario("lunari.override.69 = 1\n");
    const PreloadedRun::Result run = preloaded.runInShell(QStringLiteral("\"$0\" \"$@\" ") + closing, tool(program),
                                                          arguments);
    QCOMPARE(run.exitCode, exitCode);
    const QList<Exchange> exchanges = preloaded.transcript();
    QCOMPARE(wire(exchanges), sent);
    for (const Exchange &exchange : exchanges)
        QVERIFY2(exchange.kind == Exchange::OpenFailed || exchange.fd > 2, qPrintable(QString::number(exchange.fd)));
}

void TestControlTool::stopsWhateverItIsDoing_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<bool>("fullPipe");
    QTest::addColumn<int>("signal");

    const QString l = QStringLiteral("lunarictl");
    QTest::newRow("watch waiting for the driver") << l << QStringList{"watch"}
                                                  << QByteArray("lunari.delayMs = 20000\n") << false << int(SIGINT);
    QTest::newRow("record waiting for the driver") << l << QStringList{"record", "panel.rec"}
                                                   << QByteArray("at 0.3 lunari.delayMs = 20000\n") << false
                                                   << int(SIGINT);
    QTest::newRow("watch waiting for a full pipe") << l << QStringList{"watch"} << QByteArray() << true
                                                   << int(SIGTERM);
    // A dropped SSH session keeps what was recorded.
    QTest::newRow("record on a hang-up") << l << QStringList{"record", "panel.rec"} << QByteArray() << false
                                         << int(SIGHUP);
}

void TestControlTool::stopsWhateverItIsDoing()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, scenario);
    QFETCH(bool, fullPipe);
    QFETCH(int, signal);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const Pipe full(true);
    QProcess process;
    preloaded.startInShell(process, QStringLiteral("exec \"$0\" \"$@\" ") + (fullPipe ? full.redirection() : QString()),
                           tool(program), arguments);
    QTest::qWait(1500);
    QCOMPARE(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(3000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardError(), QByteArray());
    if (arguments.contains(QStringLiteral("record"))) {
        Recording::Data data;
        QVERIFY(Recording::parse(readFile(preloaded.path(QStringLiteral("panel.rec"))).toStdString(), &data, nullptr));
        QVERIFY(!data.frames.empty());
    }
}

void TestControlTool::stopLeavesTheEarlierFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");   // -1: ended by the signal
    QTest::addColumn<QString>("message");

    const QStringList metrics{"status", "--format=prometheus", "--output", "FILE"};
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const char *name = signal == SIGINT ? "INT" : signal == SIGTERM ? "TERM" : "HUP";
        QTest::addRow("status --output, %s", name) << metrics << signal << -1 << QString();
        QTest::addRow("log FILE, %s", name) << QStringList{"log", "FILE"} << signal << -1 << QString();
        QTest::addRow("record before the first frame, %s", name)
            << QStringList{"record", "FILE"} << signal << 1
            << QStringLiteral("lunarictl: nothing was recorded: stopped before the first frame\n");
    }
}

void TestControlTool::stopLeavesTheEarlierFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    PreloadedRun preloaded;
    preloaded.setScenario("lunari.delayMs = 20000\n");
    const QString folder = preloaded.path(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));
    QFile earlier(folder + QStringLiteral("/FILE"));
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n") == 8);
    earlier.close();
    arguments.replaceInStrings(QStringLiteral("FILE"), earlier.fileName());
    QProcess process;
    preloaded.start(process, tool(QStringLiteral("lunarictl")), arguments);
    QTRY_VERIFY(!preloaded.transcript().isEmpty());
    QTest::qWait(200);
    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(3000));
    if (exitCode < 0) {
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    } else {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
    }
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()), message);
    QCOMPARE(filesIn(folder), QStringList{"FILE"});
    QCOMPARE(readFile(earlier.fileName()), QByteArray("earlier\n"));
}

void TestControlTool::replacedFileKeepsItsAttributes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");        // of the earlier file; -1: none
    QTest::addColumn<bool>("otherUser");  // the earlier file is nobody's, and nogroup's
    QTest::addColumn<int>("expected");    // -1: the umask's mode

    QTest::newRow("new file") << QStringLiteral("m.prom") << -1 << false << -1;
    QTest::newRow("open to all") << QStringLiteral("m.prom") << 0666 << false << 0666;
    QTest::newRow("another user's, read by its group") << QStringLiteral("m.prom") << 0640 << true << 0640;
    QTest::newRow("name of 255 bytes") << QString(255, QLatin1Char('n')) << 0600 << false << 0600;
}

void TestControlTool::replacedFileKeepsItsAttributes()
{
    QFETCH(QString, name);
    QFETCH(int, mode);
    QFETCH(bool, otherUser);
    QFETCH(int, expected);

    const uid_t nobody = 65534;
    if (otherUser && ::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    PreloadedRun preloaded;
    const QString file = preloaded.path(name);
    const QByteArray path = QFile::encodeName(file);
    if (mode >= 0) {
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
        if (otherUser)
            QCOMPARE(::chown(path.constData(), nobody, nobody), 0);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const PreloadedRun::Result run = preloaded.run(
        tool(QStringLiteral("pravexctl")), {QStringLiteral("status"), QStringLiteral("--format=prometheus"),
                                            QStringLiteral("--output"), file});
    QCOMPARE(run.exitCode, 0);
    struct stat info{};
    QCOMPARE(::stat(path.constData(), &info), 0);
    QVERIFY(info.st_size > 0);
    QCOMPARE(int(info.st_mode & 07777), expected >= 0 ? expected : int(0666 & ~mask));
    QCOMPARE(info.st_uid, otherUser ? nobody : ::geteuid());
    QCOMPARE(info.st_gid, otherUser ? gid_t(nobody) : ::getegid());
}

void TestControlTool::replacementIsDurable()
{
    // The data reaches the disk before the rename, and the rename before the program ends.
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace is missing (Debian package strace)");
    PreloadedRun preloaded;
    const QString trace = preloaded.path(QStringLiteral("trace"));
    // LeakSanitizer cannot work under ptrace, in the sanitizer build.
    const PreloadedRun::Result run = preloaded.runInShell(
        QStringLiteral("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 ") + strace
            + QStringLiteral(" -f -qq -o ") + trace
            + QStringLiteral(" -e trace=fsync,rename,renameat,renameat2 \"$0\" \"$@\""),
        tool(QStringLiteral("lunarictl")), {QStringLiteral("log"), preloaded.path(QStringLiteral("panel.log"))});
    if (run.exitCode != 0 && run.errors.startsWith("strace:"))
        QSKIP(run.errors.constData());
    QCOMPARE(run.exitCode, 0);
    QStringList calls;
    for (const QByteArray &line : readFile(trace).split('\n')) {
        const QByteArray call = line.mid(line.indexOf(' ') + 1).trimmed();
        // Some architectures have renameat alone.
        if (call.startsWith("fsync("))
            calls << QStringLiteral("fsync");
        else if (call.startsWith("rename"))
            calls << QStringLiteral("rename");
    }
    QCOMPARE(calls, QStringList({"fsync", "rename", "fsync"}));
}

void TestControlTool::stickyFolderRefusesAtOnce()
{
    // Another user's file in a sticky folder cannot be renamed over: the
    // recording is refused before it starts, not thrown away at its end.
    if (::geteuid() != 0)
        QSKIP("running as another user needs root");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv is missing");
    PreloadedRun preloaded;
    const QString folder = preloaded.path(QStringLiteral("sticky"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &open : {preloaded.path(QString()), preloaded.path(QStringLiteral("transcript"))})
        ::chmod(QFile::encodeName(open).constData(), 0777);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 01777), 0);
    const QString file = folder + QStringLiteral("/panel.rec");
    QFile earlier(file);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n") == 8);
    earlier.close();
    QElapsedTimer timer;
    timer.start();
    const PreloadedRun::Result run = preloaded.runInShell(
        setpriv + QStringLiteral(" --reuid=65534 --regid=65534 --clear-groups \"$0\" \"$@\""),
        tool(QStringLiteral("lunarictl")), {QStringLiteral("record"), file, QStringLiteral("--seconds"),
                                            QStringLiteral("3")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(run.errors.contains("belongs to another user"), run.errors.constData());
    QCOMPARE(filesIn(folder), QStringList{"panel.rec"});
    QCOMPARE(readFile(file), QByteArray("earlier\n"));
}

void TestControlTool::lateRenameFailureKeepsTheRecording()
{
    // A folder takes the name while recording: the rename fails at the end,
    // and the recording stays under its temporary name.
    PreloadedRun preloaded;
    const QString file = preloaded.path(QStringLiteral("panel.rec"));
    QProcess recorder;
    preloaded.start(recorder, tool(QStringLiteral("lunarictl")),
                    {QStringLiteral("record"), file, QStringLiteral("--seconds"), QStringLiteral("1")});
    QTRY_VERIFY(wire(preloaded.transcript()).contains(QStringLiteral("read 66")));
    QVERIFY(QDir().mkpath(file + QStringLiteral("/taken")));
    QVERIFY(recorder.waitForFinished(5000));
    QCOMPARE(recorder.exitCode(), 1);
    const QStringList kept = filesIn(preloaded.path(QString())).filter(QStringLiteral(".panel.rec."));
    QCOMPARE(kept.size(), 1);
    QCOMPARE(QString::fromLocal8Bit(recorder.readAllStandardError()),
             QStringLiteral("lunarictl: cannot write %1: Is a directory; the recording is kept as %2\n")
                 .arg(file, preloaded.path(kept.first())));
    Recording::Data data;
    QVERIFY(Recording::parse(readFile(preloaded.path(kept.first())).toStdString(), &data, nullptr));
    QVERIFY(!data.frames.empty());
}

void TestControlTool::watchAsJsonKeepsItsRate()
{
    PreloadedRun preloaded;
    QProcess watching;
    preloaded.start(watching, tool(QStringLiteral("pravexctl")),
                    {QStringLiteral("watch"), QStringLiteral("--json"), QStringLiteral("--seconds"), QStringLiteral("3")});
    QTest::qWait(700);
    // A program that has ended has no id: kill(0) would stop this test's own process group.
    const pid_t pid = pid_t(watching.processId());
    QVERIFY2(pid > 0, watching.readAllStandardError().constData());
    ::kill(pid, SIGSTOP);
    QTest::qWait(1200);
    ::kill(pid, SIGCONT);
    QVERIFY(watching.waitForFinished(10000));
    QCOMPARE(watching.exitCode(), 0);

    // Every line one object; after the pause, no refresh is made up.
    QList<QDateTime> times;
    for (const QByteArray &line : watching.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        QVERIFY2(object.value(QStringLiteral("strongest")).isObject(), line.constData());
        times << QDateTime::fromString(object.value(QStringLiteral("timestamp")).toString(), Qt::ISODateWithMs);
        QVERIFY2(times.last().isValid() && times.last().timeSpec() == Qt::UTC, line.constData());
    }
    QVERIFY2(times.size() >= 5 && times.size() <= 11, qPrintable(QString::number(times.size())));
    for (int i = 1; i < times.size(); ++i)
        QVERIFY2(times[i - 1].msecsTo(times[i]) >= 150, qPrintable(times[i].toString(Qt::ISODateWithMs)));
}

void TestControlTool::watchNamesTheStrongest_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QString>("line");   // what the first refresh says after its time
    QTest::newRow("pravex, first Y channel")
        << QStringLiteral("pravexctl")
        << QByteArray("pravex.animate = 0\npravex.layoutX = 5\npravex.layoutY = 3\n"
                      "pravex.samples = 10 200 30 40 50 250 60 80\n")
        << QStringLiteral("strongest 250 on channel 6 (Y 1)");
    QTest::newRow("lunari") << QStringLiteral("lunarictl") << FixedLunari
                            << QStringLiteral("touches 2 (100,200) (4095,0)  strongest  120 at 0,3");
}

void TestControlTool::watchNamesTheStrongest()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QString, line);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const PreloadedRun::Result run =
        preloaded.run(tool(program), {QStringLiteral("watch"), QStringLiteral("--seconds"), QStringLiteral("0.1")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QString::fromLatin1(run.output.split('\n').first().mid(10)), line);
}

void TestControlTool::errorEndsTheProgressLine()
{
    // Progress is shown on a terminal only: script(1) gives the program one.
    PreloadedRun preloaded;
    preloaded.setScenario("at 0.5 lunari.failReads = 1\n");
    const PreloadedRun::Result run = preloaded.runInShell(QStringLiteral("script -qec \"$0 $*\" /dev/null"),
                                                          tool(QStringLiteral("lunarictl")),
                                                          {QStringLiteral("record"), QStringLiteral("panel.rec")});
    QVERIFY2(run.output.contains(" frames "), run.output.constData());
    const QByteArray message = "lunarictl: /proc/rodurirede/communication: transfer failed in the matrix query "
                               "(Input/output error)";
    QVERIFY2(QByteArray(run.output).replace('\r', '\n').split('\n').contains(message), run.output.constData());
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
    // The recording is written beside its name and takes the name when it stops.
    QTRY_VERIFY(wire(preloaded.transcript()).count(QStringLiteral("read 66")) >= 3);
    QVERIFY(!QFile::exists(file));
    ::kill(pid_t(recorder.processId()), SIGINT);
    QVERIFY(recorder.waitForFinished(5000));
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recorder.exitCode(), 0);
    const QByteArray text = readFile(file);
    QVERIFY(text.endsWith('\n'));
    Recording::Data data;
    QVERIFY(Recording::parse(text.toStdString(), &data, nullptr));
    QCOMPARE(int(data.frames.size()), text.count("\nframe "));
    QCOMPARE(filesIn(preloaded.path(QString())).filter(QStringLiteral("interrupted")),
             QStringList{"interrupted.rec"});
}

void TestControlTool::frameOfAMoment_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("frame");   // the time of the frame on show
    // Frames at 0, 0.1 and 0.3, taken every 100 ms: the loop is 0.4 s long,
    // and the nearest frame is on show.
    QTest::newRow("start") << 0.0 << 0.0;
    QTest::newRow("just before a frame") << 0.09 << 0.1;
    QTest::newRow("nearer the earlier") << 0.19 << 0.1;
    QTest::newRow("nearer the later") << 0.21 << 0.3;
    QTest::newRow("last") << 0.34 << 0.3;
    QTest::newRow("near the loop's end") << 0.38 << 0.0;
    QTest::newRow("looped") << 0.42 << 0.0;
    QTest::newRow("looped twice") << 0.93 << 0.1;
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

void TestControlTool::recordingNumbersAreStrict_data()
{
    QTest::addColumn<QByteArray>("interval");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QByteArray("80") << QByteArray("0 0.08 1.5") << true;
    QTest::newRow("a minute") << QByteArray("60000") << QByteArray("0") << true;
    QTest::newRow("interval with a tail") << QByteArray("80ms") << QByteArray("0") << false;
    QTest::newRow("interval of two words") << QByteArray("80 90") << QByteArray("0") << false;
    QTest::newRow("interval too long") << QByteArray("60001") << QByteArray("0") << false;
    QTest::newRow("interval beyond int") << QByteArray("4294967376") << QByteArray("0") << false;
    QTest::newRow("interval signed") << QByteArray("+80") << QByteArray("0") << false;
    QTest::newRow("time not a number") << QByteArray("80") << QByteArray("0 nan") << false;
    QTest::newRow("time infinite") << QByteArray("80") << QByteArray("0 inf") << false;
    QTest::newRow("time out of range") << QByteArray("80") << QByteArray("0 1e400") << false;
    QTest::newRow("time of two days") << QByteArray("80") << QByteArray("0 172800") << true;
    QTest::newRow("time beyond the limit") << QByteArray("80") << QByteArray("0 1e10") << false;
    QTest::newRow("time with a tail") << QByteArray("80") << QByteArray("0 0.08s") << false;
    QTest::newRow("time going back") << QByteArray("80") << QByteArray("0.5 0.4") << false;
}

void TestControlTool::recordingNumbersAreStrict()
{
    QFETCH(QByteArray, interval);
    QFETCH(QByteArray, frames);
    QFETCH(bool, valid);
    QByteArray text = "recording 1\nproduct pravex\ninterval-ms " + interval + "\nstatus 00\nscan-rate 00\n";
    for (const QByteArray &time : frames.split(' '))
        text += "frame " + time + " graph 0102\n";
    Recording::Data data;
    QCOMPARE(Recording::parse(text.toStdString(), &data, nullptr), valid);
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

void TestControlTool::busyBesideAWindowProgramOfAnExclusiveDriver()
{
    PreloadedRun preloaded;
    preloaded.setScenario("lunari.exclusive = 1\n");
    HeadlessPrograms programs;
    QProcess &window = *programs.start(Product::lunari, preloaded.path(QString()), preloaded.environment());
    QVERIFY(window.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!preloaded.transcript(window.processId()).isEmpty(), 10000);

    const PreloadedRun::Result status = preloaded.run(tool(QStringLiteral("lunarictl")), {QStringLiteral("status")});
    QCOMPARE(status.exitCode, 1);
    QVERIFY2(status.errors.contains("in use by another program"), status.errors.constData());
    QCOMPARE(window.state(), QProcess::Running);
}

QTEST_MAIN(TestControlTool)
#include "tst_controltool.moc"
