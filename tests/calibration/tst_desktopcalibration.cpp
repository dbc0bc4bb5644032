// Calibrations on scaled and multi-monitor desktops. CTest runs this at Qt's
// scale factors 1, 1.5 and 2 (QT_SCALE_FACTOR); every position here is in
// device pixels, so the expectations do not change with the factor.

#include "CalibrationHarness.h"
#include "DialogAnswerer.h"

#include "app/Desktop.h"
#include "app/Product.h"
#include "calibration/CalibrateArea.h"
#include "driverlink/Param.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QtTest>

namespace {

const QRgb Blue = qRgb(0, 0, 255);

// The window's pixel at a desktop position.
QRgb pixelOf(QWidget *widget, const QPoint &device)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return image.pixel(device - desktopPosition(widget, desktopGeometry())) | 0xff000000;
}

} // namespace

class DesktopCalibrationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void calibrationInDevicePixels_data();
    void calibrationInDevicePixels();
    void desktopChangeEndsTheCalibration_data();
    void desktopChangeEndsTheCalibration();
};

void DesktopCalibrationTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
}

void DesktopCalibrationTest::calibrationInDevicePixels_data()
{
    QTest::addColumn<QList<QRect>>("monitors");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QString>("handedOver");

    QTest::newRow("one monitor, dragged up and left")
        << QList<QRect>{QRect(0, 0, 2048, 1536)} << QPoint(1200, 1000) << QPoint(200, 200)
        << QStringLiteral("mode 1 screen 2048x1536 area 200 1200 200 1000");
    QTest::newRow("two monitors, area on the second")
        << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)} << QPoint(1200, 100)
        << QPoint(2200, 900) << QStringLiteral("mode 1 screen 2304x1024 area 1200 2200 100 900");
}

void DesktopCalibrationTest::calibrationInDevicePixels()
{
    QFETCH(QList<QRect>, monitors);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QString, handedOver);

    CalibrationHarness harness(Product::lunari, monitors);
    const QRect desktop = desktopGeometry();
    harness.param()->calibMode = 1;
    harness.area()->calStart();

    // The window covers every monitor.
    QVERIFY(deviceGeometry(harness.area()).contains(desktop));
    QCOMPARE(pixelOf(harness.area(), QPoint(0, desktop.height() / 2)), Blue);

    // The 80-pixel rule and the quarter-screen rule count device pixels.
    {
        DialogAnswerer answerer(DialogAnswerer::ClickOk);
        harness.drag(from, QPoint(from.x() + (to.x() > from.x() ? 79 : -79), to.y()));
        QCOMPARE(answerer.seen(), QStringList());
        harness.drag(from, QPoint(from.x() + (to.x() > from.x() ? 80 : -80), to.y()));
        QCOMPARE(answerer.seen(), QStringList(QStringLiteral("area is too small!")));
    }
    {
        DialogAnswerer answerer(DialogAnswerer::ClickOk);
        harness.drag(from, to);
        QCOMPARE(answerer.seen(), QStringList(QStringLiteral("save the area?")));
    }
    harness.area()->rePaint();
    QTRY_COMPARE(pixelOf(harness.area(), QPoint(qMin(from.x(), to.x()), (from.y() + to.y()) / 2)), Blue);

    QVERIFY(harness.finishWith(4));
    QCOMPARE(CalibrationHarness::describe(harness.controller().lastCalibrateEnd), handedOver);
}

void DesktopCalibrationTest::desktopChangeEndsTheCalibration_data()
{
    QTest::addColumn<QList<QRect>>("after");
    QTest::addColumn<QString>("handedOver");   // by the next calibration
    QTest::newRow("new resolution") << QList<QRect>{QRect(0, 0, 1280, 1024)}
                                    << QStringLiteral("mode 0 screen 1280x1024 area 0 1280 0 1024");
    QTest::newRow("monitor plugged in") << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 800, 600)}
                                        << QStringLiteral("mode 0 screen 1824x768 area 0 1824 0 768");
}

void DesktopCalibrationTest::desktopChangeEndsTheCalibration()
{
    QFETCH(QList<QRect>, after);
    QFETCH(QString, handedOver);

    CalibrationHarness harness(Product::pravex);
    CalibrateArea *area = harness.area();
    area->calStart();
    if (after.size() == 1)
        TestSupport::changeMonitor(0, after.first());
    else
        TestSupport::useDesktop(after);

    // As "Quit": the driver gets back what it reported, on the old screen.
    QTRY_VERIFY(!area->isVisible());
    QVERIFY(harness.mainWindow()->isVisible());
    QCOMPARE(CalibrationHarness::describe(harness.controller().lastCalibrateEnd),
             QStringLiteral("mode 0 screen 1024x768 area 0 1024 0 768"));

    area->calStart();
    QVERIFY(deviceGeometry(area).contains(desktopGeometry()));
    QVERIFY(harness.finishWith(4));
    QCOMPARE(CalibrationHarness::describe(harness.controller().lastCalibrateEnd), handedOver);
}

QTEST_MAIN(DesktopCalibrationTest)
#include "tst_desktopcalibration.moc"
