#include "driversim/DriverSim.h"

#include "driversim/Simulator.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace DriverSim {

namespace {

const char *const kindNames[] = {"open", "openfailed", "seek", "read", "write", "close"};

const char *familyName(Family family)
{
    return family == Family::Pravex ? "pravex" : "lunari";
}

bool parseNumber(const std::string &text, long *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    *value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

bool parseHex(const std::string &text, std::vector<unsigned char> *bytes)
{
    if (text.size() % 2 != 0)
        return false;
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char *end = nullptr;
        const std::string digits = text.substr(i, 2);
        const long value = std::strtol(digits.c_str(), &end, 16);
        if (*end != '\0')
            return false;
        bytes->push_back(static_cast<unsigned char>(value));
    }
    return true;
}

} // namespace

const char *driverPath(Family family)
{
    return family == Family::Pravex ? "/proc/zazevizuve/communication" : "/proc/rodurirede/communication";
}

Controller defaults(Family family)
{
    Controller c;
    if (family == Family::Lunari) {
        c.fps = 100;
        c.firmwareVersion = 2;
        c.driverVersionMajor = 1;
        c.driverVersionMinor = 1;
        c.layoutX = 40;
        c.layoutY = 30;
        c.channelCount = 70;
        c.intensity = 0;
        c.threshold = 30;
        c.areaRight = 4095;
        c.areaBottom = 4095;
    }
    return c;
}

Controller &controller(Family family)
{
    return Simulator::instance().controller(family);
}

void reset()
{
    Simulator::instance().reset();
}

std::vector<Exchange> transcript()
{
    return Simulator::instance().transcript();
}

void clearTranscript()
{
    Simulator::instance().clearTranscript();
}

int openDescriptors(Family family)
{
    return Simulator::instance().openDescriptors(family);
}

bool loadScenario(const std::string &text, std::string *errors)
{
    return Simulator::instance().loadScenario(text, errors);
}

bool loadScenarioFile(const std::string &path, std::string *errors)
{
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        if (errors)
            *errors = "cannot read " + path + "\n";
        return false;
    }
    std::string text;
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, count);
    std::fclose(file);
    return loadScenario(text, errors);
}

void setControlFile(const std::string &path)
{
    Simulator::instance().setControlFile(path);
}

void setTranscriptFile(const std::string &path)
{
    Simulator::instance().setTranscriptFile(path);
}

void setLockDirectory(const std::string &path)
{
    Simulator::instance().setLockDirectory(path);
}

void setKeepTranscript(bool keep)
{
    Simulator::instance().setKeepTranscript(keep);
}

double elapsedSeconds()
{
    return Simulator::instance().elapsed();
}

std::string formatExchange(const Exchange &exchange)
{
    std::string line = std::string("family=") + familyName(exchange.family)
        + " kind=" + kindNames[exchange.kind]
        + " fd=" + std::to_string(exchange.fd)
        + " len=" + std::to_string(exchange.length)
        + " code=" + std::to_string(exchange.code)
        + " result=" + std::to_string(exchange.result)
        + " errno=" + std::to_string(exchange.error)
        + " bytes=";
    // A large matrix answer makes tens of thousands of digits per line, all
    // spent inside the program under test, so no formatted output per byte.
    static const char digits[] = "0123456789abcdef";
    std::size_t at = line.size();
    line.resize(at + 2 * exchange.bytes.size());
    for (unsigned char byte : exchange.bytes) {
        line[at++] = digits[byte >> 4];
        line[at++] = digits[byte & 0x0f];
    }
    return line;
}

bool parseExchange(const std::string &line, Exchange *exchange)
{
    Exchange parsed;
    bool haveFamily = false;
    bool haveKind = false;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const auto equals = word.find('=');
        if (equals == std::string::npos)
            return false;
        const std::string key = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        long number = 0;
        if (key == "family") {
            if (value != "pravex" && value != "lunari")
                return false;
            parsed.family = value == "pravex" ? Family::Pravex : Family::Lunari;
            haveFamily = true;
        } else if (key == "kind") {
            for (int kind = Exchange::Open; kind <= Exchange::Close; ++kind) {
                if (value == kindNames[kind]) {
                    parsed.kind = static_cast<Exchange::Kind>(kind);
                    haveKind = true;
                }
            }
            if (!haveKind)
                return false;
        } else if (key == "bytes") {
            if (!parseHex(value, &parsed.bytes))
                return false;
        } else if (key == "fd" || key == "len" || key == "code" || key == "result" || key == "errno") {
            if (!parseNumber(value, &number))
                return false;
            if (key == "fd")
                parsed.fd = static_cast<int>(number);
            else if (key == "len")
                parsed.length = static_cast<int>(number);
            else if (key == "code")
                parsed.code = static_cast<unsigned char>(number);
            else if (key == "result")
                parsed.result = number;
            else
                parsed.error = static_cast<int>(number);
        }
    }
    if (!haveFamily || !haveKind)
        return false;
    *exchange = parsed;
    return true;
}

} // namespace DriverSim
