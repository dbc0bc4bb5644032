#include "mainwindow/Ui_MainDialog.h"

#include "app/Geometry.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSpacerItem>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QLabel *addLabel(QWidget *parent, QVBoxLayout *layout, const char *name)
{
    QLabel *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    layout->addWidget(label);
    return label;
}

} // namespace

void Ui_MainDialog::setupUi(QDialog *MainDialog)
{
    const Product &product = Product::active();

    if (MainDialog->objectName().isEmpty())
        MainDialog->setObjectName(QString::fromUtf8("MainDialog"));
    MainDialog->setWindowModality(Qt::WindowModal);
    MainDialog->resize(toSize(product.mainWindow.size));
    // Read as a pixmap: QIcon::addFile on a name without a suffix would load
    // the whole MIME database only to guess that the resource is a PNG.
    const QIcon icon(QPixmap(QString::fromUtf8(":/ICO/ICO_TITLE")));
    MainDialog->setWindowIcon(icon);
    MainDialog->setSizeGripEnabled(false);
    MainDialog->setModal(true);

    tabWidget = new QTabWidget(MainDialog);
    tabWidget->setObjectName(QString::fromUtf8("tabWidget"));
    tabWidget->setGeometry(toRect(product.mainWindow.tabWidget));
    tabWidget->setMovable(false);

    tabSettings = new QWidget();
    tabSettings->setObjectName(QString::fromUtf8("tabSettings"));
    groupBox = new QGroupBox(tabSettings);
    groupBox->setObjectName(QString::fromUtf8("groupBox"));
    groupBox->setGeometry(QRect(10, 20, 281, 61));
    checkBoxEnableUSB = new QCheckBox(groupBox);
    checkBoxEnableUSB->setObjectName(QString::fromUtf8("checkBoxEnableUSB"));
    checkBoxEnableUSB->setGeometry(QRect(190, 26, 81, 20));
    checkBoxEnableUSB->setChecked(false);
    labelFPS = new QLabel(groupBox);
    labelFPS->setObjectName(QString::fromUtf8("labelFPS"));
    labelFPS->setGeometry(QRect(90, 30, 54, 12));
    labelGraph = new QLabel(groupBox);
    labelGraph->setObjectName(QString::fromUtf8("labelGraph"));
    labelGraph->setGeometry(QRect(13, 25, 61, 21));
    groupBox_3 = new QGroupBox(tabSettings);
    groupBox_3->setObjectName(QString::fromUtf8("groupBox_3"));
    groupBox_3->setGeometry(toRect(product.mainWindow.groupBox3));
    pushButtonCalib = new QPushButton(groupBox_3);
    pushButtonCalib->setObjectName(QString::fromUtf8("pushButtonCalib"));
    pushButtonCalib->setGeometry(toRect(product.mainWindow.pushButtonCalib));
    pushButtonGraph = new QPushButton(groupBox_3);
    pushButtonGraph->setObjectName(QString::fromUtf8("pushButtonGraph"));
    pushButtonGraph->setGeometry(toRect(product.mainWindow.pushButtonGraph));
    tabWidget->addTab(tabSettings, QString());

    tabAbout = new QWidget();
    tabAbout->setObjectName(QString::fromUtf8("tabAbout"));
    verticalLayoutWidget = new QWidget(tabAbout);
    verticalLayoutWidget->setObjectName(QString::fromUtf8("verticalLayoutWidget"));
    verticalLayoutWidget->setGeometry(QRect(10, 10, 141, 206));
    verticalLayout = new QVBoxLayout(verticalLayoutWidget);
    verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    label_13 = addLabel(verticalLayoutWidget, verticalLayout, "label_13");
    label_15 = addLabel(verticalLayoutWidget, verticalLayout, "label_15");
    label_16 = addLabel(verticalLayoutWidget, verticalLayout, "label_16");
    label_17 = addLabel(verticalLayoutWidget, verticalLayout, "label_17");
    labelFirmwareVersion = addLabel(verticalLayoutWidget, verticalLayout, "labelFirmwareVersion");
    label_19 = addLabel(verticalLayoutWidget, verticalLayout, "label_19");
    label_20 = addLabel(verticalLayoutWidget, verticalLayout, "label_20");
    labelDriverVersion = addLabel(verticalLayoutWidget, verticalLayout, "labelDriverVersion");
    verticalLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    verticalLayoutWidget_2 = new QWidget(tabAbout);
    verticalLayoutWidget_2->setObjectName(QString::fromUtf8("verticalLayoutWidget_2"));
    verticalLayoutWidget_2->setGeometry(QRect(159, 10, 141, 201));
    verticalLayout_2 = new QVBoxLayout(verticalLayoutWidget_2);
    verticalLayout_2->setObjectName(QString::fromUtf8("verticalLayout_2"));
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    label = addLabel(verticalLayoutWidget_2, verticalLayout_2, "label");
    labelTouchPoints = addLabel(verticalLayoutWidget_2, verticalLayout_2, "labelTouchPoints");
    label_4 = addLabel(verticalLayoutWidget_2, verticalLayout_2, "label_4");
    label_2 = addLabel(verticalLayoutWidget_2, verticalLayout_2, "label_2");
    labelLayout = addLabel(verticalLayoutWidget_2, verticalLayout_2, "labelLayout");
    verticalLayout_2->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    tabWidget->addTab(tabAbout, QString());

    retranslateUi(MainDialog);
    tabWidget->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(MainDialog);
}

void Ui_MainDialog::retranslateUi(QDialog *MainDialog)
{
    const Product &product = Product::active();

    MainDialog->setWindowTitle(QCoreApplication::translate("MainDialog", product.mainWindow.title));
    groupBox->setTitle(QCoreApplication::translate("MainDialog", "Status"));
    checkBoxEnableUSB->setText(QCoreApplication::translate("MainDialog", "Enabled"));
    labelFPS->setText(QCoreApplication::translate("MainDialog", "N/A"));
    labelGraph->setText(QString());
    groupBox_3->setTitle(QCoreApplication::translate("MainDialog", "Calibration"));
    pushButtonCalib->setText(QCoreApplication::translate("MainDialog", "Calibrate"));
    pushButtonGraph->setText(QCoreApplication::translate("MainDialog", product.mainWindow.graphButtonText));
    tabWidget->setTabText(tabWidget->indexOf(tabSettings), QCoreApplication::translate("MainDialog", "Settings"));
    label_13->setText(QCoreApplication::translate("MainDialog", "Product Name"));
    label_15->setText(QCoreApplication::translate("MainDialog", product.mainWindow.productName));
    label_16->setText(QString());
    label_17->setText(QCoreApplication::translate("MainDialog", "Firmware Version"));
    labelFirmwareVersion->setText(QCoreApplication::translate("MainDialog", "n/a"));
    label_19->setText(QString());
    label_20->setText(QCoreApplication::translate("MainDialog", "Driver Version"));
    labelDriverVersion->setText(QCoreApplication::translate("MainDialog", "n/a"));
    label->setText(QCoreApplication::translate("MainDialog", "Touch Points"));
    labelTouchPoints->setText(QCoreApplication::translate("MainDialog", "n/a"));
    label_4->setText(QString());
    label_2->setText(QCoreApplication::translate("MainDialog", "Layout"));
    labelLayout->setText(QCoreApplication::translate("MainDialog", "n/a"));
    tabWidget->setTabText(tabWidget->indexOf(tabAbout), QCoreApplication::translate("MainDialog", "About"));
}
