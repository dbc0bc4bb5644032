#ifndef EVENTPROBE_H
#define EVENTPROBE_H

#include <QEvent>
#include <QObject>

#include <functional>

// Calls back whenever the watched object is about to receive an event of one type.
class EventProbe : public QObject
{
    Q_OBJECT

public:
    EventProbe(QObject *target, QEvent::Type type, const std::function<void()> &callback);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QObject *target;
    QEvent::Type type;
    std::function<void()> callback;
};

#endif // EVENTPROBE_H
