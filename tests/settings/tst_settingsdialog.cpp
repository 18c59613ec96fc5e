#include "settings/portdetails.h"
#include "settings/settingsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private:
    static QComboBox *box(SettingsDialog &d, const char *name)
    {
        return d.findChild<QComboBox *>(QLatin1String(name));
    }
    static void chooseCustom(QComboBox *b) { b->setCurrentIndex(b->count() - 1); }
    static void apply(SettingsDialog &d)
    {
        d.findChild<QPushButton *>(QStringLiteral("applyButton"))->click();
    }

private slots:
    void portDetails_data();
    void portDetails();
    void initialSettings();
    void eachChoiceApplies_data();
    void eachChoiceApplies();
    void customBaudRate_data();
    void customBaudRate();
    void customBaudRatePolicy();
    void typedPortPathSurvivesEnter();
    void applyStoresAndCopiesAreIndependent();
    void customPortShowsNotAvailable();
    void detailLabelsArePlainText();
};

void TestSettingsDialog::portDetails_data()
{
    // clang-format off
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("location");
    QTest::addColumn<int>("vendorId");
    QTest::addColumn<int>("productId");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("hex ids") << "USB serial" << "/dev/ttyUSB0" << 26 << 255
                             << QStringList{"p", "USB serial", "M", "S", "/dev/ttyUSB0", "1a", "ff"};
    QTest::newRow("no leading zeros") << "d" << "l" << 4096 << 0x0403
                                      << QStringList{"p", "d", "M", "S", "l", "1000", "403"};
    QTest::newRow("zero and empty") << "" << "" << 0 << 0
                                    << QStringList{"p", "N/A", "M", "S", "", "N/A", "N/A"};
    // clang-format on
}

void TestSettingsDialog::portDetails()
{
    QFETCH(QString, description);
    QFETCH(QString, location);
    QFETCH(int, vendorId);
    QFETCH(int, productId);
    QFETCH(QStringList, expected);
    QCOMPARE(PortDetails::fromValues("p", description, "M", "S", location, quint16(vendorId),
                                     quint16(productId)),
             expected);
}

void TestSettingsDialog::initialSettings()
{
    SettingsDialog d;
    const PortSettings s = d.currentSettings();
    QCOMPARE(
        box(d, "serialPortInfoListBox")->itemText(box(d, "serialPortInfoListBox")->count() - 1),
        QStringLiteral("Custom"));
    QCOMPARE(s.baudRate, 9600);
    QCOMPARE(s.baudRateText, QStringLiteral("9600"));
    QCOMPARE(s.dataBits, QSerialPort::Data8);
    QCOMPARE(s.dataBitsText, QStringLiteral("8"));
    QCOMPARE(s.parity, QSerialPort::NoParity);
    QCOMPARE(s.parityText, QStringLiteral("None"));
    QCOMPARE(s.stopBits, QSerialPort::OneStop);
    QCOMPARE(s.stopBitsText, QStringLiteral("1"));
    QCOMPARE(s.flowControl, QSerialPort::NoFlowControl);
    QCOMPARE(s.flowControlText, QStringLiteral("None"));
    QVERIFY(s.localEcho);
    QCOMPARE(d.windowTitle(), QStringLiteral("Settings"));
}

void TestSettingsDialog::eachChoiceApplies_data()
{
    // clang-format off
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("value");

    for (const char *rate : {"9600", "19200", "38400", "115200"})
        QTest::addRow("baud %s", rate) << "baudRateBox" << rate << QString(rate).toInt();
    QTest::newRow("5 bits") << "dataBitsBox" << "5" << int(QSerialPort::Data5);
    QTest::newRow("6 bits") << "dataBitsBox" << "6" << int(QSerialPort::Data6);
    QTest::newRow("7 bits") << "dataBitsBox" << "7" << int(QSerialPort::Data7);
    QTest::newRow("8 bits") << "dataBitsBox" << "8" << int(QSerialPort::Data8);
    QTest::newRow("no parity") << "parityBox" << "None" << int(QSerialPort::NoParity);
    QTest::newRow("even") << "parityBox" << "Even" << int(QSerialPort::EvenParity);
    QTest::newRow("odd") << "parityBox" << "Odd" << int(QSerialPort::OddParity);
    QTest::newRow("mark") << "parityBox" << "Mark" << int(QSerialPort::MarkParity);
    QTest::newRow("space") << "parityBox" << "Space" << int(QSerialPort::SpaceParity);
    QTest::newRow("1 stop bit") << "stopBitsBox" << "1" << int(QSerialPort::OneStop);
    QTest::newRow("1.5 stop bits") << "stopBitsBox" << "1.5" << int(QSerialPort::OneAndHalfStop);
    QTest::newRow("2 stop bits") << "stopBitsBox" << "2" << int(QSerialPort::TwoStop);
    QTest::newRow("no flow control") << "flowControlBox" << "None" << int(QSerialPort::NoFlowControl);
    QTest::newRow("RTS/CTS") << "flowControlBox" << "RTS/CTS" << int(QSerialPort::HardwareControl);
    QTest::newRow("XON/XOFF") << "flowControlBox" << "XON/XOFF" << int(QSerialPort::SoftwareControl);
    // clang-format on
}

