// Calibrations on scaled and multi-monitor desktops. CTest runs this at Qt's
// scale factors 1, 1.5 and 2 (QT_SCALE_FACTOR); every position here is in
// device pixels, so the expectations do not change with the factor.

#include "CalibrationHarness.h"
#include "DialogAnswerer.h"

#include "app/Desktop.h"
#include "app/Product.h"
#include "calibration/CalibrateArea.h"
#include "calibration/CalibrationFrame.h"
#include "driverlink/Param.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>

namespace {

const QRgb Blue = qRgb(0, 0, 255);

// The window's pixel at a position of its frame.
QRgb pixelOf(CalibrateArea *area, const QPoint &device)
{
    const QImage image = area->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return image.pixel(device - area->calibrationFrame().windowOffset(area)) | 0xff000000;
}

const QString Holes = QStringLiteral("The whole-desktop calibration cannot be shown: its targets would lie between "
                                     "the monitors. Use \"Erea mode\" and draw the touch area on the touch screen.");

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
    void desktopLookedAtEveryTick_data();
    void desktopLookedAtEveryTick();
    void windowMovedUnseen();
    void pressBetweenMonitors();
    void normalModeOnUnevenDesktops_data();
    void normalModeOnUnevenDesktops();
    void monitorHolding_data();
    void monitorHolding();
    void xwaylandServer_data();
    void xwaylandServer();
    void fractionalPositionRounds();
    void waylandView_data();
    void waylandView();
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
    // The quarter rule counts against the small monitor the drag starts on, not the desktop.
    QTest::newRow("narrow touch monitor beside a large one")
        << QList<QRect>{QRect(0, 0, 2560, 1440), QRect(2560, 0, 800, 480)} << QPoint(2600, 20)
        << QPoint(3340, 460) << QStringLiteral("mode 1 screen 3360x1440 area 2600 3340 20 460");
    // The X server maps touches onto its root window, from (0, 0), not onto the monitors' union.
    QTest::newRow("monitors from y=100")
        << QList<QRect>{QRect(0, 100, 1024, 768), QRect(1024, 100, 1024, 768)} << QPoint(1200, 200)
        << QPoint(1900, 800) << QStringLiteral("mode 1 screen 2048x868 area 1200 1900 200 800");
}

void DesktopCalibrationTest::calibrationInDevicePixels()
{
    QFETCH(QList<QRect>, monitors);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QString, handedOver);

    CalibrationHarness harness(Product::lunari, monitors);
    // Where the screen differs from the record's, the calibration re-reads the driver.
    harness.param()->calibMode = 1;
    harness.controller().calibMode = 1;
    harness.area()->calStart();
    const QRect desktop = harness.area()->calibrationFrame().rect();

    // The window covers every monitor, and no more.
    QTRY_VERIFY(harness.area()->calibrationFrame().covered(harness.area()));
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
    QTest::addColumn<QList<QRect>>("before");
    QTest::addColumn<QList<QRect>>("after");
    QTest::addColumn<QString>("handedOver");   // by the next calibration
    const QList<QRect> one{QRect(0, 0, 1024, 768)};
    QTest::newRow("new resolution") << one << QList<QRect>{QRect(0, 0, 1280, 1024)}
                                    << QStringLiteral("mode 0 screen 1280x1024 area 0 1280 0 1024");
    QTest::newRow("monitor plugged in") << one << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 800, 600)}
                                        << QStringLiteral("mode 0 screen 1824x768 area 0 1824 0 768");
    // The desktop's bounding box stays as it was.
    QTest::newRow("new resolution inside the desktop")
        << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)}
        << QList<QRect>{QRect(0, 0, 800, 600), QRect(1024, 0, 1280, 1024)}
        << QStringLiteral("mode 0 screen 2304x1024 area 0 2304 0 1024");
}

void DesktopCalibrationTest::desktopChangeEndsTheCalibration()
{
    QFETCH(QList<QRect>, before);
    QFETCH(QList<QRect>, after);
    QFETCH(QString, handedOver);

    // Uneven layouts bring the notice of targets between monitors.
    DialogAnswerer answerer(DialogAnswerer::ClickOk);
    CalibrationHarness harness(Product::pravex, before);
    CalibrateArea *area = harness.area();
    area->calStart();
    const QString screen = QStringLiteral("screen %1x%2").arg(area->calibrationFrame().size().width())
                               .arg(area->calibrationFrame().size().height());
    if (after.size() == before.size())
        TestSupport::changeMonitor(0, after.first());
    else
        TestSupport::useDesktop(after);

    // As "Quit": the driver gets back what it reported, on the old screen.
    QTRY_VERIFY(!area->isVisible());
    QVERIFY(harness.mainWindow()->isVisible());
    QVERIFY(CalibrationHarness::describe(harness.controller().lastCalibrateEnd).contains(screen));

    area->calStart();
    QTRY_VERIFY(area->calibrationFrame().covered(area));
    QVERIFY(harness.finishWith(4));
    QCOMPARE(CalibrationHarness::describe(harness.controller().lastCalibrateEnd), handedOver);
}

