#include "httpfileloader.h"
#include "httpfileloader_p.h"

#include <logger/logtab.h>
#include <qsettingsext/dircreator.h>
#include <workers/abstractworkerthread.h>

#include <QAuthenticator>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QNetworkRequest>
#include <QRegExp>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <climits>

Q_LOGGING_CATEGORY(lcHfl, "hfl")

namespace {

QBasicMutex defaultTimingMutex;
HttpFileLoader::Timing defaultTimingValue;

// Set on a reply that grew past what the loader could use and was aborted.
const char OversizedProperty[] = "_hfl_oversized";

HttpFileLoader::Timing sanitized(HttpFileLoader::Timing timing)
{
    timing.requestTimeout = std::max(1, timing.requestTimeout);
    timing.retryDelay = std::max(0, timing.retryDelay);
    timing.timeoutRetryDelay = std::max(0, timing.timeoutRetryDelay);
    return timing;
}

int httpStatus(const QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : 0;
}

bool parseContentLength(const QNetworkReply *reply, qint64 *length)
{
    return hflheaders::parseContentLength(reply->rawHeader("Content-Length"), length);
}

std::atomic<qint64> peakUnread { 0 };

void notePeakUnread(qint64 bytes)
{
    qint64 seen = peakUnread.load(std::memory_order_relaxed);
    while (bytes > seen
           && !peakUnread.compare_exchange_weak(seen, bytes, std::memory_order_relaxed)) { }
}

} // namespace

namespace hflbuffer {

qint64 takePeakUnread()
{
    return peakUnread.exchange(0);
}

} // namespace hflbuffer

namespace hflheaders {

bool parseContentLength(const QByteArray &header, qint64 *length)
{
    bool ok = false;
    *length = QString::fromLatin1(header).toLongLong(&ok);
    return ok && *length >= 1;
}

// "bytes <start>-<end>/<total>"; the end is checked too, so a range that
// does not fit its own total is refused.
bool parseContentRange(const QByteArray &header, qint64 *start, qint64 *total)
{
    QRegExp rx(QStringLiteral("(\\s*\\w*\\s*)(\\d+)(\\s*\\-\\s*)(\\d+)(\\s*\\/\\s*)(\\d+)(\\s*)"),
               Qt::CaseSensitive, QRegExp::RegExp);
    if (!rx.exactMatch(QString::fromLatin1(header)) || rx.capturedTexts().size() <= 6)
        return false;
    bool okStart = false;
    bool okEnd = false;
    bool okTotal = false;
    *start = rx.cap(2).toLongLong(&okStart);
    const qint64 end = rx.cap(4).toLongLong(&okEnd);
    *total = rx.cap(6).toLongLong(&okTotal);
    return okStart && okEnd && okTotal && *start <= end && end < *total;
}

bool parseUnsatisfiedRange(const QByteArray &header, qint64 *total)
{
    QRegExp rx(QStringLiteral("\\s*\\w*\\s*\\*\\s*/\\s*(\\d+)\\s*"));
    if (!rx.exactMatch(QString::fromLatin1(header)))
        return false;
    bool ok = false;
    *total = rx.cap(1).toLongLong(&ok);
    return ok;
}

} // namespace hflheaders

// --- private ---

HttpFileLoaderPrivate::HttpFileLoaderPrivate(HttpFileLoader *q, const QString &url,
                                             const QString &fileName, int blockSize)
    : q_ptr(q)
    , url(url)
    , fileName(fileName)
    , blockSize(blockSize >= 1 ? blockSize : HttpFileLoader::DEFAULT_BLOCK_SIZE)
    , timing(HttpFileLoader::defaultTiming())
{
}

void HttpFileLoaderPrivate::createManager(bool acceptTlsErrors)
{
    Q_Q(HttpFileLoader);
    manager = new QNetworkAccessManager(q);
    QObject::connect(manager, &QNetworkAccessManager::authenticationRequired, q,
                     &HttpFileLoader::authenticationRequired);
    QObject::connect(manager, &QNetworkAccessManager::finished, q,
                     qOverload<QNetworkReply *>(&HttpFileLoader::finished));
    QObject::connect(manager, &QNetworkAccessManager::proxyAuthenticationRequired, q,
                     &HttpFileLoader::proxyAuthenticationRequired);
    if (acceptTlsErrors)
        QObject::connect(manager, &QNetworkAccessManager::sslErrors, q,
                         &HttpFileLoader::onSslErrors);
}

