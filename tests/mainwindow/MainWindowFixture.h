#ifndef MAINWINDOWFIXTURE_H
#define MAINWINDOWFIXTURE_H

#include "driverlink/Param.h"
#include "mainwindow/MainDialog.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>
#include <QTabWidget>
#include <QtTest>

#include <memory>

// A main window of one product against the simulated controller, with its widgets at hand.
struct MainWindowFixture
{
    explicit MainWindowFixture(const Product &product, bool driverPresent)
    {
        param = TestSupport::useProduct(product);
        TestSupport::simulated().present = driverPresent;
        window = std::make_unique<MainDialog>();
    }

    QLabel *label(const char *name) const { return window->findChild<QLabel *>(QString::fromLatin1(name)); }
    QCheckBox *checkBox() const { return window->findChild<QCheckBox *>(QStringLiteral("checkBoxEnableUSB")); }
    QTabWidget *tabs() const { return window->findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
    QString text(const char *name) const { return label(name)->text(); }

    QImage statusImage() const
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return label("labelGraph")->pixmap().toImage();
#else
        return label("labelGraph")->pixmap(Qt::ReturnByValue).toImage();
#endif
    }

    static QImage resourceImage(const char *path) { return QPixmap(QString::fromLatin1(path)).toImage(); }
    bool showsActive() const { return statusImage() == resourceImage(":/USB/USB_ACTIVE"); }
    bool showsInactive() const { return statusImage() == resourceImage(":/USB/USB_INACTIVE"); }

    QStringList aboutValues() const
    {
        return {text("labelTouchPoints"), text("labelFirmwareVersion"), text("labelDriverVersion"),
                text("labelLayout")};
    }

    Param *param = nullptr;
    std::unique_ptr<MainDialog> window;
};

using TestSupport::addProductRows;

inline const Product &fetchProduct()
{
    QFETCH(QString, program);
    return TestSupport::productByName(program.toLatin1().constData());
}

#endif // MAINWINDOWFIXTURE_H
