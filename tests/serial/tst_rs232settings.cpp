#include <serial/irs232settings.h>
#include <serial/portsettings.h>
#include <serial/rs232settings.h>

#include <QTest>

// Readable failures for QCOMPARE on settings.
char *toString(const PortSettings &s)
{
    return qstrdup(qPrintable(QStringLiteral("PortSettings(%1, %2, data %3, parity %4, stop %5, flow %6)")
                                  .arg(s.portName()).arg(int(s.baudRate())).arg(int(s.dataBits()))
                                  .arg(int(s.parity())).arg(int(s.stopBits())).arg(int(s.flowControl()))));
}

namespace {
const QString section = QStringLiteral("Scanner");

QVariantMap record(const QString &key, const QVariant &value, const QString &group = section)
{
    return {{"group", group}, {"key", key}, {"value", value}};
}

PortSettings settings(const QString &name, int baud, int dataBits, int parity, int stopBits, int flowControl)
{
    PortSettings s;
    s.setPortName(name);
    s.setBaudRate(QSerialPort::BaudRate(baud));
    s.setDataBits(QSerialPort::DataBits(dataBits));
    s.setParity(QSerialPort::Parity(parity));
    s.setStopBits(QSerialPort::StopBits(stopBits));
    s.setFlowControl(QSerialPort::FlowControl(flowControl));
    return s;
}

// Differs from the defaults in every field, so that a record setting a field
// back to its default value shows.
PortSettings base()
{
    return settings("base", 4800, QSerialPort::Data7, QSerialPort::OddParity, QSerialPort::TwoStop,
                    QSerialPort::SoftwareControl);
}
} // namespace

class tst_RS232Settings : public QObject
{
    Q_OBJECT

private slots:
    void portSettingsDefaults();
    void portSettingsComparesEveryField();
    void interfaceReachesEveryField();
    void setValue_data();
    void setValue();
    void toListWritesRecords();
    void toListWords_data();
    void toListWords();
    void roundTrip_data();
    void roundTrip();
    void setListAppliesInOrderAndSkipsForeignRecords();
};

void tst_RS232Settings::portSettingsDefaults()
{
    const PortSettings s;
    QVERIFY(!s.isValid());
    QCOMPARE(s, settings(QString(), 115200, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop,
                         QSerialPort::NoFlowControl));
    QVERIFY(settings("COM1", 0, 0, 0, 0, 0).isValid());
}

void tst_RS232Settings::portSettingsComparesEveryField()
{
    const PortSettings b = base();
    const PortSettings changed[] = {settings("other", 4800, 7, 3, 2, 2), settings("base", 9600, 7, 3, 2, 2),
                                    settings("base", 4800, 8, 3, 2, 2), settings("base", 4800, 7, 5, 2, 2),
                                    settings("base", 4800, 7, 3, 3, 2), settings("base", 4800, 7, 3, 2, 1)};
    QCOMPARE(settings("base", 4800, 7, 3, 2, 2), b);
    for (const PortSettings &c : changed) {
        QVERIFY(!(c == b));
        QVERIFY(c != b);
        PortSettings copy = c, other = b;
        swap(copy, other);
        QCOMPARE(copy, b);
        QCOMPARE(other, c);
    }
}

void tst_RS232Settings::interfaceReachesEveryField()
{
    RS232Settings settings(section);
    IRs232Settings &port = settings;
    port.setPortName("/dev/ttyS1");
    port.setBaudrate(QSerialPort::BaudRate(230400));
    port.setDataBitsType(QSerialPort::Data6);
    port.setParityType(QSerialPort::SpaceParity);
    port.setStopBits(QSerialPort::OneAndHalfStop);
    port.setFlowControl(QSerialPort::HardwareControl);
    const PortSettings expected = ::settings("/dev/ttyS1", 230400, QSerialPort::Data6, QSerialPort::SpaceParity,
                                             QSerialPort::OneAndHalfStop, QSerialPort::HardwareControl);
    QCOMPARE(port.portSettings(), expected);
    QCOMPARE(::settings(port.portName(), port.baudrate(), port.dataBits(), port.parityType(), port.stopBits(),
                        port.flowControl()), expected);
    port.setPortSettings(base());
    QCOMPARE(port.portSettings(), base());
}

