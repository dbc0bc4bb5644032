#ifndef UI_MAINDIALOG_H
#define UI_MAINDIALOG_H

class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QVBoxLayout;
class QWidget;

// Builds the main window's widget tree; every widget is owned by its Qt parent.
class Ui_MainDialog
{
public:
    QTabWidget *tabWidget;
    QWidget *tabSettings;
    QGroupBox *groupBox;
    QCheckBox *checkBoxEnableUSB;
    QLabel *labelFPS;
    QLabel *labelGraph;
    QGroupBox *groupBox_3;
    QPushButton *pushButtonCalib;
    QPushButton *pushButtonGraph;
    QWidget *tabAbout;
    QWidget *verticalLayoutWidget;
    QVBoxLayout *verticalLayout;
    QLabel *label_13;
    QLabel *label_15;
    QLabel *label_16;
    QLabel *label_17;
    QLabel *labelFirmwareVersion;
    QLabel *label_19;
    QLabel *label_20;
    QLabel *labelDriverVersion;
    QWidget *verticalLayoutWidget_2;
    QVBoxLayout *verticalLayout_2;
    QLabel *label;
    QLabel *labelTouchPoints;
    QLabel *label_4;
    QLabel *label_2;
    QLabel *labelLayout;

    void setupUi(QDialog *MainDialog);
    void retranslateUi(QDialog *MainDialog);
};

#endif // UI_MAINDIALOG_H
