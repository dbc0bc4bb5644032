// A driver that vanishes, fails every Nth transfer or answers short: the
// windows keep running, show the driver's state, keep the user's choices and
// hold no more than the one driver descriptor.
#include "tests/support/PaintCounter.h"
#include "ProcessResources.h"
#include "calibration/CalibrateArea.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "signalviews/Graph.h"
#include "signalviews/WaveGraph.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

using DriverSim::Exchange;

namespace {

using TestSupport::addProductRows;
using TestSupport::productNamed;
using TestSupport::settle;
using TestSupport::calibrationWindow;
using TestSupport::labelText;

const char *const logName = "VeDorurerezo.log";

QCheckBox *outputBox(QWidget &window)
{
    return window.findChild<QCheckBox *>(QStringLiteral("checkBoxEnableUSB"));
}

// Distinct, recognisable byte patterns.
unsigned char patternByte(int seed, int i)
{
    return static_cast<unsigned char>((seed * 37 + i * 11 + 5) & 0xff);
}

int loggedCell(unsigned char cell)
{
    return (cell ^ 0xA7) - 0xA7;
}

QByteArray loggedLine(const std::vector<unsigned char> &cells)
{
    QByteArray line;
    for (unsigned char cell : cells)
        line += QByteArray::number(loggedCell(cell)).rightJustified(4, ' ');
    return line + '\n';
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// One driver operation of a long run: whether it reads or writes, and the call.
struct Operation
{
    const char *name;
    bool reads;
    std::function<int()> run;
};

std::vector<Operation> everyOperation(Param *param, bool lunari)
{
    static int samples[128];
    std::vector<Operation> operations = {
        {"GetFPS", true, [param] { return GetFPS(param); }},
        {"GetBasicStatus", true, [param] { return GetBasicStatus(param); }},
        {"SetOutPut", false, [param] { return SetOutPut(param); }},
        {"GetCalibStatus", true, [param] { return GetCalibStatus(param); }},
        {"SetThreshold", false, [param] { return SetThreshold(param); }},
        {"CalibrateStart", false, [] { return CalibrateStart(); }},
        {"CalibrateEnd", false, [param] { return CalibrateEnd(param); }},
    };
    if (lunari) {
        operations.push_back({"GetMatrix(66)", true, [param] { return GetMatrix(param, 66); }});
        operations.push_back({"SetCalibrateMode", false, [] { return SetCalibrateMode(1); }});
        operations.push_back({"GetMatrix(67)", true, [param] { return GetMatrix(param, 67); }});
        operations.push_back({"GetTouchPoint", true, [param] { return GetTouchPoint(param); }});
    } else {
        operations.push_back({"GetGraph", true, [] { return GetGraph(samples); }});
        operations.push_back({"SetIntensity", false, [param] { return SetIntensity(param); }});
    }
    return operations;
}

// The fields a query decodes, read independently of the program's decoders.
QList<long long> expectedFields(const Product &product, unsigned char code, const unsigned char *answer,
                                const Param &before)
{
    const CommandSet &set = product.commands;
    const bool pravex = &product == &Product::pravex;
    auto pair = [answer](int i) { return (answer[i] << 8) | answer[i + 1]; };
    if (code == set.getFps)
        return {pair(0), pravex ? before.fpsPending : answer[3] == 1};
    if (code == set.getCalibStatus)
        return {static_cast<signed char>(answer[0]), pair(1)};
    // Basic status.
    const int divisor = pravex ? 1023 : 4095;
    return {answer[1], answer[2], answer[3], answer[4], pravex ? answer[5] : before.channelCount,
            answer[6], answer[7], pravex ? answer[8] : before.intensity,
            static_cast<signed char>(answer[9]) > 0, answer[10], static_cast<signed char>(answer[11]),
            before.screenWidth * pair(12) / divisor, before.screenWidth * pair(14) / divisor,
            before.screenHeight * pair(16) / divisor, before.screenHeight * pair(18) / divisor};
}

QList<long long> decodedFields(const Product &product, unsigned char code, const Param &param)
{
    const CommandSet &set = product.commands;
    if (code == set.getFps)
        return {param.fps, param.fpsPending};
    if (code == set.getCalibStatus)
        return {param.calibStatus, param.calibValue};
    return {param.touchPoints, param.firmwareVersion, param.driverVersionMajor, param.driverVersionMinor,
            param.channelCount, param.layoutX, param.layoutY, param.intensity, param.outputEnabled,
            param.threshold, param.calibMode, param.areaLeft, param.areaRight, param.areaTop,
            param.areaBottom};
}

} // namespace

class TestDriverFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void vanishesDuringCalibration_data();
    void vanishesDuringCalibration();
    void vanishesDuringGraphWindow_data();
    void vanishesDuringGraphWindow();
    void goneBetweenTheMatrixQueries();
    void periodicFaultsOverALongRun_data();
    void periodicFaultsOverALongRun();
    void windowsUnderPeriodicFaults_data();
    void windowsUnderPeriodicFaults();
    void shortStatusAnswers_data();
    void shortStatusAnswers();
    void shortBufferAnswers_data();
    void shortBufferAnswers();

private:
    std::unique_ptr<TestSupport::WorkingFolder> workDir;
};

