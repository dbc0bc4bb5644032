#include "app/Product.h"

// Marks texts for the translation tools without needing Qt here.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace {

// Built at compile time, so no other initialiser can see them unset.
constexpr Product makePravex()
{
    Product p;
    p.programName = "pravex_controller";
    p.toolName = "pravexctl";
    p.word = "Pravex";
    p.driverFile = "/proc/zazevizuve/communication";
    p.instanceKey = "windows pravex driver";

    CommandSet &c = p.commands;
    c.setOutPut = 4;
    c.setThreshold = 7;
    c.calibrateStart = 5;
    c.calibrateStartLength = 2;
    c.calibrateEnd = 6;
    c.calibrateEndLength = 32;
    c.setIntensity = 1;
    c.getFps = 99;
    c.getFpsLength = 5;
    c.getCalibStatus = 101;
    c.getCalibStatusLength = 5;
    c.getBasicStatus = 102;
    c.getGraph = 100;
    c.areaDivisor = 1023;
    c.reportsChannels = true;

    p.threshold = {18, 8, 127};
    p.calibrationPollMs = 200;
    p.graphPollMs = 200;
    p.iconFromLogoFile = true;
    p.signalView = SignalView::WaveGraphs;

    MainWindowLayout &m = p.mainWindow;
    m.title = QT_TRANSLATE_NOOP("MainDialog", "Pravex Controller");
    m.productName = QT_TRANSLATE_NOOP("MainDialog", "Pravex");
    m.graphButtonText = QT_TRANSLATE_NOOP("MainDialog", "Test");
    m.size = {309, 240};
    m.tabWidget = {0, 0, 311, 241};
    m.groupBox3 = {10, 120, 281, 51};
    m.pushButtonCalib = {10, 20, 75, 23};
    m.pushButtonGraph = {197, 20, 75, 23};

    GraphLayout &g = p.graph;
    g.title = QT_TRANSLATE_NOOP("Graph", "Test");
    g.size = {770, 595};
    g.thresholdLabel = {15, 15, 105, 35};
    g.minusButton = {161, 15, 35, 35};
    g.slider = {237, 15, 440, 35};
    g.plusButton = {718, 15, 35, 35};
    return p;
}

constexpr Product makeLunari()
{
    Product p;
    p.programName = "lunari_controller";
    p.toolName = "lunarictl";
    p.word = "Lunari";
    p.driverFile = "/proc/rodurirede/communication";
    p.instanceKey = "windows lunari driver";

    CommandSet &c = p.commands;
    c.setOutPut = 1;
    c.setThreshold = 4;
    c.calibrateStart = 2;
    c.calibrateStartLength = 1;
    c.calibrateEnd = 3;
    c.calibrateEndLength = 16;
    c.setCalibrateMode = 5;
    c.getFps = 65;
    c.getFpsLength = 4;
    c.getCalibStatus = 68;
    c.getCalibStatusLength = 4;
    c.getBasicStatus = 69;
    c.getTouchPoint = 70;
    c.hasMatrix = true;
    c.areaDivisor = 4095;
    c.reportsFpsPending = true;

    p.threshold = {30, 4, 50};
    p.calibrationPollMs = 80;
    p.graphPollMs = 80;
    p.sendsCalibrateMode = true;
    p.writesDriverLog = true;
    p.signalView = SignalView::SensorMap;

    MainWindowLayout &m = p.mainWindow;
    m.title = QT_TRANSLATE_NOOP("MainDialog", "Lunari Controller");
    m.productName = QT_TRANSLATE_NOOP("MainDialog", "Lunari");
    m.graphButtonText = QT_TRANSLATE_NOOP("MainDialog", "Graph");
    m.size = {309, 238};
    m.tabWidget = {0, 0, 311, 251};
    m.groupBox3 = {10, 110, 281, 61};
    m.pushButtonCalib = {10, 20, 81, 21};
    m.pushButtonGraph = {191, 20, 81, 23};

    GraphLayout &g = p.graph;
    g.title = QT_TRANSLATE_NOOP("Graph", "Graph");
    g.size = {830, 685};
    g.thresholdLabel = {15, 15, 120, 40};
    g.minusButton = {150, 15, 40, 40};
    g.slider = {205, 15, 420, 40};
    g.plusButton = {640, 15, 40, 40};
    return p;
}

const Product *activeProduct = &Product::pravex;

} // namespace

const Product Product::pravex = makePravex();
const Product Product::lunari = makeLunari();

const Product &Product::active()
{
    return *activeProduct;
}

void Product::select(const Product &product)
{
    activeProduct = &product;
}
