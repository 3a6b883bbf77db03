#ifndef ORVELEXTLIB_QSTOMPFRAME_P_H
#define ORVELEXTLIB_QSTOMPFRAME_P_H

// Private records of the STOMP frames; not part of the installed API.

#include <QByteArray>
#include <QList>
#include <QPair>

class QStompFrame;
class QTextCodec;

class QStompFramePrivate
{
public:
    QStompFramePrivate() = default;
    QStompFramePrivate(const QStompFramePrivate &) = default;
    QStompFramePrivate &operator=(const QStompFramePrivate &) = default;
    virtual ~QStompFramePrivate() = default;

    QList<QPair<QByteArray, QByteArray>> header;
    bool valid = true;
    QByteArray body;
    const QTextCodec *textCodec = nullptr;
};

// The command words of request or response frames, indexed by the value of
// their type; index 0, the invalid type, has none.
class QStompCommandWords
{
public:
    template<int N>
    constexpr QStompCommandWords(const char *const (&words)[N])
        : m_words(words)
        , m_count(N)
    {
    }

    // The type whose word the `size` bytes at `line` are exactly (case and
    // blanks count), or 0.
    int typeOf(const char *line, int size) const;
    // The command line of `type` and LF, then the base form of `frame`; empty
    // when the frame is not valid or `type` is 0, without a command line for
    // a type outside the table.
    QByteArray serialise(const QStompFrame &frame, int type) const;

private:
    const char *const *m_words;
    int m_count;
};

extern const QStompCommandWords StompRequestWords;
extern const QStompCommandWords StompResponseWords;

// The end of a frame's header block, from the first "\n\n" (`lf`) and the
// first "\r\n\r\n" (`crlf`) at or after the frame's `start`, -1 when absent:
// the earlier of the two, where one right at the start (a frame that begins
// with an empty line) never counts. Returns the size of the frame's line
// break, 1 for LF and 2 for CR LF, and sets `end`; returns 0 when the block
// has no end.
int stompHeaderEnd(int start, int lf, int crlf, int *end);

// The UTF-8 codec, looked up once: codecs live as long as the process.
const QTextCodec *stompUtf8Codec();

// Whether the `size` bytes at `data` are one of the fifteen STOMP command words.
bool isStompCommand(const char *data, int size);

#endif // ORVELEXTLIB_QSTOMPFRAME_P_H
