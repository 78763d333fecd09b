// The SQL text and parameters of one row write, per dialect. No server is
// needed: the Oracle statements can only be checked this way here.

#include "oracle/Dialect.h"
#include "oracle/EditableRowset.h"
#include "oracle/RowStatements.h"

#include <QTest>

namespace {

ColumnInfo column(std::string name, ColumnType type, bool comparable = true)
{
    ColumnInfo c;
    c.name = std::move(name);
    c.type = type;
    c.comparable = comparable;
    c.readOnly = !comparable;
    c.nativeType = static_cast<int>(type) + 100;
    return c;
}

// An Oracle table: NUMBER key, mixed-case text, DATE (read as a timestamp),
// TIMESTAMP, and a CLOB that never stands in a WHERE.
std::vector<ColumnInfo> oracleColumns()
{
    return {column("Key Col", ColumnType::Decimal), column("mixedName", ColumnType::Text),
            column("When", ColumnType::Timestamp), column("Stamp", ColumnType::Timestamp),
            column("Doc", ColumnType::LargeText, false)};
}

Value text(std::string s) { return {ValueKind::Text, std::move(s)}; }
Value null() { return {}; }

std::vector<Value> oracleRow()
{
    return {text("12345678901234567890123456789012345678"), null(), text("2024-01-02 03:04:05"),
            text("2024-01-02 03:04:05.123456789"), text("long text")};
}

Value typed(const Dialect& d, const ColumnInfo& c, std::string_view s) { return d.typedValue(c, s); }

} // namespace

class RowsetStatements : public QObject {
    Q_OBJECT

private slots:
    void oracleUpdateByKeyMatchesNullWithIsNull()
    {
        const auto dialect = MakeDialect(DialectKind::Oracle);
        const RowStatements w(*dialect, Placeholders::Question, "My Table", oracleColumns(), {"Key Col"});
        QVERIFY(w.byKey());
        RowStatements::Values changes(5);
        changes[1] = typed(*dialect, oracleColumns()[1], "x");
        changes[2] = typed(*dialect, oracleColumns()[2], "2025-06-07T08:09:10");
        const auto s = w.update(oracleRow(), changes);
        QVERIFY(s);
        QCOMPARE(s->sql, std::string("UPDATE \"My Table\" SET \"mixedName\" = ?, \"When\" = ? WHERE \"Key Col\" = ?"
                                     " AND \"mixedName\" IS NULL AND \"When\" = ?"));
        // No RETURNING in Oracle; the DATE goes in its canonical form, bound as a timestamp.
        QCOMPARE(s->params.size(), std::size_t(4));
        QCOMPARE(s->params[1].value.bytes, std::string("2025-06-07 08:09:10"));
        QCOMPARE(s->params[1].type, ColumnType::Timestamp);
        QCOMPARE(s->params[2].value.bytes, std::string("12345678901234567890123456789012345678"));
        QCOMPARE(s->params[2].type, ColumnType::Decimal);
        QCOMPARE(s->params[3].value.bytes, std::string("2024-01-02 03:04:05"));
        QCOMPARE(s->params[3].type, ColumnType::Timestamp);
        QCOMPARE(s->params[3].nativeType, static_cast<int>(ColumnType::Timestamp) + 100);
    }

    void oracleEmptyTextIsNull()
    {
        const auto dialect = MakeDialect(DialectKind::Oracle);
        const std::vector<ColumnInfo> cols = oracleColumns();
        // Typed empty text is NULL; an empty original (as another engine might
        // report it) is matched with IS NULL, never = ''.
        QCOMPARE(typed(*dialect, cols[1], "").kind, ValueKind::Null);
        std::vector<Value> row = oracleRow();
        row[1] = text("");
        const RowStatements w(*dialect, Placeholders::Question, "T", cols, {});
        QVERIFY(!w.byKey());
        RowStatements::Values changes(5);
        changes[1] = typed(*dialect, cols[1], "");
        changes[0] = text("1");
        const auto s = w.update(row, changes);
        QVERIFY(s);
        QCOMPARE(s->sql, std::string("UPDATE \"T\" SET \"Key Col\" = ?, \"mixedName\" = ? WHERE \"Key Col\" = ?"
                                     " AND \"mixedName\" IS NULL AND \"When\" = ? AND \"Stamp\" = ?"));
        QCOMPARE(s->params[1].value.kind, ValueKind::Null);
        QCOMPARE(s->params.size(), std::size_t(5)); // the CLOB stays out
    }

    void oracleDatesAndTimestampsAreCanonical()
    {
        const auto dialect = MakeDialect(DialectKind::Oracle);
        const ColumnInfo stamp = column("S", ColumnType::Timestamp);
        const ColumnInfo date = column("D", ColumnType::Date);
        QCOMPARE(typed(*dialect, stamp, "2024-03-04").bytes, std::string("2024-03-04 00:00:00"));
        QCOMPARE(typed(*dialect, stamp, "2024-03-04T05:06:07.000000001").bytes,
                 std::string("2024-03-04 05:06:07.000000001"));
        QCOMPARE(typed(*dialect, date, "2024-03-04").bytes, std::string("2024-03-04"));
        QCOMPARE(typed(*dialect, stamp, "not a date").bytes, std::string("not a date")); // the server says why
    }

