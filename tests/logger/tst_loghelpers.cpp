#include <logger/logbinary.h>
#include <logger/logencoded.h>
#include <logger/loglist.h>
#include <logger/logtab.h>
#include <logger/logvariant.h>

#include <QTest>
#include <QTextCodec>

namespace {
const QString indent(15, QLatin1Char(' '));
const QString nl = QLatin1Char('\n') + indent; // what logtab writes

QString blanks(int n) { return QString(n, QLatin1Char(' ')); }

template<typename T>
QString streamed(const T &value)
{
    QString out;
    QTextStream stream(&out);
    stream << value;
    stream.flush();
    return out;
}

template<typename T>
QString debugged(const T &value)
{
    QString out;
    QDebug(&out) << value;
    return out;
}
} // namespace

class tst_LogHelpers : public QObject
{
    Q_OBJECT

private slots:
    void logtabStartsIndentedLine();
    void binaryExactLayout_data();
    void binaryExactLayout();
    void binaryColumns_data();
    void binaryColumns();
    void binaryCountIsDecimal();
    void unknownCodecFallsBackToSystem();
    void encoded_data();
    void encoded();
    void list_data();
    void list();
    void variant_data();
    void variant();
    void debugForms_data();
    void debugForms();
    void debugSpacing();
};

void tst_LogHelpers::logtabStartsIndentedLine()
{
    QString out;
    QTextStream stream(&out);
    stream << "a" << logtab << "b";
    logtab(stream) << "c";
    stream.flush();
    QCOMPARE(out, "a" + nl + "b" + nl + "c");
}

void tst_LogHelpers::binaryExactLayout_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    const QString sixteenHex = QStringLiteral("30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    ");
    QTest::newRow("empty") << QByteArray() << "Bytearrray size = 0" + nl + "Byte array is empty\n";
    QTest::newRow("three-bytes-with-line-feed")
        << QByteArray("\x41\x0a\x42", 3) << "Bytearrray size = 3" + nl + "41 0a 42 " + blanks(45) + "A.B";
    QTest::newRow("eight-bytes") << QByteArray("01234567")
                                 << "Bytearrray size = 8" + nl + "30 31 32 33 34 35 36 37    " + blanks(27) + "01234567";
    QTest::newRow("sixteen-bytes") << QByteArray("0123456789abcdef")
                                   << "Bytearrray size = 16" + nl + sixteenHex + "0123456789abcdef";
    QTest::newRow("seventeen-bytes") << QByteArray("0123456789abcdefg")
                                     << "Bytearrray size = 17" + nl + sixteenHex + "0123456789abcdef" + nl + "67 "
                                            + blanks(51) + "g";
    QTest::newRow("upper-bytes-lower-case-hex")
        << QByteArray("\xff\xab", 2)
        << "Bytearrray size = 2" + nl + "ff ab " + blanks(48) + QString(2, QChar::ReplacementCharacter);
}

void tst_LogHelpers::binaryExactLayout()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QCOMPARE(streamed(logbinary(data, "UTF-8")), expected);
}

void tst_LogHelpers::binaryColumns_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QStringList>("texts"); // the text column of each line
    for (int size = 1; size <= 48; ++size) {
        QByteArray data;
        for (int i = 0; i < size; ++i)
            data += char('A' + i % 26);
        QStringList texts;
        for (int start = 0; start < size; start += 16)
            texts << QString::fromLatin1(data.mid(start, 16));
        QTest::newRow(qPrintable(QStringLiteral("%1-bytes").arg(size))) << data << QByteArray() << texts;
    }
    QByteArray control;
    for (int byte = 0; byte < 0x22; ++byte)
        control += char(byte);
    QTest::newRow("control-bytes-as-dots-7f-and-above-to-codec")
        << control + "\x7f\xc3\xa9" << QByteArray("UTF-8")
        << QStringList{QString(16, '.'), QString(16, '.'), " !" + QString(QChar(0x7f)) + QChar(0xe9)};
    QTest::newRow("latin1-maps-every-upper-byte") << QByteArray("\x1f\x80\xe9", 3) << QByteArray("ISO-8859-1")
                                                  << QStringList{"." + QString(QChar(0x80)) + QChar(0xe9)};
    // "é" is c3 a9; the c3 ends the first line, the a9 opens the second.
    QTest::newRow("character-split-between-lines")
        << QByteArray(15, 'x') + "\xc3\xa9yz" << QByteArray("UTF-8")
        << QStringList{QString(15, 'x'), QChar(0xe9) + QStringLiteral("yz")};
}

