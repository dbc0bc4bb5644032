#include "CalibrationHarness.h"
#include "DialogAnswerer.h"

#include "app/Product.h"
#include "calibration/CalibrateArea.h"
#include "calibration/Message.h"
#include "driverlink/Param.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(DialogAnswerer::Action)

namespace {

const QRgb White = qRgb(255, 255, 255);
const QRgb Blue = qRgb(0, 0, 255);
const QRgb Green = qRgb(0, 255, 0);
const QRgb Black = qRgb(0, 0, 0);
const QRgb Red = qRgb(255, 0, 0);

// A frame on white, a little larger than the screen so that the outline's
// right and bottom edges (one pixel past the area) are visible too.
QImage render(const QRect &area, int status, int value, bool drawing = false, const QRect &band = QRect())
{
    QImage image(1030, 775, QImage::Format_RGB32);
    image.fill(White);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    CalibrateArea::paintCalibration(painter, area, status, value, drawing, band);
    return image;
}

QRgb pixel(const QImage &image, int x, int y)
{
    return image.pixel(x, y) | 0xff000000;
}

// First and last x in row y with the colour, or (-1, -1).
QPair<int, int> rowExtent(const QImage &image, int y, QRgb colour)
{
    QPair<int, int> extent(-1, -1);
    for (int x = 0; x < image.width(); ++x) {
        if (pixel(image, x, y) == colour) {
            if (extent.first < 0)
                extent.first = x;
            extent.second = x;
        }
    }
    return extent;
}

// First and last y in column x with the colour, or (-1, -1).
QPair<int, int> columnExtent(const QImage &image, int x, QRgb colour)
{
    QPair<int, int> extent(-1, -1);
    for (int y = 0; y < image.height(); ++y) {
        if (pixel(image, x, y) == colour) {
            if (extent.first < 0)
                extent.first = y;
            extent.second = y;
        }
    }
    return extent;
}

} // namespace

class CalibrateAreaTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void layout_data();
    void layout();

    void outline_data();
    void outline();
    void target_data();
    void target();
    void noTarget_data();
    void noTarget();
    void progressDisc_data();
    void progressDisc();
    void rubberBand_data();
    void rubberBand();

    void windowPaintsRubberBandWhileDragging_data();
    void windowPaintsRubberBandWhileDragging();
    void drags_data();
    void drags();
    void selectorWithoutEntry();
};

void CalibrateAreaTest::initTestCase()
{
    // As in the programs: the calibration window closes before the main window returns.
    QApplication::setQuitOnLastWindowClosed(false);
}

void CalibrateAreaTest::layout_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QRect>("modeBox");
    QTest::addColumn<QRect>("hintLabel");
    QTest::addColumn<QRect>("quitButton");

    for (const char *name : {"pravex_controller", "lunari_controller"}) {
        QTest::addRow("%s 1024x768", name) << QString::fromLatin1(name) << QSize(1024, 768)
                                           << QRect(462, 346, 100, 19) << QRect(462, 365, 100, 38)
                                           << QRect(487, 403, 50, 38);
    }
    // a = 34, b = 19: the halves and quarters are all truncated.
    QTest::newRow("pravex 1366x767") << QStringLiteral("pravex_controller") << QSize(1366, 767)
                                     << QRect(615, 345, 136, 19) << QRect(615, 364, 136, 38)
                                     << QRect(649, 402, 68, 38);
}

void CalibrateAreaTest::layout()
{
    QFETCH(QString, product);
    QFETCH(QSize, screen);
    QFETCH(QRect, modeBox);
    QFETCH(QRect, hintLabel);
    QFETCH(QRect, quitButton);

    TestSupport::useProduct(TestSupport::productByName(qPrintable(product)), screen.width(), screen.height());
    QDialog mainWindow;
    CalibrateArea area(&mainWindow);

    QVERIFY(area.isWindow());
    QVERIFY(!area.isVisible());
    QVERIFY(area.windowTitle().isEmpty());

    const QComboBox *box = area.findChild<QComboBox *>();
    const QLabel *hint = area.findChild<QLabel *>();
    const QPushButton *quit = area.findChild<QPushButton *>();
    QVERIFY(box && hint && quit);
    QCOMPARE(box->geometry(), modeBox);
    QCOMPARE(hint->geometry(), hintLabel);
    QCOMPARE(quit->geometry(), quitButton);

    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), QStringLiteral("Normal mode"));
    QCOMPARE(box->itemText(1), QStringLiteral("Erea mode"));
    QCOMPARE(box->currentIndex(), 0);
    QVERIFY(hint->text().isEmpty());
    QVERIFY(!hint->wordWrap());
    QCOMPARE(quit->text(), QStringLiteral("Quit"));
}

