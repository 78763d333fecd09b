// The engines read values exactly and take them back as parameters so that
// a value read matches itself; failures carry the engine's number and text.

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"
#include "support/SessionSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QtTest>

using namespace TestSupport;
using SessionSupport::read;

namespace {

std::unique_ptr<Session> open(const QString& source, const QString& user = {}, const QString& password = {})
{
    return OpenSession(LoginParts{source.toStdString(), user.toStdString(), password.toStdString()});
}

std::unique_ptr<Session> openPg(PgRole role = PgRole::Owner)
{
    const PgLogin login = *pgLogin();
    if (role == PgRole::Other)
        return open(pgDataSource(), login.otherUser, login.otherPassword);
    return open(pgDataSource(), login.user, login.password);
}

// The cell as the parameter that stands for it in a WHERE.
Param asParam(const Snapshot& snap, std::int64_t row, int column)
{
    const ColumnInfo& info = snap.columns()[static_cast<std::size_t>(column)];
    return Param{snap.kind(row, column), std::string(snap.value(row, column)), info.type, info.nativeType};
}

// How many rows of `table` have column `column` equal to the value read.
long long countMatching(Session& s, const std::string& table, const std::string& column, const Param& p)
{
    const std::string sql = "select count(*) from " + Dialect::quoteIdentifier(table) + " where "
                            + Dialect::quoteIdentifier(column) + " = " + Placeholder(s.placeholders(), 1);
    const Snapshot n = read(s, sql, {p});
    return std::stoll(std::string(n.value(0, 0)));
}

} // namespace

class TestDataEngines : public QObject {
    Q_OBJECT

private slots:
    void sqliteValuesAreExact();
    void sqliteOpenNeedsAnExistingDatabase();
    void sqliteErrorsCarryCodeAndMessage();
    void sqliteExecuteCountsAndTransactions();
    void sqlitePrimaryKey();
    void pgValuesAreExact();
    void pgOpenAndLogin();
    void pgErrorsCarryCodeAndMessage();
    void pgExecuteCountsAndTransactions();
    void pgWriteAndReadInOneExchange();
    void pgPrimaryKey();
    void pgSessionSurvivesAnAbandonedRead();
};

void TestDataEngines::sqliteValuesAreExact()
{
    ScratchSqlite db("create table v (id integer primary key, i integer, r real, t text, b blob, n numeric, "
                     "ts timestamp, u);"
                     "insert into v values (1, 9223372036854775807, 0.1 + 0.2, '', x'00ff10', 12.5, "
                     "'2024-02-29 23:59:59.123456', 'x');"
                     "insert into v values (2, -9223372036854775808, 1e300, 'tab\tand ''quote''', x'', 7, NULL, 3.5);"
                     "insert into v values (3, NULL, 5e-324, 'Grüße 日本', NULL, NULL, '', NULL);");
    const auto s = open(db.dataSource());
    const Snapshot snap = read(*s, "select * from v order by id");
    QCOMPARE(snap.rowCount(), 3);
    QCOMPARE(snap.columnCount(), 8);

    const auto& cols = snap.columns();
    QCOMPARE(cols[1].type, ColumnType::Integer);
    QCOMPARE(cols[2].type, ColumnType::Real);
    QCOMPARE(cols[3].type, ColumnType::Text);
    QCOMPARE(cols[4].type, ColumnType::Binary);
    QVERIFY(cols[4].readOnly);
    QVERIFY(!cols[4].comparable);
    QCOMPARE(cols[5].type, ColumnType::Decimal);
    QCOMPARE(cols[6].type, ColumnType::Timestamp);
    QCOMPARE(cols[7].type, ColumnType::Other);
    QCOMPARE(cols[3].name, std::string("t"));

    QCOMPARE(snap.kind(0, 1), ValueKind::Integer);
    QCOMPARE(snap.value(0, 1), std::string_view("9223372036854775807"));
    QCOMPARE(snap.value(1, 1), std::string_view("-9223372036854775808"));
    QVERIFY(snap.isNull(2, 1));
    QCOMPARE(snap.kind(0, 2), ValueKind::Real);
    QCOMPARE(snap.value(0, 2), std::string_view("0.30000000000000004"));
    QCOMPARE(snap.value(1, 2), std::string_view("1e+300"));
    QCOMPARE(snap.value(2, 2), std::string_view("5e-324"));
    // The empty text is a value, not NULL.
    QCOMPARE(snap.kind(0, 3), ValueKind::Text);
    QCOMPARE(snap.value(0, 3), std::string_view(""));
    QCOMPARE(snap.value(1, 3), std::string_view("tab\tand 'quote'"));
    QCOMPARE(QString::fromUtf8(snap.value(2, 3)), QStringLiteral("Grüße 日本"));
    QCOMPARE(snap.kind(0, 4), ValueKind::Blob);
    QCOMPARE(snap.value(0, 4), std::string_view("\0\xff\x10", 3));
    QCOMPARE(snap.kind(1, 4), ValueKind::Blob);
    QCOMPARE(snap.value(1, 4).size(), std::size_t(0));
    QCOMPARE(snap.value(0, 5), std::string_view("12.5"));
    QCOMPARE(snap.value(0, 6), std::string_view("2024-02-29 23:59:59.123456"));
    QCOMPARE(snap.kind(1, 7), ValueKind::Real);

    // Every non-NULL value, bound back, finds its own row.
    for (std::int64_t r = 0; r < snap.rowCount(); ++r)
        for (int c = 1; c < snap.columnCount(); ++c) {
            if (snap.isNull(r, c))
                continue;
            const long long n = countMatching(*s, "v", cols[static_cast<std::size_t>(c)].name, asParam(snap, r, c));
            if (n < 1)
                QFAIL(qPrintable(QStringLiteral("row %1 column %2 does not match itself").arg(r).arg(c)));
        }
}

