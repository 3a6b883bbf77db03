#ifndef ORVELEXTLIB_QSTOMPFRAME_H
#define ORVELEXTLIB_QSTOMPFRAME_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QPair>
#include <QString>

class QTextCodec;
class QStompFramePrivate;

/// The logging category "stomp": all debug and warning output of the STOMP
/// classes goes here. Created on first call; safe from any thread.
ORVELEXTLIB_EXPORT const QLoggingCategory &STOMP_LOGGER();

/// The command-independent part of a STOMP 1.2 frame: an ordered header list,
/// the body, the codec for text bodies and a validity flag, with the text form
/// used on the wire. Frames are values; see QStompRequestFrame (client to
/// broker) and QStompResponseFrame (broker to client).
///
/// Header keys are matched case-insensitively (Latin-1) everywhere, and the
/// first entry wins; stored keys are never changed. Keys and values are written
/// and read verbatim: no escape sequences.
class ORVELEXTLIB_EXPORT QStompFrame
{
public:
    /// Header entries (key, value) in wire order; duplicates allowed.
    typedef QList<QPair<QByteArray, QByteArray>> HeaderList;

    /// Deletes the private record.
    virtual ~QStompFrame();
    /// Copies validity, header list, body and codec (a subclass's type stays).
    QStompFrame &operator=(const QStompFrame &other);

    /// The frame without its NUL terminator: headers in list order as
    /// "key:value" lines, an empty line, then the body. Empty when not valid.
    virtual QByteArray toByteArray() const;
    /// Fills this frame from wire bytes (LF or CR LF line breaks). A
    /// "content-length" header decides the body's length; otherwise a trailing
    /// NUL LF or NUL CR LF is cut. Returns false for malformed bytes, also for
    /// a "content-length" larger than the bytes after the blank line.
    Q_REQUIRED_RESULT bool parse(const QByteArray &frame);
    /// Parses header line `number` (0 is the command line in the subclasses).
    /// Returns false when the line has no ':'.
    virtual bool parseHeaderLine(const QByteArray &line, int number);

    /// Whether the frame is usable; an invalid frame serialises to nothing.
    Q_REQUIRED_RESULT bool isValid() const;
    /// Overrides the validity; header and body setters never change it.
    void setValid(bool valid);

    /// A copy of the header list.
    HeaderList header() const;
    /// Replaces the whole header list.
    void setHeaderValues(const HeaderList &values);
    /// Whether any entry has `key`.
    bool headerHasKey(const QByteArray &key) const;
    /// Value of the first entry with `key`; a null byte array if there is none.
    QByteArray headerValue(const QByteArray &key) const;
    /// The values of all entries with `key`, in list order.
    QList<QByteArray> allHeaderValues(const QByteArray &key) const;
    /// One key per case-insensitive name, as first stored, in order of first appearance.
    QList<QByteArray> headerKeys() const;
    /// Appends an entry, even if the key is present.
    void addHeaderValue(const QByteArray &key, const QByteArray &value);
    /// Replaces the value of the first entry with `key` (key and position
    /// stay), or appends an entry.
    void setHeaderValue(const QByteArray &key, const QByteArray &value);
    /// Removes the first entry with `key`.
    void removeHeaderValue(const QByteArray &key);
    /// Removes every entry with `key`.
    void removeAllHeaderValues(const QByteArray &key);

    /// Whether there is a "content-length" header.
    bool hasContentLength() const;
    /// "content-length" as a decimal number; 0 when absent or not a number.
    unsigned int contentLength() const;
    /// Sets "content-length" to `length` in decimal.
    void setContentLength(unsigned int length);

    /// Whether there is a "content-type" header.
    bool hasContentType() const;
    /// The media type of "content-type" without parameters; null when absent or empty.
    QByteArray contentType() const;
    /// Sets "content-type" to `type`.
    void setContentType(const QByteArray &type);

    /// Whether there is a "content-encoding" header.
    bool hasContentEncoding() const;
    /// The "content-encoding" value; null when absent.
    QByteArray contentEncoding() const;
    /// Sets "content-encoding" and the codec for body() and setBody(). A name
    /// Qt has no codec for is written, but the text body then uses UTF-8.
    void setContentEncoding(const QByteArray &name);
    /// As above with the codec's name. A null codec changes nothing.
    void setContentEncoding(const QTextCodec *codec);

    /// The body decoded with the frame's codec (UTF-8 by default).
    QString body() const;
    /// The body bytes as they are.
    QByteArray rawBody() const;
    /// Encodes `text` with the frame's codec and sets "content-length".
    void setBody(const QString &text);
    /// Stores `bytes` unchanged and sets "content-length".
    void setRawBody(const QByteArray &bytes);

protected:
    /// For subclasses: takes ownership of `d`; the frame is valid, with an
    /// empty header list and body and the UTF-8 codec.
    explicit QStompFrame(QStompFramePrivate *d);
    /// For subclasses' copies: takes ownership of `d` and copies validity,
    /// header list, body and codec from `other`.
    QStompFrame(const QStompFrame &other, QStompFramePrivate *d);

    /// The private record, owned; never shared between frames.
    QStompFramePrivate *d_ptr;

private:
    QStompFrame(const QStompFrame &) = delete;
    Q_DECLARE_PRIVATE(QStompFrame)
};

#endif // ORVELEXTLIB_QSTOMPFRAME_H