void TestDriverFaults::init()
{
    // The second program rewrites its log in the working directory.
    workDir = std::make_unique<TestSupport::WorkingFolder>();
}

void TestDriverFaults::cleanup()
{
    DriverSim::setKeepTranscript(true);
    workDir.reset();
}

void TestDriverFaults::vanishesDuringCalibration_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("restarted");
    QTest::addColumn<bool>("outputChoice");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        const QString name = QString::fromLatin1(product->programName);
        // A driver that comes back still calibrating finishes the calibration;
        // a reloaded one knows nothing of it, and the user quits.
        QTest::newRow(qPrintable(name + " resumes, output on")) << name << false << true;
        QTest::newRow(qPrintable(name + " resumes, output off")) << name << false << false;
        QTest::newRow(qPrintable(name + " reloaded, output on")) << name << true << true;
        QTest::newRow(qPrintable(name + " reloaded, output off")) << name << true << false;
    }
}

void TestDriverFaults::vanishesDuringCalibration()
{
    QFETCH(QString, program);
    QFETCH(bool, restarted);
    QFETCH(bool, outputChoice);
    const Product &product = productNamed(program);
    Param *param = TestSupport::useProduct(product);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.calibStep = 50;

    MainDialog window;
    window.show();
    settle();
    QVERIFY(param->driverFound);
    const int baseline = ProcessResources::openDescriptors() - 1;
    if (!outputChoice)
        outputBox(window)->click();
    QCOMPARE(param->outputEnabled, outputChoice);
    QCOMPARE(driver.output, outputChoice ? 1 : 0);

    CalibrateArea *calibration = calibrationWindow();
    QVERIFY(calibration);
    window.findChild<QPushButton *>(QStringLiteral("pushButtonCalib"))->click();
    settle();
    QVERIFY(calibration->isVisible());
    QVERIFY(!window.isVisible());
    QCOMPARE(driver.output, 0);
    calibration->rePaint();
    calibration->rePaint();
    settle();
    QCOMPARE(param->calibStatus, 1);
    const int value = param->calibValue;
    QVERIFY(value > 0);

    driver.present = false;
    for (int tick = 0; tick < 6; ++tick) {
        calibration->rePaint();
        if (tick % 3 == 0)
            window.detectDriverStatus();
        settle();
    }
    // The screen keeps the last target; the main window has noticed the loss.
    QVERIFY(calibration->isVisible());
    QVERIFY(!window.isVisible());
    QCOMPARE(param->calibStatus, 1);
    QCOMPARE(param->calibValue, value);
    QVERIFY(!param->driverFound);
    QCOMPARE(labelText(window, "labelFPS"), QStringLiteral("N/A"));
    QCOMPARE(fd, 0);

    if (restarted)
        driver = DriverSim::defaults(TestSupport::familyOf(product));
    driver.present = true;
    window.detectDriverStatus();
    QVERIFY(param->driverFound);

    if (restarted) {
        calibration->rePaint();
        settle();
        QCOMPARE(param->calibStatus, 0);
        QVERIFY(calibration->isVisible());
        calibration->findChild<QPushButton *>()->click();
    } else {
        for (int tick = 0; tick < 40 && calibration->isVisible(); ++tick) {
            calibration->rePaint();
            settle();
        }
        QVERIFY(driver.lastCalibrateEnd.received);
        QCOMPARE(driver.lastCalibrateEnd.right, param->screenWidth);
    }
    settle();
    QVERIFY(!calibration->isVisible());
    QVERIFY(window.isVisible());
    QVERIFY(!driver.calibrating);

    // The choice made before the calibration holds in the record, the driver and the window.
    QCOMPARE(param->outputEnabled, outputChoice);
    QCOMPARE(driver.output, outputChoice ? 1 : 0);
    QCOMPARE(outputBox(window)->isChecked(), outputChoice);
    QVERIFY(ProcessResources::openDescriptors() <= baseline + 1);
    QVERIFY(DriverSim::openDescriptors(TestSupport::familyOf(product)) <= 1);
}