void TestDataEngines::sqliteOpenNeedsAnExistingDatabase()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.db"));
    for (const QString& source : {QStringLiteral("sqlite:") + missing, QStringLiteral("SQLite:") + missing,
                                  QStringLiteral("sqlite:"), QStringLiteral("sqlite::memory:")}) {
        try {
            open(source);
            QFAIL(qPrintable(QStringLiteral("opened ") + source));
        } catch (const DbError& e) {
            QVERIFY(!e.description().empty());
        }
    }
    QVERIFY(!QFile::exists(missing));
    QVERIFY(!QFile::exists(QStringLiteral(":memory:")));

    // A file that is no database fails at the open, not later.
    const QString junk = dir.filePath(QStringLiteral("junk.db"));
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    try {
        open(QStringLiteral("sqlite:") + junk);
        QFAIL("a file that is no database was opened");
    } catch (const DbError& e) {
        QCOMPARE(e.number() & 0xff, 26L); // SQLITE_NOTADB
    }
}

void TestDataEngines::sqliteErrorsCarryCodeAndMessage()
{
    ScratchSqlite db("create table t (id integer primary key, v text not null)");
    const auto s = open(db.dataSource());
    try {
        read(*s, "select * from no_such_table");
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), 1L);
        QVERIFY(QString::fromStdString(e.description()).contains(QStringLiteral("no_such_table")));
        QCOMPARE(e.sqlState(), std::string("42S02"));
        QVERIFY(e.isMissingTable());
    }
    try {
        read(*s, "select no_such_column from t");
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), 1L);
        QCOMPARE(e.sqlState(), std::string("42S22"));
        QVERIFY(e.isMissingColumn());
        QVERIFY(!e.isMissingTable());
    }
    try {
        s->execute("insert into t values (1, NULL)");
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.number() & 0xff, 19L); // SQLITE_CONSTRAINT
        QVERIFY(!e.isMissingTable());
    }
    // Two statements are refused for a query; no half-run.
    QVERIFY_THROWS_EXCEPTION(DbError, read(*s, "select 1; delete from t"));
}

void TestDataEngines::sqliteExecuteCountsAndTransactions()
{
    ScratchSqlite db("create table t (id integer primary key, v text)");
    const auto s = open(db.dataSource());
    QCOMPARE(s->execute("insert into t (v) values ('a'), ('b'), ('c')"), 3LL);
    const std::vector<Param> p{{ValueKind::Text, "z"}, {ValueKind::Integer, "2"}};
    QCOMPARE(s->execute("update t set v = ? where id >= ?", p), 2LL);
    QCOMPARE(s->execute("select * from t"), 0LL);
    s->begin();
    s->execute("delete from t");
    s->rollback();
    QCOMPARE(db.query("select count(*) from t")[0][0].value(), std::string("3"));
    s->begin();
    s->execute("delete from t where id = 1");
    s->commit();
    QCOMPARE(db.query("select count(*) from t")[0][0].value(), std::string("2"));
    // A rollback with no transaction open is harmless.
    s->rollback();
}

