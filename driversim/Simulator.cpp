#include "driversim/Simulator.h"

#include "driversim/DriverModel.h"
#include "driversim/LibC.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace DriverSim {

namespace {

const int MaxDescriptor = 65536;

// Family + 1 for every simulated descriptor, 0 for all others: the one
// thing the interposed calls look at for a foreign descriptor.
std::atomic<unsigned char> ownedDescriptors[MaxDescriptor];

thread_local int insideDepth = 0;

struct Inside
{
    Inside() { ++insideDepth; }
    ~Inside() { --insideDepth; }
    Inside(const Inside &) = delete;
    Inside &operator=(const Inside &) = delete;
};

int index(Family family)
{
    return family == Family::Pravex ? 0 : 1;
}

double secondsBetween(const timespec &from, const timespec &to)
{
    return static_cast<double>(to.tv_sec - from.tv_sec) + (to.tv_nsec - from.tv_nsec) / 1e9;
}

// The simulator's own files stay above the standard descriptors, so that a
// program that starts with them closed finds them closed.
int aboveStandard(int file)
{
    if (file < 0 || file > 2)
        return file;
    const int moved = ::fcntl(file, F_DUPFD_CLOEXEC, 3);
    LibC::close(file);
    return moved;
}

// An exclusive driver admits one opener on the whole machine: its simulated
// descriptors are opens of this file, locked, so that two programs see each other.
int lockDriver(const std::string &directory, Family family)
{
    const std::string path = directory + "/driversim-" + std::to_string(::getuid()) + "-"
                             + (family == Family::Pravex ? "pravex" : "lunari") + ".lock";
    const int lock = LibC::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return -1;
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        LibC::close(lock);
        errno = error;
        return -1;
    }
    return lock;
}

timespec monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// The transcript entry of a read or write, before its outcome is known.
Exchange transferOf(Exchange::Kind kind, Family family, int fd, const unsigned char *bytes, std::size_t length)
{
    Exchange exchange;
    exchange.kind = kind;
    exchange.family = family;
    exchange.fd = fd;
    exchange.length = static_cast<int>(length);
    exchange.code = length > 0 ? bytes[0] : 0;
    return exchange;
}

// Builds the simulator while the process starts, so timed settings count from there.
const Simulator &startedEarly = Simulator::instance();

} // namespace

bool insideSimulator()
{
    return insideDepth > 0;
}

Simulator &Simulator::instance()
{
    // Never destroyed: exit handlers may still close or read descriptors.
    static Simulator *simulator = new Simulator;
    return *simulator;
}

Simulator::Simulator()
    : start(monotonicNow())
{
    controllers[0] = defaults(Family::Pravex);
    controllers[1] = defaults(Family::Lunari);
}

bool Simulator::owns(int fd)
{
    return fd >= 0 && fd < MaxDescriptor && ownedDescriptors[fd].load(std::memory_order_acquire) != 0;
}

bool Simulator::driverFile(const char *path, Family *family)
{
    if (!path)
        return false;
    if (std::strcmp(path, driverPath(Family::Pravex)) == 0) {
        *family = Family::Pravex;
        return true;
    }
    if (std::strcmp(path, driverPath(Family::Lunari)) == 0) {
        *family = Family::Lunari;
        return true;
    }
    return false;
}

double Simulator::elapsed() const
{
    return secondsBetween(start, monotonicNow());
}

Simulator::Description *Simulator::begin(int fd, double now)
{
    maintain(now);
    Description *description = find(fd);
    if (!description)
        errno = EBADF;
    return description;
}

Simulator::Description *Simulator::find(int fd)
{
    const auto it = descriptorOf.find(fd);
    return it == descriptorOf.end() ? nullptr : &descriptions[it->second];
}

