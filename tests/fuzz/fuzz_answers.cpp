// Arbitrary answers to every query of both command sets, delivered through the
// simulated driver, then shown by the windows that read them: main window,
// driver log, signal graph and calibration frame.
#include "FuzzInput.h"
#include "FuzzSession.h"
#include "calibration/CalibrateArea.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "signalviews/Graph.h"
#include "tests/support/TestSupport.h"

#include <QImage>
#include <QPainter>

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSession::start(argc, argv);
    return 0;
}

// Input: a flags byte, the desktop size, then for every query of the family a
// 16-bit length and that many answer bytes, then the rubber band of the frame.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const unsigned flags = input.byte();
    const Product &product = flags & 1 ? Product::lunari : Product::pravex;
    const bool lunari = &product == &Product::lunari;
    const int width = 1 + static_cast<int>(input.pair() % 32767);
    const int height = 1 + static_cast<int>(input.pair() % 32767);
    Param *param = TestSupport::resetRecord(product, width, height);
    DriverSim::setKeepTranscript(false);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.animate = false;
    if (flags & 2)
        driver.shortAnswer = static_cast<int>(input.byte());

    const CommandSet &set = product.commands;
    std::vector<int> codes = {set.getFps, set.getBasicStatus, set.getCalibStatus};
    if (lunari)
        codes.insert(codes.end(), {66, 67, set.getTouchPoint});
    else
        codes.push_back(set.getGraph);
    for (int code : codes) {
        const std::vector<unsigned char> answer = input.bytes(input.pair());
        driver.overrides[code] = answer;
    }

    {
        // Construction reads the status, finds the driver and (second program) logs.
        MainDialog window;
        window.reSetFPS();
        window.initAboutInformation();
        QImage picture(window.size(), QImage::Format_RGB32);
        picture.fill(Qt::white);
        window.render(&picture);
    }
    {
        auto graph = std::make_unique<Graph>();
        for (int tick = 0; tick < 2; ++tick) {
            if (lunari)
                graph->rePaint();
            else
                graph->repaint();
        }
        QImage picture(graph->size(), QImage::Format_RGB32);
        picture.fill(Qt::white);
        graph->render(&picture);
    }

    // A calibration frame over the touch area as the driver reported it.
    GetCalibStatus(param);
    QImage frame(256, 192, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QPainter painter(&frame);
    const QRect area(param->areaLeft, param->areaTop, param->areaRight - param->areaLeft,
                     param->areaBottom - param->areaTop);
    const int pressX = static_cast<int>(input.pair() % static_cast<unsigned>(width));
    const int pressY = static_cast<int>(input.pair() % static_cast<unsigned>(height));
    const QRect band(pressX, pressY, static_cast<int>(input.pair()) - 32768, static_cast<int>(input.pair()) - 32768);
    CalibrateArea::paintCalibration(painter, area, param->calibStatus, param->calibValue, flags & 4, band);
    return 0;
}
