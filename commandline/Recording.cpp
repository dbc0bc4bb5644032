#include "commandline/Recording.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Recording {

namespace {

const int FormatVersion = 1;
// As long as a recording may be asked for (--seconds): days and months are fine.
const double MaxSeconds = 1e9;
const long MaxIntervalMs = 60000;

bool unhex(const std::string &text, std::vector<unsigned char> *bytes)
{
    if (text.size() % 2 != 0)
        return false;
    bytes->clear();
    bytes->reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (std::size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            const int digit = c >= '0' && c <= '9' ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes->push_back(static_cast<unsigned char>(value));
    }
    return true;
}

// A frame time: a finite number of seconds, the whole word, from 0 to MaxSeconds.
bool parseTime(const std::string &word, double *time)
{
    if (word.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    *time = std::strtod(word.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(*time) && *time >= 0 && *time <= MaxSeconds;
}

// A refresh period in milliseconds: the whole word, 1 ms to a minute.
bool parseInterval(const std::string &word, int *milliseconds)
{
    if (word.empty() || word[0] < '0' || word[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || value < 1 || value > MaxIntervalMs)
        return false;
    *milliseconds = static_cast<int>(value);
    return true;
}

bool parseFrame(std::istringstream &words, Frame *frame)
{
    std::string time;
    if (!(words >> time) || !parseTime(time, &frame->time))
        return false;
    std::string name, bytes;
    while (words >> name) {
        if (!(words >> bytes))
            return false;
        std::vector<unsigned char> *field = name == "graph" ? &frame->graph
                                            : name == "matrix" ? &frame->matrix
                                            : name == "touch" ? &frame->touch : nullptr;
        if (!field || !unhex(bytes, field))
            return false;
    }
    return true;
}

} // namespace

std::string hex(const unsigned char *bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(2 * length, '0');
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0xf];
    }
    return text;
}

std::string header(const Data &data, const std::string &comment)
{
    std::string text = "# A touch controller recording; replay it with the simulated controller.\n";
    if (!comment.empty())
        text += "# " + comment + "\n";
    text += "recording " + std::to_string(FormatVersion) + "\n";
    text += "product " + data.product + "\n";
    text += "interval-ms " + std::to_string(data.intervalMs) + "\n";
    text += "status " + hex(data.status.data(), data.status.size()) + "\n";
    text += "scan-rate " + hex(data.scanRate.data(), data.scanRate.size()) + "\n";
    return text;
}

std::string frameLine(const Frame &frame)
{
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", frame.time);
    std::string line = std::string("frame ") + time;
    if (!frame.graph.empty())
        line += " graph " + hex(frame.graph.data(), frame.graph.size());
    if (!frame.matrix.empty() || !frame.touch.empty()) {
        line += " matrix " + hex(frame.matrix.data(), frame.matrix.size());
        line += " touch " + hex(frame.touch.data(), frame.touch.size());
    }
    return line + "\n";
}

bool parse(const std::string &text, Data *data, std::string *error)
{
    *data = Data();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    bool versionSeen = false;
    while (std::getline(lines, line)) {
        ++number;
        const std::size_t comment = line.find('#');
        if (comment != std::string::npos)
            line.erase(comment);
        std::istringstream words(line);
        std::string key;
        if (!(words >> key))
            continue;
        std::string value;
        bool good = true;
        if (key == "frame") {
            Frame frame;
            good = parseFrame(words, &frame) && (data->frames.empty() || frame.time >= data->frames.back().time);
            if (good)
                data->frames.push_back(std::move(frame));
        } else if (!(words >> value)) {
            good = false;
        } else if (std::string extra; words >> extra) {
            good = false;
        } else if (key == "recording") {
            versionSeen = value == std::to_string(FormatVersion);
            good = versionSeen;
        } else if (key == "product") {
            data->product = value;
            good = value == "pravex" || value == "lunari";
        } else if (key == "interval-ms") {
            good = parseInterval(value, &data->intervalMs);
        } else if (key == "status") {
            good = unhex(value, &data->status);
        } else if (key == "scan-rate") {
            good = unhex(value, &data->scanRate);
        } else {
            good = false;
        }
        if (!good) {
            if (error)
                *error = "line " + std::to_string(number) + " is not part of a recording: " + line;
            return false;
        }
    }
    if (!versionSeen || data->product.empty() || data->intervalMs <= 0) {
        if (error)
            *error = "not a recording: the recording, product and interval-ms lines are missing";
        return false;
    }
    return true;
}

const Frame *frameAt(const Data &data, double seconds)
{
    if (data.frames.empty())
        return nullptr;
    // Frames carry the moment they were read, a little after their tick, so
    // the one nearest in time is shown; past the last, the loop starts again.
    const double length = data.frames.back().time + data.intervalMs / 1000.0;
    const double into = std::fmod(std::max(0.0, seconds), length);
    const Frame *shown = &data.frames.front();
    double distance = std::min(into, length - into);
    for (const Frame &frame : data.frames) {
        const double away = std::fabs(frame.time - into);
        if (away < distance) {
            shown = &frame;
            distance = away;
        }
    }
    return shown;
}

} // namespace Recording
