#include "settingstesthelpers.h"

#include <qsettingsext/xmlnamecodec_p.h>
#include <qsettingsext/xmlplainreader_p.h>
#include <qsettingsext/xmlsettings.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QEasingCurve>
#include <QLoggingCategory>
#include <QPoint>
#include <QRandomGenerator>
#include <QRect>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {
// Reaches the protected helpers that derived formats use.
class XmlProbe : public XmlSettings
{
public:
    using XmlSettings::processReadKey;
    using XmlSettings::readXmlData;
    using XmlSettings::stringToVariant;
    using XmlSettings::variantToString;
    using XmlSettings::writeXmlData;
};

// Prints every value element of an XML file as a JSON pair [path, text],
// as Python's ElementTree sees the file.
const QString flattenScript = QStringLiteral(R"(
import sys, json, xml.etree.ElementTree as ET
def walk(e, path):
    kids = list(e)
    p = path + [e.tag]
    if kids:
        for k in kids:
            walk(k, p)
    else:
        print(json.dumps(["/".join(p), e.text or ""]))
walk(ET.parse(sys.argv[1]).getroot(), [])
)");

bool isXmlName(const QString &name)
{
    QXmlStreamReader reader(QStringLiteral("<r><%1/></r>").arg(name));
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

// Where the quick reader takes a document, the stream reader must accept it
// too and give the same entries.
QString compareReaders(const QByteArray &xml, bool *handled)
{
    QSettings::SettingsMap plain;
    *handled = XmlPlainReader::read(xml, plain);
    if (!*handled)
        return plain.isEmpty() ? QString() : QStringLiteral("entries left after giving up");
    QSettings::SettingsMap streamed;
    QXmlStreamReader reader(xml);
    XmlProbe::processReadKey(streamed, reader);
    if (reader.hasError())
        return QStringLiteral("quick reader accepted a document the stream reader rejects");
    if (plain.keys() != streamed.keys())
        return QStringLiteral("keys differ: %1 / %2").arg(plain.keys().join(','), streamed.keys().join(','));
    for (auto it = plain.constBegin(); it != plain.constEnd(); ++it) {
        const QVariant expected = streamed.value(it.key());
        const QVariant actual = XmlProbe::stringToVariant(it.value().toString());
        if (actual.userType() != expected.userType() || actual != expected)
            return QStringLiteral("value of %1 differs").arg(it.key());
    }
    return QString();
}

QString randomText(QRandomGenerator &random, const QString &alphabet, int maxLength)
{
    QString text;
    const int length = random.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i)
        text.append(alphabet.at(random.bounded(alphabet.size())));
    return text;
}

// A stream of Qt 4.0 (the "@Variant(" payload) written by `write`.
template<typename Write>
QByteArray payload(Write write)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    write(stream);
    return bytes;
}

// `depth` headers of the form `header` around the int 7.
QByteArray nestedPayload(int depth, const QByteArray &header)
{
    return payload([&](QDataStream &stream) {
        for (int i = 0; i < depth; ++i)
            stream.writeRawData(header.constData(), header.size());
        stream << quint32(QMetaType::Int) << qint32(7);
    });
}

QByteArray listHeader(quint32 count = 1)
{
    return payload([&](QDataStream &stream) { stream << quint32(QMetaType::QVariantList) << count; });
}

// A type announced by name, as streams of Qt 4 do for types it did not know.
QByteArray namedHeader(const char *name, quint32 count)
{
    return payload([&](QDataStream &stream) { stream << quint32(127) << name << count; });
}

qreal linearCurve(qreal progress)
{
    return progress;
}
} // namespace

class tst_XmlSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void nameCodec_data();
    void nameCodec();
    void nameCodecRoundTripsAnyComponent();

    void roundTrip_data();
    void roundTrip();
    void arraysAndOddNamesReadBack();
    void layout_data();
    void layout();
    void pythonWrittenFileIsRead();
    void reading_data();
    void reading();
    void craftedVariantPayloads_data();
    void craftedVariantPayloads();
    void plainReaderMatchesOnGeneratedDocuments();
    void writerRefusesUnreadableStores_data();
    void writerRefusesUnreadableStores();
    void keysMeasuredAgainstWholeDocument();
    void regFormatRegistersOnce();
    void derivedFormatHelpers();
    void fileNameExtension();

private:
    QString freshCopy(const QString &path);

    QTemporaryDir m_dir;
    int m_copies = 0;
};

void tst_XmlSettings::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
    // The reader logs every document's version at debug level.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    XmlSettings::regFormat();
    QVERIFY(XmlSettings::xmlFormat() != QSettings::InvalidFormat);
}

