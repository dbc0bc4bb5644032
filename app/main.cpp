#include "app/main.h"

#include "app/Desktop.h"
#include "app/Product.h"
#include "mainwindow/MainDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSharedMemory>
#include <QTranslator>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool otherWindowVisible(const QWidget *mainWindow)
{
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window != mainWindow && window->isVisible())
            return true;
    }
    return false;
}

// Held by one starting copy at a time while it checks for and takes the
// single-instance segment. Without it, copies started together race inside
// that check: a detach that releases a stale segment also deletes the key
// file that another copy has just keyed its new segment by, and then both
// copies run. The kernel drops the lock when its holder dies. Returns the
// descriptor, or -1 when the lock cannot be had (the start goes on without it).
int lockStart(const char *key)
{
    const QByteArray path = QFile::encodeName(QDir::tempPath()) + '/' + QByteArray(key).replace(' ', '_') + ".startlock";
    // No following of links, and no waiting on a FIFO planted under the name.
    const int file = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (file < 0)
        return -1;
    // A copy holds it only for a moment; a holder that never lets go is not waited for.
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (::flock(file, LOCK_EX | LOCK_NB) == 0)
            return file;
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        ::usleep(10000);
    }
    ::close(file);
    return -1;
}

void unlockStart(int file)
{
    if (file >= 0)
        ::close(file);
}

} // namespace

bool loadCatalogue(QTranslator &translator)
{
    // Non-null empty delimiters and suffix: look up exactly "Controller.qm" in the working directory.
    return translator.load(QStringLiteral("Controller.qm"), QString(), QLatin1String(""), QLatin1String(""));
}

int controllerMain(int argc, char **argv, const Product &product)
{
    Product::select(product);
    QApplication app(argc, argv);
    // The calibration window closes a moment before the main window comes
    // back, so the program ends only when the user closes the main window.
    app.setQuitOnLastWindowClosed(false);

    QSharedMemory guard(QString::fromLatin1(product.instanceKey));
    const int startLock = lockStart(product.instanceKey);
    if (guard.attach(QSharedMemory::ReadOnly))
        guard.detach();
    const bool created = guard.create(1, QSharedMemory::ReadWrite);
    unlockStart(startLock);
    if (!created)
        return 0;

    QTranslator translator;
    // Without a catalogue the built-in English texts stay.
    (void)loadCatalogue(translator);
    app.installTranslator(&translator);

    MainDialog *window = new MainDialog();
    window->move(centredPosition(desktopSize(), window->size()));
    // Closing the main window hides it; the calibration hides it too, but
    // then its own window is on screen.
    QObject::connect(window, &QDialog::finished, &app, [window] {
        if (!otherWindowVisible(window))
            QCoreApplication::quit();
    });
    window->show();
    (void)app.exec();

    delete window;
    return 0;
}
