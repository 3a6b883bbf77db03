#include <values/appversion.h>
#include <values/appversion_p.h>

#include <QRegularExpression>
#include <QtTest>

class TstAppVersion : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void failedParseResetsVersionKeepsBuild();
    void compareTexts_data();
    void compareTexts();
    void buildBreaksTies();
    void libraryVersion();
    void buildMoment_data();
    void buildMoment();
};

void TstAppVersion::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<QString>("modificator");
    QTest::addColumn<QString>("version");
    QTest::newRow("release") << "4.2.6" << 4 << 2 << 6 << "" << "4.2.6";
    QTest::newRow("zeros") << "0.0.0" << 0 << 0 << 0 << "" << "0.0.0";
    QTest::newRow("rc-upper-case") << "4.2.6RC1" << 4 << 2 << 6 << "rc1" << "4.2.6rc1";
    QTest::newRow("beta-2") << "4.2.6b2" << 4 << 2 << 6 << "b2" << "4.2.6b2";
    QTest::newRow("alpha-bare") << "4.2.6a" << 4 << 2 << 6 << "a" << "4.2.6a";
    QTest::newRow("blanks-around") << "  4.2.6  " << 4 << 2 << 6 << "" << "4.2.6";
    QTest::newRow("negative-number") << "4.-2.6" << 4 << -2 << 6 << "" << "4.-2.6";
    QTest::newRow("a-wins-over-rc") << "4.2.6rca" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("a-before-b") << "4.2.6ab" << 4 << 2 << 6 << "ab" << "4.2.6ab";
    QTest::newRow("beta-word-fails") << "4.2.6beta" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("two-parts") << "4.2" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("four-parts") << "4.2.6.1" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("empty-part") << "4..6" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("marker-without-patch") << "4.2.rc1" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("unknown-marker") << "4.2.6c" << -1 << -1 << -1 << "" << "-1.-1.-1";
    QTest::newRow("empty") << "" << -1 << -1 << -1 << "" << "-1.-1.-1";
}

void TstAppVersion::parse()
{
    QFETCH(QString, text);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(QString, modificator);
    QFETCH(QString, version);
    const QString build = QStringLiteral("2018-01-19T12:16:05");
    const AppVersion v(text, build);
    QCOMPARE(v.majorVersion(), major);
    QCOMPARE(v.minorVersion(), minor);
    QCOMPARE(v.patchVersion(), patch);
    QCOMPARE(v.modificator(), modificator);
    QCOMPARE(v.version(), version);
    QCOMPARE(v.isValid(), major >= 0 && minor >= 0 && patch >= 0);
    // A build text that is not ISO 8601 makes any version invalid.
    for (const QString &bad : {QStringLiteral("Jan 19 2018 12:16:05"), QString()})
        QVERIFY(!AppVersion(text, bad).isValid());
}

void TstAppVersion::failedParseResetsVersionKeepsBuild()
{
    AppVersion v(QStringLiteral("4.2.6rc1"), QStringLiteral("2018-01-19T12:16:05"));
    v.setVersion(QStringLiteral("4.2"));
    QCOMPARE(v.version(), QStringLiteral("-1.-1.-1"));
    QVERIFY(v.modificator().isEmpty());
    QCOMPARE(v.build(), QStringLiteral("2018-01-19T12:16:05"));
    QVERIFY(!v.isValid());
}

void TstAppVersion::compareTexts_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("less");
    QTest::addColumn<bool>("more");
    QTest::addColumn<bool>("equal");
    QTest::newRow("rc-before-release") << "4.2.6rc1" << "4.2.6" << true << false << false;
    QTest::newRow("release-after-rc") << "4.2.6" << "4.2.6rc1" << false << true << false;
    QTest::newRow("numbers-not-text") << "4.2.6" << "4.10.0" << true << false << false;
    QTest::newRow("marker-case") << "4.2.6RC1" << "4.2.6rc1" << false << false << true;
    QTest::newRow("failed-parse-is-lowest") << "4.2.6beta" << "4.2.7" << true << false << false;
    QTest::newRow("alpha-before-beta") << "4.2.6a1" << "4.2.6b1" << true << false << false;
    QTest::newRow("beta-before-rc") << "4.2.6b1" << "4.2.6rc1" << true << false << false;
    QTest::newRow("rc10-before-rc2") << "4.2.6rc10" << "4.2.6rc2" << true << false << false;
    QTest::newRow("same") << "4.2.6" << " 4.2.6" << false << false << true;
    QTest::newRow("major-decides") << "5.0.0" << "4.99.99" << false << true << false;
    QTest::newRow("patch-decides-over-marker") << "4.2.7a" << "4.2.6" << false << true << false;
}

