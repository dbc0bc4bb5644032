#include "commandline/LogCommand.h"

#include "commandline/Diagnostics.h"
#include "commandline/ExchangeRunner.h"
#include "commandline/ExitStatus.h"
#include "commandline/OutputFile.h"
#include "mainwindow/DriverLog.h"

#include <memory>

using namespace ExitStatus;

int LogCommand::run(ExchangeRunner &runner, const std::string &file)
{
    Diagnostics &diagnostics = runner.diagnostics();
    // The file first, so that nothing is asked of the driver for a file that cannot be written.
    OutputFile out(file);
    if (!out.open())
        return diagnostics.openFailure(out);
    runner.setPending(&out);
    if (!runner.askStatus())
        return runner.driverFailure();
    // Shared with the exchange, which a hung driver keeps running after this returns.
    struct Answer
    {
        std::string text;
        bool complete = false;
    };
    const auto answer = std::make_shared<Answer>();
    Param *param = runner.param();
    if (!runner.ask("matrix query", 0,
                    [param, answer] { return DriverLog::text(param, answer->text, &answer->complete) ? 1 : -1; }))
        return runner.driverFailure();
    if (!answer->complete) {
        runner.answeredShort("matrix query");
        return runner.driverFailure();
    }
    if (!out.write(answer->text))
        return diagnostics.outputFailure(out);
    runner.endIfStopped();
    if (!out.commit())
        return diagnostics.outputFailure(out);
    runner.setPending(nullptr);
    return Success;
}
