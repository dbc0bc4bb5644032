#include "tests/support/PreloadedRun.h"

#include "tests/support/TargetPrograms.h"

#include <QFile>
#include <QProcess>
#include <QSaveFile>

PreloadedRun::PreloadedRun()
{
    setScenario(QByteArray());
}

QString PreloadedRun::path(const QString &name) const
{
    return directory.filePath(name);
}

void PreloadedRun::setScenario(const QByteArray &text)
{
    QFile file(path(QStringLiteral("scenario")));
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

void PreloadedRun::writeControl(const QByteArray &text)
{
    // Replaced whole, so the simulator never reads half of it.
    QSaveFile file(path(QStringLiteral("control")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text);
        file.commit();
    }
}

QProcessEnvironment PreloadedRun::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(DRIVERSIM_PRELOAD_LIST));
    env.insert(QStringLiteral("DRIVERSIM_SCENARIO"), path(QStringLiteral("scenario")));
    env.insert(QStringLiteral("DRIVERSIM_TRANSCRIPT"), path(QStringLiteral("transcript")));
    env.insert(QStringLiteral("DRIVERSIM_CONTROL"), path(QStringLiteral("control")));
    // Exclusive drivers are shared by the programs of one run only, not by parallel tests.
    env.insert(QStringLiteral("DRIVERSIM_LOCK_DIR"), directory.path());
    return env;
}

void PreloadedRun::start(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(directory.path());
    TargetPrograms::start(process, program, arguments);
    process.waitForStarted(10000);
}

PreloadedRun::Result PreloadedRun::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    start(process, program, arguments);
    return finish(process, timeoutMs);
}

PreloadedRun::Result PreloadedRun::finish(QProcess &process, int timeoutMs)
{
    Result result;
    if (process.state() == QProcess::NotRunning)
        return result;
    result.pid = process.processId();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(5000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

PreloadedRun::Result PreloadedRun::runInShell(const QString &command, const QString &program,
                                              const QStringList &arguments)
{
    QProcess process;
    startInShell(process, command, program, arguments);
    process.waitForStarted(10000);
    return finish(process, 30000);
}

void PreloadedRun::startInShell(QProcess &process, const QString &command, const QString &program,
                                const QStringList &arguments)
{
    // Only the program gets the simulator (and the sanitizer runtime): "$0"
    // is env(1), which sets the preload for the program it starts, or in a
    // cross build the emulator, which hands it to its guest alone (-E), as the
    // build machine's loader cannot take the target's library.
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    const QString preload = QStringLiteral("LD_PRELOAD=" DRIVERSIM_PRELOAD_LIST);
    QStringList words = TargetPrograms::command(program, arguments);
    QStringList shellArguments{QStringLiteral("-c"), command};
    if (words.first() == program)
        shellArguments << QStringLiteral("/usr/bin/env") << preload;
    else
        shellArguments << words.takeFirst() << QStringLiteral("-E") << preload;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(directory.path());
    process.start(QStringLiteral("/bin/bash"), shellArguments + words);
}

QList<DriverSim::Exchange> PreloadedRun::transcript(qint64 pid) const
{
    QList<DriverSim::Exchange> exchanges;
    QFile file(path(QStringLiteral("transcript")));
    if (!file.open(QIODevice::ReadOnly))
        return exchanges;
    const QByteArray prefix = "pid=" + QByteArray::number(pid) + " t=";
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        DriverSim::Exchange exchange;
        if (line.isEmpty() || (pid != 0 && !line.startsWith(prefix)))
            continue;
        if (!DriverSim::parseExchange(line.toStdString(), &exchange)) {
            qWarning("unexpected transcript line: %s", line.constData());
            return QList<DriverSim::Exchange>();
        }
        exchanges << exchange;
    }
    return exchanges;
}
