// The provider string: the seven pieces as typed for ordinary values, quoted
// for values that could break it, read back by the parser exactly.

#include "oracle/ConnectionString.h"
#include "oracle/engines/OdbcEngine.h"

#include <QRandomGenerator>
#include <QtTest>

class TestDataConnectionString : public QObject {
    Q_OBJECT

private slots:
    void ordinaryValuesGoInAsTyped_data();
    void ordinaryValuesGoInAsTyped();
    void unsafeValuesAreQuoted_data();
    void unsafeValuesAreQuoted();
    void everyValueRoundTrips();
    void injectedKeysStayInsideTheirValue();
    void malformedStringsAreRefused();
    void odbcValuesAreBracedOnlyWhenNeeded();
};

void TestDataConnectionString::ordinaryValuesGoInAsTyped_data()
{
    QTest::addColumn<QString>("sid");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "ORCL" << "scott" << "tiger"
                           << "Provider=OraOLEDB.Oracle;Data Source=ORCL;User Id=scott;Password=tiger;";
    QTest::newRow("all empty") << "" << "" << ""
                               << "Provider=OraOLEDB.Oracle;Data Source=;User Id=;Password=;";
    QTest::newRow("inner blanks, equals, unicode")
        << "//db host:1521/svc" << "Jürgen Ölm" << "a=b=c{x}"
        << "Provider=OraOLEDB.Oracle;Data Source=//db host:1521/svc;User Id=Jürgen Ölm;Password=a=b=c{x};";
    QTest::newRow("data source forms")
        << "sqlite:/home/me/My Data/demo.db" << "u" << "p"
        << "Provider=OraOLEDB.Oracle;Data Source=sqlite:/home/me/My Data/demo.db;User Id=u;Password=p;";
}

void TestDataConnectionString::ordinaryValuesGoInAsTyped()
{
    QFETCH(QString, sid);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QCOMPARE(BuildConnectionString(sid, user, password), expected);
}

void TestDataConnectionString::unsafeValuesAreQuoted_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("piece");
    QTest::newRow("semicolon") << "a;b" << "\"a;b\"";
    QTest::newRow("double quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("single quote") << "it's" << "\"it's\"";
    QTest::newRow("leading blank") << " x" << "\" x\"";
    QTest::newRow("trailing blank") << "x " << "\"x \"";
    QTest::newRow("trailing tab") << "x\t" << "\"x\t\"";
    QTest::newRow("only blanks") << "  " << "\"  \"";
    QTest::newRow("only a quote") << "\"" << "\"\"\"\"";
}

void TestDataConnectionString::unsafeValuesAreQuoted()
{
    QFETCH(QString, value);
    QFETCH(QString, piece);
    QCOMPARE(BuildConnectionString(QStringLiteral("S"), QStringLiteral("U"), value),
             QStringLiteral("Provider=OraOLEDB.Oracle;Data Source=S;User Id=U;Password=") + piece + u';');
    QCOMPARE(BuildConnectionString(value, QStringLiteral("U"), QStringLiteral("P")),
             QStringLiteral("Provider=OraOLEDB.Oracle;Data Source=") + piece + QStringLiteral(";User Id=U;Password=P;"));
}

