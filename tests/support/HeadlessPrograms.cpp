#include "tests/support/HeadlessPrograms.h"

#include "tests/support/TargetPrograms.h"
#include "tests/support/TestSupport.h"

#include <QProcess>

HeadlessPrograms::~HeadlessPrograms()
{
    stopAll();
}

QProcess *HeadlessPrograms::start(const Product &product, const QString &workDir, const QProcessEnvironment &extra)
{
    auto *process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(workDir);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    TargetPrograms::start(*process, TestSupport::windowProgram(product), QStringList());
    running.append(process);
    return process;
}

void HeadlessPrograms::stopAll()
{
    for (QProcess *process : qAsConst(running)) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        delete process;
    }
    running.clear();
}