void HttpFileLoaderPrivate::deleteTimersAndManager()
{
    if (timeoutTimer) {
        timeoutTimer->stop();
        delete timeoutTimer.data();
    }
    if (restartTimer) {
        restartTimer->stop();
        delete restartTimer.data();
    }
    currentReply = nullptr;
    stream.reset();
    heldBody.clear();
    delete manager.data();
}

void HttpFileLoaderPrivate::emitFailure(bool plainFirst)
{
    Q_Q(HttpFileLoader);
    // A receiver connected directly may delete the loader.
    const QPointer<HttpFileLoader> self(q);
    if (plainFirst) {
        emit q->finished();
        if (self)
            emit q->finished(QString());
    } else {
        emit q->finished(QString());
        if (self)
            emit q->finished();
    }
}

void HttpFileLoaderPrivate::retryOrGiveUp(int delayMs, bool plainFirst)
{
    if (attempts < MaxAttempts && restartTimer) {
        restartTimer->stop();
        restartTimer->start(delayMs);
        return;
    }
    emitFailure(plainFirst);
}

void HttpFileLoaderPrivate::headerError(QNetworkReply *reply)
{
    qCWarning(lcHfl) << QStringLiteral("Http headers parsing error") << url;
    qCWarning(lcHfl) << reply->rawHeaderPairs();
    reply->close();
    reply->deleteLater();
    retryOrGiveUp(timing.retryDelay);
}

QString HttpFileLoaderPrivate::shortName() const
{
    return QFileInfo(fileName).fileName();
}

void HttpFileLoaderPrivate::complete()
{
    Q_Q(HttpFileLoader);
    attempts = 0;
    const QString part = q->partFilePath();
    QFile::remove(fileName);
    // Rename keeps the data where it is; copy only when that is impossible.
    if (!QFile::rename(part, fileName)) {
        if (!QFile::copy(part, fileName)) {
            qCWarning(lcHfl) << QStringLiteral("%1 copying error").arg(fileName);
            emit q->finished(QString());
            return;
        }
        QFile::remove(part);
    }
    const QPointer<HttpFileLoader> self(q);
    emit q->progress(shortName(), 100);
    if (self)
        emit q->finished(fileName);
}

void HttpFileLoaderPrivate::startOver(const char *why)
{
    Q_Q(HttpFileLoader);
    qCWarning(lcHfl) << why << url;
    QFile part(q->partFilePath());
    if (!part.resize(0))
        qCCritical(lcHfl) << "Side file cannot be truncated" << part.fileName() << part.errorString();
    lastTotal = -1;
    // Not counted as data: a server that keeps changing its answer ends in failure.
    retryOrGiveUp(0);
}

bool HttpFileLoaderPrivate::handleRangeNotSatisfiable(QNetworkReply *reply)
{
    Q_Q(HttpFileLoader);
    qint64 total = 0;
    if (!hflheaders::parseUnsatisfiedRange(reply->rawHeader("Content-Range"), &total))
        return false;
    const qint64 size = q->calcOffset();
    if (total > size)
        return false;
    reply->close();
    reply->deleteLater();
    if (total < size) {
        startOver("Side file is longer than the remote file, starting over");
        return true;
    }
    // The side file already holds the whole file: the move into place was
    // all that was left.
    qCDebug(lcHfl) << "Side file already complete" << url;
    QFile part(q->partFilePath());
    if (!part.exists() && part.open(QIODevice::WriteOnly))
        part.close();
    complete();
    return true;
}

qint64 HttpFileLoaderPrivate::replyLimit(const QNetworkReply *reply) const
{
    const int status = httpStatus(reply);
    qint64 length = 0;
    if ((status == 200 || status == 0) && !reply->hasRawHeader("Content-Range")
        && parseContentLength(reply, &length)) {
        return length;  // the whole file, as announced
    }
    // Enough for the blocks of a ranged answer and for an error page.
    return std::max<qint64>(qint64(blockSize) * MaxReadsPerReply + 1, MinReplyLimit);
}

qint64 HttpFileLoaderPrivate::readPieceSize() const
{
    return std::min<qint64>(blockSize, ReadPieceSize);
}

qint64 HttpFileLoaderPrivate::partLimit() const
{
    return std::min(qint64(blockSize) * MaxReadsPerReply, MaxHeldBody);
}

