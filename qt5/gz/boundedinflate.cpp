#include "boundedinflate_p.h"

#include <QScopeGuard>

#include <zlib.h>

namespace gz {

namespace {
constexpr qint64 MinimumStep = 1024;
} // namespace

void trim(QByteArray &array)
{
    // Up to twice is what growing an array by appending leaves as well; giving
    // that back would only cost the next call fresh pages (a shrunk block is
    // no longer reused by the allocator).
    if (array.capacity() > 2 * qint64(array.size()) + 4096)
        array.squeeze();
}

InflateResult boundedInflate(const char *data, int size, int windowBits, qint64 firstSpace,
                             qint64 maxSize, QByteArray *out)
{
    out->clear();
    z_stream stream = {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    stream.avail_in = static_cast<uInt>(size);
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return InflateResult::Failed;
    const auto end = qScopeGuard([&stream] { inflateEnd(&stream); });

    const auto failed = [](int status) {
        return status == Z_MEM_ERROR || status == Z_DATA_ERROR || status == Z_NEED_DICT;
    };

    // Inflate produces the same bytes however its output space is cut up, so
    // offering growing space changes nothing but the number of calls: the
    // loop ends at the end of the stream or at the first call that leaves
    // space unfilled (input used up, no progress).
    maxSize = qMax<qint64>(maxSize, 0);
    qint64 capacity = qBound(qMin(MinimumStep, maxSize), firstSpace, maxSize);
    qint64 produced = 0;
    int status = Z_OK;
    QByteArray result;
    for (;;) {
        if (produced == capacity) {
            if (capacity >= maxSize) {
                // Full at the limit: only an end without further output fits.
                char probe = 0;
                stream.next_out = reinterpret_cast<Bytef *>(&probe);
                stream.avail_out = 1;
                status = inflate(&stream, Z_NO_FLUSH);
                if (failed(status))
                    return InflateResult::Failed;
                if (stream.avail_out == 0)
                    return InflateResult::TooLarge;
                break;
            }
            capacity = qMin(qMax(capacity * 2, MinimumStep), maxSize);
        }
        result.reserve(static_cast<int>(capacity));
        result.resize(static_cast<int>(capacity));
        stream.next_out = reinterpret_cast<Bytef *>(result.data() + produced);
        stream.avail_out = static_cast<uInt>(capacity - produced);
        status = inflate(&stream, Z_NO_FLUSH);
        if (failed(status))
            return InflateResult::Failed;
        produced = capacity - stream.avail_out;
        if (status == Z_STREAM_END || stream.avail_out != 0)
            break;
    }
    result.resize(static_cast<int>(produced));
    trim(result);
    *out = result;
    return status == Z_STREAM_END ? InflateResult::Ended : InflateResult::Truncated;
}

} // namespace gz
