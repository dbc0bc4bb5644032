// The main window's widget tree, texts and catalogue, for both programs.
#include "app/Geometry.h"
#include "app/main.h"
#include "driversim/DriverSim.h"
#include "mainwindow/MainDialog.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

using TestSupport::addProductRows;

std::unique_ptr<MainDialog> absentDriverWindow(const Product &product)
{
    TestSupport::useProduct(product);
    TestSupport::simulated().present = false;
    return std::make_unique<MainDialog>();
}

const Product &fetchProduct()
{
    QFETCH(QString, program);
    return TestSupport::productByName(program.toLatin1().constData());
}

} // namespace

class TestMainLayout : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree_data();
    void widgetTree();
    void aboutColumns_data();
    void aboutColumns();
    void englishTexts_data();
    void englishTexts();
    void windowProperties_data();
    void windowProperties();
    void keepsGivenObjectName();
    void catalogueTranslates_data();
    void catalogueTranslates();
};

void TestMainLayout::widgetTree_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");

    struct Row { const char *name, *className, *parent; QRect pravex, lunari; };
    const Row rows[] = {
        {"tabWidget", "QTabWidget", "MainDialog", QRect(0, 0, 311, 241), QRect(0, 0, 311, 251)},
        {"groupBox", "QGroupBox", "tabSettings", QRect(10, 20, 281, 61), QRect(10, 20, 281, 61)},
        {"checkBoxEnableUSB", "QCheckBox", "groupBox", QRect(190, 26, 81, 20), QRect(190, 26, 81, 20)},
        {"labelFPS", "QLabel", "groupBox", QRect(90, 30, 54, 12), QRect(90, 30, 54, 12)},
        {"labelGraph", "QLabel", "groupBox", QRect(13, 25, 61, 21), QRect(13, 25, 61, 21)},
        {"groupBox_3", "QGroupBox", "tabSettings", QRect(10, 120, 281, 51), QRect(10, 110, 281, 61)},
        {"pushButtonCalib", "QPushButton", "groupBox_3", QRect(10, 20, 75, 23), QRect(10, 20, 81, 21)},
        {"pushButtonGraph", "QPushButton", "groupBox_3", QRect(197, 20, 75, 23), QRect(191, 20, 81, 23)},
        {"verticalLayoutWidget", "QWidget", "tabAbout", QRect(10, 10, 141, 206), QRect(10, 10, 141, 206)},
        {"verticalLayoutWidget_2", "QWidget", "tabAbout", QRect(159, 10, 141, 201), QRect(159, 10, 141, 201)},
    };
    for (const Row &row : rows) {
        QTest::addRow("pravex %s", row.name) << QStringLiteral("pravex_controller") << row.name << row.className
                                             << row.parent << row.pravex;
        QTest::addRow("lunari %s", row.name) << QStringLiteral("lunari_controller") << row.name << row.className
                                             << row.parent << row.lunari;
    }
}

void TestMainLayout::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    auto window = absentDriverWindow(fetchProduct());

    const QList<QWidget *> matches = window->findChildren<QWidget *>(name);
    QCOMPARE(matches.size(), 1);
    QWidget *widget = matches.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);
}

void TestMainLayout::aboutColumns_data()
{
    addProductRows();
}

void TestMainLayout::aboutColumns()
{
    auto window = absentDriverWindow(fetchProduct());
    const struct { const char *layout; QStringList labels; } columns[] = {
        {"verticalLayout", {"label_13", "label_15", "label_16", "label_17", "labelFirmwareVersion", "label_19",
                            "label_20", "labelDriverVersion"}},
        {"verticalLayout_2", {"label", "labelTouchPoints", "label_4", "label_2", "labelLayout"}},
    };
    for (const auto &column : columns) {
        auto *layout = window->findChild<QVBoxLayout *>(QString::fromLatin1(column.layout));
        QVERIFY(layout);
        QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(layout->count(), column.labels.size() + 1);
        for (int i = 0; i < column.labels.size(); ++i) {
            QWidget *label = layout->itemAt(i)->widget();
            QVERIFY(qobject_cast<QLabel *>(label));
            QCOMPARE(label->objectName(), column.labels.at(i));
        }
        QSpacerItem *spacer = layout->itemAt(column.labels.size())->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), QSize(20, 40));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }
}

void TestMainLayout::englishTexts_data()
{
    addProductRows();
}