int Simulator::open(Family family, int flags)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    const double now = elapsed();
    maintain(now);
    Controller &c = controller(family);

    Exchange exchange;
    exchange.kind = Exchange::OpenFailed;
    exchange.family = family;
    exchange.result = -1;
    if (!c.present) {
        exchange.error = ENOENT;
    } else if (c.openError != 0) {
        exchange.error = c.openError;
    } else if (c.readOnly && (flags & O_ACCMODE) != O_RDONLY) {
        exchange.error = EACCES;
    } else if (c.exclusive && openedBy(family)) {
        exchange.error = EBUSY;
    } else {
        // A real descriptor keeps the number unique and visible in /proc/self/fd.
        const int fd = c.exclusive ? lockDriver(lockDirectory, family) : LibC::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            exchange.error = errno;
        } else if (fd >= MaxDescriptor) {
            LibC::close(fd);
            exchange.error = EMFILE;
        } else {
            const int id = nextDescription++;
            descriptions[id].family = family;
            descriptions[id].readOnly = (flags & O_ACCMODE) == O_RDONLY;
            descriptorOf[fd] = id;
            ownedDescriptors[fd].store(static_cast<unsigned char>(index(family) + 1), std::memory_order_release);
            exchange.kind = Exchange::Open;
            exchange.fd = fd;
            exchange.result = fd;
        }
    }
    record(exchange, now);
    if (exchange.error != 0)
        errno = exchange.error;
    return static_cast<int>(exchange.result);
}

long Simulator::seek(int fd, long offset, int whence)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    const double now = elapsed();
    Description *description = begin(fd, now);
    if (!description)
        return -1;

    Exchange exchange;
    exchange.kind = Exchange::Seek;
    exchange.family = description->family;
    exchange.fd = fd;
    exchange.length = static_cast<int>(offset);
    long position = offset;
    if (whence == SEEK_CUR)
        position += description->position;
    else if (whence != SEEK_SET && whence != SEEK_END)
        position = -1;
    if (position < 0) {
        exchange.result = -1;
        exchange.error = EINVAL;
    } else {
        description->position = position;
        exchange.result = position;
    }
    record(exchange, now);
    if (exchange.error != 0)
        errno = exchange.error;
    return exchange.result;
}

long Simulator::read(int fd, void *buffer, std::size_t length)
{
    return transfer(fd, Exchange::Read, static_cast<unsigned char *>(buffer), length);
}

long Simulator::write(int fd, const void *buffer, std::size_t length)
{
    // A request is only read from.
    return transfer(fd, Exchange::Write, static_cast<unsigned char *>(const_cast<void *>(buffer)), length);
}

bool Simulator::waitAsTheDriver(int fd, Exchange::Kind kind, const unsigned char *bytes, std::size_t length)
{
    int delayMs = 0;
    bool stuck = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (Description *description = begin(fd, elapsed())) {
            delayMs = controller(description->family).delayMs;
            stuck = controller(description->family).stuck;
        }
    }
    // A driver stuck in an uninterruptible wait: no signal ends the call.
    while (stuck)
        ::pause();
    if (delayMs <= 0)
        return true;
    // Outside the lock, so that other threads' calls go on meanwhile.
    timespec wait{delayMs / 1000, (delayMs % 1000) * 1000000L};
    if (::nanosleep(&wait, nullptr) == 0 || errno != EINTR)
        return true;
    std::lock_guard<std::mutex> lock(mutex);
    const double now = elapsed();
    if (Description *description = begin(fd, now)) {
        Exchange exchange = transferOf(kind, description->family, fd, bytes, length);
        exchange.result = -1;
        exchange.error = EINTR;
        record(exchange, now);
    }
    errno = EINTR;
    return false;
}

