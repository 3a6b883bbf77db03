// The log helpers: the exact text each writes to a QTextStream and to a QDebug.
#include <logger/logbinary.h>
#include <logger/logencoded.h>
#include <logger/loglist.h>
#include <logger/logtab.h>
#include <logger/logvariant.h>

#include <QTest>

namespace {
const QString nl = QLatin1Char('\n') + QString(15, QLatin1Char(' ')); // what logtab writes

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
    void layouts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const QString &actual, const QString &expected) {
            QTest::newRow(tag) << actual << expected;
        };
        const auto binary = [](const QByteArray &data, const char *codec = "UTF-8") {
            return streamed(logbinary(data, codec));
        };
        const auto encoded = [](const QByteArray &data, const char *codec = "UTF-8") {
            return streamed(logencoded(data, codec));
        };
        QString out;
        QTextStream stream(&out);
        stream << "a" << logtab << "b";
        logtab(stream) << "c";
        stream.flush();
        row("logtab", out, "a" + nl + "b" + nl + "c");

        // Hex dump: 16 bytes a line, the text 54 columns after the hex digits, control bytes as dots.
        const QString size = QStringLiteral("Bytearrray size = ");
        const QString sixteenHex = QStringLiteral("30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    ");
        row("binary/empty", binary({}), size + "0" + nl + "Byte array is empty\n");
        row("binary/three-bytes", binary("\x41\x0a\x42"), size + "3" + nl + "41 0a 42 " + blanks(45) + "A.B");
        row("binary/eight-bytes", binary("01234567"), size + "8" + nl + sixteenHex.left(27) + blanks(27) + "01234567");
        row("binary/sixteen-bytes", binary("0123456789abcdef"), size + "16" + nl + sixteenHex + "0123456789abcdef");
        row("binary/seventeen-bytes", binary("0123456789abcdefg"),
            size + "17" + nl + sixteenHex + "0123456789abcdef" + nl + "67 " + blanks(51) + "g");
        row("binary/control-and-upper-bytes", binary(QByteArray("\x00\x1f\x20\x7f\xc3\xa9", 6)),
            size + "6" + nl + "00 1f 20 7f c3 a9 " + blanks(36) + ".. " + QChar(0x7f) + QChar(0xe9));
        row("binary/latin1", binary("\x1f\x80\xe9", "ISO-8859-1"),
            size + "3" + nl + "1f 80 e9 " + blanks(45) + "." + QChar(0x80) + QChar(0xe9));
        row("binary/character-split-between-lines", binary(QByteArray(15, 'x') + "\xc3\xa9yz"),
            size + "19" + nl + QStringLiteral("78 ").repeated(8) + blanks(3) + QStringLiteral("78 ").repeated(7) + "c3 "
                + blanks(3) + QString(15, 'x') + nl + "a9 79 7a " + blanks(45) + QChar(0xe9) + "yz");
        row("binary/unknown-codec-as-system", binary("a\x01", "no-such-codec"),
            size + "2" + nl + "61 01 " + blanks(48) + "a.");
        row("binary/null-codec-as-system", binary("a", nullptr), size + "1" + nl + "61 " + blanks(51) + "a");
        stream.setIntegerBase(16); // left so by earlier output
        stream.setNumberFlags(QTextStream::ShowBase);
        out.clear();
        stream << logbinary(QByteArray(20, 'a'), nullptr);
        stream.flush();
        row("binary/count-decimal-in-hex-stream", out.section(QLatin1Char('\n'), 0, 0), size + "20");

        // Decoded text: one line stays on the current line, several go on indented lines.
        row("encoded/one-line", streamed(logencoded("ab", "UTF-8")), "ab");
        row("encoded/crlf", streamed(logencoded("a\r\nb", "UTF-8")), nl + "a" + nl + "b");
        row("encoded/cr-cr-lf-is-one-break", encoded("a\r\r\nb"), nl + "a" + nl + "b");
        row("encoded/empty-parts-kept", encoded("a\n\nb\n"), nl + "a" + nl + nl + "b" + nl);
        row("encoded/null-text", streamed(logencoded(static_cast<const char *>(nullptr), "UTF-8")), QString());
        row("encoded/latin1", encoded("caf\xe9", "ISO-8859-1"), "caf" + QString(QChar(0xe9)));
        row("encoded/utf16le", encoded(QByteArray("h\0i\0\n\0x\0", 8), "UTF-16LE"), nl + "hi" + nl + "x");
        row("encoded/unknown-codec-as-system", encoded("a\r\nb", "no-such-codec"), nl + "a" + nl + "b");

        // A list, one string a line; a value as indented JSON (which ends with a line break).
        row("list/empty-writes-nothing", streamed(loglist({})), QString());
        row("list/two", streamed(loglist({"x", "y"})), nl + "x" + nl + "y");
        row("variant/map", streamed(logvariant(QVariantMap{{"id", 7}, {"name", "probe"}})),
            nl + "{" + nl + "    \"id\": 7," + nl + "    \"name\": \"probe\"" + nl + "}" + nl);
        row("variant/list", streamed(logvariant(QVariantList{1, "x"})),
            nl + "[" + nl + "    1," + nl + "    \"x\"" + nl + "]" + nl);
        row("variant/number-gives-one-empty-line", streamed(logvariant(42)), nl);

        // Through QDebug: quoted, unescaped, then the automatic blank; its settings stay.
        row("debug/list-of-one", debugged(loglist({"s"})), "\"" + nl + "s\" ");
        row("debug/encoded", debugged(logencoded("say \"hi\"", "UTF-8")), QStringLiteral("\"say \"hi\"\" "));
        row("debug/binary", debugged(logbinary(QByteArray("\x01z", 2), "UTF-8")),
            "\"" + size + "2" + nl + "01 7a " + blanks(48) + ".z\" ");
        row("debug/variant", debugged(logvariant(QVariantList{1})),
            "\"" + nl + "[" + nl + "    1" + nl + "]" + nl + "\" ");
        out.clear();
        QDebug(&out) << "a" << loglist({"s"}) << "b";
        row("debug/spaced", out, "a \"" + nl + "s\" b ");
        out.clear();
        QDebug(&out).nospace() << "a" << loglist({"s"}) << "b" << logencoded("x", "UTF-8") << QStringLiteral("q");
        row("debug/nospace", out, "a\"" + nl + "s\"b\"x\"\"q\"");
    }

    void layouts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(tst_LogHelpers)
#include "tst_loghelpers.moc"
