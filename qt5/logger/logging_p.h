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
    const bool spaced = debug.autoInsertSpaces();
    {
        const QDebugStateSaver saver(debug);
        debug.nospace().noquote() << '"' << text << '"';
        // The saver writes a blank of its own when it turns spacing back on;
        // turning it on here leaves the one blank to maybeSpace().
        debug.setAutoInsertSpaces(spaced);
    }
    return debug.maybeSpace();
}

#endif // ORVELEXTLIB_LOGGING_P_H
