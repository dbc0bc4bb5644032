// The parameter record and the driver channel, against the simulated controller.

#include "AllocationCounter.h"

#include "app/Product.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "driversim/DriverSim.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using DriverSim::Exchange;
using DriverSim::Family;

namespace {

const char *const pravexName = "pravex_controller";
const char *const lunariName = "lunari_controller";

Family familyOf(const QString &program)
{
    return program == QLatin1String(pravexName) ? Family::Pravex : Family::Lunari;
}

DriverSim::Controller &simulated(const QString &program)
{
    return DriverSim::controller(familyOf(program));
}

// One word per exchange: "open", "seek 0", "read 102/32", "write 4/2 failed", "close".
QStringList summary()
{
    QStringList words;
    for (const Exchange &exchange : DriverSim::transcript()) {
        QString word;
        switch (exchange.kind) {
        case Exchange::Open: word = QStringLiteral("open"); break;
        case Exchange::OpenFailed: word = QStringLiteral("openfailed"); break;
        case Exchange::Seek: word = QStringLiteral("seek %1").arg(exchange.length); break;
        case Exchange::Read: word = QStringLiteral("read %1/%2").arg(exchange.code).arg(exchange.length); break;
        case Exchange::Write: word = QStringLiteral("write %1/%2").arg(exchange.code).arg(exchange.length); break;
        case Exchange::Close: word = QStringLiteral("close"); break;
        }
        if ((exchange.kind == Exchange::Read || exchange.kind == Exchange::Write) && exchange.result < 0)
            word += QStringLiteral(" failed");
        words << word;
    }
    return words;
}

QByteArray lastRequest()
{
    const std::vector<Exchange> log = DriverSim::transcript();
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if (it->kind == Exchange::Write)
            return QByteArray(reinterpret_cast<const char *>(it->bytes.data()), int(it->bytes.size()));
    }
    return QByteArray();
}

int samplesBuffer[128];

// Takes a plain name so calling it allocates nothing.
int runOperation(const char *name, Param *param)
{
    auto is = [name](const char *candidate) { return std::strcmp(name, candidate) == 0; };
    if (is("SetOutPut"))
        return SetOutPut(param);
    if (is("SetThreshold"))
        return SetThreshold(param);
    if (is("CalibrateStart"))
        return CalibrateStart();
    if (is("CalibrateEnd"))
        return CalibrateEnd(param);
    if (is("GetFPS"))
        return GetFPS(param);
    if (is("GetCalibStatus"))
        return GetCalibStatus(param);
    if (is("GetBasicStatus"))
        return GetBasicStatus(param);
    if (is("SetIntensity"))
        return SetIntensity(param);
    if (is("GetGraph"))
        return GetGraph(samplesBuffer);
    if (is("SetCalibrateMode"))
        return SetCalibrateMode(1);
    if (is("GetMatrix66"))
        return GetMatrix(param, 66);
    if (is("GetMatrix67"))
        return GetMatrix(param, 67);
    if (is("GetTouchPoint"))
        return GetTouchPoint(param);
    qFatal("unknown operation %s", name);
    return 0;
}

int runOperation(const QString &name, Param *param)
{
    return runOperation(name.toLatin1().constData(), param);
}

QStringList operationsOf(const QString &program)
{
    if (program == QLatin1String(pravexName))
        return {"SetOutPut", "SetThreshold", "CalibrateStart", "CalibrateEnd", "GetFPS", "GetCalibStatus",
                "GetBasicStatus", "SetIntensity", "GetGraph"};
    return {"SetOutPut", "SetThreshold", "CalibrateStart", "CalibrateEnd", "GetFPS", "GetCalibStatus",
            "GetBasicStatus", "SetCalibrateMode", "GetMatrix66", "GetMatrix67", "GetTouchPoint"};
}

int openDescriptorCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

void addProductRows()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("pravex") << pravexName;
    QTest::newRow("lunari") << lunariName;
}

} // namespace

class TestDriverLink : public QObject
{
    Q_OBJECT

private slots:
    void firstRecordTakesProductAndDesktop();
    void getInstReturnsTheOneRecord();
    void setScreenEx_data();
    void setScreenEx();

    void areaEdges_data();
    void areaEdges();
    void statusFlags_data();
    void statusFlags();
    void basicStatusFields_data();
    void basicStatusFields();
    void calibrateEndRequest_data();
    void calibrateEndRequest();
    void commandValues_data();
    void commandValues();
    void scanRatePending_data();
    void scanRatePending();
    void calibrationStatus_data();
    void calibrationStatus();
    void graphSamplesAreUnsigned();
    void matrixAndTouchBlock();