void TestDataEngines::sqlitePrimaryKey()
{
    ScratchSqlite db("create table \"Two Keys\" (b text, a integer, c, primary key (a, b));"
                     "create table nokey (x)");
    const auto s = open(db.dataSource());
    QCOMPARE(s->primaryKey("Two Keys"), (std::vector<std::string>{"a", "b"}));
    QVERIFY(s->primaryKey("nokey").empty());
}

void TestDataEngines::pgValuesAreExact()
{
    DERVANTA_REQUIRE_PG();
    const std::string table = uniqueName("data_values");
    pgExec("create table " + table + " (id int primary key, i2 smallint, i8 bigint, n numeric, n38 numeric(38,0),"
           " f8 float8, f4 float4, t text, vc varchar(20), c char(4), ts timestamp, tz timestamptz, d date,"
           " tm time, b boolean, by bytea, j json)");
    pgExec("insert into " + table + " values"
           " (1, -32768, 9223372036854775807, 0.000000000000000000000000000001, 12345678901234567890123456789012345678,"
           "  0.1::float8 + 0.2::float8, 0.1, '', 'x', 'ab', '2024-02-29 23:59:59.123456',"
           "  '2001-02-03 04:05:06.000001+02', '0099-12-31', '23:59:59.999999', true, '\\x00ff5c0a'::bytea,"
           "  '{\"a\": 1}'),"
           " (2, NULL, NULL, -1e-20, -99999999999999999999999999999999999999, 1e308, 3.4e38,"
           "  E'tab\\there\\nnew line\\\\back\\\\slash \\\\N', 'Grüße 日本', NULL, NULL, NULL, NULL, NULL, false,"
           "  ''::bytea, NULL),"
           " (3, 0, 0, 'NaN', 0, 'Infinity', '-0', '\\N', '', '', 'infinity', '-infinity', '2000-01-01', '00:00',"
           "  NULL, NULL, 'null')");
    const PgDropAtEnd cleanup({table});

    const auto s = openPg();
    // Both read paths (a streamed read without parameters, a fetched read with
    // them) give the same cells.
    const Snapshot snap = read(*s, "select * from " + table + " order by id");
    const Snapshot viaParams = read(*s, "select * from " + table + " where id > $1 order by id", {{ValueKind::Integer, "0"}});
    QCOMPARE(snap.rowCount(), 3);
    QCOMPARE(viaParams.rowCount(), 3);
    for (std::int64_t r = 0; r < 3; ++r)
        for (int c = 0; c < snap.columnCount(); ++c) {
            QCOMPARE(viaParams.kind(r, c), snap.kind(r, c));
            QCOMPARE(viaParams.value(r, c), snap.value(r, c));
        }

    const auto& cols = snap.columns();
    QCOMPARE(cols[1].type, ColumnType::Integer);
    QCOMPARE(cols[3].type, ColumnType::Decimal);
    QCOMPARE(cols[5].type, ColumnType::Real);
    QCOMPARE(cols[7].type, ColumnType::Text);
    QCOMPARE(cols[8].typeName, std::string("character varying(20)"));
    QCOMPARE(cols[10].type, ColumnType::Timestamp);
    QCOMPARE(cols[11].type, ColumnType::TimestampTz);
    QCOMPARE(cols[12].type, ColumnType::Date);
    QCOMPARE(cols[13].type, ColumnType::Time);
    QCOMPARE(cols[14].type, ColumnType::Boolean);
    QCOMPARE(cols[15].type, ColumnType::Binary);
    QVERIFY(cols[15].readOnly && !cols[15].comparable);
    QCOMPARE(cols[16].type, ColumnType::Other);
    QVERIFY(!cols[16].comparable);
    QCOMPARE(cols[10].nativeType, 1114);

    QCOMPARE(snap.value(0, 1), std::string_view("-32768"));
    QCOMPARE(snap.value(0, 2), std::string_view("9223372036854775807"));
    QCOMPARE(snap.value(0, 3), std::string_view("0.000000000000000000000000000001"));
    QCOMPARE(snap.value(0, 4), std::string_view("12345678901234567890123456789012345678"));
    QCOMPARE(snap.value(1, 4), std::string_view("-99999999999999999999999999999999999999"));
    QCOMPARE(snap.value(0, 5), std::string_view("0.30000000000000004"));
    QCOMPARE(snap.value(0, 6), std::string_view("0.1"));
    QCOMPARE(snap.value(1, 5), std::string_view("1e+308"));
    QCOMPARE(snap.value(2, 3), std::string_view("NaN"));
    QCOMPARE(snap.value(2, 6), std::string_view("-0"));
    QCOMPARE(snap.kind(0, 7), ValueKind::Text);
    QCOMPARE(snap.value(0, 7), std::string_view(""));
    QVERIFY(snap.isNull(1, 9));
    QCOMPARE(snap.value(1, 7), std::string_view("tab\there\nnew line\\back\\slash \\N")); // not unescaped by the server
    QCOMPARE(QString::fromUtf8(snap.value(1, 8)), QStringLiteral("Grüße 日本"));
    QCOMPARE(snap.value(2, 7), std::string_view("\\N"));
    QCOMPARE(snap.value(0, 9), std::string_view("ab  "));
    QCOMPARE(snap.value(0, 10), std::string_view("2024-02-29 23:59:59.123456"));
    QCOMPARE(snap.value(0, 12), std::string_view("0099-12-31"));
    QCOMPARE(snap.value(0, 13), std::string_view("23:59:59.999999"));
    QCOMPARE(snap.value(0, 14), std::string_view("t"));
    QCOMPARE(snap.kind(0, 15), ValueKind::Blob);
    QCOMPARE(snap.value(0, 15), std::string_view("\0\xff\x5c\x0a", 4));
    QCOMPARE(snap.kind(1, 15), ValueKind::Blob);
    QCOMPARE(snap.value(1, 15).size(), std::size_t(0));
    QCOMPARE(snap.value(0, 16), std::string_view("{\"a\": 1}"));

    for (std::int64_t r = 0; r < snap.rowCount(); ++r)
        for (int c = 1; c < snap.columnCount(); ++c) {
            if (snap.isNull(r, c) || !cols[static_cast<std::size_t>(c)].comparable)
                continue;
            Param p = asParam(snap, r, c);
            // With the column's own type and with the type left to the server.
            for (int native : {p.nativeType, 0}) {
                p.nativeType = native;
                if (countMatching(*s, table, cols[static_cast<std::size_t>(c)].name, p) < 1)
                    QFAIL(qPrintable(QStringLiteral("row %1 column %2 (type %3) does not match itself")
                                         .arg(r).arg(c).arg(native)));
            }
        }

    // Text with every character the streamed read must unescape, written
    // through parameters and read back byte for byte.
    const std::vector<std::string> awkward{"\\N", "\\", "a\tb\nc\rd\\e", "\\\\N", "end\\", "\x01\x7f\b\f\v", "\t", ""};
    for (std::size_t i = 0; i < awkward.size(); ++i) {
        const std::vector<Param> row{{ValueKind::Integer, std::to_string(100 + i)}, {ValueKind::Text, awkward[i]}};
        s->execute("insert into " + table + " (id, t) values ($1, $2)", row);
    }
    const Snapshot texts = read(*s, "select t from " + table + " where id >= 100 order by id");
    QCOMPARE(texts.rowCount(), std::int64_t(awkward.size()));
    for (std::size_t i = 0; i < awkward.size(); ++i) {
        QCOMPARE(texts.kind(std::int64_t(i), 0), ValueKind::Text);
        QCOMPARE(texts.value(std::int64_t(i), 0), std::string_view(awkward[i]));
    }

    // Bytes go in as bytes.
    const Param bytes{ValueKind::Blob, std::string("\0\x01\\\t\xfe", 5)};
    QCOMPARE(s->execute("update " + table + " set by = $1 where id = 3", std::span<const Param>(&bytes, 1)), 1LL);
    QCOMPARE(read(*s, "select by from " + table + " where id = 3").value(0, 0), std::string_view(bytes.value.bytes));
}

