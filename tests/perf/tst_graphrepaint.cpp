#include "tests/support/PaintCounter.h"
#include "app/Product.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "signalviews/Graph.h"
#include "signalviews/SensorMap.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QtTest>

#include <array>
#include <vector>

namespace {

const QRgb Red = qRgb(255, 0, 0);
const QRgb Untouched = qRgb(1, 2, 3);

using TestSupport::TouchBlock;
using TestSupport::onScreen;
using TestSupport::touchBlock;

} // namespace

Q_DECLARE_METATYPE(TouchBlock)

class TestGraphRepaint : public QObject
{
    Q_OBJECT

private slots:
    void paintedAreaHoldsWhatIsPainted_data();
    void paintedAreaHoldsWhatIsPainted();
    void ticksRepaintOnlyTheMap();
    void discBeyondTheMapIsDrawnAndWiped();
};

void TestGraphRepaint::paintedAreaHoldsWhatIsPainted_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<TouchBlock>("touch");

    QTest::newRow("no touch") << 40 << touchBlock(0, {});
    QTest::newRow("centre") << 40 << touchBlock(1, {{2048, 2048}});
    QTest::newRow("corners") << 40 << touchBlock(2, {{0, 0}, {4095, 4095}});
    QTest::newRow("beyond the driver's range") << 40 << touchBlock(2, {{8191, 100}, {100, 8191}});
    QTest::newRow("no cells, disc beyond") << 0 << touchBlock(1, {{6000, 6000}});
    QVector<QPoint> spread;
    for (int i = 0; i < 31; ++i)
        spread << QPoint(i * 260, 8000 - i * 258);
    QTest::newRow("count byte above 31") << 255 << touchBlock(200, spread);
}

void TestGraphRepaint::paintedAreaHoldsWhatIsPainted()
{
    QFETCH(int, layout);
    QFETCH(TouchBlock, touch);
    std::vector<unsigned char> matrix(static_cast<std::size_t>(layout * layout), 20);

    // Large enough for a disc at the far end of an 8191 coordinate.
    QImage image(1700, 1300, QImage::Format_RGB32);
    image.fill(Untouched);
    SensorMap map;
    {
        QPainter painter(&image);
        map.paint(painter, matrix.data(), layout, layout, touch.data());
    }

    QRect changed;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] != Untouched)
                changed |= QRect(x, y, 1, 1);
        }
    }
    const QRect area = SensorMap::paintedArea(touch.data());
    QVERIFY2(area.contains(changed), qPrintable(QStringLiteral("painted %1,%2 %3x%4 outside the area")
                                                    .arg(changed.x()).arg(changed.y())
                                                    .arg(changed.width()).arg(changed.height())));
    // No larger than the map and what was painted, so a tick repaints no more than it must.
    const QRect mapRect(SensorMap::Left, SensorMap::Top, SensorMap::Width, SensorMap::Height);
    QVERIFY((changed | mapRect).adjusted(-1, -1, 1, 1).contains(area));
}

void TestGraphRepaint::ticksRepaintOnlyTheMap()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.layoutX = 40;
    driver.layoutY = 30;
    QCOMPARE(GetBasicStatus(param), 1);

    Graph graph;
    TestSupport::stopPolling(graph);
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));
    waitForQuietPaints(graph);
    PaintCounter window;
    PaintCounter button;
    PaintCounter slider;
    graph.installEventFilter(&window);
    graph.findChild<QPushButton *>(QStringLiteral("plusButton"))->installEventFilter(&button);
    graph.findChild<QSlider *>(QStringLiteral("thresholdSlider"))->installEventFilter(&slider);

    for (int tick = 0; tick < 3; ++tick) {
        const int before = window.paints;
        graph.rePaint();
        QTRY_VERIFY(window.paints > before);
    }
    QCOMPARE(button.paints, 0);
    QCOMPARE(slider.paints, 0);
}

void TestGraphRepaint::discBeyondTheMapIsDrawnAndWiped()
{
    DriverSim::Controller &driver = TestSupport::stillSensorMap(8, 6, 20);
    // X 4146 is past the driver's 4095: the disc covers x 816 to 831, right of the map's edge at 815.
    const TouchBlock beyond = touchBlock(1, {{4146, 2048}});
    std::copy(beyond.begin(), beyond.begin() + driver.touchBlock.size(), driver.touchBlock.begin());
    QCOMPARE(GetBasicStatus(Param::getInst()), 1);

    Graph graph;
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));
    const QRgb background = onScreen(graph).pixel(826, 370);
    QVERIFY(background != Red);

    graph.rePaint();
    QTRY_COMPARE(onScreen(graph).pixel(826, 370), Red);

    driver.touchBlock.fill(0);
    graph.rePaint();
    QTRY_COMPARE(onScreen(graph).pixel(826, 370), background);
}

QTEST_MAIN(TestGraphRepaint)
#include "tst_graphrepaint.moc"