    void rewindThenOneTransfer_data();
    void rewindThenOneTransfer();
    void operationsTheCommandSetLacks_data();
    void operationsTheCommandSetLacks();
    void failedTransferClosesAndReopens_data();
    void failedTransferClosesAndReopens();
    void noDriver_data();
    void noDriver();
    void driverUnloadedWhileOpen_data();
    void driverUnloadedWhileOpen();
    void matrixCodeOutOfRange_data();
    void matrixCodeOutOfRange();
    void touchPointVersionGate_data();
    void touchPointVersionGate();
    void zeroSizedMatrix_data();
    void zeroSizedMatrix();
    void shortAnswersKeepUndeliveredBytes_data();
    void shortAnswersKeepUndeliveredBytes();
    void descriptorZeroIsNeitherClosedNorLeaked_data();
    void descriptorZeroIsNeitherClosedNorLeaked();
    void allocationCounterCounts();
    void operationsDoNotAllocate_data();
    void operationsDoNotAllocate();

    void cleanup();

private:
    Param *use(const QString &program);
};

Param *TestDriverLink::use(const QString &program)
{
    Param *param = TestSupport::useProduct(TestSupport::productByName(program.toLatin1().constData()), 1920, 1080);
    DriverSim::clearTranscript();
    return param;
}

void TestDriverLink::cleanup()
{
    TestSupport::useProduct(Product::pravex);
}

void TestDriverLink::firstRecordTakesProductAndDesktop()
{
    QVERIFY(!Param::inst);
    Product::select(Product::lunari);
    const QSize desktop(1366, 767);
    Param::useDesktop(desktop.width(), desktop.height());
    Param *param = Param::getInst();
    QCOMPARE(param->threshold, 30);
    QCOMPARE(QList<int>({param->screenWidth, param->screenHeight}), QList<int>({desktop.width(), desktop.height()}));
    QCOMPARE(QList<int>({param->areaLeft, param->areaRight, param->areaTop, param->areaBottom}),
             QList<int>({0, desktop.width(), 0, desktop.height()}));
    QVERIFY(param->outputEnabled);
    QVERIFY(!param->driverFound);
    QCOMPARE(param->calibMode, 0);
    // Making the record talks to no driver.
    QVERIFY(DriverSim::transcript().empty());
}

void TestDriverLink::getInstReturnsTheOneRecord()
{
    Param *first = Param::getInst();
    first->threshold = 77;
    first->screenWidth = 1234;
    Product::select(Product::pravex);
    Param *second = Param::getInst();
    QCOMPARE(second, first);
    QCOMPARE(second->threshold, 77);
    QCOMPARE(second->screenWidth, 1234);
}

void TestDriverLink::setScreenEx_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QList<int>>("expected");   // screenWidth, screenHeight, left, right, top, bottom

    const QList<int> unchanged{1920, 1080, 0, 1920, 0, 1080};
    QTest::newRow("0") << 0 << QList<int>{800, 600, 10, 110, 20, 220};
    QTest::newRow("1") << 1 << QList<int>{600, 800, 20, 220, 690, 790};
    QTest::newRow("2") << 2 << QList<int>{800, 600, 690, 790, 380, 580};
    QTest::newRow("3") << 3 << QList<int>{600, 800, 380, 580, 10, 110};
    QTest::newRow("4") << 4 << unchanged;
    QTest::newRow("-1") << -1 << unchanged;
}

void TestDriverLink::setScreenEx()
{
    QFETCH(int, rotation);
    QFETCH(QList<int>, expected);
    Param *param = use(QString::fromLatin1(lunariName));
    param->setScreenEx(rotation, 10, 20, 110, 220, 800, 600);
    QCOMPARE(QList<int>({param->screenWidth, param->screenHeight, param->areaLeft, param->areaRight,
                         param->areaTop, param->areaBottom}),
             expected);
}

