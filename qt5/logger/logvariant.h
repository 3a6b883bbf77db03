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
    /// Holds a copy of `value`.
    explicit logvariant(const QVariant &value);
    /// Copies share the value; moves swap it.
    ///@{
    logvariant(const logvariant &other) = default;
    logvariant(logvariant &&other) noexcept;
    logvariant &operator=(const logvariant &other) = default;
    logvariant &operator=(logvariant &&other) noexcept;
    ///@}

    /// The value shown.
    QVariant value() const { return m_value; }

private:
    QVariant m_value;
};

/// The lines of QJsonDocument::toJson() (indented form), each on a new
/// indented line, as a loglist writes them.
ORVELEXTLIB_EXPORT QTextStream &operator<<(QTextStream &stream, const logvariant &value);
/// The same lines as a loglist through QDebug.
ORVELEXTLIB_EXPORT QDebug operator<<(QDebug debug, const logvariant &value);

#endif // ORVELEXTLIB_LOGVARIANT_H
