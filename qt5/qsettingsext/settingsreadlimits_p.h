#ifndef ORVELEXTLIB_SETTINGSREADLIMITS_P_H
#define ORVELEXTLIB_SETTINGSREADLIMITS_P_H

#include <QString>
#include <QtGlobal>

// Bounds for the readers of the tree-shaped settings formats. A tree repeats
// every group name in the key of each entry below it, so a small crafted file
// could expand into an enormous settings map; these limits keep the map in
// proportion to the file while leaving real stores (a few levels deep, short
// names) far below them.
namespace SettingsReadLimits {

// Deeper nesting is refused; it matches the nesting limit of Qt's JSON parser.
constexpr int MaxDepth = 1024;

// The longest element name, in characters: Qt's XML reader refuses longer
// ones, so the writer must not write them.
constexpr int MaxNameLength = 4096;

// The key characters allowed in a map read from `inputSize` characters of
// input: a fixed allowance for small files plus a multiple of the size.
constexpr qint64 keyBudget(qint64 inputSize)
{
    return (qint64(1) << 22) + 32 * inputSize;
}

// What the readers report, and the writers log, for these limits.
inline QString nestedTooDeeplyText()
{
    return QStringLiteral("Settings nested too deeply");
}

inline QString keysOverLimitText()
{
    return QStringLiteral("Settings keys exceed the size limit");
}

// The number of components of a settings key as the writers split it
// (empty components dropped): the nesting its entry is written at.
inline int keyComponentCount(const QString &key)
{
    int count = 0;
    bool inComponent = false;
    for (const QChar c : key) {
        if (c == QLatin1Char('/')) {
            inComponent = false;
        } else if (!inComponent) {
            inComponent = true;
            ++count;
        }
    }
    return count;
}

} // namespace SettingsReadLimits

#endif // ORVELEXTLIB_SETTINGSREADLIMITS_P_H