void TestDataEngines::pgOpenAndLogin()
{
    DERVANTA_REQUIRE_PG();
    const PgLogin login = *pgLogin();
    // postgres:// and an upper-case scheme are the same engine.
    QString other = pgDataSource();
    other.replace(QStringLiteral("postgresql://"), QStringLiteral("POSTGRES://"));
    QVERIFY(open(other, login.user, login.password));

    const auto refused = [](const QString& source, const QString& user, const QString& password) -> long {
        try {
            open(source, user, password);
        } catch (const DbError& e) {
            if (e.description().empty())
                return 0;
            return e.number();
        }
        return 0;
    };
    QVERIFY(refused(pgDataSource(), login.user, QStringLiteral("wrong")) != 0);
    QVERIFY(refused(pgDataSource(), login.user, {}) != 0);
    QVERIFY(refused(QStringLiteral("postgresql://127.0.0.1:1/dervanta"), login.user, login.password) != 0);
    // A password that looks like more keywords is only a password.
    QVERIFY(refused(pgDataSource(), login.user, login.password + QStringLiteral(" host=nowhere")) != 0);
    for (const char* bad : {"postgresql://", "postgresql://127.0.0.1", "postgresql:///dervanta",
                            "postgresql://u:p@127.0.0.1/dervanta", "postgresql://127.0.0.1:99999/dervanta",
                            "postgresql://127.0.0.1/dervanta?sslmode=disable"})
        QCOMPARE(refused(QString::fromLatin1(bad), login.user, login.password), DbError::kBadConnectionString);
}

