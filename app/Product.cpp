#include "app/Product.h"

#include <QtGlobal>

const Product Product::pravex = {
    "pravex_controller",
    "Pravex",
    "/proc/zazevizuve/communication",
    "windows pravex driver",
    CommandSet{
        4,       // SetOutPut
        7,       // SetThreshold
        5, 2,    // CalibrateStart
        6, 32,   // CalibrateEnd
        1,       // SetIntensity
        0,       // no SetCalibrateMode
        99, 5,   // GetFPS
        101, 5,  // GetCalibStatus
        102,     // GetBasicStatus
        100,     // GetGraph
        0,       // no GetTouchPoint
        false,   // no GetMatrix
        128,
        1023,
        true,
        false,
    },
    18, 8, 127,
    200, 200,
    false,
    false,
    true,
    SignalView::WaveGraphs,
    QT_TRANSLATE_NOOP("MainDialog", "Pravex Controller"),
    QT_TRANSLATE_NOOP("MainDialog", "Pravex"),
    QT_TRANSLATE_NOOP("MainDialog", "Test"),
    QSize(309, 240),
    QRect(0, 0, 311, 241),
    QRect(10, 120, 281, 51),
    QRect(10, 20, 75, 23),
    QRect(197, 20, 75, 23),
    QT_TRANSLATE_NOOP("Graph", "Test"),
    QSize(770, 595),
    QRect(15, 15, 105, 35),
    QRect(161, 15, 35, 35),
    QRect(237, 15, 440, 35),
    QRect(718, 15, 35, 35),
};

const Product Product::lunari = {
    "lunari_controller",
    "Lunari",
    "/proc/rodurirede/communication",
    "windows lunari driver",
    CommandSet{
        1,       // SetOutPut
        4,       // SetThreshold
        2, 1,    // CalibrateStart
        3, 16,   // CalibrateEnd
        0,       // no SetIntensity
        5,       // SetCalibrateMode
        65, 4,   // GetFPS
        68, 4,   // GetCalibStatus
        69,      // GetBasicStatus
        0,       // no GetGraph
        70,      // GetTouchPoint
        true,    // GetMatrix
        129,
        4095,
        false,
        true,
    },
    30, 4, 50,
    80, 80,
    true,
    true,
    false,
    SignalView::SensorMap,
    QT_TRANSLATE_NOOP("MainDialog", "Lunari Controller"),
    QT_TRANSLATE_NOOP("MainDialog", "Lunari"),
    QT_TRANSLATE_NOOP("MainDialog", "Graph"),
    QSize(309, 238),
    QRect(0, 0, 311, 251),
    QRect(10, 110, 281, 61),
    QRect(10, 20, 81, 21),
    QRect(191, 20, 81, 23),
    QT_TRANSLATE_NOOP("Graph", "Graph"),
    QSize(830, 685),
    QRect(15, 15, 120, 40),
    QRect(150, 15, 40, 40),
    QRect(205, 15, 420, 40),
    QRect(640, 15, 40, 40),
};

namespace {
const Product *activeProduct = &Product::pravex;
}

const Product &Product::active()
{
    return *activeProduct;
}

void Product::select(const Product &product)
{
    activeProduct = &product;
}
