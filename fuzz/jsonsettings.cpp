// The JSON settings format's read function on arbitrary documents; whatever
// was read and written must read back.
//
// Qt 5.15's JSON parser leaks an object or array member that a later member
// of the same name replaces. Such documents are left out, so that the leak
// checker reports the library's leaks only; the parser hands the library the
// same kind of document either way.
#include "fuzzsupport.h"

#include <qsettingsext/jsonsettings.h>

#include <QBuffer>
#include <QSet>
#include <QVector>

namespace {

// Whether some object repeats a member name (names compared decoded). A
// rough scan: it only has to agree with Qt on the documents Qt accepts.
bool repeatsMemberName(const QByteArray &json)
{
    struct Level
    {
        bool object = false;
        bool expectName = false;
        QSet<QString> names;
    };
    QVector<Level> open;
    const int n = json.size();
    int i = 0;
    while (i < n) {
        const char c = json.at(i);
        if (c == '{' || c == '[') {
            Level level;
            level.object = c == '{';
            level.expectName = level.object;
            open.append(level);
            ++i;
        } else if (c == '}' || c == ']') {
            if (!open.isEmpty())
                open.removeLast();
            ++i;
        } else if (c == ',') {
            if (!open.isEmpty() && open.last().object)
                open.last().expectName = true;
            ++i;
        } else if (c == '"') {
            QString text;
            QByteArray raw;
            ++i;
            while (i < n && json.at(i) != '"') {
                if (json.at(i) != '\\') {
                    raw += json.at(i++);
                    continue;
                }
                text += QString::fromUtf8(raw);
                raw.clear();
                const char e = i + 1 < n ? json.at(i + 1) : '\0';
                i += 2;
                switch (e) {
                case 'b': text += QLatin1Char('\b'); break;
                case 'f': text += QLatin1Char('\f'); break;
                case 'n': text += QLatin1Char('\n'); break;
                case 'r': text += QLatin1Char('\r'); break;
                case 't': text += QLatin1Char('\t'); break;
                case 'u': {
                    bool ok = false;
                    const ushort unit = json.mid(i, 4).toUShort(&ok, 16);
                    text += QChar(unit);
                    i += 4;
                    break;
                }
                default: text += QLatin1Char(e); break;
                }
            }
            text += QString::fromUtf8(raw);
            ++i;
            if (!open.isEmpty() && open.last().object && open.last().expectName) {
                if (open.last().names.contains(text))
                    return true;
                open.last().names.insert(text);
                open.last().expectName = false;
            }
        } else {
            ++i;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    QByteArray json = fuzz::bytes(data, size);
    if (repeatsMemberName(json))
        return 0;
    QBuffer device(&json);
    device.open(QIODevice::ReadOnly);
    QSettings::SettingsMap map;
    if (!JsonSettings::readJsonFile(device, map) || map.isEmpty())
        return 0;

    QByteArray written;
    QBuffer out(&written);
    out.open(QIODevice::WriteOnly);
    // The writer refuses what the reader would refuse; whatever it writes
    // must read back.
    if (!JsonSettings::writeJsonFile(out, map))
        return 0;
    out.close();
    out.open(QIODevice::ReadOnly);
    QSettings::SettingsMap again;
    fuzz::check(JsonSettings::readJsonFile(out, again), "what was read cannot be read back after writing");
    return 0;
}
