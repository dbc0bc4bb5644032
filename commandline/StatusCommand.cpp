#include "commandline/StatusCommand.h"

#include "app/Product.h"
#include "commandline/Diagnostics.h"
#include "commandline/ExchangeRunner.h"
#include "commandline/ExitStatus.h"
#include "commandline/OutputFile.h"
#include "commandline/StatusReport.h"
#include "driverlink/KerDriverFunc.h"

using namespace ExitStatus;

int StatusCommand::run(ExchangeRunner &runner, const CommandLine::Options &options)
{
    const Product &product = runner.product();
    Param *param = runner.param();
    Diagnostics &diagnostics = runner.diagnostics();
    const std::string form = options.json ? std::string("json") : options.format.empty() ? "text" : options.format;
    OutputFile out(options.output);
    if (!out.open())
        return diagnostics.openFailure(out);
    runner.setPending(&out);
    const bool found = runner.askScanRate() && runner.askStatus();
    const StatusReport::Failure none;
    const StatusReport::Failure &failure = found ? none : runner.failure();
    std::string text;
    if (form == "json")
        text = StatusReport::json(product, *param, failure);
    else if (form == "prometheus")
        text = StatusReport::prometheus(product, *param, failure);
    else if (found)
        text = StatusReport::text(product, *param);
    // The machine-readable forms tell of a failure too, so that a monitor sees it.
    if (!text.empty() && !out.write(text))
        return diagnostics.outputFailure(out);
    runner.endIfStopped();
    if (!text.empty() && !out.commit())
        return diagnostics.outputFailure(out);
    runner.setPending(nullptr);
    // A metrics file for the textfile collector carries the failure as data:
    // the driver's state is what it reports, and the run itself succeeded.
    if (form == "prometheus" && !out.standardOutput())
        return Success;
    return found ? int(Success) : runner.driverFailure();
}
