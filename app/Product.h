#ifndef PRODUCT_H
#define PRODUCT_H

#include <QRect>
#include <QSize>

// The driver's command set: codes and lengths of every command and query.
// A code of 0 marks an operation the family does not have.
struct CommandSet
{
    unsigned char setOutPut;
    unsigned char setThreshold;
    unsigned char calibrateStart;
    int calibrateStartLength;
    unsigned char calibrateEnd;
    int calibrateEndLength;
    unsigned char setIntensity;
    unsigned char setCalibrateMode;
    unsigned char getFps;
    int getFpsLength;
    unsigned char getCalibStatus;
    int getCalibStatusLength;
    unsigned char getBasicStatus;
    unsigned char getGraph;
    unsigned char getTouchPoint;
    bool hasMatrix;           // answers the raw matrix queries 66 and 67
    int scratchSize;          // size of the shared request/answer buffer
    int areaDivisor;          // the driver's touch-area scale, 0 to areaDivisor
    bool reportsChannels;     // basic status bytes 5 and 8 carry channelCount and intensity
    bool reportsFpsPending;   // scan-rate answer byte 3 tells that the rate is not ready yet
};

enum class SignalView { WaveGraphs, SensorMap };

// Everything that differs between the two programs, as data.
struct Product
{
    const char *programName;      // executable name
    const char *word;             // product word in titles and keys
    const char *driverFile;
    const char *instanceKey;      // single-instance shared-memory key
    CommandSet commands;
    int initialThreshold;
    int thresholdMinimum;
    int thresholdMaximum;
    int calibrationPollMs;
    int graphPollMs;
    bool sendsCalibrateMode;      // the calibration mode choice is told to the driver
    bool writesDriverLog;
    bool iconFromLogoFile;        // window icon from "logo.jpg" instead of the compiled-in one
    SignalView signalView;

    // Main window layout; the texts are translation sources of the "MainDialog" context.
    const char *windowTitle;
    const char *productName;
    const char *graphButtonText;
    QSize dialogSize;
    QRect tabWidget;
    QRect groupBox3;
    QRect pushButtonCalib;
    QRect pushButtonGraph;

    // Signal graph window; the title is a translation source of the "Graph" context.
    const char *graphTitle;
    QSize graphSize;
    QRect thresholdLabel;
    QRect minusButton;
    QRect slider;
    QRect plusButton;

    static const Product pravex;
    static const Product lunari;

    // The product this process runs as; chosen once by the program's entry point.
    static const Product &active();
    static void select(const Product &product);
};

#endif // PRODUCT_H