void TestDataEngines::pgErrorsCarryCodeAndMessage()
{
    DERVANTA_REQUIRE_PG();
    const std::string table = uniqueName("data_errors");
    pgExec("create table " + table + " (id int primary key)");
    const PgDropAtEnd cleanup({table});
    const auto s = openPg();
    s->execute("insert into " + table + " values (1)");
    try {
        s->execute("insert into " + table + " values (1)");
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), 23505L);
        QVERIFY(QString::fromStdString(e.description()).contains(QStringLiteral("duplicate key")));
        QCOMPARE(e.sqlState(), std::string("23505"));
    }
    try {
        read(*s, "select * from no_such_table_here");
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), DbError::kGeneric); // 42P01 is not a number
        QVERIFY(QString::fromStdString(e.description()).contains(QStringLiteral("no_such_table_here")));
        QCOMPARE(e.sqlState(), std::string("42P01"));
        QVERIFY(e.isMissingTable());
    }
    // A query text is one statement; the second never runs.
    QVERIFY_THROWS_EXCEPTION(DbError, read(*s, "select 1; delete from " + table));
    QCOMPARE(read(*s, "select count(*) from " + table).value(0, 0), std::string_view("1"));
    // A trailing comment or semicolon does not break the streamed read.
    QCOMPARE(read(*s, "select count(*) from " + table + " -- all of them").value(0, 0), std::string_view("1"));
    QCOMPARE(read(*s, "select count(*) from " + table + ";\n").value(0, 0), std::string_view("1"));
}

void TestDataEngines::pgExecuteCountsAndTransactions()
{
    DERVANTA_REQUIRE_PG();
    const std::string table = uniqueName("data_tx");
    pgExec("create table " + table + " (id int primary key, v text)");
    const PgDropAtEnd cleanup({table});
    const auto s = openPg();
    QCOMPARE(s->execute("insert into " + table + " values (1, 'a'), (2, 'b'), (3, 'c')"), 3LL);
    const std::vector<Param> p{{ValueKind::Text, "z"}, {ValueKind::Text, "2"}};
    QCOMPARE(s->execute("update " + table + " set v = $1 where id >= $2", p), 2LL);
    s->begin();
    s->execute("delete from " + table);
    s->rollback();
    QCOMPARE(pgQuery("select count(*) from " + table)[0][0].value(), std::string("3"));
    // A commit after a failed statement rolled back: it must not look like success.
    s->begin();
    s->execute("delete from " + table + " where id = 1");
    QVERIFY_THROWS_EXCEPTION(DbError, s->execute("insert into " + table + " values (2, 'dup')"));
    QVERIFY_THROWS_EXCEPTION(DbError, s->commit());
    QCOMPARE(pgQuery("select count(*) from " + table)[0][0].value(), std::string("3"));
    // BEGIN travels with a first statement that has parameters: that
    // statement is inside the transaction, and a failing one leaves the
    // session usable.
    const std::vector<Param> one{{ValueKind::Text, "1"}};
    s->begin();
    QCOMPARE(s->execute("delete from " + table + " where id >= $1", one), 3LL);
    s->rollback();
    QCOMPARE(pgQuery("select count(*) from " + table)[0][0].value(), std::string("3"));
    s->begin();
    QVERIFY_THROWS_EXCEPTION(DbError, s->execute("insert into " + table + " values ($1, 'dup')", one));
    s->rollback();
    s->begin();
    QCOMPARE(s->execute("update " + table + " set v = 'one' where id = $1", one), 1LL);
    s->commit();
    QCOMPARE(pgQuery("select v from " + table + " where id = 1")[0][0].value(), std::string("one"));
}

