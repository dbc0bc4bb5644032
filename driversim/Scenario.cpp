#include "driversim/Scenario.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace DriverSim {

namespace {

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool parseInt(const std::string &text, long *value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    *value = parsed;
    return true;
}

bool parseBool(const std::string &text, bool *value)
{
    static const char *const yes[] = {"1", "true", "yes", "on"};
    static const char *const no[] = {"0", "false", "no", "off"};
    for (const char *word : yes) {
        if (text == word) {
            *value = true;
            return true;
        }
    }
    for (const char *word : no) {
        if (text == word) {
            *value = false;
            return true;
        }
    }
    return false;
}

bool parseErrno(const std::string &text, int *value)
{
    static const struct { const char *name; int number; } names[] = {
        {"EPERM", EPERM}, {"ENOENT", ENOENT}, {"EINTR", EINTR}, {"EIO", EIO},
        {"ENXIO", ENXIO}, {"EAGAIN", EAGAIN}, {"EACCES", EACCES}, {"EBUSY", EBUSY},
        {"ENODEV", ENODEV}, {"EINVAL", EINVAL}, {"ENOSPC", ENOSPC}, {"ETIMEDOUT", ETIMEDOUT},
    };
    for (const auto &entry : names) {
        if (text == entry.name) {
            *value = entry.number;
            return true;
        }
    }
    long number = 0;
    if (!parseInt(text, &number) || number <= 0 || number > 4095)
        return false;
    *value = static_cast<int>(number);
    return true;
}

bool parseList(const std::string &text, long minimum, long maximum, std::vector<long> *values)
{
    std::istringstream words(text);
    std::string word;
    values->clear();
    while (words >> word) {
        long value = 0;
        if (!parseInt(word, &value) || value < minimum || value > maximum)
            return false;
        values->push_back(value);
    }
    return true;
}

int *intField(Controller &c, const std::string &name)
{
    static const struct { const char *name; int Controller::*field; } fields[] = {
        {"fps", &Controller::fps},
        {"touchPoints", &Controller::touchPoints},
        {"firmwareVersion", &Controller::firmwareVersion},
        {"driverVersionMajor", &Controller::driverVersionMajor},
        {"driverVersionMinor", &Controller::driverVersionMinor},
        {"channelCount", &Controller::channelCount},
        {"layoutX", &Controller::layoutX},
        {"layoutY", &Controller::layoutY},
        {"intensity", &Controller::intensity},
        {"output", &Controller::output},
        {"threshold", &Controller::threshold},
        {"calibMode", &Controller::calibMode},
        {"areaLeft", &Controller::areaLeft},
        {"areaRight", &Controller::areaRight},
        {"areaTop", &Controller::areaTop},
        {"areaBottom", &Controller::areaBottom},
        {"calibStatus", &Controller::calibStatus},
        {"calibValue", &Controller::calibValue},
        {"calibStep", &Controller::calibStep},
        {"frame", &Controller::frame},
        {"touchCount", &Controller::touchCount},
        {"failReads", &Controller::failReads},
        {"failWrites", &Controller::failWrites},
        {"failEveryRead", &Controller::failEveryRead},
        {"failEveryWrite", &Controller::failEveryWrite},
        {"shortAnswer", &Controller::shortAnswer},
        {"delayMs", &Controller::delayMs},
    };
    for (const auto &entry : fields) {
        if (name == entry.name)
            return &(c.*entry.field);
    }
    return nullptr;
}

bool *boolField(Controller &c, const std::string &name)
{
    static const struct { const char *name; bool Controller::*field; } fields[] = {
        {"present", &Controller::present},
        {"exclusive", &Controller::exclusive},
        {"fpsPending", &Controller::fpsPending},
        {"calibrating", &Controller::calibrating},
        {"calibFails", &Controller::calibFails},
        {"animate", &Controller::animate},
        {"ignoreCommands", &Controller::ignoreCommands},
        {"readOnly", &Controller::readOnly},
        {"stuck", &Controller::stuck},
    };
    for (const auto &entry : fields) {
        if (name == entry.name)
            return &(c.*entry.field);
    }
    return nullptr;
}

bool applyField(Controller &c, const std::string &name, const std::string &value, std::string *error)
{
    auto fail = [error](const std::string &message) {
        if (error)
            *error = message;
        return false;
    };

    if (int *field = intField(c, name)) {
        long number = 0;
        if (!parseInt(value, &number) || number < -65536 || number > 65535)
            return fail("'" + value + "' is not a number for " + name);
        *field = static_cast<int>(number);
        return true;
    }
    if (bool *field = boolField(c, name)) {
        if (!parseBool(value, field))
            return fail("'" + value + "' is not 0/1/true/false for " + name);
        return true;
    }
    if (name == "openError" || name == "failErrno") {
        int number = 0;
        if (value == "0" && name == "openError") {
            c.openError = 0;
            return true;
        }
        if (!parseErrno(value, &number))
            return fail("'" + value + "' is not an errno name or number for " + name);
        (name == "openError" ? c.openError : c.failErrno) = number;
        return true;
    }
    if (name == "calibSecondsPerTarget") {
        char *end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || seconds < 0)
            return fail("'" + value + "' is not a number of seconds");
        c.calibSecondsPerTarget = seconds;
        return true;
    }

