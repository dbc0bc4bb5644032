// The painting functions on arbitrary data within the ranges the program can
// produce: the sensor map painted both ways must agree pixel for pixel, the
// bar chart and the calibration frame must draw without fault.
#include "FuzzInput.h"
#include "FuzzSession.h"
#include "calibration/CalibrateArea.h"
#include "driverlink/KerDriverFunc.h"
#include "signalviews/SensorMap.h"
#include "signalviews/WaveGraph.h"

#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

namespace {

const int Cells = 255 * 255;

// An area edge as the status decoding makes it, or a plain window position.
int edge(FuzzInput &input, int screen)
{
    const unsigned kind = input.byte();
    if (kind & 1)
        return static_cast<int>(input.pair() % static_cast<unsigned>(screen + 1));
    unsigned char pair[2] = {static_cast<unsigned char>(input.byte()), static_cast<unsigned char>(input.byte())};
    return KerDecode::areaEdge(screen, pair, kind & 2 ? 4095 : 1023);
}

void sensorMaps(FuzzInput &input)
{
    static SensorMap reused;
    static unsigned char matrix[Cells];
    unsigned char touch[164] = {};
    const std::vector<unsigned char> block = input.bytes(128);
    std::copy(block.begin(), block.end(), touch);
    for (int layouts = 0; layouts < 2; ++layouts) {
        const int layoutX = static_cast<int>(input.byte());
        const int layoutY = static_cast<int>(input.byte());
        const std::vector<unsigned char> cells = input.bytes(input.pair());
        for (int i = 0; i < Cells; ++i)
            matrix[i] = cells.empty() ? static_cast<unsigned char>(i * 31) : cells[i % cells.size()];

        QImage fast(830, 685, QImage::Format_RGB32);
        QImage plain(830, 685, QImage::Format_RGB32);
        fast.fill(qRgb(1, 2, 3));
        plain.fill(qRgb(1, 2, 3));
        {
            QPainter painter(&fast);
            reused.paint(painter, matrix, layoutX, layoutY, touch);
        }
        {
            QPainter painter(&plain);
            SensorMap::paintPlain(painter, matrix, layoutX, layoutY, touch);
        }
        if (fast != plain) {
            std::fprintf(stderr, "sensor map %d x %d: the reused image differs from the plain painting\n", layoutX,
                         layoutY);
            std::abort();
        }
    }
}

void waveChart(FuzzInput &input)
{
    int samples[WaveGraph::ChartWidth];
    const std::vector<unsigned char> values = input.bytes(128);
    for (int i = 0; i < WaveGraph::ChartWidth; ++i)
        samples[i] = values.empty() ? 0 : values[i % values.size()];
    const int count = static_cast<int>(input.pair() % 1024) - 100;
    const int threshold = static_cast<int>(input.byte());
    QImage chart(WaveGraph::ChartWidth + 1, WaveGraph::ChartHeight + 1, QImage::Format_RGB32);
    chart.fill(Qt::white);
    QPainter painter(&chart);
    WaveGraph::paintChart(painter, samples, count, threshold);
}

void calibrationFrame(FuzzInput &input)
{
    const int width = 1 + static_cast<int>(input.pair() % 32767);
    const int height = 1 + static_cast<int>(input.pair() % 32767);
    const int left = edge(input, width);
    const int right = edge(input, width);
    const int top = edge(input, height);
    const int bottom = edge(input, height);
    const int status = static_cast<signed char>(input.byte());
    const int value = static_cast<int>(input.pair());
    const int pressX = static_cast<int>(input.pair() % static_cast<unsigned>(width));
    const int pressY = static_cast<int>(input.pair() % static_cast<unsigned>(height));
    const int dragX = static_cast<int>(input.pair() % static_cast<unsigned>(2 * width)) - width;
    const int dragY = static_cast<int>(input.pair() % static_cast<unsigned>(2 * height)) - height;
    QImage frame(320, 240, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QPainter painter(&frame);
    painter.scale(320.0 / width, 240.0 / height);
    CalibrateArea::paintCalibration(painter, QRect(left, top, right - left, bottom - top), status, value,
                                    input.byte() & 1, QRect(pressX, pressY, dragX, dragY));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSession::start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    switch (input.byte() % 3) {
    case 0:
        sensorMaps(input);
        break;
    case 1:
        waveChart(input);
        break;
    default:
        calibrationFrame(input);
        break;
    }
    return 0;
}
