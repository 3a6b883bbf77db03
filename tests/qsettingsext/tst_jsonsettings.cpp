#include "settingstesthelpers.h"

#include <qsettingsext/jsonsettings.h>

#include <QBuffer>
#include <QRandomGenerator>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
class JsonProbe : public JsonSettings
{
public:
    using JsonSettings::processReadValue;
    using JsonSettings::processWriteValue;
};

// Prints the document as Python's json module reads it, keys sorted.
const QString canonicalScript = QStringLiteral(R"(
import sys, json
print(json.dumps(json.load(open(sys.argv[1], encoding="utf-8")), sort_keys=True))
)");
} // namespace

class tst_JsonSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void registeredAtLoad();
    void roundTrip_data();
    void roundTrip();
    void written_data();
    void written();
    void emptyStore();
    void pythonWrittenFileIsRead();
    void handWritten_data();
    void handWritten();
    void malformed_data();
    void malformed();
    void treeHelpers();
    void writerRefusesUnreadableStores_data();
    void writerRefusesUnreadableStores();

private:
    QString freshCopy(const QString &path);
    QByteArray canonical(const QString &path);
    void compareEntries(const QString &path, const QVariantMap &expected);

    QTemporaryDir m_dir;
    int m_copies = 0;
};

void tst_JsonSettings::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
}

// Qt keeps parsed settings files in a cache keyed by path; a copy under a new
// name is read from disk, as another process would read it.
QString tst_JsonSettings::freshCopy(const QString &path)
{
    const QString copy = m_dir.filePath(QStringLiteral("copy%1.json").arg(++m_copies));
    return QFile::copy(path, copy) ? copy : QString();
}

QByteArray tst_JsonSettings::canonical(const QString &path)
{
    QString error;
    const QByteArray out = runPython(canonicalScript, {path}, &error);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return out.trimmed();
}

void tst_JsonSettings::compareEntries(const QString &path, const QVariantMap &expected)
{
    ::compareEntries(JsonSettings(path), expected);
}

void tst_JsonSettings::registeredAtLoad()
{
    QVERIFY(JsonSettings::jsonFormat() != QSettings::InvalidFormat);
    const JsonSettings byName(QStringLiteral("orvel-test"), QStringLiteral("tst"));
    QCOMPARE(byName.format(), JsonSettings::jsonFormat());
    QVERIFY2(byName.fileName().endsWith(QLatin1String("/orvel-test/tst.json")), qPrintable(byName.fileName()));
}

void tst_JsonSettings::roundTrip_data()
{
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<QVariant>("expected");
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    const QVariantMap map{{"a", 1}, {"b", QVariantMap{{"c", "x"}}}};
    QTest::newRow("string") << QVariant("hello") << QVariant("hello");
    QTest::newRow("empty-string") << QVariant(QString()) << QVariant(QString());
    QTest::newRow("unicode") << QVariant(QString::fromUtf8("Grüße \"你好\" \U0001F600\n"))
                             << QVariant(QString::fromUtf8("Grüße \"你好\" \U0001F600\n"));
    QTest::newRow("int-as-double") << QVariant(42) << QVariant(42.0);
    QTest::newRow("big-integer") << QVariant(Q_INT64_C(9007199254740992)) << QVariant(9007199254740992.0);
    QTest::newRow("double") << QVariant(0.1) << QVariant(0.1);
    QTest::newRow("bool") << QVariant(false) << QVariant(false);
    QTest::newRow("invalid") << QVariant() << QVariant();
    QTest::newRow("bytes-all-256") << QVariant(allBytes) << QVariant(allBytes);
    QTest::newRow("bytes-empty") << QVariant(QByteArray()) << QVariant(QByteArray());
    QTest::newRow("map") << QVariant(map) << QVariant(map);
    // JSON has no form for it: written as null.
    QTest::newRow("rect-has-no-json-form") << QVariant(QRect(1, 2, 3, 4)) << QVariant();
    QTest::newRow("marker-inside-text") << QVariant("see @JSON: docs") << QVariant("see @JSON: docs");
    QTest::newRow("byte-marker-inside-text") << QVariant("x@QByteArray:00") << QVariant("x@QByteArray:00");
}

