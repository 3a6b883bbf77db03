// Compression: a log text packed and unpacked in memory, and a member made by
// the system's gzip tool unpacked the same way.

#include "demos.h"

#include <orvelextlib.h>

#include <QProcess>
#include <QStandardPaths>

bool demoCompression(DemoContext &ctx)
{
    QByteArray text;
    for (int i = 0; i < 400; ++i)
        text += QStringLiteral("2024-05-01 12:%1:%2 INFO  kiosk: door %3 %4\n")
                    .arg(i / 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 7)
                    .arg(i % 3 ? QStringLiteral("opened") : QStringLiteral("closed"))
                    .toUtf8();

    const QByteArray packed = GzipStreamWrapper::gzcompress(text);
    ctx.out << "   gzcompress: " << text.size() << " bytes of log text -> " << packed.size() << " bytes ("
            << QString::number(100.0 * packed.size() / text.size(), 'f', 1) << "%)" << Qt::endl;
    const QByteArray unpacked = GzipStreamWrapper::gzuncompress(packed);
    const bool same = unpacked == text;
    ctx.out << "   gzuncompress: " << unpacked.size() << " bytes, " << (same ? "identical" : "DIFFERENT")
            << Qt::endl;

    if (QStandardPaths::findExecutable(QStringLiteral("gzip")).isEmpty()) {
        ctx.out << "   gzip tool: skipped: gzip not found" << Qt::endl;
        return same;
    }
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-c"), QStringLiteral("-9")});
    gzip.write(text);
    gzip.closeWriteChannel();
    if (!gzip.waitForFinished(10000) || gzip.exitCode() != 0) {
        ctx.out << "   gzip tool: skipped: gzip did not run" << Qt::endl;
        return same;
    }
    const QByteArray member = gzip.readAllStandardOutput();
    const bool toolSame = GzipStreamWrapper::gzuncompress(member) == text;
    ctx.out << "   gzip -9 member of " << member.size() << " bytes unpacked: "
            << (toolSame ? "identical" : "DIFFERENT") << Qt::endl;
    return same && toolSame;
}
