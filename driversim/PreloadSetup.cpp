// Configuration of the preloaded simulator: the environment names the
// scenario, the transcript file, the control file and the lock folder.

#include "driversim/DriverSim.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

__attribute__((constructor)) void configureFromEnvironment()
{
    // A program that runs for hours must not keep every exchange in memory.
    DriverSim::setKeepTranscript(false);

    const std::string scenario = environment("DRIVERSIM_SCENARIO");
    if (!scenario.empty()) {
        std::string errors;
        if (!DriverSim::loadScenarioFile(scenario, &errors))
            std::fprintf(stderr, "driversim: scenario %s:\n%s", scenario.c_str(), errors.c_str());
    }
    DriverSim::setTranscriptFile(environment("DRIVERSIM_TRANSCRIPT"));
    DriverSim::setControlFile(environment("DRIVERSIM_CONTROL"));
    DriverSim::setLockDirectory(environment("DRIVERSIM_LOCK_DIR"));
}

} // namespace
