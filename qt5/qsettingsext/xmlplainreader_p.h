#ifndef ORVELEXTLIB_XMLPLAINREADER_P_H
#define ORVELEXTLIB_XMLPLAINREADER_P_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QSettings>

// A quick reader for the plain form of XML that XmlSettings writes: the
// declaration <?xml version="1.0" encoding="UTF-8"?>, elements without
// attributes whose names are ASCII, text in UTF-8 with the five predefined
// entities, indentation with blanks, tabs and line feeds.
//
// Within that form it replaces `map` with the entries that XmlSettings'
// reading loop over QXmlStreamReader gives (keys with escapes decoded, the
// raw text of every value as a QString). Anything else (comments, CDATA,
// character references, carriage returns, other encodings, non-ASCII names,
// any error) makes it give up without touching `map`, and the caller reads
// the document with QXmlStreamReader, which also reports the errors.
//
// It exists for speed: with QXmlStreamReader alone, loading a store of
// 10,000 keys takes over twice the time of Qt's INI format (settings_bench).
class ORVELEXTLIB_AUTOTEST_EXPORT XmlPlainReader
{
public:
    static bool read(const QByteArray &xml, QSettings::SettingsMap &map);

    XmlPlainReader() = delete;
};

#endif // ORVELEXTLIB_XMLPLAINREADER_P_H
