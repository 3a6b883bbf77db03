#include <qsettingsext/dircreator.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
// The owner, group and other bits (Qt's "user" bits mirror the owner ones).
constexpr QFileDevice::Permissions modeMask(0x7077);

int mode(const QString &path)
{
    return int(QFileInfo(path).permissions() & modeMask);
}

QStringList messages;
} // namespace

class tst_DirCreator : public QObject
{
    Q_OBJECT

private slots:
    void permissionConstants();
    void createsWithMaskedPermissions_data();
    void createsWithMaskedPermissions();
    void existingPathIsLeftAlone();
    void failsSilently_data();
    void failsSilently();
};

void tst_DirCreator::permissionConstants()
{
    const QList<int> actual{int(DirCreator::DEFAULT_OWNER),      int(DirCreator::DEFAULT_GROUP),
                            int(DirCreator::DEFAULT_ALL),        int(DirCreator::FILE_DEFAULT_OWNER),
                            int(DirCreator::FILE_DEFAULT_GROUP), int(DirCreator::FILE_DEFAULT_ALL)};
    QCOMPARE(actual, QList<int>({0x7000, 0x7070, 0x7077, 0x6000, 0x6060, 0x6066}));
}

void tst_DirCreator::createsWithMaskedPermissions_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<int>("permissions");
    QTest::addColumn<bool>("fromCurrentDirectory");
    QTest::newRow("one-level-owner") << "new" << int(DirCreator::DEFAULT_OWNER) << false;
    QTest::newRow("one-level-group") << "new" << int(DirCreator::DEFAULT_GROUP) << false;
    // The umask takes away from the set asked for, as it does for mkdir.
    QTest::newRow("one-level-all") << "new" << int(DirCreator::DEFAULT_ALL) << false;
    QTest::newRow("nested-all") << "a/b/c" << int(DirCreator::DEFAULT_ALL) << false;
    QTest::newRow("nested-owner") << "a/b/c" << int(DirCreator::DEFAULT_OWNER) << false;
    QTest::newRow("trailing-separator") << "x/y/" << int(DirCreator::DEFAULT_GROUP) << false;
    QTest::newRow("odd-set") << "odd" << 0x7050 << false;
    QTest::newRow("relative-path") << "rel/dir" << int(DirCreator::DEFAULT_OWNER) << true;
}

void tst_DirCreator::createsWithMaskedPermissions()
{
    QFETCH(QString, relative);
    QFETCH(int, permissions);
    QFETCH(bool, fromCurrentDirectory);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // What a plain mkdir gives here, for the parent levels.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("plain")));
    const int platformDefault = mode(dir.filePath(QStringLiteral("plain")));
    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([previous] { QDir::setCurrent(previous); });
    if (fromCurrentDirectory)
        QVERIFY(QDir::setCurrent(dir.path()));

    const QString path = dir.filePath(relative);
    QVERIFY(DirCreator::checkAndCreate(fromCurrentDirectory ? relative : path, QFileDevice::Permissions(permissions)));
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(mode(path), permissions & platformDefault);
    // Parent levels created on the way keep the platform's defaults.
    for (QString parent = QFileInfo(QDir::cleanPath(path)).path(); parent.size() > dir.path().size(); parent = QFileInfo(parent).path())
        QCOMPARE(mode(parent), platformDefault);
}

void tst_DirCreator::existingPathIsLeftAlone()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString kept = dir.filePath(QStringLiteral("kept")), file = dir.filePath(QStringLiteral("file.txt"));
    QVERIFY(QDir().mkdir(kept));
    QVERIFY(QFile::setPermissions(kept, QFileDevice::Permissions(0x7040)));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("content") == 7);
    f.close();
    QVERIFY(QFile::setPermissions(file, DirCreator::FILE_DEFAULT_OWNER));
    // An existing directory keeps its permissions; an existing file counts as existing.
    QVERIFY(DirCreator::checkAndCreate(kept, DirCreator::DEFAULT_ALL));
    QCOMPARE(mode(kept), 0x7040);
    QVERIFY(DirCreator::checkAndCreate(file, DirCreator::DEFAULT_ALL));
    QVERIFY(QFileInfo(file).isFile());
    QCOMPARE(QFileInfo(file).size(), qint64(7));
    QCOMPARE(mode(file), int(DirCreator::FILE_DEFAULT_OWNER));
}

void tst_DirCreator::failsSilently_data()
{
    QTest::addColumn<QString>("relative"); // below a temporary directory holding "file" and "locked"
    QTest::newRow("empty-path") << QString();
    QTest::newRow("below-file") << "file/sub";
    QTest::newRow("deeper-below-file") << "file/sub/deeper";
    QTest::newRow("read-only-parent") << "locked/child";
}

void tst_DirCreator::failsSilently()
{
    QFETCH(QString, relative);
#ifdef Q_OS_UNIX
    if (relative.startsWith(QLatin1String("locked")) && ::geteuid() == 0)
        QSKIP("permissions do not stop the superuser");
#endif
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto unlock = qScopeGuard([locked] { QFile::setPermissions(locked, DirCreator::DEFAULT_OWNER); });

    const QString path = relative.isEmpty() ? QString() : dir.filePath(relative);
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { messages << message; });
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    QVERIFY(!DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL));
    QCOMPARE(messages, QStringList());
    QVERIFY(path.isEmpty() || !QFileInfo::exists(path));
    QVERIFY(QFileInfo(file.fileName()).isFile());
}

QTEST_GUILESS_MAIN(tst_DirCreator)
#include "tst_dircreator.moc"