void TestDriverLink::areaEdges_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QList<int>>("raw");        // left, right, top, bottom in the driver's scale
    QTest::addColumn<QList<int>>("pixels");     // on a 1920 x 1080 screen

    QTest::newRow("pravex half") << pravexName << QList<int>{0x200, 1023, 0x200, 1023} << QList<int>{960, 1920, 540, 1080};
    QTest::newRow("lunari half") << lunariName << QList<int>{0x800, 4095, 0x800, 4095} << QList<int>{960, 1920, 540, 1080};
    QTest::newRow("pravex zero") << pravexName << QList<int>{0, 1, 0, 1} << QList<int>{0, 1, 0, 1};
    QTest::newRow("lunari one step") << lunariName << QList<int>{1, 3, 4, 5} << QList<int>{0, 1, 1, 1};
    QTest::newRow("pravex past the scale") << pravexName << QList<int>{0, 0xffff, 0, 0xffff}
                                           << QList<int>{0, 122998, 0, 69186};
    QTest::newRow("lunari past the scale") << lunariName << QList<int>{0, 0xffff, 0, 0xffff}
                                           << QList<int>{0, 30727, 0, 17283};
}

void TestDriverLink::areaEdges()
{
    QFETCH(QString, program);
    QFETCH(QList<int>, raw);
    QFETCH(QList<int>, pixels);
    Param *param = use(program);
    DriverSim::Controller &c = simulated(program);
    c.areaLeft = raw[0];
    c.areaRight = raw[1];
    c.areaTop = raw[2];
    c.areaBottom = raw[3];
    QCOMPARE(GetBasicStatus(param), 1);
    QCOMPARE(QList<int>({param->areaLeft, param->areaRight, param->areaTop, param->areaBottom}), pixels);
}

void TestDriverLink::statusFlags_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("byte9");
    QTest::addColumn<int>("byte11");
    QTest::addColumn<bool>("outputEnabled");
    QTest::addColumn<int>("calibMode");

    for (const char *program : {pravexName, lunariName}) {
        const QByteArray prefix = QByteArray(program).left(6);
        QTest::addRow("%s 0x80 off", prefix.constData()) << program << 0x80 << 0x00 << false << 0;
        QTest::addRow("%s 0x01 on", prefix.constData()) << program << 0x01 << 0x01 << true << 1;
        QTest::addRow("%s 0x7f on", prefix.constData()) << program << 0x7f << 0x01 << true << 1;
        QTest::addRow("%s 0x00 off", prefix.constData()) << program << 0x00 << 0x00 << false << 0;
        QTest::addRow("%s 0xff off, mode -1", prefix.constData()) << program << 0xff << 0xff << false << -1;
        QTest::addRow("%s mode 0x80", prefix.constData()) << program << 0x01 << 0x80 << true << -128;
    }
}

void TestDriverLink::statusFlags()
{
    QFETCH(QString, program);
    QFETCH(int, byte9);
    QFETCH(int, byte11);
    QFETCH(bool, outputEnabled);
    QFETCH(int, calibMode);
    Param *param = use(program);
    param->outputEnabled = !outputEnabled;
    simulated(program).output = byte9;
    simulated(program).calibMode = byte11;
    QCOMPARE(GetBasicStatus(param), 1);
    QCOMPARE(param->outputEnabled, outputEnabled);
    QCOMPARE(param->calibMode, calibMode);
}

void TestDriverLink::basicStatusFields_data()
{
    addProductRows();
}

void TestDriverLink::basicStatusFields()
{
    QFETCH(QString, program);
    Param *param = use(program);
    DriverSim::Controller &c = simulated(program);
    c.touchPoints = 200;
    c.firmwareVersion = 7;
    c.driverVersionMajor = 2;
    c.driverVersionMinor = 10;
    c.channelCount = 128;
    c.layoutX = 255;
    c.layoutY = 3;
    c.intensity = 250;
    c.threshold = 0xC8;
    param->channelCount = -5;
    param->intensity = -6;
    QCOMPARE(GetBasicStatus(param), 1);
    const bool pravex = program == QLatin1String(pravexName);
    QCOMPARE(QList<int>({param->touchPoints, param->firmwareVersion, param->driverVersionMajor,
                         param->driverVersionMinor, param->layoutX, param->layoutY, param->threshold}),
             QList<int>({200, 7, 2, 10, 255, 3, 200}));
    // Bytes 5 and 8 mean something to the first command set only.
    QCOMPARE(param->channelCount, pravex ? 128 : -5);
    QCOMPARE(param->intensity, pravex ? 250 : -6);
}

void TestDriverLink::calibrateEndRequest_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("code");

    QTest::newRow("pravex") << pravexName << 32 << 6;
    QTest::newRow("lunari") << lunariName << 16 << 3;
}

