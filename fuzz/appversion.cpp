// AppVersion parsing of arbitrary version and build texts, the comparisons
// and the printed form. A parsed version prints as a text that parses to it.
//
// Input: two texts separated by the first NUL byte (version, then build or a
// second version).
#include "fuzzsupport.h"

#include <values/appversion.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QByteArray bytes = fuzz::bytes(data, size);
    const int split = bytes.indexOf('\0');
    const QString first = QString::fromUtf8(split < 0 ? bytes : bytes.left(split));
    const QString second = split < 0 ? QString() : QString::fromUtf8(bytes.mid(split + 1));

    const AppVersion version(first, second);
    (void)version.isValid();
    (void)version.build();
    if (version.majorVersion() >= 0) {
        const AppVersion again(version.version(), second);
        fuzz::check(again.versionEquilTo(version), "printed version parses to another version");
        fuzz::check(!again.versionLessThen(version) && !again.versionMoreThen(version),
                    "a version is ordered against itself");
    }
    AppVersion other;
    other.setVersion(second);
    other.setBuild(first);
    (void)(version == other);
    (void)(version < other);
    (void)(version > other);
    (void)(version <= other);
    (void)(version >= other);
    const bool less = AppVersion::lessThen(first, second);
    const bool more = AppVersion::moreThen(first, second);
    const bool equal = AppVersion::equilTo(first, second);
    fuzz::check(int(less) + int(more) + int(equal) <= 1, "two orders at once");
    fuzz::check(AppVersion::lessThen(second, first) == more, "lessThen is not the mirror of moreThen");
    return 0;
}
