#ifndef ORVELEXTLIB_LOGGING_P_H
#define ORVELEXTLIB_LOGGING_P_H

#include <QDebug>
#include <QString>
#include <QTextCodec>

// Shared by the log helpers: the indentation of continuation lines, the codec
// lookup with its fallback, and the QDebug form of a formatted text.

// Static text: still usable by messages logged while the process exits.
inline const QString &logIndent()
{
    static const QString indent = QStringLiteral("               ");
    return indent;
}

// An unknown codec name falls back to the codec of the system locale.
inline QTextCodec *logCodec(const QByteArray &name)
{
    QTextCodec *codec = QTextCodec::codecForName(name);
    return codec ? codec : QTextCodec::codecForLocale();
}

// Writes the text between double quotes, unescaped, then a blank when the
// QDebug inserts spaces automatically.
inline QDebug logQuoted(QDebug debug, const QString &text)
{
    {
        const QDebugStateSaver saver(debug);
        debug.nospace().noquote() << '"' << text << '"';
    }
    return debug.maybeSpace();
}

#endif // ORVELEXTLIB_LOGGING_P_H