void TestDriverLink::calibrateEndRequest()
{
    QFETCH(QString, program);
    QFETCH(int, length);
    QFETCH(int, code);
    Param *param = use(program);
    param->calibMode = 1;
    param->areaLeft = 100;
    param->areaRight = 1800;
    param->areaTop = 50;
    param->areaBottom = 0x1ff03;   // only the low 16 bits travel
    QCOMPARE(CalibrateEnd(param), 1);

    const QByteArray request = lastRequest();
    QCOMPARE(request.size(), length);
    QCOMPARE(int(static_cast<unsigned char>(request[0])), code);
    // Byte 1 is not part of the record; 2 is the mode, then big-endian pairs in pixels.
    QCOMPARE(request.mid(2, 13).toHex(), QByteArray("01" "0780" "0438" "0064" "0708" "0032" "ff03"));
    const DriverSim::CalibrateEndRequest &end = simulated(program).lastCalibrateEnd;
    QVERIFY(end.received);
    QCOMPARE(QList<int>({end.mode, end.screenWidth, end.screenHeight, end.left, end.right, end.top, end.bottom}),
             QList<int>({1, 1920, 1080, 100, 1800, 50, 0xff03}));
}

void TestDriverLink::commandValues_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("pravex output off") << pravexName << "SetOutPut" << 0 << QByteArray::fromHex("0400");
    QTest::newRow("pravex output on") << pravexName << "SetOutPut" << 1 << QByteArray::fromHex("0401");
    QTest::newRow("pravex threshold") << pravexName << "SetThreshold" << 0x17f << QByteArray::fromHex("077f");
    QTest::newRow("pravex intensity") << pravexName << "SetIntensity" << 9 << QByteArray::fromHex("0109");
    QTest::newRow("pravex calibration start") << pravexName << "CalibrateStart" << 0 << QByteArray::fromHex("05");
    QTest::newRow("lunari output off") << lunariName << "SetOutPut" << 0 << QByteArray::fromHex("0100");
    QTest::newRow("lunari threshold") << lunariName << "SetThreshold" << 50 << QByteArray::fromHex("0432");
    QTest::newRow("lunari calibration start") << lunariName << "CalibrateStart" << 0 << QByteArray::fromHex("02");
    QTest::newRow("lunari calibration mode") << lunariName << "SetCalibrateMode" << 1 << QByteArray::fromHex("0501");
}

void TestDriverLink::commandValues()
{
    QFETCH(QString, program);
    QFETCH(QString, operation);
    QFETCH(int, value);
    QFETCH(QByteArray, request);
    Param *param = use(program);
    param->outputEnabled = value != 0;
    param->threshold = value;
    param->intensity = value;
    QCOMPARE(runOperation(operation, param), 1);
    // Compared up to the request's own bytes: bytes the record does not set are not checked.
    QCOMPARE(lastRequest().left(request.size()).toHex(), request.toHex());
}

void TestDriverLink::scanRatePending_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("pendingBefore");
    QTest::addColumn<int>("fps");
    QTest::addColumn<bool>("pending");

    QTest::newRow("lunari ready") << lunariName << QByteArray::fromHex("012c0000") << true << 300 << false;
    QTest::newRow("lunari pending") << lunariName << QByteArray::fromHex("00000001") << false << 0 << true;
    QTest::newRow("lunari byte 3 of 2") << lunariName << QByteArray::fromHex("003c0002") << true << 60 << false;
    QTest::newRow("lunari byte 3 of 0xff") << lunariName << QByteArray::fromHex("ffff00ff") << true << 65535 << false;
    QTest::newRow("lunari byte 2 is not it") << lunariName << QByteArray::fromHex("003c0100") << true << 60 << false;
    QTest::newRow("pravex has no pending byte") << pravexName << QByteArray::fromHex("003c000100") << false << 60 << false;
}

void TestDriverLink::scanRatePending()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, answer);
    QFETCH(bool, pendingBefore);
    QFETCH(int, fps);
    QFETCH(bool, pending);
    Param *param = use(program);
    param->fpsPending = pendingBefore;
    simulated(program).overrides[program == QLatin1String(pravexName) ? 99 : 65]
        = std::vector<unsigned char>(answer.begin(), answer.end());
    QCOMPARE(GetFPS(param), 1);
    QCOMPARE(param->fps, fps);
    QCOMPARE(param->fpsPending, pending);
}

void TestDriverLink::calibrationStatus_data()
{
    addProductRows();
}

