// Damaged or hostile files in the working directory: a broken catalogue or
// icon, and a driver log name that is not a plain writable file. The program
// starts, keeps its English texts, writes nothing through a link, and still
// queries and clears the matrices.
#include "app/main.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "tests/support/HeadlessPrograms.h"
#include "tests/support/TargetPrograms.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using DriverSim::Exchange;
using TestSupport::guardHeld;

namespace {

const char *const logName = "VeDorurerezo.log";
const int SkipExit = 77;
const uid_t Nobody = 65534;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray garbage(int size, unsigned seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// Puts a damaged file (or something else) under name in directory.
bool plant(const QString &directory, const char *name, const QString &kind, const QByteArray &good)
{
    const QString path = directory + QLatin1Char('/') + QLatin1String(name);
    if (kind == QLatin1String("missing"))
        return true;
    if (kind == QLatin1String("directory"))
        return QDir().mkdir(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
    if (kind == QLatin1String("loop"))
        return QFile::link(path, path);
    if (kind == QLatin1String("device"))
        return QFile::link(QStringLiteral("/dev/zero"), path);
    if (kind == QLatin1String("empty"))
        return writeBytes(path, QByteArray());
    if (kind == QLatin1String("garbage"))
        return writeBytes(path, garbage(4096, 7));
    if (kind == QLatin1String("truncated"))
        return writeBytes(path, good.left(good.size() / 2));
    if (kind == QLatin1String("header only"))
        return writeBytes(path, good.left(20));
    if (kind == QLatin1String("hostile lengths")) {
        // The catalogue's magic, then blocks that claim to run far past the end.
        QByteArray bytes = good.left(16);
        for (int tag = 0x2f; tag <= 0x6e; tag += 0x08)
            bytes += char(tag) + QByteArray("\x7f\xff\xff\xf0", 4) + garbage(64, unsigned(tag));
        return writeBytes(path, bytes);
    }
    if (kind == QLatin1String("huge image")) {
        // A valid picture whose frame header claims 65500 x 65500 pixels.
        QByteArray bytes = good;
        const int frame = bytes.indexOf(QByteArray("\xff\xc0", 2));
        if (frame < 0)
            return false;
        bytes.replace(frame + 5, 4, QByteArray("\xff\xdc\xff\xdc", 4));
        return writeBytes(path, bytes);
    }
    return false;
}

// Fast-forwarded runs of the second program's found transition in a child
// process, so it can drop root rights first: prints what went wrong, if anything.
int writeLogChild(char **argv)
{
    const char *directory = argv[2];
    const bool dropRights = std::strcmp(argv[3], "drop") == 0;
    if (dropRights && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) {
            std::printf("cannot give up root rights\n");
            return SkipExit;
        }
    }
    if (::chdir(directory) != 0) {
        std::printf("cannot enter %s\n", directory);
        return 1;
    }
    if (dropRights && ::access(".", W_OK) == 0) {
        std::printf("the directory is still writable\n");
        return SkipExit;
    }

    int argc = 1;
    QApplication app(argc, argv);
    DriverSim::Controller &driver = TestSupport::stillSensorMap(2, 3);
    Param *param = Param::getInst();
    driver.matrix67 = {1, 2, 3, 4, 5, 6};
    driver.matrix66 = {7, 8, 9, 10, 11, 12};
    DriverSim::clearTranscript();

    int failures = 0;
    auto expect = [&failures](bool condition, const char *what) {
        if (!condition) {
            std::printf("%s\n", what);
            ++failures;
        }
    };
    {
        MainDialog window;
        expect(param->driverFound, "the driver was not found");
        window.record_driver_log();
    }
    expect(TestSupport::exchanges(Exchange::Read, 67).size() == 2, "the code-67 matrix was not queried twice");
    expect(TestSupport::exchanges(Exchange::Read, 66).size() == 2, "the code-66 matrix was not queried twice");
    for (int i = 0; i < 6; ++i)
        expect(param->matrix[i] == 0, "a code-66 cell was not cleared");
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void damagedCatalogue_data();
    void damagedCatalogue();
    void damagedIcon_data();
    void damagedIcon();
    void programStartsWithDamagedFiles_data();
    void programStartsWithDamagedFiles();
    void logNameThatIsNoPlainFile_data();
    void logNameThatIsNoPlainFile();

private:
    QProcess *start(const Product &product, const QString &workDir, const QString &transcript);
    bool pollsSeen(const Product &product, const QString &transcript, int count);

    HeadlessPrograms programs;
};

void TestHostileFiles::initTestCase()
{
    QTRY_VERIFY2_WITH_TIMEOUT(!guardHeld(Product::pravex) && !guardHeld(Product::lunari),
                              "another copy of a program is running", 60000);
}

void TestHostileFiles::cleanup()
{
    programs.stopAll();
    QDir::setCurrent(QDir::tempPath());
}

void TestHostileFiles::damagedCatalogue_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"missing", "empty", "garbage", "truncated", "header only", "hostile lengths",
                             "directory", "loop"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestHostileFiles::damagedCatalogue()
{
    QFETCH(QString, kind);
    QTemporaryDir workDir;
    QVERIFY(QDir::setCurrent(workDir.path()));
    const QByteArray good = fileBytes(QStringLiteral(TRANSLATIONS_DIR "/Controller_de.qm"));
    QVERIFY(good.size() > 100);
    QVERIFY(plant(workDir.path(), "Controller.qm", kind, good));

    QTranslator translator;
    (void)loadCatalogue(translator);
    QCoreApplication::installTranslator(&translator);
    TestSupport::useProduct(Product::pravex);
    MainDialog window;
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(window.windowTitle(), QStringLiteral("Pravex Controller"));
    QCOMPARE(window.findChild<QCheckBox *>(QStringLiteral("checkBoxEnableUSB"))->text(), QStringLiteral("Enabled"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButtonCalib"))->text(), QStringLiteral("Calibrate"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_17"))->text(), QStringLiteral("Firmware Version"));
}

void TestHostileFiles::damagedIcon_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("icon");
    QTest::newRow("intact") << QStringLiteral("intact") << true;
    for (const char *kind : {"missing", "empty", "garbage", "header only", "huge image", "directory", "loop"})
        QTest::newRow(kind) << QString::fromLatin1(kind) << false;
}

