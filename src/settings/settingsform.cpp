#include "settings/settingsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

template<typename Widget> Widget *named(Widget *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Device-supplied details end up in these labels: never let them be read as markup.
QLabel *plainLabel(QWidget *parent, const char *name)
{
    QLabel *label = named(new QLabel(parent), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

void SettingsForm::setupForm(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("SettingsDialog"));
    dialog->resize(281, 262);

    gridLayout_3 = named(new QGridLayout(dialog), "gridLayout_3");

    parametersBox = named(new QGroupBox(dialog), "parametersBox");
    gridLayout_2 = named(new QGridLayout(parametersBox), "gridLayout_2");
    baudRateLabel = named(new QLabel(parametersBox), "baudRateLabel");
    gridLayout_2->addWidget(baudRateLabel, 0, 0, 1, 1);
    baudRateBox = named(new QComboBox(parametersBox), "baudRateBox");
    gridLayout_2->addWidget(baudRateBox, 0, 1, 1, 1);
    dataBitsLabel = named(new QLabel(parametersBox), "dataBitsLabel");
    gridLayout_2->addWidget(dataBitsLabel, 1, 0, 1, 1);
    dataBitsBox = named(new QComboBox(parametersBox), "dataBitsBox");
    gridLayout_2->addWidget(dataBitsBox, 1, 1, 1, 1);
    parityLabel = named(new QLabel(parametersBox), "parityLabel");
    gridLayout_2->addWidget(parityLabel, 2, 0, 1, 1);
    parityBox = named(new QComboBox(parametersBox), "parityBox");
    gridLayout_2->addWidget(parityBox, 2, 1, 1, 1);
    stopBitsLabel = named(new QLabel(parametersBox), "stopBitsLabel");
    gridLayout_2->addWidget(stopBitsLabel, 3, 0, 1, 1);
    stopBitsBox = named(new QComboBox(parametersBox), "stopBitsBox");
    gridLayout_2->addWidget(stopBitsBox, 3, 1, 1, 1);
    flowControlLabel = named(new QLabel(parametersBox), "flowControlLabel");
    gridLayout_2->addWidget(flowControlLabel, 4, 0, 1, 1);
    flowControlBox = named(new QComboBox(parametersBox), "flowControlBox");
    gridLayout_2->addWidget(flowControlBox, 4, 1, 1, 1);
    gridLayout_3->addWidget(parametersBox, 0, 1, 1, 1);

    selectBox = named(new QGroupBox(dialog), "selectBox");
    gridLayout = named(new QGridLayout(selectBox), "gridLayout");
    serialPortInfoListBox = named(new QComboBox(selectBox), "serialPortInfoListBox");
    gridLayout->addWidget(serialPortInfoListBox, 0, 0, 1, 1);
    descriptionLabel = plainLabel(selectBox, "descriptionLabel");
    gridLayout->addWidget(descriptionLabel, 1, 0, 1, 1);
    manufacturerLabel = plainLabel(selectBox, "manufacturerLabel");
    gridLayout->addWidget(manufacturerLabel, 2, 0, 1, 1);
    serialNumberLabel = plainLabel(selectBox, "serialNumberLabel");
    gridLayout->addWidget(serialNumberLabel, 3, 0, 1, 1);
    locationLabel = plainLabel(selectBox, "locationLabel");
    gridLayout->addWidget(locationLabel, 4, 0, 1, 1);
    vidLabel = plainLabel(selectBox, "vidLabel");
    gridLayout->addWidget(vidLabel, 5, 0, 1, 1);
    pidLabel = plainLabel(selectBox, "pidLabel");
    gridLayout->addWidget(pidLabel, 6, 0, 1, 1);
    gridLayout_3->addWidget(selectBox, 0, 0, 1, 1);

    horizontalLayout = named(new QHBoxLayout(), "horizontalLayout");
    horizontalSpacer = new QSpacerItem(96, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    applyButton = named(new QPushButton(dialog), "applyButton");
    horizontalLayout->addWidget(applyButton);
    gridLayout_3->addLayout(horizontalLayout, 2, 0, 1, 2);

    additionalOptionsGroupBox = named(new QGroupBox(dialog), "additionalOptionsGroupBox");
    verticalLayout = named(new QVBoxLayout(additionalOptionsGroupBox), "verticalLayout");
    localEchoCheckBox = named(new QCheckBox(additionalOptionsGroupBox), "localEchoCheckBox");
    localEchoCheckBox->setChecked(true);
    verticalLayout->addWidget(localEchoCheckBox);
    gridLayout_3->addWidget(additionalOptionsGroupBox, 1, 0, 1, 2);

    retranslateForm(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void SettingsForm::retranslateForm(QDialog *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("SettingsDialog", "Settings"));
    parametersBox->setTitle(QCoreApplication::translate("SettingsDialog", "Select Parameters"));
    baudRateLabel->setText(QCoreApplication::translate("SettingsDialog", "BaudRate:"));
    dataBitsLabel->setText(QCoreApplication::translate("SettingsDialog", "Data bits:"));
    parityLabel->setText(QCoreApplication::translate("SettingsDialog", "Parity:"));
    stopBitsLabel->setText(QCoreApplication::translate("SettingsDialog", "Stop bits:"));
    flowControlLabel->setText(QCoreApplication::translate("SettingsDialog", "Flow control:"));
    selectBox->setTitle(QCoreApplication::translate("SettingsDialog", "Select Serial Port"));
    descriptionLabel->setText(QCoreApplication::translate("SettingsDialog", "Description:"));
    manufacturerLabel->setText(QCoreApplication::translate("SettingsDialog", "Manufacturer:"));
    serialNumberLabel->setText(QCoreApplication::translate("SettingsDialog", "Serial number:"));
    locationLabel->setText(QCoreApplication::translate("SettingsDialog", "Location:"));
    vidLabel->setText(QCoreApplication::translate("SettingsDialog", "Vendor ID:"));
    pidLabel->setText(QCoreApplication::translate("SettingsDialog", "Product ID:"));
    applyButton->setText(QCoreApplication::translate("SettingsDialog", "Apply"));
    additionalOptionsGroupBox->setTitle(
        QCoreApplication::translate("SettingsDialog", "Additional options"));
    localEchoCheckBox->setText(QCoreApplication::translate("SettingsDialog", "Local echo"));
}
