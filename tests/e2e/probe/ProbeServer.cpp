#include "ProbeServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace {

QJsonObject failure(const QString &error)
{
    return QJsonObject{{"ok", false}, {"error", error}};
}

QJsonObject rectangle(const QRect &rect)
{
    return QJsonObject{{"x", rect.x()}, {"y", rect.y()}, {"width", rect.width()}, {"height", rect.height()}};
}

QString idOf(const QWidget *widget)
{
    return QString::number(reinterpret_cast<quintptr>(widget), 16);
}

QString textOf(const QWidget *widget)
{
    if (auto button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto box = qobject_cast<const QComboBox *>(widget))
        return box->currentText();
    return QString();
}

// The buttons held down by the probe's own presses, which later moves carry.
Qt::MouseButtons heldButtons = Qt::NoButton;

void sendMouse(QWindow *window, const QPointF &local, QEvent::Type type)
{
    if (type == QEvent::MouseButtonPress)
        heldButtons = Qt::LeftButton;
    else if (type == QEvent::MouseButtonRelease)
        heldButtons = Qt::NoButton;
    const QPointF global = QPointF(window->mapToGlobal(QPoint(0, 0))) + local;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    // Queued as the platform plugin queues the compositor's events, so that a
    // modal dialog the event opens runs its loop after this answer is sent.
    QWindowSystemInterface::handleMouseEvent(window, local, global, heldButtons, button, type);
}

} // namespace

ProbeServer::ProbeServer(const QString &socketPath, QObject *parent)
    : QObject(parent),
      server(new QLocalServer(this))
{
    QLocalServer::removeServer(socketPath);
    connect(server, &QLocalServer::newConnection, this, &ProbeServer::acceptClient);
    if (!server->listen(socketPath))
        qWarning("probe: cannot listen on %s: %s", qPrintable(socketPath), qPrintable(server->errorString()));
}

void ProbeServer::acceptClient()
{
    while (QLocalSocket *client = server->nextPendingConnection()) {
        connect(client, &QLocalSocket::readyRead, this, &ProbeServer::readRequests);
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
}

void ProbeServer::readRequests()
{
    auto client = qobject_cast<QLocalSocket *>(sender());
    while (client && client->canReadLine()) {
        const QJsonDocument request = QJsonDocument::fromJson(client->readLine());
        const QJsonObject reply = request.isObject() ? answer(request.object()) : failure("not a JSON object");
        client->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
        client->flush();
    }
}

QJsonObject ProbeServer::answer(const QJsonObject &request)
{
    const QString command = request.value("command").toString();
    if (command == "windows")
        return listWindows();
    if (command == "grab")
        return grab(request);
    if (command == "mouse")
        return mouse(request);
    if (command == "click")
        return clickButton(request);
    if (command == "choose")
        return choose(request);
    if (command == "close")
        return closeWindow(request);
    return failure("unknown command " + command);
}

QJsonObject ProbeServer::listWindows() const
{
    QJsonArray windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->windowHandle())
            windows.append(describe(widget));
    }
    return QJsonObject{{"ok", true}, {"windows", windows}};
}

QJsonObject ProbeServer::describe(const QWidget *widget)
{
    QWindow *handle = widget->windowHandle();
    QJsonObject found = rectangle(widget->geometry());
    found.insert("id", idOf(widget));
    found.insert("class", widget->metaObject()->className());
    found.insert("title", widget->windowTitle());
    found.insert("visible", widget->isVisible());
    found.insert("fullscreen", widget->isFullScreen());
    found.insert("exposed", handle->isExposed());
    found.insert("modal", QGuiApplication::modalWindow() == handle);
    found.insert("dpr", handle->devicePixelRatio());
    if (QScreen *screen = handle->screen()) {
        found.insert("screen", screen->name());
        found.insert("screen_geometry", rectangle(screen->geometry()));
    }
    QString parent;
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (handle->transientParent() && other->windowHandle() == handle->transientParent())
            parent = idOf(other);
    }
    found.insert("transient_parent", parent.isEmpty() ? QJsonValue() : QJsonValue(parent));
    QJsonArray children;
    // Every control, however deep, placed in the window's own pixels.
    for (const QWidget *child : widget->findChildren<QWidget *>()) {
        if (!qobject_cast<const QAbstractButton *>(child) && !qobject_cast<const QLabel *>(child)
            && !qobject_cast<const QComboBox *>(child))
            continue;
        QJsonObject entry = rectangle(QRect(child->mapTo(widget, QPoint(0, 0)), child->size()));
        entry.insert("class", child->metaObject()->className());
        entry.insert("text", textOf(child));
        entry.insert("visible", child->isVisible());
        children.append(entry);
    }
    found.insert("children", children);
    return found;
}

