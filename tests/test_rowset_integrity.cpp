// What a row write must never get wrong, whatever the table does behind the
// grid's back: columns reordered by another session, triggers and rules that
// change or skip the write, types without an equality, foreign keys, and
// tables whose rows cannot be found again.

#include "support/RowsetSupport.h"

#include "oracle/DbError.h"

#include <QSignalSpy>
#include <QTest>

using namespace RowsetSupport;

namespace {

bool isPg(const TestDb& db) { return db.engine != Engine::Sqlite; }

int columnOf(const OpenTable& open, const QString& name)
{
    for (int c = 0; c < open.model->columnCount(); ++c)
        if (open.model->headerData(c, Qt::Horizontal).toString() == name)
            return c;
    return -1;
}

} // namespace

class RowsetIntegrity : public QObject {
    Q_OBJECT

private slots:
    // Another session drops and adds a column back, so the table's order is
    // no longer the order the grid shows; the row read again after a write
    // still puts every value under its own heading.
    void columnsReorderedElsewhereStayUnderTheirHeadings_data() { addEngineRows(); }
    void columnsReorderedElsewhereStayUnderTheirHeadings()
    {
        ROWSET_TEST_DB(db);
        const std::string t = quoted(db->tableName("reorder"));
        db->exec("create table " + t + " (id " + db->type(Type::Int) + " primary key, a " + db->type(Type::Text)
                 + ", b " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'A', 'B')");
        OpenTable open(*db, db->engine == Engine::Sqlite ? "reorder" : t.substr(1, t.size() - 2));
        db->exec("alter table " + t + " drop column a");
        db->exec("alter table " + t + " add column a " + db->type(Type::Text));
        db->exec("update " + t + " set a = 'new A'");

        QVERIFY(open.edit(0, 2, "B2"));
        QString error;
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->value("select b from " + t), "B2");
        QCOMPARE(open.text(0, 1), QStringLiteral("new A"));
        QCOMPARE(open.text(0, 2), QStringLiteral("B2"));
    }

    // Another session drops (or renames) a column after the table was read:
    // writes of the other columns still go through, each to exactly its
    // row, and the user is told once that F5 shows the table as it is now.
    // Typing into the gone column is refused with the reason.
    void aColumnGoneElsewhereBlocksNoOtherWrite_data()
    {
        QTest::addColumn<Engine>("engine");
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<bool>("renamed");
        for (const auto& [name, engine] : {std::pair{"sqlite", Engine::Sqlite}, std::pair{"postgresql", Engine::Postgres},
                                           std::pair{"odbc", Engine::Odbc}}) {
            QTest::addRow("%s, key, dropped", name) << engine << true << false;
            QTest::addRow("%s, no key, dropped", name) << engine << false << false;
            QTest::addRow("%s, key, renamed", name) << engine << true << true;
        }
    }
    void aColumnGoneElsewhereBlocksNoOtherWrite()
    {
        ROWSET_TEST_DB(db);
        QFETCH(bool, keyed);
        QFETCH(bool, renamed);
        const std::string name = db->tableName("gone");
        const std::string t = quoted(name);
        const std::string text = db->type(Type::Text);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + (keyed ? " primary key" : "") + ", a " + text
                 + ", n " + text + ")");
        db->exec("insert into " + t + " values (1, 'a1', 'n1'), (2, 'a2', 'n2'), (3, 'a1', 'n3')");
        OpenTable open(*db, name);
        QSignalSpy notes(open.model.get(), &TableModel::writeNoted);
        db->exec("alter table " + t + (renamed ? " rename column n to m" : " drop column n"));

        QString error;
        QVERIFY(open.edit(0, 1, "A1"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->value("select a from " + t + " where k = 1"), "A1");
        QCOMPARE(db->value("select a from " + t + " where k = 3"), "a1");
        QCOMPARE(notes.size(), 1);
        QVERIFY(notes.at(0).at(1).toBool());
        const QString told = notes.at(0).at(0).toString();
        QVERIFY2(told.contains(QStringLiteral("\"n\"")) && told.contains(QStringLiteral("F5")), qPrintable(told));
        // The gone column keeps what it showed.
        QCOMPARE(open.text(0, 2), QStringLiteral("n1"));

        // Told once; the next writes, a delete and a new row go through too.
        QVERIFY(open.edit(1, 1, "A2"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(db->value("select a from " + t + " where k = 2"), "A2");
        QVERIFY(open.deleteRows({2}, &error));
        QCOMPARE(db->count(t), 2LL);
        const int placeholder = open.model->rowCount() - 1;
        QVERIFY(open.edit(placeholder, 0, "4"));
        QVERIFY(open.edit(placeholder, 1, "a4"));
        QVERIFY2(open.submit(placeholder, &error), qPrintable(error));
        QCOMPARE(db->value("select a from " + t + " where k = 4"), "a4");
        QCOMPARE(notes.size(), 1);

        QVERIFY(open.edit(0, 2, "typed into the gone column"));
        QVERIFY(!open.submit(0, &error));
        QVERIFY2(error.contains(QStringLiteral("no longer in the table")), qPrintable(error));
        QVERIFY(open.model->isRowPending(0));
    }

    // A text holding the character NUL: SQLite stores it whole; PostgreSQL
    // cannot hold it (and drivers would cut it), so it is refused before
    // anything is sent, naming the column, and the row is left as it was.
    void aTextHoldingNulIsKeptWholeOrRefused_data() { addEngineRows(); }
    void aTextHoldingNulIsKeptWholeOrRefused()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("nul");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + " primary key, t " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'before')");
        OpenTable open(*db, name);
        const std::string withNul("left\0right", 10);
        // Pasted exactly into a row, and typed into the new row.
        const std::optional<RowRefusal> exact =
            open.model->storeValue(open.model->index(0, 1), Value{ValueKind::Text, withNul});
        QString error;
        if (db->engine == Engine::Sqlite) {
            QVERIFY(!exact);
            QVERIFY2(open.submit(0, &error), qPrintable(error));
            QCOMPARE(db->value("select hex(t) from " + t + " where k = 1"), "6C656674007269676874");
        }
        const int placeholder = open.model->rowCount() - 1;
        QVERIFY(open.edit(placeholder, 0, "2"));
        const std::optional<RowRefusal> typed =
            open.model->store(open.model->index(placeholder, 1), QString::fromStdString(withNul));
        if (db->engine == Engine::Sqlite) {
            QVERIFY(!typed);
            QVERIFY2(open.submit(placeholder, &error), qPrintable(error));
            QCOMPARE(db->value("select hex(t) from " + t + " where k = 2"), "6C656674007269676874");
            return;
        }
        for (const std::optional<RowRefusal>& why : {exact, typed}) {
            QVERIFY(why);
            QCOMPARE(why->why, RowRefusal::Why::NotStorable);
            const QString text = QString::fromStdString(why->text);
            QVERIFY2(text.contains(QStringLiteral("\"t\"")) && text.contains(QStringLiteral("NUL")), qPrintable(text));
        }
        QVERIFY(!open.model->isRowPending(0));
        // Nor as the first value of a new row: the placeholder stays one.
        open.model->revertRow(placeholder);
        const int rows = open.model->rowCount();
        QVERIFY(open.model->store(open.model->index(placeholder, 1), QString::fromStdString(withNul)));
        QCOMPARE(open.model->rowCount(), rows);
        QVERIFY(open.model->pendingRow() < 0);
        QCOMPARE(db->count(t), 1LL);
        QCOMPARE(db->value("select t from " + t), "before");
        // Nor can anything else send one unseen: the engine refuses it too.
        const std::unique_ptr<Session> session = OpenSession(db->login);
        const Param param{ValueKind::Text, withNul};
        try {
            session->execute("update " + t + " set t = " + Placeholder(session->placeholders(), 1),
                             std::span<const Param>(&param, 1));
            QFAIL("a text holding NUL was sent");
        } catch (const DbError& e) {
            QCOMPARE(e.description(), std::string(Session::kNulInText));
        }
        QCOMPARE(db->value("select t from " + t), "before");
    }

    // What AFTER triggers make of a row is what the grid shows, and the next
    // write of that row is not taken for a conflict.
    void afterTriggersAreShown_data() { addEngineRows(); }
    void afterTriggersAreShown()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("trig");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (id " + db->type(Type::Int) + " primary key, v " + db->type(Type::Text)
                 + ", stamp " + db->type(Type::Int) + " default 0)");
        if (isPg(*db)) {
            const std::string fn = quoted(name + "_fn");
            db->exec("create function " + fn + "() returns trigger language plpgsql as $$ begin update " + t
                     + " set stamp = stamp + 1 where id = new.id; return null; end $$");
            db->exec("create trigger stamp after update of v on " + t + " for each row when (pg_trigger_depth() = 0)"
                     " execute function " + fn + "()");
            db->exec("create trigger stamp_ins after insert on " + t + " for each row execute function " + fn + "()");
        } else {
            db->exec("create trigger stamp after update of v on " + t
                     + " begin update " + t + " set stamp = stamp + 1 where id = new.id; end");
            db->exec("create trigger stamp_ins after insert on " + t
                     + " begin update " + t + " set stamp = stamp + 1 where id = new.id; end");
        }
        db->exec("insert into " + t + " (id, v) values (1, 'a')");
        OpenTable open(*db, name);
        QCOMPARE(open.text(0, 2), QStringLiteral("1"));

        QString error;
        QVERIFY(open.edit(0, 1, "b"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(open.text(0, 2), QStringLiteral("2"));
        QVERIFY(open.edit(0, 1, "c"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(open.text(0, 2), QStringLiteral("3"));
        QCOMPARE(db->value("select v || stamp from " + t + " where id = 1"), "c3");

        // A new row too, its key chosen by nobody but the user here.
        QVERIFY(open.edit(1, 0, "5"));
        QVERIFY(open.edit(1, 1, "e"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(open.text(1, 2), QStringLiteral("1"));
    }

    // A key the database chooses comes back with the new row, which then
    // edits like any other.
    void generatedKeysComeBack_data() { addEngineRows(); }
    void generatedKeysComeBack()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("gen");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (id "
                 + (isPg(*db) ? "integer generated always as identity primary key" : "integer primary key")
                 + ", v " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " (v) values ('first')");
        OpenTable open(*db, name);
        QString error;
        QVERIFY(open.edit(1, 1, "second"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(open.text(1, 0), QStringLiteral("2"));
        QVERIFY(open.edit(1, 1, "second!"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + t + " where id = 2"), "second!");
    }

    // A PostgreSQL rule that does the update elsewhere: the write goes
    // through, and the grid shows what the table itself holds.
    void tablesWithUpdateRulesAreEditable_data() { addEngineRows(); }
    void tablesWithUpdateRulesAreEditable()
    {
        ROWSET_TEST_DB(db);
        if (!isPg(*db))
            QSKIP("rules are PostgreSQL's");
        const std::string name = db->tableName("ruled");
        const std::string t = quoted(name);
        const std::string shadow = quoted(db->tableName("ruled_shadow"));
        db->exec("create table " + t + " (k integer primary key, v text)");
        db->exec("create table " + shadow + " (k integer primary key, v text)");
        db->exec("insert into " + t + " values (1, 'a'); insert into " + shadow + " values (1, 'a')");
        db->exec("create rule redirect as on update to " + t + " do instead update " + shadow
                 + " set v = new.v where k = old.k");
        OpenTable open(*db, name);
        QString error;
        QVERIFY(open.edit(0, 1, "b"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + shadow), "b");
        QCOMPARE(open.text(0, 1), QStringLiteral("a"));
    }

    // json, xml and point have no equality: another user's change to such a
    // cell is still caught, by its text.
    void typesWithoutEqualityAreStillChecked_data() { addEngineRows(); }
    void typesWithoutEqualityAreStillChecked()
    {
        ROWSET_TEST_DB(db);
        if (!isPg(*db))
            QSKIP("these types are PostgreSQL's");
        const std::string name = db->tableName("noeq");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k integer primary key, j json, x xml, p point)");
        db->exec("insert into " + t + " values (1, '{\"a\": 1}', '<a/>', '(1,2)'), (2, '[1]', '<b/>', '(3,4)')");
        OpenTable open(*db, name);
        db->exec("update " + t + " set j = '{\"a\": 9}', x = '<z/>', p = '(9,9)' where k = 1");

        QString error;
        for (const QString& column : {QStringLiteral("j"), QStringLiteral("x"), QStringLiteral("p")}) {
            const int c = columnOf(open, column);
            QVERIFY(open.edit(0, c, column == QLatin1String("j") ? "{\"a\": 2}" : column == QLatin1String("x") ? "<m/>" : "(5,5)"));
            QVERIFY2(!open.submit(0, &error), qPrintable(column));
            QCOMPARE(error, QString::fromLatin1(RowRefusal::kChangedByOtherUser));
            open.model->revertRow(0);
        }
        QCOMPARE(db->value("select j::text || x::text || p::text from " + t + " where k = 1"), "{\"a\": 9}<z/>(9,9)");

        // The row nobody changed writes.
        QVERIFY(open.edit(1, columnOf(open, "j"), "[2]"));
        QVERIFY(open.edit(1, columnOf(open, "p"), "(7,8)"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(db->value("select j::text || p::text from " + t + " where k = 2"), "[2](7,8)");
    }

    void foreignKeysAreEnforced_data() { addEngineRows(); }
    void foreignKeysAreEnforced()
    {
        ROWSET_TEST_DB(db);
        const std::string parent = quoted(db->tableName("parent"));
        const std::string childName = db->tableName("child");
        const std::string child = quoted(childName);
        db->exec("create table " + parent + " (id integer primary key)");
        db->exec("create table " + child + " (id integer primary key, parent_id integer references " + parent + ")");
        db->exec("insert into " + parent + " values (1); insert into " + child + " values (1, 1)");
        OpenTable open(*db, childName);
        QString error;
        QVERIFY(open.edit(0, 1, "99"));
        QVERIFY(!open.submit(0, &error));
        QVERIFY2(error.contains(QStringLiteral("foreign key"), Qt::CaseInsensitive), qPrintable(error));
        QCOMPARE(db->value("select parent_id from " + child), "1");
        QVERIFY(open.model->isRowPending(0));
    }

    // Nothing matched: the row read again tells why.
    void aWriteThatMatchedNothingSaysWhy_data() { addEngineRows(); }
    void aWriteThatMatchedNothingSaysWhy()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("skip");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k integer primary key, v " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'a'), (2, 'b')");
        if (isPg(*db))
            db->exec("create rule skip as on update to " + t + " where old.k = 1 do instead nothing");
        else
            db->exec("create trigger skip before update on " + t + " when old.k = 1 begin select raise(ignore); end");
        OpenTable open(*db, name);

        QString error;
        QVERIFY(open.edit(0, 1, "x"));
        QVERIFY(!open.submit(0, &error));
        QCOMPARE(error, QString::fromLatin1(RowRefusal::kNotApplied));
        QCOMPARE(open.text(0, 1), QStringLiteral("x"));
        open.model->revertRow(0);

        db->exec("delete from " + t + " where k = 2");
        QVERIFY(open.edit(1, 1, "y"));
        QVERIFY(!open.submit(1, &error));
        QCOMPARE(error, QString::fromLatin1(RowRefusal::kDeletedByOtherUser));
    }

    // With no key and nothing comparable no row can be found again: its cells
    // are read-only from the start and say why, instead of refusing only
    // when the row is left.
    void rowsThatCannotBeFoundAreReadOnly_data() { addEngineRows(); }
    void rowsThatCannotBeFoundAreReadOnly()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("blobs");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (b " + db->type(Type::Blob) + ")");
        db->exec("insert into " + t + " values (" + db->blobLiteral() + ")");
        OpenTable open(*db, name);
        const QModelIndex cell = open.model->index(0, 0);
        QVERIFY(!(open.model->flags(cell) & Qt::ItemIsEditable));
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), QString::fromLatin1(RowRefusal::kCannotFind));
        QVERIFY(!open.setNull(0, 0));
        QCOMPARE(open.refusal, QString::fromLatin1(RowRefusal::kCannotFind));
    }

    // The read's "of about N" comes from the database's statistics, where
    // it keeps them; SQLite without statistics gives its largest rowid, a
    // bound it finds at once, and nothing for a table without rowids.
    void estimatesComeFromStatistics_data() { addEngineRows(); }
    void estimatesComeFromStatistics()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("counted");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k integer primary key)");
        db->exec("insert into " + t + " select * from (values (1), (2), (3), (4), (5), (6), (7)) v");
        if (isPg(*db))
            db->exec("analyze " + t);
        OpenTable open(*db, name);
        const std::optional<long long> estimate = open.model->estimatedRows();
        QCOMPARE(estimate.value_or(-1), 7LL);
        if (isPg(*db))
            return;

        db->exec("delete from " + t + " where k = 7");
        db->exec("insert into " + t + " values (100)");
        // A column named _rowid_ is not the rowid.
        db->exec("create table " + quoted(name + "_2") + " (_rowid_ text, v text)");
        db->exec("insert into " + quoted(name + "_2") + " values ('zzz', 'a'), ('yyy', 'b')");
        db->exec("create table " + quoted(name + "_3") + " (k text primary key) without rowid");
        db->exec("insert into " + quoted(name + "_3") + " values ('a')");
        const auto estimateOf = [&db](const std::string& table) {
            OpenTable open(*db, table);
            return open.model->estimatedRows();
        };
        QCOMPARE(estimateOf(name).value_or(-1), 100LL);
        QCOMPARE(estimateOf(name + "_2").value_or(-1), 2LL);
        QVERIFY(!estimateOf(name + "_3"));
        db->exec("analyze");
        QCOMPARE(estimateOf(name).value_or(-1), 7LL);
        QCOMPARE(estimateOf(name + "_3").value_or(-1), 1LL);
    }

    // A write inside a transaction the session already had open must not end
    // that transaction when its own begin is refused.
    void aRefusedBeginRollsBackNothing_data() { addEngineRows(); }
    void aRefusedBeginRollsBackNothing()
    {
        ROWSET_TEST_DB(db);
        if (db->engine == Engine::Postgres)
            QSKIP("PostgreSQL only warns about a nested BEGIN");
        const std::string name = db->tableName("outer");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k integer primary key, v " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'a')");
        OpenTable open(*db, name);
        open.connection->Run([&t](Session& s, const StopToken&) {
            s.begin();
            s.execute("insert into " + t + " values (2, 'outer')", {});
        });
        QVERIFY(open.edit(0, 1, "b"));
        QString error;
        QVERIFY(!open.submit(0, &error));
        open.connection->Run([](Session& s, const StopToken&) { s.commit(); });
        QCOMPARE(db->value("select v from " + t + " where k = 2"), "outer");
        QCOMPARE(db->value("select v from " + t + " where k = 1"), "a");
    }
};

QTEST_GUILESS_MAIN(RowsetIntegrity)
#include "test_rowset_integrity.moc"