void DesktopCalibrationTest::desktopLookedAtEveryTick_data()
{
    QTest::addColumn<bool>("seenByQt");
    QTest::addColumn<QList<QRect>>("after");
    QTest::addColumn<bool>("ends");
    QTest::newRow("primary monitor switched")
        << true << QList<QRect>{QRect(1024, 0, 1024, 768), QRect(0, 0, 1024, 768)} << false;
    QTest::newRow("change Qt does not follow")
        << false << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)} << true;
}

void DesktopCalibrationTest::desktopLookedAtEveryTick()
{
    QFETCH(bool, seenByQt);
    QFETCH(QList<QRect>, after);
    QFETCH(bool, ends);

    CalibrationHarness harness(Product::pravex, {QRect(0, 0, 1024, 768), QRect(1024, 0, 1024, 768)});
    CalibrateArea *area = harness.area();
    area->calStart();
    QTRY_VERIFY(area->calibrationFrame().covered(area));
    for (int i = 0; i < after.size(); ++i) {
        if (seenByQt)
            TestSupport::changeMonitor(i, after.at(i));
        else
            TestSupport::changeMonitorUnseen(i, after.at(i));
    }
    // A few polls of 200 ms.
    QTest::qWait(700);
    QCOMPARE(area->isVisible(), !ends);
    area->calStop();
}

void DesktopCalibrationTest::windowMovedUnseen()
{
    CalibrationHarness harness(Product::pravex);
    CalibrateArea *area = harness.area();
    area->calStart();
    QTRY_VERIFY(area->calibrationFrame().covered(area));
    // Once the calibration has looked where the window went after it was shown.
    QTest::qWait(50);
    // A window manager moves the window and tells it nothing; the next polls see it.
    TestSupport::moveWindowUnseen(area->windowHandle(), QPoint(40, 20));
    const QPushButton *quit = area->findChild<QPushButton *>();
    const qreal ratio = area->devicePixelRatioF();
    const CalibrationFrame &frame = area->calibrationFrame();
    // Quit's corner, where the layout puts it on 1024 x 768 (512 - 25, 384 + 19), to the logical pixel.
    const auto off = [&] { return quit->pos() * ratio + frame.windowOffset(area) - QPoint(487, 403); };
    QTRY_VERIFY(qAbs(off().x()) <= ratio && qAbs(off().y()) <= ratio);
    QCOMPARE(pixelOf(area, QPoint(1024, 384)), Blue);
    area->calStop();
}

void DesktopCalibrationTest::pressBetweenMonitors()
{
    CalibrationHarness harness(Product::pravex, {QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)});
    harness.param()->calibMode = 1;
    harness.controller().calibMode = 1;
    harness.area()->calStart();
    DialogAnswerer answerer(DialogAnswerer::ClickOk);
    // Below the first monitor, where nothing is shown, to the middle of the second.
    harness.drag(QPoint(100, 900), QPoint(1800, 300));
    QCOMPARE(answerer.seen(), QStringList());
    harness.area()->calStop();
}

void DesktopCalibrationTest::normalModeOnUnevenDesktops_data()
{
    QTest::addColumn<QList<QRect>>("monitors");
    QTest::addColumn<QPoint>("mainWindow");   // where the main window is, device pixels
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<int>("controlsOn");      // the monitor that shows the mode box and "Quit"

    const QStringList none;
    const QStringList holes(Holes);
    QTest::newRow("one monitor") << QList<QRect>{QRect(0, 0, 1024, 768)} << QPoint(10, 10) << none << 0;
    QTest::newRow("side by side, equal") << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 1024, 768)}
                                         << QPoint(1100, 10) << none << 1;
    // The third target, (230, 921), lies below the first monitor.
    QTest::newRow("top-aligned, uneven") << QList<QRect>{QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)}
                                         << QPoint(10, 10) << holes << 0;
    // The first target, (328, 108), lies above the first monitor.
    QTest::newRow("lower monitor beside a tall one")
        << QList<QRect>{QRect(0, 312, 1366, 768), QRect(1366, 0, 1920, 1080)} << QPoint(1400, 10) << holes << 1;
    QTest::newRow("monitors from y=100") << QList<QRect>{QRect(0, 100, 1024, 768), QRect(1024, 100, 1024, 768)}
                                         << QPoint(10, 110) << holes << 0;
}

