#ifndef ORVELEXTLIB_IRS232SETTINGS_H
#define ORVELEXTLIB_IRS232SETTINGS_H

#include <orvelextlib_export.h>
#include <serial/portsettings.h>

#include <QSerialPort>
#include <QString>

/// The settings of one serial port, as a host's port code reads and changes
/// them. Implementations decide where the settings come from.
class ORVELEXTLIB_EXPORT IRs232Settings
{
public:
    /// Implementations are deleted through this interface.
    virtual ~IRs232Settings() = default;

    /// The port's name (for example COM1); empty when none is configured.
    ///@{
    virtual QString portName() const = 0;
    virtual void setPortName(const QString &portName) = 0;
    ///@}
    /// The baud rate; a value outside the enumeration is kept as given.
    ///@{
    virtual QSerialPort::BaudRate baudrate() const = 0;
    virtual void setBaudrate(QSerialPort::BaudRate baudrate) = 0;
    ///@}
    /// The flow control.
    ///@{
    virtual QSerialPort::FlowControl flowControl() const = 0;
    virtual void setFlowControl(QSerialPort::FlowControl flowControl) = 0;
    ///@}
    /// The parity.
    ///@{
    virtual QSerialPort::Parity parityType() const = 0;
    virtual void setParityType(QSerialPort::Parity parity) = 0;
    ///@}
    /// The number of data bits.
    ///@{
    virtual QSerialPort::DataBits dataBits() const = 0;
    virtual void setDataBitsType(QSerialPort::DataBits dataBits) = 0;
    ///@}
    /// The stop bits.
    ///@{
    virtual QSerialPort::StopBits stopBits() const = 0;
    virtual void setStopBits(QSerialPort::StopBits stopBits) = 0;
    ///@}
    /// All six settings at once, as a copy; setting replaces them whole.
    ///@{
    virtual PortSettings portSettings() const = 0;
    virtual void setPortSettings(const PortSettings &settings) = 0;
    ///@}
};

#endif // ORVELEXTLIB_IRS232SETTINGS_H
