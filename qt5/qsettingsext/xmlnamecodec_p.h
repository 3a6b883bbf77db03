#ifndef ORVELEXTLIB_XMLNAMECODEC_P_H
#define ORVELEXTLIB_XMLNAMECODEC_P_H

#include <orvelextlib_export.h>

#include <QString>
#include <QStringView>

// Turns settings key components into XML element names and back.
//
// A character that may not stand at its place in an XML name becomes
// "_xHHHH_" (HHHH: its UTF-16 code unit in upper-case hexadecimal; a
// character outside the BMP becomes two such escapes). An underscore that
// opens a text of that form (either case of hex digits) is escaped as
// "_x005F_", so decoding is exact. Any other valid name is returned
// unchanged. The colon is escaped too: namespace-aware readers take it as
// a prefix separator.
//
// Name characters are those of XML 1.0 (fourth edition), Appendix B: the
// set that Qt's stream reader and expat both enforce.
class ORVELEXTLIB_AUTOTEST_EXPORT XmlNameCodec
{
public:
    static QString encode(const QString &component);
    // Decodes every "_xHHHH_" left to right; anything else is kept.
    static QString decode(QStringView name);
    // Appends the decoded name to `out`.
    static void appendDecoded(QString &out, QStringView name);

    static bool isNameStartChar(char16_t c);
    static bool isNameChar(char16_t c);

    XmlNameCodec() = delete;
};

#endif // ORVELEXTLIB_XMLNAMECODEC_P_H