void tst_RS232Settings::setValue_data()
{
    QTest::addColumn<QVariantMap>("record");
    QTest::addColumn<bool>("result");
    QTest::addColumn<PortSettings>("expected");
    const PortSettings b = base();
    const auto baud = [&](int v) { PortSettings s = b; s.setBaudRate(QSerialPort::BaudRate(v)); return s; };
    const auto flow = [&](int v) { PortSettings s = b; s.setFlowControl(QSerialPort::FlowControl(v)); return s; };
    const auto parity = [&](int v) { PortSettings s = b; s.setParity(QSerialPort::Parity(v)); return s; };
    const auto data = [&](int v) { PortSettings s = b; s.setDataBits(QSerialPort::DataBits(v)); return s; };
    const auto stop = [&](int v) { PortSettings s = b; s.setStopBits(QSerialPort::StopBits(v)); return s; };
    const auto name = [&](const QString &v) { PortSettings s = b; s.setPortName(v); return s; };

    QTest::newRow("port-name") << record("portName", "COM3") << true << name("COM3");
    QTest::newRow("port-name-missing-value") << QVariantMap{{"group", section}, {"key", "portName"}} << true << name(QString());
    QTest::newRow("baud-text") << record("baudrate", "9600") << true << baud(9600);
    QTest::newRow("baud-int-variant") << record("baudrate", 19200) << true << baud(19200);
    QTest::newRow("baud-outside-enumeration") << record("baudrate", "921600") << true << baud(921600);
    QTest::newRow("baud-not-a-number") << record("baudrate", "fast") << true << baud(0);
    QTest::newRow("baud-negative") << record("baudrate", "-1") << true << baud(0);
    QTest::newRow("baud-hex-is-not-decimal") << record("baudrate", "0x2580") << true << baud(0);
    QTest::newRow("flow-hardware-lower") << record("flowControl", "hardware") << true << flow(QSerialPort::HardwareControl);
    QTest::newRow("flow-dtr-str-mixed") << record("flowControl", "Dtr/sTr") << true << flow(QSerialPort::HardwareControl);
    QTest::newRow("flow-xonxoff") << record("flowControl", "XONXOFF") << true << flow(QSerialPort::SoftwareControl);
    QTest::newRow("flow-xon-xoff-lower") << record("flowControl", "xon/xoff") << true << flow(QSerialPort::SoftwareControl);
    QTest::newRow("flow-off") << record("flowControl", "OFF") << true << flow(QSerialPort::NoFlowControl);
    QTest::newRow("flow-unlisted-word") << record("flowControl", "RTS/CTS") << true << flow(QSerialPort::NoFlowControl);
    QTest::newRow("parity-odd") << record("parity", "ODD") << true << parity(QSerialPort::OddParity);
    QTest::newRow("parity-even-lower") << record("parity", "even") << true << parity(QSerialPort::EvenParity);
    QTest::newRow("parity-space-mixed") << record("parity", "Space") << true << parity(QSerialPort::SpaceParity);
    QTest::newRow("parity-mark-is-none") << record("parity", "MARK") << true << parity(QSerialPort::NoParity);
    QTest::newRow("parity-unlisted-word") << record("parity", "O") << true << parity(QSerialPort::NoParity);
    QTest::newRow("data-bits-5") << record("dataBits", "5") << true << data(5);
    QTest::newRow("data-bits-not-a-number") << record("dataBits", "eight") << true << data(0);
    QTest::newRow("data-bits-outside-enumeration") << record("dataBits", "16") << true << data(16);
    QTest::newRow("data-bits-largest-number") << record("dataBits", "4294967295") << true << data(-1);
    QTest::newRow("stop-bit-3-one-and-half") << record("stopBit", "3") << true << stop(3);
    QTest::newRow("stop-bit-4-keeps-low-bits") << record("stopBit", "4") << true << stop(0);
    QTest::newRow("stop-bit-6-keeps-low-bits") << record("stopBit", "6") << true << stop(2);
    QTest::newRow("stop-bit-not-a-number") << record("stopBit", "two") << true << stop(0);
    // Refused records change nothing.
    QTest::newRow("unknown-key") << record("speed", "9600") << false << b;
    QTest::newRow("key-in-other-case") << record("BaudRate", "9600") << false << b;
    QTest::newRow("missing-key") << QVariantMap{{"group", section}, {"value", "9600"}} << false << b;
    QTest::newRow("other-group") << record("portName", "COM9", "Printer") << false << b;
    QTest::newRow("group-in-other-case") << record("portName", "COM9", section.toUpper()) << false << b;
    QTest::newRow("empty-group") << record("portName", "COM9", QString()) << false << b;
    QTest::newRow("missing-group") << QVariantMap{{"key", "portName"}, {"value", "COM9"}} << false << b;
    QTest::newRow("empty-record") << QVariantMap() << false << b;
}

void tst_RS232Settings::setValue()
{
    QFETCH(QVariantMap, record);
    QFETCH(bool, result);
    QFETCH(PortSettings, expected);
    RS232Settings settings(section);
    settings.setPortSettings(base());
    QCOMPARE(settings.setValue(record), result);
    QCOMPARE(settings.portSettings(), expected);
}