void tst_LogHelpers::binaryColumns()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, codec);
    QFETCH(QStringList, texts);
    const QString out = streamed(logbinary(data, codec.isEmpty() ? nullptr : codec.constData()));
    const QStringList lines = out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + texts.size());
    QCOMPARE(lines.first(), QStringLiteral("Bytearrray size = %1").arg(data.size()));
    for (int l = 1; l < lines.size(); ++l) {
        QCOMPARE(lines.at(l).left(15), indent);
        // Hex digits from column 15, the text 54 characters further on.
        const QByteArray bytes = data.mid((l - 1) * 16, 16);
        QCOMPARE(lines.at(l).mid(15, 54).simplified(), QString::fromLatin1(bytes.toHex(' ')));
        QCOMPARE(lines.at(l).mid(15 + 54), texts.at(l - 1));
    }
}

void tst_LogHelpers::binaryCountIsDecimal()
{
    // A stream left in hexadecimal mode by earlier output.
    QString out;
    QTextStream stream(&out);
    stream.setIntegerBase(16);
    stream.setNumberFlags(QTextStream::ShowBase);
    stream << logbinary(QByteArray(20, 'a'), nullptr);
    stream.flush();
    QVERIFY2(out.startsWith(QLatin1String("Bytearrray size = 20\n")), qPrintable(out));
}

void tst_LogHelpers::unknownCodecFallsBackToSystem()
{
    const QByteArray utf8 = "caf\xc3\xa9\r\nbar";
    // The system codec is the locale's (UTF-8 under the test runner).
    const QString cafe = QTextCodec::codecForLocale()->toUnicode("caf\xc3\xa9");
    const QString system = streamed(logbinary(utf8, nullptr));
    QVERIFY(system.contains(cafe + QLatin1String("..bar")));
    for (const char *codec : {"System", "no-such-codec", ""})
        QCOMPARE(streamed(logbinary(utf8, codec)), system);
    QCOMPARE(streamed(logencoded(utf8, "no-such-codec")), nl + cafe + nl + "bar");
    QCOMPARE(streamed(logencoded(utf8, nullptr)), nl + cafe + nl + "bar");
    QCOMPARE(logencoded(utf8, nullptr).codec(), QByteArray("System"));
    QCOMPARE(logbinary(utf8, nullptr).codec(), QByteArray("System"));
}

void tst_LogHelpers::encoded_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("expected");
    const QByteArray utf8("UTF-8");
    QTest::newRow("single-line-stays-on-line") << QByteArray("ab") << utf8 << QStringLiteral("ab");
    QTest::newRow("crlf-two-lines") << QByteArray("a\r\nb") << utf8 << nl + "a" + nl + "b";
    QTest::newRow("cr-cr-lf-is-one-break") << QByteArray("a\r\r\nb") << utf8 << nl + "a" + nl + "b";
    QTest::newRow("lone-cr-stays") << QByteArray("a\rb") << utf8 << QStringLiteral("a\rb");
    QTest::newRow("empty-line-kept") << QByteArray("a\n\nb") << utf8 << nl + "a" + nl + nl + "b";
    QTest::newRow("trailing-break-gives-empty-line") << QByteArray("a\n") << utf8 << nl + "a" + nl;
    QTest::newRow("empty") << QByteArray() << utf8 << QString();
    QTest::newRow("latin1") << QByteArray("caf\xe9") << QByteArray("ISO-8859-1") << "caf" + QString(QChar(0xe9));
    QTest::newRow("utf16le") << QByteArray("h\0i\0\n\0x\0", 8) << QByteArray("UTF-16LE") << nl + "hi" + nl + "x";
}

