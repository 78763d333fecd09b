// A row another user changed or deleted since it was read, settled through
// the real editor page on SQLite and PostgreSQL: the conflict window shows
// the value read, typed and now in the database; each choice does what it
// says to the grid and to the database.

#include "oracle/TableModel.h"
#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QPushButton>

using namespace PageSupport;
using namespace RowWindowsSupport;

namespace {

// A table of three people on one engine, and another user's line to it.
class People : public EngineTable {
public:
    explicit People(const QString& engine) : EngineTable(engine, "people")
    {
        exec("create table " + name() + " (id integer primary key, name text, score integer, note text);"
             "insert into " + name() + " values (1, 'Ann', 10, 'a'), (2, 'Bob', 20, 'b'), (3, 'Cid', 30, 'c')");
    }
};

#define PEOPLE(db)                                                                                 \
    QFETCH(QString, engine);                                                                       \
    if (engine == QLatin1String("postgresql"))                                                     \
        DERVANTA_REQUIRE_PG();                                                                     \
    const People db(engine);

// The grid's rows shown, each as its cells' texts joined by spaces.
QStringList rows(const DataGrid& grid)
{
    QStringList out;
    for (int r = 0; r < grid.model()->rowCount(); ++r) {
        if (grid.Model()->isNewRowPlaceholder(r))
            continue;
        QStringList cells;
        for (int c = 0; c < grid.model()->columnCount(); ++c)
            cells << cellText(grid, r, c);
        out << cells.join(u' ');
    }
    return out;
}

} // namespace

