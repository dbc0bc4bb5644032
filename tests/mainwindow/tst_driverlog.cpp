// The second program's driver log: format, clearing, replacement, and a name
// that is not a plain file.
#include "mainwindow/DriverLog.h"
#include "tests/mainwindow/MainWindowFixture.h"

#include <QTemporaryDir>

#include <unistd.h>

using DriverSim::Exchange;

namespace {

const char *const logName = "VeDorurerezo.log";

QByteArray readLog()
{
    QFile file(QString::fromLatin1(logName));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

QByteArray fields(std::initializer_list<const char *> values)
{
    QByteArray line;
    for (const char *value : values)
        line += value;
    return line;
}

// A present second-family driver with fixed matrices of the given layout.
DriverSim::Controller &fixedDriver(int layoutX, int layoutY)
{
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    driver.layoutX = layoutX;
    driver.layoutY = layoutY;
    driver.matrix66.assign(static_cast<size_t>(layoutX * layoutY), 0);
    driver.matrix67.assign(static_cast<size_t>(layoutX * layoutY), 0);
    return driver;
}

} // namespace

class TestDriverLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void zeroMatricesOfTwoByThree();
    void zeroLayout_data();
    void zeroLayout();
    void cellValues();
    void clearsOnlyTheCodeSixtySixCellsOfTheLayout();
    void secondDiscoveryReplacesTheFile();
    void failedStatusReadLogsTheHeldLayout();
    void failedMatrixQueryRepeatsTheBuffer();
    void notFollowedThroughALink();
    void nameTakenByADirectory();
    void firstProgramWritesNoLog();

private:
    std::unique_ptr<TestSupport::WorkingFolder> workDir;
};

void TestDriverLog::init()
{
    workDir = std::make_unique<TestSupport::WorkingFolder>();
    TestSupport::useProduct(Product::lunari);
}

void TestDriverLog::cleanup()
{
    workDir.reset();
}

void TestDriverLog::zeroMatricesOfTwoByThree()
{
    TestSupport::useProduct(Product::lunari);
    fixedDriver(2, 3);
    MainDialog window;
    const QByteArray cells = fields({"   0", "   0", "   0", "   0", "   0", "   0"});
    QCOMPARE(readLog(), QByteArray("   2   3\n") + cells + '\n' + cells + '\n');
}

void TestDriverLog::zeroLayout_data()
{
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("no columns") << 0 << 3 << QByteArray("   0   3\n");
    QTest::newRow("no rows") << 4 << 0 << QByteArray("   4   0\n");
}

void TestDriverLog::zeroLayout()
{
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    QFETCH(QByteArray, header);
    fixedDriver(layoutX, layoutY);
    MainDialog window;
    QCOMPARE(readLog(), header + "\n\n");
}

void TestDriverLog::cellValues()
{
    // (b XOR 0xA7) - 0xA7, worked out by hand: 0x00 -> 167 - 167, 0xA7 -> 0 - 167,
    // 0xFF -> 0x58 - 167, 0x01 -> 0xA6 - 167, 0x80 -> 0x27 - 167, 0x58 -> 0xFF - 167.
    DriverSim::Controller &driver = fixedDriver(2, 3);
    driver.matrix67 = {0x00, 0xA7, 0xFF, 0x01, 0x80, 0x58};
    driver.matrix66 = {0x58, 0x80, 0x01, 0xFF, 0xA7, 0x00};
    MainDialog window;
    const QByteArray lines = readLog();
    QCOMPARE(lines, QByteArray("   2   3\n") + fields({"   0", "-167", " -79", "  -1", "-128", "  88"}) + '\n'
                        + fields({"  88", "-128", "  -1", " -79", "-167", "   0"}) + '\n');
    QCOMPARE(DriverLog::cellValue(0xA7), -167);
    QCOMPARE(DriverLog::cellValue(0xFF), -79);
}

