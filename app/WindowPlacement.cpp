#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// The start of a span of the given length moved as little as possible into [low, low + room).
int shiftedInto(int start, int length, int low, int room)
{
    return std::max(low, std::min(start, low + room - length));
}

QRect primaryArea()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    return primary ? primary->availableGeometry() : QRect();
}

} // namespace

QPoint centredOn(const QRect &screen, const QSize &frame)
{
    return QPoint(screen.x() + std::max(0, (screen.width() - frame.width()) / 2),
                  screen.y() + std::max(0, (screen.height() - frame.height()) / 2));
}

QPoint keptOnScreen(const QRect &frame, const QVector<QRect> &screens, const QRect &primary)
{
    const QRect *best = nullptr;
    qint64 bestShown = 0;
    for (const QRect &screen : screens) {
        if (screen.contains(frame))
            return frame.topLeft();
        const QRect shown = screen & frame;
        const qint64 area = qint64(shown.width()) * shown.height();
        if (!shown.isEmpty() && area > bestShown) {
            best = &screen;
            bestShown = area;
        }
    }
    if (!best)
        return centredOn(primary, frame.size());
    return QPoint(shiftedInto(frame.x(), frame.width(), best->x(), best->width()),
                  shiftedInto(frame.y(), frame.height(), best->y(), best->height()));
}

void centreOnPrimaryScreen(QWidget *window)
{
    window->move(centredOn(primaryArea(), window->frameGeometry().size()));
}

void keepOnScreen(QWidget *window)
{
    QVector<QRect> screens;
    const auto all = QGuiApplication::screens();
    for (const QScreen *screen : all)
        screens.append(screen->availableGeometry());
    const QRect frame = window->frameGeometry();
    const QPoint place = keptOnScreen(frame, screens, primaryArea());
    if (place != frame.topLeft())
        window->move(place);
}