void TestDriverFaults::vanishesDuringGraphWindow_data()
{
    addProductRows();
}

void TestDriverFaults::vanishesDuringGraphWindow()
{
    QFETCH(QString, program);
    const Product &product = productNamed(program);
    const bool lunari = &product == &Product::lunari;
    Param *param = TestSupport::useProduct(product);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    driver.layoutX = 20;
    driver.layoutY = 12;
    driver.channelCount = 32;
    for (int i = 0; i < 128; ++i)
        driver.samples[i] = patternByte(1, i);
    driver.matrix66.resize(240);
    for (int i = 0; i < 240; ++i)
        driver.matrix66[i] = patternByte(1, i);

    MainDialog window;
    QVERIFY(param->driverFound);
    Graph graph;
    TestSupport::stopPolling(graph);
    graph.show();
    settle();
    const int baseline = ProcessResources::openDescriptors() - 1;
    QWidget *picture = lunari ? static_cast<QWidget *>(&graph) : graph.findChild<WaveGraph *>(QStringLiteral("waveGraphX"));
    PaintCounter counter;
    picture->installEventFilter(&counter);
    auto tick = [&] {
        if (lunari)
            graph.rePaint();
        else
            graph.repaint();
        settle();
    };
    QSlider *slider = graph.findChild<QSlider *>(QStringLiteral("thresholdSlider"));
    QPushButton *plus = graph.findChild<QPushButton *>(QStringLiteral("plusButton"));
    QLabel *thresholdLabel = graph.findChild<QLabel *>(QStringLiteral("thresholdLabel"));

    tick();
    if (lunari)
        QCOMPARE(int(param->matrix[239]), int(patternByte(1, 239)));
    else
        QCOMPARE(param->waveY[11], int(patternByte(1, 31)));
    const int start = param->threshold;
    plus->click();
    QCOMPARE(driver.threshold, start + 1);
    waitForQuietPaints(graph);

    driver.present = false;
    const int paints = counter.paints;
    const std::vector<unsigned char> matrixBefore(param->matrix + 1, param->matrix + 240);
    for (int i = 0; i < 6; ++i) {
        tick();
        if (i % 3 == 0)
            window.detectDriverStatus();
    }
    QVERIFY(!param->driverFound);
    QCOMPARE(counter.paints, paints);
    QCOMPARE(fd, 0);
    if (lunari)
        QVERIFY(std::equal(matrixBefore.begin(), matrixBefore.end(), param->matrix + 1));
    else
        QCOMPARE(param->waveY[11], int(patternByte(1, 31)));

    // A step while the driver is away: kept on screen and in the record.
    plus->click();
    QCOMPARE(param->threshold, start + 2);
    QCOMPARE(slider->value(), start + 2);
    QCOMPARE(thresholdLabel->text(), QStringLiteral("Threshold:%1").arg(start + 2));
    QCOMPARE(driver.threshold, start + 1);

    // Back with another layout and other signals.
    driver.layoutX = 16;
    driver.layoutY = 10;
    driver.channelCount = 26;
    for (int i = 0; i < 128; ++i)
        driver.samples[i] = patternByte(2, i);
    driver.matrix66.resize(160);
    for (int i = 0; i < 160; ++i)
        driver.matrix66[i] = patternByte(2, i);
    driver.present = true;
    tick();
    window.detectDriverStatus();
    QVERIFY(param->driverFound);
    tick();
    QVERIFY(counter.paints > paints);
    QCOMPARE(param->layoutX, 16);
    QCOMPARE(param->layoutY, 10);
    if (lunari) {
        for (int i = 0; i < 160; ++i)
            QCOMPARE(int(param->matrix[i]), int(patternByte(2, i)));
    } else {
        for (int i = 0; i < 16; ++i)
            QCOMPARE(param->waveX[i], int(patternByte(2, i)));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(param->waveY[i], int(patternByte(2, 16 + i)));
        // Laid out afresh: channel 17 opens the Y axis.
        QLabel *label = graph.findChild<QLabel *>(QStringLiteral("channelLabel16"));
        QCOMPARE(label->geometry(), QRect(15, 331, 74, 15));
        QCOMPARE(label->text(), QStringLiteral("17"));
    }
    // The status read of the driver's return brings back the threshold the driver holds.
    QCOMPARE(param->threshold, start + 1);
    // The control itself stays where the user left it and sends nothing on its own.
    QCOMPARE(slider->value(), start + 2);
    QCOMPARE(driver.threshold, start + 1);
    QVERIFY(ProcessResources::openDescriptors() <= baseline + 1);
}

