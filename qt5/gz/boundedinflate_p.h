#ifndef ORVELEXTLIB_BOUNDEDINFLATE_P_H
#define ORVELEXTLIB_BOUNDEDINFLATE_P_H

// One inflate loop for every in-memory decompression of the library
// (GzipStreamWrapper::gzuncompress(), the encrypted settings format): the
// output grows with what the stream really yields, up to a limit.

#include <QByteArray>
#include <QtGlobal>

namespace gz {

/// Deflate codes at least 2 bits (a length and a distance code) for its
/// longest match of 258 bytes: no stream expands further than 1032:1.
constexpr qint64 MaxDeflateRatio = 1032;

enum class InflateResult {
    Ended,     ///< the stream ended; `out` holds all of it
    Truncated, ///< the input ran out first; `out` holds what it gave
    Failed,    ///< damaged data, a preset dictionary, no memory; `out` is empty
    TooLarge   ///< more than `maxSize` bytes; `out` is empty
};

/// Inflates `size` bytes at `data` into `out`. `windowBits` is passed to
/// inflateInit2() (15: zlib header; 15 + 32: zlib or gzip, recognised). The
/// first `firstSpace` bytes of output space (at least 1 KiB, at most
/// `maxSize`) double whenever they fill; only the first stream is read.
InflateResult boundedInflate(const char *data, int size, int windowBits, qint64 firstSpace,
                             qint64 maxSize, QByteArray *out);

/// Gives back the memory of an array that holds more than twice its size.
void trim(QByteArray &array);

} // namespace gz

#endif // ORVELEXTLIB_BOUNDEDINFLATE_P_H
