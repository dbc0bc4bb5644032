#ifndef TARGETPROGRAMS_H
#define TARGETPROGRAMS_H

#include <QString>
#include <QStringList>

class QProcess;

// Programs built for the machine the tests run on: the build's programs and
// the test executables themselves. In a cross build the tests run under the
// target's emulator, and so must the programs they start.
namespace TargetPrograms {

// Starts the program, through the emulator where the build has one.
void start(QProcess &process, const QString &program, const QStringList &arguments);

// The command line that runs the program: the emulator's words, if any, first.
QStringList command(const QString &program, const QStringList &arguments);

} // namespace TargetPrograms

#endif // TARGETPROGRAMS_H
