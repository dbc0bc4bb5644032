// A small program that drives the real driver channel, for running with the
// preloaded simulator. It prints one line per operation:
//   driversim_probe <program name> all           every operation once, a calibration run through
//   driversim_probe <program name> watch <secs>  GetFPS every 10 ms, a line whenever the answer changes

#include "app/Product.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>

namespace {

// Too large for the stack of a small program.
Param param(1920, 1080, 0);

void printStatus(int result)
{
    std::printf("GetBasicStatus %d touchPoints=%d firmware=%d version=%d.%d layout=%dx%d channels=%d intensity=%d "
                "output=%d threshold=%d calibMode=%d area=%d,%d,%d,%d\n",
                result, param.touchPoints, param.firmwareVersion, param.driverVersionMajor,
                param.driverVersionMinor, param.layoutX, param.layoutY, param.channelCount, param.intensity,
                param.outputEnabled ? 1 : 0, param.threshold, param.calibMode, param.areaLeft, param.areaRight,
                param.areaTop, param.areaBottom);
}

void runAll(const Product &product)
{
    const bool pravex = &product == &Product::pravex;
    // Each result is taken before the fields it filled are printed.
    const int fpsResult = GetFPS(&param);
    std::printf("GetFPS %d fps=%d pending=%d\n", fpsResult, param.fps, param.fpsPending ? 1 : 0);
    const int statusResult = GetBasicStatus(&param);
    printStatus(statusResult);

    param.outputEnabled = false;
    std::printf("SetOutPut %d\n", SetOutPut(&param));
    param.threshold = 44;
    std::printf("SetThreshold %d\n", SetThreshold(&param));
    if (pravex) {
        param.intensity = 9;
        std::printf("SetIntensity %d\n", SetIntensity(&param));
    } else {
        std::printf("SetCalibrateMode %d\n", SetCalibrateMode(1));
    }

    std::printf("CalibrateStart %d\n", CalibrateStart());
    for (int i = 0; i < 40; ++i) {
        const int result = GetCalibStatus(&param);
        std::printf("GetCalibStatus %d status=%d value=%d\n", result, param.calibStatus, param.calibValue);
        if (result < 0 || param.calibStatus == 4 || param.calibStatus == 5)
            break;
    }
    param.calibMode = 1;
    param.areaLeft = 192;
    param.areaRight = 1728;
    param.areaTop = 108;
    param.areaBottom = 972;
    std::printf("CalibrateEnd %d\n", CalibrateEnd(&param));
    const int endStatusResult = GetBasicStatus(&param);
    printStatus(endStatusResult);

    if (pravex) {
        int samples[128];
        const int result = GetGraph(samples);
        int used = 0;
        for (int i = 0; i < 128; ++i)
            used += samples[i] != 0 ? 1 : 0;
        std::printf("GetGraph %d nonzero=%d\n", result, used);
    } else {
        for (unsigned char code : {67, 66}) {
            const int result = GetMatrix(&param, code);
            long sum = 0;
            for (int i = 0; i < param.layoutX * param.layoutY; ++i)
                sum += param.matrix[i];
            std::printf("GetMatrix %d code=%d sum=%ld\n", result, code, sum);
        }
        const int result = GetTouchPoint(&param);
        std::printf("GetTouchPoint %d count=%d\n", result, param.touchData[0]);
    }
}

void watch(double seconds)
{
    const auto start = std::chrono::steady_clock::now();
    int lastResult = 0;
    int lastFps = -1;
    for (;;) {
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (now > seconds)
            break;
        const int result = GetFPS(&param);
        if (result != lastResult || (result > 0 && param.fps != lastFps)) {
            std::printf("t=%.3f GetFPS %d fps=%d\n", now, result, param.fps);
            std::fflush(stdout);
            lastResult = result;
            lastFps = param.fps;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <pravex_controller|lunari_controller> all|watch <seconds>\n", argv[0]);
        return 2;
    }
    const Product &product = std::strcmp(argv[1], Product::lunari.programName) == 0 ? Product::lunari : Product::pravex;
    Product::select(product);
    param.threshold = product.threshold.initial;
    if (std::strcmp(argv[2], "watch") == 0 && argc > 3) {
        watch(std::atof(argv[3]));
    } else if (std::strcmp(argv[2], "all") == 0) {
        runAll(product);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", argv[2]);
        return 2;
    }
    return 0;
}