    std::vector<long> list;
    if (name == "samples") {
        if (!parseList(value, 0, 255, &list) || list.size() > c.samples.size())
            return fail("samples takes up to 128 byte values");
        c.samples.fill(0);
        for (std::size_t i = 0; i < list.size(); ++i)
            c.samples[i] = static_cast<unsigned char>(list[i]);
        return true;
    }
    if (name == "matrix66" || name == "matrix67") {
        if (!parseList(value, -128, 255, &list))
            return fail(name + " takes byte values (-128 to 255)");
        std::vector<unsigned char> &matrix = name == "matrix66" ? c.matrix66 : c.matrix67;
        const std::size_t cells = static_cast<std::size_t>((c.layoutX & 0xff) * (c.layoutY & 0xff));
        if (list.size() == 1) {
            matrix.assign(cells, static_cast<unsigned char>(list[0] & 0xff));
        } else {
            matrix.assign(cells, 0);
            for (std::size_t i = 0; i < list.size() && i < cells; ++i)
                matrix[i] = static_cast<unsigned char>(list[i] & 0xff);
        }
        return true;
    }
    if (name == "touch") {
        if (!parseList(value, 0, 65535, &list) || list.size() % 2 != 0 || list.size() > 62)
            return fail("touch takes up to 31 pairs of x y coordinates");
        c.touchBlock.fill(0);
        c.touchCount = static_cast<int>(list.size() / 2);
        c.touchBlock[0] = static_cast<unsigned char>(c.touchCount);
        for (std::size_t i = 0; i < list.size(); ++i) {
            c.touchBlock[2 + 2 * i] = static_cast<unsigned char>(list[i] & 0xff);
            c.touchBlock[3 + 2 * i] = static_cast<unsigned char>(list[i] >> 8);
        }
        return true;
    }
    if (name.compare(0, 9, "override.") == 0) {
        long code = 0;
        if (!parseInt(name.substr(9), &code) || code < 0 || code > 255)
            return fail("override needs a query code from 0 to 255: " + name);
        if (!parseList(value, 0, 255, &list))
            return fail("override." + std::to_string(code) + " takes byte values");
        if (list.empty()) {
            c.overrides.erase(static_cast<int>(code));
        } else {
            std::vector<unsigned char> bytes(list.begin(), list.end());
            c.overrides[static_cast<int>(code)] = bytes;
        }
        return true;
    }
    return fail("unknown key " + name);
}

