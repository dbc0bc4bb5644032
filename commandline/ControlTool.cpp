#include "commandline/ControlTool.h"

#include "app/Product.h"
#include "commandline/CommandLine.h"
#include "commandline/Diagnostics.h"
#include "commandline/DriverExchange.h"
#include "commandline/ExchangeRunner.h"
#include "commandline/ExitStatus.h"
#include "commandline/LiveSignals.h"
#include "commandline/LogCommand.h"
#include "commandline/OutputFile.h"
#include "commandline/StatusCommand.h"
#include "commandline/StopSignal.h"
#include "commandline/SwitchCommands.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// Descriptors 0 to 2 that are closed get /dev/null, so that no file the
// program opens, the driver's above all, takes their place. True when
// standard output was one of them.
bool openStandardDescriptors()
{
    bool outputClosed = false;
    for (int standard = 0; standard <= 2; ++standard) {
        if (::fcntl(standard, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (standard == STDOUT_FILENO)
            outputClosed = true;
        const int null = ::open("/dev/null", standard == 0 ? O_RDONLY : O_WRONLY);
        if (null < 0)
            std::_Exit(ExitStatus::Failed);
        if (null != standard) {
            ::dup2(null, standard);
            ::close(null);
        }
    }
    return outputClosed;
}

int run(int argc, char **argv, const Product &product)
{
    Diagnostics diagnostics(product.toolName);
    CommandLine commandLine(product, diagnostics);
    CommandLine::Options options;
    int status = ExitStatus::Success;
    const CommandLine::Command *command = commandLine.read(argc, argv, options, &status);
    if (!command)
        return status;

    // A desktop as wide and high as the driver's own scale makes the record
    // keep the touch area in the driver's units.
    Param::useDesktop(product.commands.areaDivisor, product.commands.areaDivisor);
    ExchangeRunner runner(product, Param::getInst(), diagnostics);
    runner.setRules(options.timeout, command->onlyAsks ? nullptr : command->name, command->refreshes);
    StopSignal::install();
    // Commands that only ask may do so through a file they may only read.
    AllowReadOnly(command->onlyAsks);

    const std::string verb = command->name;
    const std::string operand = options.operands.empty() ? std::string() : options.operands.front();
    if (verb == "status")
        return StatusCommand::run(runner, options);
    if (verb == "enable" || verb == "disable")
        return SwitchCommands::setOutput(runner, verb == "enable");
    if (verb == "threshold" || verb == "intensity")
        return SwitchCommands::setValue(runner, command->name, options.value);
    if (verb == "log")
        return LogCommand::run(runner, operand);
    if (verb == "watch")
        return LiveSignals::watch(runner, options.json, options.seconds);
    return LiveSignals::record(runner, operand, options.seconds);
}

} // namespace

int controlMain(int argc, char **argv, const Product &product)
{
    OutputFile::setStandardOutputClosed(openStandardDescriptors());
    Product::select(product);
    // A closed pipe shows as EPIPE on the write, so that temporary files go first.
    std::signal(SIGPIPE, SIG_IGN);

    const int status = run(argc, argv, product);
    // A driver exchange left stuck on its thread cannot be joined, and the
    // exit handlers could wait for it: the program ends here and now.
    if (DriverExchange::abandoned())
        std::_Exit(status);
    return status;
}
