#include "DialogAnswerer.h"

#include "calibration/Message.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

Q_DECLARE_METATYPE(DialogAnswerer::Action)

namespace {

QPushButton *buttonWithText(const QDialog &dialog, const QString &text)
{
    const auto buttons = dialog.findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

class MessageTest : public QObject
{
    Q_OBJECT

private slots:
    void answerIsLeftInRet_data();
    void answerIsLeftInRet();
    void messageLayout();
    void promptLayout_data();
    void promptLayout();
    void promptOkCloses();
};

void MessageTest::answerIsLeftInRet_data()
{
    QTest::addColumn<DialogAnswerer::Action>("action");
    QTest::addColumn<int>("after");

    QTest::newRow("OK") << DialogAnswerer::ClickOk << 1;
    QTest::newRow("Cancel") << DialogAnswerer::ClickCancel << 0;
    QTest::newRow("Escape") << DialogAnswerer::PressEscape << 0;
    QTest::newRow("close control") << DialogAnswerer::CloseWindow << 0;
    QTest::newRow("closed by its owner") << DialogAnswerer::Reject << 0;
}

void MessageTest::answerIsLeftInRet()
{
    QFETCH(DialogAnswerer::Action, action);
    QFETCH(int, after);

    // An earlier "OK" is that dialog's answer, not the next one's.
    Message earlier;
    {
        DialogAnswerer answerer(DialogAnswerer::ClickOk);
        earlier.exec();
    }
    QCOMPARE(earlier.answer(), 1);

    Message *message = new Message();
    DialogAnswerer answerer(action);
    QCOMPARE(message->exec(), int(QDialog::Rejected));
    QCOMPARE(answerer.seen(), QStringList() << QStringLiteral("save the area?"));
    QCOMPARE(message->answer(), after);
    delete message;
}

void MessageTest::messageLayout()
{
    Message message;
    QCOMPARE(message.windowTitle(), QStringLiteral("Prompt"));
    QCOMPARE(message.size(), QSize(180, 100));
    QVERIFY(message.parentWidget() == nullptr);

    const QLabel *label = message.findChild<QLabel *>();
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("save the area?"));
    QCOMPARE(label->geometry(), QRect(15, 0, 150, 60));
    QVERIFY(!label->wordWrap());

    QCOMPARE(message.findChildren<QPushButton *>().size(), 2);
    const QPushButton *ok = buttonWithText(message, QStringLiteral("OK"));
    const QPushButton *cancel = buttonWithText(message, QStringLiteral("Cancel"));
    QVERIFY(ok && cancel);
    QCOMPARE(ok->geometry(), QRect(15, 70, 50, 20));
    QCOMPARE(cancel->geometry(), QRect(115, 70, 50, 20));
}

void MessageTest::promptLayout_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << QStringLiteral("area is too small!");
    QTest::newRow("longer than a line")
        << QStringLiteral("Calibrate exception! The driver reported an error while the third target was being touched.");
}

void MessageTest::promptLayout()
{
    QFETCH(QString, text);

    Prompt prompt(text);
    QCOMPARE(prompt.windowTitle(), QStringLiteral("Prompt"));
    QCOMPARE(prompt.size(), QSize(320, 180));
    QVERIFY(prompt.parentWidget() == nullptr);

    const QLabel *label = prompt.findChild<QLabel *>();
    QVERIFY(label);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->geometry(), QRect(10, 0, 300, 120));
    QCOMPARE(label->alignment(), Qt::Alignment(Qt::AlignCenter));
    QVERIFY(label->wordWrap());

    QCOMPARE(prompt.findChildren<QPushButton *>().size(), 1);
    const QPushButton *ok = buttonWithText(prompt, QStringLiteral("OK"));
    QVERIFY(ok);
    QCOMPARE(ok->geometry(), QRect(130, 140, 60, 20));
}

void MessageTest::promptOkCloses()
{
    Prompt *prompt = new Prompt(QStringLiteral("area is too small!"));
    DialogAnswerer answerer(DialogAnswerer::ClickOk);
    const int result = prompt->exec();
    delete prompt;

    QCOMPARE(answerer.seen(), QStringList() << QStringLiteral("area is too small!"));
    QCOMPARE(result, int(QDialog::Rejected));
}

QTEST_MAIN(MessageTest)
#include "tst_message.moc"
