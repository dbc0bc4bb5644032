#ifndef PAINTCOUNTER_H
#define PAINTCOUNTER_H

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTest>
#include <QWidget>

// Counts the paint events of the widgets it is installed on as an event filter.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Waits until the widget and its children have gone quietMs without a paint.
// Repaints after showing or an update can come on a platform timer, later than
// one round of processEvents(), and a count taken before they end would see them.
inline void waitForQuietPaints(QWidget &widget, int quietMs = 100)
{
    PaintCounter counter;
    widget.installEventFilter(&counter);
    const auto children = widget.findChildren<QWidget *>();
    for (QWidget *child : children)
        child->installEventFilter(&counter);
    QElapsedTimer waited;
    waited.start();
    int seen = -1;
    while (counter.paints != seen && waited.elapsed() < 5000) {
        seen = counter.paints;
        QTest::qWait(quietMs);
    }
    // The filter goes with the counter; removing it here keeps that explicit.
    widget.removeEventFilter(&counter);
    for (QWidget *child : children)
        child->removeEventFilter(&counter);
}

#endif // PAINTCOUNTER_H
