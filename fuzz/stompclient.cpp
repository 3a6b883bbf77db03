// QStompClient's cutting of the incoming WebSocket messages into frames, fed
// an arbitrary sequence of text and binary messages. Every queued frame is
// valid and nothing is queued without frameReceived().
//
// Input: messages, each a flag byte (bit 0: binary; bit 1: fetch the queue
// afterwards), a length byte and that many bytes (fewer at the end).
#include "fuzzsupport.h"

#include <stomp/qstompclient.h>
#include <stomp/qstompresponseframe.h>

#include <QCoreApplication>

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    static int argc = 1;
    static char name[] = "fuzz_stompclient";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    QStompClient client;
    int received = 0;
    QObject::connect(&client, &QStompClient::frameReceived, [&received] { ++received; });
    size_t at = 0;
    while (at < size) {
        const uint8_t flags = data[at++];
        const size_t length = at < size ? data[at++] : 0;
        const size_t take = std::min(length, size - at);
        const QByteArray message(reinterpret_cast<const char *>(data + at), int(take));
        at += take;

        const int before = client.framesAvailable();
        const int signalsBefore = received;
        const bool invoked = (flags & 1)
            ? QMetaObject::invokeMethod(&client, "_q_socketReadyRead", Qt::DirectConnection,
                                        Q_ARG(QByteArray, message))
            : QMetaObject::invokeMethod(&client, "_q_socketReadyRead", Qt::DirectConnection,
                                        Q_ARG(QString, QString::fromUtf8(message)));
        fuzz::check(invoked, "the client's message slots are missing");
        const int added = client.framesAvailable() - before;
        const int emitted = received - signalsBefore;
        fuzz::check(added >= 0, "frames vanished from the queue");
        fuzz::check(emitted == (added > 0 ? 1 : 0), "frameReceived() does not match the frames queued");
        // Bit 1: the host fetches what is queued now.
        if (flags & 2) {
            for (const QStompResponseFrame &frame : client.fetchAllFrames()) {
                fuzz::check(frame.isValid(), "an invalid frame was queued");
                (void)frame.toByteArray();
            }
        }
    }
    for (const QStompResponseFrame &frame : client.fetchAllFrames())
        fuzz::check(frame.isValid(), "an invalid frame was queued");
    return 0;
}
