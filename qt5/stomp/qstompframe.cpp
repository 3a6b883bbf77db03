#include "qstompframe.h"
#include "qstompframe_p.h"

#include <QTextCodec>

#include <cstring>

Q_LOGGING_CATEGORY(STOMP_LOGGER, "stomp")

const QTextCodec *stompUtf8Codec()
{
    static const QTextCodec *const codec = QTextCodec::codecForName("utf-8");
    return codec;
}

namespace {
const char *const RequestWords[] = {nullptr, "CONNECT", "STOMP", "SEND", "SUBSCRIBE", "UNSUBSCRIBE",
                                    "BEGIN", "COMMIT", "ABORT", "ACK", "NACK", "DISCONNECT"};
const char *const ResponseWords[] = {nullptr, "CONNECTED", "MESSAGE", "RECEIPT", "ERROR"};
} // namespace

const QStompCommandWords StompRequestWords(RequestWords);
const QStompCommandWords StompResponseWords(ResponseWords);

int QStompCommandWords::typeOf(const char *line, int size) const
{
    for (int type = 1; type < m_count; ++type) {
        if (std::strlen(m_words[type]) == size_t(size)
            && std::memcmp(m_words[type], line, size_t(size)) == 0)
            return type;
    }
    return 0;
}

bool isStompCommand(const char *data, int size)
{
    return StompRequestWords.typeOf(data, size) != 0 || StompResponseWords.typeOf(data, size) != 0;
}

QByteArray QStompCommandWords::serialise(const QStompFrame &frame, int type) const
{
    if (!frame.isValid() || type == 0)
        return QByteArray();
    if (type < 0 || type >= m_count)
        return frame.QStompFrame::toByteArray();
    return QByteArray(m_words[type]) + '\n' + frame.QStompFrame::toByteArray();
}

int stompHeaderEnd(int start, int lf, int crlf, int *end)
{
    const int p1 = lf < 0 ? -1 : lf - start;
    const int p2 = crlf < 0 ? -1 : crlf - start;
    if (p1 > 0 && (p2 < 0 || p1 < p2)) {
        *end = lf;
        return 1;
    }
    if (p2 > 0 && (p1 < 0 || p1 > p2)) {
        *end = crlf;
        return 2;
    }
    return 0;
}

