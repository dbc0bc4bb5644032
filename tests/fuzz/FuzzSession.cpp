#include "FuzzSession.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

void FuzzSession::start(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Both live for the whole run: the windows need the application, and the
    // second program rewrites its log in the working directory on every input.
    static QApplication *application = new QApplication(*argc, *argv);
    static QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    Q_UNUSED(application);
}
