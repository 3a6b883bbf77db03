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

#endif // ORVEL_TESTS_SETTINGSTESTHELPERS_H