void CalibrateAreaTest::outline_data()
{
    QTest::addColumn<QRect>("area");
    QTest::newRow("whole screen") << QRect(0, 0, 1024, 768);
    QTest::newRow("drawn area") << QRect(100, 100, 500, 400);
}

void CalibrateAreaTest::outline()
{
    QFETCH(QRect, area);
    const QImage image = render(area, 0, 0);
    const int left = area.x();
    const int top = area.y();
    const int right = area.x() + area.width();
    const int bottom = area.y() + area.height();
    const int midX = left + area.width() / 2;
    const int midY = top + area.height() / 2;

    QCOMPARE(pixel(image, left, midY), Blue);
    QCOMPARE(pixel(image, right, midY), Blue);
    QCOMPARE(pixel(image, midX, top), Blue);
    QCOMPARE(pixel(image, midX, bottom), Blue);
    QCOMPARE(pixel(image, left + 1, midY), White);
    QCOMPARE(pixel(image, right - 1, midY), White);
    QCOMPARE(pixel(image, midX, top + 1), White);
    QCOMPARE(pixel(image, midX, bottom - 1), White);
    // A one-pixel outline and nothing else.
    QCOMPARE(TestSupport::countPixels(image, Blue), 2 * (area.width() + area.height()));
    QCOMPARE(TestSupport::countPixels(image, White), image.width() * image.height() - TestSupport::countPixels(image, Blue));
}

void CalibrateAreaTest::target_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<int>("status");
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<int>("radius");

    const QRect screen(0, 0, 1024, 768);
    QTest::newRow("status 1") << screen << 1 << QPoint(102, 76) << 51;
    // 9 x 1024 / 10 = 921 (9 x 102 would be 918).
    QTest::newRow("status 2") << screen << 2 << QPoint(921, 76) << 51;
    // 9 x 768 / 10 = 691 (9 x 76 would be 684).
    QTest::newRow("status 3") << screen << 3 << QPoint(102, 691) << 51;
    // Taller than wide: the radius comes from the width, 300 / 15.
    QTest::newRow("tall area, status 1") << QRect(0, 0, 300, 600) << 1 << QPoint(30, 60) << 20;
    // Offset area: w = 500, h = 400, r = 400 / 15 = 26.
    QTest::newRow("drawn area, status 2") << QRect(100, 100, 500, 400) << 2 << QPoint(550, 140) << 26;
    QTest::newRow("drawn area, status 3") << QRect(100, 100, 500, 400) << 3 << QPoint(150, 460) << 26;
}

void CalibrateAreaTest::target()
{
    QFETCH(QRect, area);
    QFETCH(int, status);
    QFETCH(QPoint, centre);
    QFETCH(int, radius);

    const QImage image = render(area, status, 0);
    const int cx = centre.x();
    const int cy = centre.y();

    // The crosshair spans the circle's diameter in both directions.
    QCOMPARE(rowExtent(image, cy, Black), qMakePair(cx - radius, cx + radius));
    QCOMPARE(columnExtent(image, cx, Black), qMakePair(cy - radius, cy + radius));
    // The circle: on a row above the centre it is the outermost black, at
    // the rounded half-chord left and right.
    const int rise = radius * 3 / 5;
    const int halfChord = qRound(std::sqrt(double(radius * radius - rise * rise)));
    QCOMPARE(rowExtent(image, cy - rise, Black), qMakePair(cx - halfChord, cx + halfChord));
    // Inside the circle only the crosshair is drawn.
    QCOMPARE(pixel(image, cx - radius / 2, cy - radius / 2), White);
    QCOMPARE(TestSupport::countPixels(image, Green), 0);
}

void CalibrateAreaTest::noTarget_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("0") << 0;
    QTest::newRow("4") << 4;
    QTest::newRow("5") << 5;
    QTest::newRow("6") << 6;
    QTest::newRow("-1") << -1;
}

void CalibrateAreaTest::noTarget()
{
    QFETCH(int, status);
    const QImage image = render(QRect(0, 0, 1024, 768), status, 75);
    QCOMPARE(TestSupport::countPixels(image, Black), 0);
    QCOMPARE(TestSupport::countPixels(image, Green), 0);
    QCOMPARE(TestSupport::countPixels(image, Blue), 2 * (1024 + 768));
}

void CalibrateAreaTest::progressDisc_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("bottom");

    // Status 1 of the whole screen: centre (102, 76), r = 51. Extents of the
    // green on the row just below the centre and the column just right of it.
    // p = 75 x 51 / 150 = 25.
    QTest::newRow("75: radius 25") << 75 << 102 - 25 << 102 + 24 << 76 - 24 << 76 + 24;
    // p = 51, the whole circle.
    QTest::newRow("150: radius 51") << 150 << 102 - 50 << 102 + 50 << 76 - 50 << 76 + 50;
    // p = 102, not clamped to the circle: it reaches the screen's left edge.
    QTest::newRow("300: radius 102") << 300 << 0 << 102 + 101 << 0 << 76 + 101;
}

