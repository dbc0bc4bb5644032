#include "EventProbe.h"

EventProbe::EventProbe(QObject *target, QEvent::Type type, const std::function<void()> &callback)
    : QObject(target), target(target), type(type), callback(callback)
{
    target->installEventFilter(this);
}

bool EventProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == target && event->type() == type)
        callback();
    return QObject::eventFilter(watched, event);
}
