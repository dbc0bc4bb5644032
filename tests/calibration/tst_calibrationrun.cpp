#include "CalibrationHarness.h"
#include "DialogAnswerer.h"
#include "EventProbe.h"

#include "app/Product.h"
#include "calibration/CalibrateArea.h"
#include "calibration/Message.h"
#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

QTimer *pollTimerOf(CalibrateArea *area)
{
    return area->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
}

// Sets the area and mode the driver last reported, as GetBasicStatus would.
void setReportedArea(Param *param, int mode, int left, int right, int top, int bottom)
{
    param->calibMode = mode;
    param->areaLeft = left;
    param->areaRight = right;
    param->areaTop = top;
    param->areaBottom = bottom;
}

// An area calibration started on a reported area, with a new area drawn and saved.
QStringList startWithDrawnArea(CalibrationHarness &harness)
{
    setReportedArea(harness.param(), 1, 10, 1000, 20, 700);
    harness.area()->calStart();
    DialogAnswerer answerer(DialogAnswerer::ClickOk);
    harness.drag(QPoint(600, 500), QPoint(100, 100));
    return answerer.seen();
}

QStringList afterLastPoll(const QStringList &traffic)
{
    return traffic.mid(traffic.lastIndexOf(QStringLiteral("GetCalibStatus")) + 1);
}

const QString Hint = QStringLiteral(" use the left\n button to draw\n touch area");

} // namespace

class CalibrationRunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void start_data();
    void start();
    void pollRepaintsOnlyAfterAStatusRead_data();
    void pollRepaintsOnlyAfterAStatusRead();
    void end_data();
    void end();
    void quit_data();
    void quit();
    void endClosesTheQuestion_data();
    void endClosesTheQuestion();
    void closingTheMainWindowClosesTheNotice();
    void statusOfThePreviousCalibration_data();
    void statusOfThePreviousCalibration();
    void secondCalibrationKeepsDrawnArea_data();
    void secondCalibrationKeepsDrawnArea();
    void wholeCalibration_data();
    void wholeCalibration();
};

void CalibrationRunTest::initTestCase()
{
    // As in the programs: the calibration window closes before the main window returns.
    QApplication::setQuitOnLastWindowClosed(false);
}

void CalibrationRunTest::start_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("outputEnabled");
    QTest::addColumn<int>("earlierMode");   // mode of an earlier calibration, -2 for none
    QTest::addColumn<int>("calibMode");
    QTest::addColumn<QStringList>("traffic");
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("hint");

    const QString pravex = QStringLiteral("pravex_controller");
    const QString lunari = QStringLiteral("lunari_controller");
    const QStringList plain = QStringList() << QStringLiteral("SetOutPut(0)") << QStringLiteral("CalibrateStart");
    auto withMode = [](int mode) {
        return QStringList() << QStringLiteral("SetOutPut(0)") << QStringLiteral("SetCalibrateMode(%1)").arg(mode)
                             << QStringLiteral("CalibrateStart");
    };

    QTest::newRow("pravex, normal") << pravex << true << -2 << 0 << plain << 200 << QString();
    QTest::newRow("pravex, area") << pravex << true << -2 << 1 << plain << 200 << Hint;
    QTest::newRow("pravex, output already off") << pravex << false << -2 << 0 << plain << 200 << QString();
    QTest::newRow("pravex, area after normal") << pravex << true << 0 << 1 << plain << 200 << Hint;
    QTest::newRow("lunari, normal") << lunari << true << -2 << 0 << plain << 80 << QString();
    QTest::newRow("lunari, area") << lunari << true << -2 << 1 << withMode(1) << 80 << Hint;
    QTest::newRow("lunari, area again") << lunari << true << 1 << 1 << plain << 80 << Hint;
    QTest::newRow("lunari, normal after area") << lunari << true << 1 << 0 << withMode(0) << 80 << QString();
}