// Plays a recording of the family's panel: its status and scan rate become
// the controller's, its frames the signals.
bool applyReplay(Controller &c, const std::string &family, const std::string &path, std::string *error)
{
    auto fail = [error](const std::string &message) {
        if (error)
            *error = message;
        return false;
    };
    if (path.empty()) {
        c.replay.reset();
        return true;
    }
    std::ifstream file(path);
    if (!file)
        return fail("cannot read the recording " + path);
    std::stringstream text;
    text << file.rdbuf();
    auto data = std::make_shared<Recording::Data>();
    std::string message;
    if (!Recording::parse(text.str(), data.get(), &message))
        return fail(path + ": " + message);
    if (data->product != family)
        return fail(path + " is a recording of a " + data->product + " panel");

    const std::vector<unsigned char> &s = data->status;
    if (s.size() >= 20) {
        int *fields[] = {&c.touchPoints, &c.firmwareVersion, &c.driverVersionMajor, &c.driverVersionMinor,
                         &c.channelCount, &c.layoutX, &c.layoutY, &c.intensity, &c.output, &c.threshold,
                         &c.calibMode};
        for (std::size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
            *fields[i] = s[1 + i];
        int *edges[] = {&c.areaLeft, &c.areaRight, &c.areaTop, &c.areaBottom};
        for (std::size_t i = 0; i < 4; ++i)
            *edges[i] = (s[12 + 2 * i] << 8) | s[13 + 2 * i];
    }
    const std::vector<unsigned char> &rate = data->scanRate;
    if (rate.size() >= 2)
        c.fps = (rate[0] << 8) | rate[1];
    c.fpsPending = rate.size() >= 4 && rate[3] == 1;
    c.animate = false;
    c.replay = data;
    c.replayStartedAt = -1;
    return true;
}

} // namespace

std::vector<Scenario::Line> Scenario::parse(const std::string &text, std::string *errors)
{
    std::vector<Line> lines;
    std::istringstream input(text);
    std::string raw;
    int number = 0;
    Controller pravexCheck = defaults(Family::Pravex);
    Controller lunariCheck = defaults(Family::Lunari);
    while (std::getline(input, raw)) {
        ++number;
        const auto hash = raw.find('#');
        std::string content = trimmed(hash == std::string::npos ? raw : raw.substr(0, hash));
        if (content.empty())
            continue;

        std::string message;
        Line line;
        line.number = number;
        if (content.compare(0, 3, "at ") == 0 || content.compare(0, 3, "at\t") == 0) {
            std::istringstream words(content.substr(3));
            std::string seconds;
            words >> seconds;
            char *end = nullptr;
            line.at = std::strtod(seconds.c_str(), &end);
            if (seconds.empty() || *end != '\0' || line.at < 0) {
                message = "'" + seconds + "' is not a time in seconds";
            } else {
                std::string rest;
                std::getline(words, rest);
                content = trimmed(rest);
            }
        }
        if (message.empty()) {
            const auto equals = content.find('=');
            if (equals == std::string::npos) {
                message = "expected key = value";
            } else {
                line.key = trimmed(content.substr(0, equals));
                line.value = trimmed(content.substr(equals + 1));
                // Checked on scratch controllers so a bad line is reported when read, not when due.
                apply(line, pravexCheck, lunariCheck, &message);
            }
        }
        if (message.empty()) {
            lines.push_back(line);
        } else if (errors) {
            *errors += "line " + std::to_string(number) + ": " + message + "\n";
        }
    }
    return lines;
}

bool Scenario::apply(const Line &line, Controller &pravex, Controller &lunari, std::string *error)
{
    const auto dot = line.key.find('.');
    const std::string family = line.key.substr(0, dot);
    if (dot == std::string::npos || (family != "pravex" && family != "lunari")) {
        if (error)
            *error = "key must start with pravex. or lunari.: " + line.key;
        return false;
    }
    Controller &target = family == "pravex" ? pravex : lunari;
    const std::string name = line.key.substr(dot + 1);
    if (name == "replay")
        return applyReplay(target, family, line.value, error);
    return applyField(target, name, line.value, error);
}

} // namespace DriverSim
