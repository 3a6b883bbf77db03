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
    /// Holds a copy of `data`; `codec` names the codec of the text column.
    logbinary(const QByteArray &data, const char *codec);
    /// Copies share the data; moves swap it.
    ///@{
    logbinary(const logbinary &other) = default;
    logbinary(logbinary &&other) noexcept;
    logbinary &operator=(const logbinary &other) = default;
    logbinary &operator=(logbinary &&other) noexcept;
    ///@}

    /// The bytes, and the name of the codec they are decoded with.
    ///@{
    QByteArray data() const { return m_data; }
    QByteArray codec() const { return m_codec; }
    ///@}

private:
    QByteArray m_data;
    QByteArray m_codec;
};

/// "Bytearrray size = " and the byte count, then the hex lines, each on a
/// new indented line, with no line end after the last; an empty array gives
/// "Byte array is empty" and a line end instead.
ORVELEXTLIB_EXPORT QTextStream &operator<<(QTextStream &stream, const logbinary &binary);
/// The same text between double quotes, unescaped.
ORVELEXTLIB_EXPORT QDebug operator<<(QDebug debug, const logbinary &binary);

#endif // ORVELEXTLIB_LOGBINARY_H
