#ifndef ORVELEXTLIB_PORTSETTINGS_H
#define ORVELEXTLIB_PORTSETTINGS_H

#include <orvelextlib_export.h>

#include <QMetaType>
#include <QSerialPort>
#include <QString>

#include <cstring>

/// How one serial port is to be opened: name, baud rate, data bits, parity,
/// stop bits and flow control, as the QSerialPort enumerations. The values
/// are stored unchanged, so a baud rate outside the enumeration (230400, ...)
/// is kept as given. The library never opens the port itself.
class ORVELEXTLIB_EXPORT PortSettings
{
public:
    /// No port name (so not valid), 115200 baud, 8 data bits, no parity,
    /// one stop bit, no flow control.
    PortSettings() = default;
    /// Copies and moves take all six fields.
    ///@{
    PortSettings(const PortSettings &other) = default;
    PortSettings(PortSettings &&other) noexcept = default;
    PortSettings &operator=(const PortSettings &other) = default;
    PortSettings &operator=(PortSettings &&other) noexcept = default;
    void swap(PortSettings &other) noexcept;
    ///@}
    ~PortSettings() = default;

    /// True when the port name is not empty.
    Q_REQUIRED_RESULT bool isValid() const { return !m_portName.isEmpty(); }

    /// The fields, read and set unchanged.
    ///@{
    QString portName() const { return m_portName; }
    void setPortName(const QString &portName) { m_portName = portName; }

    QSerialPort::BaudRate baudRate() const { return static_cast<QSerialPort::BaudRate>(m_baudRate); }
    void setBaudRate(const QSerialPort::BaudRate &baudRate) { m_baudRate = bitsOf(baudRate); }

    QSerialPort::DataBits dataBits() const { return static_cast<QSerialPort::DataBits>(m_dataBits); }
    void setDataBits(const QSerialPort::DataBits &dataBits) { m_dataBits = bitsOf(dataBits); }

    QSerialPort::Parity parity() const { return static_cast<QSerialPort::Parity>(m_parity); }
    void setParity(const QSerialPort::Parity &parity) { m_parity = bitsOf(parity); }

    QSerialPort::StopBits stopBits() const { return static_cast<QSerialPort::StopBits>(m_stopBits); }
    void setStopBits(const QSerialPort::StopBits &stopBits) { m_stopBits = bitsOf(stopBits); }

    QSerialPort::FlowControl flowControl() const
    {
        return static_cast<QSerialPort::FlowControl>(m_flowControl);
    }
    void setFlowControl(const QSerialPort::FlowControl &flowControl) { m_flowControl = bitsOf(flowControl); }
    ///@}

    /// Compare all six fields.
    ///@{
    bool operator==(const PortSettings &other) const;
    bool operator!=(const PortSettings &other) const { return !(*this == other); }
    ///@}

private:
    // The enumerations do not cover every value a port takes (230400 baud,
    // any parsed number), and reading such a value as the enumeration is
    // undefined: its bits are copied instead.
    template<typename Enum>
    static qint32 bitsOf(const Enum &value)
    {
        static_assert(sizeof(Enum) == sizeof(qint32), "a 32-bit enumeration");
        qint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }

    // Plain integers: records may carry values outside the enumerations
    // (any baud rate, any parsed number), which are kept as they are.
    QString m_portName;
    qint32 m_baudRate = QSerialPort::Baud115200;
    qint32 m_dataBits = QSerialPort::Data8;
    qint32 m_parity = QSerialPort::NoParity;
    qint32 m_stopBits = QSerialPort::OneStop;
    qint32 m_flowControl = QSerialPort::NoFlowControl;
};

/// Swaps two settings (for std::swap and generic code).
inline void swap(PortSettings &a, PortSettings &b) noexcept
{
    a.swap(b);
}

Q_DECLARE_METATYPE(PortSettings)

#endif // ORVELEXTLIB_PORTSETTINGS_H