    void oracleInsertDeleteAndReread()
    {
        const auto dialect = MakeDialect(DialectKind::Oracle);
        const std::vector<ColumnInfo> cols = oracleColumns();
        const RowStatements w(*dialect, Placeholders::Question, "Mixed \"Q\" Name", cols, {"Key Col"});
        RowStatements::Values values(5);
        values[0] = typed(*dialect, cols[0], "7");
        values[1] = typed(*dialect, cols[1], "");
        const RowStatements::Statement ins = w.insert(values, true);
        QCOMPARE(ins.sql, std::string("INSERT INTO \"Mixed \"\"Q\"\" Name\" (\"Key Col\", \"mixedName\") VALUES (?, ?)"));
        QCOMPARE(ins.params[1].value.kind, ValueKind::Null);

        const auto del = w.remove(oracleRow());
        QVERIFY(del);
        QCOMPARE(del->sql, std::string("DELETE FROM \"Mixed \"\"Q\"\" Name\" WHERE \"Key Col\" = ? AND \"mixedName\" IS NULL"
                                       " AND \"When\" = ? AND \"Stamp\" = ?"));

        // Re-read by the key when it is known, by the known values otherwise,
        // naming the columns read in their order.
        const std::string columns = "SELECT \"Key Col\", \"mixedName\", \"When\", \"Stamp\", \"Doc\" FROM ";
        QCOMPARE(w.reselect(values)->sql, columns + "\"Mixed \"\"Q\"\" Name\" WHERE \"Key Col\" = ?");
        values[0].reset();
        QCOMPARE(w.reselect(values)->sql, columns + "\"Mixed \"\"Q\"\" Name\" WHERE \"mixedName\" IS NULL");
        values[1].reset();
        QVERIFY(!w.reselect(values));
    }

    // Every changed column is checked against its value read: by its text
    // where the type has no equality (PostgreSQL json), by content for a
    // large object (Oracle CLOB); a column no database can compare refuses
    // the write instead of being left unchecked.
    void changedColumnsAreAlwaysChecked()
    {
        const ColumnInfo key = column("k", ColumnType::Integer);
        ColumnInfo json = column("j", ColumnType::Other, false);
        json.readOnly = false;
        json.nativeType = 114;
        const std::vector<Value> row{text("1"), text("{\"a\": 1}")};
        RowStatements::Values changes(2);
        changes[1] = text("{\"a\": 2}");

        const auto pg = MakeDialect(DialectKind::PostgreSQL);
        const auto s = RowStatements(*pg, Placeholders::Dollar, "t", {key, json}, {"k"}).update(row, changes);
        QVERIFY(s);
        QCOMPARE(s->sql, std::string("UPDATE \"t\" SET \"j\" = $1 WHERE \"k\" = $2 AND CAST(\"j\" AS text) = $3"));
        QCOMPARE(s->params[2].value.bytes, std::string("{\"a\": 1}"));
        QCOMPARE(s->params[2].nativeType, 0); // compared as text, not as json
        QCOMPARE(s->params[0].nativeType, 114);

        const auto oracle = MakeDialect(DialectKind::Oracle);
        ColumnInfo clob = column("Doc", ColumnType::LargeText, false);
        clob.typeName = "CLOB";
        const auto o = RowStatements(*oracle, Placeholders::Question, "t", {key, clob}, {"k"}).update(row, changes);
        QVERIFY(o);
        QCOMPARE(o->sql, std::string("UPDATE \"t\" SET \"Doc\" = ? WHERE \"k\" = ? AND DBMS_LOB.COMPARE(\"Doc\", ?) = 0"));
        clob.typeName = "LONG";
        const RowStatements longs(*oracle, Placeholders::Question, "t", {key, clob}, {"k"});
        QCOMPARE(longs.uncheckableChange(changes), 1);
        QVERIFY(!longs.update(row, changes));

        const auto generic = MakeDialect(DialectKind::Generic);
        QCOMPARE(RowStatements(*generic, Placeholders::Question, "t", {key, json}, {"k"}).uncheckableChange(changes), 1);
    }