void TestDriverLink::calibrationStatus()
{
    QFETCH(QString, program);
    Param *param = use(program);
    DriverSim::Controller &c = simulated(program);
    c.calibStep = 75;
    QCOMPARE(CalibrateStart(), 1);
    QList<int> seen;
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(GetCalibStatus(param), 1);
        seen << param->calibStatus << param->calibValue;
    }
    QCOMPARE(seen, QList<int>({1, 0, 1, 75, 1, 150, 2, 0}));

    // Status is signed, progress an unsigned big-endian pair.
    c.overrides[program == QLatin1String(pravexName) ? 101 : 68] = {0xff, 0xfe, 0x01, 0x09};
    QCOMPARE(GetCalibStatus(param), 1);
    QCOMPARE(param->calibStatus, -1);
    QCOMPARE(param->calibValue, 0xfe01);
}

void TestDriverLink::graphSamplesAreUnsigned()
{
    use(QString::fromLatin1(pravexName));
    DriverSim::Controller &c = DriverSim::controller(Family::Pravex);
    c.animate = false;
    for (int i = 0; i < 128; ++i)
        c.samples[size_t(i)] = static_cast<unsigned char>(255 - 2 * i);
    int samples[128];
    std::fill(std::begin(samples), std::end(samples), -1);
    QCOMPARE(GetGraph(samples), 1);
    for (int i = 0; i < 128; ++i)
        QCOMPARE(samples[i], 255 - 2 * i);
    QCOMPARE(summary(), QStringList({"open", "read 100/128"}));
}

void TestDriverLink::matrixAndTouchBlock()
{
    Param *param = use(QString::fromLatin1(lunariName));
    QVERIFY(DriverSim::loadScenario("lunari.animate = 0\nlunari.layoutX = 2\nlunari.layoutY = 3\n"
                                    "lunari.matrix66 = 1 2 3 4 5 250\nlunari.matrix67 = 7\n"
                                    "lunari.touch = 4095 4095 1 2"));
    QCOMPARE(GetBasicStatus(param), 1);
    std::memset(param->matrix, 0xee, 16);
    QCOMPARE(GetMatrix(param, 67), 1);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(param->matrix), 7).toHex(), QByteArray("070707070707ee"));
    QCOMPARE(GetMatrix(param, 66), 1);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(param->matrix), 7).toHex(), QByteArray("0102030405faee"));
    QCOMPARE(GetTouchPoint(param), 1);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(param->touchData), 10).toHex(), QByteArray("0200ff0fff0f01000200"));
    QCOMPARE(summary(), QStringList({"open", "read 69/32", "seek 0", "read 67/6", "seek 0", "read 66/6",
                                     "seek 0", "read 70/128"}));
}

void TestDriverLink::rewindThenOneTransfer_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("transfer");

    const QStringList pravex{"write 4/2", "write 7/2", "write 5/2", "write 6/32", "read 99/5", "read 101/5",
                             "read 102/32", "write 1/2", "read 100/128"};
    const QStringList lunari{"write 1/2", "write 4/2", "write 2/1", "write 3/16", "read 65/4", "read 68/4",
                             "read 69/32", "write 5/2", "read 66/1200", "read 67/1200", "read 70/128"};
    const QStringList pravexOperations = operationsOf(QString::fromLatin1(pravexName));
    for (int i = 0; i < pravexOperations.size(); ++i)
        QTest::addRow("pravex %s", qPrintable(pravexOperations[i])) << pravexName << pravexOperations[i] << pravex[i];
    const QStringList lunariOperations = operationsOf(QString::fromLatin1(lunariName));
    for (int i = 0; i < lunariOperations.size(); ++i)
        QTest::addRow("lunari %s", qPrintable(lunariOperations[i])) << lunariName << lunariOperations[i] << lunari[i];
}

void TestDriverLink::rewindThenOneTransfer()
{
    QFETCH(QString, program);
    QFETCH(QString, operation);
    QFETCH(QString, transfer);
    Param *param = use(program);
    param->layoutX = 40;
    param->layoutY = 30;
    param->driverVersionMinor = 1;

    // A fresh descriptor is already at the start: no rewind.
    QCOMPARE(runOperation(operation, param), 1);
    QCOMPARE(summary(), QStringList({"open", transfer}));
    for (int round = 0; round < 3; ++round) {
        DriverSim::clearTranscript();
        QCOMPARE(runOperation(operation, param), 1);
        QCOMPARE(summary(), QStringList({"seek 0", transfer}));
    }
    QCOMPARE(DriverSim::openDescriptors(familyOf(program)), 1);
}

