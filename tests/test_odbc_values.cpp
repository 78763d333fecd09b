// The ODBC engine against Debian's PostgreSQL and SQLite ODBC drivers: every
// value read exactly, bound back so that it matches itself, the same result
// by block fetch and by one SQLGetData per cell, and the driver's own words
// on failure.

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/engines/OdbcEngine.h"
#include "oracle/Snapshot.h"
#include "support/OdbcSupport.h"
#include "support/SessionSupport.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <QProcess>

#include <clocale>

using namespace TestSupport;
using SessionSupport::read;

namespace {

OdbcOptions perCellOptions()
{
    OdbcOptions o;
    o.perCellFetch = true;
    return o;
}

OdbcOptions rowsOptions(int rows)
{
    OdbcOptions o;
    o.rowArraySize = rows;
    return o;
}

OdbcOptions genericOptions()
{
    OdbcOptions o;
    o.dialect = DialectKind::Generic;
    return o;
}

std::unique_ptr<OdbcSession> openPg(OdbcOptions options = {})
{
    return OpenOdbcSession(OdbcSupport::pgConnect(), OdbcSupport::pgLogin(), options);
}

std::unique_ptr<OdbcSession> openSqlite(const QString& path, OdbcOptions options = {})
{
    return OpenOdbcSession(OdbcSupport::sqliteConnect(path), {}, options);
}

std::string text(const Snapshot& s, std::int64_t row, int column) { return std::string(s.value(row, column)); }

int column(const Snapshot& s, const std::string& name)
{
    for (int c = 0; c < s.columnCount(); ++c)
        if (s.columns()[static_cast<std::size_t>(c)].name == name)
            return c;
    return -1;
}

std::string repeat(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

const std::string kLongUnicode = repeat("Grüße 🚀 日本 ", 1500); // 18,000 UTF-16 units, pairs across pieces
const std::string kLongEuro = repeat("€", 3000);

// Every value written back over itself leaves the row as it was, and every
// comparable value finds exactly its own row.
void checkBindsBack(Session& s, const std::string& table, const Snapshot& before)
{
    const Dialect& d = s.dialect();
    const std::string quoted = Dialect::quoteIdentifier(table);
    const int id = column(before, "id");
    for (std::int64_t r = 0; r < before.rowCount(); ++r) {
        const Param key(d.stored({before.kind(r, id), text(before, r, id)}), before.columns()[id].type,
                        before.columns()[id].nativeType);
        for (int c = 0; c < before.columnCount(); ++c) {
            const ColumnInfo& info = before.columns()[static_cast<std::size_t>(c)];
            if (c == id)
                continue;
            const Param value(d.stored({before.kind(r, c), text(before, r, c)}), info.type, info.nativeType);
            const std::string col = Dialect::quoteIdentifier(info.name);
            s.execute("update " + quoted + " set " + col + " = " + Placeholder(s.placeholders(), 1) + " where id = " + Placeholder(s.placeholders(), 2),
                      std::vector<Param>{value, key});
            if (!info.comparable || before.isNull(r, c))
                continue;
            const Snapshot found = read(s, "select id from " + quoted + " where " + col + " = " + Placeholder(s.placeholders(), 1),
                                        {value});
            QVERIFY2(found.rowCount() == 1 && found.value(0, 0) == before.value(r, id),
                     qPrintable(QStringLiteral("%1 of row %2 does not find its own row")
                                    .arg(QString::fromStdString(info.name))
                                    .arg(QString::fromStdString(text(before, r, id)))));
        }
    }
    const Snapshot after = read(s, "select * from " + quoted + " order by id");
    const QString diff = OdbcSupport::difference(before, after);
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("written back: ") + diff));
}

struct PgTable {
    std::string name = uniqueName("odbc");
    ~PgTable() { pgDropTables({name}); }
};

} // namespace

class TestOdbcValues : public QObject {
    Q_OBJECT

private slots:
    void pgValuesAreExact();
    void pgBlockAndPerCellAgree();
    void unicodeSurvivesTheCLocale();
    void numbersIgnoreACommaLocale();
    void sqliteValuesAreExact();
    void transactionsAndRowCounts();
    void primaryKeysAndTables();
    void failuresCarryTheDriversWords();
};

