// HTTP file loader: downloads a file from a local nginx in range-request
// blocks, showing a progress line, then resumes a broken-off download.

#include "demos.h"

#include "nginxserver.h"

#include <orvelextlib.h>

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTimer>

namespace {

class DownloadWatcher : public QObject
{
    Q_OBJECT
public:
    explicit DownloadWatcher(QTextStream &out) : m_out(out) {}
    QString result;

signals:
    void ended();

public slots:
    void onProgress(const QString &file, int percent)
    {
        m_out << "\r   " << file << ": " << QString::number(percent).rightJustified(3) << "% "
              << QString(percent / 4, QLatin1Char('#')) << Qt::flush;
    }
    void onFinished(const QString &file)
    {
        result = file;
        m_out << Qt::endl;
        emit ended();
    }

private:
    QTextStream &m_out;
};

QString download(const QString &url, const QString &target, QTextStream &out)
{
    DownloadWatcher watcher(out);
    QEventLoop loop;
    QObject::connect(&watcher, &DownloadWatcher::ended, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    HttpFileLoader::download(url, target, &watcher, SLOT(onFinished(QString)),
                             SLOT(onProgress(QString,int)), 256 * 1024);
    loop.exec();
    return watcher.result;
}

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool demoHttp(DemoContext &ctx)
{
    if (NginxServer::program().isEmpty()) {
        ctx.out << "   skipped: nginx is not installed" << Qt::endl;
        return true;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.debug=false"));
    NginxServer nginx;
    if (!nginx.start()) {
        ctx.out << "   nginx did not start: " << nginx.errorString() << Qt::endl;
        return false;
    }
    QByteArray data(4 * 1024 * 1024 + 321, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &c : data)
        c = char(generator.generate());
    nginx.putFile(QStringLiteral("kiosk-update.bin"), data);
    const QString url = nginx.url(QStringLiteral("kiosk-update.bin"));
    const QString target = ctx.workDir + QStringLiteral("/downloads/kiosk-update.bin");
    ctx.out << "   " << url << " -> " << target << Qt::endl;

    if (download(url, target, ctx.out) != target || sha256(fileContents(target)) != sha256(data)) {
        ctx.out << "   download failed" << Qt::endl;
        return false;
    }
    const int requests = nginx.requests(QStringLiteral("kiosk-update.bin")).size();
    ctx.out << "   " << data.size() << " bytes in " << requests
            << " range requests of 256 KiB + 1, SHA-256 matches" << Qt::endl;

    // A download that broke off after 1 MB resumes from its side file.
    QFile::remove(target);
    QFile part(target + QStringLiteral(".part"));
    if (!part.open(QIODevice::WriteOnly) || part.write(data.left(1000000)) != 1000000)
        return false;
    part.close();
    if (download(url, target, ctx.out) != target || sha256(fileContents(target)) != sha256(data)) {
        ctx.out << "   resumed download failed" << Qt::endl;
        return false;
    }
    ctx.out << "   resumed from the side file: first request "
            << nginx.requests(QStringLiteral("kiosk-update.bin")).value(requests).range << Qt::endl;
    return true;
}

#include "httpdemo.moc"
