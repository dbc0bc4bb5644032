#ifndef WAYLANDDESKTOP_H
#define WAYLANDDESKTOP_H

#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

// One output as the compositor announces it to its clients.
struct WaylandOutput
{
    QString name;       // empty where the compositor gives outputs no names
    QPoint position;    // where the output lies in the compositor's layout
    QSize mode;         // the current mode in device pixels, turned as the output shows it
    int scale = 1;      // the integer buffer scale the compositor asks of clients
};

// What a Wayland compositor itself says about its outputs, asked over a
// connection of the program's own: Qt's screens give only logical sizes,
// which some compositors report in other units than the windows they configure.
namespace WaylandDesktop {

// The outputs, in the order the compositor announced them; empty where no
// compositor answers within a moment.
QList<WaylandOutput> outputs();

} // namespace WaylandDesktop

#endif // WAYLANDDESKTOP_H
