#ifndef PARAM_H
#define PARAM_H

#include "driverlink/KerDriverFunc.h"

// The one process-wide record of driver state, screen size, touch area and
// sample buffers. One record type serves both programs: each program simply
// leaves the other family's fields (waveX/waveY, or fpsPending, matrix and
// touchData) untouched, which keeps every window and the channel common.
class Param
{
public:
    // Each axis' wave values hold a whole graph answer.
    enum { WaveSize = KerDecode::GraphLength, MatrixSize = 270340, TouchDataSize = 164 };

    // Builds a record for the given desktop; getInst() uses the desktop
    // handed in by useDesktop() and the active product's initial threshold.
    Param(int desktopWidth, int desktopHeight, int initialThreshold);

    // The desktop size the first getInst() builds the record with. The
    // window programs hand it in from Qt; the driver link itself knows no
    // desktop, so the command-line programs can share it.
    static void useDesktop(int width, int height);
    static Param *getInst();
    static Param *inst;

    // Stores an area and screen size given in a frame turned by rotation quarter turns.
    void setScreenEx(int rotation, int left, int top, int right, int bottom, int width, int height);

    int touchPoints = 0;
    int firmwareVersion = 0;
    int driverVersionMajor = 0;
    int driverVersionMinor = 0;
    int channelCount = 0;
    int layoutX = 0;
    int layoutY = 0;
    int intensity = 0;
    int threshold;
    int fps = 0;
    bool fpsPending = false;
    bool outputEnabled = true;
    int calibStatus = 0;
    int calibValue = 0;
    bool driverFound = false;
    int screenWidth;
    int screenHeight;
    int calibMode = 0;
    int areaLeft = 0;
    int areaRight;
    int areaTop = 0;
    int areaBottom;
    int waveX[WaveSize] = {};
    int waveY[WaveSize] = {};
    unsigned char matrix[MatrixSize] = {};
    unsigned char touchData[TouchDataSize] = {};
};

#endif // PARAM_H
