#ifndef DRIVERMODEL_H
#define DRIVERMODEL_H

#include "driversim/DriverSim.h"

#include <cstddef>

namespace DriverSim {

// The driver's side of the byte protocol for one controller: answers query
// reads and applies command writes, including the configured faults.
class DriverModel
{
public:
    DriverModel(Controller &controller, Family family);

    // A read of length bytes into buffer, whose byte 0 holds the query code.
    // atEnd: the descriptor is not at offset 0, so the file reads as empty.
    // Returns the bytes delivered, or -errno.
    long query(unsigned char *buffer, std::size_t length, bool atEnd, double now);

    // A write of a request whose byte 0 is the command code; returns length or -errno.
    long command(const unsigned char *request, std::size_t length, double now);

    // Highest value of an area edge in the driver's scale.
    static int areaScale(Family family);

private:
    bool answer(unsigned char code, std::vector<unsigned char> &out, double now);
    const Recording::Frame *replayFrame(double now);
    void basicStatus(std::vector<unsigned char> &out) const;
    void calibrationStatus(std::vector<unsigned char> &out, double now);
    void calibrateEnd(const unsigned char *request);
    void renderSamples();
    void renderMatrices();
    void renderTouchBlock();
    double touchFractionX(int point) const;
    double touchFractionY(int point) const;
    int cellCount() const;

    Controller &c;
    Family family;
};

} // namespace DriverSim

#endif // DRIVERMODEL_H