void tst_RS232Settings::toListWritesRecords()
{
    RS232Settings settings(section);
    settings.setPortSettings(::settings("COM4", 57600, QSerialPort::Data7, QSerialPort::EvenParity,
                                        QSerialPort::TwoStop, QSerialPort::HardwareControl));
    const QList<QVariant> records = settings.toList();
    QCOMPARE(records, QList<QVariant>({record("portName", "COM4"), record("baudrate", 57600),
                                        record("flowControl", "HARDWARE"), record("parity", "EVEN"),
                                        record("dataBits", 7), record("stopBit", 2)}));
    // Numbers are written as numbers, words as strings.
    QCOMPARE(records.at(1).toMap().value("value").userType(), int(QMetaType::Int));
    QCOMPARE(records.at(2).toMap().value("value").userType(), int(QMetaType::QString));
    // The keys as class constants.
    const QStringList keys = {RS232Settings::PORT_NAME, RS232Settings::PORT_BAUDRATE, RS232Settings::PORT_FLOW_CONTROL,
                              RS232Settings::PORT_PARITY, RS232Settings::PORT_DATABITS, RS232Settings::PORT_STOPBIT};
    QCOMPARE(keys, QStringList({"portName", "baudrate", "flowControl", "parity", "dataBits", "stopBit"}));
    // The section as it is when the list is made.
    settings.setSection("Printer");
    QVERIFY(settings.setValue(record("portName", "COM2", "Printer")));
    QCOMPARE(settings.toList().first(), QVariant(record("portName", "COM2", "Printer")));
}

void tst_RS232Settings::toListWords_data()
{
    QTest::addColumn<int>("flowControl");
    QTest::addColumn<QString>("flowWord");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("parityWord");
    QTest::newRow("none-none") << int(QSerialPort::NoFlowControl) << "OFF" << int(QSerialPort::NoParity) << "NONE";
    QTest::newRow("software-odd") << int(QSerialPort::SoftwareControl) << "XON/XOFF" << int(QSerialPort::OddParity) << "ODD";
    QTest::newRow("none-space") << int(QSerialPort::NoFlowControl) << "OFF" << int(QSerialPort::SpaceParity) << "SPACE";
    QTest::newRow("none-mark-as-none") << int(QSerialPort::NoFlowControl) << "OFF" << int(QSerialPort::MarkParity) << "NONE";
    QTest::newRow("unknown-values") << -1 << "OFF" << -1 << "NONE";
}

void tst_RS232Settings::toListWords()
{
    QFETCH(int, flowControl);
    QFETCH(QString, flowWord);
    QFETCH(int, parity);
    QFETCH(QString, parityWord);
    RS232Settings settings(section);
    settings.setFlowControl(QSerialPort::FlowControl(flowControl));
    settings.setParityType(QSerialPort::Parity(parity));
    const QList<QVariant> records = settings.toList();
    QCOMPARE(records.at(2), QVariant(record("flowControl", flowWord)));
    QCOMPARE(records.at(3), QVariant(record("parity", parityWord)));
}

void tst_RS232Settings::roundTrip_data()
{
    QTest::addColumn<PortSettings>("original");
    QTest::addColumn<PortSettings>("expected");
    const int bauds[] = {1200, 9600, 115200, 921600};
    int i = 0;
    for (const int parity : {0, 2, 3, 4, 5}) {
        for (const int flow : {0, 1, 2}) {
            for (const int stop : {1, 2, 3}) {
                // Data bits and baud rate vary with the row instead of multiplying the rows.
                const PortSettings original = settings(QStringLiteral("/dev/ttyUSB%1").arg(i), bauds[i % 4],
                                                       5 + i % 4, parity, stop, flow);
                ++i;
                PortSettings expected = original;
                if (parity == QSerialPort::MarkParity)
                    expected.setParity(QSerialPort::NoParity);
                QTest::addRow("parity%d-flow%d-stop%d", parity, flow, stop) << original << expected;
            }
        }
    }
    QTest::newRow("defaults") << PortSettings() << PortSettings();
}

void tst_RS232Settings::roundTrip()
{
    QFETCH(PortSettings, original);
    QFETCH(PortSettings, expected);
    RS232Settings source(section), target(section);
    source.setPortSettings(original);
    target.setPortSettings(base());
    target.setList(source.toList());
    QCOMPARE(target.portSettings(), expected);
}

void tst_RS232Settings::setListAppliesInOrderAndSkipsForeignRecords()
{
    RS232Settings settings(section);
    settings.setList({record("portName", "first"), record("baudrate", "1200", "Printer"), QVariant(42), QVariant(),
                      record("nonsense", "1"), record("portName", "second"), record("parity", "odd")});
    PortSettings expected;
    expected.setPortName("second");
    expected.setParity(QSerialPort::OddParity);
    QCOMPARE(settings.portSettings(), expected);
    settings.setList({});
    QCOMPARE(settings.portSettings(), expected);
}

QTEST_GUILESS_MAIN(tst_RS232Settings)
#include "tst_rs232settings.moc"
