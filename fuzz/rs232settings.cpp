// RS232Settings::setValue and setList on arbitrary records: any group, key
// and value text. What toList() writes reads back into the same settings
// (numbers below 2^31).
//
// Input: records separated by NUL bytes, each "group\x1fkey\x1fvalue"; the
// section is "Port".
#include "fuzzsupport.h"

#include <serial/rs232settings.h>

#include <QVariantMap>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QString section = QStringLiteral("Port");
    RS232Settings settings(section);
    QList<QVariant> records;
    for (const QByteArray &chunk : fuzz::bytes(data, size).split('\0')) {
        const QList<QByteArray> parts = chunk.split('\x1f');
        QVariantMap record;
        if (parts.size() > 0)
            record.insert(QStringLiteral("group"), QString::fromUtf8(parts.at(0)));
        if (parts.size() > 1)
            record.insert(QStringLiteral("key"), QString::fromUtf8(parts.at(1)));
        if (parts.size() > 2)
            record.insert(QStringLiteral("value"), QString::fromUtf8(parts.at(2)));
        (void)settings.setValue(record);
        records.append(record);
    }
    RS232Settings listed(section);
    listed.setList(records);
    fuzz::check(listed.portSettings() == settings.portSettings(), "setList differs from setValue in turn");

    (void)settings.portSettings().isValid();
    // Numbers are read as unsigned and written as signed: only those below
    // 2^31 come back.
    if (int(settings.baudrate()) < 0 || int(settings.dataBits()) < 0)
        return 0;
    RS232Settings copy(section);
    copy.setList(settings.toList());
    PortSettings expected = settings.portSettings();
    if (int(expected.parity()) == int(QSerialPort::MarkParity) || int(expected.parity()) == 1
        || int(expected.parity()) < 0 || int(expected.parity()) > 5)
        expected.setParity(QSerialPort::NoParity);
    if (int(expected.flowControl()) != int(QSerialPort::HardwareControl)
        && int(expected.flowControl()) != int(QSerialPort::SoftwareControl))
        expected.setFlowControl(QSerialPort::NoFlowControl);
    expected.setStopBits(QSerialPort::StopBits(int(expected.stopBits()) & 3));
    fuzz::check(copy.portSettings() == expected, "toList does not read back");
    return 0;
}
