#include "rs232settings.h"

const QString RS232Settings::PORT_NAME = QStringLiteral("portName");
const QString RS232Settings::PORT_BAUDRATE = QStringLiteral("baudrate");
const QString RS232Settings::PORT_FLOW_CONTROL = QStringLiteral("flowControl");
const QString RS232Settings::PORT_PARITY = QStringLiteral("parity");
const QString RS232Settings::PORT_DATABITS = QStringLiteral("dataBits");
const QString RS232Settings::PORT_STOPBIT = QStringLiteral("stopBit");

namespace {
// The entries of one record.
const QString GroupEntry = QStringLiteral("group");
const QString KeyEntry = QStringLiteral("key");
const QString ValueEntry = QStringLiteral("value");

QVariant record(const QString &group, const QString &key, const QVariant &value)
{
    QMap<QString, QVariant> map;
    map.insert(GroupEntry, group);
    map.insert(KeyEntry, key);
    map.insert(ValueEntry, value);
    return map;
}

QString flowControlWord(QSerialPort::FlowControl flowControl)
{
    switch (flowControl) {
    case QSerialPort::HardwareControl:
        return QStringLiteral("HARDWARE");
    case QSerialPort::SoftwareControl:
        return QStringLiteral("XON/XOFF");
    default:
        return QStringLiteral("OFF");
    }
}

QSerialPort::FlowControl flowControlFromWord(const QString &word)
{
    const QString upper = word.toUpper();
    if (upper == QLatin1String("HARDWARE") || upper == QLatin1String("DTR/STR"))
        return QSerialPort::HardwareControl;
    if (upper == QLatin1String("XONXOFF") || upper == QLatin1String("XON/XOFF"))
        return QSerialPort::SoftwareControl;
    return QSerialPort::NoFlowControl;
}

// Mark parity has no word of its own and is written as "NONE".
QString parityWord(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return QStringLiteral("EVEN");
    case QSerialPort::OddParity:
        return QStringLiteral("ODD");
    case QSerialPort::SpaceParity:
        return QStringLiteral("SPACE");
    default:
        return QStringLiteral("NONE");
    }
}

QSerialPort::Parity parityFromWord(const QString &word)
{
    const QString upper = word.toUpper();
    if (upper == QLatin1String("ODD"))
        return QSerialPort::OddParity;
    if (upper == QLatin1String("EVEN"))
        return QSerialPort::EvenParity;
    if (upper == QLatin1String("SPACE"))
        return QSerialPort::SpaceParity;
    return QSerialPort::NoParity;
}

// 0 when the text is not an unsigned decimal number.
uint unsignedNumber(const QString &text)
{
    bool ok = false;
    const uint number = text.toUInt(&ok, 10);
    return ok ? number : 0;
}
} // namespace

RS232Settings::RS232Settings(const QString &section)
    : m_section(section)
{
}

RS232Settings::~RS232Settings() = default;

QString RS232Settings::portName() const
{
    return m_settings.portName();
}

void RS232Settings::setPortName(const QString &portName)
{
    m_settings.setPortName(portName);
}

QSerialPort::BaudRate RS232Settings::baudrate() const
{
    return m_settings.baudRate();
}

void RS232Settings::setBaudrate(QSerialPort::BaudRate baudrate)
{
    m_settings.setBaudRate(baudrate);
}

QSerialPort::FlowControl RS232Settings::flowControl() const
{
    return m_settings.flowControl();
}

void RS232Settings::setFlowControl(QSerialPort::FlowControl flowControl)
{
    m_settings.setFlowControl(flowControl);
}

QSerialPort::Parity RS232Settings::parityType() const
{
    return m_settings.parity();
}

void RS232Settings::setParityType(QSerialPort::Parity parity)
{
    m_settings.setParity(parity);
}

QSerialPort::DataBits RS232Settings::dataBits() const
{
    return m_settings.dataBits();
}

void RS232Settings::setDataBitsType(QSerialPort::DataBits dataBits)
{
    m_settings.setDataBits(dataBits);
}

QSerialPort::StopBits RS232Settings::stopBits() const
{
    return m_settings.stopBits();
}

void RS232Settings::setStopBits(QSerialPort::StopBits stopBits)
{
    m_settings.setStopBits(stopBits);
}

PortSettings RS232Settings::portSettings() const
{
    return m_settings;
}

void RS232Settings::setPortSettings(const PortSettings &settings)
{
    m_settings = settings;
}

QList<QVariant> RS232Settings::toList() const
{
    return {
        record(m_section, PORT_NAME, m_settings.portName()),
        record(m_section, PORT_BAUDRATE, static_cast<int>(m_settings.baudRate())),
        record(m_section, PORT_FLOW_CONTROL, flowControlWord(m_settings.flowControl())),
        record(m_section, PORT_PARITY, parityWord(m_settings.parity())),
        record(m_section, PORT_DATABITS, static_cast<int>(m_settings.dataBits())),
        record(m_section, PORT_STOPBIT, static_cast<int>(m_settings.stopBits())),
    };
}

void RS232Settings::setList(const QList<QVariant> &records)
{
    for (const QVariant &entry : records)
        setValue(entry.toMap());
}

bool RS232Settings::setValue(const QMap<QString, QVariant> &record)
{
    const auto group = record.constFind(GroupEntry);
    if (group == record.constEnd() || group->toString() != m_section)
        return false;

    const QString key = record.value(KeyEntry).toString();
    const QString value = record.value(ValueEntry).toString();
    if (key == PORT_NAME)
        m_settings.setPortName(value);
    else if (key == PORT_BAUDRATE)
        m_settings.setBaudRate(static_cast<QSerialPort::BaudRate>(static_cast<qint32>(unsignedNumber(value))));
    else if (key == PORT_FLOW_CONTROL)
        m_settings.setFlowControl(flowControlFromWord(value));
    else if (key == PORT_PARITY)
        m_settings.setParity(parityFromWord(value));
    else if (key == PORT_DATABITS)
        m_settings.setDataBits(static_cast<QSerialPort::DataBits>(unsignedNumber(value)));
    else if (key == PORT_STOPBIT)
        m_settings.setStopBits(static_cast<QSerialPort::StopBits>(unsignedNumber(value) & 0x3u));
    else
        return false;
    return true;
}
