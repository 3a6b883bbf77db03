// The JSON settings format's read function on arbitrary documents; whatever
// was read must be written back readably.
#include "fuzzsupport.h"

#include <qsettingsext/jsonsettings.h>

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    QByteArray json = fuzz::bytes(data, size);
    QBuffer device(&json);
    device.open(QIODevice::ReadOnly);
    QSettings::SettingsMap map;
    if (!JsonSettings::readJsonFile(device, map) || map.isEmpty())
        return 0;

    QByteArray written;
    QBuffer out(&written);
    out.open(QIODevice::WriteOnly);
    JsonSettings::writeJsonFile(out, map);
    out.close();
    out.open(QIODevice::ReadOnly);
    QSettings::SettingsMap again;
    fuzz::check(JsonSettings::readJsonFile(out, again), "what was read cannot be read back after writing");
    return 0;
}
