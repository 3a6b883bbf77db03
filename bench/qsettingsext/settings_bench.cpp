// Load and save times of a 10,000-key store in the XML, JSON and Qt's own INI
// format, measured in one run. Prints a table; the target is XML and JSON
// within 2x of INI.

#include <qsettingsext/jsonsettings.h>
#include <qsettingsext/xmlsettings.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace {
constexpr int keyCount = 10000;
constexpr int runs = 15;

// Reaches the format functions, to time them without QSettings around them.
class XmlFunctions : public XmlSettings
{
public:
    using XmlSettings::readXmlData;
    using XmlSettings::writeXmlData;
};

QSettings::SettingsMap makeStore()
{
    QSettings::SettingsMap map;
    for (int i = 0; i < keyCount; ++i) {
        const QString key = QStringLiteral("section%1/group%2/key%3").arg(i / 500).arg(i / 25 % 20).arg(i % 25);
        switch (i % 4) {
        case 0:
            map.insert(key, QStringLiteral("a text value number %1 with some words").arg(i));
            break;
        case 1:
            map.insert(key, i * 7919);
            break;
        case 2:
            map.insert(key, i / 7.0);
            break;
        default: {
            QByteArray bytes(32, '\0');
            for (int b = 0; b < bytes.size(); ++b)
                bytes[b] = char((i * 31 + b * 17) & 0xFF);
            map.insert(key, bytes);
            break;
        }
        }
    }
    return map;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double best(std::vector<double> values)
{
    return *std::min_element(values.begin(), values.end());
}

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

struct Result
{
    QString name;
    QSettings::Format format;
    std::vector<double> saves;
    std::vector<double> loads;
    qint64 bytes = 0;
};

// The formats take turns in every run, so that a change in the machine's load
// affects them alike.
void measure(std::vector<Result> &results, const QString &dir, const QSettings::SettingsMap &store)
{
    for (int run = 0; run < runs; ++run) {
        for (Result &result : results) {
            // A new file name each time: Qt caches parsed files by name.
            const QString file = QStringLiteral("%1/save%2.%3").arg(dir).arg(run).arg(result.name.toLower());
            result.saves.push_back(timeMs([&] {
                QSettings settings(file, result.format);
                for (auto it = store.constBegin(); it != store.constEnd(); ++it)
                    settings.setValue(it.key(), it.value());
                settings.sync();
            }));
            result.bytes = QFileInfo(file).size();
        }
    }
    for (int run = 0; run < runs; ++run) {
        for (Result &result : results) {
            const QString extension = result.name.toLower();
            const QString copy = QStringLiteral("%1/load%2.%3").arg(dir).arg(run).arg(extension);
            QFile::copy(QStringLiteral("%1/save0.%2").arg(dir, extension), copy);
            int keys = 0;
            result.loads.push_back(timeMs([&] {
                QSettings settings(copy, result.format);
                keys = settings.allKeys().size();
            }));
            if (keys != store.size())
                qFatal("%s: the store did not load", qPrintable(result.name));
        }
    }
}

void measureFunctions(QTextStream &out, const QSettings::SettingsMap &store)
{
    std::vector<double> xmlWrite, xmlRead, jsonWrite, jsonRead;
    QByteArray xml, json;
    for (int run = 0; run < runs; ++run) {
        xmlWrite.push_back(timeMs([&] { xml = XmlFunctions::writeXmlData(store); }));
        xmlRead.push_back(timeMs([&] {
            QSettings::SettingsMap map;
            XmlFunctions::readXmlData(xml, map);
        }));
        jsonWrite.push_back(timeMs([&] {
            json.clear();
            QBuffer buffer(&json);
            buffer.open(QIODevice::WriteOnly);
            JsonSettings::writeJsonFile(buffer, store);
        }));
        jsonRead.push_back(timeMs([&] {
            QBuffer buffer(&json);
            buffer.open(QIODevice::ReadOnly);
            QSettings::SettingsMap map;
            JsonSettings::readJsonFile(buffer, map);
        }));
    }
    out << "format functions alone (in memory, no QSettings), median:\n";
    out << QStringLiteral("  XML   write %1 ms   read %2 ms\n")
               .arg(median(xmlWrite), 0, 'f', 1).arg(median(xmlRead), 0, 'f', 1);
    out << QStringLiteral("  JSON  write %1 ms   read %2 ms\n")
               .arg(median(jsonWrite), 0, 'f', 1).arg(median(jsonRead), 0, 'f', 1);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The XML reader reports each document's version at debug level.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    XmlSettings::regFormat();

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary directory");
    const QSettings::SettingsMap store = makeStore();

    QTextStream out(stdout);
    out << "settings_bench: " << keyCount
        << " keys (3 levels of groups; strings, integers, doubles, 32-byte arrays), "
        << runs << " runs each\n";
    out << "  save = construct, setValue every key, sync; load = construct on a fresh file, allKeys()\n\n";

    std::vector<Result> results{{QStringLiteral("INI"), QSettings::IniFormat, {}, {}, 0},
                                {QStringLiteral("XML"), XmlSettings::xmlFormat(), {}, {}, 0},
                                {QStringLiteral("JSON"), JsonSettings::jsonFormat(), {}, {}, 0}};
    measure(results, dir.path(), store);

    // Medians describe a typical run; on a busy machine the best runs show
    // the cost of the code itself.
    bool met = true;
    for (const auto &statistic : {std::make_pair("median", &median), std::make_pair("best", &best)}) {
        const auto pick = statistic.second;
        const double iniSave = pick(results[0].saves);
        const double iniLoad = pick(results[0].loads);
        out << statistic.first << ":\n";
        out << "format   save ms   load ms   file bytes   save/INI   load/INI\n";
        for (const Result &r : results) {
            const double saveRatio = pick(r.saves) / iniSave;
            const double loadRatio = pick(r.loads) / iniLoad;
            if (saveRatio > 2.0 || loadRatio > 2.0)
                met = false;
            out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                       .arg(r.name, -6)
                       .arg(pick(r.saves), 9, 'f', 1)
                       .arg(pick(r.loads), 9, 'f', 1)
                       .arg(r.bytes, 12)
                       .arg(saveRatio, 10, 'f', 2)
                       .arg(loadRatio, 10, 'f', 2);
        }
        out << "\n";
    }
    measureFunctions(out, store);
    out << "\ntarget (XML and JSON within 2x of INI, save and load, median and best): "
        << (met ? "met" : "NOT met") << "\n";
    return 0;
}