long Simulator::transfer(int fd, Exchange::Kind kind, unsigned char *bytes, std::size_t length)
{
    Inside inside;
    if (!waitAsTheDriver(fd, kind, bytes, length))
        return -1;
    std::lock_guard<std::mutex> lock(mutex);
    const double now = elapsed();
    Description *description = begin(fd, now);
    if (!description)
        return -1;
    Controller &c = controller(description->family);
    if (!c.present)
        description->stale = true;

    Exchange exchange = transferOf(kind, description->family, fd, bytes, length);
    if (kind == Exchange::Write)
        exchange.bytes.assign(bytes, bytes + length);
    long result = -ENODEV;
    if (kind == Exchange::Write && description->readOnly) {
        result = -EBADF;
    } else if (!description->stale) {
        DriverModel model(c, description->family);
        result = kind == Exchange::Read ? model.query(bytes, length, description->position != 0, now)
                                        : model.command(bytes, length, now);
    }
    if (result < 0) {
        exchange.result = -1;
        exchange.error = static_cast<int>(-result);
    } else {
        description->position += result;
        exchange.result = result;
        if (kind == Exchange::Read)
            exchange.bytes.assign(bytes, bytes + result);
    }
    record(exchange, now);
    if (exchange.error != 0)
        errno = exchange.error;
    return exchange.result;
}

int Simulator::close(int fd)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    const double now = elapsed();
    maintain(now);
    const auto it = descriptorOf.find(fd);
    if (it == descriptorOf.end())
        return LibC::close(fd);

    Exchange exchange;
    exchange.kind = Exchange::Close;
    exchange.family = descriptions[it->second].family;
    exchange.fd = fd;
    forget(fd);
    exchange.result = LibC::close(fd);
    if (exchange.result < 0)
        exchange.error = errno;
    record(exchange, now);
    if (exchange.error != 0)
        errno = exchange.error;
    return static_cast<int>(exchange.result);
}

void Simulator::duplicated(int fd, int copy)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = descriptorOf.find(fd);
    if (it == descriptorOf.end() || copy < 0)
        return;
    if (copy >= MaxDescriptor) {
        LibC::close(copy);
        return;
    }
    descriptorOf[copy] = it->second;
    ownedDescriptors[copy].store(static_cast<unsigned char>(index(descriptions[it->second].family) + 1),
                                 std::memory_order_release);
}

void Simulator::dropped(int fd)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    forget(fd);
}

void Simulator::forget(int fd)
{
    const auto it = descriptorOf.find(fd);
    if (it == descriptorOf.end())
        return;
    ownedDescriptors[fd].store(0, std::memory_order_release);
    const int id = it->second;
    descriptorOf.erase(it);
    const bool shared = std::any_of(descriptorOf.begin(), descriptorOf.end(),
                                    [id](const std::pair<const int, int> &entry) { return entry.second == id; });
    if (!shared)
        descriptions.erase(id);
}

int Simulator::lookUp(Family family)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    maintain(elapsed());
    if (controller(family).present)
        return 0;
    errno = ENOENT;
    return -1;
}

Controller &Simulator::controller(Family family)
{
    return controllers[index(family)];
}

void Simulator::reset()
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    controllers[0] = defaults(Family::Pravex);
    controllers[1] = defaults(Family::Lunari);
    for (auto &entry : descriptions)
        entry.second.stale = false;
    scenarioTimed.clear();
    controlTimed.clear();
    exchanges.clear();
}

std::vector<Exchange> Simulator::transcript()
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    return exchanges;
}

void Simulator::clearTranscript()
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    exchanges.clear();
}

bool Simulator::openedBy(Family family) const
{
    for (const auto &entry : descriptorOf) {
        if (descriptions.at(entry.second).family == family)
            return true;
    }
    return false;
}

int Simulator::openDescriptors(Family family)
{
    std::lock_guard<std::mutex> lock(mutex);
    int count = 0;
    for (const auto &entry : descriptorOf) {
        if (descriptions[entry.second].family == family)
            ++count;
    }
    return count;
}

bool Simulator::loadScenario(const std::string &text, std::string *errors)
{
    Inside inside;
    std::string messages;
    const std::vector<Scenario::Line> lines = Scenario::parse(text, &messages);
    std::lock_guard<std::mutex> lock(mutex);
    schedule(lines, scenarioTimed, elapsed());
    if (errors)
        *errors = messages;
    return messages.empty();
}

