#ifndef ORVELEXTLIB_LOGVARIANT_H
#define ORVELEXTLIB_LOGVARIANT_H

#include <orvelextlib_export.h>

#include <QDebug>
#include <QTextStream>
#include <QVariant>

/// A map, list or string list shown as indented JSON, one indented line per
/// JSON line. Anything else writes one empty indented line.
class ORVELEXTLIB_EXPORT logvariant
{
public:
    explicit logvariant(const QVariant &value);
    logvariant(const logvariant &other) = default;
    logvariant(logvariant &&other) noexcept;
    logvariant &operator=(const logvariant &other) = default;
    logvariant &operator=(logvariant &&other) noexcept;

    QVariant value() const { return m_value; }

private:
    QVariant m_value;
};

ORVELEXTLIB_EXPORT QTextStream &operator<<(QTextStream &stream, const logvariant &value);
ORVELEXTLIB_EXPORT QDebug operator<<(QDebug debug, const logvariant &value);

#endif // ORVELEXTLIB_LOGVARIANT_H
