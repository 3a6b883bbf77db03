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
    void layoutMatchesExample();
    void arraysReadBack();
    void sparseArrayHasNull();
    void listValueBecomesArray();
    void groupsWithSizeKeepEverything_data();
    void groupsWithSizeKeepEverything();
    void emptyStore();
    void pythonWrittenFileIsRead();
    void handWritten_data();
    void handWritten();
    void malformed_data();
    void malformed();
    void treeHelpers();

private:
    QString freshCopy(const QString &path);
    QByteArray canonical(const QString &path);

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

void tst_JsonSettings::registeredAtLoad()
{
    QVERIFY(JsonSettings::jsonFormat() != QSettings::InvalidFormat);
    const JsonSettings byName(QStringLiteral("orvel-test"), QStringLiteral("tst"));
    QCOMPARE(byName.format(), JsonSettings::jsonFormat());
    QVERIFY2(byName.fileName().endsWith(QLatin1String("/orvel-test/tst.json")),
             qPrintable(byName.fileName()));
}

void tst_JsonSettings::roundTrip_data()
{
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<QVariant>("expected");

    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));

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
    QTest::newRow("map") << QVariant(QVariantMap{{"a", 1}, {"b", QVariantMap{{"c", "x"}}}})
                         << QVariant(QVariantMap{{"a", 1}, {"b", QVariantMap{{"c", "x"}}}});
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
    JsonSettings reread(freshCopy(path));
    QCOMPARE(reread.status(), QSettings::NoError);
    QVERIFY(reread.contains(QStringLiteral("group/value")));
    const QVariant actual = reread.value(QStringLiteral("group/value"));
    QCOMPARE(actual.userType(), expected.userType());
    QCOMPARE(actual, expected);
}

void tst_JsonSettings::layoutMatchesExample()
{
    const QString path = m_dir.filePath(QStringLiteral("example.json"));
    {
        JsonSettings settings(path);
        settings.setValue(QStringLiteral("a/b"), 1);
        settings.setValue(QStringLiteral("d"), true);
        settings.setValue(QStringLiteral("e"), QByteArray("\x01\xab"));
        settings.setValue(QStringLiteral("f"), QVariantMap{{"k", 1}});
    }
    QCOMPARE(readFile(path), QByteArray("{\n"
                                        "    \"a\": {\n"
                                        "        \"b\": 1\n"
                                        "    },\n"
                                        "    \"d\": true,\n"
                                        "    \"e\": \"@QByteArray:01ab\",\n"
                                        "    \"f\": \"@JSON:{\\\"k\\\":1}\"\n"
                                        "}\n"));
    const QByteArray expected =
        R"j({"a": {"b": 1}, "d": true, "e": "@QByteArray:01ab", "f": "@JSON:{\"k\":1}"})j";
    QCOMPARE(canonical(path), expected);

    JsonSettings reread(freshCopy(path));
    QCOMPARE(reread.value("a/b").userType(), int(QMetaType::Double));
    QCOMPARE(reread.value("d"), QVariant(true));
    QCOMPARE(reread.value("e"), QVariant(QByteArray("\x01\xab")));
    QCOMPARE(reread.value("f").toMap().value("k").toInt(), 1);
}

void tst_JsonSettings::arraysReadBack()
{
    const QString path = m_dir.filePath(QStringLiteral("array.json"));
    {
        JsonSettings settings(path);
        settings.beginWriteArray(QStringLiteral("list"));
        for (int i = 0; i < 12; ++i) {
            settings.setArrayIndex(i);
            settings.setValue(QStringLiteral("name"), QStringLiteral("n%1").arg(i + 1));
        }
        settings.endArray();
        settings.setValue(QStringLiteral("other"), 1);
    }
    const QByteArray json = canonical(path);
    QVERIFY2(json.startsWith(R"j({"list": [{"name": "n1"}, {"name": "n2"}, {"name": "n3"})j"), json.constData());
    QVERIFY2(json.endsWith(R"j({"name": "n12"}], "other": 1})j"), json.constData());

    JsonSettings reread(freshCopy(path));
    QCOMPARE(reread.beginReadArray(QStringLiteral("list")), 12);
    for (int i = 0; i < 12; ++i) {
        reread.setArrayIndex(i);
        QCOMPARE(reread.value(QStringLiteral("name")).toString(), QStringLiteral("n%1").arg(i + 1));
    }
    reread.endArray();
    QCOMPARE(reread.value(QStringLiteral("list/size")).userType(), int(QMetaType::Int));
}

