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
constexpr QFileDevice::Permissions modeMask =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
    | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
    | QFileDevice::ExeOther;

QFileDevice::Permissions mode(const QString &path)
{
    return QFileInfo(path).permissions() & modeMask;
}

// Counts the messages logged while it lives.
QStringList messages;
void capture(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messages.append(message);
}
} // namespace

class tst_DirCreator : public QObject
{
    Q_OBJECT

private slots:
    void permissionConstants_data();
    void permissionConstants();
    void createsWithExactPermissions_data();
    void createsWithExactPermissions();
    void existingDirectoryKeepsPermissions();
    void existingFileCountsAsExisting();
    void pathBelowFileFails();
    void relativePathFollowsCurrentDirectory();
    void emptyPathFailsSilently();
    void readOnlyParentFails();
};

void tst_DirCreator::permissionConstants_data()
{
    QTest::addColumn<int>("actual");
    QTest::addColumn<int>("expected");
    QTest::newRow("DEFAULT_OWNER") << int(DirCreator::DEFAULT_OWNER) << 0x7000;
    QTest::newRow("DEFAULT_GROUP") << int(DirCreator::DEFAULT_GROUP) << 0x7070;
    QTest::newRow("DEFAULT_ALL") << int(DirCreator::DEFAULT_ALL) << 0x7077;
    QTest::newRow("FILE_DEFAULT_OWNER") << int(DirCreator::FILE_DEFAULT_OWNER) << 0x6000;
    QTest::newRow("FILE_DEFAULT_GROUP") << int(DirCreator::FILE_DEFAULT_GROUP) << 0x6060;
    QTest::newRow("FILE_DEFAULT_ALL") << int(DirCreator::FILE_DEFAULT_ALL) << 0x6066;
}

void tst_DirCreator::permissionConstants()
{
    QFETCH(int, actual);
    QFETCH(int, expected);
    QCOMPARE(actual, expected);
}

void tst_DirCreator::createsWithExactPermissions_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<int>("permissions");

    QTest::newRow("one-level-owner") << "new" << int(DirCreator::DEFAULT_OWNER);
    QTest::newRow("one-level-group") << "new" << int(DirCreator::DEFAULT_GROUP);
    // Wider than the usual umask allows for mkdir.
    QTest::newRow("one-level-all") << "new" << int(DirCreator::DEFAULT_ALL);
    QTest::newRow("nested-all") << "a/b/c" << int(DirCreator::DEFAULT_ALL);
    QTest::newRow("nested-owner") << "a/b/c" << int(DirCreator::DEFAULT_OWNER);
    QTest::newRow("trailing-separator") << "x/y/" << int(DirCreator::DEFAULT_GROUP);
    QTest::newRow("odd-set") << "odd" << int(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                             | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
}

void tst_DirCreator::createsWithExactPermissions()
{
    QFETCH(QString, relative);
    QFETCH(int, permissions);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // What a plain mkdir gives here, for the parent levels.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("plain")));
    const QFileDevice::Permissions platformDefault = mode(dir.filePath(QStringLiteral("plain")));

    const QString path = dir.filePath(relative);
    QVERIFY(DirCreator::checkAndCreate(path, QFileDevice::Permissions(permissions)));
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(int(mode(path)), permissions);

    // Parent levels created on the way keep the platform's defaults.
    QStringList levels = QDir::cleanPath(relative).split(QLatin1Char('/'));
    levels.removeLast();
    QString parent = dir.path();
    for (const QString &level : qAsConst(levels)) {
        parent += QLatin1Char('/') + level;
        QCOMPARE(int(mode(parent)), int(platformDefault));
    }
}

void tst_DirCreator::existingDirectoryKeepsPermissions()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("kept"));
    QVERIFY(QDir().mkdir(path));
    const QFileDevice::Permissions before =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(path, before));

    QVERIFY(DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL));
    QCOMPARE(int(mode(path)), int(before));
}

void tst_DirCreator::existingFileCountsAsExisting()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("file.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("content");
    file.close();
    QVERIFY(QFile::setPermissions(path, DirCreator::FILE_DEFAULT_OWNER));

    QVERIFY(DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL));
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).size(), qint64(7));
    QCOMPARE(int(mode(path)), int(DirCreator::FILE_DEFAULT_OWNER));
}

void tst_DirCreator::pathBelowFileFails()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString filePath = dir.filePath(QStringLiteral("file"));
    QFile file(filePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    QVERIFY(!DirCreator::checkAndCreate(filePath + QStringLiteral("/sub"), DirCreator::DEFAULT_ALL));
    QVERIFY(!DirCreator::checkAndCreate(filePath + QStringLiteral("/sub/deeper"), DirCreator::DEFAULT_ALL));
    QVERIFY(QFileInfo(filePath).isFile());
    QCOMPARE(messages, QStringList());
}

void tst_DirCreator::relativePathFollowsCurrentDirectory()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([previous] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(dir.path()));

    QVERIFY(DirCreator::checkAndCreate(QStringLiteral("rel/dir"), DirCreator::DEFAULT_OWNER));
    const QString created = dir.filePath(QStringLiteral("rel/dir"));
    QVERIFY(QFileInfo(created).isDir());
    QCOMPARE(int(mode(created)), int(DirCreator::DEFAULT_OWNER));
}

void tst_DirCreator::emptyPathFailsSilently()
{
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    QVERIFY(!DirCreator::checkAndCreate(QString(), DirCreator::DEFAULT_ALL));
    QVERIFY(!DirCreator::checkAndCreate(QStringLiteral(""), DirCreator::DEFAULT_ALL));
    QCOMPARE(messages, QStringList());
}

void tst_DirCreator::readOnlyParentFails()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        QSKIP("permissions do not stop the superuser");
#endif
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString parent = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(parent));
    QVERIFY(QFile::setPermissions(parent, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto unlock = qScopeGuard([parent] { QFile::setPermissions(parent, DirCreator::DEFAULT_OWNER); });
    QVERIFY(!DirCreator::checkAndCreate(parent + QStringLiteral("/child"), DirCreator::DEFAULT_ALL));
    QVERIFY(!QFileInfo::exists(parent + QStringLiteral("/child")));
}

QTEST_GUILESS_MAIN(tst_DirCreator)
#include "tst_dircreator.moc"