void CalibrateAreaTest::progressDisc()
{
    QFETCH(int, value);
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(int, top);
    QFETCH(int, bottom);

    const QImage image = render(QRect(0, 0, 1024, 768), 1, value);
    QCOMPARE(rowExtent(image, 77, Green), qMakePair(left, right));
    QCOMPARE(columnExtent(image, 103, Green), qMakePair(top, bottom));
    // The crosshair is drawn over the disc.
    QCOMPARE(pixel(image, 102 - 10, 76), Black);
    QCOMPARE(pixel(image, 102, 76 + 10), Black);
}

void CalibrateAreaTest::rubberBand_data()
{
    QTest::addColumn<QRect>("band");
    QTest::addColumn<int>("status");
    QTest::addColumn<QRgb>("edge");

    // The pen is left from the outline (blue) or from the target (black).
    QTest::newRow("down and right") << QRect(100, 100, 500, 400) << 0 << Blue;
    QTest::newRow("up and left") << QRect(600, 500, -500, -400) << 0 << Blue;
    QTest::newRow("up and left over a target") << QRect(600, 500, -500, -400) << 2 << Black;
}

void CalibrateAreaTest::rubberBand()
{
    QFETCH(QRect, band);
    QFETCH(int, status);
    QFETCH(QRgb, edge);

    const QImage image = render(QRect(0, 0, 1024, 768), status, 0, true, band);
    // Both forms cover the pixels from 100 to 600 and from 100 to 500.
    QCOMPARE(pixel(image, 100, 300), edge);
    QCOMPARE(pixel(image, 600, 300), edge);
    QCOMPARE(pixel(image, 300, 100), edge);
    QCOMPARE(pixel(image, 300, 500), edge);
    QCOMPARE(pixel(image, 101, 300), Red);
    QCOMPARE(pixel(image, 599, 499), Red);
    QCOMPARE(pixel(image, 101, 101), Red);
    QCOMPARE(pixel(image, 99, 300), White);
    QCOMPARE(pixel(image, 601, 300), White);
    QCOMPARE(pixel(image, 300, 99), White);
    QCOMPARE(pixel(image, 300, 501), White);
    QCOMPARE(TestSupport::countPixels(image, Red), 499 * 399);

    const QImage notDrawing = render(QRect(0, 0, 1024, 768), status, 0, false, band);
    QCOMPARE(TestSupport::countPixels(notDrawing, Red), 0);
}

void CalibrateAreaTest::windowPaintsRubberBandWhileDragging_data()
{
    QTest::addColumn<int>("calibMode");
    QTest::addColumn<bool>("drawn");
    QTest::addColumn<QString>("endedBy");   // how the calibration ends with the button still held
    QTest::newRow("area mode") << 1 << true << QString();
    QTest::newRow("normal mode") << 0 << false << QString();
    QTest::newRow("held through Quit") << 1 << true << QStringLiteral("Quit");
    QTest::newRow("held through status 4") << 1 << true << QStringLiteral("status 4");
}

void CalibrateAreaTest::windowPaintsRubberBandWhileDragging()
{
    QFETCH(int, calibMode);
    QFETCH(bool, drawn);
    QFETCH(QString, endedBy);

    CalibrationHarness harness(Product::pravex);
    harness.param()->calibMode = calibMode;
    harness.area()->calStart();

    harness.press(QPoint(100, 100));
    harness.move(QPoint(400, 300));
    const QImage dragging = TestSupport::grabbed(*harness.area());
    QCOMPARE(pixel(dragging, 250, 200) == Red, drawn);
    QCOMPARE(pixel(dragging, 401, 200) == Red, false);

    if (!endedBy.isEmpty()) {
        // The hidden window never sees the release; the next calibration, in
        // normal mode, must not take a drag for a band all the same.
        if (endedBy == QLatin1String("Quit"))
            harness.area()->calStop();
        else
            QVERIFY(harness.finishWith(4));
        harness.param()->calibMode = 0;
        harness.area()->calStart();
        harness.move(QPoint(400, 300));
        QCOMPARE(TestSupport::countPixels(TestSupport::grabbed(*harness.area()), Red), 0);
        return;
    }

    // A release below 80 pixels of width ends the band without a question.
    harness.release(QPoint(150, 300));
    QCOMPARE(TestSupport::countPixels(TestSupport::grabbed(*harness.area()), Red), 0);
}