void TestDriverLog::clearsOnlyTheCodeSixtySixCellsOfTheLayout()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    DriverSim::Controller &driver = fixedDriver(3, 2);
    driver.matrix66 = {9, 8, 7, 6, 5, 4};
    for (int i = 0; i < 64; ++i)
        param->matrix[i] = 0x5A;
    MainDialog window;
    for (int i = 0; i < 6; ++i)
        QCOMPARE(int(param->matrix[i]), 0);
    for (int i = 6; i < 64; ++i)
        QCOMPARE(int(param->matrix[i]), 0x5A);
    // Cells run column by column: cell (x, y) is byte x * layoutY + y.
    QVERIFY(readLog().endsWith(fields({"   7", "   8", "  -7", "  -6", "  -5", "  -4"}) + '\n'));
}

void TestDriverLog::secondDiscoveryReplacesTheFile()
{
    DriverSim::Controller &driver = fixedDriver(1, 1);
    {
        QFile stale(QString::fromLatin1(logName));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(4096, 'x'));
    }
    MainWindowFixture f(Product::lunari, false);
    fixedDriver(1, 1);
    driver.present = true;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, 1600);
    const QByteArray first = readLog();
    QCOMPARE(first, QByteArray("   1   1\n   0\n   0\n"));

    driver.present = false;
    QTRY_VERIFY_WITH_TIMEOUT(!f.param->driverFound, 1600);
    driver.matrix67 = {0xA7};
    driver.present = true;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, 1600);
    QCOMPARE(readLog(), QByteArray("   1   1\n-167\n   0\n"));
}

void TestDriverLog::failedStatusReadLogsTheHeldLayout()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    fixedDriver(2, 2);
    MainDialog window;
    QVERIFY(param->driverFound);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.present = false;
    window.detectDriverStatus();
    QVERIFY(!param->driverFound);
    QCOMPARE(param->layoutX, 0);

    // The scan rate answers, the status read fails: the log follows the cleared layout.
    driver.present = true;
    driver.reads = 0;
    driver.failEveryRead = 2;
    window.detectDriverStatus();
    QVERIFY(!param->driverFound);
    QCOMPARE(readLog(), QByteArray("   0   0\n\n\n"));
}

void TestDriverLog::failedMatrixQueryRepeatsTheBuffer()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    DriverSim::Controller &driver = fixedDriver(1, 2);
    MainDialog window;
    QVERIFY(param->driverFound);
    param->matrix[0] = 0xA7;
    param->matrix[1] = 0xFF;
    // Only the code-67 query fails: its line shows what the buffer held, but
    // for byte 0, which took the query code (67) before the read.
    driver.failReads = 1;
    window.record_driver_log();
    QCOMPARE(readLog(), QByteArray("   1   2\n  61 -79\n   0   0\n"));
}

void TestDriverLog::notFollowedThroughALink()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("precious"));
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me\n");
    }
    QVERIFY(QFile::link(target, QString::fromLatin1(logName)));
    DriverSim::Controller &driver = fixedDriver(2, 1);
    driver.matrix66 = {3, 4};
    DriverSim::clearTranscript();

    MainDialog window;
    QVERIFY(param->driverFound);
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me\n"));
    QVERIFY(QFileInfo(QString::fromLatin1(logName)).isSymLink());
    // Both matrices are still queried and the code-66 cells cleared.
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 67).size(), size_t(1));
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 66).size(), size_t(1));
    QCOMPARE(int(param->matrix[0]), 0);
    QCOMPARE(int(param->matrix[1]), 0);

    // A dangling link must not create its target either.
    QVERIFY(QFile::remove(target));
    window.record_driver_log();
    QVERIFY(!QFile::exists(target));
}

void TestDriverLog::nameTakenByADirectory()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    QVERIFY(QDir().mkdir(QString::fromLatin1(logName)));
    DriverSim::Controller &driver = fixedDriver(1, 1);
    driver.matrix66 = {7};
    DriverSim::clearTranscript();
    MainDialog window;
    QVERIFY(param->driverFound);
    QVERIFY(QFileInfo(QString::fromLatin1(logName)).isDir());
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 66).size(), size_t(1));
    QCOMPARE(int(param->matrix[0]), 0);
    QCOMPARE(DriverLog::openForRewrite(logName), -1);
}

void TestDriverLog::firstProgramWritesNoLog()
{
    TestSupport::useProduct(Product::pravex);
    MainDialog window;
    QVERIFY(!QFile::exists(QString::fromLatin1(logName)));
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 67).size(), size_t(0));
}

QTEST_MAIN(TestDriverLog)
#include "tst_driverlog.moc"
