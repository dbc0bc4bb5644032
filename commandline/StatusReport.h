#ifndef STATUSREPORT_H
#define STATUSREPORT_H

#include <string>

class Param;
struct Product;

// What the status command prints, in its three forms: lines for people, one
// JSON object, and the Prometheus text exposition format for node_exporter's
// textfile collector. Pure functions of the record and of what failed.
namespace StatusReport {

// Why the driver could not be read: a stable word (not-loaded,
// permission-denied, busy, timeout, transfer-failed, short-answer) and the reason in
// words; an empty word when it answered.
struct Failure
{
    std::string word;
    std::string reason;
};

std::string text(const Product &product, const Param &param);
std::string json(const Product &product, const Param &param, const Failure &failure);
std::string prometheus(const Product &product, const Param &param, const Failure &failure);

// A JSON string literal, quotes included.
std::string jsonString(const std::string &text);

} // namespace StatusReport

#endif // STATUSREPORT_H
