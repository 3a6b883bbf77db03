#include <serial/irs232settings.h>
#include <serial/portsettings.h>
#include <serial/rs232settings.h>

#include <QTest>

#include <functional>

// Readable failures for QCOMPARE on settings.
char *toString(const PortSettings &s)
{
    const QString text = QStringLiteral("PortSettings(%1, %2, data %3, parity %4, stop %5, flow %6)")
                             .arg(s.portName())
                             .arg(int(s.baudRate()))
                             .arg(int(s.dataBits()))
                             .arg(int(s.parity()))
                             .arg(int(s.stopBits()))
                             .arg(int(s.flowControl()));
    return qstrdup(qPrintable(text));
}

namespace {
const QString section = QStringLiteral("Scanner");

QVariantMap record(const QString &group, const QString &key, const QVariant &value)
{
    return {{QStringLiteral("group"), group}, {QStringLiteral("key"), key}, {QStringLiteral("value"), value}};
}

PortSettings settings(const QString &name, qint32 baud, QSerialPort::DataBits dataBits,
                      QSerialPort::Parity parity, QSerialPort::StopBits stopBits,
                      QSerialPort::FlowControl flowControl)
{
    PortSettings s;
    s.setPortName(name);
    s.setBaudRate(static_cast<QSerialPort::BaudRate>(baud));
    s.setDataBits(dataBits);
    s.setParity(parity);
    s.setStopBits(stopBits);
    s.setFlowControl(flowControl);
    return s;
}

// Differs from the defaults in every field, so that a record setting a field
// back to its default value shows.
PortSettings base()
{
    return settings(QStringLiteral("base"), 4800, QSerialPort::Data7, QSerialPort::OddParity,
                    QSerialPort::TwoStop, QSerialPort::SoftwareControl);
}
} // namespace

class tst_RS232Settings : public QObject
{
    Q_OBJECT

private slots:
    void portSettingsDefaults();
    void portSettingsComparesEveryField_data();
    void portSettingsComparesEveryField();
    void interfaceReachesEveryField();
    void keyConstants();
    void setValueAppliesRecord_data();
    void setValueAppliesRecord();
    void setValueIgnoresOtherGroups_data();
    void setValueIgnoresOtherGroups();
    void toListWritesRecords();
    void toListWords_data();
    void toListWords();
    void roundTrip_data();
    void roundTrip();
    void setListAppliesInOrderAndSkipsForeignRecords();
    void setSectionChangesAcceptedGroup();
};

void tst_RS232Settings::portSettingsDefaults()
{
    const PortSettings s;
    QVERIFY(!s.isValid());
    QCOMPARE(s, PortSettings());
    QCOMPARE(s.portName(), QString());
    QCOMPARE(s.baudRate(), QSerialPort::Baud115200);
    QCOMPARE(s.dataBits(), QSerialPort::Data8);
    QCOMPARE(s.parity(), QSerialPort::NoParity);
    QCOMPARE(s.stopBits(), QSerialPort::OneStop);
    QCOMPARE(s.flowControl(), QSerialPort::NoFlowControl);

    PortSettings named;
    named.setPortName(QStringLiteral("COM1"));
    QVERIFY(named.isValid());
}

void tst_RS232Settings::portSettingsComparesEveryField_data()
{
    QTest::addColumn<PortSettings>("changed");
    const PortSettings b = base();
    PortSettings s = b;
    s.setPortName(QStringLiteral("other"));
    QTest::newRow("port-name") << s;
    s = b;
    s.setBaudRate(QSerialPort::Baud9600);
    QTest::newRow("baud-rate") << s;
    s = b;
    s.setDataBits(QSerialPort::Data8);
    QTest::newRow("data-bits") << s;
    s = b;
    s.setParity(QSerialPort::MarkParity);
    QTest::newRow("parity") << s;
    s = b;
    s.setStopBits(QSerialPort::OneAndHalfStop);
    QTest::newRow("stop-bits") << s;
    s = b;
    s.setFlowControl(QSerialPort::HardwareControl);
    QTest::newRow("flow-control") << s;
}

