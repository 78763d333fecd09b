// The database side of one row write, on a session of each engine, without
// the rowset: the lost-update check (the changed columns must still hold
// what was read), the row read again inside the write's transaction, the
// exactly-one-row rule, and the check of a write whose commit was cut off.

#include "support/RowsetSupport.h"

#include "oracle/Blocking.h"
#include "oracle/RowWrite.h"

#include <QTest>

using namespace RowsetSupport;

namespace {

// A table read as the editor reads it: its columns and rows, and the
// statements that write its rows.
struct ReadTable {
    ReadTable(Session& session, const std::string& table)
    {
        session.query("SELECT * FROM " + Dialect::quoteIdentifier(table), {}, rows);
        statements = std::make_shared<const RowStatements>(session.dialect(), session.placeholders(), table,
                                                           rows.columns(), session.primaryKey(table));
    }
    Snapshot rows;
    std::shared_ptr<const RowStatements> statements;
};

RowStatements::Values edits(std::size_t columns, std::initializer_list<std::pair<int, Value>> typed)
{
    RowStatements::Values values(columns);
    for (const auto& [c, v] : typed)
        values[static_cast<std::size_t>(c)] = v;
    return values;
}

Value text(std::string s) { return {ValueKind::Text, std::move(s)}; }

std::string shown(const std::vector<Value>& row)
{
    std::string out;
    for (const Value& v : row)
        out += (out.empty() ? "" : "|") + (v.isNull() ? std::string("NULL") : v.bytes);
    return out;
}

} // namespace