void TestHostileFiles::damagedIcon()
{
    QFETCH(QString, kind);
    QFETCH(bool, icon);
    QTemporaryDir workDir;
    QVERIFY(QDir::setCurrent(workDir.path()));
    const QByteArray good = fileBytes(QStringLiteral(LOGO_FILE));
    if (kind == QLatin1String("intact"))
        QVERIFY(writeBytes(QStringLiteral("logo.jpg"), good));
    else
        QVERIFY(plant(workDir.path(), "logo.jpg", kind, good));

    TestSupport::useProduct(Product::pravex);
    MainDialog window;
    window.show();
    QCoreApplication::processEvents();
    QCOMPARE(!window.windowIcon().pixmap(32, 32).isNull(), icon);
}

void TestHostileFiles::programStartsWithDamagedFiles_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("logo");
    const QString pravex = QString::fromLatin1(Product::pravex.programName);
    const QString lunari = QString::fromLatin1(Product::lunari.programName);
    QTest::newRow("pravex, garbage catalogue and icon") << pravex << "garbage" << "garbage";
    QTest::newRow("pravex, truncated catalogue, huge icon") << pravex << "truncated" << "huge image";
    QTest::newRow("pravex, directories") << pravex << "directory" << "directory";
    QTest::newRow("pravex, catalogue that never ends") << pravex << "fifo" << "fifo";
    QTest::newRow("pravex, endless device") << pravex << "device" << "device";
    QTest::newRow("lunari, hostile catalogue") << lunari << "hostile lengths" << "missing";
    QTest::newRow("lunari, catalogue that never ends") << lunari << "fifo" << "missing";
}

QProcess *TestHostileFiles::start(const Product &product, const QString &workDir, const QString &transcript)
{
    QProcessEnvironment simulator;
    simulator.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(DRIVERSIM_PRELOAD_LIST));
    simulator.insert(QStringLiteral("DRIVERSIM_TRANSCRIPT"), transcript);
    return programs.start(product, workDir, simulator);
}

// The presence check has run count times: the window was built and the event loop turns.
bool TestHostileFiles::pollsSeen(const Product &product, const QString &transcript, int count)
{
    std::ifstream lines(QFile::encodeName(transcript).constData());
    std::string line;
    int polls = 0;
    while (std::getline(lines, line)) {
        Exchange exchange;
        if (DriverSim::parseExchange(line, &exchange) && exchange.kind == Exchange::Read
            && exchange.code == product.commands.getFps)
            ++polls;
    }
    return polls >= count;
}