void DesktopCalibrationTest::normalModeOnUnevenDesktops()
{
    QFETCH(QList<QRect>, monitors);
    QFETCH(QPoint, mainWindow);
    QFETCH(QStringList, notices);
    QFETCH(int, controlsOn);

    CalibrationHarness harness(Product::pravex, monitors);
    // Qt counts a window's logical place from the origin of its screen.
    QDialog *main = harness.mainWindow();
    const QPoint origin = monitors.at(controlsOn).topLeft();
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen->geometry().topLeft() == origin)
            main->windowHandle()->setScreen(screen);
    }
    main->move(origin + (mainWindow - origin) / main->devicePixelRatioF());
    QTRY_COMPARE(main->windowHandle()->screen()->geometry().topLeft(), origin);
    QList<QPoint> noticeCentres;   // device pixels
    {
        DialogAnswerer answerer(DialogAnswerer::ClickOk);
        answerer.setInspector([&noticeCentres](QDialog *notice) {
            // Qt counts the notice's logical place from the origin of the screen it puts it on.
            const QPoint screenOrigin = notice->windowHandle()->screen()->geometry().topLeft();
            const QPointF logical(notice->geometry().center() - screenOrigin);
            noticeCentres << screenOrigin + (logical * notice->devicePixelRatioF()).toPoint();
        });
        harness.area()->calStart();
        QCOMPARE(answerer.seen(), notices);
    }
    CalibrateArea *area = harness.area();
    const CalibrationFrame &frame = area->calibrationFrame();
    QTRY_VERIFY(frame.covered(area));
    QCOMPARE(frame.controlsMonitor(), monitors.at(controlsOn));
    const QPoint offset = frame.windowOffset(area);
    const qreal ratio = area->devicePixelRatioF();
    for (const QWidget *control : {static_cast<QWidget *>(area->findChild<QComboBox *>()),
                                   static_cast<QWidget *>(area->findChild<QPushButton *>())}) {
        const QRect shown(control->geometry().topLeft() * ratio + offset, control->size() * ratio);
        QVERIFY2(monitors.at(controlsOn).contains(shown), qPrintable(control->metaObject()->className()));
    }
    // The layout's sizes hold in device pixels, whatever Qt's scale factor.
    const QSize box = area->findChild<QComboBox *>()->size() * ratio;
    QVERIFY(qAbs(box.width() - monitors.at(controlsOn).width() / 40 * 4) <= 1);
    QVERIFY(qAbs(box.height() - monitors.at(controlsOn).height() / 40) <= 1);
    for (const QPoint &centre : noticeCentres)
        QVERIFY(monitors.at(controlsOn).contains(centre));
    area->calStop();
}

void DesktopCalibrationTest::monitorHolding_data()
{
    QTest::addColumn<QRect>("window");
    QTest::addColumn<int>("monitor");
    QTest::newRow("on the first") << QRect(100, 100, 300, 200) << 0;
    QTest::newRow("on the second") << QRect(1300, 100, 300, 200) << 1;
    QTest::newRow("mostly on the second") << QRect(1000, 100, 300, 200) << 1;
    QTest::newRow("in the hole below the first") << QRect(100, 900, 300, 100) << 0;
    QTest::newRow("not known") << QRect() << 0;
}

void DesktopCalibrationTest::monitorHolding()
{
    QFETCH(QRect, window);
    QFETCH(int, monitor);
    QCOMPARE(CalibrationFrame::monitorHolding({QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)}, window), monitor);
}

void DesktopCalibrationTest::xwaylandServer_data()
{
    QTest::addColumn<bool>("extension");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<bool>("xwayland");
    QTest::newRow("XWAYLAND extension") << true << QStringList() << true;
    QTest::newRow("XWayland's outputs") << false << QStringList{"XWAYLAND0", "XWAYLAND1"} << true;
    QTest::newRow("Xorg's outputs") << false << QStringList{"DUMMY0", "DUMMY1"} << false;
    QTest::newRow("Xvfb, no outputs") << false << QStringList() << false;
    QTest::newRow("an output of another name") << false << QStringList{"XWAYLAND0", "HDMI-1"} << false;
}