void tst_RS232Settings::portSettingsComparesEveryField()
{
    QFETCH(PortSettings, changed);
    const PortSettings b = base();
    QVERIFY(!(changed == b));
    QVERIFY(changed != b);
    PortSettings copy = changed;
    QVERIFY(copy == changed);
    PortSettings other = b;
    swap(copy, other);
    QCOMPARE(copy, b);
    QCOMPARE(other, changed);
}

void tst_RS232Settings::interfaceReachesEveryField()
{
    RS232Settings settings(section);
    IRs232Settings &port = settings;
    port.setPortName(QStringLiteral("/dev/ttyS1"));
    port.setBaudrate(static_cast<QSerialPort::BaudRate>(230400));
    port.setDataBitsType(QSerialPort::Data6);
    port.setParityType(QSerialPort::SpaceParity);
    port.setStopBits(QSerialPort::OneAndHalfStop);
    port.setFlowControl(QSerialPort::HardwareControl);

    const PortSettings expected = ::settings(QStringLiteral("/dev/ttyS1"), 230400, QSerialPort::Data6,
                                             QSerialPort::SpaceParity, QSerialPort::OneAndHalfStop,
                                             QSerialPort::HardwareControl);
    QCOMPARE(port.portSettings(), expected);
    QCOMPARE(port.portName(), expected.portName());
    QCOMPARE(int(port.baudrate()), 230400);
    QCOMPARE(port.dataBits(), QSerialPort::Data6);
    QCOMPARE(port.parityType(), QSerialPort::SpaceParity);
    QCOMPARE(port.stopBits(), QSerialPort::OneAndHalfStop);
    QCOMPARE(port.flowControl(), QSerialPort::HardwareControl);

    port.setPortSettings(base());
    QCOMPARE(port.portSettings(), base());
    QCOMPARE(settings.section(), section);
}

void tst_RS232Settings::keyConstants()
{
    QCOMPARE(RS232Settings::PORT_NAME, QStringLiteral("portName"));
    QCOMPARE(RS232Settings::PORT_BAUDRATE, QStringLiteral("baudrate"));
    QCOMPARE(RS232Settings::PORT_FLOW_CONTROL, QStringLiteral("flowControl"));
    QCOMPARE(RS232Settings::PORT_PARITY, QStringLiteral("parity"));
    QCOMPARE(RS232Settings::PORT_DATABITS, QStringLiteral("dataBits"));
    QCOMPARE(RS232Settings::PORT_STOPBIT, QStringLiteral("stopBit"));
}