void tst_XmlSettings::cleanupTestCase()
{
    QLoggingCategory::setFilterRules(QString());
}

// Qt keeps parsed settings files in a cache keyed by path; a copy under a new
// name is read from disk, as another process would read it.
QString tst_XmlSettings::freshCopy(const QString &path)
{
    const QString copy = m_dir.filePath(QStringLiteral("copy%1.xml").arg(++m_copies));
    return QFile::copy(path, copy) ? copy : QString();
}

void tst_XmlSettings::nameCodec_data()
{
    QTest::addColumn<QString>("component");
    QTest::addColumn<QString>("element");

    QTest::newRow("plain") << "port" << "port";
    QTest::newRow("dash-dot-digits") << "a-1.b_2" << "a-1.b_2";
    QTest::newRow("array-index") << "1" << "_x0031_";
    QTest::newRow("array-index-10") << "10" << "_x0031_0";
    QTest::newRow("blank") << "a b" << "a_x0020_b";
    QTest::newRow("colon") << "ns:key" << "ns_x003A_key";
    QTest::newRow("leading-dash") << "-x" << "_x002D_x";
    QTest::newRow("leading-dot") << ".x" << "_x002E_x";
    QTest::newRow("escape-lookalike") << "_x0041_" << "_x005F_x0041_";
    QTest::newRow("escape-lookalike-lower") << "a_x00ff_" << "a_x005F_x00ff_";
    QTest::newRow("chained-lookalikes") << "a_x0041_x0042_" << "a_x005F_x0041_x005F_x0042_";
    QTest::newRow("not-an-escape") << "_x00G1_" << "_x00G1_";
    QTest::newRow("short-escape") << "_x004_" << "_x004_";
    QTest::newRow("latin-letter") << QString::fromUtf8("grüße") << QString::fromUtf8("grüße");
    QTest::newRow("cjk") << QString::fromUtf8("设置") << QString::fromUtf8("设置");
    QTest::newRow("cjk-extension-a") << QString(QChar(0x3400)) << "_x3400_";
    QTest::newRow("outside-bmp") << QString::fromUtf8("a\U0001F600") << "a_xD83D__xDE00_";
    QTest::newRow("control") << QString(QLatin1Char('\x01')) << "_x0001_";
    QTest::newRow("combining-first") << QString(QChar(0x0300)) << "_x0300_";
    QTest::newRow("combining-later") << QString::fromUtf8("a\u0300") << QString::fromUtf8("a\u0300");
    QTest::newRow("xml-prefix") << "xmlish" << "xmlish";
}

void tst_XmlSettings::nameCodec()
{
    QFETCH(QString, component);
    QFETCH(QString, element);
    QCOMPARE(XmlNameCodec::encode(component), element);
    QCOMPARE(XmlNameCodec::decode(element), component);
    QVERIFY2(isXmlName(element), qPrintable(element));
}

void tst_XmlSettings::nameCodecRoundTripsAnyComponent()
{
    const QString alphabet = QString::fromUtf8("a_x0F1 :-.é\u3400\u0300\x01") + QString::fromUtf8("\U0001F600");
    QRandomGenerator random(20240601);
    for (int round = 0; round < 3000; ++round) {
        const QString component = alphabet.at(random.bounded(alphabet.size())) + randomText(random, alphabet, 11);
        const QString element = XmlNameCodec::encode(component);
        QVERIFY2(isXmlName(element), qPrintable(element));
        QCOMPARE(XmlNameCodec::decode(element), component);
    }
}

void tst_XmlSettings::roundTrip_data()
{
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<QVariant>("expected");
    const auto same = [](const char *tag, const QVariant &value) { QTest::newRow(tag) << value << value; };
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    same("string", "hello");
    same("at-sign", "@home");
    same("double-at", "@@x");
    same("marker-lookalike", "@Rect(1 2 3)");
    same("empty-string", QString());
    same("blanks", "   ");
    same("surrounding-blanks", "  x  ");
    same("newlines-and-tab", "a\nb\t\n");
    same("markup", "<a & b> \"q\" ]]>");
    same("unicode", QString::fromUtf8("Grüße 你好 \U0001F600"));
    same("control-chars", QString::fromLatin1("a\x01" "b\x1f"));
    same("carriage-returns", "l1\r\nl2\r");
    same("nul", QString(QChar(0)));
    same("lone-surrogate", QString(QChar(0xD800)));
    same("non-character", QString(QChar(0xFFFE)));
    same("bytes-all-256", allBytes);
    same("bytes-empty", QByteArray());
    same("rect", QRect(-5, 2, 3, 4));
    same("size", QSize(640, 480));
    same("point", QPoint(-1, 9));
    same("invalid", QVariant());
    same("string-list", QStringList{"a", "", "@c"});
    same("byte-array-list", QVariant::fromValue(QByteArrayList{"a", QByteArray(), QByteArray("\xff\x00", 2)}));
    same("variant-list", QVariantList{1, "x", QVariantMap{{"k", 2.5}}});
    same("datetime", QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 123), Qt::UTC));
    // Numbers and booleans come back as their text.
    QTest::newRow("int") << QVariant(42) << QVariant("42");
    QTest::newRow("bool") << QVariant(true) << QVariant("true");
}

