#include "logencoded.h"

#include "logging_p.h"
#include "loglist.h"

#include <memory>

logencoded::logencoded(const QByteArray &data, const char *codec)
    : m_data(data)
    , m_codec(codec ? QByteArray(codec) : QByteArrayLiteral("System"))
{
}

logencoded::logencoded(const char *text, const char *codec)
    : m_data(text ? QByteArray(text) : QByteArray())
    , m_codec(codec ? QByteArray(codec) : QByteArrayLiteral("System"))
{
}

logencoded::logencoded(logencoded &&other) noexcept
{
    m_data.swap(other.m_data);
    m_codec.swap(other.m_codec);
}

logencoded &logencoded::operator=(logencoded &&other) noexcept
{
    m_data.swap(other.m_data);
    m_codec.swap(other.m_codec);
    return *this;
}

QTextStream &operator<<(QTextStream &stream, const logencoded &text)
{
    const std::unique_ptr<QTextDecoder> decoder(logCodec(text.codec())->makeDecoder());
    QString decoded = decoder->toUnicode(text.data());
    // Repeated, so that "\r\r\n" also ends as a single line break.
    while (decoded.contains(QLatin1String("\r\n")))
        decoded.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (!decoded.contains(QLatin1Char('\n')))
        return stream << decoded;
    return stream << loglist(decoded.split(QLatin1Char('\n'), Qt::KeepEmptyParts));
}

QDebug operator<<(QDebug debug, const logencoded &text)
{
    QString out;
    {
        QTextStream stream(&out, QIODevice::WriteOnly);
        stream << text;
    }
    return logQuoted(debug, out);
}