void tst_RS232Settings::setValueAppliesRecord_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("result");
    QTest::addColumn<PortSettings>("expected");

    const auto row = [](const char *tag, const QString &key, const QVariant &value, bool result,
                        const std::function<void(PortSettings &)> &change) {
        PortSettings expected = base();
        if (change)
            change(expected);
        QTest::newRow(tag) << key << value << result << expected;
    };
    const QString name = QStringLiteral("portName");
    const QString baud = QStringLiteral("baudrate");
    const QString flow = QStringLiteral("flowControl");
    const QString parity = QStringLiteral("parity");
    const QString data = QStringLiteral("dataBits");
    const QString stop = QStringLiteral("stopBit");
    const auto baudIs = [](qint32 b) {
        return [b](PortSettings &s) { s.setBaudRate(static_cast<QSerialPort::BaudRate>(b)); };
    };
    const auto flowIs = [](QSerialPort::FlowControl f) { return [f](PortSettings &s) { s.setFlowControl(f); }; };
    const auto parityIs = [](QSerialPort::Parity p) { return [p](PortSettings &s) { s.setParity(p); }; };
    const auto dataIs = [](int d) {
        return [d](PortSettings &s) { s.setDataBits(static_cast<QSerialPort::DataBits>(d)); };
    };
    const auto stopIs = [](int b) {
        return [b](PortSettings &s) { s.setStopBits(static_cast<QSerialPort::StopBits>(b)); };
    };

    row("port-name", name, QStringLiteral("COM3"), true,
        [](PortSettings &s) { s.setPortName(QStringLiteral("COM3")); });
    row("port-name-empty", name, QString(), true, [](PortSettings &s) { s.setPortName(QString()); });
    row("port-name-missing-value", name, QVariant(), true, [](PortSettings &s) { s.setPortName(QString()); });

    row("baud-text", baud, QStringLiteral("9600"), true, baudIs(9600));
    row("baud-int-variant", baud, 19200, true, baudIs(19200));
    row("baud-outside-enumeration", baud, QStringLiteral("921600"), true, baudIs(921600));
    row("baud-not-a-number", baud, QStringLiteral("fast"), true, baudIs(0));
    row("baud-negative", baud, QStringLiteral("-1"), true, baudIs(0));
    row("baud-hex-is-not-decimal", baud, QStringLiteral("0x2580"), true, baudIs(0));
    row("baud-missing-value", baud, QVariant(), true, baudIs(0));

    row("flow-hardware", flow, QStringLiteral("HARDWARE"), true, flowIs(QSerialPort::HardwareControl));
    row("flow-hardware-lower", flow, QStringLiteral("hardware"), true, flowIs(QSerialPort::HardwareControl));
    row("flow-dtr-str", flow, QStringLiteral("DTR/STR"), true, flowIs(QSerialPort::HardwareControl));
    row("flow-dtr-str-lower", flow, QStringLiteral("dtr/str"), true, flowIs(QSerialPort::HardwareControl));
    row("flow-dtr-str-mixed", flow, QStringLiteral("Dtr/sTr"), true, flowIs(QSerialPort::HardwareControl));
    row("flow-xonxoff", flow, QStringLiteral("XONXOFF"), true, flowIs(QSerialPort::SoftwareControl));
    row("flow-xon-xoff-lower", flow, QStringLiteral("xon/xoff"), true, flowIs(QSerialPort::SoftwareControl));
    row("flow-off", flow, QStringLiteral("OFF"), true, flowIs(QSerialPort::NoFlowControl));
    row("flow-unlisted-word", flow, QStringLiteral("RTS/CTS"), true, flowIs(QSerialPort::NoFlowControl));
    row("flow-empty", flow, QString(), true, flowIs(QSerialPort::NoFlowControl));

    row("parity-odd", parity, QStringLiteral("ODD"), true, parityIs(QSerialPort::OddParity));
    row("parity-even-lower", parity, QStringLiteral("even"), true, parityIs(QSerialPort::EvenParity));
    row("parity-space-mixed", parity, QStringLiteral("Space"), true, parityIs(QSerialPort::SpaceParity));
    row("parity-none", parity, QStringLiteral("NONE"), true, parityIs(QSerialPort::NoParity));
    row("parity-mark-is-none", parity, QStringLiteral("MARK"), true, parityIs(QSerialPort::NoParity));
    row("parity-mark-lower-is-none", parity, QStringLiteral("mark"), true, parityIs(QSerialPort::NoParity));
    row("parity-unlisted-word", parity, QStringLiteral("O"), true, parityIs(QSerialPort::NoParity));

    row("data-bits-5", data, QStringLiteral("5"), true, dataIs(5));
    row("data-bits-8-int-variant", data, 8, true, dataIs(8));
    row("data-bits-not-a-number", data, QStringLiteral("eight"), true, dataIs(0));
    row("data-bits-outside-enumeration", data, QStringLiteral("16"), true, dataIs(16));
    row("data-bits-largest-number", data, QStringLiteral("4294967295"), true, dataIs(-1));

    row("stop-bit-1", stop, QStringLiteral("1"), true, stopIs(1));
    row("stop-bit-2", stop, QStringLiteral("2"), true, stopIs(2));
    row("stop-bit-3-one-and-half", stop, QStringLiteral("3"), true, stopIs(3));
    row("stop-bit-4-keeps-low-bits", stop, QStringLiteral("4"), true, stopIs(0));
    row("stop-bit-6-keeps-low-bits", stop, QStringLiteral("6"), true, stopIs(2));
    row("stop-bit-7-keeps-low-bits", stop, QStringLiteral("7"), true, stopIs(3));
    row("stop-bit-not-a-number", stop, QStringLiteral("two"), true, stopIs(0));

    row("unknown-key", QStringLiteral("speed"), QStringLiteral("9600"), false, nullptr);
    row("key-in-other-case", QStringLiteral("BaudRate"), QStringLiteral("9600"), false, nullptr);
    row("missing-key", QString(), QStringLiteral("9600"), false, nullptr);
}

