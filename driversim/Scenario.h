#ifndef SCENARIO_H
#define SCENARIO_H

#include "driversim/DriverSim.h"

#include <string>
#include <vector>

namespace DriverSim {

// The text form of controller settings: "family.key = value" lines, "#"
// comments, and timed lines "at <seconds> family.key = value".
class Scenario
{
public:
    struct Line
    {
        double at = -1;       // seconds from process start; below 0: at once
        std::string key;      // "pravex.fps"
        std::string value;
        int number = 0;       // line number in its text, for messages
    };

    // Parses and checks every line; a bad line is described in errors
    // ("line N: ...", one per line) and left out of the result.
    static std::vector<Line> parse(const std::string &text, std::string *errors);

    // Applies one setting to the controller its key names.
    static bool apply(const Line &line, Controller &pravex, Controller &lunari, std::string *error);
};

} // namespace DriverSim

#endif // SCENARIO_H