void TestOdbcValues::pgValuesAreExact()
{
    DERVANTA_REQUIRE_PG();
    PgTable t;
    pgExec("create table " + t.name
           + " (id int primary key, i bigint, n numeric(38,0), d numeric(20,10), r float8, f float4,"
             " t varchar(20), u varchar, lt text, dt date, ts timestamp(6), tm time(6), b bytea, bo boolean,"
             " tz timestamptz);"
             "insert into " + t.name + " values"
             " (1, 9223372036854775807, 12345678901234567890123456789012345678, 1234567890.0123456789,"
             "  0.1::float8 + 0.2::float8, 1.1, 'plain', '" + kLongEuro + "', '" + kLongUnicode + "',"
             "  '2024-02-29', '2024-02-29 23:59:59.123456', '12:34:56.789012', '\\x00ff10', true,"
             "  '2024-06-01 12:00:00.25+02'),"
             " (2, null, null, null, null, null, null, null, null, null, null, null, null, null, null),"
             " (3, -9223372036854775808, -99999999999999999999999999999999999999, -0.0000000001, -1e-300, -0.5,"
             "  '', '', '', '1970-01-01', '1999-12-31 00:00:00', '00:00:00', '', false, null),"
             " (4, 0, 0, 0, 1e300, 3.4e38, 'Ωμέγα 日本 🚀', '🚀', 'x', '0999-01-01', '2000-01-01 00:00:00.5', "
             "  '23:59:59.5', null, null, '2024-01-01 00:00:00-08'),"
             " (5, null, null, null, 'Infinity', '-Infinity', null, null, null, null, null, null, null, null, null),"
             " (6, null, null, null, 'NaN', 'NaN', null, null, null, null, null, null, null, null, null),"
             " (7, null, null, null, 1e6, 1e6, null, null, null, null, null, null, null, null, null)");
    auto s = openPg();
    QCOMPARE(s->dialect().kind(), DialectKind::PostgreSQL);
    QCOMPARE(s->dbmsName(), std::string("PostgreSQL"));
    const Snapshot v = read(*s, "select * from " + t.name + " order by id");
    QCOMPARE(v.rowCount(), std::int64_t{7});

    const auto at = [&](int row, const char* name) { return text(v, row, column(v, name)); };
    QCOMPARE(at(0, "i"), std::string("9223372036854775807"));
    QCOMPARE(at(0, "n"), std::string("12345678901234567890123456789012345678"));
    QCOMPARE(at(0, "d"), std::string("1234567890.0123456789"));
    QCOMPARE(at(0, "r"), std::string("0.30000000000000004"));
    QCOMPARE(at(0, "f"), std::string("1.1"));
    QCOMPARE(at(0, "u"), kLongEuro);
    QCOMPARE(at(0, "lt"), kLongUnicode);
    QCOMPARE(at(0, "dt"), std::string("2024-02-29"));
    QCOMPARE(at(0, "ts"), std::string("2024-02-29 23:59:59.123456"));
    QCOMPARE(at(0, "tm"), std::string("12:34:56.789012"));
    QCOMPARE(at(0, "b"), std::string("\x00\xff\x10", 3));
    QCOMPARE(at(2, "n"), std::string("-99999999999999999999999999999999999999"));
    QCOMPARE(at(2, "d"), std::string("-0.0000000001"));
    QCOMPARE(at(2, "r"), std::string("-1e-300"));
    QCOMPARE(at(2, "ts"), std::string("1999-12-31 00:00:00"));
    QCOMPARE(at(3, "t"), std::string("Ωμέγα 日本 🚀"));
    QCOMPARE(at(3, "u"), std::string("🚀"));
    QCOMPARE(at(3, "r"), std::string("1e+300"));
    QCOMPARE(at(3, "dt"), std::string("0999-01-01"));
    QCOMPARE(at(3, "ts"), std::string("2000-01-01 00:00:00.5"));
    // Doubles as the server prints them (as the PostgreSQL engine reads them).
    QCOMPARE(at(4, "r"), std::string("Infinity"));
    QCOMPARE(at(5, "r"), std::string("NaN"));
    QCOMPARE(at(6, "r"), std::string("1000000"));
    QCOMPARE(at(4, "f"), std::string("-Infinity"));
    QCOMPARE(at(6, "f"), std::string("1e+06"));

    // NULL is not the empty text, for text and bytes alike.
    for (int c = 1; c < v.columnCount(); ++c)
        QVERIFY(v.isNull(1, c));
    for (const char* name : {"t", "u", "lt"}) {
        QCOMPARE(v.kind(2, column(v, name)), ValueKind::Text);
        QCOMPARE(at(2, name), std::string());
    }
    QCOMPARE(v.kind(2, column(v, "b")), ValueKind::Blob);
    QCOMPARE(v.kind(0, column(v, "r")), ValueKind::Real);
    QCOMPARE(v.kind(0, column(v, "i")), ValueKind::Integer);

    const auto info = [&](const char* name) { return v.columns()[static_cast<std::size_t>(column(v, name))]; };
    QCOMPARE(info("n").type, ColumnType::Decimal);
    QCOMPARE(info("r").type, ColumnType::Real);
    QCOMPARE(info("ts").type, ColumnType::Timestamp);
    QCOMPARE(info("dt").type, ColumnType::Date);
    QCOMPARE(info("tm").type, ColumnType::Time);
    // The driver calls text long; PostgreSQL compares it like any text.
    QCOMPARE(info("lt").type, ColumnType::Text);
    QVERIFY(info("lt").comparable && !info("lt").readOnly);
    QCOMPARE(info("b").type, ColumnType::Binary);
    QVERIFY(!info("b").comparable && info("b").readOnly);
    QVERIFY(info("t").comparable && info("ts").comparable && info("r").comparable);
    QVERIFY(!info("ts").typeName.empty());

    checkBindsBack(*s, t.name, v);
}

