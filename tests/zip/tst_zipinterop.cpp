// Archives exchanged with the real tools: Info-ZIP zip and unzip, 7-Zip and
// Python's zipfile.
#include "ziptestutil.h"

#include <zip/unzip.h>
#include <zip/zip.h>

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace ziptest;

namespace {

const char *const pythonCheck = R"(
import sys, zipfile
path, pwd, out = sys.argv[1], sys.argv[2], sys.argv[3]
with zipfile.ZipFile(path) as z:
    if pwd:
        z.setpassword(pwd.encode())
    bad = z.testzip()
    if bad is not None:
        print("bad entry", bad)
        sys.exit(1)
    z.extractall(out)
    sys.stdout.write(z.comment.decode("latin-1"))
)";

const char *const pythonWrite = R"(
import os, sys, zipfile
path, method, root = sys.argv[1], sys.argv[2], sys.argv[3]
compression = zipfile.ZIP_STORED if method == "stored" else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(path, "w", compression) as z:
    for base, dirs, files in os.walk(root):
        for name in sorted(files):
            full = os.path.join(base, name)
            z.write(full, os.path.relpath(full, os.path.dirname(root)))
)";

} // namespace

class tst_ZipInterop : public QObject
{
    Q_OBJECT

    QString m_zip, m_unzip, m_7z, m_python;
    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }
    QString src() const { return path(QStringLiteral("src")); }

