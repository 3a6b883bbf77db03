#include "logbinary.h"

#include "logging_p.h"
#include "logtab.h"

#include <QObject>

#include <memory>

logbinary::logbinary(const QByteArray &data, const char *codec)
    : m_data(data)
    , m_codec(codec ? QByteArray(codec) : QByteArrayLiteral("System"))
{
}

logbinary::logbinary(logbinary &&other) noexcept
{
    m_data.swap(other.m_data);
    m_codec.swap(other.m_codec);
}

logbinary &logbinary::operator=(logbinary &&other) noexcept
{
    m_data.swap(other.m_data);
    m_codec.swap(other.m_codec);
    return *this;
}

QTextStream &operator<<(QTextStream &stream, const logbinary &binary)
{
    static const char digits[] = "0123456789abcdef";
    const QByteArray &data = binary.data();
    // One decoder for all lines, so a character split between lines still decodes.
    const std::unique_ptr<QTextDecoder> decoder(logCodec(binary.codec())->makeDecoder());

    // Decimal whatever number base the caller left the stream in.
    stream << QObject::tr("Bytearrray size = ") << QString::number(data.size()) << logtab;
    if (data.isEmpty()) {
        stream << QObject::tr("Byte array is empty") << Qt::endl;
        return stream;
    }

    for (int start = 0; start < data.size(); start += 16) {
        const int n = qMin(16, data.size() - start);
        QString line;
        line.reserve(54 + n);
        QByteArray text(data.constData() + start, n);
        for (int i = 0; i < n; ++i) {
            const auto byte = static_cast<unsigned char>(text.at(i));
            line += QLatin1Char(digits[byte >> 4]);
            line += QLatin1Char(digits[byte & 0xf]);
            line += QLatin1Char(' ');
            if (i == 7 || i == 15)
                line += QLatin1String("   ");
            if (byte <= 0x1f)
                text[i] = '.';
        }
        const int padding = n <= 7 ? 30 + 3 * (8 - n) : (n < 16 ? 3 * (17 - n) : 0);
        line += QString(padding, QLatin1Char(' '));
        line += decoder->toUnicode(text);
        if (start > 0)
            stream << logtab;
        stream << line;
    }
    return stream;
}

QDebug operator<<(QDebug debug, const logbinary &binary)
{
    QString out;
    {
        QTextStream stream(&out, QIODevice::WriteOnly);
        stream << binary;
    }
    return logQuoted(debug, out);
}