    // SQLite's ODBC driver passes reals through 15-digit text, so a changed
    // real is checked by its text, as PostgreSQL checks json.
    void sqliteChecksDriverRealsByText()
    {
        ColumnInfo real = column("r", ColumnType::Real, false);
        real.readOnly = false;
        const std::vector<Value> row{text("1"), {ValueKind::Real, "0.1"}};
        RowStatements::Values changes(2);
        changes[1] = Value{ValueKind::Real, "0.2"};
        const auto sqlite = MakeDialect(DialectKind::SQLite);
        const RowStatements w(*sqlite, Placeholders::Question, "t", {column("k", ColumnType::Integer), real}, {"k"});
        const auto s = w.update(row, changes);
        QVERIFY(s);
        QCOMPARE(s->sql, std::string("UPDATE \"t\" SET \"r\" = ? WHERE \"k\" = ? AND CAST(\"r\" AS text) = ?"));
        QCOMPARE(s->params[2].value.kind, ValueKind::Text);
        QCOMPARE(s->params[2].type, ColumnType::Text);
    }

    // RETURNING is written where the dialect has it, and SQLite has it only
    // when its engine said so: what the engine said stays with every copy of
    // the dialect the statements make.
    void returningWhereTheDialectHasIt()
    {
        const std::vector<ColumnInfo> cols{column("id", ColumnType::Integer), column("v", ColumnType::Text)};
        RowStatements::Values values(2);
        values[1] = text("x");
        const RowStatements::Values none(2);
        const auto insert = [&](const Dialect& d, Placeholders p, const RowStatements::Values& v) {
            return RowStatements(d, p, "t", cols, {"id"}).insert(v, true).sql;
        };

        const auto pg = MakeDialect(DialectKind::PostgreSQL);
        QCOMPARE(insert(*pg, Placeholders::Dollar, values),
                 std::string("INSERT INTO \"t\" (\"v\") VALUES ($1) RETURNING \"id\""));
        QCOMPARE(insert(*pg, Placeholders::Dollar, none),
                 std::string("INSERT INTO \"t\" DEFAULT VALUES RETURNING \"id\""));

        const auto sqlite = MakeSqliteDialect(true);
        QCOMPARE(insert(*sqlite, Placeholders::Question, values),
                 std::string("INSERT INTO \"t\" (\"v\") VALUES (?) RETURNING \"id\""));
        const auto kept =
            RowStatements(*sqlite->clone(), Placeholders::Question, "t", cols, {"id"}).withoutColumns({1});
        QVERIFY(kept->dialect().supportsReturning());
        QCOMPARE(kept->insert(none, true).sql, std::string("INSERT INTO \"t\" DEFAULT VALUES RETURNING \"id\""));

        for (const auto& without : {MakeSqliteDialect(false), MakeDialect(DialectKind::SQLite)})
            QCOMPARE(insert(*without, Placeholders::Question, values),
                     std::string("INSERT INTO \"t\" (\"v\") VALUES (?)"));
        const auto oracle = MakeDialect(DialectKind::Oracle);
        QCOMPARE(insert(*oracle, Placeholders::Question, none), std::string("INSERT INTO \"t\" DEFAULT VALUES"));
    }

    // Every database reads the table and probes its columns by the same
    // text, the name quoted so that nothing in it ends the identifier.
    void everyDialectReadsTheTableAlike()
    {
        for (const DialectKind kind : {DialectKind::Oracle, DialectKind::PostgreSQL, DialectKind::SQLite,
                                       DialectKind::Generic}) {
            const auto d = MakeDialect(kind);
            QCOMPARE(d->clone()->kind(), kind);
            QCOMPARE(d->selectAll("a \"b\""), std::string("SELECT * FROM \"a \"\"b\"\"\""));
            const RowStatements w(*d, Placeholders::Question, "a \"b\"", {column("k", ColumnType::Integer)}, {});
            QCOMPARE(w.columnsNow().sql, std::string("SELECT * FROM \"a \"\"b\"\"\" WHERE 1 = 0"));
        }
    }

    // A key column that cannot be compared is no key; a table with nothing
    // comparable cannot be written to at all.
    void rowsThatCannotBeFound()
    {
        const auto dialect = MakeDialect(DialectKind::Generic);
        const std::vector<ColumnInfo> cols = {column("blob", ColumnType::Binary, false), column("v", ColumnType::Text)};
        const RowStatements w(*dialect, Placeholders::Question, "t", cols, {"blob"});
        QVERIFY(!w.byKey());
        QCOMPARE(w.identifyingColumns(), std::vector<int>{1});
        const RowStatements none(*dialect, Placeholders::Question, "t", {cols[0]}, {});
        QVERIFY(!none.remove({{ValueKind::Blob, "x"}}));
    }

    // The editor reads its table by the name between double quotes: no name
    // can end the identifier, whatever it holds.
    void editorQueryQuotesTheName()
    {
        QCOMPARE(EditorQuery("EMP"), std::string("SELECT * FROM \"EMP\""));
        QCOMPARE(EditorQuery("x\"; drop table y; --"), std::string("SELECT * FROM \"x\"\"; drop table y; --\""));
        QCOMPARE(EditorQuery("my table"), std::string("SELECT * FROM \"my table\""));
    }
};

QTEST_GUILESS_MAIN(RowsetStatements)
#include "test_rowset_statements.moc"
