// The HTTP file loader's parsing of "Content-Length" and "Content-Range"
// (206 and 416 forms) on arbitrary header values; what is accepted is
// consistent: a length of at least 1, 0 <= start < total.
#include "fuzzsupport.h"

#include <httpfileloader/httpfileloader_p.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QByteArray header = fuzz::bytes(data, size);

    qint64 length = 0;
    if (hflheaders::parseContentLength(header, &length))
        fuzz::check(length >= 1, "a Content-Length below 1 was accepted");

    qint64 start = -1;
    qint64 total = -1;
    if (hflheaders::parseContentRange(header, &start, &total))
        fuzz::check(start >= 0 && start < total, "an inconsistent Content-Range was accepted");

    qint64 whole = -1;
    if (hflheaders::parseUnsatisfiedRange(header, &whole))
        fuzz::check(whole >= 0, "a negative size was accepted");
    return 0;
}
