#include "zipcommon_p.h"
#include "zipcalendar_p.h"

#include <QDate>
#include <QTextCodec>
#include <QTime>

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#  define ZIP_HAVE_CLMUL 1
#  include <immintrin.h>
#endif

namespace zipcommon {

quint32 crc32Reference(quint32 crc, const char *data, qint64 size)
{
    uLong value = crc;
    while (size > 0) {
        const uInt chunk = uInt(qMin<qint64>(size, 1 << 30));
        value = ::crc32(value, reinterpret_cast<const Bytef *>(data), chunk);
        data += chunk;
        size -= chunk;
    }
    return quint32(value);
}

#ifdef ZIP_HAVE_CLMUL
namespace {

#define ZIP_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

ZIP_CLMUL_TARGET inline __m128i load(const char *q)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
}

ZIP_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next)
{
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds 64 bytes per round with carry-less multiplication, then reduces the
// 128-bit remainder to 32 bits (Barrett). Works on the bit-reflected CRC
// register without the pre and post inversion; `size` is a multiple of 16
// and at least 64.
ZIP_CLMUL_TARGET quint32 crc32Fold(quint32 crc, const char *p, qint64 size)
{
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    size -= 64;
    while (size >= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
        p += 64;
        size -= 64;
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    while (size >= 16) {
        x1 = fold(x1, k3k4, load(p));
        p += 16;
        size -= 16;
    }

    // 128 -> 64 bits.
    __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
    // 64 -> 32 bits.
    t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), t);
    // Barrett reduction.
    t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return quint32(_mm_extract_epi32(x1, 1));
}

bool haveClmul()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

} // namespace
#endif

quint32 crc32(quint32 crc, const char *data, qint64 size)
{
#ifdef ZIP_HAVE_CLMUL
    if (size >= 256 && haveClmul()) {
        const qint64 body = size & ~qint64(15);
        crc = ~crc32Fold(~crc, data, body);
        return crc32Reference(crc, data + body, size - body);
    }
#endif
    return crc32Reference(crc, data, size);
}

void toDosDateTime(const QDateTime &dt, quint16 *time, quint16 *date)
{
    QDate d = dt.date();
    QTime t = dt.time();
    if (!d.isValid() || d.year() < 1980) {
        d = QDate(1980, 1, 1);
        t = QTime(0, 0);
    } else if (d.year() > 2107) {
        d = QDate(2107, 12, 31);
        t = QTime(23, 59, 58);
    }
    if (!t.isValid())
        t = QTime(0, 0);
    *time = quint16((t.second() / 2) | (t.minute() << 5) | (t.hour() << 11));
    *date = quint16(d.day() | (d.month() << 5) | ((d.year() - 1980) << 9));
}

void toDosDateTime(qint64 secs, quint16 *time, quint16 *date)
{
    using namespace zipcalendar;
    if (secs < daysFromCivil(1980, 1, 1) * SecsPerDay) {
        *time = 0;
        *date = quint16(1 | (1 << 5));
        return;
    }
    if (secs >= daysFromCivil(2108, 1, 1) * SecsPerDay) {
        *time = quint16((58 / 2) | (59 << 5) | (23 << 11));
        *date = quint16(31 | (12 << 5) | ((2107 - 1980) << 9));
        return;
    }
    const CivilDate civil = civilFromDays(secs / SecsPerDay);
    const int second = int(secs % SecsPerDay);
    *time = quint16(((second % 60) / 2) | (((second / 60) % 60) << 5) | ((second / 3600) << 11));
    *date = quint16(civil.day | (civil.month << 5) | ((civil.year - 1980) << 9));
}

QDateTime fromDosDateTime(quint16 time, quint16 date)
{
    const QDate d((date >> 9) + 1980, (date >> 5) & 0x0f, date & 0x1f);
    const QTime t(time >> 11, (time >> 5) & 0x3f, (time & 0x1f) * 2);
    if (!d.isValid() || !t.isValid())
        return QDateTime();
    const QDateTime local(d, t, Qt::LocalTime);
    if (local.isValid())
        return local;
    // In the hour skipped when the clocks go forward: taken as an hour after
    // the same time before the change, as mktime() does.
    const QDateTime before = QDateTime(d, t, Qt::UTC).addSecs(-3600);
    return QDateTime(before.date(), before.time(), Qt::LocalTime).addSecs(3600);
}

CipherKeys::CipherKeys(const QByteArray &password)
    : m_keys{0x12345678, 0x23456789, 0x34567890}
{
    for (const char c : password)
        update(quint8(c));
}

void CipherKeys::update(quint8 c)
{
    static const z_crc_t *const table = get_crc_table();
    m_keys[0] = quint32(table[(m_keys[0] ^ c) & 0xff]) ^ (m_keys[0] >> 8);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xff)) * 134775813u + 1;
    m_keys[2] = quint32(table[(m_keys[2] ^ (m_keys[1] >> 24)) & 0xff]) ^ (m_keys[2] >> 8);
}