bool HttpFileLoaderPrivate::writeBody(QIODevice *source, QFile &part, qint64 start, qint64 limit,
                                      qint64 &written)
{
    // One buffer for all pieces: fresh megabytes per read would cost more in
    // page faults than the copy, and a small buffer stays in the cache.
    const qint64 piece = readPieceSize();
    if (readBuffer.size() != piece)
        readBuffer.resize(int(piece));
    while (written < limit) {
        const qint64 chunk = source->read(readBuffer.data(), std::min(piece, limit - written));
        if (chunk <= 0)
            break;
        if (!part.seek(start + written) || part.write(readBuffer.constData(), chunk) != chunk
            || !part.flush()) {
            // Stop at the first failed write: a later one would leave a hole.
            qCCritical(lcHfl) << "Side file write error" << part.fileName() << part.errorString()
                              << url;
            return false;
        }
        written += chunk;
    }
    return true;
}

bool HttpFileLoaderPrivate::startStream(QNetworkReply *reply)
{
    Q_Q(HttpFileLoader);
    // A part (at most MaxReadsPerReply blocks of it are taken) and anything
    // else but a whole file is judged when its reply ends.
    const int status = httpStatus(reply);
    qint64 length = 0;
    if ((status != 200 && status != 0) || reply->error() != QNetworkReply::NoError
        || reply->hasRawHeader("Content-Range") || !parseContentLength(reply, &length)
        || (lastTotal >= 0 && length != lastTotal)) {
        return false;
    }
    stream.reset(new HttpBodyStream);
    stream->reply = reply;
    stream->part.setFileName(q->partFilePath());
    stream->sizeBefore = q->calcOffset();
    stream->total = length;
    if (!stream->part.open(QIODevice::ReadWrite)) {
        qCCritical(lcHfl) << stream->part.fileName() << stream->part.errorString() << url;
        stream->failed = true;
        reply->abort(); // finished() takes it from here
        return true;
    }
    // What is written from now on belongs to this version of the file.
    lastTotal = length;
    return true;
}

void HttpFileLoaderPrivate::bodyArrived(QNetworkReply *reply)
{
    if (reply != currentReply || reply->property(OversizedProperty).toBool())
        return;
    if (!stream && !startStream(reply)) {
        // Qt's buffer is bounded and must be emptied for the reply to go
        // on. Of any other answer only the start of a part (partLimit()) is
        // ever written: it waits here for the end of the reply, the rest is
        // dropped (and the reply is cut off past replyLimit()).
        const qint64 available = reply->bytesAvailable();
        notePeakUnread(heldBody.size() + available);
        const qint64 wanted
            = reply->hasRawHeader("Content-Range") ? partLimit() - heldBody.size() : 0;
        if (wanted > 0) {
            qint64 length = 0;
            if (heldBody.isEmpty() && parseContentLength(reply, &length))
                heldBody.reserve(int(std::min(length, wanted)));
            const int held = heldBody.size();
            heldBody.resize(held + int(std::min(available, wanted)));
            const qint64 got = reply->read(heldBody.data() + held, heldBody.size() - held);
            heldBody.resize(held + int(std::max<qint64>(got, 0)));
        }
        reply->skip(reply->bytesAvailable());
        return;
    }
    if (stream->reply != reply || stream->failed)
        return;
    notePeakUnread(reply->bytesAvailable());
    if (!writeBody(reply, stream->part, 0, stream->total, stream->written)) {
        stream->failed = true;
        reply->abort(); // finished() takes it from here
    }
}

void HttpFileLoaderPrivate::blockWritten(qint64 size, qint64 sizeBefore, qint64 total)
{
    Q_Q(HttpFileLoader);
    if (size == total) {
        complete();
        return;
    }
    if (total > 0) {
        const QPointer<HttpFileLoader> self(q);
        emit q->progress(shortName(), int(std::min<qint64>(100, size * 100 / total)));
        if (!self)
            return;
    }
    if (size > sizeBefore) {
        attempts = 0;
        q->download();
    } else {
        // A server that ignores the range repeats what is there already.
        qCWarning(lcHfl) << "Response did not advance the side file" << url;
        retryOrGiveUp(timing.retryDelay);
    }
}

// --- public ---