void TestDriverLink::operationsTheCommandSetLacks_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("operation");

    QTest::newRow("pravex SetCalibrateMode") << pravexName << "SetCalibrateMode";
    QTest::newRow("pravex GetTouchPoint") << pravexName << "GetTouchPoint";
    QTest::newRow("pravex GetMatrix66") << pravexName << "GetMatrix66";
    QTest::newRow("pravex GetMatrix67") << pravexName << "GetMatrix67";
    QTest::newRow("lunari SetIntensity") << lunariName << "SetIntensity";
    QTest::newRow("lunari GetGraph") << lunariName << "GetGraph";
}

void TestDriverLink::operationsTheCommandSetLacks()
{
    QFETCH(QString, program);
    QFETCH(QString, operation);
    Param *param = use(program);
    param->driverVersionMinor = 1;
    QCOMPARE(runOperation(operation, param), -2);
    QVERIFY(DriverSim::transcript().empty());
    QCOMPARE(fd, 0);
}

void TestDriverLink::failedTransferClosesAndReopens_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("transfer");
    QTest::addColumn<bool>("isWrite");

    QTest::newRow("pravex write") << pravexName << "SetThreshold" << "write 7/2" << true;
    QTest::newRow("pravex read") << pravexName << "GetFPS" << "read 99/5" << false;
    QTest::newRow("lunari write") << lunariName << "CalibrateEnd" << "write 3/16" << true;
    QTest::newRow("lunari read") << lunariName << "GetBasicStatus" << "read 69/32" << false;
}

void TestDriverLink::failedTransferClosesAndReopens()
{
    QFETCH(QString, program);
    QFETCH(QString, operation);
    QFETCH(QString, transfer);
    QFETCH(bool, isWrite);
    Param *param = use(program);
    QCOMPARE(runOperation(operation, param), 1);
    DriverSim::Controller &c = simulated(program);
    (isWrite ? c.failWrites : c.failReads) = 1;
    param->fps = -7;
    param->touchPoints = -7;
    DriverSim::clearTranscript();

    QCOMPARE(runOperation(operation, param), -1);
    QCOMPARE(fd, 0);
    QCOMPARE(summary(), QStringList({"seek 0", transfer + " failed", "close"}));
    QCOMPARE(DriverSim::openDescriptors(familyOf(program)), 0);
    // A failed query leaves the decoded fields as they were.
    QCOMPARE(param->fps, -7);
    QCOMPARE(param->touchPoints, -7);

    DriverSim::clearTranscript();
    QCOMPARE(runOperation(operation, param), 1);
    QCOMPARE(summary(), QStringList({"open", transfer}));
    QVERIFY(fd > 0);
}

void TestDriverLink::noDriver_data()
{
    addProductRows();
}

void TestDriverLink::noDriver()
{
    QFETCH(QString, program);
    Param *param = use(program);
    simulated(program).present = false;
    param->fps = 5;
    // Nothing is written into the scratch buffer when nothing can be sent:
    // bytes that the next request does not set must stay as they were.
    std::fill(std::begin(szTemp), std::end(szTemp), 0xEE);
    for (const QString &operation : operationsOf(program)) {
        QCOMPARE(runOperation(operation, param), operation == QLatin1String("GetTouchPoint") ? 1 : -1);
        QCOMPARE(fd, 0);
        QVERIFY2(std::all_of(std::begin(szTemp), std::end(szTemp), [](unsigned char b) { return b == 0xEE; }),
                 qPrintable(operation));
    }
    QCOMPARE(param->fps, 5);

    // Every call tries the file again, and a driver that appears is found.
    DriverSim::clearTranscript();
    QCOMPARE(GetFPS(param), -1);
    QCOMPARE(GetFPS(param), -1);
    QCOMPARE(summary(), QStringList({"openfailed", "openfailed"}));
    simulated(program).present = true;
    QCOMPARE(GetFPS(param), 1);
    QCOMPARE(param->fps, program == QLatin1String(pravexName) ? 60 : 100);
    QVERIFY(fd > 0);
}

void TestDriverLink::driverUnloadedWhileOpen_data()
{
    addProductRows();
}