quint8 CipherKeys::streamByte() const
{
    // Unsigned: the product of two 16-bit values overflows an int.
    const quint32 temp = (m_keys[2] | 2) & 0xffff;
    return quint8((temp * (temp ^ 1)) >> 8);
}

void CipherKeys::encrypt(char *data, qint64 size)
{
    for (qint64 i = 0; i < size; ++i) {
        const quint8 plain = quint8(data[i]);
        data[i] = char(plain ^ streamByte());
        update(plain);
    }
}

void CipherKeys::decrypt(char *data, qint64 size)
{
    for (qint64 i = 0; i < size; ++i) {
        const quint8 plain = quint8(data[i]) ^ streamByte();
        data[i] = char(plain);
        update(plain);
    }
}

QByteArray passwordBytes(const QString &password)
{
    return password.toUtf8();
}

QByteArray passwordBytesLatin1(const QString &password)
{
    return password.toLatin1();
}

namespace {
bool isAscii(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (quint8(c) >= 0x80)
            return false;
    }
    return true;
}

// UTF-8 decoding that reports invalid input instead of replacing it.
bool decodeUtf8Strict(const QByteArray &bytes, QString *out)
{
    static QTextCodec *const codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    const QString text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0)
        return false;
    *out = text;
    return true;
}
} // namespace

QByteArray encodeName(const QString &name, bool *utf8)
{
    const QByteArray bytes = name.toUtf8();
    *utf8 = !isAscii(bytes);
    return bytes;
}

QString decodeName(const QByteArray &raw, quint16 flags, const QByteArray &extra, quint8 hostSystem)
{
    QString text;
    if ((flags & FlagUtf8) && decodeUtf8Strict(raw, &text))
        return text;
    // Extra fields: tag (2), size (2), data. The Unicode Path field holds a
    // version (1), the CRC-32 of the header name (4) and the UTF-8 name; it
    // only counts while that CRC still matches the name.
    int pos = 0;
    while (pos + 4 <= extra.size()) {
        const quint16 tag = getUShort(extra.constData() + pos);
        const int size = getUShort(extra.constData() + pos + 2);
        pos += 4;
        if (pos + size > extra.size())
            break;
        if (tag == 0x7075 && size >= 5 && extra.at(pos) == 1) {
            const quint32 nameCrc = getUInt(extra.constData() + pos + 1);
            if (nameCrc == crc32Reference(0, raw.constData(), raw.size())
                && decodeUtf8Strict(extra.mid(pos + 5, size - 5), &text) && !text.isEmpty()) {
                return text;
            }
        }
        pos += size;
    }
    if (hostSystem == HostUnix && !isAscii(raw) && decodeUtf8Strict(raw, &text))
        return text;
    return QString::fromLatin1(raw);
}

QString decodeComment(const QByteArray &raw)
{
    QString text;
    if (!isAscii(raw) && decodeUtf8Strict(raw, &text))
        return text;
    return QString::fromLatin1(raw);
}

QByteArray encodeComment(const QString &comment)
{
    for (const QChar c : comment) {
        if (c.unicode() > 0xff)
            return comment.toUtf8();
    }
    return comment.toLatin1();
}

namespace {
// A name made of non-empty components other than "." and "..", separated by
// single slashes, without backslashes, NUL or a drive letter: safe as it
// stands. Most names are; they need no splitting and joining.
bool isPlainRelative(const QString &name)
{
    const QChar *p = name.constData();
    const int n = name.size();
    if (n == 0 || (n >= 2 && p[1] == QLatin1Char(':')))
        return false;
    int start = 0;
    for (int i = 0; i <= n; ++i) {
        const ushort c = i < n ? p[i].unicode() : ushort('/');
        if (c == 0 || c == '\\')
            return false;
        if (c != '/')
            continue;
        const int length = i - start;
        if (length == 0 || (p[start] == QLatin1Char('.') && (length == 1 || (length == 2 && p[start + 1] == QLatin1Char('.')))))
            return false;
        start = i + 1;
    }
    return true;
}
} // namespace

bool safeRelativePath(const QString &entryName, QString *relative)
{
    if (isPlainRelative(entryName)) {
        *relative = entryName;
        return true;
    }
    if (entryName.contains(QChar(0)))
        return false;
    if (entryName.startsWith(QLatin1Char('/')) || entryName.startsWith(QLatin1Char('\\')))
        return false;
    if (entryName.size() >= 2 && entryName.at(1) == QLatin1Char(':') && entryName.at(0).isLetter())
        return false;
    // Backslashes count as separators too: archives made on Windows use them
    // and an extractor there would follow them.
    const QStringList parts = QString(entryName).replace(QLatin1Char('\\'), QLatin1Char('/'))
                                  .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList kept;
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
        if (part != QLatin1String("."))
            kept << part;
    }
    *relative = kept.join(QLatin1Char('/'));
    return true;
}

} // namespace zipcommon
