// Reaching Oracle through the driver unixODBC lists, with a driver list of
// the test's own: a listed driver whose library is missing, no Oracle driver
// at all, and the choice among several.

#include "oracle/DbError.h"
#include "oracle/engines/OdbcDrivers.h"
#include "oracle/engines/OdbcEngine.h"
#include "oracle/Oracle.h"
#include "support/OdbcSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QtTest>

namespace {

const char* const kOdbcLibraries = "/usr/lib/x86_64-linux-gnu/odbc/";
const LoginParts kOracleLogin{"//db.example.com:1521/ORCLPDB1", "scott", "tiger"};

QString failureOf(const LoginParts& login)
{
    try {
        OpenOracleSession(login, {});
    } catch (const DbError& e) {
        return QString::number(e.number()) + QLatin1Char(' ') + QString::fromStdString(e.description());
    }
    return {};
}

} // namespace

class TestOdbcDrivers : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void missingDriverLibraryNamesTheCause();
    void noOracleDriverSaysSo_data();
    void noOracleDriverSaysSo();
    void newestOracleDriverFirst_data();
    void newestOracleDriverFirst();
    void connectionStringsQuoteOnlyWhatNeedsIt();
    void odbcSourcesUseTheSameDriverList();

private:
    // A missing library of its own for each driver name. (unixODBC caches a
    // driver's library path by name for a while, so a name keeps its path.)
    std::string libraryFor(const std::string& name) const
    {
        return drivers_->dir().toStdString() + "/" + QByteArray::fromStdString(name).toHex().toStdString()
               + "/libsqora.so.21.1";
    }

    // Before any ODBC call: unixODBC keeps the first folder it was given.
    std::unique_ptr<OdbcSupport::DriverList> drivers_;
};

void TestOdbcDrivers::initTestCase()
{
    drivers_ = std::make_unique<OdbcSupport::DriverList>();
    QVERIFY(drivers_->isValid());
}

void TestOdbcDrivers::missingDriverLibraryNamesTheCause()
{
    const std::string library = libraryFor("Oracle 21 ODBC driver");
    drivers_->write({{"PostgreSQL Unicode", std::string(kOdbcLibraries) + "psqlodbcw.so"},
                     {"Oracle 21 ODBC driver", library}});
    QCOMPARE(InstalledOdbcDrivers(), (std::vector<std::string>{"PostgreSQL Unicode", "Oracle 21 ODBC driver"}));

    const QString failure = failureOf(kOracleLogin);
    QVERIFY2(failure.startsWith(QString::number(DbError::kNoDriver)), qPrintable(failure));
    QVERIFY2(failure.contains(QString::fromStdString(library)), qPrintable(failure));
    QVERIFY2(failure.contains(QLatin1String("file not found")), qPrintable(failure));

    // The connection check gives false and hands over the same cause.
    TestSupport::setLoginFields(QString::fromStdString(kOracleLogin.dataSource),
                                QString::fromStdString(kOracleLogin.user),
                                QString::fromStdString(kOracleLogin.password));
    QString reason;
    QVERIFY(!TryConnect(&reason));
    QVERIFY2(reason.contains(QString::fromStdString(library)), qPrintable(reason));
    QVERIFY(!TryConnect());
}

void TestOdbcDrivers::noOracleDriverSaysSo_data()
{
    QTest::addColumn<bool>("othersListed");
    QTest::newRow("other drivers only") << true;
    QTest::newRow("no driver at all") << false;
}

void TestOdbcDrivers::noOracleDriverSaysSo()
{
    QFETCH(bool, othersListed);
    if (othersListed)
        drivers_->write({{"PostgreSQL Unicode", std::string(kOdbcLibraries) + "psqlodbcw.so"},
                         {"SQLite3", std::string(kOdbcLibraries) + "libsqlite3odbc.so"}});
    else
        drivers_->write({});

    const QString failure = failureOf(kOracleLogin);
    QVERIFY2(failure.startsWith(QString::number(DbError::kNoDriver)), qPrintable(failure));
    QVERIFY2(failure.contains(QLatin1String("No Oracle ODBC driver is installed")), qPrintable(failure));

    TestSupport::setLoginFields(QStringLiteral("ORCL"), QStringLiteral("scott"), QStringLiteral("tiger"));
    QString reason;
    QVERIFY(!TryConnect(&reason));
    QVERIFY2(reason.contains(QLatin1String("No Oracle ODBC driver is installed")), qPrintable(reason));
}

