#ifndef ORVELEXTLIB_QSTOMPFRAME_P_H
#define ORVELEXTLIB_QSTOMPFRAME_P_H

// Private records of the STOMP frames; not part of the installed API.

#include <QByteArray>
#include <QList>
#include <QPair>

class QTextCodec;

class QStompFramePrivate
{
public:
    QStompFramePrivate() = default;
    virtual ~QStompFramePrivate() = default;

    QList<QPair<QByteArray, QByteArray>> header;
    bool valid = true;
    QByteArray body;
    const QTextCodec *textCodec = nullptr;
};

// The UTF-8 codec, looked up once: codecs live as long as the process.
const QTextCodec *stompUtf8Codec();

// The fifteen STOMP command words, built when the library is loaded (see
// libraryload.cpp); only membership is asked of it.
extern const QList<QByteArray> stompCommandList;
bool isStompCommand(const char *data, int size);

#endif // ORVELEXTLIB_QSTOMPFRAME_P_H
