#ifndef EXCHANGERUNNER_H
#define EXCHANGERUNNER_H

#include "commandline/StatusReport.h"

#include <functional>
#include <string>

class Diagnostics;
class OutputFile;
class Param;
struct Product;

// Every driver exchange of the command-line programs goes through here: it
// is bounded by the time limit, obeys a stop request (a command that does
// one thing ends by the signal, its file removed first; watch and record end
// cleanly), and its failure is kept as the stable word and the reason in
// words that the messages, the JSON "error" and the Prometheus reason share.
class ExchangeRunner
{
public:
    ExchangeRunner(const Product &product, Param *param, Diagnostics &diagnostics);

    const Product &product() const { return theProduct; }
    Param *param() const { return theParam; }
    Diagnostics &diagnostics() const { return diagnosed; }

    // How the command runs: the seconds each exchange may take; the command
    // that needs write access (null for one that only asks), named when
    // permission is refused; whether it refreshes until stopped.
    void setRules(double timeout, const char *writing, bool looping);
    // The file a stop removes before the program ends; null for none.
    void setPending(OutputFile *file) { pending = file; }

    // A query under the time limit: true when it answered with at least
    // wanted bytes; otherwise the failure is kept.
    bool ask(const char *query, int wanted, const std::function<int()> &call);
    // The basic status query, which most commands make, and the scan-rate
    // query, whose raw answer status and record keep.
    bool askStatus();
    bool askScanRate();
    // A command sent under the time limit: true when the driver took it.
    bool tell(const char *command, const std::function<int()> &call);
    // A query the driver answered only in part.
    void answeredShort(const char *query);

    const StatusReport::Failure &failure() const { return kept; }
    // Tells the kept failure with the driver's file name: status 1.
    int driverFailure();
    // Ends a command that does one thing when a stop was asked for, its file removed first.
    void endIfStopped();

private:
    // The one place that performs a driver exchange: the call's result, or
    // -1 with errno ETIMEDOUT when it did not come back in time (EINTR when
    // a stop came first), the call then left behind on its thread.
    int exchange(const std::function<int()> &call);
    // Keeps the failure of an exchange whose result and errno are given.
    void keepFailure(int result, int error, const char *query, int wanted);

    const Product &theProduct;
    Param *theParam;
    Diagnostics &diagnosed;
    StatusReport::Failure kept;
    double timeout = 5;
    const char *writing = nullptr;
    bool looping = false;
    OutputFile *pending = nullptr;
};

#endif // EXCHANGERUNNER_H
