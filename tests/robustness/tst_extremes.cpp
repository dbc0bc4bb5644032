// A driver that answers every count at its limit, on a 32767-pixel-wide
// desktop: the windows show what it reports and read no buffer past its end.
#include "calibration/CalibrateArea.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "signalviews/Graph.h"
#include "signalviews/SensorMap.h"
#include "signalviews/WaveGraph.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

using DriverSim::Exchange;

namespace {

using TestSupport::productNamed;
using TestSupport::settle;
using TestSupport::calibrationWindow;
using TestSupport::labelText;

const int WideDesktop = 32767;
const int DesktopHeight = 768;
const int Cells = 255 * 255;

unsigned char cellOf(int seed, int i)
{
    return static_cast<unsigned char>((i * seed + i / 255) & 0xff);
}

// Every byte of the status at 255, every edge at 0xFFFF, full matrices and touch block.
DriverSim::Controller &driverAtTheLimits(int threshold)
{
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    driver.fps = 0xFFFF;
    driver.touchPoints = 255;
    driver.firmwareVersion = 255;
    driver.driverVersionMajor = 255;
    driver.driverVersionMinor = 255;
    driver.channelCount = 255;
    driver.layoutX = 255;
    driver.layoutY = 255;
    driver.intensity = 255;
    driver.output = 255;
    driver.threshold = threshold;
    driver.calibMode = 255;
    driver.areaLeft = 0xFFFF;
    driver.areaRight = 0xFFFF;
    driver.areaTop = 0xFFFF;
    driver.areaBottom = 0xFFFF;
    driver.samples.fill(255);
    driver.matrix67.resize(Cells);
    driver.matrix66.resize(Cells);
    for (int i = 0; i < Cells; ++i) {
        driver.matrix67[i] = cellOf(7, i);
        driver.matrix66[i] = cellOf(13, i);
    }
    // A count byte of 255; the 31 points the block has room for lie on and past the far corner.
    driver.touchBlock.fill(0xFF);
    for (int i = 0; i < 31; i += 2) {
        driver.touchBlock[2 + 4 * i] = 0xFF;
        driver.touchBlock[3 + 4 * i] = 0x0F;
        driver.touchBlock[4 + 4 * i] = 0xFF;
        driver.touchBlock[5 + 4 * i] = 0x0F;
    }
    return driver;
}

QByteArray loggedLine(const std::vector<unsigned char> &cells)
{
    QByteArray line;
    line.reserve(static_cast<int>(cells.size()) * 4 + 1);
    for (unsigned char cell : cells)
        line += QByteArray::number((cell ^ 0xA7) - 0xA7).rightJustified(4, ' ');
    return line + '\n';
}

} // namespace

class TestExtremes : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mainWindowAndLogAtTheLimits_data();
    void mainWindowAndLogAtTheLimits();
    void graphWindowsAtTheLimits_data();
    void graphWindowsAtTheLimits();
    void calibrationAtTheLimits_data();
    void calibrationAtTheLimits();
    void calibrationFrameOnAHugeArea_data();
    void calibrationFrameOnAHugeArea();

private:
    std::unique_ptr<TestSupport::WorkingFolder> workDir;
};

void TestExtremes::init()
{
    // The second program writes its log into the working directory.
    workDir = std::make_unique<TestSupport::WorkingFolder>();
}

void TestExtremes::cleanup()
{
    workDir.reset();
}

void TestExtremes::mainWindowAndLogAtTheLimits_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("divisor");
    QTest::newRow("pravex") << QString::fromLatin1(Product::pravex.programName) << 1023;
    QTest::newRow("lunari") << QString::fromLatin1(Product::lunari.programName) << 4095;
}

