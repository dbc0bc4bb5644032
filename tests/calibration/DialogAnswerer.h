#ifndef DIALOGANSWERER_H
#define DIALOGANSWERER_H

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class QDialog;

// Watches for application-modal dialogs while a test drives code that runs
// them with exec(), notes the text of each one and answers it.
class DialogAnswerer : public QObject
{
    Q_OBJECT

public:
    // Reject is what the dialog's owner does when it closes the dialog itself.
    enum Action { ClickOk, ClickCancel, PressEscape, CloseWindow, Reject };

    explicit DialogAnswerer(Action action, QObject *parent = nullptr);

    // Label texts of the dialogs answered so far, in order.
    QStringList seen() const { return texts; }
    // Window titles of the dialogs answered so far, in order.
    QStringList titles() const { return windowTitles; }
    // Runs when a dialog is found, before it is answered.
    void setInspector(const std::function<void(QDialog *)> &inspect) { inspector = inspect; }

    static void answer(QDialog *dialog, Action action);

private slots:
    void poll();

private:
    Action action;
    QTimer timer;
    QStringList texts;
    QStringList windowTitles;
    std::function<void(QDialog *)> inspector;
};

#endif // DIALOGANSWERER_H