void TestDriverFaults::goneBetweenTheMatrixQueries()
{
    DriverSim::Controller &driver = TestSupport::stillSensorMap(2, 3);
    Param *param = Param::getInst();
    driver.matrix67 = {1, 2, 0xA7, 0xFF, 0x80, 42};
    driver.matrix66 = {10, 11, 12, 13, 14, 15};
    driver.present = false;
    MainDialog window;
    QVERIFY(!QFile::exists(QString::fromLatin1(logName)));

    // The scan rate, the status and the code-67 matrix are read; then the
    // driver is gone for the code-66 query.
    driver.present = true;
    driver.reads = 0;
    driver.failEveryRead = 4;
    driver.failErrno = ENODEV;
    DriverSim::clearTranscript();
    window.detectDriverStatus();
    driver.failEveryRead = 0;
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 66).size(), size_t(1));
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 66).front().result, -1L);
    QVERIFY(param->driverFound);
    QCOMPARE(fd, 0);

    // Line 3 repeats the code-67 cells, but for the code the failed query left in byte 0.
    std::vector<unsigned char> failed = driver.matrix67;
    failed[0] = 66;
    QCOMPARE(readFile(QString::fromLatin1(logName)),
             QByteArray("   2   3\n") + loggedLine(driver.matrix67) + loggedLine(failed));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(int(param->matrix[i]), 0);

    // Really gone at the next tick, back at the one after: the log is whole again.
    driver.present = false;
    window.detectDriverStatus();
    QVERIFY(!param->driverFound);
    QCOMPARE(labelText(window, "labelLayout"), QStringLiteral("n/a"));
    driver.present = true;
    window.detectDriverStatus();
    QVERIFY(param->driverFound);
    QCOMPARE(labelText(window, "labelLayout"), QStringLiteral("2/3"));
    QCOMPARE(readFile(QString::fromLatin1(logName)),
             QByteArray("   2   3\n") + loggedLine(driver.matrix67) + loggedLine(driver.matrix66));
}

void TestDriverFaults::periodicFaultsOverALongRun_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("every");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        for (int every : {2, 3, 10, 97}) {
            const QString name = QString::fromLatin1(product->programName);
            QTest::newRow(qPrintable(QStringLiteral("%1 every %2").arg(name).arg(every))) << name << every;
        }
    }
}

void TestDriverFaults::periodicFaultsOverALongRun()
{
    QFETCH(QString, program);
    QFETCH(int, every);
    const Product &product = productNamed(program);
    Param *param = TestSupport::useProduct(product);
    DriverSim::setKeepTranscript(false);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    driver.failEveryRead = every;
    driver.failEveryWrite = every;
    driver.failErrno = EIO;
    // The touch-point query reads only from drivers above version 1.0.
    param->driverVersionMinor = 2;
    const int baseline = ProcessResources::openDescriptors();
    const std::vector<Operation> operations = everyOperation(param, &product == &Product::lunari);

    int failures = 0;
    for (size_t k = 0; driver.reads + driver.writes < 10000; ++k) {
        const Operation &operation = operations[k % operations.size()];
        const int transfer = (operation.reads ? driver.reads : driver.writes) + 1;
        const bool fails = transfer % every == 0;
        const int result = operation.run();
        if (result != (fails ? -1 : 1) || (fd == 0) != fails) {
            QFAIL(qPrintable(QStringLiteral("%1 (call %2, transfer %3) returned %4 with fd %5")
                                 .arg(QLatin1String(operation.name)).arg(k).arg(transfer).arg(result).arg(fd)));
        }
        failures += fails;
        if (k % 128 == 0) {
            QVERIFY(ProcessResources::openDescriptors() <= baseline + 1);
            QVERIFY(DriverSim::openDescriptors(TestSupport::familyOf(product)) <= 1);
        }
    }
    QVERIFY(failures >= 10000 / every - 1);
    QVERIFY(ProcessResources::openDescriptors() <= baseline + 1);
}

void TestDriverFaults::windowsUnderPeriodicFaults_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("every");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        for (int every : {2, 5, 11}) {
            const QString name = QString::fromLatin1(product->programName);
            QTest::newRow(qPrintable(QStringLiteral("%1 every %2").arg(name).arg(every))) << name << every;
        }
    }
}

