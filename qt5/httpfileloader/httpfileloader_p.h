#ifndef ORVELEXTLIB_HTTPFILELOADER_P_H
#define ORVELEXTLIB_HTTPFILELOADER_P_H

#include "httpfileloader.h"

#include <QByteArray>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

// The loader's own log category; everything the loader logs goes here except
// the warning about the target directory.
Q_DECLARE_LOGGING_CATEGORY(lcHfl)

// The response headers the loader reads, parsed from their raw bytes.
namespace hflheaders {
// "Content-Length": a decimal number of at least 1.
ORVELEXTLIB_AUTOTEST_EXPORT bool parseContentLength(const QByteArray &header, qint64 *length);
// "Content-Range" of a 206 answer, "bytes <start>-<end>/<total>" with
// start <= end < total.
ORVELEXTLIB_AUTOTEST_EXPORT bool parseContentRange(const QByteArray &header, qint64 *start, qint64 *total);
// "Content-Range" of a 416 answer, "bytes */<total>".
ORVELEXTLIB_AUTOTEST_EXPORT bool parseUnsatisfiedRange(const QByteArray &header, qint64 *total);
} // namespace hflheaders

namespace hflbuffer {
// The most body bytes a reply of any loader held unread when the loader came
// to read it, since the last call; resets the count. For tests.
ORVELEXTLIB_AUTOTEST_EXPORT qint64 takePeakUnread();
} // namespace hflbuffer

// A whole-file answer, written to the side file as it arrives.
struct HttpBodyStream
{
    QPointer<QNetworkReply> reply;
    QFile part; // open read-write
    qint64 sizeBefore = 0; // of the side file before the answer
    qint64 total = 0; // the announced length
    qint64 written = 0;
    bool failed = false; // the side file failed; the reply was aborted
};

class HttpFileLoaderPrivate
{
    Q_DECLARE_PUBLIC(HttpFileLoader)
public:
    HttpFileLoaderPrivate(HttpFileLoader *q, const QString &url, const QString &fileName,
                          int blockSize);

    // Requests after a timeout halve the block size, but never below this.
    static constexpr int MinHalvedBlockSize = 16384;
    // Requests in a row without data before the loader gives up.
    static constexpr int MaxAttempts = 5;
    // Blocks taken at most from one ranged reply.
    static constexpr int MaxReadsPerReply = 10;
    // A body without an announced length (or not a whole file) is cut off
    // past ten blocks or this many bytes, whichever is more.
    static constexpr qint64 MinReplyLimit = 16 * 1024 * 1024;
    // Largest piece moved from a reply to the side file at once.
    static constexpr int ReadPieceSize = 1024 * 1024;
    // Pieces Qt may hold unread for a reply before it stops reading.
    static constexpr int BufferedPieces = 2;
    // Most of a part kept in memory until its reply ends (a QByteArray
    // cannot hold much more than this twice over).
    static constexpr qint64 MaxHeldBody = 1 << 30;

    // Only the manager made at start accepts certificate problems; the ones
    // made after a timeout report them as errors.
    void createManager(bool acceptTlsErrors);
    void deleteTimersAndManager();
    // Retries through the restart timer after `delayMs`, or gives up once
    // MaxAttempts requests in a row brought nothing.
    void retryOrGiveUp(int delayMs, bool plainFirst = false);
    // Both end notices of a failure; `plainFirst` puts finished() first.
    void emitFailure(bool plainFirst);
    void headerError(QNetworkReply *reply);
    // Moves the complete side file into place and reports success.
    void complete();
    // A 416 answer whose "bytes */N" says the side file already holds the
    // whole file (or more than the file now has). True when handled.
    bool handleRangeNotSatisfiable(QNetworkReply *reply);
    // Largest body worth keeping in memory for this reply.
    qint64 replyLimit(const QNetworkReply *reply) const;
    qint64 readPieceSize() const;
    // Bytes taken at most from the reply of a range request.
    qint64 partLimit() const;
    // Moves what `source` holds to `part` at `start` + `written`, up to
    // `limit` bytes in all; false after a failed write (logged).
    bool writeBody(QIODevice *source, QFile &part, qint64 start, qint64 limit, qint64 &written);
    // A whole-file answer is written as it arrives: true when `reply` is one
    // (its stream has begun, or failed and the reply was aborted).
    bool startStream(QNetworkReply *reply);
    // Called as a reply's headers and data arrive.
    void bodyArrived(QNetworkReply *reply);
    // After a block was written: the next request, a retry, or completion.
    void blockWritten(qint64 size, qint64 sizeBefore, qint64 total);
    void startOver(const char *why);
    QString shortName() const;

    HttpFileLoader *q_ptr;
    QPointer<QNetworkAccessManager> manager;
    QString url;
    QString fileName;
    int blockSize;
    int attempts = 0;
    QPointer<QTimer> timeoutTimer;
    QPointer<QTimer> restartTimer;
    QPointer<QObject> receiver;
    QByteArray finishedMember;
    QByteArray progressMember;
    HttpFileLoader::Timing timing;
    // The reply of the request in flight; answers to requests the loader has
    // already given up on are dropped.
    QPointer<QNetworkReply> currentReply;
    QByteArray readBuffer;
    QScopedPointer<HttpBodyStream> stream;
    // What a part's reply has delivered so far, written when it ends.
    QByteArray heldBody;
    // Total size announced by the previous block, -1 before the first one.
    qint64 lastTotal = -1;
};

#endif // ORVELEXTLIB_HTTPFILELOADER_P_H
