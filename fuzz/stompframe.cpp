// QStompResponseFrame (and QStompRequestFrame) parsing of arbitrary bytes and
// every accessor on the result. A valid frame serialised and parsed again is
// the same frame.
#include "fuzzsupport.h"

#include <stomp/qstomprequestframe.h>
#include <stomp/qstompresponseframe.h>

namespace {
template<typename Frame>
void exercise(const Frame &frame)
{
    (void)frame.header();
    (void)frame.headerKeys();
    (void)frame.contentLength();
    (void)frame.contentType();
    (void)frame.contentEncoding();
    (void)frame.body();
    (void)frame.rawBody();
    (void)frame.allHeaderValues(QByteArrayLiteral("Content-Length"));
}

template<typename Frame>
void checkRoundTrip(const Frame &frame)
{
    if (!frame.isValid())
        return;
    const QByteArray wire = frame.toByteArray();
    fuzz::check(!wire.isEmpty(), "a valid frame serialises to nothing");
    const Frame again(wire + QByteArray("\0\n", 2));
    fuzz::check(again.isValid(), "a serialised frame does not parse");
    fuzz::check(again.type() == frame.type(), "the command changes on a round trip");
    fuzz::check(again.header() == frame.header(), "the header changes on a round trip");
    fuzz::check(again.rawBody() == frame.rawBody(), "the body changes on a round trip");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    const QByteArray bytes = fuzz::bytes(data, size);

    const QStompResponseFrame response(bytes);
    exercise(response);
    (void)response.destination();
    (void)response.subscriptionId();
    (void)response.messageId();
    (void)response.receiptId();
    (void)response.message();
    checkRoundTrip(response);

    const QStompRequestFrame request(bytes);
    exercise(request);
    (void)request.ackType();
    (void)request.transactionId();
    checkRoundTrip(request);

    QStompResponseFrame copy = response;
    copy.setRawBody(bytes.left(16));
    copy.removeAllHeaderValues(QByteArrayLiteral("content-type"));
    (void)copy.toByteArray();
    return 0;
}
