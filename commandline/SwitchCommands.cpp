#include "commandline/SwitchCommands.h"

#include "app/Product.h"
#include "commandline/Diagnostics.h"
#include "commandline/ExchangeRunner.h"
#include "commandline/ExitStatus.h"
#include "commandline/OutputFile.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"

#include <cstring>
#include <functional>
#include <string>

using namespace ExitStatus;

namespace {

// Sends a command that sets field to wanted, reads the status back and tells
// what the driver holds. Standard output is checked first, so that nothing is
// changed when the answer cannot be told.
int setAndReadBack(ExchangeRunner &runner, const char *command, const std::function<int()> &send,
                   const std::function<std::string()> &held, const std::function<std::string()> &refused)
{
    Diagnostics &diagnostics = runner.diagnostics();
    OutputFile out("-");
    if (!out.open())
        return diagnostics.openFailure(out);
    if (!runner.tell(command, send) || !runner.askStatus())
        return runner.driverFailure();
    if (!out.write(held() + "\n"))
        return diagnostics.outputFailure(out);
    const std::string refusal = refused();
    if (refusal.empty())
        return Success;
    diagnostics.message(std::string(runner.product().driverFile) + ": " + refusal + " (it did not take the command)");
    return Failed;
}

} // namespace

int SwitchCommands::setOutput(ExchangeRunner &runner, bool enabled)
{
    Param *param = runner.param();
    param->outputEnabled = enabled;
    const auto state = [param] { return std::string(param->outputEnabled ? "enabled" : "disabled"); };
    return setAndReadBack(
        runner, "output command", [param] { return SetOutPut(param); },
        [state] { return "touch output: " + state(); },
        [param, enabled, state] {
            return param->outputEnabled == enabled ? std::string() : "the driver kept the touch output " + state();
        });
}

int SwitchCommands::setValue(ExchangeRunner &runner, const char *what, long value)
{
    Param *param = runner.param();
    const bool threshold = std::strcmp(what, "threshold") == 0;
    int *field = threshold ? &param->threshold : &param->intensity;
    *field = static_cast<int>(value);
    const std::string name = what;
    return setAndReadBack(
        runner, threshold ? "threshold command" : "intensity command",
        [param, threshold] { return threshold ? SetThreshold(param) : SetIntensity(param); },
        [name, field] { return name + ": " + std::to_string(*field); },
        [name, field, value] {
            return *field == value ? std::string()
                                   : "the driver holds " + name + " " + std::to_string(*field) + ", not "
                                         + std::to_string(value);
        });
}