void tst_JsonSettings::roundTrip()
{
    QFETCH(QVariant, written);
    QFETCH(QVariant, expected);
    const QString path = m_dir.filePath(QStringLiteral("%1.json").arg(QTest::currentDataTag()));
    {
        JsonSettings settings(path);
        settings.setValue(QStringLiteral("group/value"), written);
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    compareEntries(freshCopy(path), {{"group/value", expected}});
}

// Values written, the document as another JSON reader sees it, and what is
// read back from it.
void tst_JsonSettings::written_data()
{
    QTest::addColumn<QVariantMap>("values");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVariantMap>("reread");

    QTest::newRow("example")
        << QVariantMap{{"a/b", 1}, {"d", true}, {"e", QByteArray("\x01\xab")}, {"f", QVariantMap{{"k", 1}}}}
        << QByteArray(R"j({"a": {"b": 1}, "d": true, "e": "@QByteArray:01ab", "f": "@JSON:{\"k\":1}"})j")
        << QVariantMap{{"a/b", 1.0}, {"d", true}, {"e", QByteArray("\x01\xab")}, {"f", QVariantMap{{"k", 1.0}}}};
    QVariantMap array{{"list/size", 12}, {"other", 1}}, arrayRead{{"list/size", 12}, {"other", 1.0}};
    QByteArray arrayJson = R"j({"list": [)j";
    for (int i = 1; i <= 12; ++i) {
        array.insert(QStringLiteral("list/%1/name").arg(i), QStringLiteral("n%1").arg(i));
        arrayJson += (i > 1 ? ", " : "") + QStringLiteral(R"j({"name": "n%1"})j").arg(i).toUtf8();
    }
    arrayRead.insert(array);
    arrayRead.insert("other", 1.0);
    QTest::newRow("array-of-12") << array << arrayJson + R"j(], "other": 1})j" << arrayRead;
    QTest::newRow("sparse-array-has-null")
        << QVariantMap{{"list/1/name", "a"}, {"list/3/name", "c"}, {"list/size", 3}}
        << QByteArray(R"j({"list": [{"name": "a"}, null, {"name": "c"}]})j")
        << QVariantMap{{"list/1/name", "a"}, {"list/2", QVariant()}, {"list/3/name", "c"}, {"list/size", 3}};
    QTest::newRow("list-value-becomes-array") << QVariantMap{{"names", QStringList{"a", "b"}}}
                                              << QByteArray(R"j({"names": ["a", "b"]})j")
                                              << QVariantMap{{"names/1", "a"}, {"names/2", "b"}, {"names/size", 2}};
    // A key "size" is common ("window/size"); a group holding it becomes an
    // array only when it is really a QSettings array, otherwise nothing would
    // be left of its other keys.
    QTest::newRow("window-size") << QVariantMap{{"window/size", 800}, {"window/pos", "10 20"}}
                                 << QByteArray(R"j({"window": {"pos": "10 20", "size": 800}})j")
                                 << QVariantMap{{"window/size", 800.0}, {"window/pos", "10 20"}};
    QTest::newRow("top-level-size") << QVariantMap{{"size", 2}, {"name", "x"}}
                                    << QByteArray(R"j({"name": "x", "size": 2})j")
                                    << QVariantMap{{"size", 2.0}, {"name", "x"}};
    QTest::newRow("key-after-size") << QVariantMap{{"list/1", "a"}, {"list/size", 1}, {"list/t", true}}
                                    << QByteArray(R"j({"list": {"1": "a", "size": 1, "t": true}})j")
                                    << QVariantMap{{"list/1", "a"}, {"list/size", 1.0}, {"list/t", true}};
    QTest::newRow("index-beyond-size") << QVariantMap{{"list/1", "a"}, {"list/2", "b"}, {"list/size", 1}}
                                       << QByteArray(R"j({"list": {"1": "a", "2": "b", "size": 1}})j")
                                       << QVariantMap{{"list/1", "a"}, {"list/2", "b"}, {"list/size", 1.0}};
    QTest::newRow("size-not-a-count") << QVariantMap{{"g/size", "large"}, {"g/1", "a"}}
                                      << QByteArray(R"j({"g": {"1": "a", "size": "large"}})j")
                                      << QVariantMap{{"g/size", "large"}, {"g/1", "a"}};
    QTest::newRow("huge-size") << QVariantMap{{"list/size", 100000000}} << QByteArray(R"j({"list": {"size": 100000000}})j")
                               << QVariantMap{{"list/size", 1e8}};
    QTest::newRow("top-level-array") << QVariantMap{{"size", 2}, {"1/a", 1}, {"2/a", 2}}
                                     << QByteArray(R"j([{"a": 1}, {"a": 2}])j")
                                     << QVariantMap{{"size", 2}, {"1/a", 1.0}, {"2/a", 2.0}};
    QTest::newRow("empty-array") << QVariantMap{{"list/size", 0}} << QByteArray(R"j({"list": []})j")
                                 << QVariantMap{{"list/size", 0}};
}

void tst_JsonSettings::written()
{
    QFETCH(QVariantMap, values);
    QFETCH(QByteArray, json);
    QFETCH(QVariantMap, reread);
    const QString path = m_dir.filePath(QStringLiteral("written-%1.json").arg(QTest::currentDataTag()));
    {
        JsonSettings settings(path);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            settings.setValue(it.key(), it.value());
    }
    if (QTest::currentDataTag() == QByteArray("example")) // the indented form, byte for byte
        QCOMPARE(readFile(path), QByteArray("{\n    \"a\": {\n        \"b\": 1\n    },\n    \"d\": true,\n"
                                            "    \"e\": \"@QByteArray:01ab\",\n    \"f\": \"@JSON:{\\\"k\\\":1}\"\n}\n"));
    QCOMPARE(canonical(path), json);
    compareEntries(freshCopy(path), reread);
}

void tst_JsonSettings::emptyStore()
{
    const QString path = m_dir.filePath(QStringLiteral("empty.json"));
    {
        JsonSettings settings(path);
        settings.setValue(QStringLiteral("k"), 1);
        settings.sync();
        settings.remove(QStringLiteral("k"));
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    QVERIFY(QFile::exists(path));
    QCOMPARE(readFile(path), QByteArray());
    compareEntries(freshCopy(path), {});

    QByteArray empty;
    QBuffer buffer(&empty);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QSettings::SettingsMap map;
    QVERIFY(JsonSettings::readJsonFile(buffer, map));
    QVERIFY(map.isEmpty());

    const QString blank = m_dir.filePath(QStringLiteral("blank.json"));
    QVERIFY(writeFile(blank, " \n\t\r\n"));
    JsonSettings settings(blank);
    QCOMPARE(settings.status(), QSettings::NoError);
    QVERIFY(settings.allKeys().isEmpty());
    settings.setValue(QStringLiteral("k"), 2);
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
    QCOMPARE(canonical(blank), QByteArray(R"j({"k": 2})j"));
}

void tst_JsonSettings::pythonWrittenFileIsRead()
{
    const QString path = m_dir.filePath(QStringLiteral("python.json"));
    const QString script = QStringLiteral(R"(
import sys, json
doc = {"net": {"hosts": ["a", "b"], "port": 1883, "tls": False},
       "servers": [{"host": "x"}, {"host": "y", "ports": [1, 2]}],
       "greeting": "Gr\u00fc\u00dfe \u4f60\u597d", "nothing": None,
       "blob": "@QByteArray:00ff", "map": "@JSON:{\"k\": [1, 2]}"}
json.dump(doc, open(sys.argv[1], "w", encoding="utf-8"))
)");
    QString error;
    runPython(script, {path}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    compareEntries(path, {{"net/hosts/size", 2}, {"net/hosts/1", "a"}, {"net/hosts/2", "b"}, {"net/port", 1883.0},
                          {"net/tls", false}, {"servers/size", 2}, {"servers/1/host", "x"}, {"servers/2/host", "y"},
                          {"servers/2/ports/size", 2}, {"servers/2/ports/1", 1.0}, {"servers/2/ports/2", 2.0},
                          {"greeting", QString::fromUtf8("Grüße 你好")}, {"nothing", QVariant()},
                          {"blob", QByteArray("\x00\xff", 2)}, {"map", QVariantMap{{"k", QVariantList{1.0, 2.0}}}}});
}

void tst_JsonSettings::handWritten_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVariantMap>("expected");
    QTest::newRow("slash-in-member-name") << QByteArray(R"j({"a/b": 1, "c": {"d/e": 2, "f": 3}, "g": 4})j")
                                          << QVariantMap{{"a/b", 1.0}, {"c/d/e", 2.0}, {"c/f", 3.0}, {"g", 4.0}};
    QTest::newRow("marker-text-in-payload") << QByteArray(R"j({"m": "@JSON:{\"k\": \"@JSON:x\"}"})j")
                                            << QVariantMap{{"m", QVariantMap{{"k", "@JSON:x"}}}};
    QTest::newRow("marker-not-at-start") << QByteArray(R"j({"m": " @JSON:{}", "b": "x@QByteArray:01"})j")
                                         << QVariantMap{{"m", " @JSON:{}"}, {"b", "x@QByteArray:01"}};
    QTest::newRow("bad-payloads") << QByteArray(R"j({"m": "@JSON:{bad", "b": "@QByteArray:zz01", "a": "@JSON:[1, 2]"})j")
                                  << QVariantMap{{"b", QByteArray("\x01")}, {"a", QVariantList{1.0, 2.0}}};
    QTest::newRow("top-level-array") << QByteArray(R"j([true, {"x": null}])j")
                                     << QVariantMap{{"size", 2}, {"1", true}, {"2/x", QVariant()}};
    QTest::newRow("nested-arrays") << QByteArray(R"j({"m": [[1], []]})j")
                                   << QVariantMap{{"m/size", 2}, {"m/1/size", 1}, {"m/1/1", 1.0}, {"m/2/size", 0}};
    QTest::newRow("escapes") << QByteArray(R"j({"t": "a\u0000b\ud83d\ude00\t"})j")
                             << QVariantMap{{"t", QString::fromUtf8("a\0b\xF0\x9F\x98\x80\t", 8)}};
}

void tst_JsonSettings::handWritten()
{
    QFETCH(QByteArray, json);
    QFETCH(QVariantMap, expected);
    const QString path = m_dir.filePath(QStringLiteral("hand-%1.json").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, json));
    compareEntries(path, expected);
}

void tst_JsonSettings::malformed_data()
{
    QTest::addColumn<QByteArray>("json");
    QByteArray junk(600, '\0');
    QRandomGenerator random(11);
    for (char &c : junk)
        c = char(random.bounded(256));
    junk[0] = '\x89';
    QByteArray amplifying = "{\"" + QByteArray(20000, 'g') + "\": {";
    for (int i = 0; i < 2000; ++i)
        amplifying += "\"b" + QByteArray::number(i) + "\":1,";
    amplifying.chop(1);
    QTest::newRow("truncated") << QByteArray("{\n    \"a\": {\n        \"b\": 1\n");
    QTest::newRow("binary-junk") << junk;
    QTest::newRow("top-level-scalar") << QByteArray("5");
    QTest::newRow("trailing-garbage") << QByteArray("{\"a\": 1} x");
    QTest::newRow("single-quotes") << QByteArray("{'a': 1}");
    QTest::newRow("too-deep") << QByteArray(5000, '[') + QByteArray(5000, ']');
    QTest::newRow("amplifying-keys") << amplifying + "}}";
}

void tst_JsonSettings::malformed()
{
    QFETCH(QByteArray, json);
    const QString path = m_dir.filePath(QStringLiteral("bad-%1.json").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, json));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^\".+\"$")));
    JsonSettings settings(path);
    QCOMPARE(settings.status(), QSettings::FormatError);
}

