#include "tests/support/PaintCounter.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "signalviews/Graph.h"
#include "signalviews/WaveGraph.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

using DriverSim::Exchange;

const QRgb Red = qRgb(255, 0, 0);
const QRgb Blue = qRgb(0, 0, 255);

// Threshold values written to the driver since the last transcript clear.
QList<int> thresholdWrites()
{
    QList<int> values;
    const int code = Product::active().commands.setThreshold;
    for (const Exchange &exchange : TestSupport::exchanges(Exchange::Write, code))
        values << (exchange.bytes.size() > 1 ? exchange.bytes[1] : -1);
    return values;
}

int writes()
{
    int n = 0;
    for (const Exchange &exchange : DriverSim::transcript())
        n += exchange.kind == Exchange::Write;
    return n;
}

QSlider *slider(Graph &graph)
{
    return graph.findChild<QSlider *>(QStringLiteral("thresholdSlider"));
}

QLabel *thresholdLabel(Graph &graph)
{
    return graph.findChild<QLabel *>(QStringLiteral("thresholdLabel"));
}

QPushButton *button(Graph &graph, const char *name)
{
    return graph.findChild<QPushButton *>(QLatin1String(name));
}

QLabel *channelLabel(Graph &graph, int i)
{
    return graph.findChild<QLabel *>(QStringLiteral("channelLabel%1").arg(i));
}

WaveGraph *waveGraph(Graph &graph, const char *name)
{
    return graph.findChild<WaveGraph *>(QLatin1String(name));
}

// First program's samples: even channels high (blue bars), odd ones low, all distinct.
unsigned char sampleOf(int channel)
{
    return static_cast<unsigned char>(channel % 2 ? channel / 2 : 150 + channel / 2);
}

void useWaveSamples(int layoutX, int layoutY, int channelCount)
{
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    driver.layoutX = layoutX;
    driver.layoutY = layoutY;
    driver.channelCount = channelCount;
    for (int i = 0; i < 128; ++i)
        driver.samples[i] = sampleOf(i);
}

// Marks every text of the "Graph" context, to show it went through translation.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char * = nullptr, int = -1) const override
    {
        if (qstrcmp(context, "Graph") == 0)
            return QLatin1Char('<') + QLatin1String(source) + QLatin1Char('>');
        return QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestGraph : public QObject
{
    Q_OBJECT

private slots:
    void construction_data();
    void construction();
    void textsGoThroughTranslation();
    void storedThresholdOutsideTheRange_data();
    void storedThresholdOutsideTheRange();
    void stepBeyondAnEnd_data();
    void stepBeyondAnEnd();
    void eachStepSendsOneCommand_data();
    void eachStepSendsOneCommand();
    void channelLabelsAndSamples_data();
    void channelLabelsAndSamples();
    void layoutReReadAfterFailedTick();
    void countsBeyondTheLimits_data();
    void countsBeyondTheLimits();
    void sensorMapFollowsTheDriver();
    void failedTickKeepsThePicture_data();
    void failedTickKeepsThePicture();
    void windowsOpenedOneAfterTheOther();
};

void TestGraph::construction_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("label");
    QTest::addColumn<QRect>("minus");
    QTest::addColumn<QRect>("sliderRect");
    QTest::addColumn<QRect>("plus");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("labelText");
    QTest::addColumn<QList<int>>("refreshCodes");   // queries of one refresh, in order

    QTest::newRow("pravex") << "pravex_controller" << "Test" << QSize(770, 595)
                            << QRect(15, 15, 105, 35) << QRect(161, 15, 35, 35) << QRect(237, 15, 440, 35)
                            << QRect(718, 15, 35, 35) << 8 << 127 << 200 << "Threshold:18" << QList<int>{100};
    QTest::newRow("lunari") << "lunari_controller" << "Graph" << QSize(830, 685)
                            << QRect(15, 15, 120, 40) << QRect(150, 15, 40, 40) << QRect(205, 15, 420, 40)
                            << QRect(640, 15, 40, 40) << 4 << 50 << 80 << "Threshold:30" << QList<int>{66, 70};
}

