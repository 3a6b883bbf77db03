// The XML and JSON settings formats through shared tables: stores written and
// read back (the files as Python reads them), hand-written and hostile files,
// and stores the writers refuse because their readers would.

#include "testfiles.h"

#include <qsettingsext/jsonsettings.h>
#include <qsettingsext/xmlsettings.h>

#include <QDataStream>
#include <QDateTime>
#include <QEasingCurve>
#include <QLoggingCategory>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
enum Format { Xml, Json };

std::unique_ptr<QSettings> open(int format, const QString &path)
{
    if (format == Xml)
        return std::make_unique<XmlSettings>(path);
    return std::make_unique<JsonSettings>(path);
}

const char *formatName(int format)
{
    return format == Xml ? "xml" : "json";
}

// Runs a Python 3 script with `argument`; its standard output.
QByteArray python(const QString &script, const QString &argument = QString())
{
    QProcess process;
    process.start(QStringLiteral("python3"), { QStringLiteral("-c"), script, argument });
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qWarning("python3 failed: %s", process.readAllStandardError().constData());
    return process.readAllStandardOutput().trimmed();
}

// A file as Python's json or ElementTree (value elements by path) sees it.
const QString viewScript = QStringLiteral(R"(
import sys, json, xml.etree.ElementTree as ET
def walk(e, path, out):
    path = path + [e.tag]
    for k in e:
        walk(k, path, out)
    if not len(e):
        out["/".join(path)] = e.text or ""
    return out
doc = walk(ET.parse(sys.argv[1]).getroot(), [], {}) if sys.argv[1].endswith(".xml") \
    else json.load(open(sys.argv[1], encoding="utf-8"))
print(json.dumps(doc, sort_keys=True, ensure_ascii=False))
)");

// The store holds exactly the expected entries, of the expected types.
void compareEntries(const QSettings &settings, const QVariantMap &expected)
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

QString keyOfDepth(int components)
{
    return QVector<QString>(components, QStringLiteral("a")).toList().join(QLatin1Char('/'));
}

// A long group name repeated in the key of each of `entries` entries.
QVariantMap amplifyingStore(int nameLength, int entries)
{
    QVariantMap store;
    for (int i = 0; i < entries; ++i)
        store.insert(QString(nameLength, QLatin1Char('g')) + QStringLiteral("/b%1").arg(i), "1");
    return store;
}

// A stream of Qt 4.0 (the "@Variant(" payload) written by `write`.
template<typename Write> QByteArray payload(Write write)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    write(stream);
    return bytes;
}

// `depth` headers `header` around the int 7.
QByteArray nested(int depth, const QByteArray &header)
{
    return payload([&](QDataStream &stream) {
        for (int i = 0; i < depth; ++i)
            stream.writeRawData(header.constData(), header.size());
        stream << quint32(QMetaType::Int) << qint32(7);
    });
}

// A type announced by name, as streams of Qt 4 do for types it did not know.
QByteArray named(const char *name, quint32 count)
{
    return payload([&](QDataStream &stream) { stream << quint32(127) << name << count; });
}

qreal linearCurve(qreal progress)
{
    return progress;
}

const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
} // namespace

class tst_SettingsFormats : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { QLoggingCategory::setFilterRules(QString()); }
    void registration();
    void stores_data();
    void stores();
    void reading_data();
    void reading();

private:
    // A new file name per use: QSettings caches what it read per file name.
    QString newPath(int format)
    {
        return m_dir.filePath(QStringLiteral("%1.%2").arg(++m_files).arg(formatName(format)));
    }

    QTemporaryDir m_dir;
    int m_files = 0;
};

void tst_SettingsFormats::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
    // The XML reader logs every document's version at debug level.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    XmlSettings::regFormat();
}