void tst_JsonSettings::treeHelpers()
{
    QVariant tree = JsonProbe::processWriteValue(QVariant(), QStringLiteral("a/b"), 1);
    tree = JsonProbe::processWriteValue(tree, QStringLiteral("a/c"), QByteArray("\x0f"));
    QCOMPARE(tree, QVariant(QVariantMap{{"a", QVariantMap{{"b", 1}, {"c", "@QByteArray:0f"}}}}));
    QSettings::SettingsMap map;
    QString prefix = QStringLiteral("root/");
    JsonProbe::processReadValue(prefix, map, QVariantMap{{"x", QVariantList{"y"}}});
    QCOMPARE(prefix, QStringLiteral("root/"));
    QCOMPARE(map.keys(), (QStringList{"root/x/1", "root/x/size"}));
}

void tst_JsonSettings::writerRefusesUnreadableStores_data()
{
    QTest::addColumn<QVariantMap>("values");
    QTest::addColumn<QString>("error"); // empty: written

    // Qt's JSON parser takes 1024 nested arrays and objects, the root included.
    QVariant nested = 1;
    for (int i = 0; i < 1024; ++i)
        nested = QVariantList{nested};
    QTest::newRow("1024 components") << QVariantMap{{keyOfDepth(1024), "1"}} << QString();
    QTest::newRow("1025 components") << QVariantMap{{keyOfDepth(1025), "1"}} << "Settings nested too deeply";
    QTest::newRow("list value nested too deep") << QVariantMap{{"l", nested}} << "Settings nested too deeply";
    // A long group name repeated in every key below it, more than the
    // reader takes from a document of the written size.
    QTest::newRow("keys over the size limit") << amplifyingStore(4000, 2000) << "Settings keys exceed the size limit";
}

// A store the reader would refuse is not written: the old file stays and
// QSettings reports the failure.
void tst_JsonSettings::writerRefusesUnreadableStores()
{
    QFETCH(QVariantMap, values);
    QFETCH(QString, error);
    setAndSync<JsonSettings>(m_dir.filePath(QStringLiteral("refused-%1.json").arg(QTest::currentDataTag())),
                             "{\"keep\": \"1\"}", values, error);
}

QTEST_GUILESS_MAIN(tst_JsonSettings)
#include "tst_jsonsettings.moc"
