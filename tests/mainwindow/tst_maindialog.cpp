// The main window against the simulated controller: presence, scan rate,
// touch output switch and product data, with the real poll timer.
#include "app/WindowPlacement.h"
#include "tests/mainwindow/MainWindowFixture.h"
#include "tests/support/FakeDesktop.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

using DriverSim::Exchange;

namespace {

// One poll tick is 1000 ms; allow for a loaded machine.
const int tick = 1000;
const int withinOneTick = 3000;

int outputCommands(int state)
{
    int count = 0;
    for (const Exchange &write : TestSupport::exchanges(Exchange::Write, Product::active().commands.setOutPut)) {
        if (write.bytes.size() >= 2 && write.bytes[1] == state)
            ++count;
    }
    return count;
}

int allOutputCommands()
{
    return static_cast<int>(TestSupport::exchanges(Exchange::Write, Product::active().commands.setOutPut).size());
}

int logQueries()
{
    return static_cast<int>(TestSupport::exchanges(Exchange::Read, 67).size());
}

const QStringList absentValues()
{
    return {QStringLiteral("n/a"), QStringLiteral("n/a"), QStringLiteral("n/a"), QStringLiteral("n/a")};
}

void clickCheckBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(8, box->height() / 2));
}

} // namespace

class TestMainDialog : public QObject
{
    Q_OBJECT

private slots:
    void absentAtStart_data();
    void absentAtStart();
    void followsDriverLoadedAndUnloaded_data();
    void followsDriverLoadedAndUnloaded();
    void statusReadFailsKeepsAbsent_data();
    void statusReadFailsKeepsAbsent();
    void pendingScanRate();
    void aboutPageKeepsScanRateText_data();
    void aboutPageKeepsScanRateText();
    void userClickSendsOutput_data();
    void userClickSendsOutput();
    void recordUpdatesSendNothing_data();
    void recordUpdatesSendNothing();
    void aboutValues_data();
    void aboutValues();
    void buttonsOpenWindowsWhileAbsent();
    void driverNotPermitted_data();
    void driverNotPermitted();
    void centredOnThePrimaryMonitor();

private:
    // The second program writes its log into the working directory.
    TestSupport::WorkingFolder workDir;
};

void TestMainDialog::absentAtStart_data()
{
    addProductRows();
}

void TestMainDialog::absentAtStart()
{
    QFile::remove(QStringLiteral("VeDorurerezo.log"));
    MainWindowFixture f(fetchProduct(), false);

    QVERIFY(f.showsInactive());
    QCOMPARE(f.text("labelFPS"), QStringLiteral("N/A"));
    QVERIFY(f.checkBox()->isChecked());
    QCOMPARE(f.aboutValues(), absentValues());
    QVERIFY(!f.param->driverFound);
    QVERIFY(!QFile::exists(QStringLiteral("VeDorurerezo.log")));
    QCOMPARE(TestSupport::exchanges(Exchange::OpenFailed, 0).size() > 0, true);
}

void TestMainDialog::followsDriverLoadedAndUnloaded_data()
{
    addProductRows();
}

void TestMainDialog::followsDriverLoadedAndUnloaded()
{
    const Product &product = fetchProduct();
    MainWindowFixture f(product, false);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.fps = 75;
    driver.touchPoints = 5;
    driver.firmwareVersion = 4;
    driver.driverVersionMajor = 2;
    driver.driverVersionMinor = 10;
    driver.layoutX = 20;
    driver.layoutY = 12;
    driver.threshold = 33;
    f.window->show();

    driver.present = true;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, withinOneTick);
    QVERIFY(f.showsActive());
    QCOMPARE(f.text("labelFPS"), QStringLiteral("75 FPS"));
    QCOMPARE(f.aboutValues(), (QStringList{"5", "4.0", "2.10", "20/12"}));
    QCOMPARE(logQueries(), product.writesDriverLog ? 1 : 0);

    // The log is written once per transition, not on every tick.
    QTest::qWait(tick + 200);
    QCOMPARE(logQueries(), product.writesDriverLog ? 1 : 0);

    f.param->outputEnabled = false;
    driver.present = false;
    QTRY_VERIFY_WITH_TIMEOUT(!f.param->driverFound, withinOneTick);
    QVERIFY(f.showsInactive());
    QCOMPARE(f.text("labelFPS"), QStringLiteral("N/A"));
    QCOMPARE(f.aboutValues(), absentValues());
    const Param *p = f.param;
    QCOMPARE((QList<int>{p->touchPoints, p->firmwareVersion, p->driverVersionMajor, p->driverVersionMinor,
                         p->layoutX, p->layoutY, p->fps}),
             (QList<int>{0, 0, 0, 0, 0, 0, 0}));
    // Everything else the record holds survives the loss.
    QCOMPARE(p->threshold, 33);
    QVERIFY(!p->outputEnabled);
    QVERIFY(!f.checkBox()->isChecked());
}