void TestGraph::construction()
{
    QFETCH(QString, program);
    QFETCH(QString, title);
    QFETCH(QSize, size);
    QFETCH(QRect, label);
    QFETCH(QRect, minus);
    QFETCH(QRect, sliderRect);
    QFETCH(QRect, plus);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, interval);
    QFETCH(QString, labelText);
    QFETCH(QList<int>, refreshCodes);
    const Product &product = TestSupport::productByName(program.toLatin1().constData());
    Param *param = TestSupport::useProduct(product);
    // As the main window leaves it: the layout and driver version read.
    QCOMPARE(GetBasicStatus(param), 1);
    param->threshold = product.threshold.initial;
    DriverSim::clearTranscript();
    const bool waveGraphs = product.signalView == SignalView::WaveGraphs;

    Graph graph;
    QCOMPARE(writes(), 0);
    QCOMPARE(graph.windowTitle(), title);
    QCOMPARE(graph.size(), size);
    QVERIFY(!graph.parent());
    QCOMPARE(thresholdLabel(graph)->geometry(), label);
    QCOMPARE(thresholdLabel(graph)->text(), labelText);
    QCOMPARE(button(graph, "minusButton")->geometry(), minus);
    QCOMPARE(button(graph, "minusButton")->text(), QStringLiteral("-"));
    QCOMPARE(button(graph, "plusButton")->geometry(), plus);
    QCOMPARE(button(graph, "plusButton")->text(), QStringLiteral("+"));
    QSlider *s = slider(graph);
    QCOMPARE(s->geometry(), sliderRect);
    QCOMPARE(s->orientation(), Qt::Horizontal);
    QCOMPARE(s->minimum(), minimum);
    QCOMPARE(s->maximum(), maximum);
    QCOMPARE(s->pageStep(), 1);
    QCOMPARE(s->value(), product.threshold.initial);

    const QList<QTimer *> timers = graph.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first()->interval(), interval);
    QVERIFY(timers.first()->isActive());

    if (waveGraphs) {
        QCOMPARE(waveGraph(graph, "waveGraphX")->geometry(), QRect(15, 65, 741, 251));
        QCOMPARE(waveGraph(graph, "waveGraphY")->geometry(), QRect(15, 330, 741, 251));
        for (int i = 0; i < 128; ++i)
            QVERIFY(channelLabel(graph, i) && channelLabel(graph, i)->text().isEmpty());
        // The labels come after the charts, so they stack above them.
        const QObjectList children = graph.children();
        QVERIFY(children.indexOf(channelLabel(graph, 0)) > children.indexOf(waveGraph(graph, "waveGraphY")));
    } else {
        QVERIFY(graph.findChildren<WaveGraph *>().isEmpty());
        QVERIFY(!channelLabel(graph, 0));
    }

    // The timer drives the product's own refresh.
    QTRY_VERIFY(!TestSupport::exchanges(Exchange::Read, refreshCodes.last()).empty());
    QList<int> codes;
    for (const Exchange &exchange : DriverSim::transcript()) {
        if (exchange.kind == Exchange::Read && codes.size() < refreshCodes.size())
            codes << exchange.code;
    }
    QCOMPARE(codes, refreshCodes);
    QCOMPARE(writes(), 0);
}

void TestGraph::textsGoThroughTranslation()
{
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        Param *param = TestSupport::useProduct(*product);
        MarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        Graph graph;
        QCOMPARE(graph.windowTitle(), QLatin1Char('<') + QLatin1String(product->graph.title) + QLatin1Char('>'));
        QCOMPARE(thresholdLabel(graph)->text(), QStringLiteral("<Threshold:>%1").arg(param->threshold));
        slider(graph)->setValue(10);
        QCOMPARE(thresholdLabel(graph)->text(), QStringLiteral("<Threshold:>10"));
        QCOMPARE(button(graph, "minusButton")->text(), QStringLiteral("<->"));
        QCOMPARE(button(graph, "plusButton")->text(), QStringLiteral("<+>"));
        QCoreApplication::removeTranslator(&translator);
    }
}