void tst_RS232Settings::setValueAppliesRecord()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, result);
    QFETCH(PortSettings, expected);

    RS232Settings settings(section);
    settings.setPortSettings(base());
    QVariantMap r = record(section, key, value);
    if (key.isEmpty())
        r.remove(QStringLiteral("key"));
    if (!value.isValid())
        r.remove(QStringLiteral("value"));
    QCOMPARE(settings.setValue(r), result);
    QCOMPARE(settings.portSettings(), expected);
}

void tst_RS232Settings::setValueIgnoresOtherGroups_data()
{
    QTest::addColumn<QVariantMap>("record");
    QTest::addColumn<bool>("result");

    const QString key = QStringLiteral("portName");
    const QString value = QStringLiteral("COM9");
    QTest::newRow("same-group") << record(section, key, value) << true;
    QTest::newRow("other-group") << record(QStringLiteral("Printer"), key, value) << false;
    QTest::newRow("group-in-other-case") << record(section.toUpper(), key, value) << false;
    QTest::newRow("empty-group") << record(QString(), key, value) << false;
    QVariantMap noGroup = record(section, key, value);
    noGroup.remove(QStringLiteral("group"));
    QTest::newRow("missing-group") << noGroup << false;
    QTest::newRow("empty-record") << QVariantMap() << false;
}

void tst_RS232Settings::setValueIgnoresOtherGroups()
{
    QFETCH(QVariantMap, record);
    QFETCH(bool, result);

    RS232Settings settings(section);
    settings.setPortSettings(base());
    QCOMPARE(settings.setValue(record), result);
    QCOMPARE(settings.portName(), result ? QStringLiteral("COM9") : QStringLiteral("base"));
}

void tst_RS232Settings::toListWritesRecords()
{
    RS232Settings settings(section);
    settings.setPortSettings(::settings(QStringLiteral("COM4"), 57600, QSerialPort::Data7,
                                        QSerialPort::EvenParity, QSerialPort::TwoStop,
                                        QSerialPort::HardwareControl));
    const QList<QVariant> expected = {
        record(section, QStringLiteral("portName"), QStringLiteral("COM4")),
        record(section, QStringLiteral("baudrate"), 57600),
        record(section, QStringLiteral("flowControl"), QStringLiteral("HARDWARE")),
        record(section, QStringLiteral("parity"), QStringLiteral("EVEN")),
        record(section, QStringLiteral("dataBits"), 7),
        record(section, QStringLiteral("stopBit"), 2),
    };
    const QList<QVariant> records = settings.toList();
    QCOMPARE(records, expected);
    // Numbers are written as numbers, words as strings.
    QCOMPARE(records.at(1).toMap().value(QStringLiteral("value")).userType(), int(QMetaType::Int));
    QCOMPARE(records.at(2).toMap().value(QStringLiteral("value")).userType(), int(QMetaType::QString));
}

void tst_RS232Settings::toListWords_data()
{
    QTest::addColumn<int>("flowControl");
    QTest::addColumn<QString>("flowWord");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("parityWord");

    QTest::newRow("none-none") << int(QSerialPort::NoFlowControl) << "OFF" << int(QSerialPort::NoParity) << "NONE";
    QTest::newRow("hardware-even") << int(QSerialPort::HardwareControl) << "HARDWARE"
                                   << int(QSerialPort::EvenParity) << "EVEN";
    QTest::newRow("software-odd") << int(QSerialPort::SoftwareControl) << "XON/XOFF"
                                  << int(QSerialPort::OddParity) << "ODD";
    QTest::newRow("none-space") << int(QSerialPort::NoFlowControl) << "OFF" << int(QSerialPort::SpaceParity)
                                << "SPACE";
    QTest::newRow("none-mark-as-none") << int(QSerialPort::NoFlowControl) << "OFF"
                                       << int(QSerialPort::MarkParity) << "NONE";
    QTest::newRow("unknown-values") << -1 << "OFF" << -1 << "NONE";
}

void tst_RS232Settings::toListWords()
{
    QFETCH(int, flowControl);
    QFETCH(QString, flowWord);
    QFETCH(int, parity);
    QFETCH(QString, parityWord);

    RS232Settings settings(section);
    settings.setFlowControl(static_cast<QSerialPort::FlowControl>(flowControl));
    settings.setParityType(static_cast<QSerialPort::Parity>(parity));
    const QList<QVariant> records = settings.toList();
    QCOMPARE(records.size(), 6);
    QCOMPARE(records.at(2).toMap(), record(section, QStringLiteral("flowControl"), flowWord));
    QCOMPARE(records.at(3).toMap(), record(section, QStringLiteral("parity"), parityWord));
}