void TestDriverFaults::windowsUnderPeriodicFaults()
{
    QFETCH(QString, program);
    QFETCH(int, every);
    const Product &product = productNamed(program);
    const bool lunari = &product == &Product::lunari;
    Param *param = TestSupport::useProduct(product);
    DriverSim::setKeepTranscript(false);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;

    MainDialog window;
    window.show();
    Graph graph;
    graph.show();
    CalibrateArea *calibration = calibrationWindow();
    QVERIFY(calibration);
    QPushButton *plus = graph.findChild<QPushButton *>(QStringLiteral("plusButton"));
    QPushButton *minus = graph.findChild<QPushButton *>(QStringLiteral("minusButton"));
    QCheckBox *box = outputBox(window);

    driver.failEveryRead = every;
    driver.failEveryWrite = every;
    long long heapAfterWarmUp = 0;
    int descriptorsAfterWarmUp = 0;
    for (int k = 0; driver.reads + driver.writes < 10000 || k < 400; ++k) {
        if (k == 200) {
            settle();
            heapAfterWarmUp = ProcessResources::heapInUse();
            descriptorsAfterWarmUp = ProcessResources::openDescriptors() - (fd != 0 ? 1 : 0);
        }
        window.detectDriverStatus();
        window.reSetFPS();
        const QString fps = labelText(window, "labelFPS");
        if (param->driverFound != fps.endsWith(QLatin1String(" FPS")))
            QFAIL(qPrintable(QStringLiteral("found %1 but the scan rate reads %2").arg(param->driverFound).arg(fps)));
        if (lunari)
            graph.rePaint();
        else
            graph.repaint();
        calibration->rePaint();
        if (k % 7 == 0)
            (k % 14 == 0 ? plus : minus)->click();
        if (k % 25 == 0) {
            // A switch whose command fails still stays in the record and the box.
            const bool wanted = !box->isChecked();
            box->click();
            QCOMPARE(param->outputEnabled, wanted);
            QCOMPARE(box->isChecked(), wanted);
        }
        if (k % 50 == 0)
            settle();
        if (k > 200 && k % 100 == 0)
            QVERIFY(ProcessResources::openDescriptors() - (fd != 0 ? 1 : 0) <= descriptorsAfterWarmUp);
    }
    settle();
    if (heapAfterWarmUp >= 0)
        QVERIFY2(ProcessResources::heapInUse() - heapAfterWarmUp < 4 * 1024 * 1024,
                 qPrintable(QStringLiteral("heap grew by %1 bytes")
                                .arg(ProcessResources::heapInUse() - heapAfterWarmUp)));

    // Faults over: the next two ticks find the driver and show it.
    driver.failEveryRead = 0;
    driver.failEveryWrite = 0;
    window.detectDriverStatus();
    window.detectDriverStatus();
    window.reSetFPS();
    QVERIFY(param->driverFound);
    QCOMPARE(labelText(window, "labelFPS"), QStringLiteral("%1 FPS").arg(driver.fps));
    QCOMPARE(labelText(window, "labelLayout"), QStringLiteral("%1/%2").arg(driver.layoutX).arg(driver.layoutY));
    QVERIFY(DriverSim::openDescriptors(TestSupport::familyOf(product)) <= 1);
}

void TestDriverFaults::shortStatusAnswers_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("length");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        const QString name = QString::fromLatin1(product->programName);
        const CommandSet &set = product->commands;
        QTest::newRow(qPrintable(name + " scan rate")) << name << int(set.getFps) << set.getFpsLength;
        QTest::newRow(qPrintable(name + " calibration status"))
            << name << int(set.getCalibStatus) << set.getCalibStatusLength;
        QTest::newRow(qPrintable(name + " basic status")) << name << int(set.getBasicStatus) << 32;
    }
}