void TestGraph::storedThresholdOutsideTheRange_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("sliderValue");
    QTest::newRow("pravex 0") << "pravex_controller" << 0 << 8;
    QTest::newRow("pravex 7") << "pravex_controller" << 7 << 8;
    QTest::newRow("pravex 128") << "pravex_controller" << 128 << 127;
    QTest::newRow("pravex 255") << "pravex_controller" << 255 << 127;
    QTest::newRow("lunari 3") << "lunari_controller" << 3 << 4;
    QTest::newRow("lunari 51") << "lunari_controller" << 51 << 50;
}

void TestGraph::storedThresholdOutsideTheRange()
{
    QFETCH(QString, program);
    QFETCH(int, stored);
    QFETCH(int, sliderValue);
    Param *param = TestSupport::useProduct(TestSupport::productByName(program.toLatin1().constData()));
    param->threshold = stored;

    Graph graph;
    QCOMPARE(slider(graph)->value(), sliderValue);
    QCOMPARE(thresholdLabel(graph)->text(), QStringLiteral("Threshold:%1").arg(stored));
    QCOMPARE(param->threshold, stored);
    QCOMPARE(thresholdWrites(), QList<int>());
}

void TestGraph::stepBeyondAnEnd_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QString>("buttonName");
    QTest::newRow("pravex + at 127") << "pravex_controller" << 127 << "plusButton";
    QTest::newRow("pravex - at 8") << "pravex_controller" << 8 << "minusButton";
    QTest::newRow("pravex - below 8") << "pravex_controller" << 2 << "minusButton";
    QTest::newRow("lunari + at 50") << "lunari_controller" << 50 << "plusButton";
    QTest::newRow("lunari - at 4") << "lunari_controller" << 4 << "minusButton";
    QTest::newRow("lunari + above 50") << "lunari_controller" << 99 << "plusButton";
}

void TestGraph::stepBeyondAnEnd()
{
    QFETCH(QString, program);
    QFETCH(int, threshold);
    QFETCH(QString, buttonName);
    Param *param = TestSupport::useProduct(TestSupport::productByName(program.toLatin1().constData()));
    param->threshold = threshold;
    Graph graph;
    const int sliderValue = slider(graph)->value();
    const QString text = thresholdLabel(graph)->text();

    button(graph, buttonName.toLatin1().constData())->click();
    QCOMPARE(slider(graph)->value(), sliderValue);
    QCOMPARE(param->threshold, threshold);
    QCOMPARE(thresholdLabel(graph)->text(), text);
    QCOMPARE(thresholdWrites(), QList<int>());
}

void TestGraph::eachStepSendsOneCommand_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("steps");   // "+", "-", "page up", or a slider position
    QTest::addColumn<QList<int>>("sent");
    QTest::newRow("pravex +") << "pravex_controller" << 18 << "+" << QList<int>{19};
    QTest::newRow("pravex -") << "pravex_controller" << 18 << "-" << QList<int>{17};
    QTest::newRow("pravex + +") << "pravex_controller" << 18 << "+ +" << QList<int>{19, 20};
    QTest::newRow("pravex + -") << "pravex_controller" << 18 << "+ -" << QList<int>{19, 18};
    QTest::newRow("pravex page up") << "pravex_controller" << 18 << "pageup" << QList<int>{19};
    QTest::newRow("pravex drag") << "pravex_controller" << 18 << "100" << QList<int>{100};
    QTest::newRow("pravex + to the end") << "pravex_controller" << 126 << "+ + +" << QList<int>{127};
    QTest::newRow("pravex - from above") << "pravex_controller" << 200 << "-" << QList<int>{126};
    QTest::newRow("lunari +") << "lunari_controller" << 30 << "+" << QList<int>{31};
    QTest::newRow("lunari -") << "lunari_controller" << 30 << "-" << QList<int>{29};
    QTest::newRow("lunari + from below") << "lunari_controller" << 3 << "+" << QList<int>{5};
    QTest::newRow("lunari drag past the end") << "lunari_controller" << 30 << "70" << QList<int>{50};
    QTest::newRow("lunari - to the end") << "lunari_controller" << 5 << "- - -" << QList<int>{4};
}