class TestRowWrite : public QObject {
    Q_OBJECT

private slots:
    // Another user changed a column this write changes: nothing is written,
    // and the refusal carries the row as read, as typed and as it is now.
    // A change to a column this write leaves alone is no conflict, and the
    // row written shows it.
    void aLostUpdateIsRefusedWithTheRowsThreeVersions_data() { addEngineRows(); }
    void aLostUpdateIsRefusedWithTheRowsThreeVersions()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("lost");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + " primary key, a " + db->type(Type::Text) + ", b "
                 + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'a', 'b')");
        const std::unique_ptr<Session> session = OpenSession(db->login);
        const ReadTable read(*session, name);
        RowWrite write;
        write.original = read.rows.row(0);
        write.edits = edits(3, {{1, text("mine")}});

        db->exec("update " + t + " set a = 'theirs'");
        WriteResult result = writeRowOnSession(*session, read.statements, write, StopToken());
        QVERIFY(result.refusal);
        QCOMPARE(result.refusal->why, RowRefusal::Why::ChangedByOther);
        QVERIFY(result.refusal->isConflict());
        QCOMPARE(shown(result.refusal->read), std::string("1|a|b"));
        QCOMPARE(result.refusal->typed.at(1)->bytes, std::string("mine"));
        QCOMPARE(shown(*result.refusal->current), std::string("1|theirs|b"));
        QCOMPARE(db->value("select a from " + t), "theirs");

        db->exec("update " + t + " set a = 'a', b = 'their b'");
        result = writeRowOnSession(*session, read.statements, write, StopToken());
        QVERIFY2(!result.refusal, result.refusal ? result.refusal->text.c_str() : "");
        QCOMPARE(shown(result.stored), std::string("1|mine|their b"));
        QCOMPARE(db->value("select a || '/' || b from " + t), "mine/their b");
    }

    // What a trigger makes of the row in the same transaction is the row
    // given back; a new row's key chosen by the database comes back too.
    void theRowIsReadAgainInTheWritesTransaction_data() { addEngineRows(); }
    void theRowIsReadAgainInTheWritesTransaction()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("again");
        const std::string t = quoted(name);
        const bool pg = db->engine != Engine::Sqlite;
        db->exec("create table " + t + " (k " + (pg ? std::string("serial") : std::string("integer")) + " primary key, a "
                 + db->type(Type::Text) + ", stamp " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " (a) values ('a')");
        if (pg)
            db->exec("create function " + quoted(name + "_fn") + "() returns trigger language plpgsql as $$ begin"
                     " new.stamp := 'by trigger ' || new.a; return new; end $$;"
                     " create trigger stamp before insert or update on " + t
                     + " for each row execute function " + quoted(name + "_fn") + "()");
        else
            db->exec("create trigger stamp after update on " + t + " begin update " + t
                     + " set stamp = 'by trigger ' || new.a where k = new.k; end;"
                       " create trigger stamp2 after insert on " + t + " begin update " + t
                     + " set stamp = 'by trigger ' || new.a where k = new.k; end;");
        const std::unique_ptr<Session> session = OpenSession(db->login);
        const ReadTable read(*session, name);

        RowWrite update;
        update.original = read.rows.row(0);
        update.edits = edits(3, {{1, text("b")}});
        WriteResult result = writeRowOnSession(*session, read.statements, update, StopToken());
        QVERIFY2(!result.refusal, result.refusal ? result.refusal->text.c_str() : "");
        QCOMPARE(shown(result.stored), std::string("1|b|by trigger b"));

        RowWrite insert;
        insert.kind = RowWrite::Kind::Insert;
        insert.edits = edits(3, {{1, text("c")}});
        result = writeRowOnSession(*session, read.statements, insert, StopToken());
        QVERIFY2(!result.refusal, result.refusal ? result.refusal->text.c_str() : "");
        QCOMPARE(shown(result.stored), std::string("2|c|by trigger c"));
    }

    // Without a key, twin rows cannot be told apart: the write would touch
    // both, so it is undone and refused.
    void twinsAreNeverWrittenTogether_data() { addEngineRows(); }
    void twinsAreNeverWrittenTogether()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("twins");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (a " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values ('same'), ('same')");
        const std::unique_ptr<Session> session = OpenSession(db->login);
        const ReadTable read(*session, name);
        RowWrite write;
        write.original = read.rows.row(0);
        write.edits = edits(1, {{0, text("one")}});
        const WriteResult result = writeRowOnSession(*session, read.statements, write, StopToken());
        QVERIFY(result.refusal);
        QCOMPARE(result.refusal->why, RowRefusal::Why::NotTellApart);
        QCOMPARE(db->count(t + " where a = 'same'"), 2LL);
    }

    // A commit cut off: the row read again tells whether the write is in the
    // database, was lost, or met a row deleted meanwhile.
    void aCutOffCommitIsCheckedByTheRow_data() { addEngineRows(); }
    void aCutOffCommitIsCheckedByTheRow()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("cut");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + " primary key, a " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'a'), (2, 'b')");
        const std::unique_ptr<Session> session = OpenSession(db->login);
        const ReadTable read(*session, name);
        RowWrite write;
        write.original = read.rows.row(0);
        write.edits = edits(2, {{1, text("mine")}});

        WriteResult result = checkCutOffWrite(*session, *read.statements, write);
        QVERIFY(result.refusal);
        QCOMPARE(result.refusal->text, std::string(RowRefusal::kCommitLost));

        db->exec("update " + t + " set a = 'mine' where k = 1");
        result = checkCutOffWrite(*session, *read.statements, write);
        QVERIFY2(!result.refusal, result.refusal ? result.refusal->text.c_str() : "");
        QCOMPARE(shown(result.stored), std::string("1|mine"));

        RowWrite other;
        other.original = read.rows.row(1);
        other.edits = edits(2, {{1, text("mine")}});
        db->exec("delete from " + t + " where k = 2");
        result = checkCutOffWrite(*session, *read.statements, other);
        QVERIFY(result.refusal);
        QCOMPARE(result.refusal->why, RowRefusal::Why::DeletedByOther);

        RowWrite insert;
        insert.kind = RowWrite::Kind::Insert;
        insert.edits = edits(2, {{0, Value{ValueKind::Integer, "3"}}, {1, text("new")}});
        QVERIFY(checkCutOffWrite(*session, *read.statements, insert).refusal);
        db->exec("insert into " + t + " values (3, 'new')");
        result = checkCutOffWrite(*session, *read.statements, insert);
        QVERIFY2(!result.refusal, result.refusal ? result.refusal->text.c_str() : "");
        QCOMPARE(shown(result.stored), std::string("3|new"));
    }
};

QTEST_GUILESS_MAIN(TestRowWrite)
#include "test_row_write.moc"
