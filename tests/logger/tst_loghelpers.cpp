#include <logger/logbinary.h>
#include <logger/logencoded.h>
#include <logger/loglist.h>
#include <logger/logtab.h>
#include <logger/logvariant.h>

#include <QScopeGuard>
#include <QTest>
#include <QTextCodec>

namespace {
const QString indent(15, QLatin1Char(' '));
const QString nl = QLatin1Char('\n') + indent; // what logtab writes

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

QString blanks(int n)
{
    return QString(n, QLatin1Char(' '));
}

QStringList capturedMessages;
void capture(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedMessages.append(message);
}
} // namespace

class tst_LogHelpers : public QObject
{
    Q_OBJECT

private slots:
    void logtabStartsIndentedLine();
    void binaryExactLayout_data();
    void binaryExactLayout();
    void binaryTextColumn_data();
    void binaryTextColumn();
    void binaryControlBytes();
    void binaryCharacterSplitBetweenLines();
    void binaryCountIsDecimal();
    void unknownCodecFallsBackToSystem();
    void encoded_data();
    void encoded();
    void encodedFromNullText();
    void list_data();
    void list();
    void variant_data();
    void variant();
    void debugForms_data();
    void debugForms();
    void debugSpacing();
    void throughMessageHandler();
};

void tst_LogHelpers::logtabStartsIndentedLine()
{
    QString out;
    QTextStream stream(&out);
    stream << "a" << logtab << "b";
    logtab(stream) << "c";
    stream.flush();
    QCOMPARE(out, QLatin1String("a") + nl + QLatin1String("b") + nl + QLatin1String("c"));
}

void tst_LogHelpers::binaryExactLayout_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray()
                           << QLatin1String("Bytearrray size = 0") + nl + QLatin1String("Byte array is empty\n");
    QTest::newRow("three-bytes-with-line-feed")
        << QByteArray("\x41\x0a\x42", 3)
        << QLatin1String("Bytearrray size = 3") + nl + QLatin1String("41 0a 42 ") + blanks(45) + QLatin1String("A.B");
    QTest::newRow("eight-bytes")
        << QByteArray("01234567")
        << QLatin1String("Bytearrray size = 8") + nl + QLatin1String("30 31 32 33 34 35 36 37    ") + blanks(27)
               + QLatin1String("01234567");
    const QString sixteenHex = QLatin1String("30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    ");
    QTest::newRow("sixteen-bytes") << QByteArray("0123456789abcdef")
                                   << QLatin1String("Bytearrray size = 16") + nl + sixteenHex
                                          + QLatin1String("0123456789abcdef");
    QTest::newRow("seventeen-bytes")
        << QByteArray("0123456789abcdefg")
        << QLatin1String("Bytearrray size = 17") + nl + sixteenHex + QLatin1String("0123456789abcdef") + nl
               + QLatin1String("67 ") + blanks(51) + QLatin1String("g");
    QTest::newRow("upper-bytes-lower-case-hex")
        << QByteArray("\xff\xab", 2)
        << QLatin1String("Bytearrray size = 2") + nl + QLatin1String("ff ab ") + blanks(48) + QString(2, QChar::ReplacementCharacter);
}

void tst_LogHelpers::binaryExactLayout()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QCOMPARE(streamed(logbinary(data, "UTF-8")), expected);
}

void tst_LogHelpers::binaryTextColumn_data()
{
    QTest::addColumn<int>("size");
    for (int size = 1; size <= 48; ++size)
        QTest::newRow(qPrintable(QStringLiteral("%1-bytes").arg(size))) << size;
}

void tst_LogHelpers::binaryTextColumn()
{
    QFETCH(int, size);
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data += char('A' + i % 26);
    const QString out = streamed(logbinary(data, nullptr));
    QVERIFY(!out.endsWith(QLatin1Char('\n')));
    const QStringList lines = out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + (size + 15) / 16);
    QCOMPARE(lines.first(), QStringLiteral("Bytearrray size = %1").arg(size));
    for (int l = 1; l < lines.size(); ++l) {
        const QString &line = lines.at(l);
        const QByteArray bytes = data.mid((l - 1) * 16, 16);
        QVERIFY(line.startsWith(indent));
        // The text column starts 54 characters after the hex digits start.
        QCOMPARE(line.mid(15 + 54), QString::fromLatin1(bytes));
        const QString hex = line.mid(15, 54);
        QCOMPARE(hex.simplified(), QString::fromLatin1(bytes.toHex(' ')));
        for (int i = 0; i < bytes.size(); ++i) {
            const int column = i * 3 + (i >= 8 ? 3 : 0);
            QCOMPARE(hex.mid(column, 3), QString::fromLatin1(bytes.mid(i, 1).toHex()) + QLatin1Char(' '));
        }
    }
}