void TestGraph::eachStepSendsOneCommand()
{
    QFETCH(QString, program);
    QFETCH(int, stored);
    QFETCH(QString, steps);
    QFETCH(QList<int>, sent);
    Param *param = TestSupport::useProduct(TestSupport::productByName(program.toLatin1().constData()));
    param->threshold = stored;
    Graph graph;

    const QStringList list = steps.split(QLatin1Char(' '));
    for (const QString &step : list) {
        if (step == QLatin1String("+"))
            button(graph, "plusButton")->click();
        else if (step == QLatin1String("-"))
            button(graph, "minusButton")->click();
        else if (step == QLatin1String("pageup"))
            QTest::keyClick(slider(graph), Qt::Key_PageUp);
        else
            slider(graph)->setValue(step.toInt());
    }
    QCOMPARE(thresholdWrites(), sent);
    QCOMPARE(param->threshold, sent.last());
    QCOMPARE(slider(graph)->value(), sent.last());
    QCOMPARE(thresholdLabel(graph)->text(), QStringLiteral("Threshold:%1").arg(sent.last()));
    QCOMPARE(TestSupport::simulated().threshold, sent.last());
}

void TestGraph::channelLabelsAndSamples_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("first X") << 0 << QRect(15, 66, 37, 15) << "1";
    QTest::newRow("second X") << 1 << QRect(52, 66, 37, 15) << "2";
    QTest::newRow("last X") << 19 << QRect(718, 66, 37, 15) << "20";
    QTest::newRow("first Y") << 20 << QRect(15, 331, 61, 15) << "21";
    QTest::newRow("second Y") << 21 << QRect(76, 331, 61, 15) << "22";
    QTest::newRow("last Y") << 31 << QRect(693, 331, 61, 15) << "32";
}

void TestGraph::channelLabelsAndSamples()
{
    QFETCH(int, index);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    Param *param = TestSupport::useProduct(Product::pravex);
    std::fill(std::begin(param->waveX), std::end(param->waveX), -7);
    std::fill(std::begin(param->waveY), std::end(param->waveY), -7);
    useWaveSamples(20, 12, 32);

    Graph graph;
    graph.repaint();
    QCOMPARE(channelLabel(graph, index)->geometry(), geometry);
    QCOMPARE(channelLabel(graph, index)->text(), text);
    for (int i = 32; i < 128; ++i)
        QVERIFY(channelLabel(graph, i)->text().isEmpty());

    for (int k = 0; k < 20; ++k)
        QCOMPARE(param->waveX[k], int(sampleOf(k)));
    QCOMPARE(param->waveX[20], -7);
    for (int k = 0; k < 12; ++k)
        QCOMPARE(param->waveY[k], int(sampleOf(20 + k)));
    QCOMPARE(param->waveY[12], -7);

    // The bars keep the labels' pitch: 37 pixels for X, 61 for Y.
    const QImage x = TestSupport::grabbed(*waveGraph(graph, "waveGraphX"));
    QCOMPARE(x.pixel(36, 249), Blue);
    QCOMPARE(x.pixel(37, 249), Red);
    const QImage y = TestSupport::grabbed(*waveGraph(graph, "waveGraphY"));
    QCOMPARE(y.pixel(60, 249), Blue);
    QCOMPARE(y.pixel(61, 249), Red);
}

