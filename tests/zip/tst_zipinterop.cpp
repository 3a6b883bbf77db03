// Archives exchanged with Info-ZIP, 7-Zip and Python's zipfile.
#include "ziptestutil.h"

#include <zip/unzip.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ziptest;

namespace {
// Shell commands run in the test directory: a writer makes a.zip from src,
// a reader unpacks it into out; $PW holds the password ("password" in the
// tag), or nothing. Our own Zip takes the level in place of a command.
const char *const writers[][2] = {
    { "ours-stored", "0" },
    { "ours-deflate-9", "9" },
    { "ours-by-type", "12" },
    { "ours-password-deflated", "6" },
    { "ours-password-stored", "0" },
    { "ours-stored-after-stub", "0" }, // appended to a stub, an entry larger than the buffer
    { "zip", "zip -q -r a.zip src" },
    { "zip-0", "zip -q -r -0 a.zip src" },
    { "zip-password", "zip -q -r -P \"$PW\" a.zip src" },
    { "zip-to-pipe", "zip -q -r - src | cat > a.zip" }, // data descriptors
    { "zip-password-to-pipe", "zip -q -r -P \"$PW\" - src | cat > a.zip" },
    // bzip2 for the files with content worth packing, which our reader lacks.
    { "zip-bzip2", "zip -q -r -Z bzip2 a.zip src" },
    { "7z", "7z a -tzip -bd a.zip src" },
};
const char *const readers[][2] = {
    { "ours", nullptr },
    { "unzip", "unzip -q -P \"$PW\" a.zip -d out" },
    { "7z", "7z x -y -p\"$PW\" -oout a.zip" },
    { "python",
      "python3 -c 'import sys, zipfile; zipfile.ZipFile(\"a.zip\").extractall(\"out\", "
      "pwd=sys.argv[1].encode())' \"$PW\"" },
};
} // namespace

class tst_ZipInterop : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }

    // Runs a shell command of the tables; its output goes to the log when it fails.
    bool run(const QString &command, const QString &pw)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(m_tmp->path());
        p.start(QStringLiteral("sh"), { QStringLiteral("-c"), "PW=" + pw + "; " + command });
        p.closeWriteChannel();
        const bool done = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit
            && p.exitCode() == 0;
        if (!done)
            qWarning("%s:\n%s", qPrintable(command), p.readAll().constData());
        return done;
    }

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
        QVERIFY(writeFile(path("src/logs/service.log"), logText(300000, 21)));
        QVERIFY(writeFile(path("src/logs/old/2024-01-01.log"), logText(70000, 22)));
        QVERIFY(writeFile(path("src/data/random.bin"), randomBytes(100000, 23)));
        QVERIFY(writeFile(path("src/data/tiny.txt"), "tiny"));
        QVERIFY(writeFile(path("src/data/empty.txt"), QByteArray()));
        QVERIFY(writeFile(path(QStringLiteral("src/\u043e\u0442\u0447\u0435\u0442.txt")),
                          logText(5000, 24)));
        QVERIFY(writeFile(path(QStringLiteral("src/caf\u00e9.txt")), logText(59, 25))); // stored
    }

    void exchange_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("reader"); // empty: ours
        for (const auto &w : writers) {
            for (const auto &r : readers) {
                if (QByteArray(w[0]).startsWith("ours") != !r[1]) // one side is ours
                    QTest::addRow("%s-by-%s", w[0], r[0]) << QString(w[1]) << QString(r[1]);
            }
        }
    }

    void exchange()
    {
        QFETCH(QString, writer);
        QFETCH(QString, reader);
        const QByteArray tag = QTest::currentDataTag();
        const bool partial = tag.contains("bzip2");
        const QString tool = (reader.isEmpty() ? writer : reader).section(QLatin1Char(' '), 0, 0);
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("the archiver is not installed");
        const QString pw = tag.contains("password") ? QStringLiteral("pa55") : QString();
        QMap<QString, QByteArray> expected = tree(path("src"), false);
        if (!reader.isEmpty()) {
            Zip zip;
            zip.setPassword(pw);
            QFile file(path("a.zip"));
            const bool stub = tag.contains("stub");
            QVERIFY(!stub
                    || (writeFile(file.fileName(), "#!/bin/sh\n") && file.open(QIODevice::Append)));
            QCOMPARE(stub ? zip.createArchive(&file) : zip.createArchive(file.fileName()), Zip::Ok);
            QCOMPARE(zip.addDirectory(path("src"), {}, Zip::CompressionLevel(writer.toInt())),
                     Zip::Ok);
            QCOMPARE(zip.closeArchive(), Zip::Ok);
            QVERIFY(run(reader, pw));
            UnZip uz;
            QVERIFY(!stub
                    || (uz.openArchive(file.fileName()) == UnZip::Ok
                        && uz.verifyArchive() == UnZip::Ok));
            QCOMPARE(tree(path("out/src"), false), expected);
            return;
        }
        QVERIFY(run(writer, pw));
        // Unsupported entries are noted at debug level: expected here.
        const auto quiet = silenceDebug();
        UnZip uz;
        QCOMPARE(uz.openArchive(path("a.zip")), UnZip::Ok);
        QStringList files;
        for (const ZipEntry &e : uz.entryList()) {
            if (e.type() == ZipEntry::File)
                files << e.filename().mid(4);
        }
        QCOMPARE(files, expected.keys());
        uz.setPassword(QStringLiteral("pa55"));
        // Entries in methods we lack are listed and refused; the others come out.
        for (const ZipEntry &e : uz.entryList()) {
            if (e.compression() == ZipEntry::UnknownCompression) {
                QCOMPARE(uz.extractFile(e.filename(), path("one")), UnZip::InvalidArchive);
                expected.remove(e.filename().mid(4));
            }
        }
        QCOMPARE(expected.size() < files.size(), partial);
        const UnZip::ErrorCode result = partial ? UnZip::PartiallyCorrupted : UnZip::Ok;
        QCOMPARE(uz.verifyArchive(), result);
        QCOMPARE(uz.extractAll(path("out")), result);
        QCOMPARE(tree(path("out/src"), false), expected);
    }
};

QTEST_GUILESS_MAIN(tst_ZipInterop)
#include "tst_zipinterop.moc"
