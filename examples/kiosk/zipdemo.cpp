// Zip: packs a few files it writes, lists the entries, extracts them again
// and compares them with the originals.

#include "demos.h"

#include <orvelextlib.h>

#include <QDir>
#include <QFile>

bool demoZip(DemoContext &ctx)
{
    QDir work(ctx.workDir + QStringLiteral("/zip"));
    work.removeRecursively();
    QDir().mkpath(work.filePath(QStringLiteral("src/logs")));

    QMap<QString, QByteArray> files;
    QByteArray log;
    for (int i = 0; i < 2000; ++i)
        log += "2024-03-11 12:00:" + QByteArray::number(i % 60) + " INFO worker finished job "
            + QByteArray::number(i) + '\n';
    files.insert(QStringLiteral("logs/service.log"), log);
    files.insert(QStringLiteral("readme.txt"), "Packed by the kiosk demo.\n");
    files.insert(QStringLiteral("\u043e\u0442\u0447\u0435\u0442.csv"), "id;value\n1;42\n");
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        QFile f(work.filePath(QStringLiteral("src/") + it.key()));
        if (!f.open(QIODevice::WriteOnly) || f.write(it.value()) != it.value().size())
            return false;
    }

    const QString archive = work.filePath(QStringLiteral("demo.zip"));
    Zip zip;
    zip.setArchiveComment(QStringLiteral("kiosk demo"));
    Zip::ErrorCode zec = zip.createArchive(archive);
    if (zec == Zip::Ok)
        zec = zip.addDirectoryContents(work.filePath(QStringLiteral("src")), Zip::AutoFull);
    if (zec == Zip::Ok)
        zec = zip.closeArchive();
    if (zec != Zip::Ok) {
        ctx.out << "   zip failed: " << zip.formatError(zec) << Qt::endl;
        return false;
    }
    ctx.out << "   packed " << files.size() << " files into demo.zip (" << QFile(archive).size()
            << " bytes)" << Qt::endl;

    UnZip unzip;
    UnZip::ErrorCode uec = unzip.openArchive(archive);
    if (uec != UnZip::Ok) {
        ctx.out << "   unzip failed: " << unzip.formatError(uec) << Qt::endl;
        return false;
    }
    ctx.out << "   comment: " << unzip.archiveComment() << Qt::endl;
    const QList<ZipEntry> entries = unzip.entryList();
    for (const ZipEntry &e : entries) {
        ctx.out << QStringLiteral("   %1 %2 -> %3 bytes, %4")
                       .arg(e.filename(), -20)
                       .arg(e.uncompressedSize(), 6)
                       .arg(e.compressedSize(), 6)
                       .arg(e.compression() == ZipEntry::Deflated ? QStringLiteral("deflated")
                                                                  : QStringLiteral("stored"))
                << Qt::endl;
    }
    uec = unzip.extractAll(work.filePath(QStringLiteral("out")));
    if (uec != UnZip::Ok) {
        ctx.out << "   extract failed: " << unzip.formatError(uec) << Qt::endl;
        return false;
    }
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        QFile f(work.filePath(QStringLiteral("out/") + it.key()));
        if (!f.open(QIODevice::ReadOnly) || f.readAll() != it.value()) {
            ctx.out << "   " << it.key() << " differs after extraction" << Qt::endl;
            return false;
        }
    }
    ctx.out << "   extracted again: every file identical" << Qt::endl;
    return true;
}