namespace {
// Key comparison of every header lookup: both sides lower-cased as Latin-1,
// exactly as QByteArray::toLower() does, without allocating.
inline bool sameKey(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

// A text body with an unknown encoding falls back to UTF-8, STOMP's default.
inline const QTextCodec *codecOrUtf8(const QTextCodec *codec)
{
    return codec ? codec : stompUtf8Codec();
}
} // namespace

QStompFrame::QStompFrame(QStompFramePrivate *d)
    : d_ptr(d)
{
    d->valid = true;
    d->textCodec = stompUtf8Codec();
}

QStompFrame::QStompFrame(const QStompFrame &other, QStompFramePrivate *d)
    : d_ptr(d)
{
    *d_ptr = *other.d_ptr;
}

QStompFrame::~QStompFrame()
{
    delete d_ptr;
}

QStompFrame &QStompFrame::operator=(const QStompFrame &other)
{
    *d_ptr = *other.d_ptr;
    return *this;
}

QByteArray QStompFrame::toByteArray() const
{
    Q_D(const QStompFrame);
    if (!d->valid)
        return QByteArray();
    int size = 1 + d->body.size();
    for (const auto &entry : d->header)
        size += entry.first.size() + entry.second.size() + 2;
    QByteArray bytes;
    bytes.reserve(size);
    for (const auto &entry : d->header) {
        bytes += entry.first;
        bytes += ':';
        bytes += entry.second;
        bytes += '\n';
    }
    bytes += '\n';
    bytes += d->body;
    return bytes;
}

bool QStompFrame::parse(const QByteArray &frame)
{
    Q_D(QStompFrame);
    const int p1 = frame.indexOf("\n\n");
    // Only a "\r\n\r\n" that starts before p1 can matter, so the body need
    // not be searched.
    const int p2 = p1 < 0 ? frame.indexOf("\r\n\r\n")
                          : QByteArray::fromRawData(frame.constData(), qMin(p1 + 3, frame.size()))
                                .indexOf("\r\n\r\n");
    int headerEnd = 0;
    const int lineBreak = stompHeaderEnd(0, p1, p2, &headerEnd);
    if (lineBreak == 0)
        return false;
    d->body = frame.mid(headerEnd + 2 * lineBreak);

    QByteArray block = frame.left(headerEnd);
    if (lineBreak == 2)
        block.replace("\r\n", "\n");
    const QList<QByteArray> lines = block.split('\n');
    for (int number = 0; number < lines.size(); ++number) {
        if (!parseHeaderLine(lines.at(number), number))
            return false;
    }

    if (hasContentLength()) {
        const unsigned int length = contentLength();
        // A frame shorter than it says is truncated: refuse it rather than
        // invent the missing bytes (or allocate whatever a peer announces).
        if (length > unsigned(d->body.size()))
            return false;
        d->body.truncate(int(length));
    } else if (d->body.endsWith(QByteArray("\0\n", 2))) {
        d->body.chop(2);
    } else if (d->body.endsWith(QByteArray("\0\r\n", 3))) {
        d->body.chop(3);
    }

    if (hasContentEncoding()) {
        const QByteArray encoding = contentEncoding();
        qCDebug(STOMP_LOGGER).noquote() << QString::fromLatin1(encoding);
        d->textCodec = QTextCodec::codecForName(encoding);
    }
    return true;
}

bool QStompFrame::parseHeaderLine(const QByteArray &line, int number)
{
    Q_UNUSED(number)
    const int colon = line.indexOf(':');
    if (colon < 0)
        return false;
    const QByteArray key = line.left(colon).trimmed();
    // Credentials may begin or end with blanks; they are kept as sent.
    if (sameKey(key, QByteArrayLiteral("login")) || sameKey(key, QByteArrayLiteral("passcode")))
        addHeaderValue(key, line.mid(colon + 1));
    else
        addHeaderValue(key, line.mid(colon + 1).trimmed());
    return true;
}

bool QStompFrame::isValid() const
{
    Q_D(const QStompFrame);
    return d->valid;
}

void QStompFrame::setValid(bool valid)
{
    Q_D(QStompFrame);
    d->valid = valid;
}

QStompFrame::HeaderList QStompFrame::header() const
{
    Q_D(const QStompFrame);
    return d->header;
}

void QStompFrame::setHeaderValues(const HeaderList &values)
{
    Q_D(QStompFrame);
    d->header = values;
}

bool QStompFrame::headerHasKey(const QByteArray &key) const
{
    Q_D(const QStompFrame);
    for (const auto &entry : d->header) {
        if (sameKey(entry.first, key))
            return true;
    }
    return false;
}

QByteArray QStompFrame::headerValue(const QByteArray &key) const
{
    Q_D(const QStompFrame);
    for (const auto &entry : d->header) {
        if (sameKey(entry.first, key))
            return entry.second;
    }
    return QByteArray();
}

QList<QByteArray> QStompFrame::allHeaderValues(const QByteArray &key) const
{
    Q_D(const QStompFrame);
    QList<QByteArray> values;
    for (const auto &entry : d->header) {
        if (sameKey(entry.first, key))
            values.append(entry.second);
    }
    return values;
}

QList<QByteArray> QStompFrame::headerKeys() const
{
    Q_D(const QStompFrame);
    QList<QByteArray> keys;
    QList<QByteArray> seen;
    for (const auto &entry : d->header) {
        const QByteArray lower = entry.first.toLower();
        if (!seen.contains(lower)) {
            seen.append(lower);
            keys.append(entry.first);
        }
    }
    return keys;
}

void QStompFrame::addHeaderValue(const QByteArray &key, const QByteArray &value)
{
    Q_D(QStompFrame);
    d->header.append(qMakePair(key, value));
}

void QStompFrame::setHeaderValue(const QByteArray &key, const QByteArray &value)
{
    Q_D(QStompFrame);
    for (auto &entry : d->header) {
        if (sameKey(entry.first, key)) {
            entry.second = value;
            return;
        }
    }
    d->header.append(qMakePair(key, value));
}

void QStompFrame::removeHeaderValue(const QByteArray &key)
{
    Q_D(QStompFrame);
    for (int i = 0; i < d->header.size(); ++i) {
        if (sameKey(d->header.at(i).first, key)) {
            d->header.removeAt(i);
            return;
        }
    }
}

void QStompFrame::removeAllHeaderValues(const QByteArray &key)
{
    Q_D(QStompFrame);
    for (int i = d->header.size() - 1; i >= 0; --i) {
        if (sameKey(d->header.at(i).first, key))
            d->header.removeAt(i);
    }
}

bool QStompFrame::hasContentLength() const
{
    return headerHasKey(QByteArrayLiteral("content-length"));
}

unsigned int QStompFrame::contentLength() const
{
    bool ok = false;
    const unsigned int length = headerValue(QByteArrayLiteral("content-length")).toUInt(&ok, 10);
    return ok ? length : 0;
}

void QStompFrame::setContentLength(unsigned int length)
{
    setHeaderValue(QByteArrayLiteral("content-length"), QByteArray::number(length));
}

bool QStompFrame::hasContentType() const
{
    return headerHasKey(QByteArrayLiteral("content-type"));
}

QByteArray QStompFrame::contentType() const
{
    const QByteArray value = headerValue(QByteArrayLiteral("content-type"));
    if (value.isEmpty())
        return QByteArray();
    const int semicolon = value.indexOf(';');
    return semicolon < 0 ? value : value.left(semicolon).trimmed();
}

void QStompFrame::setContentType(const QByteArray &type)
{
    setHeaderValue(QByteArrayLiteral("content-type"), type);
}

bool QStompFrame::hasContentEncoding() const
{
    return headerHasKey(QByteArrayLiteral("content-encoding"));
}

QByteArray QStompFrame::contentEncoding() const
{
    return headerValue(QByteArrayLiteral("content-encoding"));
}

void QStompFrame::setContentEncoding(const QByteArray &name)
{
    Q_D(QStompFrame);
    setHeaderValue(QByteArrayLiteral("content-encoding"), name);
    d->textCodec = QTextCodec::codecForName(name);
}

void QStompFrame::setContentEncoding(const QTextCodec *codec)
{
    Q_D(QStompFrame);
    if (!codec)
        return;
    setHeaderValue(QByteArrayLiteral("content-encoding"), codec->name());
    d->textCodec = codec;
}

QString QStompFrame::body() const
{
    Q_D(const QStompFrame);
    return codecOrUtf8(d->textCodec)->toUnicode(d->body);
}

QByteArray QStompFrame::rawBody() const
{
    Q_D(const QStompFrame);
    return d->body;
}

void QStompFrame::setBody(const QString &text)
{
    Q_D(QStompFrame);
    d->body = codecOrUtf8(d->textCodec)->fromUnicode(text);
    setContentLength(unsigned(d->body.size()));
}

void QStompFrame::setRawBody(const QByteArray &bytes)
{
    Q_D(QStompFrame);
    d->body = bytes;
    setContentLength(unsigned(d->body.size()));
}