void TestMainDialog::statusReadFailsKeepsAbsent_data()
{
    addProductRows();
}

void TestMainDialog::statusReadFailsKeepsAbsent()
{
    const Product &product = fetchProduct();
    MainWindowFixture f(product, false);
    DriverSim::Controller &driver = TestSupport::simulated();
    // Each tick reads the scan rate first and the status second: fail every second read.
    driver.present = true;
    driver.reads = 0;
    driver.failEveryRead = 2;

    const QString log = QStringLiteral("VeDorurerezo.log");
    for (int attempt = 0; attempt < 2; ++attempt) {
        QFile::remove(log);
        // One whole attempt: the scan rate read and the failing status read.
        const int readsBefore = driver.reads;
        QTRY_VERIFY_WITH_TIMEOUT(driver.reads >= readsBefore + 2, withinOneTick);
        TestSupport::settle();
        // The second program rewrites its log after every attempt.
        QCOMPARE(QFile::exists(log), product.writesDriverLog);
        QVERIFY(!f.param->driverFound);
        QVERIFY(f.showsInactive());
        QCOMPARE(f.text("labelFPS"), QStringLiteral("N/A"));
        QCOMPARE(f.aboutValues(), absentValues());
    }

    driver.failEveryRead = 0;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, withinOneTick);
    QVERIFY(f.showsActive());
}

void TestMainDialog::pendingScanRate()
{
    MainWindowFixture f(Product::lunari, true);
    DriverSim::Controller &driver = TestSupport::simulated();
    QVERIFY(f.param->driverFound);
    driver.fps = 55;
    driver.fpsPending = true;
    QTRY_COMPARE_WITH_TIMEOUT(f.text("labelFPS"), QStringLiteral("wait.."), withinOneTick);
    driver.fpsPending = false;
    QTRY_COMPARE_WITH_TIMEOUT(f.text("labelFPS"), QStringLiteral("55 FPS"), withinOneTick);

    // Only byte value 1 means pending.
    driver.overrides[Product::lunari.commands.getFps] = {0, 42, 0, 2};
    QTRY_COMPARE_WITH_TIMEOUT(f.text("labelFPS"), QStringLiteral("42 FPS"), withinOneTick);
    QVERIFY(!f.param->fpsPending);
}

void TestMainDialog::aboutPageKeepsScanRateText_data()
{
    addProductRows();
}

void TestMainDialog::aboutPageKeepsScanRateText()
{
    MainWindowFixture f(fetchProduct(), true);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.fps = 60;
    QTRY_COMPARE_WITH_TIMEOUT(f.text("labelFPS"), QStringLiteral("60 FPS"), withinOneTick);

    f.tabs()->setCurrentIndex(1);
    driver.fps = 90;
    QTRY_COMPARE_WITH_TIMEOUT(f.param->fps, 90, withinOneTick);
    QTest::qWait(tick + 100);
    QCOMPARE(f.text("labelFPS"), QStringLiteral("60 FPS"));

    f.tabs()->setCurrentIndex(0);
    QCOMPARE(f.text("labelFPS"), QStringLiteral("90 FPS"));

    // A transition while About is shown rewrites the Settings page too.
    f.tabs()->setCurrentIndex(1);
    driver.present = false;
    QTRY_COMPARE_WITH_TIMEOUT(f.text("labelFPS"), QStringLiteral("N/A"), withinOneTick);
    QVERIFY(f.showsInactive());
}

void TestMainDialog::userClickSendsOutput_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("present");
    for (const Product *product : {&Product::pravex, &Product::lunari}) {
        QTest::addRow("%s present", product->programName) << QString::fromLatin1(product->programName) << true;
        QTest::addRow("%s absent", product->programName) << QString::fromLatin1(product->programName) << false;
    }
}

void TestMainDialog::userClickSendsOutput()
{
    QFETCH(bool, present);
    MainWindowFixture f(fetchProduct(), present);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QVERIFY(f.checkBox()->isChecked());
    DriverSim::clearTranscript();

    clickCheckBox(f.checkBox());
    QVERIFY(!f.checkBox()->isChecked());
    QVERIFY(!f.param->outputEnabled);
    QCOMPARE(outputCommands(0), present ? 1 : 0);
    QCOMPARE(TestSupport::simulated().output, present ? 0 : 1);

    clickCheckBox(f.checkBox());
    QVERIFY(f.checkBox()->isChecked());
    QVERIFY(f.param->outputEnabled);
    QCOMPARE(outputCommands(1), present ? 1 : 0);
    QCOMPARE(allOutputCommands(), present ? 2 : 0);
    // No message of any kind, whatever the driver did.
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY(window == f.window.get() || !window->isVisible());
}

