#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "driversim/DriverSim.h"
#include "driversim/Scenario.h"

#include <cstddef>
#include <fcntl.h>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace DriverSim {

// The process-wide simulator: both controllers, the simulated descriptors,
// the transcript and the timed and live settings. The interposed C library
// functions hand it every call on a driver path or a simulated descriptor;
// each call returns like the system call would, with errno set on failure.
class Simulator
{
public:
    static Simulator &instance();

    // Lock-free: whether fd is a simulated descriptor. Called for every
    // read and write in the process, from any thread.
    static bool owns(int fd);
    // Whether path names one of the driver control files, and whose.
    static bool driverFile(const char *path, Family *family);

    // flags as given to open(): their access mode is checked against the file's.
    int open(Family family, int flags = O_RDWR);
    long seek(int fd, long offset, int whence);
    long read(int fd, void *buffer, std::size_t length);
    long write(int fd, const void *buffer, std::size_t length);
    int close(int fd);
    // copy now refers to the same open file as fd (dup, dup2, fcntl).
    void duplicated(int fd, int copy);
    // fd was closed by the C library itself (the target of a dup2).
    void dropped(int fd);
    // stat/access on a driver path: 0, or -1 with errno ENOENT when absent.
    int lookUp(Family family);

    Controller &controller(Family family);
    void reset();
    std::vector<Exchange> transcript();
    void clearTranscript();
    int openDescriptors(Family family);
    bool loadScenario(const std::string &text, std::string *errors);
    void setControlFile(const std::string &path);
    void setTranscriptFile(const std::string &path);
    void setKeepTranscript(bool keep);
    void setLockDirectory(const std::string &path);
    double elapsed() const;

private:
    struct Description
    {
        Family family = Family::Pravex;
        long position = 0;
        bool stale = false;   // the driver went away while this was open
        bool readOnly = false;   // opened O_RDONLY: writes fail with EBADF
    };
    struct Timed
    {
        Scenario::Line line;
        bool done = false;
    };

    Simulator();
    // A read or a write on a simulated descriptor, answered by the driver model.
    long transfer(int fd, Exchange::Kind kind, unsigned char *bytes, std::size_t length);
    // Blocks for the controller's delay first; false (errno EINTR) when a signal cut it short.
    bool waitAsTheDriver(int fd, Exchange::Kind kind, const unsigned char *bytes, std::size_t length);
    // The clock's due work done, the open file of a simulated descriptor;
    // null with errno EBADF for any other.
    Description *begin(int fd, double now);
    Description *find(int fd);
    bool openedBy(Family family) const;
    void forget(int fd);
    void maintain(double now);
    void applyDue(std::vector<Timed> &timed, double now);
    void schedule(const std::vector<Scenario::Line> &lines, std::vector<Timed> &timed, double now);
    void apply(const Scenario::Line &line);
    void pollControlFile(double now);
    void record(const Exchange &exchange, double now);

    std::mutex mutex;
    timespec start{};
    Controller controllers[2];
    std::map<int, int> descriptorOf;          // fd -> open file id
    std::map<int, Description> descriptions;  // open file id -> state
    int nextDescription = 1;
    std::vector<Exchange> exchanges;
    bool keepTranscript = true;
    int transcriptFd = -1;
    std::vector<Timed> scenarioTimed;
    std::vector<Timed> controlTimed;
    std::string controlPath;
    std::string lockDirectory = "/tmp";
    double lastControlCheck = -1;
    bool controlSeen = false;
    timespec controlStamp{};
    long long controlSize = -1;
};

} // namespace DriverSim

#endif // SIMULATOR_H
