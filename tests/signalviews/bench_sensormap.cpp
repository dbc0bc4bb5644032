// Times the sensor map painting: one fill per cell against the cells filled
// into one image. Run it by hand from a Release build; it is not a test.
//   bench_sensormap [paints per case]

#include "signalviews/SensorMap.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Case
{
    int layoutX;
    int layoutY;
};

double medianMs(std::vector<qint64> &nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const size_t n = nanoseconds.size();
    const double middle = n % 2 ? nanoseconds[n / 2] : (nanoseconds[n / 2 - 1] + nanoseconds[n / 2]) / 2.0;
    return middle / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int paints = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    // Two matrices painted in turn, so nothing can profit from an unchanged picture.
    std::mt19937 random(20240611);
    std::vector<unsigned char> matrices[2];
    for (auto &matrix : matrices) {
        matrix.resize(SensorMap::MaxLayout * SensorMap::MaxLayout);
        for (auto &cell : matrix)
            cell = static_cast<unsigned char>(random());
    }
    unsigned char touchData[164] = {};
    touchData[0] = 5;
    for (int i = 0; i < 5; ++i) {
        const int x = 500 + 700 * i, y = 300 + 800 * i;
        touchData[2 + 4 * i] = x & 0xff;
        touchData[3 + 4 * i] = x >> 8;
        touchData[4 + 4 * i] = y & 0xff;
        touchData[5 + 4 * i] = y >> 8;
    }

    QImage target(830, 685, QImage::Format_RGB32);
    target.fill(QColor(240, 240, 240));
    SensorMap sensorMap;

    std::printf("sensor map paint on a %dx%d RGB32 image, median of %d paints each\n",
                target.width(), target.height(), paints);
    const Case cases[] = {{255, 255}, {40, 30}};
    for (const Case &c : cases) {
        std::vector<qint64> plain, image;
        plain.reserve(paints);
        image.reserve(paints);
        for (int i = -10; i < paints; ++i) {
            const unsigned char *matrix = matrices[i & 1].data();
            QElapsedTimer clock;
            {
                QPainter painter(&target);
                clock.start();
                SensorMap::paintPlain(painter, matrix, c.layoutX, c.layoutY, touchData);
                const qint64 spent = clock.nsecsElapsed();
                if (i >= 0)
                    plain.push_back(spent);
            }
            {
                QPainter painter(&target);
                clock.start();
                sensorMap.paint(painter, matrix, c.layoutX, c.layoutY, touchData);
                const qint64 spent = clock.nsecsElapsed();
                if (i >= 0)
                    image.push_back(spent);
            }
        }
        const double plainMs = medianMs(plain);
        const double imageMs = medianMs(image);
        std::printf("%3d x %3d: one fill per cell %.3f ms, one image %.3f ms, ratio %.1f\n",
                    c.layoutX, c.layoutY, plainMs, imageMs, plainMs / imageMs);
    }
    return 0;
}
