// The connection check and the Connection / read-only Recordset faces over
// real engines: a working login gives true, every failure gives false without
// raising, and nothing stays open afterwards.

#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/DbError.h"
#include "oracle/Oracle.h"
#include "oracle/Recordset.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace TestSupport;

class TestDataConnect : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { setLoginFields({}, {}, {}); }

    void sqliteFileConnects();
    void missingSqliteFileFailsAndStaysMissing();
    void unsafeCharactersInThePathStillConnect();
    void eachCheckReadsTheFieldsAnew();
    void failuresGiveFalseWithoutRaising();
    void pgGoodAndBadPassword();
    void pgClosedPort();
    void aPasswordCannotRedirectTheLogin();
    void nothingStaysOpen();
    void connectionOpenReadsTheString();
    void executeGivesAnExactReadOnlyRowset();
};

void TestDataConnect::sqliteFileConnects()
{
    ScratchSqlite db("create table t (x)");
    setLoginFields(db.dataSource(), {}, {});
    QVERIFY(TryConnect());
    QString reason = QStringLiteral("untouched");
    QVERIFY(TryConnect(&reason));
    QCOMPARE(reason, QStringLiteral("untouched"));
}

void TestDataConnect::missingSqliteFileFailsAndStaysMissing()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("typo.db"));
    setLoginFields(QStringLiteral("sqlite:") + missing, QStringLiteral("u"), QStringLiteral("p"));
    QVERIFY(!TryConnect());
    QString reason;
    QVERIFY(!TryConnect(&reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(!QFile::exists(missing));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestDataConnect::unsafeCharactersInThePathStillConnect()
{
    // Quoted in the string, read back whole.
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("it's; \"here\""));
    QVERIFY(QDir().mkpath(folder));
    ScratchSqlite source;
    const QString path = folder + QStringLiteral("/db ");
    QVERIFY(QFile::copy(source.path(), path));
    setLoginFields(QStringLiteral("sqlite:") + path, {}, {});
    QString reason;
    QVERIFY2(TryConnect(&reason), qPrintable(reason));
}

void TestDataConnect::eachCheckReadsTheFieldsAnew()
{
    ScratchSqlite db;
    QString sid = db.dataSource();
    int reads = 0;
    SetLoginFieldsReader([&] {
        ++reads;
        return LoginFields{sid, {}, {}};
    });
    QVERIFY(TryConnect());
    sid += QStringLiteral(".gone");
    QVERIFY(!TryConnect());
    sid.chop(5);
    QVERIFY(TryConnect());
    QCOMPARE(reads, 3);
}

void TestDataConnect::failuresGiveFalseWithoutRaising()
{
    // Empty fields (an Oracle login with nothing in it), unknown forms, and a
    // reader that itself fails.
    for (const QString& sid : {QString(), QStringLiteral("sqlite:"), QStringLiteral("postgresql://"),
                               QStringLiteral("odbc:DSN=no such source"), QStringLiteral("NOSUCHSID")}) {
        setLoginFields(sid, {}, {});
        QString reason;
        QVERIFY2(!TryConnect(&reason), qPrintable(sid));
        QVERIFY2(!reason.isEmpty(), qPrintable(sid));
    }
    SetLoginFieldsReader([]() -> LoginFields { throw std::runtime_error("the page is gone"); });
    QString reason;
    QVERIFY(!TryConnect(&reason));
    QCOMPARE(reason, QStringLiteral("the page is gone"));
    QVERIFY(!TryConnect());
}

void TestDataConnect::pgGoodAndBadPassword()
{
    DERVANTA_REQUIRE_PG();
    setPgLoginFields();
    QString reason;
    QVERIFY2(TryConnect(&reason), qPrintable(reason));
    const PgLogin login = *pgLogin();
    setLoginFields(pgDataSource(), login.user, login.password + u'x');
    QVERIFY(!TryConnect(&reason));
    QVERIFY2(reason.contains(QStringLiteral("password")), qPrintable(reason));
    setLoginFields(pgDataSource(), login.user, {});
    QVERIFY(!TryConnect());
}

void TestDataConnect::pgClosedPort()
{
    DERVANTA_REQUIRE_PG();
    // A port nobody listens on: bind one, note it, let it go.
    quint16 port = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                           && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        ::close(fd);
        QVERIFY(bound);
        port = ntohs(address.sin_port);
    }
    const PgLogin login = *pgLogin();
    setLoginFields(QStringLiteral("postgresql://127.0.0.1:%1/dervanta").arg(port), login.user, login.password);
    QString reason;
    QVERIFY(!TryConnect(&reason));
    QVERIFY(!reason.isEmpty());
}

void TestDataConnect::aPasswordCannotRedirectTheLogin()
{
    // Were the password's text read as keys, the second Data Source would
    // win and this check would pass against the SQLite file.
    DERVANTA_REQUIRE_PG();
    ScratchSqlite db;
    const PgLogin login = *pgLogin();
    setLoginFields(pgDataSource(), login.user, QStringLiteral("wrong;Data Source=") + db.dataSource());
    QVERIFY(!TryConnect());
    setLoginFields(pgDataSource() + QStringLiteral(";Data Source=") + db.dataSource(), login.user, login.password);
    QVERIFY(!TryConnect());
}