void DesktopCalibrationTest::xwaylandServer()
{
    QFETCH(bool, extension);
    QFETCH(QStringList, outputs);
    QFETCH(bool, xwayland);
    QCOMPARE(X11Desktop::looksLikeXWayland(extension, outputs), xwayland);
}

void DesktopCalibrationTest::fractionalPositionRounds()
{
    // 0.6 of a device pixel past a pixel belongs to the next one.
    CalibrationHarness harness(Product::pravex, {QRect(0, 0, 1920, 1080)});
    CalibrateArea *area = harness.area();
    area->calStart();
    QTRY_VERIFY(area->calibrationFrame().covered(area));
    const QPointF device = QPointF(700.6, 300.6) + area->calibrationFrame().windowOffset(area);
    QCOMPARE(area->calibrationFrame().toFrame(area, device / area->devicePixelRatioF()), QPoint(701, 301));
    area->calStop();
}

void DesktopCalibrationTest::waylandView_data()
{
    QTest::addColumn<QList<QRect>>("outputs");
    QTest::addColumn<QList<QSize>>("modes");
    QTest::addColumn<int>("shown");
    QTest::addColumn<qreal>("bufferScale");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<int>("monitors");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<bool>("fromWindow");

    const QList<QSize> fullHd{QSize(1920, 1080)};
    QTest::newRow("scale 1") << QList<QRect>{QRect(0, 0, 1920, 1080)} << fullHd << 0 << 1.0 << QSize(1920, 1080)
                             << QSize(1920, 1080) << 1 << 1.0 << true;
    QTest::newRow("scale 2") << QList<QRect>{QRect(0, 0, 960, 540)} << fullHd << 0 << 2.0 << QSize(960, 540)
                             << QSize(1920, 1080) << 1 << 2.0 << true;
    // Qt's screen is as large as the mode while the window is configured at half of it.
    QTest::newRow("scale 2, logical size in device pixels")
        << QList<QRect>{QRect(0, 0, 1920, 1080)} << fullHd << 0 << 2.0 << QSize(960, 540) << QSize(1920, 1080) << 1
        << 2.0 << true;
    QTest::newRow("scale 2, not yet configured")
        << QList<QRect>{QRect(0, 0, 1920, 1080)} << fullHd << 0 << 2.0 << QSize() << QSize(1920, 1080) << 1 << 1.0
        << false;
    // Qt rounds a fractional scale up to its buffer scale; the mode stays what the output shows.
    QTest::newRow("scale 1.5") << QList<QRect>{QRect(0, 0, 1280, 720)} << fullHd << 0 << 2.0 << QSize(1280, 720)
                               << QSize(1920, 1080) << 1 << 1.5 << true;
    QTest::newRow("scale 1.25") << QList<QRect>{QRect(0, 0, 1536, 864)} << fullHd << 0 << 2.0 << QSize(1536, 864)
                                << QSize(1920, 1080) << 1 << 1.25 << true;
    QTest::newRow("window not full screen")
        << QList<QRect>{QRect(0, 0, 1920, 1080)} << fullHd << 0 << 1.0 << QSize(960, 540) << QSize(1920, 1080) << 1
        << 1.0 << false;
    const QList<QRect> sideBySide{QRect(0, 0, 1280, 720), QRect(1280, 0, 1280, 720)};
    const QList<QSize> twoModes{QSize(1280, 720), QSize(1280, 720)};
    QTest::newRow("shown over both outputs") << sideBySide << twoModes << 0 << 1.0 << QSize(2560, 720)
                                             << QSize(2560, 720) << 2 << 1.0 << true;
    QTest::newRow("shown on the second output") << sideBySide << twoModes << 1 << 1.0 << QSize(1280, 720)
                                                << QSize(1280, 720) << 1 << 1.0 << true;
}

void DesktopCalibrationTest::waylandView()
{
    QFETCH(QList<QRect>, outputs);
    QFETCH(QList<QSize>, modes);
    QFETCH(int, shown);
    QFETCH(qreal, bufferScale);
    QFETCH(QSize, window);
    const CalibrationFrame::WaylandView view = CalibrationFrame::waylandView(outputs, modes, shown, bufferScale, window);
    QTEST(view.size, "frame");
    QTEST(int(view.monitors.size()), "monitors");
    QTEST(view.ratio, "ratio");
    QTEST(view.fromWindow, "fromWindow");
}

QTEST_MAIN(DesktopCalibrationTest)
#include "tst_desktopcalibration.moc"
