// Serial settings: a port configured in code, written as records and read
// back into a second object, as a configuration store would.

#include "demos.h"

#include <orvelextlib.h>

bool demoSerial(DemoContext &ctx)
{
    RS232Settings scanner(QStringLiteral("Scanner"));
    scanner.setPortName(QStringLiteral("/dev/ttyUSB0"));
    scanner.setBaudrate(QSerialPort::Baud9600);
    scanner.setDataBitsType(QSerialPort::Data7);
    scanner.setParityType(QSerialPort::EvenParity);
    scanner.setStopBits(QSerialPort::OneStop);
    scanner.setFlowControl(QSerialPort::HardwareControl);

    const QList<QVariant> records = scanner.toList();
    for (const QVariant &record : records) {
        const QVariantMap map = record.toMap();
        ctx.out << "   " << map.value(QStringLiteral("group")).toString() << '/'
                << map.value(QStringLiteral("key")).toString() << " = "
                << map.value(QStringLiteral("value")).toString() << Qt::endl;
    }

    RS232Settings restored(QStringLiteral("Scanner"));
    restored.setList(records);
    // A hand-edited record: words are read in any letter case.
    restored.setValue({{QStringLiteral("group"), QStringLiteral("Scanner")},
                       {QStringLiteral("key"), RS232Settings::PORT_FLOW_CONTROL},
                       {QStringLiteral("value"), QStringLiteral("xon/xoff")}});
    PortSettings expected = scanner.portSettings();
    expected.setFlowControl(QSerialPort::SoftwareControl);
    const bool same = restored.portSettings() == expected;
    ctx.out << "   read back, flow control edited to \"xon/xoff\": "
            << (same ? "settings match" : "settings DIFFER") << Qt::endl;
    return same;
}
