#ifndef PRELOADEDRUN_H
#define PRELOADEDRUN_H

#include "driversim/DriverSim.h"

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QProcess;

// Runs programs with the simulated controller preloaded (the AddressSanitizer
// runtime ahead of it in the sanitizer build), each reading the scenario and
// control file of a scratch folder and adding to its transcript.
class PreloadedRun
{
public:
    struct Result
    {
        int exitCode = -1;   // -1 when the program did not end normally
        qint64 pid = 0;
        QByteArray output;
        QByteArray errors;
    };

    PreloadedRun();

    // A file of the scratch folder.
    QString path(const QString &name) const;
    void setScenario(const QByteArray &text);
    // Rewrites the control file, which the simulator re-reads while it runs.
    void writeControl(const QByteArray &text);
    QProcessEnvironment environment() const;

    // Runs the program to its end.
    Result run(const QString &program, const QStringList &arguments, int timeoutMs = 30000);
    // Runs it from a bash command line in which "$0" "$@" starts the program
    // with its arguments, e.g. "\"$0\" \"$@\" >&-"; the result is bash's, so
    // a program killed by signal N ends with 128 + N.
    Result runInShell(const QString &command, const QString &program, const QStringList &arguments);
    // Starts it, for a test to drive; the caller owns the process.
    void start(QProcess &process, const QString &program, const QStringList &arguments);
    // Starts it from a bash command line as runInShell does, for a test to drive.
    void startInShell(QProcess &process, const QString &command, const QString &program,
                      const QStringList &arguments);

    // The exchanges of one process (all when pid is 0), from the transcript file.
    QList<DriverSim::Exchange> transcript(qint64 pid = 0) const;

private:
    Result finish(QProcess &process, int timeoutMs);

    QTemporaryDir directory;
};

#endif // PRELOADEDRUN_H
