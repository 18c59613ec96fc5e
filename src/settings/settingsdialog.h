#ifndef SETTINGSDIALOG_H
#define SETTINGSDIALOG_H

#include "settings/portsettings.h"

#include <QDialog>

class QIntValidator;
class SettingsForm;

// Modeless dialog in which the user picks the port and its line parameters.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // Rates the custom baud-rate entry accepts.
    static constexpr int MinBaudRate = 0;
    static constexpr int MaxBaudRate = 4000000;
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
    QIntValidator *baudRateValidator = nullptr;
};

#endif // SETTINGSDIALOG_H
