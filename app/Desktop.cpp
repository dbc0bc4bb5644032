#include "app/Desktop.h"

#include <QGuiApplication>
#include <QScreen>

QSize desktopSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->virtualGeometry().size() : QSize(0, 0);
}

QPoint centredPosition(const QSize &desktop, const QSize &window)
{
    return QPoint((desktop.width() - window.width()) / 2,
                  (desktop.height() - window.height()) / 2);
}
