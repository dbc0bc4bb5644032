#include "tests/support/PaintCounter.h"
#include "driverlink/Param.h"
#include "signalviews/WaveGraph.h"
#include "tests/support/TestSupport.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QtTest>

#include <vector>

namespace {

const QRgb Background = qRgb(0, 255, 0);
const QRgb Ink = qRgb(40, 40, 40);
const QRgb Red = qRgb(255, 0, 0);
const QRgb Blue = qRgb(0, 0, 255);
const int OutlinePixels = 2 * 741 + 2 * 249;

using TestSupport::countPixels;

QImage chart(const std::vector<int> &samples, int count, int threshold)
{
    QImage image(741, 251, QImage::Format_RGB32);
    image.fill(Background);
    QPainter painter(&image);
    painter.setPen(QPen(QColor(Ink), 1));
    WaveGraph::paintChart(painter, samples.data(), count, threshold);
    return image;
}

} // namespace

class TestWaveGraph : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void barHeight_data();
    void barHeight();
    void thresholdLine_data();
    void thresholdLine();
    void barColour_data();
    void barColour();
    void barsTileTheChart_data();
    void barsTileTheChart();
    void noBars_data();
    void noBars();
    void widgetPaintsCurrentThresholdWithPalettePen();
    void newCountWaitsForTheOwnersRepaint();
};

void TestWaveGraph::initTestCase()
{
    TestSupport::useProduct(Product::pravex);
}

void TestWaveGraph::barHeight_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("height");
    QTest::newRow("-100") << -100 << 0;
    QTest::newRow("-5") << -5 << 0;
    QTest::newRow("-3") << -3 << 0;
    QTest::newRow("0") << 0 << 4;
    QTest::newRow("1") << 1 << 6;
    QTest::newRow("149") << 149 << 248;
    QTest::newRow("150") << 150 << 250;
    QTest::newRow("255") << 255 << 250;
    QTest::newRow("1000") << 1000 << 250;
}

void TestWaveGraph::barHeight()
{
    QFETCH(int, value);
    QFETCH(int, height);
    // A threshold above 150 keeps the line out of sight and every bar red.
    const QImage image = chart({value}, 1, 255);
    for (int row = 1; row < 250; ++row) {
        const QRgb expected = row >= 250 - height ? Red : Background;
        QCOMPARE(image.pixel(370, row), expected);
    }
    QCOMPARE(image.pixel(370, 0), Ink);
    QCOMPARE(image.pixel(370, 250), Ink);
}

void TestWaveGraph::thresholdLine_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("row");   // -1: above the chart
    QTest::newRow("0") << 0 << 246;
    QTest::newRow("8") << 8 << 233;
    QTest::newRow("18") << 18 << 216;
    QTest::newRow("127") << 127 << 38;
    QTest::newRow("150") << 150 << 0;
    QTest::newRow("151") << 151 << -1;
    QTest::newRow("255") << 255 << -1;
}

void TestWaveGraph::thresholdLine()
{
    QFETCH(int, threshold);
    QFETCH(int, row);
    const QImage image = chart({}, 0, threshold);
    if (row >= 0) {
        for (int x = 0; x <= 740; ++x)
            QCOMPARE(image.pixel(x, row), Ink);
    }
    const bool inside = row > 0 && row < 250;
    QCOMPARE(countPixels(image, Ink), OutlinePixels + (inside ? 739 : 0));
}

void TestWaveGraph::barColour_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("value");
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("0: 0") << 0 << 0 << Blue;
    QTest::newRow("8: 7") << 8 << 7 << Red;
    QTest::newRow("8: 8") << 8 << 8 << Blue;
    QTest::newRow("18: 17") << 18 << 17 << Red;
    QTest::newRow("18: 18") << 18 << 18 << Blue;
    QTest::newRow("127: 126") << 127 << 126 << Red;
    QTest::newRow("127: 127") << 127 << 127 << Blue;
    QTest::newRow("150: 149") << 150 << 149 << Red;
    QTest::newRow("150: 150") << 150 << 150 << Blue;
    QTest::newRow("151: 255") << 151 << 255 << Red;
    QTest::newRow("255: 255") << 255 << 255 << Red;
}

