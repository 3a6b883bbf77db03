#include "bcd.h"

#include <cstring>

namespace {

// The value of every byte, (b mod 16) + (b ÷ 16) × 10.
struct ByteValueTable
{
    unsigned char value[256];
    constexpr ByteValueTable()
        : value()
    {
        for (int b = 0; b < 256; ++b)
            value[b] = static_cast<unsigned char>((b % 16) + (b / 16) * 10);
    }
};

constexpr ByteValueTable ByteValues;

} // namespace

QByteArray BCD::int2bcd(unsigned long long value, unsigned char digits)
{
    // At most 10 bytes for a 64-bit value, written from the end.
    char packed[10];
    int used = 0;
    while (value != 0) {
        const unsigned low = unsigned(value % 10);
        value /= 10;
        const unsigned high = unsigned(value % 10);
        value /= 10;
        packed[9 - used++] = static_cast<char>(high * 16 + low);
    }
    const int wanted = digits / 2;
    const int size = qMax(wanted, used);
    QByteArray result(size, '\0');
    if (used > 0)
        memcpy(result.data() + (size - used), packed + (10 - used), size_t(used));
    return result;
}

void BCD::bcd2int(unsigned char *data, unsigned char length)
{
    if (!data)
        return;
    for (unsigned i = 0; i < length; ++i)
        data[i] = ByteValues.value[data[i]];
}

quint64 BCD::bcd2int(const QByteArray &bytes)
{
    // Horner's scheme in unsigned arithmetic: exact below 2^64, the low 64
    // bits of the exact number above. Bytes further than 32 places from the
    // end are multiplied by 100^32, a multiple of 2^64, and drop out.
    const int size = bytes.size();
    const int from = size > 32 ? size - 32 : 0;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    quint64 result = 0;
    for (int i = from; i < size; ++i)
        result = result * 100u + ByteValues.value[data[i]];
    return result;
}