void CalibrationRunTest::start()
{
    QFETCH(QString, product);
    QFETCH(bool, outputEnabled);
    QFETCH(int, earlierMode);
    QFETCH(int, calibMode);
    QFETCH(QStringList, traffic);
    QFETCH(int, period);
    QFETCH(QString, hint);

    CalibrationHarness harness(TestSupport::productByName(qPrintable(product)));
    CalibrateArea *area = harness.area();
    if (earlierMode != -2) {
        harness.param()->calibMode = earlierMode;
        area->calStart();
        area->calStop();
        QVERIFY(!area->isVisible());
        QVERIFY(harness.mainWindow()->isVisible());
    }
    harness.param()->calibMode = calibMode;
    harness.param()->outputEnabled = outputEnabled;
    DriverSim::clearTranscript();

    area->calStart();

    QCOMPARE(CalibrationHarness::traffic(), traffic);
    QCOMPARE(harness.param()->outputEnabled, false);
    QCOMPARE(area->findChild<QComboBox *>()->currentIndex(), calibMode);
    QCOMPARE(area->findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly)->text(), hint);

    QTimer *timer = pollTimerOf(area);
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), period);
    QVERIFY(!timer->isSingleShot());

    QVERIFY(area->isVisible());
    QVERIFY(area->isFullScreen());
    QVERIFY(area->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!harness.mainWindow()->isVisible());

    // The poll reads the status and nothing else.
    QTRY_VERIFY(CalibrationHarness::traffic().count(QStringLiteral("GetCalibStatus")) >= 2);
    QCOMPARE(CalibrationHarness::trafficWithoutPolls(), traffic);
}

void CalibrationRunTest::pollRepaintsOnlyAfterAStatusRead_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("repaints");

    for (const char *name : {"pravex_controller", "lunari_controller"}) {
        QTest::addRow("%s, driver answers", name) << QString::fromLatin1(name) << QStringLiteral("present") << true;
        QTest::addRow("%s, driver gone", name) << QString::fromLatin1(name) << QStringLiteral("absent") << false;
        QTest::addRow("%s, reads fail", name) << QString::fromLatin1(name) << QStringLiteral("failing") << false;
    }
}

void CalibrationRunTest::pollRepaintsOnlyAfterAStatusRead()
{
    QFETCH(QString, product);
    QFETCH(QString, driver);
    QFETCH(bool, repaints);

    CalibrationHarness harness(TestSupport::productByName(qPrintable(product)));
    CalibrateArea *area = harness.area();
    area->calStart();
    QVERIFY(QTest::qWaitForWindowExposed(area));
    QTest::qWait(100);

    if (driver == QLatin1String("absent"))
        harness.controller().present = false;
    else if (driver == QLatin1String("failing"))
        harness.controller().failReads = 1000000;
    int paints = 0;
    EventProbe paintProbe(area, QEvent::Paint, [&] { ++paints; });
    DriverSim::clearTranscript();
    QTest::qWait(500);

    QCOMPARE(paints > 0, repaints);
    if (driver == QLatin1String("failing"))
        QVERIFY(CalibrationHarness::traffic().count(QStringLiteral("GetCalibStatus")) >= 2);
    area->calStop();
}

void CalibrationRunTest::end_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("calibMode");
    QTest::addColumn<bool>("outputEnabled");

    for (const char *name : {"pravex_controller", "lunari_controller"}) {
        for (int status : {4, 5}) {
            QTest::addRow("%s, status %d, normal", name, status) << QString::fromLatin1(name) << status << 0 << true;
            QTest::addRow("%s, status %d, area", name, status) << QString::fromLatin1(name) << status << 1 << true;
        }
        QTest::addRow("%s, status 4, output was off", name) << QString::fromLatin1(name) << 4 << 0 << false;
    }
}