void tst_LogHelpers::encoded()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, codec);
    QFETCH(QString, expected);
    QCOMPARE(streamed(logencoded(data, codec.constData())), expected);
    // The same through the constructor for a zero-terminated text.
    if (!data.contains('\0'))
        QCOMPARE(streamed(logencoded(data.constData(), codec.constData())), expected);
    QVERIFY(logencoded(static_cast<const char *>(nullptr), "UTF-8").data().isEmpty());
}

void tst_LogHelpers::list_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty-writes-nothing") << QStringList() << QString();
    QTest::newRow("one") << QStringList{"s"} << nl + "s";
    QTest::newRow("two") << QStringList{"x", "y"} << nl + "x" + nl + "y";
    QTest::newRow("empty-string") << QStringList{QString()} << nl;
}

void tst_LogHelpers::list()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, expected);
    QCOMPARE(streamed(loglist(lines)), expected);
}

void tst_LogHelpers::variant_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    const QVariantMap map{{"id", 7}, {"name", "probe"}};
    // The JSON text ends with a line break: one more, empty, indented line.
    QTest::newRow("map") << QVariant(map)
                         << nl + "{" + nl + "    \"id\": 7," + nl + "    \"name\": \"probe\"" + nl + "}" + nl;
    QTest::newRow("list") << QVariant(QVariantList{1, "x"}) << nl + "[" + nl + "    1," + nl + "    \"x\"" + nl + "]" + nl;
    QTest::newRow("string-list") << QVariant(QStringList{"a"}) << nl + "[" + nl + "    \"a\"" + nl + "]" + nl;
    QTest::newRow("empty-map") << QVariant(QVariantMap()) << nl + "{" + nl + "}" + nl;
    QTest::newRow("number-gives-one-empty-line") << QVariant(42) << nl;
    QTest::newRow("string-gives-one-empty-line") << QVariant("text") << nl;
    QTest::newRow("invalid-gives-one-empty-line") << QVariant() << nl;
}

void tst_LogHelpers::variant()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QCOMPARE(streamed(logvariant(value)), expected);
}

void tst_LogHelpers::debugForms_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    // Quoted, unescaped, followed by the automatic blank.
    QTest::newRow("list-of-one") << debugged(loglist({"s"})) << "\"" + nl + "s\" ";
    QTest::newRow("empty-list") << debugged(loglist({})) << QStringLiteral("\"\" ");
    QTest::newRow("encoded-one-line") << debugged(logencoded("say \"hi\"", "UTF-8")) << QStringLiteral("\"say \"hi\"\" ");
    QTest::newRow("encoded-lines") << debugged(logencoded("a\r\nb", "UTF-8")) << "\"" + nl + "a" + nl + "b\" ";
    QTest::newRow("binary") << debugged(logbinary(QByteArray("\x01z", 2), "UTF-8"))
                            << "\"Bytearrray size = 2" + nl + "01 7a " + blanks(48) + ".z\" ";
    QTest::newRow("binary-empty") << debugged(logbinary(QByteArray(), "UTF-8"))
                                  << "\"Bytearrray size = 0" + nl + "Byte array is empty\n\" ";
    QTest::newRow("variant") << debugged(logvariant(QVariantList{1})) << "\"" + nl + "[" + nl + "    1" + nl + "]" + nl + "\" ";
}

void tst_LogHelpers::debugForms()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void tst_LogHelpers::debugSpacing()
{
    QString spaced, tight, after;
    QDebug(&spaced) << "a" << loglist({"s"}) << "b";
    QCOMPARE(spaced, "a \"" + nl + "s\" b ");
    QDebug(&tight).nospace() << "a" << loglist({"s"}) << "b";
    QCOMPARE(tight, "a\"" + nl + "s\"b");
    // The operator leaves the QDebug's own settings alone.
    {
        QDebug debug(&after);
        debug.nospace();
        debug << logencoded("x", "UTF-8");
        debug << QStringLiteral("q");
    }
    QCOMPARE(after, QStringLiteral("\"x\"\"q\""));
}

QTEST_GUILESS_MAIN(tst_LogHelpers)
#include "tst_loghelpers.moc"