HttpFileLoader::HttpFileLoader(const QString &url, const QString &fileName, int blockSize,
                               QObject *receiver, const char *finishedSlot,
                               const char *progressSlot)
    : d_ptr(new HttpFileLoaderPrivate(this, url, fileName, blockSize))
{
    Q_D(HttpFileLoader);
    d->receiver = receiver;
    if (receiver) {
        if (finishedSlot)
            d->finishedMember = finishedSlot;
        if (progressSlot)
            d->progressMember = progressSlot;
    }
}

HttpFileLoader::~HttpFileLoader() = default;

QString HttpFileLoader::partFilePath() const
{
    Q_D(const HttpFileLoader);
    return d->fileName + QStringLiteral(".part");
}

qint64 HttpFileLoader::calcOffset() const
{
    const QFileInfo info(partFilePath());
    return info.exists() ? info.size() : 0;
}

HttpFileLoader::Timing HttpFileLoader::timing() const
{
    Q_D(const HttpFileLoader);
    return d->timing;
}

void HttpFileLoader::setTiming(const Timing &timing)
{
    Q_D(HttpFileLoader);
    d->timing = sanitized(timing);
}

HttpFileLoader::Timing HttpFileLoader::defaultTiming()
{
    QMutexLocker locker(&defaultTimingMutex);
    return defaultTimingValue;
}

void HttpFileLoader::setDefaultTiming(const Timing &timing)
{
    QMutexLocker locker(&defaultTimingMutex);
    defaultTimingValue = sanitized(timing);
}

QPointer<QThread> HttpFileLoader::download(const QString &url, const QString &fileName,
                                           QObject *receiver, const char *finishedSlot,
                                           const char *progressSlot, qint32 blockSize)
{
    qCDebug(lcHfl) << url;
    if (url.isEmpty() || fileName.isEmpty()) {
        qCWarning(lcHfl) << QStringLiteral("Invalid fileName or url: %1 - %2").arg(fileName, url);
        return nullptr;
    }
    if (!DirCreator::checkAndCreate(QFileInfo(fileName).absolutePath(), DirCreator::DEFAULT_ALL))
        qWarning() << QStringLiteral("Target directory creation error");

    auto *loader = new HttpFileLoader(url, fileName, blockSize, receiver, finishedSlot,
                                      progressSlot);
    auto *thread = new AbstractWorkerThread(loader, nullptr);
    connect(loader, qOverload<QString>(&HttpFileLoader::finished), thread, &QThread::quit,
            Qt::QueuedConnection);
    if (receiver) {
        if (finishedSlot)
            connect(loader, SIGNAL(finished(QString)), receiver, finishedSlot);
        if (progressSlot)
            connect(loader, SIGNAL(progress(QString,int)), receiver, progressSlot);
    }
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
    return thread;
}

QPointer<QThread> HttpFileLoader::download(const QString &url, const QString &fileName,
                                           QObject *receiver, const char *finishedSlot,
                                           int blockSize)
{
    return download(url, fileName, receiver, finishedSlot, nullptr, blockSize);
}

QPointer<QThread> HttpFileLoader::download(const QString &url, const QString &fileName,
                                           int blockSize)
{
    return download(url, fileName, nullptr, nullptr, nullptr, blockSize);
}

bool HttpFileLoader::doStart()
{
    Q_D(HttpFileLoader);
    d->attempts = 0;
    d->deleteTimersAndManager();
    d->createManager(true);

    d->timeoutTimer = new QTimer(this);
    d->timeoutTimer->setInterval(d->timing.requestTimeout);
    d->timeoutTimer->setSingleShot(true);
    connect(d->timeoutTimer, &QTimer::timeout, this, &HttpFileLoader::downloadTimeout);

    d->restartTimer = new QTimer(this);
    d->restartTimer->setSingleShot(true);
    connect(d->restartTimer, &QTimer::timeout, this, qOverload<>(&HttpFileLoader::download));

    download();
    return true;
}

bool HttpFileLoader::doStop()
{
    Q_D(HttpFileLoader);
    if (d->receiver) {
        if (!d->finishedMember.isEmpty())
            disconnect(this, nullptr, d->receiver, d->finishedMember.constData());
        if (!d->progressMember.isEmpty())
            disconnect(this, nullptr, d->receiver, d->progressMember.constData());
    }
    d->deleteTimersAndManager();
    return true;
}

