// The XML settings format's read function on arbitrary documents. Where the
// quick reader takes a document, the QXmlStreamReader loop must take it too
// with the same entries; whatever was read and written must read back.
#include "fuzzsupport.h"

#include <qsettingsext/xmlplainreader_p.h>
#include <qsettingsext/xmlsettings.h>

#include <QBuffer>
#include <QDataStream>
#include <QXmlStreamReader>

namespace {
class XmlProbe : public XmlSettings
{
public:
    using XmlSettings::processReadKey;
    using XmlSettings::readXmlData;
    using XmlSettings::stringToVariant;
    using XmlSettings::writeXmlData;
};
// Values of types that QtCore cannot compare (GUI types such as QBitmap, as a
// "@Variant(" may hold) are compared by their stream form.
QByteArray streamed(const QVariant &value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << value;
    return bytes;
}

bool same(const QVariant &a, const QVariant &b)
{
    return streamed(a) == streamed(b);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QByteArray xml = fuzz::bytes(data, size);

    QSettings::SettingsMap map;
    QBuffer device;
    device.setData(xml);
    device.open(QIODevice::ReadOnly);
    const bool ok = XmlSettings::readXmlFile(device, map);

    QSettings::SettingsMap plain;
    if (XmlPlainReader::read(xml, plain)) {
        QSettings::SettingsMap streamed;
        QXmlStreamReader reader(xml);
        XmlProbe::processReadKey(streamed, reader);
        fuzz::check(!reader.hasError(), "quick reader took a document the stream reader rejects");
        fuzz::check(plain.keys() == streamed.keys(), "quick and stream readers give other keys");
        for (auto it = plain.constBegin(); it != plain.constEnd(); ++it) {
            const QVariant quick = XmlProbe::stringToVariant(it.value().toString());
            const QVariant stream = streamed.value(it.key());
            fuzz::check(quick.userType() == stream.userType() && (quick == stream || same(quick, stream)),
                        "quick and stream readers give other values");
        }
        fuzz::check(ok, "read function failed on a document the quick reader takes");
    }

    // The writer refuses (empty result) what the reader would refuse;
    // whatever it writes must read back.
    const QByteArray written = ok ? XmlProbe::writeXmlData(map) : QByteArray();
    if (!written.isEmpty()) {
        QSettings::SettingsMap again;
        fuzz::check(XmlProbe::readXmlData(written, again), "what was read cannot be read back after writing");
    }
    return 0;
}
