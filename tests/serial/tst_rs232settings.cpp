#include <serial/rs232settings.h>

#include <QTest>

namespace {
const QString section = QStringLiteral("Scanner");

QVariantMap record(const QString &key, const QVariant &value, const QString &group = section)
{
    return { { "group", group }, { "key", key }, { "value", value } };
}

PortSettings settings(const QString &name, int baud, int data, int parity, int stop, int flow)
{
    PortSettings s;
    s.setPortName(name);
    s.setBaudRate(QSerialPort::BaudRate(baud));
    s.setDataBits(QSerialPort::DataBits(data));
    s.setParity(QSerialPort::Parity(parity));
    s.setStopBits(QSerialPort::StopBits(stop));
    s.setFlowControl(QSerialPort::FlowControl(flow));
    return s;
}

// Differs from the defaults in every field.
const PortSettings base = settings("base", 4800, 7, 3, 2, 2);
} // namespace

class tst_RS232Settings : public QObject
{
    Q_OBJECT

private slots:
    void portSettingsComparesEveryField()
    {
        QVERIFY(!PortSettings().isValid());
        QCOMPARE(PortSettings(), settings(QString(), 115200, 8, 0, 1, 0));
        QVERIFY(settings("COM1", 0, 0, 0, 0, 0).isValid());
        for (const PortSettings &c :
             { settings("other", 4800, 7, 3, 2, 2), settings("base", 9600, 7, 3, 2, 2),
               settings("base", 4800, 8, 3, 2, 2), settings("base", 4800, 7, 5, 2, 2),
               settings("base", 4800, 7, 3, 3, 2), settings("base", 4800, 7, 3, 2, 1) })
            QVERIFY(c != base && !(c == base));
    }

    void setValue_data()
    {
        QTest::addColumn<QVariantMap>("record");
        QTest::addColumn<bool>("result");
        QTest::addColumn<PortSettings>("expected");
        enum { None = -1, Baud, Data, Parity, Stop, Flow };
        // `base` with one field changed; refused records change nothing.
        const auto row = [](const char *tag, const QVariantMap &record, int field, int value) {
            int f[] = { 4800, 7, 3, 2, 2 };
            if (field != None)
                f[field] = value;
            const PortSettings expected = settings("base", f[0], f[1], f[2], f[3], f[4]);
            QTest::newRow(tag) << record << (field != None) << expected;
        };
        row("baud-hex-is-not-decimal", record("baudrate", "0x2580"), Baud, 0);
        row("flow-dtr-str-mixed", record("flowControl", "Dtr/sTr"), Flow, 1);
        row("flow-xonxoff", record("flowControl", "XONXOFF"), Flow, 2);
        row("flow-unlisted-word", record("flowControl", "RTS/CTS"), Flow, 0);
        row("parity-even-lower", record("parity", "even"), Parity, 2);
        row("parity-mark-is-none", record("parity", "MARK"), Parity, 0);
        row("data-bits-outside-enumeration", record("dataBits", "16"), Data, 16);
        row("data-bits-largest-number", record("dataBits", "4294967295"), Data, -1);
        row("stop-bit-6-keeps-low-bits", record("stopBit", "6"), Stop, 2);
        row("unknown-key", record("speed", "9600"), None, 0);
        row("other-group", record("portName", "COM9", "Printer"), None, 0);
        row("missing-group", { { "key", "portName" }, { "value", "COM9" } }, None, 0);
    }

    void setValue()
    {
        QFETCH(QVariantMap, record);
        QFETCH(bool, result);
        QFETCH(PortSettings, expected);
        RS232Settings settings(section);
        settings.setPortSettings(base);
        QCOMPARE(settings.setValue(record), result);
        QCOMPARE(settings.portSettings(), expected);
    }

    // The six records of toList(), read back by setList() on a second object.
    void records_data()
    {
        QTest::addColumn<PortSettings>("original");
        QTest::addColumn<QString>("flowWord");
        QTest::addColumn<QString>("parityWord");
        const char *const flowWords[] = { "OFF", "HARDWARE", "XON/XOFF" };
        const char *const parityWords[] = { "NONE", "", "EVEN", "ODD", "SPACE", "NONE" };
        int i = 0;
        for (const int parity : { 0, 2, 3, 4, 5 }) {
            for (const int flow : { 0, 1, 2 }) {
                ++i; // the other fields vary with the row instead of multiplying the rows
                const PortSettings s = settings(QStringLiteral("/dev/ttyUSB%1").arg(i), 1200 * i,
                                                5 + i % 4, parity, 1 + i % 3, flow);
                QTest::addRow("parity%d-flow%d", parity, flow)
                    << s << QString(flowWords[flow]) << QString(parityWords[parity]);
            }
        }
    }

    void records()
    {
        QFETCH(PortSettings, original);
        QFETCH(QString, flowWord);
        QFETCH(QString, parityWord);
        RS232Settings source(section), target(section);
        source.setPortSettings(original);
        const QList<QVariant> records = source.toList();
        QCOMPARE(records,
                 QList<QVariant>({ record("portName", original.portName()),
                                   record("baudrate", int(original.baudRate())),
                                   record("flowControl", flowWord), record("parity", parityWord),
                                   record("dataBits", int(original.dataBits())),
                                   record("stopBit", int(original.stopBits())) }));
        QCOMPARE(records.at(1).toMap().value("value").userType(), int(QMetaType::Int));
        // In list order; records of another section and other values are passed over.
        target.setPortSettings(base);
        target.setList(
            QList<QVariant> { record("portName", "first"), record("baudrate", "1", "Printer"), 42 }
            + records);
        PortSettings expected = original;
        if (parityWord == QLatin1String("NONE"))
            expected.setParity(QSerialPort::NoParity); // mark parity has no word of its own
        QCOMPARE(target.portSettings(), expected);
    }
};

QTEST_GUILESS_MAIN(tst_RS232Settings)
#include "tst_rs232settings.moc"