void Simulator::setControlFile(const std::string &path)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    controlPath = path;
    controlSeen = false;
    controlTimed.clear();
    lastControlCheck = -1;
}

void Simulator::setTranscriptFile(const std::string &path)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    if (transcriptFd >= 0)
        LibC::close(transcriptFd);
    transcriptFd = path.empty() ? -1
                   : aboveStandard(LibC::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!path.empty() && transcriptFd < 0)
        std::fprintf(stderr, "driversim: cannot write the transcript %s: %s\n", path.c_str(), std::strerror(errno));
}

void Simulator::setLockDirectory(const std::string &path)
{
    Inside inside;
    std::lock_guard<std::mutex> lock(mutex);
    lockDirectory = path.empty() ? std::string("/tmp") : path;
}

void Simulator::setKeepTranscript(bool keep)
{
    std::lock_guard<std::mutex> lock(mutex);
    keepTranscript = keep;
    if (!keep)
        exchanges.clear();
}

void Simulator::maintain(double now)
{
    applyDue(scenarioTimed, now);
    applyDue(controlTimed, now);
    pollControlFile(now);
}

void Simulator::applyDue(std::vector<Timed> &timed, double now)
{
    for (Timed &entry : timed) {
        if (!entry.done && entry.line.at <= now) {
            apply(entry.line);
            entry.done = true;
        }
    }
}

void Simulator::schedule(const std::vector<Scenario::Line> &lines, std::vector<Timed> &timed, double now)
{
    // Due lines apply at once, in the order they were written; later ones wait, earliest first.
    for (const Scenario::Line &line : lines) {
        if (line.at <= now) {
            apply(line);
        } else {
            Timed entry;
            entry.line = line;
            timed.push_back(entry);
        }
    }
    std::stable_sort(timed.begin(), timed.end(),
                     [](const Timed &a, const Timed &b) { return a.line.at < b.line.at; });
}

void Simulator::apply(const Scenario::Line &line)
{
    std::string error;
    if (!Scenario::apply(line, controllers[0], controllers[1], &error))
        std::fprintf(stderr, "driversim: %s\n", error.c_str());
}

void Simulator::pollControlFile(double now)
{
    if (controlPath.empty() || (lastControlCheck >= 0 && now - lastControlCheck < 0.05))
        return;
    lastControlCheck = now;
    struct stat status{};
    if (LibC::stat(controlPath.c_str(), &status) != 0)
        return;
    if (controlSeen && status.st_mtim.tv_sec == controlStamp.tv_sec
        && status.st_mtim.tv_nsec == controlStamp.tv_nsec && status.st_size == controlSize)
        return;
    controlSeen = true;
    controlStamp = status.st_mtim;
    controlSize = status.st_size;

    std::string text;
    const int file = LibC::open(controlPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return;
    char chunk[4096];
    ssize_t count = 0;
    while ((count = LibC::read(file, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(count));
    LibC::close(file);

    std::string errors;
    const std::vector<Scenario::Line> lines = Scenario::parse(text, &errors);
    if (!errors.empty())
        std::fprintf(stderr, "driversim: control file %s:\n%s", controlPath.c_str(), errors.c_str());
    controlTimed.clear();
    schedule(lines, controlTimed, now);
}

void Simulator::record(const Exchange &exchange, double now)
{
    if (keepTranscript)
        exchanges.push_back(exchange);
    if (transcriptFd >= 0) {
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "pid=%d t=%.3f ", static_cast<int>(getpid()), now);
        const std::string line = prefix + formatExchange(exchange) + "\n";
        // One write per line, so lines of several processes never interleave.
        if (LibC::write(transcriptFd, line.data(), line.size()) < 0)
            std::fprintf(stderr, "driversim: transcript write failed: %s\n", std::strerror(errno));
    }
}

} // namespace DriverSim
