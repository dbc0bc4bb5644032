#include "commandline/ExchangeRunner.h"

#include "app/Product.h"
#include "commandline/Diagnostics.h"
#include "commandline/DriverExchange.h"
#include "commandline/ExitStatus.h"
#include "commandline/Formatted.h"
#include "commandline/OutputFile.h"
#include "commandline/StopSignal.h"
#include "driverlink/KerDriverFunc.h"

#include <cerrno>
#include <cstring>

ExchangeRunner::ExchangeRunner(const Product &product, Param *param, Diagnostics &diagnostics)
    : theProduct(product), theParam(param), diagnosed(diagnostics)
{
}

void ExchangeRunner::setRules(double seconds, const char *command, bool refreshing)
{
    timeout = seconds;
    writing = command;
    looping = refreshing;
}

int ExchangeRunner::exchange(const std::function<int()> &call)
{
    int result = -1;
    switch (DriverExchange::run(timeout, call, &result, StopSignal::flag())) {
    case DriverExchange::Answered:
        return result;
    case DriverExchange::TimedOut:
        errno = ETIMEDOUT;
        return -1;
    case DriverExchange::Stopped:
        break;
    }
    endIfStopped();
    errno = EINTR;
    return -1;
}

bool ExchangeRunner::ask(const char *query, int wanted, const std::function<int()> &call)
{
    const int result = exchange(call);
    // A query that reads nothing (an old driver's touch points) counts as answered.
    if (result > 0 && (lastRead < 0 || lastRead >= wanted))
        return true;
    keepFailure(result, errno, query, wanted);
    return false;
}

bool ExchangeRunner::askStatus()
{
    Param *param = theParam;
    return ask("basic status query", KerDecode::BasicStatusLength, [param] { return GetBasicStatus(param); });
}

bool ExchangeRunner::askScanRate()
{
    Param *param = theParam;
    return ask("scan-rate query", theProduct.commands.getFpsLength, [param] { return GetFPS(param); });
}

bool ExchangeRunner::tell(const char *command, const std::function<int()> &call)
{
    const int result = exchange(call);
    if (result > 0)
        return true;
    keepFailure(result, errno, command, 0);
    return false;
}

void ExchangeRunner::answeredShort(const char *query)
{
    kept.word = "short-answer";
    kept.reason = std::string("short answer to the ") + query;
}

void ExchangeRunner::keepFailure(int result, int error, const char *query, int wanted)
{
    if (result <= 0 && error == ETIMEDOUT) {
        kept.word = "timeout";
        kept.reason = formatted("no answer to the %s within %g s (timeout)", query, timeout);
    } else if (result > 0) {
        kept.word = "short-answer";
        kept.reason = formatted("short answer to the %s (%d of %d bytes)", query, lastRead, wanted);
    } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
        kept.word = "not-loaded";
        kept.reason = std::string("not loaded (") + std::strerror(error) + ")";
    } else if (error == EACCES || error == EPERM) {
        kept.word = "permission-denied";
        kept.reason = std::string("permission denied (") + std::strerror(error) + ")";
        if (writing)
            kept.reason += std::string("; ") + writing + " needs write access to it";
    } else if (error == EBUSY) {
        kept.word = "busy";
        kept.reason = std::string("in use by another program (") + std::strerror(error) + ")";
    } else {
        kept.word = "transfer-failed";
        kept.reason = std::string("transfer failed in the ") + query + " (" + std::strerror(error) + ")";
    }
}

int ExchangeRunner::driverFailure()
{
    diagnosed.message(std::string(theProduct.driverFile) + ": " + kept.reason);
    return ExitStatus::Failed;
}

void ExchangeRunner::endIfStopped()
{
    if (!StopSignal::requested() || looping)
        return;
    if (pending)
        pending->discard();
    StopSignal::end();
}