void HttpFileLoader::download()
{
    Q_D(HttpFileLoader);
    if (!d->manager || !d->timeoutTimer) {
        qCCritical(lcHfl) << QStringLiteral("QNetworkAccessManager is null");
        d->emitFailure(true);
        return;
    }
    d->timeoutTimer->stop();
    d->stream.reset();
    d->heldBody.clear();
    ++d->attempts;
    const qint64 offset = calcOffset();
    // The URL goes in last: it may itself contain "%1".
    qCDebug(lcHfl) << QStringLiteral("Attempt #%1. Offcet = %2. BlockSize = %3. URL = %4")
                          .arg(d->attempts)
                          .arg(offset)
                          .arg(d->blockSize)
                          .arg(d->url);

    QNetworkRequest request(QUrl(d->url, QUrl::TolerantMode));
    request.setRawHeader("Range", QStringLiteral("bytes=%1-%2")
                                      .arg(offset)
                                      .arg(offset + d->blockSize)
                                      .toLatin1());
    request.setRawHeader("Referer", request.url().host(QUrl::FullyDecoded).toUtf8());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    // Lets the network thread fill one buffer of the announced length
    // instead of handing the body over chunk by chunk.
    request.setAttribute(QNetworkRequest::MaximumDownloadBufferSizeAttribute,
                         int(std::min<qint64>(INT_MAX, qint64(d->blockSize) + 1)));

    QNetworkReply *reply = d->manager->get(request);
    d->currentReply = reply;
    // A body longer than anything the loader would write is cut off, so a
    // server cannot make it buffer without bound.
    connect(reply, &QNetworkReply::downloadProgress, this, [d, reply](qint64 received, qint64) {
        if (reply->property(OversizedProperty).toBool() || received <= d->replyLimit(reply))
            return;
        reply->setProperty(OversizedProperty, true);
        reply->abort();
    });
    // Qt stops taking from the network while this much is unread: whole
    // files go to the side file as they arrive, parts wait aside until their
    // reply ends (bodyArrived()).
    reply->setReadBufferSize(d->readPieceSize() * HttpFileLoaderPrivate::BufferedPieces);
    connect(reply, &QNetworkReply::metaDataChanged, this, [d, reply] { d->bodyArrived(reply); });
    connect(reply, &QIODevice::readyRead, this, [d, reply] { d->bodyArrived(reply); });
    d->timeoutTimer->start(d->timing.requestTimeout);
}

void HttpFileLoader::onSslErrors(QNetworkReply *reply, QList<QSslError> errors)
{
    Q_D(HttpFileLoader);
    if (!reply)
        return;
    qCWarning(lcHfl) << "SSL errors ignored" << errors << d->url;
    reply->ignoreSslErrors(errors);
}

void HttpFileLoader::authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
{
    Q_D(HttpFileLoader);
    qCWarning(lcHfl) << QStringLiteral("AUTHENTICATION_REQUIRED!") << d->url;
    if (!reply || !authenticator)
        return;
    if (d->timeoutTimer)
        d->timeoutTimer->stop();
    // The manager still finishes this reply; that answer is dropped.
    if (reply == d->currentReply)
        d->currentReply = nullptr;
    reply->close();
    reply->deleteLater();
    d->emitFailure(true);
}

