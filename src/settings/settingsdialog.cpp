#include "settings/settingsdialog.h"

#include "settings/portdetails.h"
#include "settings/settingsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSerialPortInfo>

namespace {

// Only the "Custom" entries of the lists carry no item data.
bool isCustomEntry(const QComboBox *box, int idx)
{
    return !box->itemData(idx).isValid();
}

int currentData(const QComboBox *box)
{
    return box->itemData(box->currentIndex()).toInt();
}

} // namespace

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
    , form(new SettingsForm)
    // Digits, and a minus sign, so that what is typed stays as typed: a rate out of range is
    // refused with its reason when the port is opened, not silently made another.
    , baudRateValidator(
          new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,9}")), this))
{
    form->setupForm(this);

    // With the default insert policy, Enter in an edited list adds a data-less entry
    // and the device-path policy then clears the typed text: keep it in the field.
    form->baudRateBox->setInsertPolicy(QComboBox::NoInsert);
    form->serialPortInfoListBox->setInsertPolicy(QComboBox::NoInsert);

    connect(form->applyButton, &QPushButton::clicked, this, &SettingsDialog::apply);
    connect(form->serialPortInfoListBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SettingsDialog::showPortInfo);
    connect(form->baudRateBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SettingsDialog::checkCustomBaudRatePolicy);
    connect(form->serialPortInfoListBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SettingsDialog::checkCustomDevicePathPolicy);

    fillParameterChoices();
    listAvailablePorts();
    readFormSettings();
}

SettingsDialog::~SettingsDialog()
{
    delete form;
}

PortSettings SettingsDialog::currentSettings() const
{
    return portSettings;
}

void SettingsDialog::showPortInfo(int idx)
{
    if (idx == -1)
        return;

    const QStringList list = form->serialPortInfoListBox->itemData(idx).toStringList();
    const auto detail
        = [&list](int position) { return position < list.size() ? list.at(position) : tr("N/A"); };
    form->descriptionLabel->setText(tr("Description: %1").arg(detail(PortDetails::Description)));
    form->manufacturerLabel->setText(tr("Manufacturer: %1").arg(detail(PortDetails::Manufacturer)));
    form->serialNumberLabel->setText(
        tr("Serial number: %1").arg(detail(PortDetails::SerialNumber)));
    form->locationLabel->setText(tr("Location: %1").arg(detail(PortDetails::Location)));
    form->vidLabel->setText(tr("Vendor Identifier: %1").arg(detail(PortDetails::VendorId)));
    form->pidLabel->setText(tr("Product Identifier: %1").arg(detail(PortDetails::ProductId)));
}

void SettingsDialog::apply()
{
    readFormSettings();
    hide();
}

void SettingsDialog::checkCustomBaudRatePolicy(int idx)
{
    const bool isCustom = isCustomEntry(form->baudRateBox, idx);
    form->baudRateBox->setEditable(isCustom);
    if (isCustom) {
        form->baudRateBox->clearEditText();
        // Making a box editable gives it a fresh line edit, so attach the validator anew.
        form->baudRateBox->lineEdit()->setValidator(baudRateValidator);
    }
}

void SettingsDialog::checkCustomDevicePathPolicy(int idx)
{
    const bool isCustom = isCustomEntry(form->serialPortInfoListBox, idx);
    form->serialPortInfoListBox->setEditable(isCustom);
    if (isCustom)
        form->serialPortInfoListBox->clearEditText();
}

void SettingsDialog::fillParameterChoices()
{
    form->baudRateBox->addItem(QStringLiteral("9600"), QSerialPort::Baud9600);
    form->baudRateBox->addItem(QStringLiteral("19200"), QSerialPort::Baud19200);
    form->baudRateBox->addItem(QStringLiteral("38400"), QSerialPort::Baud38400);
    form->baudRateBox->addItem(QStringLiteral("115200"), QSerialPort::Baud115200);
    form->baudRateBox->addItem(tr("Custom"));

    form->dataBitsBox->addItem(QStringLiteral("5"), QSerialPort::Data5);
    form->dataBitsBox->addItem(QStringLiteral("6"), QSerialPort::Data6);
    form->dataBitsBox->addItem(QStringLiteral("7"), QSerialPort::Data7);
    form->dataBitsBox->addItem(QStringLiteral("8"), QSerialPort::Data8);
    form->dataBitsBox->setCurrentIndex(3);

    form->parityBox->addItem(tr("None"), QSerialPort::NoParity);
    form->parityBox->addItem(tr("Even"), QSerialPort::EvenParity);
    form->parityBox->addItem(tr("Odd"), QSerialPort::OddParity);
    form->parityBox->addItem(tr("Mark"), QSerialPort::MarkParity);
    form->parityBox->addItem(tr("Space"), QSerialPort::SpaceParity);

    form->stopBitsBox->addItem(QStringLiteral("1"), QSerialPort::OneStop);
    form->stopBitsBox->addItem(tr("1.5"), QSerialPort::OneAndHalfStop);
    form->stopBitsBox->addItem(QStringLiteral("2"), QSerialPort::TwoStop);

    form->flowControlBox->addItem(tr("None"), QSerialPort::NoFlowControl);
    form->flowControlBox->addItem(tr("RTS/CTS"), QSerialPort::HardwareControl);
    form->flowControlBox->addItem(tr("XON/XOFF"), QSerialPort::SoftwareControl);
}

void SettingsDialog::listAvailablePorts()
{
    form->serialPortInfoListBox->clear();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        const QStringList details = PortDetails::fromPort(info);
        form->serialPortInfoListBox->addItem(details.first(), details);
    }
    form->serialPortInfoListBox->addItem(tr("Custom"));
}

void SettingsDialog::readFormSettings()
{
    portSettings.portName = form->serialPortInfoListBox->currentText();

    if (form->baudRateBox->currentIndex() == CustomBaudRateIndex)
        portSettings.baudRate = form->baudRateBox->currentText().toInt();
    else
        portSettings.baudRate = currentData(form->baudRateBox);
    portSettings.baudRateText = QString::number(portSettings.baudRate);

    portSettings.dataBits = static_cast<QSerialPort::DataBits>(currentData(form->dataBitsBox));
    portSettings.dataBitsText = form->dataBitsBox->currentText();
    portSettings.parity = static_cast<QSerialPort::Parity>(currentData(form->parityBox));
    portSettings.parityText = form->parityBox->currentText();
    portSettings.stopBits = static_cast<QSerialPort::StopBits>(currentData(form->stopBitsBox));
    portSettings.stopBitsText = form->stopBitsBox->currentText();
    portSettings.flowControl
        = static_cast<QSerialPort::FlowControl>(currentData(form->flowControlBox));
    portSettings.flowControlText = form->flowControlBox->currentText();
    portSettings.localEcho = form->localEchoCheckBox->isChecked();
}