void tst_LogHelpers::binaryControlBytes()
{
    QByteArray data;
    for (int byte = 0; byte < 0x22; ++byte)
        data += char(byte);
    data += '\x7f';
    data += "\xc3\xa9"; // a two-byte character stays whole within the line
    const QStringList lines = streamed(logbinary(data, "UTF-8")).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(1).mid(15 + 54), QString(16, QLatin1Char('.')));
    QCOMPARE(lines.at(1).mid(15, 5), QStringLiteral("00 01"));
    QCOMPARE(lines.at(2).mid(15 + 54), QString(16, QLatin1Char('.')));
    QCOMPARE(lines.at(3).mid(15, 15), QStringLiteral("20 21 7f c3 a9 "));
    QCOMPARE(lines.at(3).mid(15 + 54), QStringLiteral(" !") + QChar(0x7f) + QChar(0xe9));

    // Latin-1 maps every byte above 0x7f to a character.
    const QStringList latin = streamed(logbinary(QByteArray("\x1f\x80\xe9", 3), "ISO-8859-1")).split(QLatin1Char('\n'));
    QCOMPARE(latin.at(1).mid(15 + 54), QStringLiteral(".") + QChar(0x80) + QChar(0xe9));
}

void tst_LogHelpers::binaryCharacterSplitBetweenLines()
{
    // "é" is c3 a9; the c3 ends the first line, the a9 opens the second.
    const QByteArray data = QByteArray(15, 'x') + "\xc3\xa9" + "yz";
    const QStringList lines = streamed(logbinary(data, "UTF-8")).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(1).mid(15 + 54), QString(15, QLatin1Char('x')));
    QCOMPARE(lines.at(2).mid(15, 9), QStringLiteral("a9 79 7a "));
    QCOMPARE(lines.at(2).mid(15 + 54), QString(QChar(0xe9)) + QStringLiteral("yz"));
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
    QCOMPARE(streamed(logbinary(utf8, "System")), system);
    QCOMPARE(streamed(logbinary(utf8, "no-such-codec")), system);
    QCOMPARE(streamed(logbinary(utf8, "")), system);
    QVERIFY(system.contains(cafe + QLatin1String("..bar")));

    const QString expected = nl + cafe + nl + QStringLiteral("bar");
    QCOMPARE(streamed(logencoded(utf8, "no-such-codec")), expected);
    QCOMPARE(streamed(logencoded(utf8, nullptr)), expected);
    QCOMPARE(logencoded(utf8, nullptr).codec(), QByteArray("System"));
    QCOMPARE(logbinary(utf8, nullptr).codec(), QByteArray("System"));
}

void tst_LogHelpers::encoded_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("expected");

    QTest::newRow("single-line-stays-on-line") << QByteArray("ab") << QByteArray("UTF-8") << QStringLiteral("ab");
    QTest::newRow("crlf-two-lines") << QByteArray("a\r\nb") << QByteArray("UTF-8") << nl + "a" + nl + "b";
    QTest::newRow("lf-two-lines") << QByteArray("a\nb") << QByteArray("UTF-8") << nl + "a" + nl + "b";
    QTest::newRow("cr-cr-lf-is-one-break") << QByteArray("a\r\r\nb") << QByteArray("UTF-8") << nl + "a" + nl + "b";
    QTest::newRow("lone-cr-stays") << QByteArray("a\rb") << QByteArray("UTF-8") << QStringLiteral("a\rb");
    QTest::newRow("empty-line-kept") << QByteArray("a\n\nb") << QByteArray("UTF-8") << nl + "a" + nl + nl + "b";
    QTest::newRow("trailing-break-gives-empty-line") << QByteArray("a\n") << QByteArray("UTF-8") << nl + "a" + nl;
    QTest::newRow("empty") << QByteArray() << QByteArray("UTF-8") << QString();
    QTest::newRow("latin1") << QByteArray("caf\xe9") << QByteArray("ISO-8859-1") << QStringLiteral("caf") + QChar(0xe9);
    QTest::newRow("utf16le")
        << QByteArray("h\0i\0\n\0x\0", 8) << QByteArray("UTF-16LE") << nl + "hi" + nl + "x";
}

