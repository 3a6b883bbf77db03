#include "gzipstreamwrapper.h"

#include "gzipstreamwrapper_p.h"

#include <QScopeGuard>
#include <QtEndian>
#include <QtGlobal>

#include <zlib.h>

#include <limits>

namespace {
// 15 window bits plus 32: inflate recognises a zlib or a gzip header by itself.
constexpr int autoDetectWindowBits = 15 + 32;

// The first offer of output space. A gzip member states its length (modulo
// 2^32) in its last four bytes; for a zlib stream, twice the input. Both are
// only guesses: the space doubles whenever it fills, and the result is the
// same whatever the guess. A modest guess that grows suits the allocator
// better than a generous one that is cut back: blocks of similar size keep
// being reused instead of fresh pages being mapped for every call.
constexpr qint64 minimumOutputStep = 1024;
constexpr qint64 zlibGuessFactor = 2;
constexpr qint64 guessLimit = 64 * 1024 * 1024;
// Deflate cannot expand data by more than about 1032 to 1.
constexpr qint64 maximumDeflateRatio = 1032;

qint64 firstOutputSpace(const QByteArray &data, qint64 maxSize)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = data.size();
    qint64 guess = size * zlibGuessFactor;
    if (size >= 18 && bytes[0] == 0x1f && bytes[1] == 0x8b) {
        const qint64 stated = qFromLittleEndian<quint32>(bytes + size - 4);
        // One byte more than stated, so that the call that ends the stream
        // leaves space over and no second call is needed to see the end.
        if (stated < size * maximumDeflateRatio)
            guess = stated + 1;
    }
    return qBound<qint64>(qMin(minimumOutputStep, maxSize), qMin(guess, guessLimit), maxSize);
}

// Gives back the memory of a result that holds more than twice its size.
// Up to twice is what growing an array by appending leaves as well; giving
// that back would only cost the next call fresh pages (a shrunk block is no
// longer reused by the allocator).
void trim(QByteArray &array)
{
    if (array.capacity() > 2 * qint64(array.size()) + 4096)
        array.squeeze();
}
} // namespace

GzipStreamWrapper::GzipStreamWrapper() = default;

GzipStreamWrapper::~GzipStreamWrapper() = default;

QByteArray GzipStreamWrapper::gzcompress(const QByteArray &data)
{
    // compress() reports Z_BUF_ERROR if the bound does not fit in an array;
    // that only happens for input within a few hundred kilobytes of the limit.
    uLongf length = qMin<uLong>(compressBound(static_cast<uLong>(data.size())),
                                static_cast<uLong>(GzipStreamWrapperPrivate::maxOutputSize()));
    QByteArray out(static_cast<int>(length), Qt::Uninitialized);
    const int status = compress(reinterpret_cast<Bytef *>(out.data()), &length,
                                reinterpret_cast<const Bytef *>(data.constData()),
                                static_cast<uLong>(data.size()));
    // A failed compress() leaves the length untouched; an array of that many
    // unwritten bytes must not pass for a stream.
    if (status != Z_OK)
        return QByteArray();
    out.resize(static_cast<int>(length));
    trim(out);
    return out;
}

QByteArray GzipStreamWrapper::gzuncompress(const QByteArray &data)
{
    return GzipStreamWrapperPrivate::uncompress(data, GzipStreamWrapperPrivate::maxOutputSize());
}

int GzipStreamWrapperPrivate::maxOutputSize()
{
    // Room for the array header and the terminating zero that QByteArray keeps.
    return std::numeric_limits<int>::max() - 64;
}

QByteArray GzipStreamWrapperPrivate::uncompress(const QByteArray &data, int maxSize)
{
    if (data.size() <= 4) {
        qWarning("gzuncompress: Input data is truncated");
        return QByteArray();
    }
    maxSize = qMax(maxSize, 0);

    z_stream stream = {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    if (inflateInit2(&stream, autoDetectWindowBits) != Z_OK)
        return QByteArray();
    const auto end = qScopeGuard([&stream] { inflateEnd(&stream); });

    const auto failed = [](int status) {
        return status == Z_MEM_ERROR || status == Z_DATA_ERROR || status == Z_NEED_DICT;
    };

    // Inflate produces the same bytes however its output space is cut up, so
    // offering growing space instead of fixed 1 KiB steps changes nothing but
    // the number of calls: the loop ends at the first call that leaves space
    // unfilled (end of stream, input used up, no progress), and a failure at
    // any point gives an empty result.
    QByteArray out;
    qint64 capacity = firstOutputSpace(data, maxSize);
    qint64 produced = 0;
    for (;;) {
        if (produced == capacity) {
            if (capacity >= maxSize) {
                // Full at the limit: only an end without further output fits.
                char probe = 0;
                stream.next_out = reinterpret_cast<Bytef *>(&probe);
                stream.avail_out = 1;
                if (failed(inflate(&stream, Z_NO_FLUSH)) || stream.avail_out == 0)
                    return QByteArray();
                break;
            }
            capacity = qMin<qint64>(qMax(capacity * 2, minimumOutputStep), maxSize);
        }
        out.reserve(static_cast<int>(capacity));
        out.resize(static_cast<int>(capacity));
        stream.next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        stream.avail_out = static_cast<uInt>(capacity - produced);
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (failed(status))
            return QByteArray();
        produced = capacity - stream.avail_out;
        if (stream.avail_out != 0)
            break;
    }
    out.resize(static_cast<int>(produced));
    trim(out);
    return out;
}