void CalibrationRunTest::end()
{
    QFETCH(QString, product);
    QFETCH(int, status);
    QFETCH(int, calibMode);
    QFETCH(bool, outputEnabled);

    CalibrationHarness harness(TestSupport::productByName(qPrintable(product)));
    CalibrateArea *area = harness.area();
    QDialog *mainWindow = harness.mainWindow();
    Param *param = harness.param();
    setReportedArea(param, calibMode, 10, 1000, 20, 700);
    param->outputEnabled = outputEnabled;
    area->calStart();

    // The main window comes back only after the calibration window has gone.
    bool shownAfterClose = false;
    EventProbe showProbe(mainWindow, QEvent::Show, [&] { shownAfterClose = !area->isVisible(); });

    QStringList noticeTexts;
    QStringList trafficAtNotice;
    bool mainVisibleAtNotice = false;
    bool areaVisibleAtNotice = true;
    bool pollingAtNotice = true;
    DialogAnswerer answerer(DialogAnswerer::ClickOk);
    answerer.setInspector([&](QDialog *) {
        trafficAtNotice = CalibrationHarness::traffic();
        mainVisibleAtNotice = mainWindow->isVisible();
        areaVisibleAtNotice = area->isVisible();
        pollingAtNotice = pollTimerOf(area)->isActive();
    });

    QVERIFY(harness.finishWith(status));

    const QStringList expectedEnd = QStringList() << QStringLiteral("CalibrateEnd")
                                                  << QStringLiteral("SetOutPut(%1)").arg(outputEnabled ? 1 : 0)
                                                  << QStringLiteral("GetBasicStatus");
    QTRY_COMPARE(answerer.seen().size(), status == 5 ? 1 : 0);
    QCOMPARE(afterLastPoll(CalibrationHarness::traffic()), expectedEnd);
    QVERIFY(shownAfterClose);
    QVERIFY(mainWindow->isVisible());
    QVERIFY(!pollTimerOf(area)->isActive());

    // The hand-over: the window's mode and area, with the status cleared.
    const DriverSim::CalibrateEndRequest end = harness.controller().lastCalibrateEnd;
    QVERIFY(end.received);
    if (calibMode == 1)
        QCOMPARE(CalibrationHarness::describe(end), QStringLiteral("mode 1 screen 1024x768 area 10 1000 20 700"));
    else
        QCOMPARE(CalibrationHarness::describe(end), QStringLiteral("mode 0 screen 1024x768 area 0 1024 0 768"));
    QCOMPARE(param->calibStatus, 0);
    QCOMPARE(param->calibValue, 0);
    QCOMPARE(param->outputEnabled, outputEnabled);

    if (status == 5) {
        QCOMPARE(answerer.seen(), QStringList() << QStringLiteral("Calibrate exception!"));
        QCOMPARE(answerer.titles(), QStringList() << QStringLiteral("Prompt"));
        QCOMPARE(afterLastPoll(trafficAtNotice), expectedEnd);
        QVERIFY(mainVisibleAtNotice);
        QVERIFY(!areaVisibleAtNotice);
        QVERIFY(!pollingAtNotice);
    }

    // Nothing more reaches the driver from this window.
    const int before = CalibrationHarness::traffic().size();
    QTest::qWait(300);
    QCOMPARE(CalibrationHarness::traffic().size(), before);
}

void CalibrationRunTest::quit_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("way");

    for (const char *name : {"pravex_controller", "lunari_controller"}) {
        for (const char *way : {"Quit", "Escape", "close request"})
            QTest::addRow("%s, %s", name, way) << QString::fromLatin1(name) << QString::fromLatin1(way);
    }
}

void CalibrationRunTest::quit()
{
    QFETCH(QString, product);
    QFETCH(QString, way);

    CalibrationHarness harness(TestSupport::productByName(qPrintable(product)));
    CalibrateArea *area = harness.area();
    // A newly drawn area is not handed over by Quit.
    QCOMPARE(startWithDrawnArea(harness), QStringList() << QStringLiteral("save the area?"));
    QTRY_VERIFY(CalibrationHarness::traffic().contains(QStringLiteral("GetCalibStatus")));

    if (way == QLatin1String("Quit")) {
        QPushButton *quitButton = area->findChild<QPushButton *>();
        QCOMPARE(quitButton->text(), QStringLiteral("Quit"));
        QTest::mouseClick(quitButton, Qt::LeftButton);
    } else if (way == QLatin1String("Escape")) {
        QWidget *target = area->focusWidget() ? area->focusWidget() : area;
        QTest::keyClick(target, Qt::Key_Escape);
    } else {
        area->close();
    }

    QVERIFY(!area->isVisible());
    QVERIFY(harness.mainWindow()->isVisible());
    QVERIFY(!pollTimerOf(area)->isActive());
    QStringList expected = QStringList() << QStringLiteral("SetOutPut(0)");
    if (Product::active().sendsCalibrateMode)
        expected << QStringLiteral("SetCalibrateMode(1)");
    expected << QStringLiteral("CalibrateStart") << QStringLiteral("CalibrateEnd") << QStringLiteral("SetOutPut(1)")
             << QStringLiteral("GetBasicStatus");
    QCOMPARE(CalibrationHarness::trafficWithoutPolls(), expected);
    QCOMPARE(afterLastPoll(CalibrationHarness::traffic()), expected.mid(expected.size() - 3));
    QCOMPARE(CalibrationHarness::describe(harness.controller().lastCalibrateEnd),
             QStringLiteral("mode 1 screen 1024x768 area 10 1000 20 700"));

    const int before = CalibrationHarness::traffic().size();
    QTest::qWait(300);
    QCOMPARE(CalibrationHarness::traffic().size(), before);
}

