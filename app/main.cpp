#include "app/main.h"

#include "app/Desktop.h"
#include "app/Product.h"
#include "app/StartLock.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"

#include <QApplication>
#include <QSharedMemory>
#include <QTranslator>

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
    bool created = false;
    {
        const StartLock lock(product.instanceKey);
        if (guard.attach(QSharedMemory::ReadOnly))
            guard.detach();
        created = guard.create(1, QSharedMemory::ReadWrite);
    }
    if (!created)
        return 0;

    QTranslator translator;
    // Without a catalogue the built-in English texts stay.
    (void)loadCatalogue(translator);
    app.installTranslator(&translator);

    const QSize desktop = desktopSize();
    Param::useDesktop(desktop.width(), desktop.height());
    MainDialog *window = new MainDialog();
    // The main window is an ordinary window: centre it in its own logical pixels.
    window->move(centredPosition(desktop / window->devicePixelRatioF(), window->size()));
    // Closing the main window hides it; the calibration hides it too, but
    // then its own window is on screen.
    QObject::connect(window, &QDialog::finished, &app, [window] {
        if (!otherWindowVisible(window))
            QCoreApplication::quit();
    });
    window->show();
    (void)app.exec();

    delete window;
    // Let go of the segment where no starting copy is in the middle of its check.
    const StartLock lock(product.instanceKey);
    guard.detach();
    return 0;
}
