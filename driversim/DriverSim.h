#ifndef DRIVERSIM_H
#define DRIVERSIM_H

#include "commandline/Recording.h"

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A simulated touch controller behind the two driver control files, served at
// the system-call level: open, lseek, read, write and close on those paths are
// answered here, every other path and descriptor goes to the C library.
// Linked into a test executable it is driven through this API; preloaded
// into a program it is driven by a scenario file (see README.md).
namespace DriverSim {

enum class Family { Pravex, Lunari };

// One system call on a simulated control file, as the transcript keeps it.
struct Exchange
{
    enum Kind { Open, OpenFailed, Seek, Read, Write, Close };

    Kind kind = Open;
    Family family = Family::Pravex;
    int fd = -1;
    int length = 0;                    // read/write: bytes asked for; seek: the offset
    long result = 0;                   // what the call returned
    int error = 0;                     // errno of a failed call, else 0
    std::vector<unsigned char> bytes;  // write: request bytes; read: the answer as delivered
    unsigned char code = 0;            // byte 0 of the request / the caller's query code
};

// The last CalibrateEnd request, decoded.
struct CalibrateEndRequest
{
    bool received = false;
    int mode = 0;
    int screenWidth = 0;
    int screenHeight = 0;
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// State of one simulated controller. Status fields are raw answer bytes (the
// low 8 bits are sent), area edges are in the driver's own scale
// (0..1023 for Pravex, 0..4095 for Lunari).
struct Controller
{
    bool present = true;          // absent: open/stat/access fail with ENOENT; open descriptors then fail with ENODEV
    int openError = 0;            // present but open refused with this errno (e.g. EACCES)
    bool readOnly = false;        // the file grants reading only: opens for writing fail with EACCES
    bool exclusive = false;       // one opener at a time, in any process: open fails with EBUSY while another is open

    int fps = 60;
    bool fpsPending = false;      // Lunari only: scan-rate answer byte 3 = 1

    int touchPoints = 10;
    int firmwareVersion = 3;
    int driverVersionMajor = 1;
    int driverVersionMinor = 2;
    int channelCount = 32;
    int layoutX = 20;
    int layoutY = 12;
    int intensity = 8;
    int output = 1;               // status byte 9; SetOutPut stores its byte here
    int threshold = 18;
    int calibMode = 0;            // status byte 11 (0xFF reads as -1)
    int areaLeft = 0;
    int areaRight = 1023;
    int areaTop = 0;
    int areaBottom = 1023;

    // Calibration: CalibrateStart walks statuses 1, 2, 3 with progress 0..150,
    // then reports 4 (or 5 when calibFails) until CalibrateEnd.
    bool calibrating = false;
    int calibStatus = 0;
    int calibValue = 0;
    int calibStep = 30;           // progress added per status query; 0 or less never advances
    double calibSecondsPerTarget = 0;  // above 0: progress follows the clock instead of the queries
    double calibTargetStartedAt = 0;   // internal: clock of the current target
    bool calibFails = false;
    CalibrateEndRequest lastCalibrateEnd;

    // Signals. With animate on, every graph (Pravex) or code-66 (Lunari)
    // query advances one frame and regenerates samples, matrices and touch
    // block; with it off they are delivered as they stand.
    bool animate = true;
    int frame = 0;
    std::array<unsigned char, 128> samples{};   // Pravex graph: X channels, then Y channels
    std::vector<unsigned char> matrix66;        // Lunari: cell (x, y) at x * layoutY + y
    std::vector<unsigned char> matrix67;
    int touchCount = 1;                         // touch block byte 0 (room for 31 points)
    std::array<unsigned char, 128> touchBlock{};

    // A recording (commandline/Recording.h) played in a loop at its own pace
    // from the first signal query on: its frames answer the graph, code-66
    // and touch-point queries. Loading one takes its status and scan rate too.
    std::shared_ptr<const Recording::Data> replay;
    double replayStartedAt = -1;                // internal: clock of the first frame

    // Faults.
    int failReads = 0;            // the next N reads fail with failErrno
    int failWrites = 0;           // the next N writes fail with failErrno
    int failErrno = 5;            // EIO
    int failEveryRead = 0;        // every Nth read fails (0: never)
    int failEveryWrite = 0;       // every Nth write fails (0: never)
    int shortAnswer = -1;         // deliver at most this many bytes per read (-1: all)
    bool ignoreCommands = false;  // commands are accepted but change nothing
    int delayMs = 0;              // every read and write blocks this long first; a signal ends it with EINTR
    bool stuck = false;           // every read and write blocks for ever, deaf to signals
    std::map<int, std::vector<unsigned char>> overrides;  // query code -> verbatim answer

    // Counters of reads and writes on this controller's descriptors.
    int reads = 0;
    int writes = 0;
};

// The control file of each family.
const char *driverPath(Family family);

// A present controller with plausible defaults for the family.
Controller defaults(Family family);

// Simulated controllers; the reference stays valid for the whole process.
// Change fields only while no other thread is inside a simulated call.
Controller &controller(Family family);

// Both controllers to their defaults, faults off, pending timed settings
// dropped, transcript cleared. Open descriptors stay usable.
void reset();

std::vector<Exchange> transcript();   // every exchange since the last clear
void clearTranscript();
int openDescriptors(Family family);   // simulated descriptors currently open

// True on the calling thread while the simulator serves a call, so a test
// that counts heap allocations can leave out the simulator's own.
bool insideSimulator();

// Scenario text: "family.key = value" lines, "#" comments and timed lines
// "at <seconds> family.key = value" counted from process start. Valid lines
// are applied even when others fail; the errors are returned one per line.
bool loadScenario(const std::string &text, std::string *errors = nullptr);
bool loadScenarioFile(const std::string &path, std::string *errors = nullptr);

// Re-read the control file whenever its modification time changes (checked
// at most every 50 ms from calls on the driver paths). Empty: no control file.
void setControlFile(const std::string &path);

// Append every exchange as a text line to this file. Empty: no file.
void setTranscriptFile(const std::string &path);

// Where the lock files of exclusive drivers are kept (/tmp by default):
// programs that use the same folder see each other's opens.
void setLockDirectory(const std::string &path);

// Keep exchanges in memory for transcript() (on by default).
void setKeepTranscript(bool keep);

// Seconds since the process started, the clock of the timed lines.
double elapsedSeconds();

// One transcript line: "family=pravex kind=read fd=3 len=32 code=102 result=32 errno=0 bytes=66..."
std::string formatExchange(const Exchange &exchange);
// Parses a line of formatExchange (other key=value fields are ignored).
bool parseExchange(const std::string &line, Exchange *exchange);

} // namespace DriverSim

#endif // DRIVERSIM_H
