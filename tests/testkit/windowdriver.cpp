#include "windowdriver.h"

#include "settings/settingsdialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace testkit {

namespace {

QComboBox *box(const SettingsDialog *dialog, const char *name)
{
    return dialog->findChild<QComboBox *>(QLatin1String(name));
}

// The entry without a value is "Custom", which makes the box editable.
int customIndex(const QComboBox *combo)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (!combo->itemData(i).isValid())
            return i;
    }
    return -1;
}

void choose(QComboBox *combo, int value)
{
    combo->setCurrentIndex(combo->findData(value));
}

} // namespace

SettingsDialog *settingsDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<SettingsDialog *>(w))
            return dialog;
    }
    return nullptr;
}

void applySettings(const LineChoice &line)
{
    SettingsDialog *dialog = settingsDialog();
    QComboBox *ports = box(dialog, "serialPortInfoListBox");
    ports->setCurrentIndex(customIndex(ports));
    ports->lineEdit()->setText(line.port);

    QComboBox *rates = box(dialog, "baudRateBox");
    bool listed = false;
    const int rate = line.baud.toInt(&listed);
    const int index = listed ? rates->findData(rate) : -1;
    if (index >= 0) {
        rates->setCurrentIndex(index);
    } else {
        rates->setCurrentIndex(customIndex(rates));
        rates->lineEdit()->setText(line.baud);
    }
    choose(box(dialog, "dataBitsBox"), line.dataBits);
    choose(box(dialog, "parityBox"), line.parity);
    choose(box(dialog, "stopBitsBox"), line.stopBits);
    choose(box(dialog, "flowControlBox"), line.flow);
    dialog->findChild<QCheckBox *>(QStringLiteral("localEchoCheckBox"))->setChecked(line.echo);
    dialog->findChild<QPushButton *>(QStringLiteral("applyButton"))->click();
}

QAction *action(const QWidget *window, const char *name)
{
    return window->findChild<QAction *>(QLatin1String(name));
}

} // namespace testkit