void tst_XmlSettings::roundTrip()
{
    QFETCH(QVariant, written);
    QFETCH(QVariant, expected);
    const QString path = m_dir.filePath(QStringLiteral("%1.xml").arg(QTest::currentDataTag()));
    {
        XmlSettings settings(path);
        settings.beginGroup(QStringLiteral("group"));
        settings.setValue(QStringLiteral("value"), written);
        settings.endGroup();
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    compareEntries(XmlSettings(freshCopy(path)), {{"group/value", expected}});
}

// Array indices, blanks, colons and names that look like escapes or like the
// root element used to make a file that the reader rejected or misread.
void tst_XmlSettings::arraysAndOddNamesReadBack()
{
    const QString path = m_dir.filePath(QStringLiteral("arrays.xml"));
    QVariantMap expected{{"servers/size", "3"}};
    {
        XmlSettings settings(path);
        settings.beginWriteArray(QStringLiteral("servers"), 3);
        for (int i = 0; i < 3; ++i) {
            settings.setArrayIndex(i);
            settings.setValue(QStringLiteral("host"), QStringLiteral("10.0.0.%1").arg(i + 1));
            expected.insert(QStringLiteral("servers/%1/host").arg(i + 1), QStringLiteral("10.0.0.%1").arg(i + 1));
        }
        settings.endArray();
        for (const QString &name : {QStringLiteral("with blank"), QStringLiteral("ns:colon"), QStringLiteral("_x0041_"),
                                    QStringLiteral("xml-settings"), QString(QChar(0x3400)),
                                    QString::fromUtf8("\U0001F600"), QStringLiteral("9lives")}) {
            settings.setValue(QStringLiteral("odd/") + name, name);
            expected.insert(QStringLiteral("odd/") + name, name);
        }
    }
    compareEntries(XmlSettings(freshCopy(path)), expected);
    // Other XML parsers accept the file and see the escaped names.
    QString error;
    const QByteArray lines = runPython(flattenScript, {path}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (const char *line : {R"j(["xml-settings/servers/_x0031_/host", "10.0.0.1"])j", R"j(["xml-settings/servers/size", "3"])j",
                             R"j(["xml-settings/odd/with_x0020_blank", "with blank"])j",
                             R"j(["xml-settings/odd/_x005F_x0041_", "_x0041_"])j",
                             R"j(["xml-settings/odd/_x0078_ml-settings", "xml-settings"])j"})
        QVERIFY2(lines.contains(line), line);
}

// Stores as the writer lays them out, as Python's ElementTree sees the file
// (when given) and as they are read back.
void tst_XmlSettings::layout_data()
{
    QTest::addColumn<QVariantMap>("values");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QByteArray>("python");
    QTest::addColumn<QVariantMap>("reread");
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    QTest::newRow("example")
        << QVariantMap{{"a/b", 5}, {"a/e", "x"}, {"d", true}, {"f", "@home"}, {"g", QByteArray("\x00\xff", 2)},
                       {"h", QRect(1, 2, 3, 4)}}
        << declaration + "<xml-settings>\n    <a>\n        <b>5</b>\n        <e>x</e>\n    </a>\n    <d>true</d>\n"
                         "    <f>@@home</f>\n    <g>@ByteArray(00ff)</g>\n    <h>@Rect(1 2 3 4)</h>\n</xml-settings>\n"
        << QByteArray(R"j(["xml-settings/a/b", "5"])j" "\n" R"j(["xml-settings/a/e", "x"])j" "\n"
                      R"j(["xml-settings/d", "true"])j" "\n" R"j(["xml-settings/f", "@@home"])j" "\n"
                      R"j(["xml-settings/g", "@ByteArray(00ff)"])j" "\n" R"j(["xml-settings/h", "@Rect(1 2 3 4)"])j" "\n")
        << QVariantMap{{"a/b", "5"}, {"a/e", "x"}, {"d", "true"}, {"f", "@home"}, {"g", QByteArray("\x00\xff", 2)},
                       {"h", QRect(1, 2, 3, 4)}};
    QTest::newRow("empty-store") << QVariantMap() << declaration + "<xml-settings/>\n" << QByteArray() << QVariantMap();
    // The value 1 of a is lost to the group a.
    QTest::newRow("value-and-group-of-same-name")
        << QVariantMap{{"a", 1}, {"a/b", 2}}
        << declaration + "<xml-settings>\n    <a>\n        <b>2</b>\n    </a>\n</xml-settings>\n" << QByteArray()
        << QVariantMap{{"a/b", "2"}};
    QTest::newRow("map-value-becomes-group")
        << QVariantMap{{"m", QVariantMap{{"a", 1}, {"b", QVariantMap{{"c", "x"}}}}}}
        << declaration + "<xml-settings>\n    <m>\n        <a>1</a>\n        <b>\n            <c>x</c>\n"
                         "        </b>\n    </m>\n</xml-settings>\n"
        << QByteArray() << QVariantMap{{"m/a", "1"}, {"m/b/c", "x"}};
    // No element name gives an empty key: such a map is written whole.
    const QVariant unnamed = QVariantMap{{"", 1}, {"a", QVariantMap{{"", "x"}}}};
    QTest::newRow("map-value-with-empty-key-written-whole")
        << QVariantMap{{"m", unnamed}}
        << declaration + "<xml-settings>\n    <m>@Variant("
               + payload([&](QDataStream &s) { s << unnamed; }).toHex() + ")</m>\n</xml-settings>\n"
        << QByteArray() << QVariantMap{{"m", unnamed}};
}

void tst_XmlSettings::layout()
{
    QFETCH(QVariantMap, values);
    QFETCH(QByteArray, xml);
    QFETCH(QByteArray, python);
    QFETCH(QVariantMap, reread);
    const QString path = m_dir.filePath(QStringLiteral("layout-%1.xml").arg(QTest::currentDataTag()));
    if (values.isEmpty()) {
        QVERIFY(writeFile(path, XmlProbe::writeXmlData({}))); // QSettings writes no file for an empty store
    } else {
        XmlSettings settings(path);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            settings.setValue(it.key(), it.value());
    }
    QCOMPARE(readFile(path), xml);
    if (!python.isEmpty()) {
        QString error;
        QCOMPARE(runPython(flattenScript, {path}, &error), python);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    compareEntries(XmlSettings(freshCopy(path)), reread);
}

void tst_XmlSettings::pythonWrittenFileIsRead()
{
    const QString path = m_dir.filePath(QStringLiteral("python.xml"));
    const QString script = QStringLiteral(R"(
import sys, xml.etree.ElementTree as ET
root = ET.Element("xml-settings")
net = ET.SubElement(root, "net")
ET.SubElement(net, "host").text = "broker & co <1>"
ET.SubElement(net, "_x0031_").text = "first"
ET.SubElement(root, "greeting").text = "Grüße 你好"
ET.SubElement(root, "blank").text = "  "
ET.ElementTree(root).write(sys.argv[1], encoding="utf-8", xml_declaration=True)
)");
    QString error;
    runPython(script, {path}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    compareEntries(XmlSettings(path), {{"blank", "  "}, {"greeting", QString::fromUtf8("Grüße 你好")},
                                       {"net/1", "first"}, {"net/host", "broker & co <1>"}});
}

// Documents read by the stream reader (as written here, without a
// declaration) and, with this format's declaration in front, by the quick
// reader where it takes them ("plain"), which must then agree.
void tst_XmlSettings::reading_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVariantMap>("expected");
    QTest::addColumn<bool>("plain");
    const auto row = [](const char *tag, const QByteArray &body, const QVariantMap &expected, bool plain) {
        QTest::newRow(tag) << body << true << expected << plain;
    };
    const auto bad = [](const char *tag, const QByteArray &body) {
        QTest::newRow(tag) << body << false << QVariantMap() << false;
    };
    row("other-root", "<config><net><port>1883</port></net></config>", {{"config/net/port", "1883"}}, true);
    row("text-beside-children", "<xml-settings>\n  <a>\n    hello &amp; u\n    <b>1</b>\n  \n  </a>\n</xml-settings>\n",
        {{"a", "\n    hello & u\n    "}, {"a/b", "1"}}, true);
    row("entities", "<xml-settings><a>x &amp; &lt;y&gt; &quot;q&quot; &apos;</a></xml-settings>",
        {{"a", "x & <y> \"q\" '"}}, true);
    row("empty-and-blank", "<xml-settings><a/><b>  \t</b><c></c></xml-settings>", {{"a", ""}, {"b", "  \t"}, {"c", ""}}, true);
    row("escaped-names", "<xml-settings><_x0031_><n_x0020_m>v</n_x0020_m></_x0031_><_x003a_b>w</_x003a_b></xml-settings>",
        {{"1/n m", "v"}, {":b", "w"}}, true);
    row("root-name-inside", "<xml-settings><a><xml-settings>5</xml-settings><b/></a></xml-settings>",
        {{"a", "5"}, {"a/b", ""}}, true);
    row("utf8-text", "<xml-settings><a>Grüße 你好 \xF0\x9F\x98\x80</a></xml-settings>",
        {{"a", QString::fromUtf8("Grüße 你好 \xF0\x9F\x98\x80")}}, true);
    row("empty-root", "<xml-settings/>\n", {}, true);
    row("markers", "<xml-settings><a>@ByteArray(00ff)</a><b>@Rect(1 2 3)</b><c>@@home</c><d>@Invalid()</d>"
                   "<e>@Size(5 6)</e><f>@Point(7 8)</f><g>@Other(1)</g></xml-settings>",
        {{"a", QByteArray("\x00\xff", 2)}, {"b", "@Rect(1 2 3)"}, {"c", "@home"}, {"d", QVariant()},
         {"e", QSize(5, 6)}, {"f", QPoint(7, 8)}, {"g", "@Other(1)"}}, true);
    row("repeated-key-last-wins", "<xml-settings><a>1</a><a>2</a></xml-settings>", {{"a", "2"}}, true);
    row("comments", "<xml-settings><!-- c --><a><!-- x -->v<!-- y --></a><b><!-- only --></b></xml-settings>",
        {{"a", "v"}, {"b", ""}}, false);
    row("cdata-and-references", "<xml-settings><a>x &amp; <![CDATA[<y>]]> &#x4E2D;&#65;</a></xml-settings>",
        {{"a", QString::fromUtf8("x & <y> 中A")}}, false);
    row("standalone-crlf", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                           "<xml-settings>\r\n    <a>x</a>\r\n</xml-settings>\r\n", {{"a", "x"}}, false);
    row("non-ascii-name", "<xml-settings><grüße>1</grüße></xml-settings>", {{QString::fromUtf8("grüße"), "1"}}, false);
    row("attribute", "<xml-settings><a b=\"1\">1</a></xml-settings>", {{"a", "1"}}, false);
    row("blank-in-tag", "<xml-settings><a >1</a ></xml-settings>", {{"a", "1"}}, false);

    QByteArray junk(600, '\0');
    QRandomGenerator random(7);
    for (char &c : junk)
        c = char(random.bounded(256));
    junk[0] = '\x89';
    QByteArray deep;
    for (int i = 0; i < 2000; ++i)
        deep.prepend("<a>").append("</a>");
    // One long group name repeated in the key of every entry below it.
    QByteArray amplifying = "<xml-settings><" + QByteArray(20000, 'g') + ">";
    for (int i = 0; i < 2000; ++i)
        amplifying += "<b/>";
    amplifying += "</" + QByteArray(20000, 'g') + "></xml-settings>";
    bad("mismatched", "<xml-settings><a>1</b></xml-settings>");
    bad("truncated", "<xml-settings>\n    <a>1</a>\n");
    bad("binary-junk", junk);
    bad("unescaped-index", "<xml-settings><list><1>x</1></list></xml-settings>");
    bad("undeclared-prefix", "<xml-settings><a:b>x</a:b></xml-settings>");
    bad("control-character", "<xml-settings><a>\x01</a></xml-settings>");
    bad("two-roots", "<xml-settings/><xml-settings/>");
    bad("text-outside-root", "x<a/>");
    bad("unknown-entity", "<xml-settings><a>&foo;</a></xml-settings>");
    bad("bad-utf8", "<xml-settings><a>\xC3\x28</a></xml-settings>");
    bad("overlong-utf8", "<xml-settings><a>\xC0\xBC</a></xml-settings>");
    bad("encoded-surrogate", "<xml-settings><a>\xED\xA0\x80</a></xml-settings>");
    bad("non-character", "<xml-settings><a>\xEF\xBF\xBF</a></xml-settings>");
    bad("cdata-end-in-text", "<xml-settings><a>]]></a></xml-settings>");
    bad("too-deep", deep);
    bad("amplifying-keys", amplifying);
    // Qt's reader refuses element names over 4096 characters; the quick one
    // must not take them either.
    bad("name-over-4096", "<xml-settings><" + QByteArray(4097, 'n') + ">1</" + QByteArray(4097, 'n')
                              + "></xml-settings>");
}

void tst_XmlSettings::reading()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QVariantMap, expected);
    QFETCH(bool, plain);
    const QString path = m_dir.filePath(QStringLiteral("read-%1.xml").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, body));
    if (!ok)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^\".+\"$")));
    const XmlSettings settings(path);
    if (ok)
        compareEntries(settings, expected);
    else
        QCOMPARE(settings.status(), QSettings::FormatError);

    bool handled = false;
    const QString difference = compareReaders("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body, &handled);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(handled, plain);
    QSettings::SettingsMap map; // without the declaration written by this format the stream reader is used
    QVERIFY(!XmlPlainReader::read(body, map));
}