void CalibrateAreaTest::drags_data()
{
    QTest::addColumn<int>("calibMode");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<DialogAnswerer::Action>("answer");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QRect>("edges");   // left, right, top, bottom handed to the driver

    const QStringList none;
    const QStringList tooSmall(QStringLiteral("area is too small!"));
    const QStringList save(QStringLiteral("save the area?"));
    const QRect screen(0, 1024, 0, 768);
    const auto ok = DialogAnswerer::ClickOk;

    QTest::newRow("dragX 79 is ignored") << 1 << QPoint(100, 100) << QPoint(179, 700) << ok << none << screen;
    QTest::newRow("dragX -79 is ignored") << 1 << QPoint(300, 100) << QPoint(221, 700) << ok << none << screen;
    QTest::newRow("dragX 80 is too small") << 1 << QPoint(100, 100) << QPoint(180, 700) << ok << tooSmall << screen;
    QTest::newRow("dragX 255 is too small") << 1 << QPoint(100, 100) << QPoint(355, 700) << ok << tooSmall << screen;
    QTest::newRow("dragY 191 is too small") << 1 << QPoint(100, 100) << QPoint(356, 291) << ok << tooSmall << screen;
    QTest::newRow("dragX 256, dragY 192")
        << 1 << QPoint(100, 100) << QPoint(356, 292) << ok << save << QRect(100, 356, 100, 292);
    // Points off the screen count as on its edge, rules included.
    QTest::newRow("past the top edge")
        << 1 << QPoint(100, 300) << QPoint(400, -100) << ok << save << QRect(100, 400, 0, 300);
    QTest::newRow("past the right and bottom edges")
        << 1 << QPoint(600, 400) << QPoint(1300, 900) << ok << save << QRect(600, 1024, 400, 768);
    QTest::newRow("too small once held on the screen")
        << 1 << QPoint(900, 100) << QPoint(1300, 700) << ok << tooSmall << screen;
    QTest::newRow("press beside the screen") << 1 << QPoint(-50, 100) << QPoint(600, 700) << ok << none << screen;
    QTest::newRow("up and left, OK")
        << 1 << QPoint(600, 500) << QPoint(100, 100) << ok << save << QRect(100, 600, 100, 500);
    QTest::newRow("up and left, Cancel")
        << 1 << QPoint(600, 500) << QPoint(100, 100) << DialogAnswerer::ClickCancel << save << screen;
    QTest::newRow("up and left, Escape")
        << 1 << QPoint(600, 500) << QPoint(100, 100) << DialogAnswerer::PressEscape << save << screen;
    QTest::newRow("up and left, closed")
        << 1 << QPoint(600, 500) << QPoint(100, 100) << DialogAnswerer::CloseWindow << save << screen;
    QTest::newRow("normal mode ignores drags") << 0 << QPoint(600, 500) << QPoint(100, 100) << ok << none << screen;
    // Only index 0 stops the release rules.
    QTest::newRow("selector without entry")
        << -1 << QPoint(600, 500) << QPoint(100, 100) << ok << save << QRect(100, 600, 100, 500);
}

void CalibrateAreaTest::drags()
{
    QFETCH(int, calibMode);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(DialogAnswerer::Action, answer);
    QFETCH(QStringList, dialogs);
    QFETCH(QRect, edges);

    CalibrationHarness harness(Product::pravex);
    harness.param()->calibMode = calibMode;
    harness.area()->calStart();

    {
        DialogAnswerer answerer(answer);
        harness.drag(from, to);
        QCOMPARE(answerer.seen(), dialogs);
    }

    // The area reaches the driver when the calibration ends.
    QVERIFY(harness.finishWith(4));
    const DriverSim::CalibrateEndRequest end = harness.controller().lastCalibrateEnd;
    QVERIFY(end.received);
    QCOMPARE(end.mode, calibMode & 0xff);
    QCOMPARE(end.left, edges.x() & 0xffff);
    QCOMPARE(end.right, edges.y() & 0xffff);
    QCOMPARE(end.top, edges.width() & 0xffff);
    QCOMPARE(end.bottom, edges.height() & 0xffff);
}

void CalibrateAreaTest::selectorWithoutEntry()
{
    CalibrationHarness harness(Product::lunari);
    harness.param()->calibMode = -1;
    harness.area()->calStart();

    const QComboBox *box = harness.area()->findChild<QComboBox *>();
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(box->count(), 2);
    // No mode action ran, so no mode was sent.
    QCOMPARE(CalibrationHarness::trafficWithoutPolls(),
             QStringList() << QStringLiteral("SetOutPut(0)") << QStringLiteral("CalibrateStart"));

    harness.press(QPoint(100, 100));
    harness.move(QPoint(400, 300));
    QCOMPARE(TestSupport::countPixels(TestSupport::grabbed(*harness.area()), Red), 0);
    harness.release(QPoint(150, 300));
}

QTEST_MAIN(CalibrateAreaTest)
#include "tst_calibratearea.moc"