void TestOdbcValues::pgBlockAndPerCellAgree()
{
    DERVANTA_REQUIRE_PG();
    PgTable t;
    // Enough rows for several blocks; long and over-long values among them.
    pgExec("create table " + t.name + " (id int primary key, n numeric(30,5), r float8, v varchar(12), u varchar,"
           " lt text, ts timestamp(6), b bytea);"
           "insert into " + t.name + " select g, g * 1.00001, g / 7.0, case when g % 5 = 0 then null else 'v' || g end,"
           " case when g % 97 = 0 then repeat('ü', 300 + g) else 'u' || g end,"
           " case when g % 3 = 0 then null when g % 50 = 0 then repeat('🚀', 5000) else 't' || g end,"
           " timestamp '2020-01-01' + g * interval '1.000001 second', decode(to_hex(g), 'escape')"
           " from generate_series(1, 2500) g");
    const std::string sql = "select * from " + t.name + " order by id";

    auto perCell = openPg(perCellOptions());
    const Snapshot reference = read(*perCell, sql);
    QCOMPARE(perCell->lastFetch().mode, OdbcFetchStats::Mode::PerCell);
    QCOMPARE(reference.rowCount(), std::int64_t{2500});

    auto block = openPg();
    const Snapshot blocked = read(*block, sql);
    const OdbcFetchStats stats = block->lastFetch();
    QCOMPARE(stats.mode, OdbcFetchStats::Mode::Block);
    QVERIFY(stats.rowArraySize >= 100);
    QVERIFY(stats.fetchCalls <= 2500 / stats.rowArraySize + 2);
    QVERIFY2(OdbcSupport::difference(reference, blocked).isEmpty(),
             qPrintable(OdbcSupport::difference(reference, blocked)));
    // Only long cells and the values longer than their buffer cost a call of their own.
    QVERIFY(stats.getDataCalls < 2500 * 3);

    // Blocks that end in the middle of everything.
    auto small = openPg(rowsOptions(7));
    const Snapshot smallBlocks = read(*small, sql);
    QCOMPARE(small->lastFetch().rowArraySize, 7LL);
    QVERIFY2(OdbcSupport::difference(reference, smallBlocks).isEmpty(),
             qPrintable(OdbcSupport::difference(reference, smallBlocks)));

    // A result of short columns only needs no SQLGetData at all.
    read(*block, "select id, n, r, v, ts from " + t.name);
    QCOMPARE(block->lastFetch().getDataCalls, 0LL);
    QCOMPARE(block->lastFetch().rows, 2500LL);
}

