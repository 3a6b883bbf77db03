#ifndef ORVELEXTLIB_LOGBINARY_H
#define ORVELEXTLIB_LOGBINARY_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QDebug>
#include <QTextStream>

/// Binary data as a hex dump for a log entry: 16 bytes per indented line, the
/// text column 54 characters after the hex digits, control bytes shown as ".".
/// A null codec means "System"; an unknown codec name falls back to the
/// system locale's codec.
class ORVELEXTLIB_EXPORT logbinary
{
public:
    logbinary(const QByteArray &data, const char *codec);
    logbinary(const logbinary &other) = default;
    logbinary(logbinary &&other) noexcept;
    logbinary &operator=(const logbinary &other) = default;
    logbinary &operator=(logbinary &&other) noexcept;

    QByteArray data() const { return m_data; }
    QByteArray codec() const { return m_codec; }

private:
    QByteArray m_data;
    QByteArray m_codec;
};

ORVELEXTLIB_EXPORT QTextStream &operator<<(QTextStream &stream, const logbinary &binary);
ORVELEXTLIB_EXPORT QDebug operator<<(QDebug debug, const logbinary &binary);

#endif // ORVELEXTLIB_LOGBINARY_H
