#ifndef WINDOWPLACEMENT_H
#define WINDOWPLACEMENT_H

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>

class QWidget;

// Where ordinary windows go, in Qt's logical pixels: pure arithmetic on the
// screens' rectangles, and thin calls that apply it to a window.

// Top-left corner that centres a frame on a screen with integer halves; a
// frame larger than the screen keeps its top-left corner on the screen.
QPoint centredOn(const QRect &screen, const QSize &frame);

// Top-left corner that puts a frame fully on a screen: where it is when a
// screen holds it whole; else moved as little as possible onto the screen
// that shows most of it; centred on the primary screen when none shows any.
QPoint keptOnScreen(const QRect &frame, const QVector<QRect> &screens, const QRect &primary);

// Centres the window on the primary screen, the monitor it starts on.
void centreOnPrimaryScreen(QWidget *window);
// Moves the window fully onto a screen, as after a monitor went away.
void keepOnScreen(QWidget *window);

#endif // WINDOWPLACEMENT_H