void TestOdbcValues::unicodeSurvivesTheCLocale()
{
    DERVANTA_REQUIRE_PG();
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const auto restore = qScopeGuard([&] { std::setlocale(LC_ALL, saved.c_str()); });

    const std::string word = "Grüße, Ωμέγα, 日本語, 🚀";
    auto s = openPg();
    const Snapshot v = read(*s, "select ?::varchar(40) as \"Spalte ä\", ?::text as lt",
                            {Param{ValueKind::Text, word}, Param{ValueKind::Text, word}});
    QCOMPARE(v.columns()[0].name, std::string("Spalte ä"));
    QCOMPARE(text(v, 0, 0), word);
    QCOMPARE(text(v, 0, 1), word);

    ScratchSqlite db("create table t(id integer primary key, v varchar(40));");
    auto lite = openSqlite(db.path());
    lite->execute("insert into t values (1, ?)", std::vector<Param>{Param{ValueKind::Text, word}});
    QCOMPARE(db.query("select v from t")[0][0].value_or(""), word);
    QCOMPARE(text(read(*lite, "select v from t"), 0, 0), word);
}

// The program runs in the user's locale; a German one must not turn the
// numbers drivers write into "1234,5".
void TestOdbcValues::numbersIgnoreACommaLocale()
{
    DERVANTA_REQUIRE_PG();
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const auto restore = qScopeGuard([&] { std::setlocale(LC_ALL, saved.c_str()); });
    QTemporaryDir dir;
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        // Build one for this test when the system has none.
        if (QProcess::execute(QStringLiteral("localedef"), {QStringLiteral("-i"), QStringLiteral("de_DE"),
                                                            QStringLiteral("-f"), QStringLiteral("UTF-8"),
                                                            dir.filePath(QStringLiteral("de_DE.UTF-8"))})
            < 0)
            QSKIP("no German locale and no localedef to build one");
        qputenv("LOCPATH", dir.path().toLocal8Bit());
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            QSKIP("no German locale could be built");
    }
    QCOMPARE(std::string(std::localeconv()->decimal_point), std::string(","));

    auto s = openPg();
    const Snapshot v = read(*s, "select 1234.50::numeric(10,2), 0.25::float8, 1.5::float4, ?::numeric(10,2), ?::float8",
                            {Param{ValueKind::Text, "12.75", ColumnType::Decimal},
                             Param{ValueKind::Real, "0.5", ColumnType::Real}});
    QCOMPARE(text(v, 0, 0), std::string("1234.50"));
    QCOMPARE(text(v, 0, 1), std::string("0.25"));
    QCOMPARE(text(v, 0, 2), std::string("1.5"));
    QCOMPARE(text(v, 0, 3), std::string("12.75"));
    QCOMPARE(text(v, 0, 4), std::string("0.5"));
    // The caller's own locale is left as it was.
    QCOMPARE(std::string(std::localeconv()->decimal_point), std::string(","));

    ScratchSqlite db("create table t(r real, n numeric); insert into t values (0.25, 1.5);");
    const Snapshot lite = read(*openSqlite(db.path()), "select r, n from t");
    QCOMPARE(text(lite, 0, 0), std::string("0.25"));
    QCOMPARE(text(lite, 0, 1), std::string("1.5"));
}