QWidget *ProbeServer::window(const QJsonObject &request) const
{
    const QString id = request.value("window").toString();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (idOf(widget) == id && widget->windowHandle())
            return widget;
    }
    return nullptr;
}

QJsonObject ProbeServer::grab(const QJsonObject &request)
{
    QWidget *widget = window(request);
    if (!widget)
        return failure("no such window");
    // The picture in the pixels asked for, by default those of the window's buffer.
    const double scale = request.value("scale").toDouble(widget->windowHandle()->devicePixelRatio());
    QImage image(qRound(widget->width() * scale), qRound(widget->height() * scale), QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::black);
    widget->render(&image);
    const QString path = request.value("path").toString();
    if (!image.save(path, "PPM"))
        return failure("cannot write " + path);
    return QJsonObject{{"ok", true}, {"width", image.width()}, {"height", image.height()}};
}

QJsonObject ProbeServer::mouse(const QJsonObject &request)
{
    QWidget *widget = window(request);
    if (!widget)
        return failure("no such window");
    const QString action = request.value("action").toString();
    const QEvent::Type type = action == "press" ? QEvent::MouseButtonPress
                              : action == "release" ? QEvent::MouseButtonRelease : QEvent::MouseMove;
    sendMouse(widget->windowHandle(), QPointF(request.value("x").toDouble(), request.value("y").toDouble()), type);
    return QJsonObject{{"ok", true}};
}

QJsonObject ProbeServer::clickButton(const QJsonObject &request)
{
    const QString text = request.value("text").toString();
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || !top->windowHandle())
            continue;
        for (QAbstractButton *button : top->findChildren<QAbstractButton *>()) {
            if (button->isVisible() && button->isEnabled() && button->text() == text) {
                // What the button does on its click, from the event loop: a
                // press fed to a dialog as it is shown is now and then lost
                // inside Qt. Not click() itself: it repaints the button just
                // before the window closes, and Qt 6.4's Wayland plugin now and
                // then aborts when the compositor answers that frame while the
                // window goes (a race mended in Qt 6.5).
                QMetaObject::invokeMethod(button, "clicked", Qt::QueuedConnection);
                return QJsonObject{{"ok", true}, {"window", idOf(top)}};
            }
        }
    }
    return failure("no visible button " + text);
}

QJsonObject ProbeServer::choose(const QJsonObject &request)
{
    QWidget *widget = window(request);
    QComboBox *box = widget ? widget->findChild<QComboBox *>() : nullptr;
    const int index = request.value("index").toInt(-1);
    if (!box || index < 0 || index >= box->count())
        return failure("no such entry in a box of that window");
    // What the box does when its popup's entry is picked; the popup itself is Qt's.
    box->setCurrentIndex(index);
    return QJsonObject{{"ok", true}};
}

QJsonObject ProbeServer::closeWindow(const QJsonObject &request)
{
    QWidget *widget = window(request);
    if (!widget)
        return failure("no such window");
    // The request the compositor's close button sends, through the same queue.
    QWindowSystemInterface::handleCloseEvent(widget->windowHandle());
    return QJsonObject{{"ok", true}};
}

namespace {

void startProbe()
{
    // Only the programs the tests start with a socket to listen on are probed.
    const QString path = QString::fromLocal8Bit(qgetenv("CONTROLLER_PROBE_SOCKET"));
    if (path.isEmpty())
        return;
    // Listening from the event loop on tells the tests that the program is up.
    QTimer::singleShot(0, qApp, [path] { new ProbeServer(path, qApp); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