void tst_JsonSettings::sparseArrayHasNull()
{
    const QString path = m_dir.filePath(QStringLiteral("sparse.json"));
    {
        JsonSettings settings(path);
        settings.setValue(QStringLiteral("list/1/name"), QStringLiteral("a"));
        settings.setValue(QStringLiteral("list/3/name"), QStringLiteral("c"));
        settings.setValue(QStringLiteral("list/size"), 3);
    }
    QCOMPARE(canonical(path), QByteArray(R"j({"list": [{"name": "a"}, null, {"name": "c"}]})j"));
    JsonSettings reread(freshCopy(path));
    QVERIFY(reread.contains(QStringLiteral("list/2")));
    QVERIFY(!reread.value(QStringLiteral("list/2")).isValid());
    QCOMPARE(reread.value(QStringLiteral("list/3/name")).toString(), QStringLiteral("c"));
}

void tst_JsonSettings::listValueBecomesArray()
{
    const QString path = m_dir.filePath(QStringLiteral("list.json"));
    {
        JsonSettings settings(path);
        settings.setValue(QStringLiteral("names"), QStringList{"a", "b"});
    }
    QCOMPARE(canonical(path), QByteArray(R"j({"names": ["a", "b"]})j"));
    JsonSettings reread(freshCopy(path));
    QStringList keys = reread.allKeys();
    keys.sort();
    QCOMPARE(keys, (QStringList{"names/1", "names/2", "names/size"}));
    QCOMPARE(reread.value(QStringLiteral("names/2")).toString(), QStringLiteral("b"));
}

// A key "size" is common ("window/size"); a group holding it becomes an array
// only when it is really a QSettings array, otherwise nothing would be left of
// its other keys.
void tst_JsonSettings::groupsWithSizeKeepEverything_data()
{
    QTest::addColumn<QVariantMap>("values");
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("window-size")
        << QVariantMap{{"window/size", 800}, {"window/pos", "10 20"}}
        << QByteArray(R"j({"window": {"pos": "10 20", "size": 800}})j");
    QTest::newRow("top-level-size") << QVariantMap{{"size", 2}, {"name", "x"}}
                                    << QByteArray(R"j({"name": "x", "size": 2})j");
    QTest::newRow("key-after-size") << QVariantMap{{"list/1", "a"}, {"list/size", 1}, {"list/t", true}}
                                    << QByteArray(R"j({"list": {"1": "a", "size": 1, "t": true}})j");
    QTest::newRow("index-beyond-size") << QVariantMap{{"list/1", "a"}, {"list/2", "b"}, {"list/size", 1}}
                                       << QByteArray(R"j({"list": {"1": "a", "2": "b", "size": 1}})j");
    QTest::newRow("size-not-a-count") << QVariantMap{{"g/size", "large"}, {"g/1", "a"}}
                                      << QByteArray(R"j({"g": {"1": "a", "size": "large"}})j");
    QTest::newRow("huge-size") << QVariantMap{{"list/size", 100000000}}
                               << QByteArray(R"j({"list": {"size": 100000000}})j");
    QTest::newRow("top-level-array") << QVariantMap{{"size", 2}, {"1/a", 1}, {"2/a", 2}}
                                     << QByteArray(R"j([{"a": 1}, {"a": 2}])j");
    QTest::newRow("empty-array") << QVariantMap{{"list/size", 0}} << QByteArray(R"j({"list": []})j");
}

