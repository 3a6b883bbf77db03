#ifndef ORVELEXTLIB_QSTOMPCLIENT_P_H
#define ORVELEXTLIB_QSTOMPCLIENT_P_H

#include "qstompclient.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QWebSocket>

// The first occurrence of a fixed pattern at or after a position that only
// grows, remembered between calls so that no byte is searched twice while the
// buffer grows and frames are cut from its front.
class QStompPatternFinder
{
public:
    explicit QStompPatternFinder(const QByteArray &pattern)
        : m_pattern(pattern)
    {
    }

    int find(const QByteArray &buffer, int from)
    {
        if (m_found >= from)
            return m_found;
        const int pos = qMax(from, m_scanned);
        m_found = m_pattern.size() == 1 ? buffer.indexOf(m_pattern.at(0), pos)
                                        : buffer.indexOf(m_pattern, pos);
        m_scanned = m_found >= 0 ? m_found : qMax(pos, buffer.size() - m_pattern.size() + 1);
        return m_found;
    }

    // The buffer lost its first `count` bytes.
    void shift(int count)
    {
        m_found = m_found >= count ? m_found - count : -1;
        m_scanned = qMax(0, m_scanned - count);
    }

    void reset()
    {
        m_found = -1;
        m_scanned = 0;
    }

private:
    QByteArray m_pattern;
    int m_found = -1;
    int m_scanned = 0;
};

class QStompClientPrivate
{
    Q_DECLARE_PUBLIC(QStompClient)
public:
    explicit QStompClientPrivate(QStompClient *q);

    void makeConnections();
    // Length of the first complete frame from `frameStart` (it may exceed the
    // buffered bytes by one: the terminator of a length-cut frame that has not
    // arrived), or 0 when there is none yet.
    quint32 findMessageBytes();
    qint64 lookUpBodyLength();
    void setFrameStart(int start);
    void compactFrameBuffer();

    void _q_socketReadyRead(const QByteArray &data);
    void _q_socketReadyRead(const QString &text);
    void _q_sslErrors(const QList<QSslError> &errors);

    QPointer<QWebSocket> socket;
    const QTextCodec *textCodec;
    QByteArray frameBuffer;
    QList<QStompResponseFrame> frames;
    QStompClient *q_ptr;

    int frameBufferLimit = QStompClient::DefaultFrameBufferLimit;

    // Cutting state. Bytes before frameStart are consumed; they are removed
    // once per message, not once per frame.
    int frameStart = 0;
    // The byte after the body of the last length-cut frame has not arrived
    // yet; the next byte received is that frame's terminator.
    bool terminatorOwed = false;
    // Facts about the frame at frameStart, found once and kept while it grows.
    bool commandChecked = false;
    int headerEnd = -1;         // absolute; -1 while the header is incomplete
    int lineBreakSize = 0;      // 1 for LF, 2 for CR LF, 0 without header end
    qint64 bodyLength = -2;     // -2 not yet looked up, -1 none (cut by terminator)
    // The last "content-length" line read and its value, so that frames cut
    // before a far header end do not read that line again and again.
    int lengthLinePos = -1;
    qint64 lengthLineValue = -1;
    QStompPatternFinder lineFeed{QByteArrayLiteral("\n")};
    QStompPatternFinder headerEndLf{QByteArrayLiteral("\n\n")};
    QStompPatternFinder headerEndCrLf{QByteArrayLiteral("\r\n\r\n")};
    QStompPatternFinder lengthLf{QByteArrayLiteral("\ncontent-length")};
    QStompPatternFinder lengthCrLf{QByteArrayLiteral("\r\ncontent-length")};
    QStompPatternFinder nul{QByteArray(1, '\0')};
    QStompPatternFinder nulLf{QByteArray("\0\n", 2)};
    QStompPatternFinder nulCrLf{QByteArray("\0\r\n", 3)};
};

#endif // ORVELEXTLIB_QSTOMPCLIENT_P_H