void TestExtremes::mainWindowAndLogAtTheLimits()
{
    QFETCH(QString, program);
    QFETCH(int, divisor);
    const Product &product = productNamed(program);
    Param *param = TestSupport::useProduct(product, WideDesktop, DesktopHeight);
    DriverSim::Controller &driver = driverAtTheLimits(255);
    param->matrix[Cells] = 0x5A;

    MainDialog window;
    window.show();
    settle();
    QVERIFY(param->driverFound);
    QCOMPARE(labelText(window, "labelFPS"), QStringLiteral("65535 FPS"));
    QCOMPARE(labelText(window, "labelTouchPoints"), QStringLiteral("255"));
    QCOMPARE(labelText(window, "labelFirmwareVersion"), QStringLiteral("255.0"));
    QCOMPARE(labelText(window, "labelDriverVersion"), QStringLiteral("255.255"));
    QCOMPARE(labelText(window, "labelLayout"), QStringLiteral("255/255"));
    // Status byte 9 of 255 is negative as a signed byte: output off.
    QVERIFY(!window.findChild<QCheckBox *>(QStringLiteral("checkBoxEnableUSB"))->isChecked());
    QCOMPARE(param->threshold, 255);
    QCOMPARE(param->calibMode, -1);
    // 32767 x 65535 still fits the driver's 32-bit product.
    QCOMPARE(param->areaLeft, int(32767LL * 65535 / divisor));
    QCOMPARE(param->areaRight, int(32767LL * 65535 / divisor));
    QCOMPARE(param->areaBottom, int(768LL * 65535 / divisor));

    if (&product == &Product::lunari) {
        QFile log(QStringLiteral("VeDorurerezo.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray(" 255 255\n") + loggedLine(driver.matrix67) + loggedLine(driver.matrix66));
        QVERIFY(std::all_of(param->matrix, param->matrix + Cells, [](unsigned char cell) { return cell == 0; }));
    } else {
        QVERIFY(!QFile::exists(QStringLiteral("VeDorurerezo.log")));
    }
    QCOMPARE(int(param->matrix[Cells]), 0x5A);
}

void TestExtremes::graphWindowsAtTheLimits_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("threshold");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        const QString name = QString::fromLatin1(product->programName);
        QTest::newRow(qPrintable(name + ", threshold 0")) << name << 0;
        QTest::newRow(qPrintable(name + ", threshold 255")) << name << 255;
    }
}

void TestExtremes::graphWindowsAtTheLimits()
{
    QFETCH(QString, program);
    QFETCH(int, threshold);
    const Product &product = productNamed(program);
    const bool lunari = &product == &Product::lunari;
    Param *param = TestSupport::useProduct(product, WideDesktop, DesktopHeight);
    driverAtTheLimits(threshold);
    MainDialog window;
    QVERIFY(param->driverFound);
    DriverSim::clearTranscript();

    Graph graph;
    graph.show();
    for (int tick = 0; tick < 2; ++tick) {
        if (lunari)
            graph.rePaint();
        else
            graph.repaint();
        settle();
    }

    // The stored threshold shows as it is; the slider rests at its nearest end.
    QSlider *slider = graph.findChild<QSlider *>(QStringLiteral("thresholdSlider"));
    QCOMPARE(slider->value(), threshold == 0 ? product.threshold.minimum : product.threshold.maximum);
    QCOMPARE(graph.findChild<QLabel *>(QStringLiteral("thresholdLabel"))->text(),
             QStringLiteral("Threshold:%1").arg(threshold));
    QCOMPARE(TestSupport::exchanges(Exchange::Write, product.commands.setThreshold).size(), size_t(0));

    if (lunari) {
        QImage shown = graph.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected(shown.size(), QImage::Format_RGB32);
        expected.fill(graph.palette().color(QPalette::Window));
        {
            QPainter painter(&expected);
            SensorMap::paintPlain(painter, param->matrix, 255, 255, param->touchData);
        }
        // Below the threshold controls everything is the map and its discs.
        const QRect map(0, 60, shown.width(), shown.height() - 60);
        QCOMPARE(shown.copy(map), expected.copy(map));
        QCOMPARE(shown.pixel(815, 670), qRgb(255, 0, 0));
        return;
    }

    // The first program labels and draws the 128 channels its buffers hold.
    QLabel *last = graph.findChild<QLabel *>(QStringLiteral("channelLabel127"));
    QCOMPARE(last->text(), QStringLiteral("128"));
    QCOMPARE(last->geometry(), QRect(15 + 127 * 740 / 128, 66, 740 / 128, 15));
    QCOMPARE(param->waveX[127], 255);
    WaveGraph *x = graph.findChild<WaveGraph *>(QStringLiteral("waveGraphX"));
    WaveGraph *y = graph.findChild<WaveGraph *>(QStringLiteral("waveGraphY"));
    const QColor background(1, 2, 3);
    auto render = [&background](WaveGraph *chart) {
        QImage image(chart->size(), QImage::Format_RGB32);
        image.fill(background);
        chart->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    };
    const QImage xImage = render(x);
    const QImage yImage = render(y);
    const QRgb line = x->palette().color(QPalette::WindowText).rgb();
    // Full bars: blue at or above a threshold of 0, whose line lies on row 246;
    // red under a threshold of 255, whose line lies above the chart.
    const QRgb bar = threshold == 0 ? qRgb(0, 0, 255) : qRgb(255, 0, 0);
    for (int i = 0; i < 128; ++i) {
        const int middle = (2 * i + 1) * 740 / 256;
        QCOMPARE(xImage.pixel(middle, 125), bar);
        QCOMPARE(xImage.pixel(middle, 246), threshold == 0 ? line : bar);
    }
    // No channel is left for the Y axis.
    for (int column = 1; column < 740; ++column)
        QCOMPARE(yImage.pixel(column, 249), background.rgb());
}