void CalibrationRunTest::endClosesTheQuestion_data()
{
    QTest::addColumn<QString>("end");
    for (const char *end : {"Quit", "desktop change", "status 4", "status 5"})
        QTest::newRow(end) << QString::fromLatin1(end);
}

void CalibrationRunTest::endClosesTheQuestion()
{
    QFETCH(QString, end);

    CalibrationHarness harness(Product::pravex);
    CalibrateArea *area = harness.area();
    setReportedArea(harness.param(), 1, 10, 1000, 20, 700);
    area->calStart();

    // "Calibrate exception!" follows the end of a calibration.
    QTimer notices;
    QObject::connect(&notices, &QTimer::timeout, [] {
        if (Prompt *notice = qobject_cast<Prompt *>(QApplication::activeModalWidget()))
            notice->reject();
    });
    notices.start(5);

    bool questionOutlived = false;
    QTimer::singleShot(0, area, [&] {
        QPointer<Message> question;
        QVERIFY(QTest::qWaitFor([&] {
            question = qobject_cast<Message *>(QApplication::activeModalWidget());
            return !question.isNull();
        }));
        if (end == QLatin1String("Quit"))
            QTest::mouseClick(area->findChild<QPushButton *>(), Qt::LeftButton);
        else if (end == QLatin1String("desktop change"))
            TestSupport::changeMonitor(0, QRect(0, 0, 1280, 1024));
        else
            harness.controller().calibStatus = end.right(1).toInt();
        (void)QTest::qWaitFor([&] { return !area->isVisible(); });
        QTest::qWait(50);
        questionOutlived = question && question->isVisible();
        if (questionOutlived)
            DialogAnswerer::answer(question, DialogAnswerer::ClickOk);
    });
    harness.drag(QPoint(600, 500), QPoint(100, 100));
    QVERIFY(!area->isVisible());
    QVERIFY(!questionOutlived);

    // Nothing answered after the end is taken: the next calibration keeps the earlier area.
    TestSupport::useDesktop({QRect(0, 0, 1024, 768)});
    area->calStart();
    QVERIFY(harness.finishWith(4));
    QVERIFY(CalibrationHarness::describe(harness.controller().lastCalibrateEnd)
                .endsWith(QStringLiteral("area 10 1000 20 700")));
}

void CalibrationRunTest::closingTheMainWindowClosesTheNotice()
{
    TestSupport::useProduct(Product::lunari, 1024, 768);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.calibStep = 0;
    MainDialog mainWindow;
    QSignalSpy closed(&mainWindow, &QDialog::finished);
    mainWindow.show();
    QTest::mouseClick(mainWindow.findChild<QPushButton *>(QStringLiteral("pushButtonCalib")), Qt::LeftButton);
    // Hidden for the calibration, which is no close: the program ends when the main window closes.
    QVERIFY(!mainWindow.isVisible());
    QCOMPARE(closed.count(), 0);

    // "Calibrate exception!" is open over the returned main window when the user closes that.
    bool noticeOutlived = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QPointer<Prompt> notice = qobject_cast<Prompt *>(QApplication::activeModalWidget());
        if (!notice || !mainWindow.isVisible())
            return;
        closer.stop();
        mainWindow.close();
        QTest::qWait(50);
        noticeOutlived = notice && notice->isVisible();
        if (noticeOutlived)
            notice->reject();
    });
    closer.start(5);
    driver.calibStatus = 5;
    QTRY_VERIFY(!closer.isActive());
    QVERIFY(!noticeOutlived);
    QCOMPARE(closed.count(), 1);
}

void CalibrationRunTest::statusOfThePreviousCalibration_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("done") << 4;
    QTest::newRow("error") << 5;
}

void CalibrationRunTest::statusOfThePreviousCalibration()
{
    QFETCH(int, status);
    CalibrationHarness harness(Product::pravex);
    CalibrateArea *area = harness.area();
    area->calStart();
    // A poll brought the end just before the user pressed Quit.
    harness.param()->calibStatus = status;
    area->calStop();

    DialogAnswerer answerer(DialogAnswerer::ClickOk);
    DriverSim::clearTranscript();
    int paints = 0;
    EventProbe paintProbe(area, QEvent::Paint, [&] { ++paints; });
    area->calStart();
    QTRY_VERIFY(paints > 0);
    TestSupport::settle();
    QVERIFY(area->isVisible());
    QVERIFY(!CalibrationHarness::traffic().contains(QStringLiteral("CalibrateEnd")));
    QVERIFY(answerer.seen().isEmpty());
    area->calStop();
}

