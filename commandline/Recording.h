#ifndef RECORDING_H
#define RECORDING_H

#include <string>
#include <vector>

// A recording of a panel's live signals, as the command-line programs write
// it and the simulated controller replays it. Text, one item per line:
//
//   # comments, anywhere
//   recording 1
//   product lunari                    (or pravex)
//   interval-ms 80                    the refresh period it was taken at
//   status 000a0201...                the basic status answer, in hex
//   scan-rate 00640000                the scan-rate answer, in hex
//   frame 0.000 matrix 0102... touch 0100...     second command set
//   frame 0.000 graph 0809...                    first command set
//
// interval-ms is a whole number from 1 to 60000; a frame's time is in seconds
// from the start (0 to 1e9, never decreasing); its fields are the driver's
// answers as read: the 128 graph samples, or the code-66 matrix (layout X
// times layout Y bytes) and the 128-byte touch block.
namespace Recording {

struct Frame
{
    double time = 0;
    std::vector<unsigned char> graph;
    std::vector<unsigned char> matrix;
    std::vector<unsigned char> touch;
};

struct Data
{
    std::string product;
    int intervalMs = 0;
    std::vector<unsigned char> status;
    std::vector<unsigned char> scanRate;
    std::vector<Frame> frames;
};

// The lines before the first frame, with a comment that spells the status out.
std::string header(const Data &data, const std::string &comment);
std::string frameLine(const Frame &frame);

// Reads a whole recording; false with a message naming the line when it is not one.
bool parse(const std::string &text, Data *data, std::string *error);

// The frame nearest in time to a moment from the start, the recording playing
// in a loop of its frames' length plus one period. Null when there are no frames.
const Frame *frameAt(const Data &data, double seconds);

std::string hex(const unsigned char *bytes, std::size_t length);

} // namespace Recording

#endif // RECORDING_H
