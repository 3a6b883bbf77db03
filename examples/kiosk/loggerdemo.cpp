// Logger: installs LoggerManager as the Qt message handler, writing dated
// files into the work directory, logs from two threads and a category,
// releases it and shows where the entries went.

#include "demos.h"

#include <orvelextlib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>
#include <QThreadPool>

bool demoLogger(DemoContext &ctx)
{
    const QString dir = ctx.workDir + QStringLiteral("/logs");
    QDir(dir).removeRecursively();

    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::initLog(dir, 7, true, QtDebugMsg); // rotation: one file per day
    qWarning() << "kiosk started";
    auto work = [](int worker) {
        for (int step = 1; step <= 3; ++step)
            qWarning("worker %d, step %d done", worker, step);
    };
    QThread *first = QThread::create(work, 1);
    QThread *second = QThread::create(work, 2);
    first->start();
    second->start();
    first->wait();
    second->wait();
    delete first;
    delete second;
    const QLoggingCategory net("net"); // its messages get a file of their own
    qCCritical(net) << "broker connection lost, retrying";
    LoggerManager::releaseLog();

    // Take back what initLog changed for the whole process.
    QThreadPool::globalInstance()->waitForDone(); // the clean-up job it started
    QLoggingCategory::setFilterRules(QString());
    LoggerManager::setDebugOuts(LoggerManager::ConsoleOut);

    ctx.out << "   logged into " << QDir::toNativeSeparators(dir) << Qt::endl;
    const QStringList files = QDir(dir).entryList(QDir::Files, QDir::Name);
    QString netFile;
    for (const QString &name : files) {
        QFile f(QDir(dir).filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const int entries = f.readAll().count("THREAD_ID:");
        ctx.out << QStringLiteral("   %1 %2 entries").arg(name, -28).arg(entries) << Qt::endl;
        if (name.endsWith(QLatin1String(".net")))
            netFile = f.fileName();
    }
    QFile f(netFile);
    if (files.size() != 2 || !f.open(QIODevice::ReadOnly))
        return false;
    ctx.out << "   " << QFileInfo(netFile).fileName() << ":" << Qt::endl;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.isEmpty())
            ctx.out << "   | " << line << Qt::endl;
    }
    return true;
}