void tst_XmlSettings::craftedVariantPayloads_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QVariant>("expected");

    const QByteArray variantHeader = payload([](QDataStream &s) { s << quint32(QMetaType::QVariant); });
    const QByteArray qt4VariantHeader = payload([](QDataStream &s) { s << quint32(QMetaType::QVariant + 97); });
    QTest::newRow("lists nested within the limit")
        << nestedPayload(3, listHeader()) << QVariant(QVariantList{QVariantList{QVariantList{7}}});
    // Deep enough to exhaust the stack if read recursively without a limit.
    QTest::newRow("lists nested too deep") << nestedPayload(300000, listHeader()) << QVariant(QVariantList());
    QTest::newRow("lists named by type name, nested too deep")
        << nestedPayload(300000, namedHeader("QVariantList", 1)) << QVariant(QVariantList());
    QTest::newRow("variant in variant") << nestedPayload(2, variantHeader) << QVariant(7);
    QTest::newRow("variants nested too deep") << nestedPayload(300000, variantHeader) << QVariant();
    QTest::newRow("variants with the Qt 4 type id nested too deep")
        << nestedPayload(300000, qt4VariantHeader) << QVariant();

    // Containers announcing more elements than there are bytes: nothing is
    // reserved up front.
    QTest::newRow("list of 2^32-256") << QByteArray::fromHex("00000009ffffff00") << QVariant(QVariantList());
    QTest::newRow("string list of 2^31-1") << QByteArray::fromHex("0000000b7fffffff") << QVariant(QStringList());
    QTest::newRow("string list named, of 2^31-1") << namedHeader("QStringList", 0x7fffffff) << QVariant(QStringList());
    QTest::newRow("byte array list of 2^28-1")
        << QByteArray::fromHex("000000310fffffff00000001") << QVariant::fromValue(QByteArrayList());
    QTest::newRow("byte array list with the Qt 4 type id, of 2^28-1")
        << QByteArray::fromHex("000000920fffffff00000001") << QVariant::fromValue(QByteArrayList());
    // QVariant keeps 30 bits of the type: 0x40000092 is a byte array list as well.
    QTest::newRow("byte array list with bit 30 set in the type, of 2^28-1")
        << QByteArray::fromHex("400000920fffffff00000001") << QVariant::fromValue(QByteArrayList());
    QTest::newRow("list with bits 30 and 31 set in the type")
        << QByteArray::fromHex("c000006a000000010000000200000007") << QVariant(QVariantList{7});

    const QVariant bounce = QVariant::fromValue(QEasingCurve(QEasingCurve::OutBounce));
    QTest::newRow("easing curve") << payload([&](QDataStream &s) { s << bounce; }) << bounce;
    QEasingCurve custom;
    custom.setCustomType(linearCurve);
    // The stream holds the address of the curve function, which the curve
    // would call: never taken from a file, whatever type the curve claims.
    QTest::newRow("easing curve with a function address")
        << payload([&](QDataStream &s) { s << QVariant::fromValue(custom); }) << QVariant();
    QTest::newRow("linear easing curve with a function address")
        << QByteArray::fromHex("0000001d00000000000000414100") << QVariant();
}