void TestMainLayout::englishTexts()
{
    const Product &product = fetchProduct();
    const bool pravex = &product == &Product::pravex;
    auto window = absentDriverWindow(product);

    QCOMPARE(window->windowTitle(), pravex ? QStringLiteral("Pravex Controller") : QStringLiteral("Lunari Controller"));
    auto text = [&](const char *name) { return window->findChild<QLabel *>(QString::fromLatin1(name))->text(); };
    QCOMPARE(window->findChild<QGroupBox *>(QStringLiteral("groupBox"))->title(), QStringLiteral("Status"));
    QCOMPARE(window->findChild<QGroupBox *>(QStringLiteral("groupBox_3"))->title(), QStringLiteral("Calibration"));
    QCOMPARE(window->findChild<QCheckBox *>(QStringLiteral("checkBoxEnableUSB"))->text(), QStringLiteral("Enabled"));
    QCOMPARE(window->findChild<QPushButton *>(QStringLiteral("pushButtonCalib"))->text(), QStringLiteral("Calibrate"));
    QCOMPARE(window->findChild<QPushButton *>(QStringLiteral("pushButtonGraph"))->text(),
             pravex ? QStringLiteral("Test") : QStringLiteral("Graph"));
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Settings"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("About"));
    QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("tabSettings"));
    QCOMPARE(tabs->widget(1)->objectName(), QStringLiteral("tabAbout"));

    QCOMPARE(text("labelFPS"), QStringLiteral("N/A"));
    QCOMPARE(text("labelGraph"), QString());
    QCOMPARE(text("label_13"), QStringLiteral("Product Name"));
    QCOMPARE(text("label_15"), pravex ? QStringLiteral("Pravex") : QStringLiteral("Lunari"));
    QCOMPARE(text("label_16"), QString());
    QCOMPARE(text("label_17"), QStringLiteral("Firmware Version"));
    QCOMPARE(text("label_19"), QString());
    QCOMPARE(text("label_20"), QStringLiteral("Driver Version"));
    QCOMPARE(text("label"), QStringLiteral("Touch Points"));
    QCOMPARE(text("label_4"), QString());
    QCOMPARE(text("label_2"), QStringLiteral("Layout"));
    for (const char *value : {"labelFirmwareVersion", "labelDriverVersion", "labelTouchPoints", "labelLayout"})
        QCOMPARE(text(value), QStringLiteral("n/a"));
}

void TestMainLayout::windowProperties_data()
{
    addProductRows();
}

void TestMainLayout::windowProperties()
{
    const Product &product = fetchProduct();
    auto window = absentDriverWindow(product);

    QCOMPARE(window->objectName(), QStringLiteral("MainDialog"));
    QCOMPARE(window->size(), toSize(product.mainWindow.size));
    QCOMPARE(window->minimumSize(), toSize(product.mainWindow.size));
    QCOMPARE(window->maximumSize(), toSize(product.mainWindow.size));
    QCOMPARE(window->windowModality(), Qt::WindowModal);
    QVERIFY(window->isModal());
    QVERIFY(!window->isSizeGripEnabled());
    QVERIFY(!window->windowIcon().isNull() || product.iconFromLogoFile);
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(!tabs->isMovable());
    // The record's default (output on) shows once the first presence check has run.
    QVERIFY(window->findChild<QCheckBox *>(QStringLiteral("checkBoxEnableUSB"))->isChecked());
    for (QWidget *widget : window->findChildren<QWidget *>())
        QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));

    // The tab widget is a little larger than the window and is clipped by it.
    QVERIFY(tabs->geometry().right() > window->rect().right());
    QVERIFY(tabs->geometry().bottom() > window->rect().bottom());
}

void TestMainLayout::keepsGivenObjectName()
{
    TestSupport::useProduct(Product::pravex);
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("custom"));
    Ui_MainDialog ui;
    ui.setupUi(&dialog);
    QCOMPARE(dialog.objectName(), QStringLiteral("custom"));
    QVERIFY(!ui.checkBoxEnableUSB->isChecked());
}

void TestMainLayout::catalogueTranslates_data()
{
    addProductRows();
}

void TestMainLayout::catalogueTranslates()
{
    const Product &product = fetchProduct();
    QTranslator translator;
    std::unique_ptr<MainDialog> window;
    {
        TestSupport::WorkingFolder dir;
        QVERIFY(QFile::copy(QStringLiteral(TRANSLATIONS_DIR "/Controller_zh_CN.qm"),
                            dir.filePath(QStringLiteral("Controller.qm"))));
        QVERIFY(loadCatalogue(translator));
        QCoreApplication::installTranslator(&translator);
        window = absentDriverWindow(product);
        QCoreApplication::removeTranslator(&translator);
    }

    const QString title = translator.translate("MainDialog", product.mainWindow.title);
    QVERIFY(!title.isEmpty());
    QVERIFY(title != QLatin1String(product.mainWindow.title));
    QCOMPARE(window->windowTitle(), title);
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->tabText(0), translator.translate("MainDialog", "Settings"));
    QVERIFY(tabs->tabText(0) != QLatin1String("Settings"));
    QCOMPARE(tabs->tabText(1), translator.translate("MainDialog", "About"));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_17"))->text(),
             translator.translate("MainDialog", "Firmware Version"));
    QVERIFY(window->findChild<QLabel *>(QStringLiteral("label_17"))->text() != QLatin1String("Firmware Version"));
    // Values written at run time are never translated.
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("labelLayout"))->text(), QStringLiteral("n/a"));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("labelFPS"))->text(), QStringLiteral("N/A"));

    // Without the file nothing loads and the texts stay English.
    TestSupport::WorkingFolder empty;
    QTranslator none;
    QVERIFY(!loadCatalogue(none));
}

QTEST_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
