// Settings: the kiosk's start-up configuration comes from an INI file (made on
// the first run) through InitConfig; a few of its settings live in an XML store.

#include "demos.h"

#include <orvelextlib.h>

#include <QFile>
#include <QIODevice>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QRect>
#include <QSettings>

namespace {
QString shown(const DemoContext &ctx, QString path)
{
    return path.replace(ctx.workDir, QStringLiteral("<work>"));
}
} // namespace

bool demoSettings(DemoContext &ctx)
{
    const QString iniPath = ctx.workDir + QStringLiteral("/kiosk.ini");
    if (!QFile::exists(iniPath)) {
        QSettings ini(iniPath, QSettings::IniFormat);
        ini.setValue(InitConfig::WORK_DIR, ctx.workDir + QStringLiteral("/kiosk"));
        ini.setValue(InitConfig::KEEP_LOGS, 14);
        ini.setValue(InitConfig::IGNORE_LOGS, QStringLiteral("mqtt.debug/stomp.info"));
        ini.setValue(InitConfig::LOCALE, QStringLiteral("en_GB"));
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            ctx.out << "   cannot write " << iniPath << Qt::endl;
            return false;
        }
        ctx.out << "   first run: wrote " << shown(ctx, iniPath) << Qt::endl;
    }

    const InitConfig config(iniPath);
    ctx.out << "   work dir " << shown(ctx, config.workDir()) << ", logs " << shown(ctx, config.loggerPath())
            << " (kept " << config.keepLogs() << " days), run " << shown(ctx, config.runPath()) << Qt::endl;
    QStringList silenced;
    const QMap<QString, QString> ignored = config.ignoredLogs();
    for (auto it = ignored.constBegin(); it != ignored.constEnd(); ++it)
        silenced << it.key() + QLatin1Char('.') + it.value();
    ctx.out << "   silenced logs " << silenced.join(QStringLiteral(", ")) << ", locale "
            << config.locale().name() << Qt::endl;

    // The XML reader notes each document's version at debug level.
    QLoggingCategory *category = QLoggingCategory::defaultCategory();
    const bool debugWasOn = category->isDebugEnabled();
    category->setEnabled(QtDebugMsg, false);
    const auto restore = qScopeGuard([&] { category->setEnabled(QtDebugMsg, debugWasOn); });

    XmlSettings::regFormat();
    const QString storePath = config.configPath() + QStringLiteral("/kiosk.xml");
    XmlSettings store(storePath);
    const int runs = store.value(QStringLiteral("demo/runs"), 0).toInt() + 1;
    store.setValue(QStringLiteral("demo/runs"), runs);
    store.setValue(QStringLiteral("display/geometry"), QRect(0, 0, 1280, 800));
    store.setValue(QStringLiteral("display/title"), QStringLiteral("@Orvel kiosk"));
    const QStringList operators{QStringLiteral("Ada"), QStringLiteral("Grace")};
    store.beginWriteArray(QStringLiteral("operators"), operators.size());
    for (int i = 0; i < operators.size(); ++i) {
        store.setArrayIndex(i);
        store.setValue(QStringLiteral("name"), operators.at(i));
    }
    store.endArray();
    store.sync();
    if (store.status() != QSettings::NoError) {
        ctx.out << "   cannot write " << storePath << Qt::endl;
        return false;
    }

    const QRect geometry = store.value(QStringLiteral("display/geometry")).toRect();
    ctx.out << "   " << shown(ctx, storePath) << ": run " << runs << ", geometry " << geometry.width() << "x"
            << geometry.height() << ", title \"" << store.value(QStringLiteral("display/title")).toString()
            << "\", " << operators.size() << " operators; in the file:" << Qt::endl;
    QFile file(storePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("<geometry") || line.startsWith("<title") || line.startsWith("<_x0031_"))
            ctx.out << "       " << line << Qt::endl;
    }
    return true;
}