void TestHostileFiles::programStartsWithDamagedFiles()
{
    QFETCH(QString, program);
    QFETCH(QString, catalogue);
    QFETCH(QString, logo);
    const Product &product = TestSupport::productByName(program.toLatin1().constData());
    QTemporaryDir workDir;
    QTemporaryDir records;
    QVERIFY(plant(workDir.path(), "Controller.qm", catalogue,
                  fileBytes(QStringLiteral(TRANSLATIONS_DIR "/Controller_de.qm"))));
    QVERIFY(plant(workDir.path(), "logo.jpg", logo, fileBytes(QStringLiteral(LOGO_FILE))));
    const QString transcript = records.filePath(QStringLiteral("transcript"));

    QProcess *process = start(product, workDir.path(), transcript);
    QVERIFY(process->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(pollsSeen(product, transcript, 2) || process->state() == QProcess::NotRunning, 15000);
    QVERIFY2(process->state() == QProcess::Running,
             qPrintable(QStringLiteral("the program ended (status %1, %2)")
                            .arg(process->exitCode())
                            .arg(process->exitStatus() == QProcess::CrashExit ? "crashed" : "exited")));
    QVERIFY(guardHeld(product));
}

void TestHostileFiles::logNameThatIsNoPlainFile_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"unwritable directory", "directory", "link to a file", "dangling link", "fifo",
                             "hard link", "link to a directory"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestHostileFiles::logNameThatIsNoPlainFile()
{
    QFETCH(QString, kind);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    // Reachable by an unprivileged child; the precious file lies outside the working directory.
    QVERIFY(::chmod(QFile::encodeName(scratch.path()).constData(), 0755) == 0);
    const QString workDir = scratch.filePath(QStringLiteral("work"));
    const QString precious = scratch.filePath(QStringLiteral("precious"));
    const QString aside = scratch.filePath(QStringLiteral("aside"));
    const QString log = workDir + QLatin1Char('/') + QLatin1String(logName);
    QVERIFY(QDir().mkdir(workDir));
    QVERIFY(QDir().mkdir(aside));
    QVERIFY(writeBytes(precious, "keep me\n"));

    bool dropRights = false;
    if (kind == QLatin1String("unwritable directory")) {
        QVERIFY(::chmod(QFile::encodeName(workDir).constData(), 0555) == 0);
        dropRights = true;
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(log));
    } else if (kind == QLatin1String("link to a file")) {
        QVERIFY(QFile::link(precious, log));
    } else if (kind == QLatin1String("dangling link")) {
        QVERIFY(QFile::link(scratch.filePath(QStringLiteral("created")), log));
    } else if (kind == QLatin1String("link to a directory")) {
        QVERIFY(QFile::link(aside, log));
    } else if (kind == QLatin1String("fifo")) {
        QVERIFY(::mkfifo(QFile::encodeName(log).constData(), 0644) == 0);
    } else if (kind == QLatin1String("hard link")) {
        QVERIFY(::link(QFile::encodeName(precious).constData(), QFile::encodeName(log).constData()) == 0);
    }

    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    TargetPrograms::start(child, QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--write-log-in"), workDir,
                           dropRights ? QStringLiteral("drop") : QStringLiteral("keep")});
    QVERIFY(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    if (child.exitCode() == SkipExit)
        QSKIP(qPrintable(QStringLiteral("root cannot be kept from writing here: %1").arg(QString::fromLocal8Bit(output))));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());

    // Nothing was written through the name, nor created in its place.
    QCOMPARE(fileBytes(precious), QByteArray("keep me\n"));
    QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("created"))));
    QVERIFY(QDir(aside).isEmpty());
    const QFileInfo info(log);
    if (kind == QLatin1String("unwritable directory"))
        QVERIFY(!info.exists());
    else if (kind == QLatin1String("directory"))
        QVERIFY(info.isDir() && QDir(log).isEmpty());
    else if (kind == QLatin1String("fifo"))
        QVERIFY(!info.isFile() && !info.isDir() && !info.isSymLink());
    else if (kind != QLatin1String("hard link"))
        QVERIFY(info.isSymLink());
    ::chmod(QFile::encodeName(workDir).constData(), 0755);
}

int main(int argc, char **argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--write-log-in") == 0)
        return writeLogChild(argv);
    QApplication app(argc, argv);
    TestHostileFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostilefiles.moc"
