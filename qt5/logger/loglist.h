#ifndef ORVELEXTLIB_LOGLIST_H
#define ORVELEXTLIB_LOGLIST_H

#include <orvelextlib_export.h>

#include <QDebug>
#include <QStringList>
#include <QTextStream>

/// A list of strings written one per indented line inside a log entry.
class ORVELEXTLIB_EXPORT loglist
{
public:
    /// Holds a copy of `lines`.
    explicit loglist(const QStringList &lines);
    /// Copies share the lines; moves swap them.
    ///@{
    loglist(const loglist &other) = default;
    loglist(loglist &&other) noexcept;
    loglist &operator=(const loglist &other) = default;
    loglist &operator=(loglist &&other) noexcept;
    ///@}

    /// The strings, in order.
    QStringList lines() const { return m_lines; }

private:
    QStringList m_lines;
};

/// For each string: logtab, then the string. An empty list writes nothing.
ORVELEXTLIB_EXPORT QTextStream &operator<<(QTextStream &stream, const loglist &list);
/// The same text between double quotes, unescaped.
ORVELEXTLIB_EXPORT QDebug operator<<(QDebug debug, const loglist &list);

#endif // ORVELEXTLIB_LOGLIST_H