// The SQLite ODBC driver turns a real into text with 15 digits before it
// converts it to a double, so 0.1 + 0.2 cannot come through it exactly (the
// sqlite: engine reads it exactly); these reals survive 15 digits, and reals
// never serve to find a row there.
void TestOdbcValues::sqliteValuesAreExact()
{
    ScratchSqlite db("create table t(id integer primary key, i integer, r real, v varchar(10), lt text, b blob,"
                     " dt date, ts timestamp);"
                     "insert into t values (1, 9223372036854775807, 0.125, 'short', '" + kLongUnicode
                     + "', x'00ff10', '2024-02-29', '2024-02-29 23:59:59.123456');"
                     "insert into t values (2, null, null, null, null, null, null, null);"
                     "insert into t values (3, -5, -0.5, '', '', x'', '1970-01-01', '1999-12-31 00:00:00');"
                     "insert into t values (4, 7, 1e300, '" + kLongEuro + "', 'x', null, null, null);");
    auto perCell = openSqlite(db.path(), perCellOptions());
    QCOMPARE(perCell->dialect().kind(), DialectKind::SQLite);
    const std::string sql = "select * from t order by id";
    const Snapshot v = read(*perCell, sql);

    const auto at = [&](int row, const char* name) { return text(v, row, column(v, name)); };
    QCOMPARE(at(0, "i"), std::string("9223372036854775807"));
    QCOMPARE(at(0, "r"), std::string("0.125"));
    QCOMPARE(at(0, "lt"), kLongUnicode);
    QCOMPARE(at(0, "b"), std::string("\x00\xff\x10", 3));
    QCOMPARE(at(0, "ts"), std::string("2024-02-29 23:59:59.123456"));
    QCOMPARE(at(3, "v"), kLongEuro); // far beyond the size the driver reports
    QCOMPARE(at(3, "r"), std::string("1e+300"));
    QVERIFY(!v.columns()[static_cast<std::size_t>(column(v, "r"))].comparable);
    QVERIFY(v.isNull(1, column(v, "v")));
    QCOMPARE(v.kind(2, column(v, "v")), ValueKind::Text);
    QCOMPARE(at(2, "v"), std::string());

    // The driver cannot read a block's rows one by one (no SQL_GD_BLOCK):
    // bound columns then come one row per fetch, still without truncation.
    auto bound = openSqlite(db.path());
    const Snapshot b = read(*bound, sql);
    QCOMPARE(bound->lastFetch().mode, OdbcFetchStats::Mode::RowByRow);
    QVERIFY2(OdbcSupport::difference(v, b).isEmpty(), qPrintable(OdbcSupport::difference(v, b)));

    checkBindsBack(*bound, "t", v);
}

void TestOdbcValues::transactionsAndRowCounts()
{
    DERVANTA_REQUIRE_PG();
    PgTable t;
    pgExec("create table " + t.name + " (id int primary key, v text)");
    auto s = openPg();
    const std::string insert = "insert into " + t.name + " values (?, 'a')";
    s->begin();
    s->execute(insert, std::vector<Param>{Param{ValueKind::Integer, "1", ColumnType::Integer}});
    QVERIFY_THROWS_EXCEPTION(DbError, s->begin());
    s->rollback();
    QCOMPARE(pgQuery("select count(*) from " + t.name)[0][0].value(), std::string("0"));

    s->begin();
    s->execute(insert, std::vector<Param>{Param{ValueKind::Integer, "1", ColumnType::Integer}});
    s->execute(insert, std::vector<Param>{Param{ValueKind::Integer, "2", ColumnType::Integer}});
    s->commit();
    QCOMPARE(pgQuery("select count(*) from " + t.name)[0][0].value(), std::string("2"));

    // Outside a transaction every statement commits by itself.
    QCOMPARE(s->execute("update " + t.name + " set v = 'b'"), 2LL);
    QCOMPARE(s->execute("update " + t.name + " set v = 'c' where id = -1"), 0LL);
    QCOMPARE(pgQuery("select min(v) from " + t.name)[0][0].value(), std::string("b"));

    // A statement that returns rows but met none is an empty result, not a failure.
    QCOMPARE(read(*s, "update " + t.name + " set v = 'x' where id = -1 returning *").rowCount(), std::int64_t{0});
    const Snapshot returned = read(*s, "update " + t.name + " set v = 'x' where id = 1 returning id, v");
    QCOMPARE(returned.rowCount(), std::int64_t{1});
    QCOMPARE(text(returned, 0, 1), std::string("x"));

    // A failed statement inside a transaction, then a rollback: the
    // connection is usable again and commits by itself.
    s->begin();
    QVERIFY_THROWS_EXCEPTION(DbError, s->execute(insert, std::vector<Param>{Param{ValueKind::Integer, "1"}}));
    s->rollback();
    s->execute("delete from " + t.name + " where id = 2");
    QCOMPARE(pgQuery("select count(*) from " + t.name)[0][0].value(), std::string("1"));
}