void TestGraph::layoutReReadAfterFailedTick()
{
    Param *param = TestSupport::useProduct(Product::pravex);
    useWaveSamples(20, 12, 32);
    Graph graph;
    graph.repaint();
    QCOMPARE(channelLabel(graph, 10)->geometry(), QRect(385, 66, 37, 15));

    // A new layout alone is not looked at while the ticks succeed.
    useWaveSamples(10, 6, 16);
    graph.repaint();
    QCOMPARE(channelLabel(graph, 10)->geometry(), QRect(385, 66, 37, 15));
    QCOMPARE(channelLabel(graph, 10)->text(), QStringLiteral("11"));

    TestSupport::simulated().failReads = 1;
    TestSupport::simulated().samples[0] = 99;
    graph.repaint();
    QCOMPARE(param->waveX[0], int(sampleOf(0)));
    QCOMPARE(channelLabel(graph, 10)->geometry(), QRect(385, 66, 37, 15));

    DriverSim::clearTranscript();
    graph.repaint();
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 102).size(), size_t(1));
    QCOMPARE(param->waveX[0], 99);
    QCOMPARE(channelLabel(graph, 0)->geometry(), QRect(15, 66, 74, 15));
    QCOMPARE(channelLabel(graph, 9)->geometry(), QRect(681, 66, 74, 15));
    QCOMPARE(channelLabel(graph, 10)->geometry(), QRect(15, 331, 123, 15));
    QCOMPARE(channelLabel(graph, 10)->text(), QStringLiteral("11"));
    QCOMPARE(channelLabel(graph, 15)->geometry(), QRect(631, 331, 123, 15));
    QCOMPARE(channelLabel(graph, 15)->text(), QStringLiteral("16"));
    // Labels past the new layout stay where the old one put them.
    QCOMPARE(channelLabel(graph, 16)->geometry(), QRect(607, 66, 37, 15));
    QCOMPARE(channelLabel(graph, 16)->text(), QStringLiteral("17"));
    QCOMPARE(channelLabel(graph, 31)->geometry(), QRect(693, 331, 61, 15));

    const QImage x = TestSupport::grabbed(*waveGraph(graph, "waveGraphX"));
    QCOMPARE(x.pixel(73, 249), Blue);
    QCOMPARE(x.pixel(74, 249), Red);

    // Only the tick after a failure reads the status.
    DriverSim::clearTranscript();
    graph.repaint();
    QCOMPARE(TestSupport::exchanges(Exchange::Read, 102).size(), size_t(0));
}

void TestGraph::countsBeyondTheLimits_data()
{
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::addColumn<int>("channelCount");
    QTest::addColumn<int>("xChannels");   // channels drawn and labelled per axis
    QTest::addColumn<int>("yChannels");
    QTest::addColumn<int>("labels");
    QTest::addColumn<QRect>("lastLabel");
    QTest::newRow("255 255 255") << 255 << 255 << 255 << 128 << 0 << 128 << QRect(749, 66, 5, 15);
    QTest::newRow("0 0 0") << 0 << 0 << 0 << 0 << 0 << 0 << QRect();
    QTest::newRow("0 0 255") << 0 << 0 << 255 << 0 << 0 << 0 << QRect();
    QTest::newRow("0 12 20") << 0 << 12 << 20 << 0 << 12 << 20 << QRect(1186, 331, 61, 15);
    QTest::newRow("20 0 32") << 20 << 0 << 32 << 20 << 0 << 20 << QRect(718, 66, 37, 15);
    QTest::newRow("100 100 200") << 100 << 100 << 200 << 100 << 28 << 128 << QRect(728, 331, 26, 15);
    QTest::newRow("0 255 255") << 0 << 255 << 255 << 0 << 128 << 128 << QRect(749, 331, 5, 15);
    QTest::newRow("127 255 130") << 127 << 255 << 130 << 127 << 1 << 128 << QRect(15, 331, 740, 15);
    QTest::newRow("128 10 255") << 128 << 10 << 255 << 128 << 0 << 128 << QRect(749, 66, 5, 15);
    QTest::newRow("20 12 0") << 20 << 12 << 0 << 20 << 12 << 20 << QRect(718, 66, 37, 15);
}

