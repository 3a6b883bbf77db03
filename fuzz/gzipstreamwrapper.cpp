// GzipStreamWrapper::gzuncompress on arbitrary bytes, against zlib's inflate
// run to the end in one go: a stream that zlib decodes completely gives
// exactly those bytes. Compressing the input and uncompressing it again gives
// the input back.
#include "fuzzsupport.h"

#include <gz/gzipstreamwrapper.h>

#include <zlib.h>

namespace {
// The whole stream with zlib's own inflate (zlib or gzip header), or a null
// array when it does not end cleanly within `limit` bytes.
QByteArray reference(const QByteArray &data, int limit)
{
    z_stream stream = {};
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        return QByteArray();
    QByteArray out(limit, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = inflate(&stream, Z_FINISH);
    const int produced = out.size() - int(stream.avail_out);
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return QByteArray();
    out.resize(produced);
    return out.isNull() ? QByteArray("") : out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QByteArray input = fuzz::bytes(data, size);

    const QByteArray result = GzipStreamWrapper::gzuncompress(input);
    if (input.size() > 4) {
        const QByteArray expected = reference(input, 8 << 20);
        if (!expected.isNull())
            fuzz::check(result == expected, "gzuncompress differs from zlib on a complete stream");
    } else {
        fuzz::check(result.isEmpty(), "short input gave bytes");
    }

    const QByteArray packed = GzipStreamWrapper::gzcompress(input);
    fuzz::check(GzipStreamWrapper::gzuncompress(packed) == input, "gzcompress does not round-trip");
    return 0;
}