// Crafted "@Variant(" payloads: the value is read as far as it is sound,
// the rest of the store is unharmed.
void tst_XmlSettings::craftedVariantPayloads()
{
    QFETCH(QByteArray, payload);
    QFETCH(QVariant, expected);
    // A file per row: QSettings caches what it read per file name.
    const QString path = m_dir.filePath(QStringLiteral("crafted-%1.xml").arg(QString::fromLatin1(
        QCryptographicHash::hash(QTest::currentDataTag(), QCryptographicHash::Sha1).toHex())));
    QVERIFY(writeFile(path, "<xml-settings><a>1</a><v>@Variant(" + payload.toHex() + ")</v><z>2</z></xml-settings>"));
    XmlSettings settings(path);
    QCOMPARE(settings.status(), QSettings::NoError);
    const QVariant value = settings.value(QStringLiteral("v"));
    QCOMPARE(value.userType(), expected.userType());
    QCOMPARE(value, expected);
    QCOMPARE(settings.value(QStringLiteral("a")), QVariant("1"));
    QCOMPARE(settings.value(QStringLiteral("z")), QVariant("2"));
}

void tst_XmlSettings::writerRefusesUnreadableStores_data()
{
    QTest::addColumn<QVariantMap>("values");
    QTest::addColumn<QString>("error"); // empty: written

    QVariant nested = 1;
    for (int i = 0; i < 1023; ++i)
        nested = QVariantMap{{QStringLiteral("x"), nested}};
    const QString longName = "Settings key component too long for an element name";

    QTest::newRow("1023 components") << QVariantMap{{keyOfDepth(1023), "1"}} << QString();
    QTest::newRow("1024 components") << QVariantMap{{keyOfDepth(1024), "1"}} << "Settings nested too deeply";
    QTest::newRow("map values nested too deep") << QVariantMap{{"m", nested}} << "Settings nested too deeply";
    // Qt's XML reader takes element names of up to 4096 characters.
    QTest::newRow("component of 4096 characters") << QVariantMap{{QString(4096, 'k'), "1"}} << QString();
    QTest::newRow("component of 4097 characters") << QVariantMap{{QString(4097, 'k'), "1"}} << longName;
    QTest::newRow("component escaped past 4096 characters") << QVariantMap{{QString(600, ' '), "1"}} << longName;
    // A long group name repeated in every key below it, more than the
    // reader takes from a document of the written size.
    QTest::newRow("keys over the size limit") << amplifyingStore(4000, 2000) << "Settings keys exceed the size limit";
}

