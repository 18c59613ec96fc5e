#include "settings/portdetails.h"
#include "settings/settingsdialog.h"

#include <QCheckBox>
#include <QComboBox>
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
    void eachChoiceApplies_data();
    void eachChoiceApplies();
    void customBaudRate_data();
    void customBaudRate();
    void typedPortPathSurvivesEnter();
    void defaultsUntilApply();
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

    QTest::newRow("hex ids") << "USB serial" << "/dev/ttyUSB0" << 26 << 0x0403
                             << QStringList{"p", "USB serial", "M", "S", "/dev/ttyUSB0", "1a", "403"};
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

void TestSettingsDialog::eachChoiceApplies_data()
{
    // clang-format off
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("value");

    for (const char *rate : {"9600", "19200", "38400", "115200"})
        QTest::addRow("baud %s", rate) << "baudRateBox" << rate << QString(rate).toInt();
    for (int bits : {QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7, QSerialPort::Data8})
        QTest::addRow("%d bits", bits) << "dataBitsBox" << QString::number(bits) << bits;
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

    QTest::newRow("nonstandard") << "250000" << 250000;
    // Kept as typed, for the open to refuse with its reason: a lost minus sign made it 300.
    QTest::newRow("minus sign") << "-300" << -300;
    QTest::newRow("above the highest") << "4000001" << 4000001;
    QTest::newRow("no letters") << "12k" << 12;
    // clang-format on
}

void TestSettingsDialog::customBaudRate()
{
    QFETCH(QString, typed);
    QFETCH(int, rate);

    SettingsDialog d;
    QComboBox *baud = box(d, "baudRateBox");
    // Made editable a second time, the entry gets a fresh field that must be checked too.
    chooseCustom(baud);
    baud->setCurrentIndex(1);
    QVERIFY(!baud->isEditable());
    chooseCustom(baud);
    QTest::keyClicks(baud->lineEdit(), typed);
    QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
    QCOMPARE(baud->count(), 5);
    apply(d);
    QCOMPARE(d.currentSettings().baudRate, rate);
    QCOMPARE(d.currentSettings().baudRateText, QString::number(rate));

    // A listed rate chosen afterwards wins over the typed one.
    baud->setCurrentIndex(3);
    apply(d);
    QCOMPARE(d.currentSettings().baudRate, 115200);
}

void TestSettingsDialog::typedPortPathSurvivesEnter()
{
    SettingsDialog d;
    QComboBox *ports = box(d, "serialPortInfoListBox");
    const int count = ports->count();
    chooseCustom(ports);
    QTest::keyClicks(ports->lineEdit(), "/dev/ttyUSB0");
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    QCOMPARE(ports->count(), count);
    apply(d);
    QCOMPARE(d.currentSettings().portName, QStringLiteral("/dev/ttyUSB0"));
}

void TestSettingsDialog::defaultsUntilApply()
{
    SettingsDialog d;
    d.show();
    d.findChild<QCheckBox *>(QStringLiteral("localEchoCheckBox"))->setChecked(false);
    box(d, "baudRateBox")->setCurrentIndex(3);
    const PortSettings s = d.currentSettings();
    QCOMPARE((QStringList{s.baudRateText, s.dataBitsText, s.parityText, s.stopBitsText,
                          s.flowControlText}),
             (QStringList{"9600", "8", "None", "1", "None"}));
    QVERIFY(s.localEcho);

    apply(d);
    QVERIFY(d.isHidden());
    QVERIFY(!d.currentSettings().localEcho);
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