void TstAppVersion::compareTexts()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, less);
    QFETCH(bool, more);
    QFETCH(bool, equal);
    QCOMPARE(AppVersion::lessThen(a, b), less);
    QCOMPARE(AppVersion::moreThen(a, b), more);
    QCOMPARE(AppVersion::equilTo(a, b), equal);
    const QString build = QStringLiteral("2020-05-01T00:00:00");
    const AppVersion va(a, build);
    const AppVersion vb(b, build);
    QCOMPARE(va.versionLessThen(vb), less);
    QCOMPARE(va.versionMoreThen(vb), more);
    QCOMPARE(va.versionEquilTo(vb), equal);
    QCOMPARE(va < vb, less);
    QCOMPARE(va > vb, more);
    QCOMPARE(va == vb, equal);
    QCOMPARE(va <= vb, less || equal);
    QCOMPARE(va >= vb, more || equal);
}

void TstAppVersion::buildBreaksTies()
{
    const AppVersion older(QStringLiteral("4.2.6"), QStringLiteral("2018-01-19T12:16:05"));
    const AppVersion newer(QStringLiteral("4.2.6"), QStringLiteral("2018-01-20T12:16:05"));
    QVERIFY(older.versionEquilTo(newer));
    QVERIFY(older != newer);
    QVERIFY(older < newer);
    QVERIFY(!(older > newer));
    QVERIFY(newer > older);
    QVERIFY(older <= newer);
    QVERIFY(!(older >= newer));
    // A newer version wins over a later build.
    const AppVersion next(QStringLiteral("4.2.7"), QStringLiteral("2017-01-01T00:00:00"));
    QVERIFY(newer < next);
    AppVersion a = newer;
    AppVersion b = next;
    a.swap(b);
    QVERIFY(a == next && b == newer);
}

void TstAppVersion::libraryVersion()
{
    QCOMPARE(AppVersion::VERSION, QStringLiteral("4.2.6"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                 .match(AppVersion::BUILD)
                 .hasMatch(),
             qPrintable(AppVersion::BUILD));
    const AppVersion own;
    QVERIFY(own.isValid());
    QCOMPARE(own.version(), AppVersion::VERSION);
    QCOMPARE(own.build(), AppVersion::BUILD);
    QVERIFY(own.buildDt() <= QDateTime::currentDateTime().addDays(1));
    // This compiler's own texts convert as well.
    QVERIFY(QDateTime::fromString(appVersionBuildMoment(__DATE__, __TIME__), Qt::ISODate).isValid());
}

void TstAppVersion::buildMoment_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("time");
    QTest::addColumn<QString>("iso");
    QTest::newRow("two-digit-day") << QByteArray("Jan 19 2018") << QByteArray("12:16:05")
                                   << "2018-01-19T12:16:05";
    QTest::newRow("padded-day") << QByteArray("Sep  9 2024") << QByteArray("01:02:03")
                                << "2024-09-09T01:02:03";
    QTest::newRow("december-midnight") << QByteArray("Dec 31 1999") << QByteArray("00:00:00")
                                       << "1999-12-31T00:00:00";
}

void TstAppVersion::buildMoment()
{
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, time);
    QFETCH(QString, iso);
    QCOMPARE(appVersionBuildMoment(date.constData(), time.constData()), iso);
}

QTEST_GUILESS_MAIN(TstAppVersion)
#include "tst_appversion.moc"