// A store the reader would refuse is not written: the old file stays and
// QSettings reports the failure.
void tst_XmlSettings::writerRefusesUnreadableStores()
{
    QFETCH(QVariantMap, values);
    QFETCH(QString, error);
    setAndSync<XmlSettings>(m_dir.filePath(QStringLiteral("refused-%1.xml").arg(QTest::currentDataTag())),
                            "<xml-settings><keep>1</keep></xml-settings>", values, error);
}

// Heavy keys first and the bulk of the document after them: read, and
// written again, whatever the order.
void tst_XmlSettings::keysMeasuredAgainstWholeDocument()
{
    const QByteArray group(4000, 'g');
    QByteArray body = "<xml-settings><" + group + ">";
    for (int i = 0; i < 2000; ++i)
        body += "<b" + QByteArray::number(i) + ">1</b" + QByteArray::number(i) + ">";
    body += "</" + group + "><z>" + QByteArray(200000, 'p') + "</z></xml-settings>";
    const QString path = m_dir.filePath(QStringLiteral("heavy-first.xml"));
    QVERIFY(writeFile(path, body));
    {
        XmlSettings settings(path);
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(settings.allKeys().size(), 2001);
        settings.setValue(QStringLiteral("n"), 1);
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    XmlSettings again(freshCopy(path));
    QCOMPARE(again.status(), QSettings::NoError);
    QCOMPARE(again.allKeys().size(), 2002);
    QCOMPARE(again.value(QString::fromLatin1(group + "/b1999")), QVariant("1"));
    QCOMPARE(again.value(QStringLiteral("z")).toString().size(), 200000);
}

// Stores of random names and values as the writer writes them, and the same
// documents with random damage: the quick reader must take every undamaged
// one, and whatever it takes must read the same with the stream reader.
void tst_XmlSettings::plainReaderMatchesOnGeneratedDocuments()
{
    const QString names = QString::fromUtf8("ab_x0F1 :-.é<&") + QString::fromUtf8("\U0001F600");
    const QString texts = QString::fromUtf8("ab @()<>&\"'\n\t\r\x01é中") + QString::fromUtf8("\U0001F600");
    QRandomGenerator random(4242);
    int taken = 0;
    for (int round = 0; round < 300; ++round) {
        QSettings::SettingsMap store;
        const int keys = 1 + random.bounded(12);
        for (int k = 0; k < keys; ++k) {
            QStringList path;
            const int depth = 1 + random.bounded(3);
            for (int d = 0; d < depth; ++d)
                path.append(QStringLiteral("k") + randomText(random, names, 4));
            QVariant value;
            switch (random.bounded(4)) {
            case 0: value = randomText(random, texts, 8); break;
            case 1: value = random.bounded(1000); break;
            case 2: value = randomText(random, texts, 4).toUtf8(); break;
            // A marker form; not "@Variant(", whose damaged payloads make Qt warn.
            default: value = QRect(random.bounded(9), -random.bounded(9), random.bounded(99), 1); break;
            }
            store.insert(path.join(QLatin1Char('/')), value);
        }
        const QByteArray xml = XmlProbe::writeXmlData(store);
        bool handled = false;
        QString difference = compareReaders(xml, &handled);
        QVERIFY2(difference.isEmpty(), qPrintable(difference + QLatin1Char('\n') + QString::fromUtf8(xml)));
        if (!QString::fromUtf8(xml).contains(QRegularExpression(QStringLiteral("<[^?/>]*[^\\x00-\\x7f]"))))
            QVERIFY2(handled, xml.constData());

        // The terminating NUL is one of the bytes inserted.
        static const char inserts[] = "<>&/\r\xC3 x";
        QByteArray damaged = xml;
        const int at = random.bounded(damaged.size());
        if (random.bounded(2))
            damaged.remove(at, 1 + random.bounded(3));
        else
            damaged.insert(at, inserts[random.bounded(int(sizeof inserts))]);
        difference = compareReaders(damaged, &handled);
        QVERIFY2(difference.isEmpty(), qPrintable(difference + QLatin1Char('\n') + QString::fromUtf8(damaged)));
        taken += handled ? 1 : 0;
    }
    QVERIFY(taken > 0);
}

// Qt has room for 16 custom formats per process; registering on every call
// would soon leave the format invalid.
void tst_XmlSettings::regFormatRegistersOnce()
{
    const QSettings::Format format = XmlSettings::xmlFormat();
    for (int i = 0; i < 20; ++i)
        XmlSettings::regFormat();
    QCOMPARE(XmlSettings::xmlFormat(), format);

    const QString path = m_dir.filePath(QStringLiteral("again.xml"));
    {
        XmlSettings settings(path);
        QCOMPARE(settings.format(), format);
        settings.setValue(QStringLiteral("k"), 1);
    }
    QVERIFY(readFile(path).contains("<k>1</k>"));
}

void tst_XmlSettings::derivedFormatHelpers()
{
    const QSettings::SettingsMap map{{"a/b", QByteArray("\x01\x02")}, {"c", QStringLiteral("@x")},
                                     {"list/1/n", 1}, {"list/size", 1}};
    const QByteArray xml = XmlProbe::writeXmlData(map);

    QByteArray viaDevice;
    QBuffer buffer(&viaDevice);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(XmlSettings::writeXmlFile(buffer, map));
    QCOMPARE(viaDevice, xml);

    QSettings::SettingsMap read;
    QVERIFY(XmlProbe::readXmlData(xml, read));
    QCOMPARE(read.keys(), map.keys());
    QCOMPARE(read.value("a/b"), QVariant(QByteArray("\x01\x02")));
    QCOMPARE(read.value("c"), QVariant("@x"));
    QCOMPARE(read.value("list/size").toInt(), 1);

    QSettings::SettingsMap partial;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^\".+\"$")));
    QVERIFY(!XmlProbe::readXmlData(xml.left(xml.indexOf("</a>")), partial));
    QCOMPARE(XmlProbe::variantToString(QVariant(QRect(1, 2, 3, 4))), QStringLiteral("@Rect(1 2 3 4)"));
    QCOMPARE(XmlProbe::stringToVariant(QStringLiteral("@Point(1 2 3)")), QVariant("@Point(1 2 3)"));

    QByteArray empty; // an empty document is an error of the reader
    QBuffer emptyBuffer(&empty);
    QVERIFY(emptyBuffer.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtCriticalMsg, "\"Premature end of document.\"");
    QVERIFY(!XmlSettings::readXmlFile(emptyBuffer, partial));
}

void tst_XmlSettings::fileNameExtension()
{
    // Nothing is written: the store is only opened.
    const XmlSettings settings(QStringLiteral("orvel-test"), QStringLiteral("tst"));
    QVERIFY2(settings.fileName().endsWith(QLatin1String("/orvel-test/tst.xml")),
             qPrintable(settings.fileName()));
}

QTEST_GUILESS_MAIN(tst_XmlSettings)
#include "tst_xmlsettings.moc"