void TestGraph::countsBeyondTheLimits()
{
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    QFETCH(int, channelCount);
    QFETCH(int, xChannels);
    QFETCH(int, yChannels);
    QFETCH(int, labels);
    QFETCH(QRect, lastLabel);
    Param *param = TestSupport::useProduct(Product::pravex);

    // The charts paint before the first tick lays them out: from the start
    // they must not count past the X values into the Y ones.
    param->layoutX = layoutX;
    param->layoutY = layoutY;
    param->channelCount = channelCount;
    std::fill(std::begin(param->waveX), std::end(param->waveX), 0);
    std::fill(std::begin(param->waveY), std::end(param->waveY), 255);
    {
        Graph fresh;
        QVERIFY(TestSupport::grabbed(*waveGraph(fresh, "waveGraphX")).pixel(700, 125) != Blue);
    }

    std::fill(std::begin(param->waveX), std::end(param->waveX), -7);
    std::fill(std::begin(param->waveY), std::end(param->waveY), -7);
    std::fill(param->matrix, param->matrix + 4, 0xA5);
    useWaveSamples(layoutX, layoutY, channelCount);

    Graph graph;
    graph.repaint();
    graph.repaint();
    QCOMPARE(KerDecode::graphChannels(layoutX, layoutY, channelCount).x, xChannels);
    QCOMPARE(KerDecode::graphChannels(layoutX, layoutY, channelCount).y, yChannels);

    int placed = 0;
    for (int i = 0; i < 128; ++i)
        placed += !channelLabel(graph, i)->text().isEmpty();
    QCOMPARE(placed, labels);
    if (labels > 0) {
        QCOMPARE(channelLabel(graph, labels - 1)->geometry(), lastLabel);
        QCOMPARE(channelLabel(graph, labels - 1)->text(), QString::number(labels));
    }

    for (int k = 0; k < 128; ++k) {
        QCOMPARE(param->waveX[k], k < xChannels ? int(sampleOf(k)) : -7);
        QCOMPARE(param->waveY[k], k < yChannels ? int(sampleOf(xChannels + k)) : -7);
    }
    QCOMPARE(param->matrix[3], static_cast<unsigned char>(0xA5));

    // Painting reads no more samples than the charts were given.
    const QImage x = TestSupport::grabbed(*waveGraph(graph, "waveGraphX"));
    QCOMPARE(x.pixel(1, 249) == Blue, xChannels > 0);
    const QImage y = TestSupport::grabbed(*waveGraph(graph, "waveGraphY"));
    QCOMPARE(y.pixel(1, 249) != Blue && y.pixel(1, 249) != Red, yChannels == 0);
}

void TestGraph::sensorMapFollowsTheDriver()
{
    Param *param = TestSupport::useProduct(Product::lunari);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    driver.layoutX = 16;
    driver.layoutY = 12;
    driver.matrix66.assign(16 * 12, 10);
    driver.matrix66[0] = 0xF0;           // cell (0, 0): negative, black
    driver.matrix66[12] = 40;            // cell (1, 0): grey 120
    driver.touchBlock.fill(0);
    driver.touchBlock[0] = 1;
    driver.touchBlock[2] = 0xFF;         // X 4095
    driver.touchBlock[3] = 0x0F;
    driver.touchBlock[4] = 0xFF;         // Y 4095
    driver.touchBlock[5] = 0x0F;
    QCOMPARE(GetBasicStatus(param), 1);

    Graph graph;
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));
    graph.rePaint();
    QCoreApplication::processEvents();

    const QImage image = TestSupport::onScreen(graph);
    QCOMPARE(image.pixel(15, 70), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(64, 119), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(65, 70), qRgb(120, 120, 120));
    QCOMPARE(image.pixel(400, 300), qRgb(30, 30, 30));
    QCOMPARE(image.pixel(815, 670), Red);
    QCOMPARE(image.pixel(814, 669), Red);
}