void tst_JsonSettings::groupsWithSizeKeepEverything()
{
    QFETCH(QVariantMap, values);
    QFETCH(QByteArray, json);

    const QString path = m_dir.filePath(QStringLiteral("size-%1.json").arg(QTest::currentDataTag()));
    {
        JsonSettings settings(path);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            settings.setValue(it.key(), it.value());
    }
    QCOMPARE(canonical(path), json);
    JsonSettings reread(freshCopy(path));
    QStringList keys = reread.allKeys();
    keys.sort();
    QCOMPARE(keys, values.keys());
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const QVariant actual = reread.value(it.key());
        if (it->userType() == QMetaType::Int)
            QCOMPARE(actual.toDouble(), it->toDouble());
        else
            QCOMPARE(actual.toString(), it->toString());
    }
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
    {
        JsonSettings reread(freshCopy(path));
        QCOMPARE(reread.status(), QSettings::NoError);
        QVERIFY(reread.allKeys().isEmpty());
    }

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

    JsonSettings settings(path);
    QCOMPARE(settings.status(), QSettings::NoError);
    QCOMPARE(settings.value("net/hosts/size").toInt(), 2);
    QCOMPARE(settings.value("net/hosts/2").toString(), QStringLiteral("b"));
    QCOMPARE(settings.value("net/port"), QVariant(1883.0));
    QCOMPARE(settings.value("net/tls"), QVariant(false));
    QCOMPARE(settings.value("servers/size").toInt(), 2);
    QCOMPARE(settings.value("servers/2/host").toString(), QStringLiteral("y"));
    QCOMPARE(settings.value("servers/2/ports/2").toInt(), 2);
    QCOMPARE(settings.value("greeting").toString(), QString::fromUtf8("Grüße 你好"));
    QVERIFY(settings.contains("nothing"));
    QVERIFY(!settings.value("nothing").isValid());
    QCOMPARE(settings.value("blob"), QVariant(QByteArray("\x00\xff", 2)));
    QCOMPARE(settings.value("map").toMap().value("k").toList().size(), 2);
}

void tst_JsonSettings::handWritten_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("slash-in-member-name")
        << QByteArray(R"j({"a/b": 1, "c": {"d/e": 2, "f": 3}, "g": 4})j")
        << QVariantMap{{"a/b", 1.0}, {"c/d/e", 2.0}, {"c/f", 3.0}, {"g", 4.0}};
    QTest::newRow("marker-text-in-payload")
        << QByteArray(R"j({"m": "@JSON:{\"k\": \"@JSON:x\"}"})j")
        << QVariantMap{{"m", QVariantMap{{"k", "@JSON:x"}}}};
    QTest::newRow("marker-not-at-start")
        << QByteArray(R"j({"m": " @JSON:{}", "b": "x@QByteArray:01"})j")
        << QVariantMap{{"m", " @JSON:{}"}, {"b", "x@QByteArray:01"}};
    QTest::newRow("bad-payloads")
        << QByteArray(R"j({"m": "@JSON:{bad", "b": "@QByteArray:zz01", "a": "@JSON:[1, 2]"})j")
        << QVariantMap{{"b", QByteArray("\x01")}, {"a", QVariantList{1, 2}}};
    QTest::newRow("top-level-array") << QByteArray(R"j([true, {"x": null}])j")
                                     << QVariantMap{{"size", 2}, {"1", true}, {"2/x", QVariant()}};
    QTest::newRow("nested-arrays") << QByteArray(R"j({"m": [[1], []]})j")
                                   << QVariantMap{{"m/size", 2}, {"m/1/size", 1}, {"m/1/1", 1.0},
                                                  {"m/2/size", 0}};
    QTest::newRow("escapes") << QByteArray(R"j({"t": "a\u0000b\ud83d\ude00\t"})j")
                             << QVariantMap{{"t", QString::fromUtf8("a\0b\xF0\x9F\x98\x80\t", 8)}};
}

void tst_JsonSettings::handWritten()
{
    QFETCH(QByteArray, json);
    QFETCH(QVariantMap, expected);

    const QString path = m_dir.filePath(QStringLiteral("hand-%1.json").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, json));
    JsonSettings settings(path);
    QCOMPARE(settings.status(), QSettings::NoError);
    QStringList keys = settings.allKeys();
    keys.sort();
    QCOMPARE(keys, expected.keys());
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
        QCOMPARE(settings.value(it.key()), it.value());
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
    amplifying += "}}";

    QTest::newRow("truncated") << QByteArray("{\n    \"a\": {\n        \"b\": 1\n");
    QTest::newRow("binary-junk") << junk;
    QTest::newRow("top-level-scalar") << QByteArray("5");
    QTest::newRow("trailing-garbage") << QByteArray("{\"a\": 1} x");
    QTest::newRow("single-quotes") << QByteArray("{'a': 1}");
    QTest::newRow("too-deep") << QByteArray(5000, '[') + QByteArray(5000, ']');
    QTest::newRow("amplifying-keys") << amplifying;
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

QTEST_GUILESS_MAIN(tst_JsonSettings)
#include "tst_jsonsettings.moc"