void TestDriverFaults::shortStatusAnswers()
{
    QFETCH(QString, program);
    QFETCH(int, code);
    QFETCH(int, length);
    const Product &product = productNamed(program);
    const CommandSet &set = product.commands;
    std::function<int(Param *)> query = GetBasicStatus;
    if (code == set.getFps)
        query = GetFPS;
    else if (code == set.getCalibStatus)
        query = GetCalibStatus;

    std::vector<unsigned char> earlier(32), answer(32);
    for (int i = 0; i < 32; ++i) {
        earlier[i] = patternByte(3, i) | 0x80;
        answer[i] = patternByte(4, i) & 0x7f;
    }
    for (int delivered = 0; delivered <= length; ++delivered) {
        Param *param = TestSupport::useProduct(product, 1920, 1080);
        DriverSim::Controller &driver = TestSupport::simulated();
        // A full answer leaves what a short one must keep.
        driver.overrides[code] = earlier;
        QCOMPARE(query(param), 1);
        const Param before = *param;
        driver.overrides[code] = answer;
        driver.shortAnswer = delivered;
        QCOMPARE(query(param), 1);

        std::vector<unsigned char> seen(earlier.begin(), earlier.begin() + length);
        seen[0] = static_cast<unsigned char>(code);
        std::copy(answer.begin(), answer.begin() + delivered, seen.begin());
        seen.resize(32, 0);
        QCOMPARE(decodedFields(product, static_cast<unsigned char>(code), *param),
                 expectedFields(product, static_cast<unsigned char>(code), seen.data(), before));
        QVERIFY(std::memcmp(szTemp, seen.data(), static_cast<size_t>(length)) == 0);
    }
}

void TestDriverFaults::shortBufferAnswers_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    const QString pravex = QString::fromLatin1(Product::pravex.programName);
    const QString lunari = QString::fromLatin1(Product::lunari.programName);
    QTest::newRow("pravex graph") << pravex << 100 << 0 << 0;
    QTest::newRow("lunari touch block") << lunari << 70 << 0 << 0;
    QTest::newRow("lunari matrix 66, 7 by 9") << lunari << 66 << 7 << 9;
    QTest::newRow("lunari matrix 67, 7 by 9") << lunari << 67 << 7 << 9;
    QTest::newRow("lunari matrix 66, 16 by 16") << lunari << 66 << 16 << 16;
    QTest::newRow("lunari matrix 67, 255 by 255") << lunari << 67 << 255 << 255;
}

void TestDriverFaults::shortBufferAnswers()
{
    QFETCH(QString, program);
    QFETCH(int, code);
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    const Product &product = productNamed(program);
    Param *param = TestSupport::useProduct(product);
    DriverSim::setKeepTranscript(false);
    DriverSim::Controller &driver = TestSupport::simulated();
    param->layoutX = layoutX;
    param->layoutY = layoutY;
    param->driverVersionMajor = 2;

    const int length = code == 66 || code == 67 ? layoutX * layoutY : 128;
    std::vector<unsigned char> earlier(static_cast<size_t>(length)), answer(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        earlier[i] = patternByte(5, i);
        answer[i] = static_cast<unsigned char>(~patternByte(5, i));
    }
    std::vector<int> lengths;
    for (int delivered = 0; delivered <= length; ++delivered) {
        // All lengths of the small answers; the edges and a stride through the big one.
        if (length <= 256 || delivered < 300 || length - delivered < 300 || delivered % 4093 == 0)
            lengths.push_back(delivered);
    }

    int samples[128];
    unsigned char *buffer = code == 100 ? szTemp : code == 70 ? param->touchData : param->matrix;
    auto query = [&]() {
        if (code == 100)
            return GetGraph(samples);
        if (code == 70)
            return GetTouchPoint(param);
        return GetMatrix(param, static_cast<unsigned char>(code));
    };
    for (int delivered : lengths) {
        driver.shortAnswer = -1;
        driver.overrides[code] = earlier;
        QCOMPARE(query(), 1);
        std::fill(samples, samples + 128, -1);
        param->matrix[length] = 0x5A;
        driver.overrides[code] = answer;
        driver.shortAnswer = delivered;
        QCOMPARE(query(), 1);

        std::vector<unsigned char> seen = earlier;
        if (length > 0)
            seen[0] = static_cast<unsigned char>(code);
        std::copy(answer.begin(), answer.begin() + delivered, seen.begin());
        if (!std::equal(seen.begin(), seen.end(), buffer))
            QFAIL(qPrintable(QStringLiteral("buffer differs after a %1-byte answer").arg(delivered)));
        if (code == 100) {
            for (int i = 0; i < 128; ++i)
                QCOMPARE(samples[i], int(seen[i]));
        }
        if (code == 70) {
            QCOMPARE(KerDecode::touchCount(buffer), qMin(int(seen[0]), 31));
            QCOMPARE(KerDecode::touchX(buffer, 30), seen[122] | (seen[123] << 8));
        }
        if (code != 100 && code != 70)
            QCOMPARE(int(param->matrix[length]), 0x5A);
    }
}

QTEST_MAIN(TestDriverFaults)
#include "tst_driverfaults.moc"
