#include "gzipstreamwrapper.h"

#include "gzipstreamwrapper_p.h"

#include "boundedinflate_p.h"

#include <QtEndian>
#include <QtGlobal>

#include <zlib.h>

#include <limits>

namespace {
// 15 window bits plus 32: inflate recognises a zlib or a gzip header by itself.
constexpr int AutoDetectWindowBits = 15 + 32;

// The first offer of output space. A gzip member states its length (modulo
// 2^32) in its last four bytes; for a zlib stream, twice the input. Both are
// only guesses: the space doubles whenever it fills, and the result is the
// same whatever the guess. A modest guess that grows suits the allocator
// better than a generous one that is cut back: blocks of similar size keep
// being reused instead of fresh pages being mapped for every call.
constexpr qint64 ZlibGuessFactor = 2;
constexpr qint64 GuessLimit = 64 * 1024 * 1024;

qint64 firstOutputSpace(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = data.size();
    qint64 guess = size * ZlibGuessFactor;
    if (size >= 18 && bytes[0] == 0x1f && bytes[1] == 0x8b) {
        const qint64 stated = qFromLittleEndian<quint32>(bytes + size - 4);
        // One byte more than stated, so that the call that ends the stream
        // leaves space over and no second call is needed to see the end.
        if (stated < size * gz::MaxDeflateRatio)
            guess = stated + 1;
    }
    return qMin(guess, GuessLimit);
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
    gz::trim(out);
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
    // A damaged or too large stream leaves the result empty; a stream cut
    // short gives what it yielded.
    QByteArray out;
    gz::boundedInflate(data.constData(), data.size(), AutoDetectWindowBits, firstOutputSpace(data),
                       maxSize, &out);
    return out;
}
