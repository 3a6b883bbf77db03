#ifndef ORVELEXTLIB_RS232SETTINGS_H
#define ORVELEXTLIB_RS232SETTINGS_H

#include <orvelextlib_export.h>
#include <serial/irs232settings.h>
#include <serial/portsettings.h>

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

/// The settings of the serial port configured in one named section, kept as a
/// PortSettings and exchanged with a configuration store as records.
///
/// A record is a QMap with the entries "group" (the section name), "key" (one
/// of the key constants below) and "value". Flow control is written as
/// "HARDWARE", "XON/XOFF" or "OFF"; parity as "EVEN", "ODD", "SPACE" or
/// "NONE" (mark parity has no word and is written as "NONE").
class ORVELEXTLIB_EXPORT RS232Settings : public IRs232Settings
{
public:
    static const QString PORT_NAME;         ///< "portName"
    static const QString PORT_BAUDRATE;     ///< "baudrate"
    static const QString PORT_FLOW_CONTROL; ///< "flowControl"
    static const QString PORT_PARITY;       ///< "parity"
    static const QString PORT_DATABITS;     ///< "dataBits"
    static const QString PORT_STOPBIT;      ///< "stopBit"

    /// Settings of the section `section`, at the PortSettings defaults.
    explicit RS232Settings(const QString &section);
    /// Out of line, so the class's vtable and destructor stay in the library.
    ~RS232Settings() override;

    /// The section name that records must carry in "group".
    ///@{
    QString section() const { return m_section; }
    void setSection(const QString &section) { m_section = section; }
    ///@}

    /// The IRs232Settings operations, on the held PortSettings.
    ///@{
    QString portName() const override;
    void setPortName(const QString &portName) override;
    QSerialPort::BaudRate baudrate() const override;
    void setBaudrate(QSerialPort::BaudRate baudrate) override;
    QSerialPort::FlowControl flowControl() const override;
    void setFlowControl(QSerialPort::FlowControl flowControl) override;
    QSerialPort::Parity parityType() const override;
    void setParityType(QSerialPort::Parity parity) override;
    QSerialPort::DataBits dataBits() const override;
    void setDataBitsType(QSerialPort::DataBits dataBits) override;
    QSerialPort::StopBits stopBits() const override;
    void setStopBits(QSerialPort::StopBits stopBits) override;
    PortSettings portSettings() const override;
    void setPortSettings(const PortSettings &settings) override;
    ///@}

    /// The six records, in the order port name, baud rate, flow control,
    /// parity, data bits, stop bits.
    QList<QVariant> toList() const;
    /// Applies every element (as a QVariantMap) through setValue(), in order;
    /// records for other sections or unknown keys are skipped.
    void setList(const QList<QVariant> &records);
    /// Applies one record. Returns false, changing nothing, when its "group"
    /// is missing or names another section, or its "key" is unknown. Words
    /// are matched in any letter case; numbers that do not parse give 0.
    bool setValue(const QMap<QString, QVariant> &record);

private:
    QString m_section;
    PortSettings m_settings;
};

#endif // ORVELEXTLIB_RS232SETTINGS_H
