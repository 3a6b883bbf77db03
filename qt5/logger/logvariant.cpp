#include "logvariant.h"

#include "loglist.h"

#include <QJsonDocument>

logvariant::logvariant(const QVariant &value)
    : m_value(value)
{
}

logvariant::logvariant(logvariant &&other) noexcept
{
    m_value.swap(other.m_value);
}

logvariant &logvariant::operator=(logvariant &&other) noexcept
{
    m_value.swap(other.m_value);
    return *this;
}

namespace {
// The JSON lines of the value; a single empty line when it gives no document.
QStringList jsonLines(const QVariant &value)
{
    const QJsonDocument document = QJsonDocument::fromVariant(value);
    if (document.isNull())
        return QStringList(QString());
    const QByteArray json = document.toJson();
    return QString::fromUtf8(json.constData(), static_cast<int>(qstrnlen(json.constData(), json.size())))
        .split(QLatin1Char('\n'), Qt::KeepEmptyParts);
}
} // namespace

QTextStream &operator<<(QTextStream &stream, const logvariant &value)
{
    return stream << loglist(jsonLines(value.value()));
}

QDebug operator<<(QDebug debug, const logvariant &value)
{
    return debug << loglist(jsonLines(value.value()));
}
