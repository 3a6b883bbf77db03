#include "loglist.h"

#include "logging_p.h"
#include "logtab.h"

loglist::loglist(const QStringList &lines)
    : m_lines(lines)
{
}

loglist::loglist(loglist &&other) noexcept
{
    m_lines.swap(other.m_lines);
}

loglist &loglist::operator=(loglist &&other) noexcept
{
    m_lines.swap(other.m_lines);
    return *this;
}

QTextStream &operator<<(QTextStream &stream, const loglist &list)
{
    for (const QString &line : list.lines())
        stream << logtab << line;
    return stream;
}

QDebug operator<<(QDebug debug, const loglist &list)
{
    QString text;
    {
        QTextStream stream(&text, QIODevice::ReadWrite);
        stream << list;
    }
    return logQuoted(debug, text);
}
