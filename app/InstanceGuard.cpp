#include "app/InstanceGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const off_t RunningByte = 0;
const off_t StartingByte = 1;
const off_t PresentByte = 2; // held for the file's whole life
const char RunFileSuffix[] = ".running";
const int RandomPart = 6;

// Where the copies of all users meet. Qt's temporary folder is empty when
// TMPDIR names no folder; the machine's own is then the one to use.
QByteArray meetingFolder()
{
    const QByteArray temp = QFile::encodeName(QDir::tempPath());
    struct stat status = {};
    if (!temp.isEmpty() && ::stat(temp.constData(), &status) == 0 && S_ISDIR(status.st_mode))
        return temp;
    return QByteArrayLiteral("/tmp");
}

QByteArray namePrefix(const char *key)
{
    return QByteArray(key).replace(' ', '_') + '.';
}

bool isRunFileName(const QByteArray &name, const QByteArray &prefix)
{
    return name.size() == prefix.size() + RandomPart + int(sizeof RunFileSuffix - 1) && name.startsWith(prefix)
        && name.endsWith(RunFileSuffix);
}

bool setLock(int file, short type, off_t byte)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(file, F_SETLK, &lock) == 0;
}

// The process holding a write lock on the byte; 0 for none, for a read lock
// (anyone may take one) and for a lock of no process (open file description).
pid_t writeLockHolder(int file, off_t byte)
{
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = byte;
    probe.l_len = 1;
    if (::fcntl(file, F_GETLK, &probe) != 0 || probe.l_type != F_WRLCK)
        return 0;
    return probe.l_pid > 0 ? probe.l_pid : 0;
}

// Whether the process runs the program: an emulator that runs it maps its
// file as well. Another user's memory is shown to root only; their command
// line to everyone, unless /proc hides the process altogether.
bool runsProgram(pid_t process, const QString &program)
{
    const QString proc = QStringLiteral("/proc/%1").arg(process);
    if (!QFileInfo::exists(proc))
        return false;
    QFile maps(proc + QStringLiteral("/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        const QByteArray mapped = maps.readAll();
        if (!mapped.isEmpty()) {
            const QByteArray file = ' ' + QFile::encodeName(program);
            for (const QByteArray &line : mapped.split('\n')) {
                if (line.endsWith(file) || line.endsWith(file + " (deleted)"))
                    return true;
            }
            return false;
        }
    }
    QFile commandLine(proc + QStringLiteral("/cmdline"));
    if (commandLine.open(QIODevice::ReadOnly)) {
        const QByteArray words = commandLine.readAll();
        if (!words.isEmpty()) {
            const QString name = QFileInfo(program).fileName();
            for (const QByteArray &word : words.split('\0')) {
                if (!word.isEmpty() && QFileInfo(QFile::decodeName(word)).fileName() == name)
                    return true;
            }
            return false;
        }
    }
    return true;
}

struct OtherCopies
{
    qint64 running = 0;
    bool starting = false;
    bool startingFirst = false; // one starting under a name before this copy's
};

// The other copies' run files in the folder, by their locks. This user's
// files that no copy holds any more (the copy was killed) go.
OtherCopies lookAround(const QByteArray &folder, const char *key, const QByteArray &own, const QString &program)
{
    OtherCopies others;
    DIR *listing = ::opendir(folder.constData());
    if (!listing)
        return others;
    const QByteArray prefix = namePrefix(key);
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name == own || !isRunFileName(name, prefix))
            continue;
        // Links, FIFOs and devices planted under such a name are not opened,
        // nor is anything put in the place of the file looked at.
        struct stat named = {};
        if (::fstatat(::dirfd(listing), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode))
            continue;
        const int file = ::openat(::dirfd(listing), entry->d_name,
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (file < 0)
            continue;
        struct stat status = {};
        if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_ino == named.st_ino
            && status.st_dev == named.st_dev) {
            const pid_t running = writeLockHolder(file, RunningByte);
            const pid_t starting = writeLockHolder(file, StartingByte);
            const pid_t present = writeLockHolder(file, PresentByte);
            if (running != 0 && runsProgram(running, program)) {
                others.running = running;
            } else if (starting != 0 && runsProgram(starting, program)) {
                others.starting = true;
                others.startingFirst = others.startingFirst || own.isEmpty() || name < own;
            } else if (running == 0 && starting == 0 && present == 0 && status.st_uid == ::geteuid()
                       && (status.st_mode & 07777) == 0644) {
                // Made readable only once locked, so this one is no copy's that is starting.
                (void)::unlinkat(::dirfd(listing), entry->d_name, 0);
            }
        }
        ::close(file);
    }
    ::closedir(listing);
    return others;
}

