#ifndef ORVELEXTLIB_HTTPFILELOADER_H
#define ORVELEXTLIB_HTTPFILELOADER_H

#include <orvelextlib_export.h>
#include <workers/abstractworker.h>

#include <QList>
#include <QNetworkProxy>
#include <QPointer>
#include <QScopedPointer>
#include <QSslError>
#include <QString>
#include <QThread>

class QAuthenticator;
class QNetworkReply;
class HttpFileLoaderPrivate;

/// Downloads one file over HTTP or HTTPS in range-request blocks into a side
/// file (fileName + ".part"), resuming from whatever the side file holds,
/// and moves the side file into place once it holds the whole file.
///
/// Runs as a worker in a thread of its own: the static download() builds the
/// loader and its thread and starts both; a host may also put a loader into
/// an AbstractWorkerThread itself. Reports progress(file, percent) after each
/// block and at the end, and finished(fileName) with the target path on
/// success or an empty string on failure; finished() is an extra end notice
/// on most failure paths. The side file is never deleted on failure, so a
/// later download of the same target resumes from it.
///
/// A server that ignores ranges and answers with the whole file (200) is
/// taken once, written to the side file as the body arrives, so memory stays
/// at a few blocks whatever the file size.
class ORVELEXTLIB_EXPORT HttpFileLoader : public AbstractWorker
{
    Q_OBJECT
public:
    /// Bytes asked for per request when the caller gives no block size (or
    /// one below 1). Measured from nginx over loopback on a busy two-core
    /// machine: 2 MiB is the smallest size that keeps up with curl in every
    /// run (64 KiB reaches a sixth of its rate, 1 MiB between 70% and 155%
    /// of it, as every round trip may wait for a busy CPU); larger blocks
    /// gain little and cost memory, more data lost on a broken connection
    /// and a slower link before a block outlasts the request timeout.
    static constexpr int DEFAULT_BLOCK_SIZE = 2 * 1024 * 1024;

    /// Delays and the watchdog of one request, in milliseconds.
    struct Timing
    {
        int requestTimeout = 180000;   ///< a request without an answer this long is abandoned
        int retryDelay = 10000;        ///< pause before retrying after an error
        int timeoutRetryDelay = 2000;  ///< pause before retrying after a timeout
    };

    /// Stores the arguments; connects nothing and starts nothing. When
    /// `receiver` is given, the non-null slot signatures (as made by SLOT())
    /// are remembered so that doStop() can disconnect them.
    HttpFileLoader(const QString &url, const QString &fileName, int blockSize = DEFAULT_BLOCK_SIZE,
                   QObject *receiver = nullptr, const char *finishedSlot = nullptr,
                   const char *progressSlot = nullptr);
    /// The network manager and the timers, children of the loader, go with
    /// it, aborting a running request; the side file stays.
    ~HttpFileLoader() override;

    /// fileName + ".part".
    QString partFilePath() const;
    /// Size of the side file if it exists, else 0.
    qint64 calcOffset() const;

    /// Timing of this loader; starts as defaultTiming(). Set it before the
    /// loader starts, from the thread that owns the loader (limits as for
    /// setDefaultTiming()).
    ///@{
    Timing timing() const;
    void setTiming(const Timing &timing);
    ///@}
    /// Timing given to loaders created from now on, the static download()
    /// included. Any thread. Delays below 0 are taken as 0, a request
    /// timeout below 1 as 1.
    ///@{
    static Timing defaultTiming();
    static void setDefaultTiming(const Timing &timing);
    ///@}

    /// Creates a loader and a worker thread for it, connects the loader's
    /// finished(QString) to the receiver's `finishedSlot` and progress(QString,int)
    /// to its `progressSlot` (both optional), and starts the thread. The
    /// thread quits when the loader reports finished(QString) and deletes
    /// itself. Returns a guarded pointer to the thread, or null when url or
    /// fileName is empty. Call from a thread with an event loop.
    static QPointer<QThread> download(const QString &url, const QString &fileName,
                                      QObject *receiver, const char *finishedSlot,
                                      const char *progressSlot,
                                      qint32 blockSize = DEFAULT_BLOCK_SIZE);
    /// As above, without a progress slot.
    static QPointer<QThread> download(const QString &url, const QString &fileName,
                                      QObject *receiver, const char *finishedSlot,
                                      int blockSize = DEFAULT_BLOCK_SIZE);
    /// As above, without a receiver: only the returned thread tells the end.
    static QPointer<QThread> download(const QString &url, const QString &fileName,
                                      int blockSize = DEFAULT_BLOCK_SIZE);

signals:
    /// Extra end notice on most failure paths, never on success.
    void finished();
    /// The end: fileName is the target path on success, empty on failure.
    void finished(QString fileName);
    /// Progress in percent after each block and 100 at the end; `file` is the
    /// target's file name without its directory.
    void progress(QString file, int value);

protected:
    /// In the loader's thread: drops any earlier request, timers and network
    /// manager, creates new ones and sends the first request. Returns true.
    bool doStart() override;
    /// In the loader's thread: disconnects the receiver's slots given to the
    /// constructor, stops the timers and aborts a running request (the side
    /// file stays for a later resume). Returns true.
    bool doStop() override;

private slots:
    void download();
    // Accepts the certificate problems of requests made by the manager created
    // at start (kiosk servers with their own certificates rely on it); the
    // managers made after a timeout do not.
    void onSslErrors(QNetworkReply *reply, QList<QSslError> errors);
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);
    void finished(QNetworkReply *reply);
    void proxyAuthenticationRequired(QNetworkProxy proxy, QAuthenticator *authenticator);
    void downloadTimeout();

private:
    QScopedPointer<HttpFileLoaderPrivate> d_ptr;
    Q_DECLARE_PRIVATE(HttpFileLoader)
    Q_DISABLE_COPY(HttpFileLoader)
};

#endif // ORVELEXTLIB_HTTPFILELOADER_H
