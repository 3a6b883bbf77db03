#include "testfiles.h"

#include <qsettingsext/dircreator.h>

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
// The owner, group and other bits (Qt's "user" bits mirror the owner ones).
int mode(const QString &path)
{
    return int(QFileInfo(path).permissions() & QFileDevice::Permissions(0x7077));
}

QStringList messages;
} // namespace

class tst_DirCreator : public QObject
{
    Q_OBJECT

private slots:
    void checkAndCreate_data();
    void checkAndCreate();
};

void tst_DirCreator::checkAndCreate_data()
{
    QTest::addColumn<QString>("path"); // below a directory holding "kept", "file" and "locked"
    QTest::addColumn<int>("permissions");
    QTest::addColumn<bool>("exists");
    const int owner = DirCreator::DEFAULT_OWNER, all = DirCreator::DEFAULT_ALL;
    QTest::newRow("one-level-owner") << "new" << owner << true;
    // The umask takes away from the set asked for, as it does for mkdir.
    QTest::newRow("one-level-all") << "new" << all << true;
    QTest::newRow("nested-all") << "a/b/c" << all << true;
    QTest::newRow("trailing-separator") << "x/y/" << int(DirCreator::DEFAULT_GROUP) << true;
    QTest::newRow("relative-path") << "./rel/dir" << owner << true;
    // Existing paths are left as they are; impossible ones give false.
    QTest::newRow("existing-directory-keeps-permissions") << "kept" << all << true;
    QTest::newRow("existing-file-counts") << "file" << all << true;
    QTest::newRow("empty-path") << QString() << all << false;
    QTest::newRow("below-file") << "file/sub/deeper" << all << false;
    QTest::newRow("read-only-parent") << "locked/child" << all << false;
}

// Silently: callers log their own messages.
void tst_DirCreator::checkAndCreate()
{
    QFETCH(QString, path);
    QFETCH(int, permissions);
    QFETCH(bool, exists);
#ifdef Q_OS_UNIX
    if (path.startsWith("locked") && ::geteuid() == 0)
        QSKIP("permissions do not stop the superuser");
#endif
    QTemporaryDir dir;
    const QString kept = dir.filePath("kept"), file = dir.filePath("file"),
                  locked = dir.filePath("locked");
    QVERIFY(QDir().mkdir(kept) && QDir().mkdir(locked) && writeFile(file, "content"));
    QVERIFY(QFile::setPermissions(kept, QFileDevice::Permissions(0x7040)));
    QVERIFY(QFile::setPermissions(file, DirCreator::FILE_DEFAULT_OWNER));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto unlock
        = qScopeGuard([locked] { QFile::setPermissions(locked, DirCreator::DEFAULT_OWNER); });
    // What a plain mkdir gives here, for the parent levels.
    QVERIFY(QDir(dir.path()).mkdir("plain"));
    const int platformDefault = mode(dir.filePath("plain"));
    // Relative paths are taken from the current directory.
    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([previous] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(dir.path()));
    const bool created = exists && !QFileInfo::exists(path);

    messages.clear();
    const QtMessageHandler handler = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { messages << message; });
    const bool result = DirCreator::checkAndCreate(
        path.isEmpty() || path.startsWith('.') ? path : dir.filePath(path),
        QFileDevice::Permissions(permissions));
    qInstallMessageHandler(handler);
    QCOMPARE(result, exists);
    QCOMPARE(messages, QStringList());
    QCOMPARE(mode(kept), 0x7040);
    QCOMPARE(mode(file), int(DirCreator::FILE_DEFAULT_OWNER));
    QCOMPARE(readFile(file), QByteArray("content"));
    QVERIFY(exists || path.isEmpty() || !QFileInfo::exists(path));
    if (!created)
        return;
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(mode(path), permissions & platformDefault);
    // Parent levels made on the way keep the platform's defaults.
    for (QString parent = QFileInfo(QDir::cleanPath(path)).path(); parent != ".";
         parent = QFileInfo(parent).path())
        QCOMPARE(mode(parent), platformDefault);
}

QTEST_GUILESS_MAIN(tst_DirCreator)
#include "tst_dircreator.moc"
