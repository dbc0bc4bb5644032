#ifndef MESSAGE_H
#define MESSAGE_H

#include <QDialog>

class QCloseEvent;
class QKeyEvent;
class QString;
class QWidget;

// The "save the area?" question. Both buttons close the dialog through
// reject(); the answer is left in the class-wide ret (1 for "OK", 0 for
// "Cancel"), which the caller reads after exec() returns.
class Message : public QDialog
{
    Q_OBJECT

public:
    // Given the window it belongs to, it stays above that window.
    explicit Message(QWidget *parent = nullptr);

    static int ret;

public slots:
    void clkOK();
    void clkCancel();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

// A notice with one text and an "OK" button; the caller translates the text.
class Prompt : public QDialog
{
    Q_OBJECT

public:
    explicit Prompt(const QString &text, QWidget *parent = nullptr);
};

#endif // MESSAGE_H
