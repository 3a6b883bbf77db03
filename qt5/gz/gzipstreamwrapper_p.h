#ifndef ORVELEXTLIB_GZIPSTREAMWRAPPER_P_H
#define ORVELEXTLIB_GZIPSTREAMWRAPPER_P_H

#include <orvelextlib_export.h>

#include <QByteArray>

class ORVELEXTLIB_AUTOTEST_EXPORT GzipStreamWrapperPrivate
{
public:
    /// The largest array gzuncompress() may return.
    static int maxOutputSize();

    /// gzuncompress() with an output limit: a stream that decompresses to
    /// more than `maxSize` bytes gives an empty array. Reachable by the tests,
    /// which cannot build arrays of the real limit.
    static QByteArray uncompress(const QByteArray &data, int maxSize);
};

#endif // ORVELEXTLIB_GZIPSTREAMWRAPPER_P_H