private slots:
    void initTestCase()
    {
        m_zip = tool(QStringLiteral("zip"));
        m_unzip = tool(QStringLiteral("unzip"));
        m_7z = tool(QStringLiteral("7z"));
        m_python = tool(QStringLiteral("python3"));
    }

    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
        QVERIFY(writeFile(src() + "/logs/service.log", logText(300000, 21)));
        QVERIFY(writeFile(src() + "/logs/old/2024-01-01.log", logText(70000, 22)));
        QVERIFY(writeFile(src() + "/data/random.bin", randomBytes(100000, 23)));
        QVERIFY(writeFile(src() + "/data/tiny.txt", "tiny"));
        QVERIFY(writeFile(src() + "/data/empty.txt", QByteArray()));
        QVERIFY(writeFile(src() + QStringLiteral("/\u043e\u0442\u0447\u0435\u0442.txt"), logText(5000, 24)));
        QVERIFY(writeFile(src() + QStringLiteral("/caf\u00e9.txt"),
                          "coffee and more coffee and more coffee and more coffee, hot")); // 59 bytes: stored
    }

    void ourArchivesPassTools_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("comment");
        QTest::newRow("stored") << int(Zip::Store) << QString() << QString();
        QTest::newRow("deflate-1") << int(Zip::Deflate1) << QString() << QString();
        QTest::newRow("deflate-5-comment") << int(Zip::Deflate5) << QString() << QStringLiteral("nightly logs");
        QTest::newRow("deflate-9") << int(Zip::Deflate9) << QString() << QString();
        QTest::newRow("by-type") << int(Zip::AutoFull) << QString() << QString();
        QTest::newRow("password-deflated") << int(Zip::Deflate6) << QStringLiteral("s3cret") << QString();
        QTest::newRow("password-stored") << int(Zip::Store) << QStringLiteral("s3cret") << QStringLiteral("sealed");
    }

    void ourArchivesPassTools()
    {
        QFETCH(int, level);
        QFETCH(QString, password);
        QFETCH(QString, comment);
        const QString archive = path("ours.zip");
        Zip zip;
        zip.setPassword(password);
        QCOMPARE(zip.createArchive(archive), Zip::Ok);
        zip.setArchiveComment(comment);
        QCOMPARE(zip.addDirectory(src(), QString(), Zip::CompressionLevel(level)), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);

        if (!m_unzip.isEmpty()) {
            const QStringList pw = password.isEmpty() ? QStringList() : QStringList{"-P", password};
            ToolResult r = runTool(m_unzip, QStringList{"-t", "-q"} + pw << archive);
            QVERIFY2(r.exitCode == 0, r.output.constData());
            r = runTool(m_unzip, QStringList{"-q"} + pw << archive << "-d" << path("by-unzip"));
            QVERIFY2(r.exitCode == 0, r.output.constData());
            QCOMPARE(fileTree(path("by-unzip/src")), fileTree(src()));
        }
        if (!m_7z.isEmpty()) {
            const QString pw = QStringLiteral("-p") + password;
            ToolResult r = runTool(m_7z, {"t", pw, archive});
            QVERIFY2(r.exitCode == 0, r.output.constData());
            r = runTool(m_7z, {"x", "-y", pw, "-o" + path("by-7z"), archive});
            QVERIFY2(r.exitCode == 0, r.output.constData());
            QCOMPARE(fileTree(path("by-7z/src")), fileTree(src()));
        }
        if (!m_python.isEmpty()) {
            const ToolResult r = runTool(m_python, {"-c", pythonCheck, archive, password, path("by-python")});
            QVERIFY2(r.exitCode == 0, r.output.constData());
            QCOMPARE(QString::fromLatin1(r.output), comment);
            QCOMPARE(fileTree(path("by-python/src")), fileTree(src()));
        }
        if (m_unzip.isEmpty() && m_7z.isEmpty() && m_python.isEmpty())
            QSKIP("none of unzip, 7z, python3 is installed");
    }

    void toolArchivesReadByUnZip_data()
    {
        QTest::addColumn<QString>("maker");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("partial"); // some entries in a method the reader lacks
        QTest::newRow("zip-r") << "zip" << QStringList{"-q", "-r", "tool.zip", "src"} << QString() << false;
        QTest::newRow("zip-0") << "zip" << QStringList{"-q", "-r", "-0", "tool.zip", "src"} << QString() << false;
        QTest::newRow("zip-9") << "zip" << QStringList{"-q", "-r", "-9", "tool.zip", "src"} << QString() << false;
        QTest::newRow("zip-P") << "zip" << QStringList{"-q", "-r", "-P", "pa55", "tool.zip", "src"} << "pa55" << false;
        QTest::newRow("zip-to-pipe") << "sh" << QStringList{"-c", "zip -q -r - src | cat > tool.zip"} << QString()
                                     << false;
        QTest::newRow("zip-P-to-pipe") << "sh" << QStringList{"-c", "zip -q -r -P pa55 - src | cat > tool.zip"}
                                       << "pa55" << false;
        for (const char *method : {"stored", "deflated"})
            QTest::addRow("python-%s", method) << "python3" << QStringList{"-c", pythonWrite, "tool.zip", method, "src"}
                                               << QString() << false;
        QTest::newRow("7z-deflate") << "7z" << QStringList{"a", "-tzip", "-bd", "tool.zip", "src"} << QString() << false;
        // bzip2 for the files with content worth packing; the tiny and empty ones are stored.
        QTest::newRow("zip-bzip2") << "zip" << QStringList{"-q", "-r", "-Z", "bzip2", "tool.zip", "src"} << QString()
                                   << true;
    }

    void toolArchivesReadByUnZip()
    {
        QFETCH(QString, maker);
        QFETCH(QStringList, command);
        QFETCH(QString, password);
        QFETCH(bool, partial);
        if (tool(maker).isEmpty() || (maker == "sh" && m_zip.isEmpty()))
            QSKIP("the archiver is not installed");
        const ToolResult made = runTool(tool(maker), command, m_tmp->path());
        QVERIFY2(made.exitCode == 0, made.output.constData());

        // Wrong passwords and unsupported entries are noted at debug level: expected here.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
        UnZip uz;
        QCOMPARE(uz.openArchive(path("tool.zip")), UnZip::Ok);
        QStringList files;
        for (const ZipEntry &e : uz.entryList()) {
            if (e.type() == ZipEntry::File)
                files << e.filename();
        }
        QStringList expected = fileTree(src()).keys();
        for (QString &name : expected)
            name.prepend("src/");
        QCOMPARE(files, expected);

        if (!password.isEmpty()) {
            uz.setPassword("wrong");
            QCOMPARE(uz.extractAll(path("wrong")), UnZip::WrongPassword);
            // Only an empty entry can come out: nothing but the one-byte check
            // guards it, which one wrong password in 256 passes.
            for (const QByteArray &data : fileTree(path("wrong")))
                QVERIFY(data.isEmpty());
            uz.setPassword(password);
        }
        // Entries the reader cannot decompress are listed and refused one by one, and
        // the whole extraction says it is incomplete; the others still come out.
        QMap<QString, QByteArray> extracted = fileTree(src());
        for (const ZipEntry &e : uz.entryList()) {
            if (e.compression() == ZipEntry::UnknownCompression) {
                QCOMPARE(uz.extractFile(e.filename(), path("one")), UnZip::InvalidArchive);
                extracted.remove(e.filename().mid(4));
            }
        }
        QCOMPARE(extracted.size() < expected.size(), partial);
        const UnZip::ErrorCode result = partial ? UnZip::PartiallyCorrupted : UnZip::Ok;
        QCOMPARE(uz.verifyArchive(), result);
        QCOMPARE(uz.extractAll(path("out")), result);
        QCOMPARE(fileTree(path("out/src")), extracted);
    }
};

QTEST_GUILESS_MAIN(tst_ZipInterop)
#include "tst_zipinterop.moc"