void TestMainDialog::recordUpdatesSendNothing_data()
{
    addProductRows();
}

void TestMainDialog::recordUpdatesSendNothing()
{
    MainWindowFixture f(fetchProduct(), false);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.output = 0;
    DriverSim::clearTranscript();

    driver.present = true;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, withinOneTick);
    QVERIFY(!f.checkBox()->isChecked());
    f.param->outputEnabled = true;
    f.tabs()->setCurrentIndex(1);
    f.tabs()->setCurrentIndex(0);
    QVERIFY(f.checkBox()->isChecked());
    f.window->enableUSB(false);
    QCOMPARE(allOutputCommands(), 0);
}

void TestMainDialog::aboutValues_data()
{
    QTest::addColumn<int>("touchPoints");
    QTest::addColumn<int>("firmware");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("zeros") << 0 << 0 << 0 << 0 << 0 << 0 << QStringList{"0", "0.0", "0.0", "0/0"};
    QTest::newRow("minor not padded") << 10 << 3 << 2 << 10 << 32 << 18 << QStringList{"10", "3.0", "2.10", "32/18"};
    QTest::newRow("byte limits") << 255 << 255 << 255 << 255 << 255 << 255
                                 << QStringList{"255", "255.0", "255.255", "255/255"};
}

void TestMainDialog::aboutValues()
{
    QFETCH(int, touchPoints);
    QFETCH(int, firmware);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    QFETCH(QStringList, texts);

    MainWindowFixture f(Product::pravex, true);
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.touchPoints = touchPoints;
    driver.firmwareVersion = firmware;
    driver.driverVersionMajor = major;
    driver.driverVersionMinor = minor;
    driver.layoutX = layoutX;
    driver.layoutY = layoutY;
    // A fresh discovery reads the status and fills the page.
    driver.present = false;
    QTRY_VERIFY_WITH_TIMEOUT(!f.param->driverFound, withinOneTick);
    driver.present = true;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, withinOneTick);
    QCOMPARE(f.aboutValues(), texts);
}

void TestMainDialog::buttonsOpenWindowsWhileAbsent()
{
    MainWindowFixture f(Product::lunari, false);
    auto *graphButton = f.window->findChild<QPushButton *>(QStringLiteral("pushButtonGraph"));
    QVERIFY(graphButton->isEnabled());
    QVERIFY(f.window->findChild<QPushButton *>(QStringLiteral("pushButtonCalib"))->isEnabled());

    bool opened = false;
    QTimer::singleShot(200, [&opened] {
        QWidget *modal = QApplication::activeModalWidget();
        opened = modal && modal->inherits("Graph");
        if (modal)
            modal->close();
    });
    graphButton->click();
    QVERIFY(opened);
}

void TestMainDialog::driverNotPermitted_data()
{
    addProductRows();
}

void TestMainDialog::driverNotPermitted()
{
    const Product &product = fetchProduct();
    MainWindowFixture f(product, false);
    QCOMPARE(f.label("labelGraph")->toolTip(), QString());

    // The control file is there, but this user may not open it.
    DriverSim::Controller &driver = TestSupport::simulated();
    driver.openError = EACCES;
    driver.present = true;
    const QString reason = QString::fromLatin1(product.driverFile) + QStringLiteral(": permission denied");
    QTRY_COMPARE_WITH_TIMEOUT(f.label("labelGraph")->toolTip(), reason, withinOneTick);
    QCOMPARE(f.label("labelFPS")->toolTip(), reason);
    QVERIFY(f.showsInactive());
    QCOMPARE(f.text("labelFPS"), QStringLiteral("N/A"));

    driver.openError = 0;
    QTRY_VERIFY_WITH_TIMEOUT(f.param->driverFound, withinOneTick);
    QCOMPARE(f.label("labelGraph")->toolTip(), QString());
    QCOMPARE(f.label("labelFPS")->toolTip(), QString());
}

void TestMainDialog::centredOnThePrimaryMonitor()
{
    MainWindowFixture f(Product::pravex, false);
    // The primary monitor is the second from the left.
    TestSupport::useDesktop({QRect(1024, 0, 1280, 1024), QRect(0, 0, 1024, 768)});
    centreOnPrimaryScreen(f.window.get());
    const QRect primary = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(primary.topLeft(), QPoint(1024, 0));
    const QPoint offCentre = f.window->frameGeometry().center() - primary.center();
    QVERIFY2(qAbs(offCentre.x()) <= 1 && qAbs(offCentre.y()) <= 1, qPrintable(QStringLiteral("%1 %2")
             .arg(offCentre.x()).arg(offCentre.y())));
    TestSupport::useDesktop({QRect(0, 0, 1024, 768)});
}

QTEST_MAIN(TestMainDialog)
#include "tst_maindialog.moc"
