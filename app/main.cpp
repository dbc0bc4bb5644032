#include "app/main.h"

#include "app/Desktop.h"
#include "app/InstanceGuard.h"
#include "app/Product.h"
#include "app/WindowPlacement.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"

#include <QApplication>
#include <QTranslator>

#include <cstdio>

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

    InstanceGuard guard(product.instanceKey);
    if (!guard.take()) {
        // One line, so that a start from a menu or a script that shows nothing is not a mystery.
        std::fprintf(stderr, "%s is already running%s.\n", product.programName, qPrintable(guard.runningCopy()));
        return 0;
    }

    QTranslator translator;
    // Without a catalogue the built-in English texts stay.
    (void)loadCatalogue(translator);
    app.installTranslator(&translator);

    const QSize desktop = desktopSize();
    Param::useDesktop(desktop.width(), desktop.height());
    MainDialog *window = new MainDialog();
    // An ordinary window, centred on the monitor it starts on in Qt's own
    // pixels, so that it is whole there whatever each monitor's scale.
    centreOnPrimaryScreen(window);
    // Closing the main window ends the program, whatever else of it is open;
    // a calibration hides the main window without closing it.
    QObject::connect(window, &QDialog::finished, &app, &QCoreApplication::quit);
    window->show();
    (void)app.exec();

    delete window;
    return 0;
}