void TestDriverLink::driverUnloadedWhileOpen()
{
    QFETCH(QString, program);
    Param *param = use(program);
    QCOMPARE(GetFPS(param), 1);
    simulated(program).present = false;
    DriverSim::clearTranscript();
    QCOMPARE(GetFPS(param), -1);
    QCOMPARE(fd, 0);
    const std::vector<Exchange> log = DriverSim::transcript();
    QCOMPARE(log.size(), size_t(3));
    QCOMPARE(log[1].error, ENODEV);
    QCOMPARE(log[2].kind, Exchange::Close);
    QCOMPARE(DriverSim::openDescriptors(familyOf(program)), 0);
}

void TestDriverLink::matrixCodeOutOfRange_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("65") << 65;
    QTest::newRow("68") << 68;
    QTest::newRow("0") << 0;
    QTest::newRow("255") << 255;
}

void TestDriverLink::matrixCodeOutOfRange()
{
    QFETCH(int, code);
    Param *param = use(QString::fromLatin1(lunariName));
    param->layoutX = 4;
    param->layoutY = 4;
    param->matrix[0] = 0x11;
    QCOMPARE(GetMatrix(param, static_cast<unsigned char>(code)), -2);
    QVERIFY(DriverSim::transcript().empty());
    QCOMPARE(fd, 0);
    QCOMPARE(int(param->matrix[0]), 0x11);
}

void TestDriverLink::touchPointVersionGate_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("reads");

    QTest::newRow("1.0") << 1 << 0 << false;
    QTest::newRow("0.0") << 0 << 0 << false;
    QTest::newRow("1.1") << 1 << 1 << true;
    QTest::newRow("0.1") << 0 << 1 << true;
    QTest::newRow("2.0") << 2 << 0 << true;
}

void TestDriverLink::touchPointVersionGate()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, reads);
    Param *param = use(QString::fromLatin1(lunariName));
    param->driverVersionMajor = major;
    param->driverVersionMinor = minor;
    std::memset(param->touchData, 0xab, Param::TouchDataSize);
    QCOMPARE(GetTouchPoint(param), 1);
    if (reads) {
        QCOMPARE(summary(), QStringList({"open", "read 70/128"}));
        QCOMPARE(int(param->touchData[0]), 1);
        QCOMPARE(int(param->touchData[128]), 0xab);
    } else {
        QVERIFY(DriverSim::transcript().empty());
        QCOMPARE(fd, 0);
        QCOMPARE(int(param->touchData[0]), 0xab);
    }
}

void TestDriverLink::zeroSizedMatrix_data()
{
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::newRow("no columns") << 0 << 30;
    QTest::newRow("no rows") << 40 << 0;
    QTest::newRow("neither") << 0 << 0;
}

void TestDriverLink::zeroSizedMatrix()
{
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    Param *param = use(QString::fromLatin1(lunariName));
    param->layoutX = layoutX;
    param->layoutY = layoutY;
    std::memset(param->matrix + 1, 0x5a, 16);
    QCOMPARE(GetMatrix(param, 66), 1);
    QCOMPARE(summary(), QStringList({"open", "read 0/0"}));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(param->matrix + 1), 16), QByteArray(16, 0x5a));
}

void TestDriverLink::shortAnswersKeepUndeliveredBytes_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("what");
    QTest::newRow("pravex status") << pravexName << "status";
    QTest::newRow("lunari status") << lunariName << "status";
    QTest::newRow("pravex graph") << pravexName << "graph";
    QTest::newRow("lunari matrix") << lunariName << "matrix";
    QTest::newRow("lunari touch") << lunariName << "touch";
}

void TestDriverLink::shortAnswersKeepUndeliveredBytes()
{
    QFETCH(QString, program);
    QFETCH(QString, what);
    Param *param = use(program);
    DriverSim::Controller &c = simulated(program);
    c.animate = false;

    if (what == QLatin1String("status")) {
        QCOMPARE(GetBasicStatus(param), 1);
        c.touchPoints = 11;
        c.firmwareVersion = 9;
        c.threshold = 99;
        c.shortAnswer = 3;
        QCOMPARE(GetBasicStatus(param), 1);
        QCOMPARE(param->touchPoints, 11);
        QCOMPARE(param->firmwareVersion, 9);
        // Byte 10 was not delivered; it still holds the previous answer's threshold.
        QCOMPARE(param->threshold, program == QLatin1String(pravexName) ? 18 : 30);
    } else if (what == QLatin1String("graph")) {
        c.samples.fill(40);
        int samples[128];
        QCOMPARE(GetGraph(samples), 1);
        c.samples.fill(90);
        c.shortAnswer = 2;
        QCOMPARE(GetGraph(samples), 1);
        QCOMPARE(QList<int>({samples[0], samples[1], samples[2], samples[127]}), QList<int>({90, 90, 40, 40}));
    } else if (what == QLatin1String("matrix")) {
        param->layoutX = 40;
        param->layoutY = 30;
        std::memset(param->matrix, 0x5a, 1200);
        c.matrix66.assign(1200, 3);
        c.shortAnswer = 4;
        QCOMPARE(GetMatrix(param, 66), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(param->matrix), 6).toHex(), QByteArray("030303035a5a"));
        QCOMPARE(int(param->matrix[1199]), 0x5a);
    } else {
        param->driverVersionMinor = 1;
        QVERIFY(DriverSim::loadScenario("lunari.touch = 100 200 300 400"));
        QCOMPARE(GetTouchPoint(param), 1);
        QVERIFY(DriverSim::loadScenario("lunari.touch = 1 1\nlunari.shortAnswer = 1"));
        QCOMPARE(GetTouchPoint(param), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(param->touchData), 10).toHex(), QByteArray("01006400c8002c019001"));
    }
}

