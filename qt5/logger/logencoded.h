#ifndef ORVELEXTLIB_LOGENCODED_H
#define ORVELEXTLIB_LOGENCODED_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QDebug>
#include <QTextStream>

/// Text in a given encoding, decoded for a log entry. Multi-line text is
/// written one indented line per line. A null codec means "System"; an unknown
/// codec name falls back to the system locale's codec.
class ORVELEXTLIB_EXPORT logencoded
{
public:
    /// Holds a copy of `data`, text in the codec named `codec`.
    logencoded(const QByteArray &data, const char *codec);
    /// A null text gives an empty array.
    logencoded(const char *text, const char *codec);
    /// Copies share the data; moves swap it.
    ///@{
    logencoded(const logencoded &other) = default;
    logencoded(logencoded &&other) noexcept;
    logencoded &operator=(const logencoded &other) = default;
    logencoded &operator=(logencoded &&other) noexcept;
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

/// The decoded text with "\r\n" turned into "\n": on the current line when
/// it has no line break, else each line on a new indented line.
ORVELEXTLIB_EXPORT QTextStream &operator<<(QTextStream &stream, const logencoded &text);
/// The same text between double quotes, unescaped.
ORVELEXTLIB_EXPORT QDebug operator<<(QDebug debug, const logencoded &text);

#endif // ORVELEXTLIB_LOGENCODED_H
