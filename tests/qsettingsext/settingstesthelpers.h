#ifndef ORVEL_TESTS_SETTINGSTESTHELPERS_H
#define ORVEL_TESTS_SETTINGSTESTHELPERS_H

#include "testfiles.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVariantMap>

// Runs a Python 3 script with `arguments`; returns its standard output, or
// sets `error` to what went wrong (exit status and standard error).
inline QByteArray runPython(const QString &script, const QStringList &arguments, QString *error)
{
    QProcess python;
    python.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), script} + arguments);
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit
        || python.exitCode() != 0) {
        *error = QStringLiteral("python3 failed (%1): %2")
                     .arg(python.exitCode())
                     .arg(QString::fromUtf8(python.readAllStandardError()) + python.errorString());
        return QByteArray();
    }
    error->clear();
    return python.readAllStandardOutput();
}

// The store holds exactly the expected entries, of the expected types.
inline void compareEntries(const QSettings &settings, const QVariantMap &expected)
{
    QCOMPARE(settings.status(), QSettings::NoError);
    QStringList keys = settings.allKeys();
    keys.sort();
    QCOMPARE(keys, expected.keys());
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        const QVariant actual = settings.value(it.key());
        QVERIFY2(actual.userType() == it->userType(), qPrintable(it.key()));
        QCOMPARE(actual, it.value());
    }
}

// Writes `initial` (a store holding "keep" = "1") to `path`, sets `values`
// on it and syncs. With an empty `error` the store must be written and read
// back (from a copy: QSettings caches what it read per file name) with
// `values` and "keep"; otherwise the writer must refuse it with that message,
// QSettings report the failure and the file stay as it was.
template<typename Settings>
void setAndSync(const QString &path, const QByteArray &initial, QVariantMap values, const QString &error)
{
    QVERIFY(writeFile(path, initial));
    {
        Settings settings(path);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            settings.setValue(it.key(), it.value());
        if (!error.isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(QLatin1Char('"') + error + QLatin1Char('"')));
        settings.sync();
        QCOMPARE(settings.status(), error.isEmpty() ? QSettings::NoError : QSettings::AccessError);
    }
    if (!error.isEmpty()) {
        QCOMPARE(readFile(path), initial);
        return;
    }
    const QString copy = path + QStringLiteral(".reread");
    QVERIFY(QFile::copy(path, copy));
    values.insert(QStringLiteral("keep"), QStringLiteral("1"));
    compareEntries(Settings(copy), values);
}

// `components` components "a": "a/a/…/a".
inline QString keyOfDepth(int components)
{
    QStringList parts;
    for (int i = 0; i < components; ++i)
        parts.append(QStringLiteral("a"));
    return parts.join(QLatin1Char('/'));
}

// A long group name repeated in the key of each of `entries` entries.
inline QVariantMap amplifyingStore(int nameLength, int entries)
{
    const QString group(nameLength, QLatin1Char('g'));
    QVariantMap store;
    for (int i = 0; i < entries; ++i)
        store.insert(group + QStringLiteral("/b%1").arg(i), QStringLiteral("1"));
    return store;
}

#endif // ORVEL_TESTS_SETTINGSTESTHELPERS_H