void CalibrationRunTest::secondCalibrationKeepsDrawnArea_data()
{
    QTest::addColumn<QString>("product");
    QTest::newRow("pravex") << QStringLiteral("pravex_controller");
    QTest::newRow("lunari") << QStringLiteral("lunari_controller");
}

void CalibrationRunTest::secondCalibrationKeepsDrawnArea()
{
    QFETCH(QString, product);

    CalibrationHarness harness(TestSupport::productByName(qPrintable(product)));
    CalibrateArea *area = harness.area();
    startWithDrawnArea(harness);
    area->calStop();

    setReportedArea(harness.param(), 1, 30, 900, 40, 600);
    DriverSim::clearTranscript();
    area->calStart();
    QCOMPARE(CalibrationHarness::traffic(),
             QStringList() << QStringLiteral("SetOutPut(0)") << QStringLiteral("CalibrateStart"));

    QVERIFY(harness.finishWith(4));
    QCOMPARE(CalibrationHarness::describe(harness.controller().lastCalibrateEnd),
             QStringLiteral("mode 1 screen 1024x768 area 100 600 100 500"));
}

void CalibrationRunTest::wholeCalibration_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("calibMode");
    QTest::addColumn<QString>("handedOver");

    for (const char *name : {"pravex_controller", "lunari_controller"}) {
        QTest::addRow("%s, normal mode", name)
            << QString::fromLatin1(name) << 0 << QStringLiteral("mode 0 screen 1024x768 area 0 1024 0 768");
        QTest::addRow("%s, area mode", name)
            << QString::fromLatin1(name) << 1 << QStringLiteral("mode 1 screen 1024x768 area 100 600 100 500");
    }
}

void CalibrationRunTest::wholeCalibration()
{
    QFETCH(QString, product);
    QFETCH(int, calibMode);
    QFETCH(QString, handedOver);

    const Product &chosen = TestSupport::productByName(qPrintable(product));
    TestSupport::useProduct(chosen, 1024, 768);
    DriverSim::Controller &driver =
        DriverSim::controller(&chosen == &Product::lunari ? DriverSim::Family::Lunari : DriverSim::Family::Pravex);
    driver.calibMode = calibMode;
    driver.calibStep = 0;

    MainDialog mainWindow;
    mainWindow.show();
    QCOMPARE(Param::getInst()->calibMode, calibMode);

    QPushButton *calibrate = mainWindow.findChild<QPushButton *>(QStringLiteral("pushButtonCalib"));
    QVERIFY(calibrate);
    QTest::mouseClick(calibrate, Qt::LeftButton);

    CalibrateArea *area = mainWindow.findChild<CalibrateArea *>();
    if (!area) {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            if (CalibrateArea *found = qobject_cast<CalibrateArea *>(window))
                area = found;
        }
    }
    QVERIFY(area);
    QVERIFY(area->isVisible());
    QVERIFY(!mainWindow.isVisible());

    if (calibMode == 1) {
        DialogAnswerer answerer(DialogAnswerer::ClickOk);
        CalibrationHarness::dragOn(area, QPoint(600, 500), QPoint(100, 100));
        QCOMPARE(answerer.seen(), QStringList() << QStringLiteral("save the area?"));
    }

    QList<int> painted;
    EventProbe paintProbe(area, QEvent::Paint, [&] {
        // Before the first poll the record still holds status 0.
        const int status = Param::getInst()->calibStatus;
        if (status != 0 && (painted.isEmpty() || painted.last() != status))
            painted << status;
    });
    driver.calibStep = 50;
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow.isVisible(), 20000);

    QVERIFY(!area->isVisible());
    QCOMPARE(painted, QList<int>() << 1 << 2 << 3 << 4);
    QCOMPARE(CalibrationHarness::describe(driver.lastCalibrateEnd), handedOver);
    QCOMPARE(Param::getInst()->outputEnabled, true);
    QVERIFY(!driver.calibrating);
    const QStringList traffic = CalibrationHarness::trafficWithoutPolls();
    QCOMPARE(traffic.count(QStringLiteral("SetCalibrateMode(1)")), chosen.sendsCalibrateMode && calibMode == 1 ? 1 : 0);
    QCOMPARE(traffic.count(QStringLiteral("CalibrateStart")), 1);
    QCOMPARE(traffic.count(QStringLiteral("CalibrateEnd")), 1);
}

QTEST_MAIN(CalibrationRunTest)
#include "tst_calibrationrun.moc"
