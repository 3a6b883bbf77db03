#include "nginxserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

QString NginxServer::program()
{
    return PeerProcess::findProgram(QStringLiteral("nginx"));
}

QString NginxServer::rootDir() const
{
    return m_peer.dir() + QStringLiteral("/www");
}

QString NginxServer::url(const QString &path) const
{
    QString rel = path;
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(rel);
}

bool NginxServer::putFile(const QString &path, const QByteArray &data) const
{
    const QString full = rootDir() + QLatin1Char('/') + path;
    QDir().mkpath(QFileInfo(full).absolutePath());
    QSaveFile file(full);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size())
        return false;
    return file.commit();
}

bool NginxServer::start()
{
    m_error.clear();
    const QString nginx = program();
    if (nginx.isEmpty()) {
        m_error = QStringLiteral("nginx is not installed");
        return false;
    }
    const QString dir = m_peer.dir();
    QDir(dir).mkpath(QStringLiteral("www"));
    QDir(dir).mkpath(QStringLiteral("temp"));
    m_port = PeerProcess::freePort();

    // Run as root, nginx would hand the workers to "nobody", which cannot
    // read a private temporary directory: keep them under the current user.
    QString user;
    if (geteuid() == 0) {
        const passwd *pw = getpwuid(geteuid());
        const group *gr = getgrgid(getegid());
        if (pw && gr)
            user = QStringLiteral("user %1 %2;\n").arg(QString::fromLocal8Bit(pw->pw_name),
                                                      QString::fromLocal8Bit(gr->gr_name));
    }

    const QString conf = dir + QStringLiteral("/nginx.conf");
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out << user
        << "worker_processes 1;\n"
           "pid " << dir << "/nginx.pid;\n"
           "error_log " << dir << "/error.log warn;\n"
           "events { worker_connections 256; }\n"
           "http {\n"
           "    log_format ranges '$request_uri|$status|$http_range|$body_bytes_sent';\n"
           "    access_log " << dir << "/access.log ranges;\n"
           "    client_body_temp_path " << dir << "/temp/client;\n"
           "    proxy_temp_path " << dir << "/temp/proxy;\n"
           "    fastcgi_temp_path " << dir << "/temp/fastcgi;\n"
           "    uwsgi_temp_path " << dir << "/temp/uwsgi;\n"
           "    scgi_temp_path " << dir << "/temp/scgi;\n"
           "    default_type application/octet-stream;\n"
           // With sendfile, answers that start at offsets off a page boundary
           // (every block after the first, as ranges are blockSize + 1 long)
           // stall about 40 ms each on loopback, a kernel effect that hits
           // curl the same way; plain reads serve whole files just as fast.
           "    sendfile off;\n"
           "    keepalive_requests 1000000;\n"
           "    server {\n"
           "        listen 127.0.0.1:" << m_port << ";\n"
           "        root " << rootDir() << ";\n"
           "        location / { }\n"
           "    }\n"
           "}\n";
    out.flush();
    file.close();

    const QStringList args{QStringLiteral("-p"), dir,
                           QStringLiteral("-e"), dir + QStringLiteral("/error.log"),
                           QStringLiteral("-c"), conf,
                           QStringLiteral("-g"), QStringLiteral("daemon off;")};
    if (!m_peer.start(nginx, args, m_port)) {
        QFile err(dir + QStringLiteral("/error.log"));
        err.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("nginx did not start: ") + m_peer.log()
                  + QString::fromLocal8Bit(err.readAll());
        m_peer.stop();
        return false;
    }
    return true;
}

void NginxServer::stop()
{
    m_peer.stop();
}

QList<NginxServer::Request> NginxServer::requests(const QString &path) const
{
    QList<Request> result;
    QFile file(m_peer.dir() + QStringLiteral("/access.log"));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList parts = line.split(QLatin1Char('|'));
        if (parts.size() != 4)
            continue;
        Request request;
        request.path = parts.at(0);
        request.status = parts.at(1).toInt();
        request.range = parts.at(2) == QLatin1String("-") ? QString() : parts.at(2);
        request.bytesSent = parts.at(3).toLongLong();
        if (path.isEmpty() || request.path == path || request.path == QLatin1Char('/') + path)
            result.append(request);
    }
    return result;
}