void TestOdbcValues::primaryKeysAndTables()
{
    DERVANTA_REQUIRE_PG();
    const std::string mixed = "Odbc Key " + uniqueName("T");
    PgTable plain;
    const PgDropAtEnd drop({mixed});
    pgExec("create table " + Dialect::quoteIdentifier(mixed) + " (a int, \"B b\" int, c int, primary key (\"B b\", a));"
           "create table " + plain.name + " (x int)");
    auto s = openPg();
    QCOMPARE(s->primaryKey(mixed), (std::vector<std::string>{"B b", "a"}));
    QVERIFY(s->primaryKey(plain.name).empty());

    const auto listed = [](Session& session) {
        Snapshot names;
        session.tables(names);
        std::vector<std::string> out;
        for (std::int64_t r = 0; r < names.rowCount(); ++r)
            out.emplace_back(names.value(r, 0));
        return out;
    };
    const auto has = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    const std::vector<std::string> byDialect = listed(*s);
    QVERIFY(has(byDialect, mixed) && has(byDialect, plain.name));

    // A source of no known dialect lists what its driver reports.
    auto generic = openPg(genericOptions());
    QCOMPARE(generic->dialect().kind(), DialectKind::Generic);
    const std::vector<std::string> byDriver = listed(*generic);
    QVERIFY(has(byDriver, mixed) && has(byDriver, plain.name));

    // (The SQLite driver numbers key columns in table order, whatever the key's order.)
    ScratchSqlite db("create table k(a int, b int, c int, primary key(a, c)); create table \"Mixed Case\"(x);");
    auto lite = openSqlite(db.path(), genericOptions());
    QCOMPARE(lite->primaryKey("k"), (std::vector<std::string>{"a", "c"}));
    const std::vector<std::string> liteTables = listed(*lite);
    QVERIFY(has(liteTables, "k") && has(liteTables, "Mixed Case"));
}

void TestOdbcValues::failuresCarryTheDriversWords()
{
    DERVANTA_REQUIRE_PG();
    LoginParts wrong = OdbcSupport::pgLogin();
    wrong.password += "-wrong";
    try {
        OpenOdbcSession(OdbcSupport::pgConnect(), wrong, {});
        QFAIL("a wrong password connected");
    } catch (const DbError& e) {
        QVERIFY2(QString::fromStdString(e.description()).contains(QLatin1String("password")), e.what());
        QVERIFY(e.number() != 0);
    }

    auto s = openPg();
    try {
        read(*s, "select * from no_such_table_here");
        QFAIL("a missing table was read");
    } catch (const DbError& e) {
        QVERIFY2(QString::fromStdString(e.description()).contains(QLatin1String("no_such_table_here")), e.what());
        QVERIFY2(QString::fromStdString(e.description()).contains(QLatin1String("42P01")), e.what());
        QCOMPARE(e.sqlState(), std::string("42P01"));
    }

    try {
        OpenOdbcSession("DRIVER={No Such Driver 9}", {}, {});
        QFAIL("an unknown driver connected");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), DbError::kNoDriver);
        QVERIFY2(QString::fromStdString(e.description()).contains(QLatin1String("Can't open lib")), e.what());
    }
}

QTEST_GUILESS_MAIN(TestOdbcValues)
#include "test_odbc_values.moc"