void TestDriverLink::descriptorZeroIsNeitherClosedNorLeaked_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("exclusive");   // the driver lets one descriptor open at a time
    for (const char *name : {pravexName, lunariName}) {
        QTest::addRow("%s", name) << QString::fromLatin1(name) << false;
        QTest::addRow("%s, one opener at a time", name) << QString::fromLatin1(name) << true;
    }
}

void TestDriverLink::descriptorZeroIsNeitherClosedNorLeaked()
{
    QFETCH(QString, program);
    QFETCH(bool, exclusive);
    Param *param = use(program);
    simulated(program).exclusive = exclusive;
    const int savedInput = ::fcntl(0, F_DUPFD_CLOEXEC, 10);
    QVERIFY(savedInput >= 0);
    QCOMPARE(::close(0), 0);
    const int before = openDescriptorCount();

    // The first open returns descriptor 0; the channel must still count as open.
    QCOMPARE(GetFPS(param), 1);
    QVERIFY(fd > 0);
    DriverSim::clearTranscript();
    QCOMPARE(GetFPS(param), 1);
    QCOMPARE(summary(), QStringList({"seek 0", program == QLatin1String(pravexName) ? "read 99/5" : "read 65/4"}));

    // Many calls, some failing so the channel reopens while 0 is free again.
    simulated(program).failEveryRead = 7;
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        const int result = GetFPS(param);
        failures += result < 0 ? 1 : 0;
        QVERIFY(result < 0 ? fd == 0 : fd > 0);
    }
    QVERIFY(failures >= 40);
    if (GetFPS(param) < 0)
        QCOMPARE(GetFPS(param), 1);
    QCOMPARE(DriverSim::openDescriptors(familyOf(program)), 1);
    QCOMPARE(openDescriptorCount(), before + 1);

    QCOMPARE(::dup2(savedInput, 0), 0);
    ::close(savedInput);
}

void TestDriverLink::allocationCounterCounts()
{
    // Volatile pointers keep the compiler from eliding the allocations.
    AllocationCounter counter;
    int *volatile object = new int(5);
    delete object;
    QVERIFY(counter.count() >= 1);
#if !defined(__SANITIZE_ADDRESS__)
    const long afterNew = counter.count();
    void *volatile block = std::malloc(24);
    std::free(block);
    QCOMPARE(counter.count(), afterNew + 1);
#endif
}

void TestDriverLink::operationsDoNotAllocate_data()
{
    addProductRows();
}

void TestDriverLink::operationsDoNotAllocate()
{
    QFETCH(QString, program);
    Param *param = use(program);
    param->layoutX = 40;
    param->layoutY = 30;
    param->driverVersionMinor = 1;
    const QStringList operations = operationsOf(program);
    QVector<QByteArray> names;
    for (const QString &operation : operations)
        names << operation.toLatin1();
    DriverSim::Controller &c = simulated(program);
    c.failEveryRead = 5;
    QCOMPARE(GetFPS(param), 1);

    long allocations = 0;
    int results = 0;
    {
        AllocationCounter counter;
        for (int round = 0; round < 10; ++round) {
            if (round == 7)
                c.present = false;   // opening fails from here on
            for (const QByteArray &name : names)
                results += runOperation(name.constData(), param);
        }
        allocations = counter.count();
    }
    QCOMPARE(allocations, 0L);
    QVERIFY(results != 0);
}

QTEST_MAIN(TestDriverLink)
#include "tst_driverlink.moc"