void tst_LogHelpers::encoded()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, codec);
    QFETCH(QString, expected);
    QCOMPARE(streamed(logencoded(data, codec.constData())), expected);
}

void tst_LogHelpers::encodedFromNullText()
{
    const char *nothing = nullptr;
    const logencoded text(nothing, "UTF-8");
    QVERIFY(text.data().isEmpty());
    QCOMPARE(streamed(text), QString());
    QCOMPARE(streamed(logencoded("x\ny", "UTF-8")), nl + "x" + nl + "y");
}

void tst_LogHelpers::list_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty-writes-nothing") << QStringList() << QString();
    QTest::newRow("one") << QStringList{QStringLiteral("s")} << nl + "s";
    QTest::newRow("two") << QStringList{QStringLiteral("x"), QStringLiteral("y")} << nl + "x" + nl + "y";
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

    QVariantMap map;
    map.insert(QStringLiteral("id"), 7);
    map.insert(QStringLiteral("name"), QStringLiteral("probe"));
    // The JSON text ends with a line break: one more, empty, indented line.
    QTest::newRow("map") << QVariant(map)
                         << nl + "{" + nl + "    \"id\": 7," + nl + "    \"name\": \"probe\"" + nl + "}" + nl;
    QTest::newRow("list") << QVariant(QVariantList{1, QStringLiteral("x")})
                          << nl + "[" + nl + "    1," + nl + "    \"x\"" + nl + "]" + nl;
    QTest::newRow("string-list") << QVariant(QStringList{QStringLiteral("a")}) << nl + "[" + nl + "    \"a\"" + nl + "]" + nl;
    QTest::newRow("empty-map") << QVariant(QVariantMap()) << nl + "{" + nl + "}" + nl;
    QTest::newRow("number-gives-one-empty-line") << QVariant(42) << nl;
    QTest::newRow("string-gives-one-empty-line") << QVariant(QStringLiteral("text")) << nl;
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
    QTest::newRow("list-of-one") << debugged(loglist({QStringLiteral("s")})) << "\"" + nl + "s\" ";
    QTest::newRow("empty-list") << debugged(loglist({})) << QStringLiteral("\"\" ");
    QTest::newRow("encoded-one-line") << debugged(logencoded("say \"hi\"", "UTF-8"))
                                      << QStringLiteral("\"say \"hi\"\" ");
    QTest::newRow("encoded-lines") << debugged(logencoded("a\r\nb", "UTF-8")) << "\"" + nl + "a" + nl + "b\" ";
    QTest::newRow("binary") << debugged(logbinary(QByteArray("AB"), "UTF-8"))
                            << "\"Bytearrray size = 2" + nl + "41 42 " + blanks(48) + "AB\" ";
    QTest::newRow("binary-empty") << debugged(logbinary(QByteArray(), "UTF-8"))
                                  << "\"Bytearrray size = 0" + nl + "Byte array is empty\n\" ";
    QTest::newRow("variant") << debugged(logvariant(QVariantList{1}))
                             << "\"" + nl + "[" + nl + "    1" + nl + "]" + nl + "\" ";
}

void tst_LogHelpers::debugForms()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void tst_LogHelpers::debugSpacing()
{
    QString spaced;
    QDebug(&spaced) << "a" << loglist({QStringLiteral("s")}) << "b";
    QCOMPARE(spaced, "a \"" + nl + "s\" b ");

    QString tight;
    QDebug(&tight).nospace() << "a" << loglist({QStringLiteral("s")}) << "b";
    QCOMPARE(tight, "a\"" + nl + "s\"b");

    // The operator leaves the QDebug's own settings alone.
    QString after;
    {
        QDebug debug(&after);
        debug.nospace();
        debug << logencoded("x", "UTF-8");
        debug << QStringLiteral("q");
    }
    QCOMPARE(after, QStringLiteral("\"x\"\"q\""));
}

void tst_LogHelpers::throughMessageHandler()
{
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    qDebug() << "frame" << logbinary(QByteArray("\x01z", 2), "UTF-8");
    qDebug() << "lines" << loglist({QStringLiteral("one"), QStringLiteral("two")});
    QCOMPARE(capturedMessages.size(), 2);
    QCOMPARE(capturedMessages.at(0), "frame \"Bytearrray size = 2" + nl + "01 7a " + blanks(48) + ".z\"");
    QCOMPARE(capturedMessages.at(1), "lines \"" + nl + "one" + nl + "two\"");
}

QTEST_GUILESS_MAIN(tst_LogHelpers)
#include "tst_loghelpers.moc"
