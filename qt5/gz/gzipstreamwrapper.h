#ifndef ORVELEXTLIB_GZIPSTREAMWRAPPER_H
#define ORVELEXTLIB_GZIPSTREAMWRAPPER_H

#include <orvelextlib_export.h>

#include <QByteArray>

/// Compresses and decompresses whole byte arrays in memory with zlib.
/// Stateless; both operations may run in any thread.
class ORVELEXTLIB_EXPORT GzipStreamWrapper
{
public:
    GzipStreamWrapper();
    ~GzipStreamWrapper();

    /// The data as a zlib stream (two-byte header, Adler-32 trailer, default
    /// level), which is not a gzip member in spite of the name. An empty
    /// array gives the 8-byte stream of empty input. Returns an empty array
    /// only when zlib fails (out of memory).
    static QByteArray gzcompress(const QByteArray &data);

    /// Decompresses a zlib stream or a gzip member, recognised by its header.
    /// Only the first stream is read; anything after its end is ignored.
    /// Input of 4 bytes or less logs the warning "gzuncompress: Input data is
    /// truncated" and gives an empty array. Corrupt data, a stream that needs
    /// a preset dictionary, or output too large for a QByteArray give an
    /// empty array; a stream cut short gives what could be decompressed.
    static QByteArray gzuncompress(const QByteArray &data);
};

#endif // ORVELEXTLIB_GZIPSTREAMWRAPPER_H