// A new run file, locked as starting before anyone else may open it; -1 when
// the folder takes none.
int makeRunFile(const QByteArray &folder, const char *key, QByteArray &name)
{
    QByteArray path = folder + '/' + namePrefix(key) + QByteArray(RandomPart, 'X') + RunFileSuffix;
    const int file = ::mkostemps(path.data(), int(sizeof RunFileSuffix - 1), O_CLOEXEC);
    if (file < 0)
        return -1;
    if (!setLock(file, F_WRLCK, PresentByte) || !setLock(file, F_WRLCK, StartingByte) || ::fchmod(file, 0644) != 0) {
        ::unlink(path.constData());
        ::close(file);
        return -1;
    }
    name = path.mid(folder.size() + 1);
    return file;
}

} // namespace

InstanceGuard::InstanceGuard(const char *key)
    : key(key)
    , segment(QString::fromLatin1(key))
{
}

InstanceGuard::~InstanceGuard()
{
    // Still locked as running while the segment goes, so no copy starts meanwhile.
    segment.detach();
    dropRunFile();
}

bool InstanceGuard::take()
{
    folder = meetingFolder();
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    QElapsedTimer waiting;
    waiting.start();
    bool lookedAlone = false;
    for (;;) {
        if (runFile < 0)
            runFile = makeRunFile(folder, key, runFileName);
        const OtherCopies others = lookAround(folder, key, runFile < 0 ? QByteArray() : runFileName, program);
        if (others.running != 0) {
            holder = others.running;
            dropRunFile();
            return false;
        }
        // A copy that is slow to start is waited for a few seconds at most.
        const bool alone = !others.starting;
        if ((alone && lookedAlone) || runFile < 0 || waiting.elapsed() > 5000)
            break;
        // One look at the folder has been seen to miss the file of a copy
        // starting beside this one (under an emulator), so no copy starting
        // is believed from two looks in a row.
        lookedAlone = alone;
        if (alone)
            continue;
        // Of copies starting together the one with the earliest name goes
        // on; the others step back, keeping their names, until it runs.
        if (others.startingFirst) {
            (void)setLock(runFile, F_UNLCK, StartingByte);
            ::usleep(5000 + QRandomGenerator::global()->bounded(5000));
            // Someone else's lock on the byte meanwhile: a fresh file.
            if (!setLock(runFile, F_WRLCK, StartingByte))
                dropRunFile();
        } else {
            ::usleep(2000);
        }
    }

    // Qt keys the segment by a file in its temporary folder; with none it
    // would make that file in the root folder. Anyone may make and hold a
    // segment under the key, and nothing tells whose it is, so it refuses no
    // start: the run files guard alone.
    if (!QDir::tempPath().isEmpty()) {
        // No copy runs, so any segment under the key was left behind. Twice,
        // because the first create may make the key file anew (a cleaned
        // temporary folder), and a new key file can name a segment of an
        // ended copy, which only then can be attached to and released.
        bool created = false;
        for (int attempt = 0; attempt < 2 && !created; ++attempt) {
            if (segment.attach(QSharedMemory::ReadOnly))
                segment.detach();
            created = segment.create(1, QSharedMemory::ReadWrite);
        }
    }
    if (runFile >= 0) {
        (void)setLock(runFile, F_WRLCK, RunningByte);
        (void)setLock(runFile, F_UNLCK, StartingByte);
    }
    return true;
}

QString InstanceGuard::runningCopy() const
{
    if (holder <= 0)
        return QString();
    const QString process = QStringLiteral(" (process %1)").arg(holder);
    const QFileInfo proc(QStringLiteral("/proc/%1").arg(holder));
    if (!proc.exists())
        return process;
    const QString user = proc.owner();
    return QStringLiteral(" as user %1").arg(user.isEmpty() ? QString::number(proc.ownerId()) : user) + process;
}

qint64 InstanceGuard::runningProcess(const char *key, const QString &program)
{
    return lookAround(meetingFolder(), key, QByteArray(), QFileInfo(program).canonicalFilePath()).running;
}

void InstanceGuard::dropRunFile()
{
    if (runFile < 0)
        return;
    // Gone from the folder before the lock goes, so no one takes it for a leftover.
    (void)::unlink((folder + '/' + runFileName).constData());
    ::close(runFile);
    runFile = -1;
    runFileName.clear();
}