void TestWaveGraph::barColour()
{
    QFETCH(int, threshold);
    QFETCH(int, value);
    QFETCH(QRgb, colour);
    const QImage image = chart({value}, 1, threshold);
    QCOMPARE(image.pixel(370, 249), colour);
    QCOMPARE(countPixels(image, colour == Red ? Blue : Red), 0);
}

void TestWaveGraph::barsTileTheChart_data()
{
    QTest::addColumn<int>("count");
    // First columns of the bars after the first; column 1 never shows as one,
    // since column 0 under the outline holds no bar colour to differ from.
    QTest::addColumn<QList<int>>("firstColumns");
    QTest::newRow("1") << 1 << QList<int>{};
    QTest::newRow("3") << 3 << QList<int>{246, 493};
    QTest::newRow("7") << 7 << QList<int>{105, 211, 317, 422, 528, 634};
    QList<int> everyColumn;
    for (int x = 2; x < 740; ++x)
        everyColumn << x;
    QTest::newRow("740") << 740 << everyColumn;
}

void TestWaveGraph::barsTileTheChart()
{
    QFETCH(int, count);
    QFETCH(QList<int>, firstColumns);
    // Full blue bars alternate with low red ones, so every bar edge shows.
    std::vector<int> samples(count);
    for (int i = 0; i < count; ++i)
        samples[i] = i % 2 ? 0 : 150;
    const QImage image = chart(samples, count, 18);

    QList<int> edges;
    for (int x = 1; x < 740; ++x) {
        const QRgb pixel = image.pixel(x, 249);
        QVERIFY2(pixel == Red || pixel == Blue, qPrintable(QStringLiteral("gap at column %1").arg(x)));
        if (x > 1 && pixel != image.pixel(x - 1, 249))
            edges << x;
    }
    QCOMPARE(edges, firstColumns);
    QCOMPARE(image.pixel(740, 249), Ink);
}

void TestWaveGraph::noBars_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("741") << 741;
    QTest::newRow("1000") << 1000;
}

void TestWaveGraph::noBars()
{
    QFETCH(int, count);
    const std::vector<int> samples(1000, 150);
    const QImage image = chart(samples, count, 18);
    QCOMPARE(countPixels(image, Red) + countPixels(image, Blue), 0);
    QCOMPARE(countPixels(image, Ink), OutlinePixels + 739);
    QCOMPARE(image.pixel(370, 216), Ink);
}

void TestWaveGraph::widgetPaintsCurrentThresholdWithPalettePen()
{
    Param *param = TestSupport::useProduct(Product::pravex);
    QWidget parent;
    int samples[128] = {17, 18};
    WaveGraph graph(&parent, samples, 2);
    graph.setGeometry(0, 0, 741, 251);
    QPalette palette = graph.palette();
    palette.setColor(QPalette::WindowText, QColor(Ink));
    graph.setPalette(palette);

    param->threshold = 18;
    QImage image = TestSupport::grabbed(graph);
    QCOMPARE(image.pixel(100, 249), Red);
    QCOMPARE(image.pixel(500, 249), Blue);
    QCOMPARE(image.pixel(370, 216), Ink);
    QCOMPARE(image.pixel(0, 100), Ink);
    QCOMPARE(image.pixel(740, 100), Ink);

    param->threshold = 17;
    image = TestSupport::grabbed(graph);
    QCOMPARE(image.pixel(100, 249), Blue);
    QCOMPARE(image.pixel(370, 218), Ink);
}

void TestWaveGraph::newCountWaitsForTheOwnersRepaint()
{
    TestSupport::useProduct(Product::pravex);
    QWidget parent;
    parent.resize(800, 300);
    int samples[128] = {};
    WaveGraph graph(&parent, samples, 4);
    graph.setGeometry(0, 0, 741, 251);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    waitForQuietPaints(parent);

    PaintCounter counter;
    graph.installEventFilter(&counter);
    graph.setWaveGraphParam(8);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);

    graph.update();
    QTRY_COMPARE(counter.paints, 1);
}

QTEST_MAIN(TestWaveGraph)
#include "tst_wavegraph.moc"
