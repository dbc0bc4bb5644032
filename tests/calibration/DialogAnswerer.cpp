#include "DialogAnswerer.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>

DialogAnswerer::DialogAnswerer(Action action, QObject *parent)
    : QObject(parent), action(action)
{
    connect(&timer, &QTimer::timeout, this, &DialogAnswerer::poll);
    timer.start(5);
}

void DialogAnswerer::answer(QDialog *dialog, Action action)
{
    switch (action) {
    case ClickOk:
    case ClickCancel: {
        const QString wanted = action == ClickOk ? QStringLiteral("OK") : QStringLiteral("Cancel");
        const auto buttons = dialog->findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (button->text() == wanted) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no button ") + wanted));
        break;
    }
    case PressEscape: {
        QWidget *target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        QTest::keyClick(target, Qt::Key_Escape);
        break;
    }
    case CloseWindow:
        dialog->close();
        break;
    case Reject:
        dialog->reject();
        break;
    }
}

void DialogAnswerer::poll()
{
    QDialog *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible())
        return;
    const QLabel *label = dialog->findChild<QLabel *>();
    texts << (label ? label->text() : QString());
    windowTitles << dialog->windowTitle();
    if (inspector)
        inspector(dialog);
    answer(dialog, action);
}
