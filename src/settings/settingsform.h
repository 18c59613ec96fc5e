#ifndef SETTINGSFORM_H
#define SETTINGSFORM_H

class QCheckBox;
class QComboBox;
class QDialog;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;

// The widgets of the settings dialog; the dialog owns them through Qt parenthood.
class SettingsForm
{
public:
    QGridLayout *gridLayout_3 = nullptr;
    QGroupBox *parametersBox = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QLabel *baudRateLabel = nullptr;
    QComboBox *baudRateBox = nullptr;
    QLabel *dataBitsLabel = nullptr;
    QComboBox *dataBitsBox = nullptr;
    QLabel *parityLabel = nullptr;
    QComboBox *parityBox = nullptr;
    QLabel *stopBitsLabel = nullptr;
    QComboBox *stopBitsBox = nullptr;
    QLabel *flowControlLabel = nullptr;
    QComboBox *flowControlBox = nullptr;
    QGroupBox *selectBox = nullptr;
    QGridLayout *gridLayout = nullptr;
    QComboBox *serialPortInfoListBox = nullptr;
    QLabel *descriptionLabel = nullptr;
    QLabel *manufacturerLabel = nullptr;
    QLabel *serialNumberLabel = nullptr;
    QLabel *locationLabel = nullptr;
    QLabel *vidLabel = nullptr;
    QLabel *pidLabel = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *applyButton = nullptr;
    QGroupBox *additionalOptionsGroupBox = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QCheckBox *localEchoCheckBox = nullptr;

    void setupForm(QDialog *dialog);
    void retranslateForm(QDialog *dialog);
};

#endif // SETTINGSFORM_H