void TestGraph::failedTickKeepsThePicture_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("matrix query fails") << "matrix";
    QTest::newRow("touch query fails") << "touch";
    QTest::newRow("no driver") << "absent";
}

void TestGraph::failedTickKeepsThePicture()
{
    QFETCH(QString, failure);
    DriverSim::Controller &driver = TestSupport::stillSensorMap(8, 6, 20);
    QCOMPARE(GetBasicStatus(Param::getInst()), 1);

    Graph graph;
    TestSupport::stopPolling(graph);
    PaintCounter counter;
    graph.installEventFilter(&counter);
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));
    graph.rePaint();
    QTRY_VERIFY(counter.paints > 0);
    waitForQuietPaints(graph);
    const QImage before = TestSupport::onScreen(graph);
    QCOMPARE(before.pixel(400, 300), qRgb(60, 60, 60));
    const int paints = counter.paints;

    driver.matrix66.assign(48, 40);
    if (failure == QLatin1String("matrix"))
        driver.failReads = 1;
    else if (failure == QLatin1String("touch"))
        driver.failEveryRead = driver.reads + 2;
    else
        driver.present = false;
    graph.rePaint();
    QTest::qWait(50);
    QCOMPARE(counter.paints, paints);
    QCOMPARE(TestSupport::onScreen(graph), before);

    // The next good tick shows the new matrix.
    driver.failEveryRead = 0;
    driver.present = true;
    graph.rePaint();
    QTRY_COMPARE(TestSupport::onScreen(graph).pixel(400, 300), qRgb(120, 120, 120));
}

void TestGraph::windowsOpenedOneAfterTheOther()
{
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        Param *param = TestSupport::useProduct(*product);
        MainDialog mainDialog;
        QPushButton *graphButton = mainDialog.findChild<QPushButton *>(QStringLiteral("pushButtonGraph"));
        QVERIFY(graphButton);

        QPointer<Graph> first;
        QPointer<Graph> second;
        int graphsWhileFirstOpen = 0;
        int graphsWhileSecondOpen = 0;
        int secondSliderValue = 0;
        bool firstModal = false;
        bool secondModal = false;
        const auto openGraphs = [] {
            QList<Graph *> list;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (Graph *graph = qobject_cast<Graph *>(widget))
                    list << graph;
            }
            return list;
        };
        const auto graphs = [&] { return int(openGraphs().size()); };

        QTimer::singleShot(0, this, [&] {
            first = openGraphs().value(0);
            firstModal = QApplication::activeModalWidget() == first;
            graphsWhileFirstOpen = graphs();
            if (first) {
                // A change in the first window reaches the second only through the threshold.
                slider(*first)->setValue(product->threshold.minimum + 2);
                first->reject();
            }
        });
        graphButton->click();
        QVERIFY(first.isNull());
        QCOMPARE(graphsWhileFirstOpen, 1);
        QVERIFY(firstModal);
        QCOMPARE(param->threshold, product->threshold.minimum + 2);

        QTimer::singleShot(0, this, [&] {
            second = openGraphs().value(0);
            secondModal = QApplication::activeModalWidget() == second;
            graphsWhileSecondOpen = graphs();
            if (second) {
                secondSliderValue = slider(*second)->value();
                second->close();
            }
        });
        graphButton->click();
        QVERIFY(second.isNull());
        QCOMPARE(graphsWhileSecondOpen, 1);
        QVERIFY(secondModal);
        QCOMPARE(secondSliderValue, product->threshold.minimum + 2);
        QCOMPARE(graphs(), 0);
    }
}

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