void TestDataConnectionString::everyValueRoundTrips()
{
    // Fixed hostile values, then random ones over an alphabet of the
    // characters that matter to the format.
    QStringList values{QString(), QStringLiteral(";"), QStringLiteral("\""), QStringLiteral("'"),
                       QStringLiteral("\"\""), QStringLiteral("a;Data Source=x"), QStringLiteral("x\";Password=y"),
                       QStringLiteral("\" ; \""), QStringLiteral("=;="), QStringLiteral(" ; "),
                       QStringLiteral("Provider=Other;"), QStringLiteral("日本;\"語\""), QStringLiteral("\t\n")};
    const QString alphabet = QStringLiteral("ab ;=\"'{}\tÄ日");
    QRandomGenerator random(20240229);
    for (int i = 0; i < 2000; ++i) {
        QString v;
        const int length = random.bounded(9);
        for (int k = 0; k < length; ++k)
            v += alphabet[random.bounded(alphabet.size())];
        values << v;
    }
    for (int i = 0; i < values.size(); ++i) {
        const QString& sid = values[i];
        const QString& user = values[(i * 7 + 3) % values.size()];
        const QString& password = values[(i * 13 + 5) % values.size()];
        const QString text = BuildConnectionString(sid, user, password);
        const auto pieces = ParseConnectionString(text);
        if (!pieces)
            QFAIL(qPrintable(QStringLiteral("unreadable: ") + text));
        const std::map<QString, QString> expected{{QStringLiteral("provider"), QStringLiteral("OraOLEDB.Oracle")},
                                                  {QStringLiteral("data source"), sid},
                                                  {QStringLiteral("user id"), user},
                                                  {QStringLiteral("password"), password}};
        if (*pieces != expected)
            QFAIL(qPrintable(QStringLiteral("does not read back: ") + text));
    }
}

void TestDataConnectionString::injectedKeysStayInsideTheirValue()
{
    const QString text = BuildConnectionString(QStringLiteral("sqlite:/safe.db"), QStringLiteral("me"),
                                               QStringLiteral("a;Data Source=x"));
    QCOMPARE(text,
             QStringLiteral("Provider=OraOLEDB.Oracle;Data Source=sqlite:/safe.db;User Id=me;Password=\"a;Data Source=x\";"));
    const auto pieces = ParseConnectionString(text);
    QVERIFY(pieces);
    QCOMPARE(pieces->size(), std::size_t(4));
    QCOMPARE(pieces->at(QStringLiteral("data source")), QStringLiteral("sqlite:/safe.db"));
    QCOMPARE(pieces->at(QStringLiteral("password")), QStringLiteral("a;Data Source=x"));

    // Keys are read without regard to case or outer blanks.
    const auto loose = ParseConnectionString(QStringLiteral(" PROVIDER = OraOLEDB.Oracle ;data source=X;;"));
    QVERIFY(loose);
    QCOMPARE(loose->at(QStringLiteral("provider")), QStringLiteral(" OraOLEDB.Oracle "));
    QCOMPARE(loose->at(QStringLiteral("data source")), QStringLiteral("X"));
}

void TestDataConnectionString::malformedStringsAreRefused()
{
    for (const char* bad : {"Provider=OraOLEDB.Oracle;Password=\"unterminated;", "Provider=OraOLEDB.Oracle;junk;",
                            "Password=\"a\"b;", "=value;"})
        QVERIFY2(!ParseConnectionString(QString::fromUtf8(bad)), bad);
    QVERIFY(ParseConnectionString(QString()));
}

void TestDataConnectionString::odbcValuesAreBracedOnlyWhenNeeded()
{
    QCOMPARE(OdbcQuote("scott"), std::string("scott"));
    QCOMPARE(OdbcQuote(""), std::string(""));
    QCOMPARE(OdbcQuote("it's \"x\""), std::string("it's \"x\""));
    QCOMPARE(OdbcQuote("a;b"), std::string("{a;b}"));
    QCOMPARE(OdbcQuote("a=b"), std::string("{a=b}"));
    QCOMPARE(OdbcQuote("{x"), std::string("{{x}"));
    QCOMPARE(OdbcQuote("a}b"), std::string("{a}}b}"));
    QCOMPARE(OdbcQuote("x;PWD=}"), std::string("{x;PWD=}}}"));
    QCOMPARE(OdbcQuote(" x"), std::string("{ x}"));
    QCOMPARE(OdbcQuote("x "), std::string("{x }"));
}

QTEST_GUILESS_MAIN(TestDataConnectionString)
#include "test_data_connection_string.moc"
