// BCD::bcd2int on arbitrary bytes, in place and to an integer, against a
// plain reference of the documented arithmetic (modulo 2^64); int2bcd of the
// result unpacks to the same number.
#include "fuzzsupport.h"

#include <values/bcd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QByteArray bytes = fuzz::bytes(data, size);

    quint64 expected = 0;
    for (const char c : bytes) {
        const quint8 b = quint8(c);
        expected = expected * 100u + (b % 16u) + (b / 16u) * 10u;
    }
    const quint64 value = BCD::bcd2int(bytes);
    fuzz::check(value == expected, "bcd2int differs from the reference");

    QByteArray copy = bytes;
    const unsigned char length = static_cast<unsigned char>(size % 256);
    BCD::bcd2int(reinterpret_cast<unsigned char *>(copy.data()), length);
    for (int i = 0; i < copy.size(); ++i) {
        const quint8 b = quint8(bytes.at(i));
        const quint8 want = i < length ? quint8((b % 16) + (b / 16) * 10) : b;
        fuzz::check(quint8(copy.at(i)) == want, "in-place bcd2int rewrote the wrong bytes");
    }

    const QByteArray packed = BCD::int2bcd(value, static_cast<unsigned char>(size));
    fuzz::check(BCD::bcd2int(packed) == value, "int2bcd does not unpack to the same number");
    return 0;
}
