#ifndef PRODUCT_H
#define PRODUCT_H

// Everything that differs between the two programs, as data. Plain C++, so
// that the command-line programs, which have no desktop, share it.

// A widget's place in its window: left, top, width, height, in pixels.
struct Box
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Extent
{
    int width = 0;
    int height = 0;
};

// The driver's command set: codes and lengths of every command and query.
// A code of 0 marks an operation the family does not have.
struct CommandSet
{
    unsigned char setOutPut = 0;
    unsigned char setThreshold = 0;
    unsigned char calibrateStart = 0;
    int calibrateStartLength = 0;
    unsigned char calibrateEnd = 0;
    int calibrateEndLength = 0;
    unsigned char setIntensity = 0;
    unsigned char setCalibrateMode = 0;
    unsigned char getFps = 0;
    int getFpsLength = 0;
    unsigned char getCalibStatus = 0;
    int getCalibStatusLength = 0;
    unsigned char getBasicStatus = 0;
    unsigned char getGraph = 0;
    unsigned char getTouchPoint = 0;
    bool hasMatrix = false;          // answers the raw matrix queries 66 and 67
    int areaDivisor = 0;             // the driver's touch-area scale, 0 to areaDivisor
    bool reportsChannels = false;    // basic status bytes 5 and 8 carry channelCount and intensity
    bool reportsFpsPending = false;  // scan-rate answer byte 3 tells that the rate is not ready yet
};

struct ThresholdRange
{
    int initial = 0;   // the record's value before the driver reports one
    int minimum = 0;   // the signal window's slider range
    int maximum = 0;
};

enum class SignalView { WaveGraphs, SensorMap };

// The main window; the texts are translation sources of the "MainDialog" context.
struct MainWindowLayout
{
    const char *title = nullptr;
    const char *productName = nullptr;
    const char *graphButtonText = nullptr;
    Extent size;
    Box tabWidget;
    Box groupBox3;
    Box pushButtonCalib;
    Box pushButtonGraph;
};

// The signal window; the title is a translation source of the "Graph" context.
struct GraphLayout
{
    const char *title = nullptr;
    Extent size;
    Box thresholdLabel;
    Box minusButton;
    Box slider;
    Box plusButton;
};

struct Product
{
    const char *programName = nullptr;   // the window program
    const char *toolName = nullptr;      // the command-line program
    const char *word = nullptr;          // product word in titles and keys
    const char *driverFile = nullptr;
    const char *instanceKey = nullptr;   // single-instance shared-memory key
    CommandSet commands;
    ThresholdRange threshold;
    int calibrationPollMs = 0;
    int graphPollMs = 0;
    bool sendsCalibrateMode = false;     // the calibration mode choice is told to the driver
    bool writesDriverLog = false;
    bool iconFromLogoFile = false;       // window icon from "logo.jpg" instead of the compiled-in one
    SignalView signalView = SignalView::WaveGraphs;
    MainWindowLayout mainWindow;
    GraphLayout graph;

    static const Product pravex;
    static const Product lunari;

    // The product this process runs as; chosen once by the program's entry point.
    static const Product &active();
    static void select(const Product &product);
};

#endif // PRODUCT_H
