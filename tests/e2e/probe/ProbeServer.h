#ifndef PROBESERVER_H
#define PROBESERVER_H

#include <QJsonObject>
#include <QObject>

class QLocalServer;
class QLocalSocket;
class QWidget;
class QWindow;

// Serves the end-to-end tests from inside a running program: preloaded into
// it, it lists the program's windows, grabs their pictures, feeds them mouse
// input and close requests as the window system would, and clicks buttons and
// picks a box's entry as their user would. Where the compositor offers neither
// a virtual pointer nor screen capture, this is the only way the tests see and
// drive the program.
// The protocol is one JSON object per line each way; every request gets one
// answer, {"ok": true, ...} or {"ok": false, "error": "..."}.
class ProbeServer : public QObject
{
    Q_OBJECT

public:
    explicit ProbeServer(const QString &socketPath, QObject *parent = nullptr);

private slots:
    void acceptClient();
    void readRequests();

private:
    QJsonObject answer(const QJsonObject &request);
    QJsonObject listWindows() const;
    QJsonObject grab(const QJsonObject &request);
    QJsonObject mouse(const QJsonObject &request);
    QJsonObject clickButton(const QJsonObject &request);
    QJsonObject choose(const QJsonObject &request);
    QJsonObject closeWindow(const QJsonObject &request);
    QWidget *window(const QJsonObject &request) const;
    static QJsonObject describe(const QWidget *widget);

    QLocalServer *server;
};

#endif // PROBESERVER_H
