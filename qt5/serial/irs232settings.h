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
    virtual ~IRs232Settings() = default;

    virtual QString portName() const = 0;
    virtual void setPortName(const QString &portName) = 0;
    virtual QSerialPort::BaudRate baudrate() const = 0;
    virtual void setBaudrate(QSerialPort::BaudRate baudrate) = 0;
    virtual QSerialPort::FlowControl flowControl() const = 0;
    virtual void setFlowControl(QSerialPort::FlowControl flowControl) = 0;
    virtual QSerialPort::Parity parityType() const = 0;
    virtual void setParityType(QSerialPort::Parity parity) = 0;
    virtual QSerialPort::DataBits dataBits() const = 0;
    virtual void setDataBitsType(QSerialPort::DataBits dataBits) = 0;
    virtual QSerialPort::StopBits stopBits() const = 0;
    virtual void setStopBits(QSerialPort::StopBits stopBits) = 0;
    virtual PortSettings portSettings() const = 0;
    virtual void setPortSettings(const PortSettings &settings) = 0;
};

#endif // ORVELEXTLIB_IRS232SETTINGS_H
