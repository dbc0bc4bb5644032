// The floor the benchmark compares the two programs with: what Qt Widgets
// alone costs for one empty dialog of the main window's size, waiting on a
// one-second timer. With --label the dialog also shows one line of text, which
// tells apart what the font system costs from what the programs add to it.

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Reference"));
    dialog.setFixedSize(309, 240);
    if (QApplication::arguments().contains(QStringLiteral("--label"))) {
        // A layout asks for the label's size before the window is shown, as the tab bar does.
        auto *layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(QStringLiteral("Touch controller"), &dialog));
    }

    // Like the controllers' poll, the slot runs once a second on the GUI thread.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &dialog, [&ticks] { ++ticks; });
    timer.start(1000);

    QObject::connect(&dialog, &QDialog::finished, &app, &QCoreApplication::quit);
    dialog.show();
    return app.exec();
}