void TestOdbcDrivers::newestOracleDriverFirst_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("by major version") << QStringList{"Oracle 19 ODBC driver", "Oracle 21 ODBC driver"}
                                      << "Oracle 21 ODBC driver";
    QTest::newRow("by every part") << QStringList{"Oracle in instantclient_19_10", "Oracle in instantclient_19_8",
                                                  "Oracle in instantclient_19_19"}
                                   << "Oracle in instantclient_19_19";
    QTest::newRow("dotted") << QStringList{"Oracle 12.2 ODBC Driver", "Oracle 12.10 ODBC Driver"}
                            << "Oracle 12.10 ODBC Driver";
    QTest::newRow("letters after the number") << QStringList{"Oracle in OraClient11g_home1", "Oracle 19c ODBC"}
                                              << "Oracle 19c ODBC";
    QTest::newRow("unversioned last") << QStringList{"Oracle ODBC", "ORACLE 9 ODBC"} << "ORACLE 9 ODBC";
    QTest::newRow("same version by name") << QStringList{"Oracle 21 ODBC driver B", "Oracle 21 ODBC driver A"}
                                          << "Oracle 21 ODBC driver A";
    QTest::newRow("others ignored") << QStringList{"PostgreSQL Unicode", "SQLite3 99", "oracle 8"} << "oracle 8";
    QTest::newRow("none") << QStringList{"PostgreSQL Unicode", "SQLite3"} << QString();
}

void TestOdbcDrivers::newestOracleDriverFirst()
{
    QFETCH(QStringList, listed);
    QFETCH(QString, chosen);
    std::vector<std::string> names;
    for (const QString& name : listed)
        names.push_back(name.toStdString());
    const auto choice = ChooseOracleDriver(names);
    QCOMPARE(QString::fromStdString(choice.value_or("")), chosen);
    std::reverse(names.begin(), names.end());
    QCOMPARE(QString::fromStdString(ChooseOracleDriver(names).value_or("")), chosen);

    if (chosen.isEmpty())
        return;
    // The session goes to the chosen driver: its (missing) library is the one named.
    std::vector<std::pair<std::string, std::string>> sections;
    for (const std::string& name : names)
        sections.emplace_back(name, libraryFor(name));
    drivers_->write(sections);
    const QString failure = failureOf(kOracleLogin);
    QVERIFY2(failure.contains(QString::fromStdString(libraryFor(chosen.toStdString()))), qPrintable(failure));
}

void TestOdbcDrivers::connectionStringsQuoteOnlyWhatNeedsIt()
{
    QCOMPARE(OracleConnectionString("Oracle 21 ODBC driver", kOracleLogin),
             std::string("DRIVER={Oracle 21 ODBC driver};DBQ=//db.example.com:1521/ORCLPDB1;UID=scott;PWD=tiger;"));
    const LoginParts hostile{"(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=h)(PORT=1521))(CONNECT_DATA=(SERVICE_NAME=s)))",
                             " scott", "a;b}c=d"};
    QCOMPARE(OracleConnectionString("Odd {Oracle}", hostile),
             std::string("DRIVER={Odd {Oracle}}};DBQ={(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=h)(PORT=1521))"
                         "(CONNECT_DATA=(SERVICE_NAME=s)))};UID={ scott};PWD={a;b}}c=d};"));
    QCOMPARE(OracleConnectionString("Oracle 21", LoginParts{"ORCL", "", ""}),
             std::string("DRIVER={Oracle 21};DBQ=ORCL;UID=;PWD=;"));

    QCOMPARE(OdbcConnectionString("DRIVER=SQLite3;Database=/tmp/x.db", {}),
             std::string("NoCreat=1;DRIVER=SQLite3;Database=/tmp/x.db;"));
    QCOMPARE(OdbcConnectionString("DSN=pg;", LoginParts{"", "u", "p;w"}),
             std::string("NoCreat=1;DSN=pg;UID=u;PWD={p;w};"));
    QCOMPARE(OdbcConnectionString("My Source", LoginParts{"", "u", ""}), std::string("NoCreat=1;DSN=My Source;UID=u;"));
}

void TestOdbcDrivers::odbcSourcesUseTheSameDriverList()
{
    if (!QFile::exists(QString::fromLatin1(kOdbcLibraries) + QStringLiteral("libsqlite3odbc.so")))
        QSKIP("the SQLite ODBC driver (libsqliteodbc) is not installed");
    drivers_->write({{"SQLite3", std::string(kOdbcLibraries) + "libsqlite3odbc.so"}});
    TestSupport::ScratchSqlite db("create table t(x)");
    TestSupport::setLoginFields(QStringLiteral("odbc:DRIVER=SQLite3;Database=") + db.path(), QString(), QString());
    QString reason;
    QVERIFY2(TryConnect(&reason), qPrintable(reason));

    auto session = OpenOdbcSession(OdbcSupport::sqliteConnect(db.path()), {}, OdbcOptions{});
    QCOMPARE(session->dialect().kind(), DialectKind::SQLite);

    // A file that is not there is an error, never a new empty database,
    // even when the text asks for one.
    const QString missing = db.dir() + QStringLiteral("/missing.db");
    for (const QString& extra : {QString(), QStringLiteral(";NoCreat=0")}) {
        TestSupport::setLoginFields(QStringLiteral("odbc:DRIVER=SQLite3;Database=") + missing + extra, QString(), QString());
        QVERIFY(!TryConnect(&reason));
        QVERIFY2(!QFile::exists(missing), qPrintable(extra));
    }
}

QTEST_GUILESS_MAIN(TestOdbcDrivers)
#include "test_odbc_drivers.moc"