void tst_RS232Settings::roundTrip_data()
{
    QTest::addColumn<PortSettings>("original");
    QTest::addColumn<PortSettings>("expected");

    const QList<QSerialPort::Parity> parities = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                 QSerialPort::OddParity, QSerialPort::SpaceParity,
                                                 QSerialPort::MarkParity};
    const QList<QSerialPort::FlowControl> flows = {QSerialPort::NoFlowControl, QSerialPort::HardwareControl,
                                                   QSerialPort::SoftwareControl};
    const QList<QSerialPort::StopBits> stops = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                QSerialPort::TwoStop};
    const QList<QSerialPort::DataBits> dataBits = {QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7,
                                                   QSerialPort::Data8};
    const QList<qint32> bauds = {1200, 9600, 115200, 921600};
    int i = 0;
    for (const QSerialPort::Parity parity : parities) {
        for (const QSerialPort::FlowControl flow : flows) {
            for (const QSerialPort::StopBits stop : stops) {
                // Data bits and baud rate vary with the row instead of multiplying the rows.
                const QSerialPort::DataBits data = dataBits.at(i % dataBits.size());
                const qint32 baud = bauds.at(i % bauds.size());
                ++i;
                const PortSettings original = settings(QStringLiteral("/dev/ttyUSB%1").arg(i), baud, data,
                                                       parity, stop, flow);
                PortSettings expected = original;
                if (parity == QSerialPort::MarkParity)
                    expected.setParity(QSerialPort::NoParity);
                const QByteArray tag = QByteArray("parity") + QByteArray::number(int(parity)) + "-flow"
                                       + QByteArray::number(int(flow)) + "-stop" + QByteArray::number(int(stop));
                QTest::newRow(tag.constData()) << original << expected;
            }
        }
    }
    QTest::newRow("defaults") << PortSettings() << PortSettings();
}

void tst_RS232Settings::roundTrip()
{
    QFETCH(PortSettings, original);
    QFETCH(PortSettings, expected);

    RS232Settings source(section);
    source.setPortSettings(original);
    RS232Settings target(section);
    target.setPortSettings(base());
    target.setList(source.toList());
    QCOMPARE(target.portSettings(), expected);
}

void tst_RS232Settings::setListAppliesInOrderAndSkipsForeignRecords()
{
    RS232Settings settings(section);
    settings.setList({
        record(section, QStringLiteral("portName"), QStringLiteral("first")),
        record(QStringLiteral("Printer"), QStringLiteral("baudrate"), QStringLiteral("1200")),
        QVariant(42),
        QVariant(),
        record(section, QStringLiteral("nonsense"), QStringLiteral("1")),
        record(section, QStringLiteral("portName"), QStringLiteral("second")),
        record(section, QStringLiteral("parity"), QStringLiteral("odd")),
    });
    PortSettings expected;
    expected.setPortName(QStringLiteral("second"));
    expected.setParity(QSerialPort::OddParity);
    QCOMPARE(settings.portSettings(), expected);

    settings.setList({});
    QCOMPARE(settings.portSettings(), expected);
}

void tst_RS232Settings::setSectionChangesAcceptedGroup()
{
    RS232Settings settings(section);
    settings.setSection(QStringLiteral("Printer"));
    QCOMPARE(settings.section(), QStringLiteral("Printer"));
    QVERIFY(!settings.setValue(record(section, QStringLiteral("portName"), QStringLiteral("COM1"))));
    QVERIFY(settings.setValue(record(QStringLiteral("Printer"), QStringLiteral("portName"), QStringLiteral("COM2"))));
    QCOMPARE(settings.toList().first().toMap().value(QStringLiteral("group")).toString(), QStringLiteral("Printer"));
    QCOMPARE(settings.portName(), QStringLiteral("COM2"));
}

QTEST_GUILESS_MAIN(tst_RS232Settings)
#include "tst_rs232settings.moc"
