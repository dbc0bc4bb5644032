#include "commandline/StatusReport.h"

#include "app/Product.h"
#include "commandline/Formatted.h"
#include "driverlink/Param.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace StatusReport {

namespace {

const char *boolean(bool value)
{
    return value ? "true" : "false";
}

// The metric names' prefix: the product word in lower case.
std::string prefix(const Product &product)
{
    std::string word = product.word;
    for (char &c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word + "_";
}

// A label value as the exposition format quotes it.
std::string labelValue(const std::string &text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        if (c == '\n')
            quoted += "\\n";
        else
            quoted += c;
    }
    return quoted + "\"";
}

void metric(std::string &out, const std::string &name, const char *help, const std::string &samples)
{
    out += "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n" + samples;
}

} // namespace

std::string jsonString(const std::string &text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            quoted += formatted("\\u%04x", c);
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string text(const Product &product, const Param &p)
{
    const CommandSet &commands = product.commands;
    std::string out = formatted("driver:          present (%s)\n", product.driverFile);
    if (commands.reportsFpsPending && p.fpsPending)
        out += "scan rate:       not ready yet\n";
    else
        out += formatted("scan rate:       %d FPS\n", p.fps);
    out += formatted("touch output:    %s\n", p.outputEnabled ? "enabled" : "disabled");
    out += formatted("threshold:       %d\n", p.threshold);
    out += formatted("touch points:    %d\n", p.touchPoints);
    out += formatted("firmware:        %d.0\n", p.firmwareVersion);
    out += formatted("driver version:  %d.%d\n", p.driverVersionMajor, p.driverVersionMinor);
    if (commands.reportsChannels) {
        out += formatted("channels:        %d\n", p.channelCount);
        out += formatted("intensity:       %d\n", p.intensity);
    }
    out += formatted("layout:          %d/%d\n", p.layoutX, p.layoutY);
    out += formatted("calibration:     %s, area %d %d %d %d (left right top bottom, of 0 to %d)\n",
                  p.calibMode == 0 ? "whole screen" : p.calibMode == 1 ? "drawn area" : "unknown mode",
                  p.areaLeft, p.areaRight, p.areaTop, p.areaBottom, commands.areaDivisor);
    return out;
}

std::string json(const Product &product, const Param &p, const Failure &failure)
{
    const CommandSet &commands = product.commands;
    if (!failure.word.empty()) {
        return formatted("{\"present\": %s, \"driverFile\": %s, \"error\": %s, \"reason\": %s}\n",
                      boolean(failure.word != "not-loaded"), jsonString(product.driverFile).c_str(),
                      jsonString(failure.word).c_str(), jsonString(failure.reason).c_str());
    }
    std::string out = formatted("{\"present\": true, \"driverFile\": %s, \"fps\": %d, ",
                             jsonString(product.driverFile).c_str(), p.fps);
    if (commands.reportsFpsPending)
        out += formatted("\"fpsPending\": %s, ", boolean(p.fpsPending));
    out += formatted("\"outputEnabled\": %s, \"threshold\": %d, \"touchPoints\": %d, \"firmwareVersion\": %d, "
                  "\"driverVersion\": \"%d.%d\", ",
                  boolean(p.outputEnabled), p.threshold, p.touchPoints, p.firmwareVersion, p.driverVersionMajor,
                  p.driverVersionMinor);
    if (commands.reportsChannels)
        out += formatted("\"channelCount\": %d, \"intensity\": %d, ", p.channelCount, p.intensity);
    out += formatted("\"layoutX\": %d, \"layoutY\": %d, \"calibMode\": %d, \"areaLeft\": %d, \"areaRight\": %d, "
                  "\"areaTop\": %d, \"areaBottom\": %d, \"areaScale\": %d}\n",
                  p.layoutX, p.layoutY, p.calibMode, p.areaLeft, p.areaRight, p.areaTop, p.areaBottom,
                  commands.areaDivisor);
    return out;
}

std::string prometheus(const Product &product, const Param &p, const Failure &failure)
{
    const CommandSet &commands = product.commands;
    const std::string name = prefix(product);
    const std::string file = "driver_file=" + labelValue(product.driverFile);
    std::string out;
    metric(out, name + "up", "Whether the touch driver is loaded and answered its status queries (1) or not (0).",
           name + "up{" + file + "} " + (failure.word.empty() ? "1" : "0") + "\n");
    if (!failure.word.empty()) {
        metric(out, name + "error_info",
               "Why the touch driver could not be read: not-loaded, permission-denied, busy, timeout, "
               "transfer-failed or short-answer.",
               name + "error_info{" + file + ",error=" + labelValue(failure.word) + ",reason="
                   + labelValue(failure.reason) + "} 1\n");
        return out;
    }
    metric(out, name + "info", "The controller's firmware and driver versions; always 1.",
           formatted("%sinfo{%s,firmware_version=\"%d\",driver_version=\"%d.%d\"} 1\n", name.c_str(), file.c_str(),
                  p.firmwareVersion, p.driverVersionMajor, p.driverVersionMinor));
    metric(out, name + "scan_rate_hertz", "Frames the controller scans per second.",
           formatted("%sscan_rate_hertz %d\n", name.c_str(), p.fps));
    if (commands.reportsFpsPending) {
        metric(out, name + "scan_rate_pending", "Whether the controller has not measured its scan rate yet (1).",
               formatted("%sscan_rate_pending %d\n", name.c_str(), p.fpsPending ? 1 : 0));
    }
    metric(out, name + "output_enabled", "Whether the touch output is switched on (1) or off (0).",
           formatted("%soutput_enabled %d\n", name.c_str(), p.outputEnabled ? 1 : 0));
    metric(out, name + "threshold", "The detection threshold the driver holds.",
           formatted("%sthreshold %d\n", name.c_str(), p.threshold));
    metric(out, name + "touch_points", "The number of touch points the controller reports.",
           formatted("%stouch_points %d\n", name.c_str(), p.touchPoints));
    if (commands.reportsChannels) {
        metric(out, name + "channels", "The number of sensor channels the controller reports.",
               formatted("%schannels %d\n", name.c_str(), p.channelCount));
        metric(out, name + "intensity", "The intensity the driver holds.",
               formatted("%sintensity %d\n", name.c_str(), p.intensity));
    }
    metric(out, name + "sensor_layout", "The sensor layout: the channels along each axis.",
           formatted("%ssensor_layout{axis=\"x\"} %d\n%ssensor_layout{axis=\"y\"} %d\n", name.c_str(), p.layoutX,
                  name.c_str(), p.layoutY));
    metric(out, name + "calibration_mode", "The calibration mode: 0 the whole screen, 1 a drawn area.",
           formatted("%scalibration_mode %d\n", name.c_str(), p.calibMode));
    const double scale = commands.areaDivisor > 0 ? commands.areaDivisor : 1;
    metric(out, name + "calibration_area_ratio",
           "The calibrated touch area's edges as fractions of the driver's scale, 0 to 1.",
           formatted("%scalibration_area_ratio{edge=\"left\"} %.6g\n%scalibration_area_ratio{edge=\"right\"} %.6g\n"
                  "%scalibration_area_ratio{edge=\"top\"} %.6g\n%scalibration_area_ratio{edge=\"bottom\"} %.6g\n",
                  name.c_str(), p.areaLeft / scale, name.c_str(), p.areaRight / scale, name.c_str(),
                  p.areaTop / scale, name.c_str(), p.areaBottom / scale));
    return out;
}

} // namespace StatusReport
