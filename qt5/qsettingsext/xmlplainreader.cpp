#include "xmlplainreader_p.h"

#include "settingsreadlimits_p.h"
#include "xmlnamecodec_p.h"

#include <QString>
#include <cstring>
#include <vector>

namespace {
const char Declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const QLatin1String RootName("xml-settings");

// A stretch of character data between two tags.
struct Run
{
    const char *begin = nullptr;
    const char *end = nullptr;
    bool ascii = true;  // neither entities nor multi-byte characters
};

struct OpenElement
{
    const char *name = nullptr;
    int nameLength = 0;
    int keyLength = 0;
    bool hasChildren = false;
    Run text;      // the text of an element without children (it has one run at most)
    Run lastText;  // the last run that is not white space only
};

bool isNameStart(uchar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isNameChar(uchar c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The length of the UTF-8 sequence at `p` when it encodes a character that
// XML allows, else 0 (malformed or overlong sequences, surrogates, U+FFFE,
// U+FFFF).
int utf8Length(const uchar *p, const uchar *end)
{
    const uchar c = p[0];
    auto continuation = [&](int i) { return end - p > i && (p[i] & 0xC0) == 0x80; };
    if (c < 0xC2)
        return 0;
    if (c < 0xE0)
        return continuation(1) ? 2 : 0;
    if (c < 0xF0) {
        if (!continuation(1) || !continuation(2))
            return 0;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))
            return 0;
        if (c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE)
            return 0;
        return 3;
    }
    if (c < 0xF5) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

// The length of a predefined entity at `p` (which points at "&") and its
// character, or 0.
int entityLength(const char *p, const char *end, QChar *character)
{
    static const struct
    {
        const char *text;
        int length;
        char character;
    } entities[] = {{"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''}};
    for (const auto &entity : entities) {
        if (end - p >= entity.length && std::memcmp(p, entity.text, size_t(entity.length)) == 0) {
            *character = QLatin1Char(entity.character);
            return entity.length;
        }
    }
    return 0;
}

// Checks a run of text; false when it leaves the plain form. `blank` tells
// whether it is white space only.
bool scanRun(Run &run, bool *blank)
{
    *blank = true;
    for (const char *p = run.begin; p < run.end;) {
        const uchar c = uchar(*p);
        if (c >= 0x80) {
            const int length = utf8Length(reinterpret_cast<const uchar *>(p),
                                          reinterpret_cast<const uchar *>(run.end));
            if (length == 0)
                return false;
            run.ascii = false;
            *blank = false;
            p += length;
            continue;
        }
        if (c == '&') {
            QChar character;
            const int length = entityLength(p, run.end, &character);
            if (length == 0)
                return false;
            run.ascii = false;
            *blank = false;
            p += length;
            continue;
        }
        // Carriage returns would need line-end normalisation; "]]>" is not
        // allowed in character data.
        if ((c < 0x20 && c != '\t' && c != '\n') || (c == '>' && p - run.begin >= 2 && p[-1] == ']' && p[-2] == ']'))
            return false;
        if (c != ' ' && c != '\t' && c != '\n')
            *blank = false;
        ++p;
    }
    return true;
}

QString decodeRun(const Run &run)
{
    if (!run.begin)
        return QString();
    if (run.ascii)
        return QString::fromLatin1(run.begin, int(run.end - run.begin));
    QString text;
    const char *segment = run.begin;
    for (const char *p = run.begin; p < run.end;) {
        if (*p != '&') {
            ++p;
            continue;
        }
        text.append(QString::fromUtf8(segment, int(p - segment)));
        QChar character;
        p += entityLength(p, run.end, &character);
        text.append(character);
        segment = p;
    }
    text.append(QString::fromUtf8(segment, int(run.end - segment)));
    return text;
}

void appendComponent(QString &key, const char *name, int length)
{
    if (!key.isEmpty())
        key.append(QLatin1Char('/'));
    const QLatin1String latin(name, length);
    if (latin.indexOf(QLatin1String("_x")) < 0)
        key.append(latin);
    else
        XmlNameCodec::appendDecoded(key, QString(latin));
}
} // namespace

bool XmlPlainReader::read(const QByteArray &xml, QSettings::SettingsMap &result)
{
    const int declarationLength = int(sizeof(Declaration) - 1);
    if (!xml.startsWith(QByteArray::fromRawData(Declaration, declarationLength)))
        return false;
    const char *const begin = xml.constData();
    const char *const end = begin + xml.size();
    const char *p = begin + declarationLength;

    QSettings::SettingsMap map;
    QString key;
    std::vector<OpenElement> open;
    open.reserve(16);
    qint64 keyCharacters = 0;
    bool rootClosed = false;

    auto closeElement = [&]() {
        const OpenElement &element = open.back();
        const Run *value = element.hasChildren ? (element.lastText.begin ? &element.lastText : nullptr)
                                               : &element.text;
        if (value && element.keyLength > 0) {
            keyCharacters += element.keyLength;
            // A document has at least a third as many characters as bytes: up
            // to this budget the other reader would accept the keys too.
            if (keyCharacters > SettingsReadLimits::keyBudget((p - begin) / 3))
                return false;
            map.insert(map.constEnd(), key.left(element.keyLength), decodeRun(*value));
        }
        open.pop_back();
        key.truncate(open.empty() ? 0 : open.back().keyLength);
        rootClosed = open.empty();
        return true;
    };

    while (p < end) {
        if (*p != '<') {
            Run run;
            run.begin = p;
            run.end = static_cast<const char *>(std::memchr(p, '<', size_t(end - p)));
            if (!run.end)
                run.end = end;
            bool blank = true;
            if (!scanRun(run, &blank))
                return false;
            if (open.empty()) {
                if (!blank)
                    return false;
            } else {
                OpenElement &element = open.back();
                if (!element.hasChildren)
                    element.text = run;
                if (!blank)
                    element.lastText = run;
            }
            p = run.end;
            continue;
        }

        ++p;
        if (p < end && *p == '/') {
            const char *name = ++p;
            while (p < end && isNameChar(uchar(*p)))
                ++p;
            if (p == end || *p != '>' || open.empty())
                return false;
            const OpenElement &element = open.back();
            if (p - name != element.nameLength || std::memcmp(name, element.name, size_t(element.nameLength)) != 0)
                return false;
            ++p;
            if (!closeElement())
                return false;
            continue;
        }

        if (p == end || !isNameStart(uchar(*p)) || rootClosed || open.size() >= size_t(SettingsReadLimits::MaxDepth))
            return false;
        const char *name = p;
        while (p < end && isNameChar(uchar(*p)))
            ++p;
        const bool empty = p < end && *p == '/';
        if (empty)
            ++p;
        if (p == end || *p != '>')
            return false;
        ++p;

        if (!open.empty())
            open.back().hasChildren = true;
        OpenElement element;
        element.name = name;
        element.nameLength = int(p - name) - (empty ? 2 : 1);
        if (element.nameLength > SettingsReadLimits::MaxNameLength)
            return false; // bytes, at least as many as characters: the other reader decides
        if (QLatin1String(name, element.nameLength) != RootName)
            appendComponent(key, name, element.nameLength);
        element.keyLength = key.size();
        open.push_back(element);
        if (empty && !closeElement())
            return false;
    }
    if (!rootClosed)
        return false;
    result.swap(map);
    return true;
}