// JSON is registered at load, XML once however often the host asks: Qt has
// room for 16 custom formats per process.
void tst_SettingsFormats::registration()
{
    const QSettings::Format format = XmlSettings::xmlFormat();
    QVERIFY(format != QSettings::InvalidFormat);
    for (int i = 0; i < 20; ++i)
        XmlSettings::regFormat();
    QCOMPARE(XmlSettings::xmlFormat(), format);
    QVERIFY(JsonSettings::jsonFormat() != QSettings::InvalidFormat);
    // Nothing is written: the stores are only opened.
    const XmlSettings xml(QStringLiteral("orvel-test"), QStringLiteral("tst"));
    const JsonSettings json(QStringLiteral("orvel-test"), QStringLiteral("tst"));
    QCOMPARE(xml.format(), format);
    QCOMPARE(json.format(), JsonSettings::jsonFormat());
    QVERIFY(xml.fileName().endsWith(QLatin1String("/orvel-test/tst.xml")));
    QVERIFY(json.fileName().endsWith(QLatin1String("/orvel-test/tst.json")));
}

// Values set through QSettings; the exact file (when given), the file as
// Python reads it (when given), and the entries read back from it, or the
// writer's refusal.
void tst_SettingsFormats::stores_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QVariantMap>("values");
    QTest::addColumn<QVariantMap>("reread");
    QTest::addColumn<QByteArray>("view");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error"); // the writer's refusal
    const auto row
        = [](int format, const char *tag, const QVariantMap &values, const QVariantMap &reread,
             const QByteArray &view = {}, const QByteArray &file = QByteArray()) {
              QTest::addRow("%s/%s", formatName(format), tag)
                  << format << values << reread << view << file << QString();
          };
    // Stores the reader would refuse are not written: the old file stays and
    // QSettings reports the failure.
    const auto refused = [](int format, const char *tag, const QVariantMap &values,
                            const char *error) {
        QTest::addRow("%s/%s", formatName(format), tag)
            << format << values << QVariantMap() << QByteArray() << QByteArray() << QString(error);
    };
    const char *deep = "Settings nested too deeply",
               *overLimit = "Settings keys exceed the size limit",
               *longName = "Settings key component too long for an element name";
    QVariant deepMap = 1, deepList = 1;
    for (int i = 0; i < 1024; ++i) {
        deepMap = QVariantMap { { QStringLiteral("x"), deepMap } };
        deepList = QVariantList { deepList };
    }
    // Heavy keys first and the bulk of the document after them: the keys are
    // measured against the whole document.
    QVariantMap heavy = amplifyingStore(4000, 2000);
    heavy.insert(QStringLiteral("z"), QString(200000, QLatin1Char('p')));
    const auto both = [&](const char *tag, const QVariantMap &values, const QVariantMap &xml,
                          const QVariantMap &json) {
        row(Xml, tag, values, xml);
        row(Json, tag, values, json);
    };
    const auto value
        = [&](const char *tag, const QVariant &v, const QVariant &xml, const QVariant &json) {
              both(tag, { { "g/v", v } }, { { "g/v", xml } }, { { "g/v", json } });
          };
    const auto same = [&](const char *tag, const QVariant &v) {
        value(tag, v, v, v);
    };
    // Key components that are no XML names are escaped; other parsers see the escapes.
    const auto name = [&](const char *tag, const QString &component, const QString &element) {
        row(Xml, tag, { { "g/" + component, "v" } }, { { "g/" + component, "v" } },
            QStringLiteral(R"j({"xml-settings/g/%1": "v"})j").arg(element).toUtf8());
    };
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    const QString control = QString::fromLatin1("a\001b\037") + QChar(0);
    const QDateTime dt(QDate(2024, 2, 29), QTime(23, 59, 58, 123), Qt::UTC);
    const QVariantMap geometry { { "r", QRect(-5, 2, 3, 4) },
                                 { "s", QSize(640, 480) },
                                 { "p", QPoint(-1, 9) } };
    const QVariantList list { 1, "x", QVariantMap { { "k", 2.5 } } };
    const QStringList strings { "a", "", "@c" };
    const QVariant byteArrays = QVariant::fromValue(QByteArrayList { "a", QByteArray(), "\xff" });
    const QVariantMap map { { "a", 1 }, { "b", QVariantMap { { "c", "x" } } } };
    const QVariantMap unnamed { { "", 1 }, { "a", QVariantMap { { "", "x" } } } };
    const QVariantMap example { { "a/b", 5 },
                                { "a/e", "x" },
                                { "d", true },
                                { "f", "@home" },
                                { "g", QByteArray("\x00\xff", 2) } };
    QVariantMap array { { "list/size", 12 } }, xmlArray { { "list/size", "12" } };
    QByteArray arrayView = R"j({"list": [)j";
    for (int i = 1; i <= 12; ++i) {
        const QString key = QStringLiteral("list/%1/name").arg(i);
        array.insert(key, QStringLiteral("n%1").arg(i));
        xmlArray.insert(key, QStringLiteral("n%1").arg(i));
        arrayView
            += QStringLiteral(R"j(%1{"name": "n%2"})j").arg(i > 1 ? ", " : "").arg(i).toUtf8();
    }
    // clang-format off
    same("at-sign", "@home");
    same("marker-lookalike", "@Rect(1 2 3)");
    same("markers-inside-text", "see @JSON: x@QByteArray:00");
    same("empty-string", QString());
    same("blanks", "   ");
    same("whitespace-around", "  l1\r\nl2\r\t\n ");
    same("markup", "<a & b> \"q\" ]]>");
    same("unicode", QString::fromUtf8("Grüße 你好 \U0001F600"));
    same("control-characters", control);
    row(Xml, "lone-surrogate", { { "g/v", QString(QChar(0xD800)) } }, { { "g/v", QString(QChar(0xD800)) } });
    same("non-character", QString(QChar(0xFFFE)));
    same("bytes-all-256", allBytes);
    same("bytes-empty", QByteArray());
    same("invalid", QVariant());
    // JSON has no form for these: written as null.
    both("geometry", geometry, geometry, { { "r", QVariant() }, { "s", QVariant() }, { "p", QVariant() } });
    // Numbers and booleans come back as text from XML, as double from JSON.
    value("int", 42, "42", 42.0);
    value("double", 0.1, "0.1", 0.1);
    value("bool", false, "false", false);
    value("datetime", dt, dt, "2024-02-29T23:59:58.123Z");
    both("variant-list", { { "g/v", list } }, { { "g/v", list } },
         { { "g/v/size", 3 }, { "g/v/1", 1.0 }, { "g/v/2", "x" }, { "g/v/3/k", 2.5 } });
    both("string-list", { { "g/v", strings } }, { { "g/v", strings } },
         { { "g/v/size", 3 }, { "g/v/1", "a" }, { "g/v/2", "" }, { "g/v/3", "@c" } });
    row(Xml, "byte-array-list", { { "g/v", byteArrays } }, { { "g/v", byteArrays } });
    // A map value: a group in XML, a marked string in JSON.
    both("map", { { "g/v", map } }, { { "g/v/a", "1" }, { "g/v/b/c", "x" } }, { { "g/v", map } });
    // No XML element name gives an empty key: such a map is written whole.
    same("map-with-empty-key", unnamed);
    // The value of a is lost to the group a.
    both("value-and-group-of-same-name", { { "a", 1 }, { "a/b", 2 } }, { { "a/b", "2" } }, { { "a/b", 2.0 } });

    name("name-array-index", "1", "_x0031_");
    name("name-blank", "a b", "a_x0020_b");
    name("name-colon", "ns:key", "ns_x003A_key");
    name("name-leading-dash", "-x", "_x002D_x");
    name("name-escape-lookalike", "_x0041_", "_x005F_x0041_");
    name("name-chained-lookalikes", "a_x0041_x0042_", "a_x005F_x0041_x005F_x0042_");
    name("name-not-an-escape", "_x00G1_", "_x00G1_");
    name("name-unchanged", QString::fromUtf8("a-1.b_2grüße设置"), QString::fromUtf8("a-1.b_2grüße设置"));
    name("name-cjk-extension-a", QString(QChar(0x3400)), "_x3400_");
    name("name-outside-bmp", QString::fromUtf8("a\U0001F600"), "a_xD83D__xDE00_");
    name("name-control", QString(QLatin1Char('\x01')), "_x0001_");
    name("name-combining-first", QString(QChar(0x0300)), "_x0300_");
    name("name-combining-later", QString::fromUtf8("a\u0300"), QString::fromUtf8("a\u0300"));
    name("name-root-name", "xml-settings", "_x0078_ml-settings");

    // The layouts, byte for byte.
    row(Xml, "example", example,
        { { "a/b", "5" }, { "a/e", "x" }, { "d", "true" }, { "f", "@home" }, { "g", example["g"] } },
        R"j({"xml-settings/a/b": "5", "xml-settings/a/e": "x", "xml-settings/d": "true", )j"
        R"j("xml-settings/f": "@@home", "xml-settings/g": "@ByteArray(00ff)"})j",
        declaration + "<xml-settings>\n    <a>\n        <b>5</b>\n        <e>x</e>\n    </a>\n"
                      "    <d>true</d>\n    <f>@@home</f>\n    <g>@ByteArray(00ff)</g>\n</xml-settings>\n");
    row(Json, "example", example,
        { { "a/b", 5.0 }, { "a/e", "x" }, { "d", true }, { "f", "@home" }, { "g", example["g"] } },
        R"j({"a": {"b": 5, "e": "x"}, "d": true, "f": "@home", "g": "@QByteArray:00ff"})j",
        "{\n    \"a\": {\n        \"b\": 5,\n        \"e\": \"x\"\n    },\n    \"d\": true,\n"
        "    \"f\": \"@home\",\n    \"g\": \"@QByteArray:00ff\"\n}\n");
    row(Xml, "empty-store", {}, {}, {}, declaration + "<xml-settings/>\n");
    row(Json, "empty-store", {}, {}, {}, "");

    // QSettings arrays: JSON arrays (whose size reads back as int) where the
    // group really is one; otherwise a group with a key "size" ("window/size").
    row(Xml, "array-of-12", array, xmlArray);
    row(Json, "array-of-12", array, array, arrayView + "]}");
    row(Json, "sparse-array-has-null", { { "l/1/n", "a" }, { "l/3/n", "c" }, { "l/size", 3 } },
        { { "l/1/n", "a" }, { "l/2", QVariant() }, { "l/3/n", "c" }, { "l/size", 3 } },
        R"j({"l": [{"n": "a"}, null, {"n": "c"}]})j");
    row(Json, "top-level-array", { { "size", 2 }, { "1/a", 1 }, { "2/a", 2 } },
        { { "size", 2 }, { "1/a", 1.0 }, { "2/a", 2.0 } }, R"j([{"a": 1}, {"a": 2}])j");
    row(Json, "empty-array", { { "l/size", 0 } }, { { "l/size", 0 } }, R"j({"l": []})j");
    row(Json, "window-size", { { "w/size", 800 }, { "w/pos", "1" } }, { { "w/size", 800.0 }, { "w/pos", "1" } });
    row(Json, "key-after-size", { { "l/1", "a" }, { "l/size", 1 }, { "l/t", true } },
        { { "l/1", "a" }, { "l/size", 1.0 }, { "l/t", true } });
    row(Json, "index-beyond-size", { { "l/1", "a" }, { "l/2", "b" }, { "l/size", 1 } },
        { { "l/1", "a" }, { "l/2", "b" }, { "l/size", 1.0 } });
    row(Json, "size-not-a-count", { { "l/size", "large" }, { "l/1", "a" } }, { { "l/size", "large" }, { "l/1", "a" } });
    row(Json, "huge-size", { { "l/size", 100000000 } }, { { "l/size", 1e8 } });

    row(Xml, "1023-components", { { keyOfDepth(1023), "1" } }, { { keyOfDepth(1023), "1" } });
    refused(Xml, "1024-components", { { keyOfDepth(1024), "1" } }, deep);
    refused(Xml, "map-values-nested-too-deep", { { "m", deepMap } }, deep);
    // Qt's XML reader takes element names of up to 4096 characters.
    row(Xml, "component-of-4096", { { QString(4096, 'k'), "1" } }, { { QString(4096, 'k'), "1" } });
    refused(Xml, "component-of-4097", { { QString(4097, 'k'), "1" } }, longName);
    refused(Xml, "component-escaped-past-4096", { { QString(600, ' '), "1" } }, longName);
    // Qt's JSON parser takes 1024 nested arrays and objects, the root included.
    row(Json, "1024-components", { { keyOfDepth(1024), "1" } }, { { keyOfDepth(1024), "1" } });
    refused(Json, "1025-components", { { keyOfDepth(1025), "1" } }, deep);
    refused(Json, "list-value-nested-too-deep", { { "l", deepList } }, deep);
    for (const int format : { Xml, Json }) {
        // More key characters than the reader takes from a document of the written size.
        refused(format, "keys-over-the-size-limit", amplifyingStore(4000, 2000), overLimit);
        row(format, "heavy-keys-in-a-large-document", heavy, heavy);
    }
    // clang-format on
}