// A write and the read of its row sent together: the row comes back only
// when exactly one row was written, both run inside the transaction, and a
// write that fails reads nothing and leaves the session usable.
void TestDataEngines::pgWriteAndReadInOneExchange()
{
    DERVANTA_REQUIRE_PG();
    const std::string table = uniqueName("data_pair");
    pgExec("create table " + table + " (id int primary key, v text)");
    const PgDropAtEnd cleanup({table});
    const auto s = openPg();
    s->execute("insert into " + table + " values (1, 'a'), (2, 'b')");
    const std::string update = "update " + table + " set v = $1 where id >= $2";
    const std::string select = "select v from " + table + " where id = $1";
    const auto text = [](const char* v) { return std::vector<Param>{{ValueKind::Text, v}}; };
    const auto pair = [](const char* a, const char* b) { return std::vector<Param>{{ValueKind::Text, a}, {ValueKind::Text, b}}; };

    Snapshot row;
    s->begin();
    QCOMPARE(s->executeThenQuery(update, pair("x", "2"), select, text("2"), row), 1LL);
    QCOMPARE(row.rowCount(), std::int64_t(1));
    QCOMPARE(row.value(0, 0), std::string_view("x"));
    s->rollback();
    QCOMPARE(pgQuery("select v from " + table + " where id = 2")[0][0].value(), std::string("b"));

    Snapshot none;
    QCOMPARE(s->executeThenQuery(update, pair("y", "1"), select, text("1"), none), 2LL);
    QCOMPARE(none.rowCount(), std::int64_t(0));
    s->begin();
    QVERIFY_THROWS_EXCEPTION(DbError, s->executeThenQuery("insert into " + table + " values ($1, 'dup')", text("1"),
                                                          select, text("1"), none));
    s->rollback();
    QCOMPARE(none.rowCount(), std::int64_t(0));
    QCOMPARE(read(*s, "select count(*) from " + table).value(0, 0), std::string_view("2"));
}

void TestDataEngines::pgPrimaryKey()
{
    DERVANTA_REQUIRE_PG();
    const std::string keyed = uniqueName("Data Keyed");
    const std::string plain = uniqueName("data_plain");
    pgExec("create table " + Dialect::quoteIdentifier(keyed) + " (b text, a int, c int, primary key (c, a))");
    pgExec("create table " + plain + " (x int)");
    const PgDropAtEnd cleanup({keyed, plain});
    const auto s = openPg();
    QCOMPARE(s->primaryKey(keyed), (std::vector<std::string>{"c", "a"}));
    QVERIFY(s->primaryKey(plain).empty());
}

namespace {
// Gives up after a few rows, as a reader that ran out of memory would.
struct StoppingSink final : RowSink {
    int rows = 0;
    void begin(const std::vector<ColumnInfo>&) override {}
    void cell(ValueKind, const char*, std::size_t) override {}
    void endRow() override
    {
        if (++rows == 3)
            throw std::runtime_error("enough");
    }
};
} // namespace

void TestDataEngines::pgSessionSurvivesAnAbandonedRead()
{
    DERVANTA_REQUIRE_PG();
    const auto s = openPg();
    StoppingSink sink;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, s->query("select g from generate_series(1, 200000) g", {}, sink));
    QCOMPARE(read(*s, "select 42").value(0, 0), std::string_view("42"));
}

QTEST_GUILESS_MAIN(TestDataEngines)
#include "test_data_engines.moc"
