// The floor the benchmark compares the two programs with: what Qt Widgets
// alone costs for one empty dialog of the main window's size, waiting on a
// one-second timer.

#include <QApplication>
#include <QDialog>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Reference"));
    dialog.setFixedSize(309, 240);

    // Like the controllers' poll, the slot runs once a second on the GUI thread.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &dialog, [&ticks] { ++ticks; });
    timer.start(1000);

    QObject::connect(&dialog, &QDialog::finished, &app, &QCoreApplication::quit);
    dialog.show();
    return app.exec();
}