void tst_SettingsFormats::stores()
{
    QFETCH(int, format);
    QFETCH(QVariantMap, values);
    QFETCH(QVariantMap, reread);
    QFETCH(QByteArray, view);
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    const QString path = newPath(format), copy = newPath(format);
    QByteArray before;
    {
        const auto settings = open(format, path);
        settings->setValue(QStringLiteral("gone"), 1); // so that an empty store is written too
        settings->sync();
        before = readFile(path);
        settings->remove(QStringLiteral("gone"));
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            settings->setValue(it.key(), it.value());
        if (!error.isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, qPrintable('"' + error + '"'));
        settings->sync();
        QCOMPARE(settings->status(), error.isEmpty() ? QSettings::NoError : QSettings::AccessError);
    }
    if (!error.isEmpty()) {
        QCOMPARE(readFile(path), before);
        return;
    }
    if (!file.isNull())
        QCOMPARE(readFile(path), file);
    if (!view.isEmpty())
        QCOMPARE(python(viewScript, path), view);
    QVERIFY(QFile::copy(path, copy));
    compareEntries(*open(format, copy), reread);
}

// Files written by hand, by Python and by attackers: the entries read, or
// FormatError. XML documents are read also with the declaration this format
// writes, which lets a quick reader take the plain ones.
void tst_SettingsFormats::reading_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVariantMap>("expected");
    QTest::addColumn<bool>("copiesTaken"); // every name for a copy of an unreadable file is taken
    const auto row
        = [](int format, const char *tag, const QByteArray &body, const QVariantMap &expected) {
              QTest::addRow("%s/%s", formatName(format), tag) << format << body << true << expected << false;
          };
    const auto bad = [](int format, const char *tag, const QByteArray &body, bool copiesTaken = false) {
        QTest::addRow("%s/%s", formatName(format), tag) << format << body << false << QVariantMap() << copiesTaken;
    };
    const auto xml = [&](const char *tag, const QByteArray &body, const QVariantMap &expected) {
        row(Xml, tag, "<xml-settings>" + body + "</xml-settings>", expected);
    };
    // Crafted "@Variant(" payloads: the value is read as far as it is sound,
    // the rest of the store is unharmed.
    const auto variant = [&](const char *tag, const QByteArray &payload, const QVariant &expected) {
        xml(tag, "<a>1</a><v>@Variant(" + payload.toHex() + ")</v><z>2</z>",
            { { "a", "1" }, { "v", expected }, { "z", "2" } });
    };
    const QByteArray list
        = payload([](QDataStream &s) { s << quint32(QMetaType::QVariantList) << 1u; });
    const QByteArray variantHeader
        = payload([](QDataStream &s) { s << quint32(QMetaType::QVariant); });
    const QByteArray qt4Variant
        = payload([](QDataStream &s) { s << quint32(QMetaType::QVariant + 97); });
    const QVariant bounce = QVariant::fromValue(QEasingCurve(QEasingCurve::OutBounce));
    QEasingCurve custom;
    custom.setCustomType(linearCurve);
    const QVariant noBytes = QVariant::fromValue(QByteArrayList());
    QByteArray junk = randomBytes(600, 7);
    junk[0] = '\x89';
    const QByteArray group(20000, 'g'), longName(4097, 'n');
    QByteArray deep, amplifying = "{\"" + group + "\": {\"b\":1";
    for (int i = 0; i < 2000; ++i) {
        deep = "<a>" + deep + "</a>";
        amplifying += ",\"b" + QByteArray::number(i) + "\":1";
    }
    const QByteArray pythonXml = python(QStringLiteral(R"j(
import sys, xml.etree.ElementTree as ET
root = ET.Element("xml-settings")
net = ET.SubElement(root, "net")
ET.SubElement(net, "host").text = "broker & co <1>"
ET.SubElement(net, "_x0031_").text = "first"
ET.SubElement(root, "greeting").text = "Grüße 你好"
sys.stdout.buffer.write(ET.tostring(root, encoding="utf-8", xml_declaration=True))
)j"));
    const QByteArray pythonJson = python(QStringLiteral(R"j(
import json
print(json.dumps({"net": {"hosts": ["a", "b"], "port": 1883, "tls": False}, "nothing": None,
                  "text": "Gr\u00fc\u00dfe", "blob": "@QByteArray:00ff", "map": "@JSON:{\"k\": [1]}"}))
)j"));
    // clang-format off
    row(Xml, "python-written", pythonXml,
        { { "greeting", QString::fromUtf8("Grüße 你好") }, { "net/1", "first" }, { "net/host", "broker & co <1>" } });
    row(Xml, "other-root", "<config><net><port>1883</port></net></config>", { { "config/net/port", "1883" } });
    xml("text-beside-children", "\n  <a>\n    hello &amp; u\n    <b>1</b>\n  \n  </a>\n",
        { { "a", "\n    hello & u\n    " }, { "a/b", "1" } });
    xml("entities", "<a>x &amp; &lt;y&gt; &quot;q&quot; &apos;</a>", { { "a", "x & <y> \"q\" '" } });
    xml("empty-and-blank", "<a/><b>  \t</b><c></c>", { { "a", "" }, { "b", "  \t" }, { "c", "" } });
    xml("escaped-names", "<_x0031_><n_x0020_m>v</n_x0020_m></_x0031_><_x003a_b>w</_x003a_b>",
        { { "1/n m", "v" }, { ":b", "w" } });
    xml("root-name-inside", "<a><xml-settings>5</xml-settings><b/></a>", { { "a", "5" }, { "a/b", "" } });
    xml("markers", "<a>@ByteArray(00ff)</a><b>@Rect(1 2 3)</b><c>@@home</c><d>@Invalid()</d>"
                   "<e>@Size(5 6)</e><f>@Point(7 8)</f><g>@Other(1)</g>",
        { { "a", QByteArray("\x00\xff", 2) }, { "b", "@Rect(1 2 3)" }, { "c", "@home" }, { "d", QVariant() },
          { "e", QSize(5, 6) }, { "f", QPoint(7, 8) }, { "g", "@Other(1)" } });
    xml("repeated-key-last-wins", "<a>1</a><a>2</a>", { { "a", "2" } });
    xml("comments", "<!-- c --><a><!-- x -->v<!-- y --></a><b><!-- only --></b>", { { "a", "v" }, { "b", "" } });
    xml("cdata-and-references", "<a>x &amp; <![CDATA[<y>]]> &#x4E2D;&#65;</a>", { { "a", QString::fromUtf8("x & <y> 中A") } });
    row(Xml, "standalone-crlf", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                                "<xml-settings>\r\n    <a>x</a>\r\n</xml-settings>\r\n", { { "a", "x" } });
    xml("non-ascii-name", "<grüße>1</grüße>", { { QString::fromUtf8("grüße"), "1" } });
    xml("attribute", "<a b=\"1\">1</a>", { { "a", "1" } });

    variant("lists-nested-within-the-limit", nested(3, list), QVariantList{ QVariantList{ QVariantList{ 7 } } });
    // Deep enough to exhaust the stack if read recursively without a limit.
    variant("lists-nested-too-deep", nested(300000, list), QVariantList());
    variant("lists-named-nested-too-deep", nested(300000, named("QVariantList", 1)), QVariantList());
    variant("variant-in-variant", nested(2, variantHeader), 7);
    variant("variants-nested-too-deep", nested(300000, variantHeader), QVariant());
    variant("qt4-variants-nested-too-deep", nested(300000, qt4Variant), QVariant());
    // Containers announcing more elements than there are bytes: nothing is reserved up front.
    variant("list-of-2^32-256", QByteArray::fromHex("00000009ffffff00"), QVariantList());
    variant("string-list-of-2^31-1", QByteArray::fromHex("0000000b7fffffff"), QStringList());
    variant("string-list-named-of-2^31-1", named("QStringList", 0x7fffffff), QStringList());
    variant("byte-array-list-of-2^28-1", QByteArray::fromHex("000000310fffffff00000001"), noBytes);
    variant("qt4-byte-array-list-of-2^28-1", QByteArray::fromHex("000000920fffffff00000001"), noBytes);
    // QVariant keeps 30 bits of the type: 0x40000092 is a byte array list as well.
    variant("byte-array-list-type-bit-30", QByteArray::fromHex("400000920fffffff00000001"), noBytes);
    variant("list-type-bits-30-31", QByteArray::fromHex("c000006a000000010000000200000007"), QVariantList{ 7 });
    variant("easing-curve", payload([&](QDataStream &s) { s << bounce; }), bounce);
    // The stream holds the address of the curve function, which the curve
    // would call: never taken from a file, whatever type the curve claims.
    variant("easing-curve-function-address", payload([&](QDataStream &s) { s << QVariant::fromValue(custom); }),
            QVariant());
    variant("linear-easing-curve-function-address", QByteArray::fromHex("0000001d00000000000000414100"), QVariant());

    bad(Xml, "mismatched", "<xml-settings><a>1</b></xml-settings>");
    bad(Xml, "blank-file", " \n");
    bad(Xml, "every-copy-name-taken", "<xml-settings><a>1</a>", true);
    bad(Xml, "truncated", "<xml-settings>\n    <a>1</a>\n");
    bad(Xml, "binary-junk", junk);
    bad(Xml, "unescaped-index", "<xml-settings><list><1>x</1></list></xml-settings>");
    bad(Xml, "undeclared-prefix", "<xml-settings><a:b>x</a:b></xml-settings>");
    bad(Xml, "control-character", "<xml-settings><a>\x01</a></xml-settings>");
    bad(Xml, "two-roots", "<xml-settings/><xml-settings/>");
    bad(Xml, "text-outside-root", "x<a/>");
    bad(Xml, "unknown-entity", "<xml-settings><a>&foo;</a></xml-settings>");
    bad(Xml, "bad-utf8", "<xml-settings><a>\xC3\x28</a></xml-settings>");
    bad(Xml, "overlong-utf8", "<xml-settings><a>\xC0\xBC</a></xml-settings>");
    bad(Xml, "encoded-surrogate", "<xml-settings><a>\xED\xA0\x80</a></xml-settings>");
    bad(Xml, "non-character", "<xml-settings><a>\xEF\xBF\xBF</a></xml-settings>");
    bad(Xml, "cdata-end-in-text", "<xml-settings><a>]]></a></xml-settings>");
    bad(Xml, "too-deep", deep);
    // One long group name repeated in the key of every entry below it.
    bad(Xml, "amplifying-keys", "<xml-settings><" + group + ">" + QByteArray("<b/>").repeated(2000) + "</" + group
                                    + "></xml-settings>");
    // Qt's reader refuses element names over 4096 characters; so must a quick one.
    bad(Xml, "name-over-4096", "<xml-settings><" + longName + ">1</" + longName + "></xml-settings>");

    row(Json, "python-written", pythonJson,
        { { "net/hosts/size", 2 }, { "net/hosts/1", "a" }, { "net/hosts/2", "b" }, { "net/port", 1883.0 },
          { "net/tls", false }, { "text", QString::fromUtf8("Grüße") }, { "nothing", QVariant() },
          { "blob", QByteArray("\x00\xff", 2) }, { "map", QVariantMap{ { "k", QVariantList{ 1.0 } } } } });
    row(Json, "slash-in-member-name", R"j({"a/b": 1, "c": {"d/e": 2, "f": 3}, "g": 4})j",
        { { "a/b", 1.0 }, { "c/d/e", 2.0 }, { "c/f", 3.0 }, { "g", 4.0 } });
    row(Json, "marker-text-in-payload", R"j({"m": "@JSON:{\"k\": \"@JSON:x\"}"})j",
        { { "m", QVariantMap{ { "k", "@JSON:x" } } } });
    row(Json, "marker-not-at-start", R"j({"m": " @JSON:{}", "b": "x@QByteArray:01"})j",
        { { "m", " @JSON:{}" }, { "b", "x@QByteArray:01" } });
    row(Json, "bad-payloads", R"j({"m": "@JSON:{bad", "b": "@QByteArray:zz01", "a": "@JSON:[1, 2]"})j",
        { { "b", QByteArray("\x01") }, { "a", QVariantList{ 1.0, 2.0 } } });
    row(Json, "top-level-array", R"j([true, {"x": null}])j", { { "size", 2 }, { "1", true }, { "2/x", QVariant() } });
    row(Json, "nested-arrays", R"j({"m": [[1], []]})j",
        { { "m/size", 2 }, { "m/1/size", 1 }, { "m/1/1", 1.0 }, { "m/2/size", 0 } });
    row(Json, "escapes", R"j({"t": "a\u0000b\ud83d\ude00\t"})j",
        { { "t", QString::fromUtf8("a\0b\xF0\x9F\x98\x80\t", 8) } });
    row(Json, "empty-file", "", {});
    row(Json, "blank-file", " \n\t\r\n", {});
    bad(Json, "truncated", "{\n    \"a\": {\n        \"b\": 1\n");
    bad(Json, "binary-junk", junk);
    bad(Json, "top-level-scalar", "5");
    bad(Json, "trailing-garbage", "{\"a\": 1} x");
    bad(Json, "single-quotes", "{'a': 1}");
    bad(Json, "too-deep", QByteArray(5000, '[') + QByteArray(5000, ']'));
    bad(Json, "amplifying-keys", amplifying + "}}");
    // clang-format on
}

void tst_SettingsFormats::reading()
{
    QFETCH(int, format);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QVariantMap, expected);
    QFETCH(bool, copiesTaken);
    QList<QByteArray> documents { body };
    if (format == Xml && !body.startsWith("<?xml"))
        documents.append(declaration + body);
    for (const QByteArray &document : qAsConst(documents)) {
        const QString path = newPath(format);
        QVERIFY(writeFile(path, document));
        const QString copy = path + QStringLiteral(".unreadable");
        for (int i = 0; copiesTaken && i < 10; ++i)
            QVERIFY(writeFile(i == 0 ? copy : copy + QLatin1Char('.') + QString::number(i), "other"));
        if (!ok)
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^\".+\"$")));
        if (!ok && !document.trimmed().isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Settings file unreadable")));
        const auto settings = open(format, path);
        if (ok) {
            compareEntries(*settings, expected);
            continue;
        }
        QCOMPARE(settings->status(), QSettings::FormatError);
        // A copy of what could not be read stays (none of a blank file) and the next save
        // replaces the file; with no copy possible, the file stays and the save is refused.
        settings->setValue(QStringLiteral("added"), 1);
        if (copiesTaken)
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Settings file unreadable")));
        settings->sync();
        if (copiesTaken) {
            QCOMPARE(readFile(path), document);
            continue;
        }
        QCOMPARE(readFile(copy), document.trimmed().isEmpty() ? QByteArray() : document);
        QCOMPARE(open(format, path)->value(QStringLiteral("added")), QVariant(1));
    }
}

QTEST_GUILESS_MAIN(tst_SettingsFormats)
#include "tst_settingsformats.moc"