void HttpFileLoader::finished(QNetworkReply *reply)
{
    Q_D(HttpFileLoader);
    if (reply && reply != d->currentReply) {
        reply->deleteLater();
        return;
    }
    d->currentReply = nullptr;
    // A whole-file answer written as it arrived; its side file is closed on
    // every way out below.
    QScopedPointer<HttpBodyStream> stream(d->stream.take());
    if (stream && stream->reply != reply)
        stream.reset();
    if (d->timeoutTimer)
        d->timeoutTimer->stop();
    qCDebug(lcHfl) << QStringLiteral("BLOCK FINISHED") << d->url;

    if (!reply) {
        qCCritical(lcHfl) << QStringLiteral("Reply is null object") << d->url;
        d->retryOrGiveUp(d->timing.retryDelay);
        return;
    }
    if (stream && stream->failed) {
        reply->deleteLater();
        // A side file that could not be opened is retried as such; one that
        // failed a write counts as an answer that did not advance it.
        if (!stream->part.isOpen())
            d->retryOrGiveUp(d->timing.retryDelay, true);
        else
            d->blockWritten(stream->part.size(), stream->sizeBefore, stream->total);
        return;
    }
    if (reply->property(OversizedProperty).toBool()) {
        d->headerError(reply);
        return;
    }
    const int status = httpStatus(reply);
    if (status == 416 && d->handleRangeNotSatisfiable(reply))
        return;
    if (reply->error() == QNetworkReply::ContentNotFoundError) {
        qCWarning(lcHfl) << reply->errorString() << d->url;
        reply->close();
        reply->deleteLater();
        d->emitFailure(false);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCWarning(lcHfl) << reply->error() << reply->errorString() << logtab << d->url << logtab
                         << reply->rawHeaderPairs();
        reply->close();
        reply->deleteLater();
        d->retryOrGiveUp(d->timing.retryDelay);
        return;
    }

    // Only a whole file (200, or a non-HTTP scheme) or a part of one (206)
    // is data; a redirect that was not followed or a 204 is not.
    if (status != 0 && status != 200 && status != 206) {
        d->headerError(reply);
        return;
    }
    qint64 contentLength = 0;
    if (!parseContentLength(reply, &contentLength)) {
        d->headerError(reply);
        return;
    }
    const qint64 sizeBefore = stream ? stream->sizeBefore : calcOffset();
    const bool ranged = reply->hasRawHeader("Content-Range");
    qint64 start = 0;
    qint64 total = contentLength;
    if (ranged) {
        // A range that starts past the end of the side file would leave a hole.
        if (!hflheaders::parseContentRange(reply->rawHeader("Content-Range"), &start, &total)
            || start > sizeBefore) {
            d->headerError(reply);
            return;
        }
    } else if (status == 206) {
        // A part without its position cannot be placed.
        d->headerError(reply);
        return;
    }
    if (d->lastTotal >= 0 && total != d->lastTotal) {
        // The blocks so far belong to another version of the file.
        reply->close();
        reply->deleteLater();
        d->startOver("Remote file changed, starting over");
        return;
    }
    d->lastTotal = total;

    QFile ownPart(partFilePath());
    QFile &part = stream ? stream->part : ownPart;
    if (!part.isOpen() && !part.open(QIODevice::ReadWrite)) {
        qCCritical(lcHfl) << part.fileName() << part.errorString() << d->url;
        reply->close();
        reply->deleteLater();
        d->retryOrGiveUp(d->timing.retryDelay, true);
        return;
    }

    // A whole file is taken in full and written from 0 once (as it arrives,
    // see bodyArrived()); of a part at most MaxReadsPerReply blocks are taken.
    const qint64 limit = ranged ? std::min(contentLength, d->partLimit()) : contentLength;
    qint64 written = stream ? stream->written : 0;
    notePeakUnread(d->heldBody.size() + reply->bytesAvailable());
    QBuffer held(&d->heldBody);
    held.open(QIODevice::ReadOnly);
    if (d->writeBody(&held, part, start, limit, written))
        d->writeBody(reply, part, start, limit, written);
    held.close();
    d->heldBody.clear();
    if (!ranged && written == total && part.size() > total)
        part.resize(total);  // an older, longer side file
    reply->close();
    reply->deleteLater();
    const qint64 size = part.size();
    part.close();
    d->blockWritten(size, sizeBefore, total);
}

void HttpFileLoader::proxyAuthenticationRequired(QNetworkProxy proxy,
                                                 QAuthenticator *authenticator)
{
    if (!authenticator)
        return;
    authenticator->setUser(proxy.user());
    authenticator->setPassword(proxy.password());
}

void HttpFileLoader::downloadTimeout()
{
    Q_D(HttpFileLoader);
    if (!d->manager || !d->timeoutTimer)
        return;
    d->timeoutTimer->stop();
    qCWarning(lcHfl) << QStringLiteral("DOWNLOAD TIMEOUT") << d->url;
    d->currentReply = nullptr;
    d->stream.reset();
    d->heldBody.clear();
    delete d->manager.data();
    if (d->attempts >= HttpFileLoaderPrivate::MaxAttempts || !d->restartTimer) {
        d->emitFailure(true);
        return;
    }
    d->createManager(false);
    if (d->blockSize > HttpFileLoaderPrivate::MinHalvedBlockSize)
        d->blockSize /= 2;
    d->restartTimer->stop();
    d->restartTimer->start(d->timing.timeoutRetryDelay);
}