void TestSettingsDialog::eachChoiceApplies()
{
    QFETCH(QString, boxName);
    QFETCH(QString, choice);
    QFETCH(int, value);

    SettingsDialog d;
    QComboBox *b = box(d, qPrintable(boxName));
    const int index = b->findText(choice);
    QVERIFY(index >= 0);
    b->setCurrentIndex(index);
    apply(d);
    const PortSettings s = d.currentSettings();
    const QMap<QString, QPair<int, QString>> stored{
        {"baudRateBox", {s.baudRate, s.baudRateText}},
        {"dataBitsBox", {s.dataBits, s.dataBitsText}},
        {"parityBox", {s.parity, s.parityText}},
        {"stopBitsBox", {s.stopBits, s.stopBitsText}},
        {"flowControlBox", {s.flowControl, s.flowControlText}},
    };
    QCOMPARE(stored.value(boxName).first, value);
    QCOMPARE(stored.value(boxName).second, choice);
}

void TestSettingsDialog::customBaudRate_data()
{
    // clang-format off
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("rateText");

    QTest::newRow("leading zero") << "0115200" << 115200 << "115200";
    QTest::newRow("nonstandard") << "250000" << 250000 << "250000";
    QTest::newRow("empty") << "" << 0 << "0";
    QTest::newRow("letters are refused") << "abc" << 0 << "0";
    QTest::newRow("no minus sign") << "-300" << 300 << "300";
    // clang-format on
}

void TestSettingsDialog::customBaudRate()
{
    QFETCH(QString, typed);
    QFETCH(int, rate);
    QFETCH(QString, rateText);

    SettingsDialog d;
    QComboBox *baud = box(d, "baudRateBox");
    chooseCustom(baud);
    QTest::keyClicks(baud->lineEdit(), typed);
    QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
    QCOMPARE(baud->count(), 5);
    apply(d);
    QCOMPARE(d.currentSettings().baudRate, rate);
    QCOMPARE(d.currentSettings().baudRateText, rateText);

    // A listed rate chosen afterwards wins over the typed one.
    baud->setCurrentIndex(3);
    apply(d);
    QCOMPARE(d.currentSettings().baudRate, 115200);
}

void TestSettingsDialog::customBaudRatePolicy()
{
    SettingsDialog d;
    QComboBox *baud = box(d, "baudRateBox");
    QVERIFY(!baud->isEditable());
    for (int round = 0; round < 2; ++round) {
        chooseCustom(baud);
        QVERIFY(baud->isEditable());
        QVERIFY(baud->currentText().isEmpty());
        auto *validator = qobject_cast<const QIntValidator *>(baud->lineEdit()->validator());
        QVERIFY(validator);
        QCOMPARE(validator->bottom(), 0);
        QCOMPARE(validator->top(), 4000000);
        QTest::keyClicks(baud->lineEdit(), "1200");
        baud->setCurrentIndex(1);
        QVERIFY(!baud->isEditable());
    }
}

void TestSettingsDialog::typedPortPathSurvivesEnter()
{
    SettingsDialog d;
    QComboBox *ports = box(d, "serialPortInfoListBox");
    const int count = ports->count();
    chooseCustom(ports);
    QVERIFY(ports->isEditable());
    QVERIFY(ports->currentText().isEmpty());
    QTest::keyClicks(ports->lineEdit(), "/dev/ttyUSB0");
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    QCOMPARE(ports->count(), count);
    QCOMPARE(ports->currentText(), QStringLiteral("/dev/ttyUSB0"));
    apply(d);
    QCOMPARE(d.currentSettings().portName, QStringLiteral("/dev/ttyUSB0"));
}

void TestSettingsDialog::applyStoresAndCopiesAreIndependent()
{
    SettingsDialog d;
    d.show();
    const PortSettings before = d.currentSettings();
    box(d, "parityBox")->setCurrentIndex(3);
    box(d, "stopBitsBox")->setCurrentIndex(1);
    box(d, "flowControlBox")->setCurrentIndex(1);
    d.findChild<QCheckBox *>(QStringLiteral("localEchoCheckBox"))->setChecked(false);
    QVERIFY2(d.currentSettings().localEcho, "nothing is stored before Apply");

    apply(d);
    QVERIFY(d.isHidden());
    const PortSettings after = d.currentSettings();
    QCOMPARE(after.parity, QSerialPort::MarkParity);
    QCOMPARE(after.parityText, QStringLiteral("Mark"));
    QCOMPARE(after.stopBits, QSerialPort::OneAndHalfStop);
    QCOMPARE(after.stopBitsText, QStringLiteral("1.5"));
    QCOMPARE(after.flowControl, QSerialPort::HardwareControl);
    QCOMPARE(after.flowControlText, QStringLiteral("RTS/CTS"));
    QVERIFY(!after.localEcho);
    QCOMPARE(before.parity, QSerialPort::NoParity);
    QVERIFY(before.localEcho);
}

void TestSettingsDialog::customPortShowsNotAvailable()
{
    SettingsDialog d;
    QComboBox *ports = box(d, "serialPortInfoListBox");
    chooseCustom(ports);
    const char *labels[] = {"descriptionLabel", "manufacturerLabel", "serialNumberLabel",
                            "locationLabel",    "vidLabel",          "pidLabel"};
    QStringList shown;
    for (const char *name : labels) {
        const QString text = d.findChild<QLabel *>(QLatin1String(name))->text();
        QVERIFY2(text.endsWith(": N/A"), qPrintable(text));
        shown << text;
    }
    // No current item: the details stay as they were.
    QMetaObject::invokeMethod(&d, "showPortInfo", Q_ARG(int, -1));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(d.findChild<QLabel *>(QLatin1String(labels[i]))->text(), shown.at(i));
    QCOMPARE(shown.first(), QStringLiteral("Description: N/A"));
    QCOMPARE(shown.last(), QStringLiteral("Product Identifier: N/A"));
}

void TestSettingsDialog::detailLabelsArePlainText()
{
    SettingsDialog d;
    for (QLabel *label :
         d.findChild<QWidget *>(QStringLiteral("selectBox"))->findChildren<QLabel *>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