void TestExtremes::calibrationAtTheLimits_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("modeByte");
    QTest::addColumn<int>("divisor");
    QTest::newRow("pravex, mode byte 255") << QString::fromLatin1(Product::pravex.programName) << 255 << 1023;
    QTest::newRow("pravex, area mode") << QString::fromLatin1(Product::pravex.programName) << 1 << 1023;
    QTest::newRow("lunari, mode byte 255") << QString::fromLatin1(Product::lunari.programName) << 255 << 4095;
    QTest::newRow("lunari, area mode") << QString::fromLatin1(Product::lunari.programName) << 1 << 4095;
}

void TestExtremes::calibrationAtTheLimits()
{
    QFETCH(QString, program);
    QFETCH(int, modeByte);
    QFETCH(int, divisor);
    const Product &product = productNamed(program);
    Param *param = TestSupport::useProduct(product, WideDesktop, DesktopHeight);
    DriverSim::Controller &driver = driverAtTheLimits(30);
    driver.output = 1;
    driver.calibMode = modeByte;
    driver.areaLeft = 0;
    driver.areaTop = 0;
    driver.calibStep = 0;
    MainDialog window;
    window.show();
    settle();
    QVERIFY(param->driverFound);

    CalibrateArea *calibration = calibrationWindow();
    QVERIFY(calibration);
    window.findChild<QPushButton *>(QStringLiteral("pushButtonCalib"))->click();
    settle();
    QCOMPARE(calibration->findChild<QComboBox *>()->currentIndex(), modeByte == 1 ? 1 : -1);

    for (int status = 1; status <= 3; ++status) {
        driver.calibStatus = status;
        driver.calibValue = 0xFFFF;
        calibration->rePaint();
        settle();
        QCOMPARE(param->calibValue, 65535);
        QVERIFY(!calibration->grab().isNull());
        QVERIFY(calibration->isVisible());
    }
    driver.calibStatus = 4;
    calibration->rePaint();
    settle();
    QVERIFY(!calibration->isVisible());
    QVERIFY(window.isVisible());

    // The mode goes back as it came; edges beyond 16 bits go as their low 16 bits.
    const DriverSim::CalibrateEndRequest &end = driver.lastCalibrateEnd;
    QVERIFY(end.received);
    QCOMPARE(end.mode, modeByte);
    QCOMPARE(end.screenWidth, WideDesktop);
    QCOMPARE(end.screenHeight, DesktopHeight);
    QCOMPARE(end.left, 0);
    QCOMPARE(end.top, 0);
    if (modeByte == 1) {
        QCOMPARE(end.right, int(32767LL * 65535 / divisor) & 0xFFFF);
        QCOMPARE(end.bottom, int(768LL * 65535 / divisor) & 0xFFFF);
    } else {
        QCOMPARE(end.right, WideDesktop);
        QCOMPARE(end.bottom, DesktopHeight);
    }
    QVERIFY(param->outputEnabled);
    QCOMPARE(driver.output, 1);
}

void TestExtremes::calibrationFrameOnAHugeArea_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("value");
    for (int status = 1; status <= 3; ++status) {
        QTest::newRow(qPrintable(QStringLiteral("target %1, full").arg(status))) << status << 150;
        QTest::newRow(qPrintable(QStringLiteral("target %1, 65535").arg(status))) << status << 65535;
    }
}

void TestExtremes::calibrationFrameOnAHugeArea()
{
    QFETCH(int, status);
    QFETCH(int, value);
    // The area a driver reporting edges of 0xFFFF gives on a 32767 x 32767
    // desktop: the target radius is 139940, and the progress times it passes 32 bits.
    const int size = int(32767LL * 65535 / 1023);
    const QRect area(0, 0, size, size);
    const int r = size / 15;
    const int cx = status == 2 ? 9 * size / 10 : size / 10;
    const int cy = status == 3 ? 9 * size / 10 : size / 10;
    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.translate(100 - cx, 100 - cy);
        CalibrateArea::paintCalibration(painter, area, status, value, false, QRect());
    }
    QVERIFY(r > 32768);
    // Around the centre: the crosshair, and the progress disc filling the circle.
    QCOMPARE(image.pixel(100, 100), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(110, 90), qRgb(0, 255, 0));
    QCOMPARE(image.pixel(10, 190), qRgb(0, 255, 0));
}

QTEST_MAIN(TestExtremes)
#include "tst_extremes.moc"