class TestConflictWindow : public PageTest {
    Q_OBJECT

private slots:
    // The three versions side by side, the differences said in words and
    // not by look alone. Keeping on editing (Esc) leaves the typed value in
    // the row and checks the next write against what is there now, so the
    // row writes; Esc in the row then restores the database's values.
    void keepEditingWritesAgainstWhatIsThereNow_data() { addEngines(); }
    void keepEditingWritesAgainstWhatIsThereNow()
    {
        PEOPLE(db);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        db.exec("update " + t + " set name = 'Theirs', score = 11 where id = 1");

        QString focused;
        QStringList reached;
        ConflictCatcher conflicts([&focused, &reached](ConflictWindow*) {
            maybeScreenshot(QStringLiteral("conflict-window"));
            focused = QApplication::focusWidget() ? QApplication::focusWidget()->accessibleName() : QString();
            // Tab goes round every control, each named, and back.
            for (int i = 0; i < 4 && QApplication::focusWidget(); ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                reached << (QApplication::focusWidget() ? QApplication::focusWidget()->accessibleName() : QString());
            }
            return QString(); // Esc
        });
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(conflicts.count(), 1);
        const SeenConflict& seen = conflicts.seen[0];
        QCOMPARE(seen.title, QStringLiteral("Dervanta"));
        QVERIFY2(seen.text.contains(QStringLiteral("Another user changed this row")), qPrintable(seen.text));
        QCOMPARE(seen.buttons, (QStringList{"Keep Editing", "Use Theirs", "Overwrite"}));
        QCOMPARE(seen.defaultButton, QStringLiteral("Keep Editing"));
        QCOMPARE(focused, QStringLiteral("Keep Editing"));
        QCOMPARE(reached, (QStringList{"Use Theirs", "Overwrite", "Values of the row", "Keep Editing"}));
        QCOMPARE(seen.lines.size(), 4);
        const ConflictLine* name = seen.line(QStringLiteral("name"));
        QVERIFY(name);
        QCOMPARE(name->read, QStringLiteral("Ann"));
        QCOMPARE(name->typed, QStringLiteral("Mine"));
        QCOMPARE(name->now, QStringLiteral("Theirs"));
        QCOMPARE(name->changed, QStringLiteral("you and them"));
        QVERIFY(name->typedBold && name->nowBold);
        const ConflictLine* score = seen.line(QStringLiteral("score"));
        QCOMPARE(score->read, QStringLiteral("10"));
        QCOMPARE(score->typed, QString());
        QCOMPARE(score->now, QStringLiteral("11"));
        QCOMPARE(score->changed, QStringLiteral("them"));
        QVERIFY(score->nowBold && !score->typedBold);
        const ConflictLine* note = seen.line(QStringLiteral("note"));
        QCOMPARE(note->changed, QString());
        QVERIFY(!note->nowBold);

        QTRY_COMPARE(grid.currentIndex().row(), 0);
        QVERIFY(grid.Model()->isRowPending(0));
        QCOMPARE(rows(grid).value(0), QStringLiteral("1 Mine 11 a"));
        QCOMPARE(db.value("select name from " + t + " where id = 1"), "Theirs");
        activate(GetForm3());
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(db.value("select name || ' ' || score from " + t + " where id = 1"), "Mine 11");
        QVERIFY(!grid.Model()->isRowPending(0));
        QCOMPARE(conflicts.count(), 1);

        // Esc after a conflict: the values now in the database, not the stale ones read.
        typeIntoCell(grid, 1, 1, QStringLiteral("Mine too"));
        db.exec("update " + t + " set name = 'Theirs too' where id = 2");
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(conflicts.count(), 2);
        QTRY_COMPARE(grid.currentIndex().row(), 1);
        activate(GetForm3());
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!grid.Model()->isRowPending(1));
        QCOMPARE(rows(grid).value(1), QStringLiteral("2 Theirs too 20 b"));
        // Typed again, the row writes: it is checked against those values.
        typeIntoCell(grid, 1, 3, QStringLiteral("noted"));
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(db.value("select name || ' ' || note from " + t + " where id = 2"), "Theirs too noted");
        QCOMPARE(conflicts.count(), 2);
    }

    // Use Theirs drops every typed value and shows the row as the other user
    // left it; the move the user made stands. Chosen by keyboard alone.
    void useTheirsShowsTheirs_data() { addEngines(); }
    void useTheirsShowsTheirs()
    {
        PEOPLE(db);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        typeIntoCell(grid, 0, 3, QStringLiteral("my note"));
        db.exec("update " + t + " set name = 'Theirs' where id = 1");
        ConflictCatcher conflicts([](ConflictWindow*) {
            // From the default button, Tab goes on to Use Theirs; Enter presses it.
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget()->accessibleName() != QLatin1String("Use Theirs"))
                return QStringLiteral("Keep Editing");
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            return QStringLiteral("(pressed)");
        });
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(conflicts.count(), 1);
        QTRY_VERIFY(!grid.Model()->isRowPending(0));
        QCOMPARE(rows(grid).value(0), QStringLiteral("1 Theirs 10 a"));
        QCOMPARE(grid.currentIndex().row(), 1);
        QCOMPARE(db.value("select name || ' ' || note from " + t + " where id = 1"), "Theirs a");
    }

    // Use Theirs takes theirs as they are when it is chosen: a row changed
    // again while the window was up shows its newest values, and a row
    // deleted meanwhile is settled as a deleted row (Discard here), never
    // left showing what is no longer there.
    void useTheirsTakesTheirsAsTheyAreNow_data() { addEngines(); }
    void useTheirsTakesTheirsAsTheyAreNow()
    {
        PEOPLE(db);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        db.exec("update " + t + " set name = 'Theirs' where id = 1");
        {
            ConflictCatcher changed([&db, &t](ConflictWindow*) {
                db.exec("update " + t + " set name = 'Newer', score = 15 where id = 1");
                return QStringLiteral("Use Theirs");
            });
            QTest::keyClick(&grid, Qt::Key_Down);
            QTRY_COMPARE(changed.count(), 1);
            QTRY_COMPARE(rows(grid).value(0), QStringLiteral("1 Newer 15 a"));
            QVERIFY(!grid.Model()->isRowPending(0));
        }

        activate(GetForm3());
        typeIntoCell(grid, 1, 1, QStringLiteral("Mine"));
        db.exec("update " + t + " set name = 'Theirs' where id = 2");
        QStringList answers{QStringLiteral("Use Theirs"), QStringLiteral("Discard")};
        ConflictCatcher deleted([&db, &t, &answers](ConflictWindow*) {
            if (answers.size() == 2)
                db.exec("delete from " + t + " where id = 2");
            return answers.takeFirst();
        });
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(deleted.count(), 2);
        QVERIFY2(deleted.seen[1].text.contains(QStringLiteral("deleted this row")), qPrintable(deleted.seen[1].text));
        QCOMPARE(deleted.seen[1].buttons, (QStringList{"Keep Editing", "Insert as New Row", "Discard"}));
        QTRY_COMPARE(rows(grid), (QStringList{"1 Newer 15 a", "3 Cid 30 c"}));
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QCOMPARE(db.value("select count(*) from " + t), "2");
    }

    // Overwrite writes the typed values over the other user's, and only
    // them; when the row changes once more while the window is up, that
    // write is refused too and the window shows the row anew.
    void overwriteWritesOnlyOverWhatItSaw_data() { addEngines(); }
    void overwriteWritesOnlyOverWhatItSaw()
    {
        PEOPLE(db);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        db.exec("update " + t + " set name = 'Theirs' where id = 1");
        ConflictCatcher conflicts([&db, &t, &conflicts](ConflictWindow*) {
            if (conflicts.count() == 1)
                db.exec("update " + t + " set name = 'Again', score = 12 where id = 1");
            return QStringLiteral("Overwrite");
        });
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(conflicts.count(), 2);
        QTRY_VERIFY(!grid.Model()->isRowPending(0));
        const ConflictLine* again = conflicts.seen[1].line(QStringLiteral("name"));
        QCOMPARE(again->read, QStringLiteral("Theirs"));
        QCOMPARE(again->typed, QStringLiteral("Mine"));
        QCOMPARE(again->now, QStringLiteral("Again"));
        QCOMPARE(conflicts.seen[1].line(QStringLiteral("score"))->now, QStringLiteral("12"));
        QCOMPARE(db.value("select name || ' ' || score from " + t + " where id = 1"), "Mine 12");
        QCOMPARE(rows(grid).value(0), QStringLiteral("1 Mine 12 a"));
        QCOMPARE(grid.currentIndex().row(), 1);
    }

    // A row another user deleted: inserted again with the values read and
    // typed, or discarded from the grid without touching the database.
    void aDeletedRowIsInsertedAgainOrDiscarded_data() { addEngines(); }
    void aDeletedRowIsInsertedAgainOrDiscarded()
    {
        PEOPLE(db);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 1, 1, QStringLiteral("Mine"));
        db.exec("delete from " + t + " where id = 2");
        {
            ConflictCatcher insert([](ConflictWindow*) {
                maybeScreenshot(QStringLiteral("conflict-window-deleted"));
                return QStringLiteral("Insert as New Row");
            });
            QTest::keyClick(&grid, Qt::Key_Down);
            QTRY_COMPARE(insert.count(), 1);
            const SeenConflict& seen = insert.seen[0];
            QVERIFY2(seen.text.contains(QStringLiteral("deleted this row")), qPrintable(seen.text));
            QCOMPARE(seen.buttons, (QStringList{"Keep Editing", "Insert as New Row", "Discard"}));
            QVERIFY(!seen.nowShown);
            QCOMPARE(seen.line(QStringLiteral("name"))->read, QStringLiteral("Bob"));
            QCOMPARE(seen.line(QStringLiteral("name"))->typed, QStringLiteral("Mine"));
        }
        QTRY_COMPARE(db.value("select name || ' ' || score || ' ' || note from " + t + " where id = 2"), "Mine 20 b");
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QCOMPARE(rows(grid), (QStringList{"1 Ann 10 a", "3 Cid 30 c", "2 Mine 20 b"}));
        QCOMPARE(grid.currentIndex().row(), 2);

        activate(GetForm3());
        typeIntoCell(grid, 0, 1, QStringLiteral("Gone"));
        db.exec("delete from " + t + " where id = 1");
        ConflictCatcher discard([](ConflictWindow*) { return QStringLiteral("Discard"); });
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(discard.count(), 1);
        QTRY_COMPARE(rows(grid), (QStringList{"3 Cid 30 c", "2 Mine 20 b"}));
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QCOMPARE(db.value("select count(*) from " + t), "2");
        QCOMPARE(db.value("select count(*) from " + t + " where name = 'Gone'"), "0");
    }

    // Undo writes a row's values back only over the values it wrote: once
    // the row holds another user's value, however the grid came to see it
    // (only at the write, through the conflict window, or read again after
    // a write of another column), the undo is refused and the value stays.
    void undoIsRefusedOnceTheRowChanged_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("how");
        for (const char* engine : {"sqlite", "postgresql"})
            for (const char* how : {"written over", "use theirs", "keep editing, then Esc", "read again after a write"})
                QTest::addRow("%s, %s", engine, how) << QString::fromLatin1(engine) << QString::fromLatin1(how);
    }
    void undoIsRefusedOnceTheRowChanged()
    {
        PEOPLE(db);
        QFETCH(QString, how);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(db.value("select name from " + t + " where id = 1"), "Mine");
        db.exec("update " + t + " set name = 'Theirs' where id = 1");

        if (how == QLatin1String("use theirs") || how == QLatin1String("keep editing, then Esc")) {
            typeIntoCell(grid, 0, 1, QStringLiteral("Second"));
            ConflictCatcher conflicts([&how](ConflictWindow*) {
                return how == QLatin1String("use theirs") ? QStringLiteral("Use Theirs") : QString();
            });
            QTest::keyClick(&grid, Qt::Key_Down);
            QTRY_COMPARE(conflicts.count(), 1);
            activate(GetForm3());
            if (how != QLatin1String("use theirs")) {
                QTRY_VERIFY(grid.Model()->isRowPending(0));
                QTest::keyClick(&grid, Qt::Key_Escape);
            }
            QTRY_VERIFY(!grid.Model()->isRowPending(0));
        } else if (how == QLatin1String("read again after a write")) {
            // Only the column typed is checked, so this write goes through and
            // the row is read again with the other user's name.
            typeIntoCell(grid, 0, 2, QStringLiteral("12"));
            QTest::keyClick(&grid, Qt::Key_Down);
            QCOMPARE(db.value("select score from " + t + " where id = 1"), "12");
            QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(db.value("select score from " + t + " where id = 1"), "10");
        }
        if (how != QLatin1String("written over"))
            QCOMPARE(rows(grid).value(0), QStringLiteral("1 Theirs 10 a"));

        BoxCatcher boxes;
        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.lastText(), QStringLiteral("Change to Row 1 could not be undone: %1.\n\nNothing was written.")
                                       .arg(QString::fromLatin1(RowRefusal::kChangedByOtherUser)));
        QCOMPARE(db.value("select name || ' ' || score from " + t + " where id = 1"), "Theirs 10");
        QCOMPARE(grid.Model()->pendingRow(), -1);
    }

    // A row another user deleted and the user discarded leaves the grid, and
    // the rows below it move up one: an undo still writes the row it changed,
    // never the one that took its place (here one holding the same value).
    void undoFollowsItsRowPastADiscardedOne_data() { addEngines(); }
    void undoFollowsItsRowPastADiscardedOne()
    {
        PEOPLE(db);
        const std::string t = db.name();
        DataGrid& grid = db.open();
        typeIntoCell(grid, 1, 2, QStringLiteral("30"));
        QTest::keyClick(&grid, Qt::Key_Down);
        typeIntoCell(grid, 0, 1, QStringLiteral("Gone"));
        db.exec("delete from " + t + " where id = 1");
        {
            ConflictCatcher discard([](ConflictWindow*) { return QStringLiteral("Discard"); });
            QTest::keyClick(&grid, Qt::Key_Down);
            QTRY_COMPARE(discard.count(), 1);
        }
        QTRY_COMPARE(rows(grid), (QStringList{"2 Bob 30 b", "3 Cid 30 c"}));
        activate(GetForm3());
        BoxCatcher boxes;
        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(boxes.count(), 0);
        const auto score = [&db, &t](int id) {
            return QString::fromStdString(db.value("select score from " + t + " where id = " + std::to_string(id)));
        };
        QCOMPARE(score(2), QStringLiteral("20"));
        QCOMPARE(score(3), QStringLiteral("30"));
        QCOMPARE(rows(grid), (QStringList{"2 Bob 20 b", "3 Cid 30 c"}));
    }

    // Choosing rows to delete leaves a pending row whose write another
    // user's deletion refused; settled while the question is up, it takes
    // a row out of the grid, and still the rows chosen are the rows deleted.
    void deletingRowsSettlesAConflictFirst()
    {
        TestSupport::ScratchSqlite db(R"(
            create table p (id integer primary key, name text);
            insert into p values (1, 'Ann'), (2, 'Bob'), (3, 'Cid');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("p")).DataGrid1;
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        db.exec("delete from p where id = 1");
        grid.selectRow(2);
        ConflictCatcher discard([](ConflictWindow*) { return QStringLiteral("Discard"); });
        BoxCatcher yes([](QMessageBox*) { return QStringLiteral("&Yes"); });
        QTest::keyClick(&grid, Qt::Key_Delete);
        QCOMPARE(yes.count(), 1);
        QCOMPARE(discard.count(), 1);
        QCOMPARE(db.query("select group_concat(name) from p").at(0).at(0), std::optional<std::string>("Bob"));
        QCOMPARE(rows(grid), QStringList{QStringLiteral("2 Bob")});
    }
};

DERVANTA_PAGE_TEST_MAIN(TestConflictWindow)
#include "test_conflict_window.moc"