void TestDataConnect::nothingStaysOpen()
{
    DERVANTA_REQUIRE_PG();
    ScratchPgRole role;
    role.useAsLogin();
    QString reason;
    QVERIFY2(TryConnect(&reason), qPrintable(reason));
    QTRY_COMPARE(role.backends(), 0);

    // The check would see an open connection: one that is kept is counted.
    {
        const ConnectionPtr kept = Connection::Create();
        kept->Open(BuildConnectionString(pgDataSource(), QString::fromStdString(role.name()),
                                         QString::fromStdString(role.password())));
        QCOMPARE(role.backends(), 1);
        QVERIFY(TryConnect());
        QTRY_COMPARE(role.backends(), 1);
    }
    // Dropping the last reference closed it.
    QTRY_COMPARE(role.backends(), 0);

    const ConnectionPtr closed = Connection::Create();
    closed->Open(BuildConnectionString(pgDataSource(), QString::fromStdString(role.name()),
                                       QString::fromStdString(role.password())));
    QVERIFY(closed->IsOpen());
    closed->Close();
    QVERIFY(!closed->IsOpen());
    QTRY_COMPARE(role.backends(), 0);
    QVERIFY_THROWS_EXCEPTION(DbError, closed->Execute(QStringLiteral("select 1")));
}

void TestDataConnect::connectionOpenReadsTheString()
{
    ScratchSqlite db("create table t (x)");
    const ConnectionPtr c = Connection::Create();
    // Another provider, a malformed string.
    try {
        c->Open(QStringLiteral("Provider=SQLOLEDB;Data Source=") + db.dataSource() + u';');
        QFAIL("another provider was accepted");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), DbError::kNoDriver);
    }
    try {
        c->Open(QStringLiteral("Provider=OraOLEDB.Oracle;Data Source=\"") + db.dataSource());
        QFAIL("a malformed string was accepted");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), DbError::kBadConnectionString);
    }
    QVERIFY(!c->IsOpen());
    c->Open(BuildConnectionString(db.dataSource(), {}, {}), {}, {}, -1);
    QVERIFY(c->IsOpen());
    QVERIFY_THROWS_EXCEPTION(DbError, c->Open(BuildConnectionString(db.dataSource(), {}, {})));

    // User and password given apart are used only when the string has none.
    if (const auto login = pgLogin()) {
        const ConnectionPtr pg = Connection::Create();
        pg->Open(QStringLiteral("Provider=OraOLEDB.Oracle;Data Source=") + pgDataSource(), login->user, login->password);
        QVERIFY(pg->IsOpen());
        const ConnectionPtr wins = Connection::Create();
        QVERIFY_THROWS_EXCEPTION(
            DbError, wins->Open(BuildConnectionString(pgDataSource(), login->user, QStringLiteral("bad")), login->user,
                                login->password));
    }
}

void TestDataConnect::executeGivesAnExactReadOnlyRowset()
{
    ScratchSqlite db("create table t (id integer, name text);"
                     "insert into t values (1, 'one'), (2, NULL), (3, ''), (4, 'Grüße');");
    const ConnectionPtr c = Connection::Create();
    c->CursorLocation = adUseClient;
    c->Open(BuildConnectionString(db.dataSource(), {}, {}));
    const RecordsetPtr rs = c->Execute(QStringLiteral("select name, id from t order by id"));
    QCOMPARE(rs->RecordCount(), 4L);
    QCOMPARE(rs->Fields(0).Name(), QStringLiteral("name"));
    QStringList names;
    QList<bool> nulls;
    while (!rs->EOF_()) {
        names << rs->Fields(0).Value();
        nulls << rs->Fields(0).IsNull();
        rs->MoveNext();
    }
    QCOMPARE(names, (QStringList{QStringLiteral("one"), QString(), QString(), QStringLiteral("Grüße")}));
    QCOMPARE(nulls, (QList<bool>{false, true, false, false}));
    // Past the end, and a field that does not exist, are failures, not crashes.
    QVERIFY_THROWS_EXCEPTION(DbError, rs->MoveNext());
    QVERIFY_THROWS_EXCEPTION(DbError, rs->Fields(0).Value());
    QVERIFY_THROWS_EXCEPTION(DbError, rs->Fields(2));
    rs->Close();
    QVERIFY(rs->EOF_());
    QVERIFY_THROWS_EXCEPTION(DbError, rs->RecordCount());

    const RecordsetPtr empty = c->Execute(QStringLiteral("select * from t where 0"));
    QCOMPARE(empty->RecordCount(), 0L);
    QVERIFY(empty->EOF_());
    QVERIFY_THROWS_EXCEPTION(DbError, c->Execute(QStringLiteral("select * from missing")));
}

QTEST_GUILESS_MAIN(TestDataConnect)
#include "test_data_connect.moc"
