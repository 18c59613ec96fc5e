#ifndef SETTINGSDIALOG_H
#define SETTINGSDIALOG_H

#include "settings/portsettings.h"

#include <QDialog>

class QValidator;
class SettingsForm;

// Modeless dialog in which the user picks the port and its line parameters.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // Position of "Custom" in the baud-rate list; a custom rate is recognised by it.
    static constexpr int CustomBaudRateIndex = 4;

    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    PortSettings currentSettings() const;

private slots:
    void showPortInfo(int idx);
    void apply();
    void checkCustomBaudRatePolicy(int idx);
    void checkCustomDevicePathPolicy(int idx);

private:
    void fillParameterChoices();
    void listAvailablePorts();
    void readFormSettings();

    SettingsForm *form = nullptr;
    PortSettings portSettings;
    QValidator *baudRateValidator = nullptr;
};

#endif // SETTINGSDIALOG_H
