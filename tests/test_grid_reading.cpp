// Opening a table that takes a while to read, through the real window: rows
// show before the read ends and can be edited meanwhile (where the engine can
// write beside the read), Stop (and Esc) keeps the rows read, < Back returns
// at once, and a read that fails part way keeps its rows and the program.

#include "oracle/Engine.h"
#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/GridStatusLine.h"
#include "shell/CheckButton.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <unistd.h>

#include <optional>

using namespace PageSupport;
using TestSupport::ScratchSqlite;

namespace {

// A real table whose reading takes a few seconds: every row computes its
// generated column anew when it is read. Under the thread checker every byte
// copied is checked, so a tenth of the work reads as slowly there.
#if defined(__SANITIZE_THREAD__)
#define DERVANTA_SLOW_BYTES "4000"
#else
#define DERVANTA_SLOW_BYTES "40000"
#endif
const char* const kSlow = R"(
    create table slow (id integer primary key, v text,
                       w integer generated always as (length(hex(zeroblob()" DERVANTA_SLOW_BYTES R"( + id % 2)))) virtual);
    insert into slow (id, v) with recursive r(n) as (select 1 union all select n + 1 from r where n < 60000)
        select n, 'row ' || n from r;
)";
constexpr qint64 kSlowRows = 60000;

// The same on PostgreSQL: each row waits a little as the table is read.
const char* const kSlowPg =
    "create table slow (id integer primary key, v text);"
    " insert into slow select n, 'row ' || n from generate_series(1, 20000) n;"
    " create function slow_row(integer) returns boolean language sql volatile as"
    " 'select pg_sleep(0.0002) is not null';"
    " create policy slowly on slow using (slow_row(id));"
    " alter table slow enable row level security; alter table slow force row level security";

} // namespace

class TestGridReading : public PageTest {
    Q_OBJECT

private slots:
    void rowsShowWhileTheRestIsRead()
    {
        ScratchSqlite db(kSlow);
        QElapsedTimer opened;
        opened.start();
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("slow"));
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QVERIFY(model.reading());
        QVERIFY(model.rowCount() > 0 && model.rowCount() < kSlowRows);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("row 1"));
        QVERIFY(grid.statusLine()->isVisible());
        QVERIFY2(grid.statusLine()->text().startsWith(QStringLiteral("Reading rows\u2026 ")),
                 qPrintable(grid.statusLine()->text()));
        maybeScreenshot(QStringLiteral("form3-reading"));

        // The page's own layout does not move: the grid keeps its rectangle.
        const QRect gridBefore = grid.geometry();
        const QRect noteBefore = form3.Label1->geometry();

        // A row shown takes typing at once; Esc first takes the row's typing
        // back, and the read goes on.
        grid.setFocus();
        grid.setCurrentIndex(grid.model()->index(0, 1));
        QTest::keyClick(&grid, Qt::Key_X);
        QVERIFY(grid.indexWidget(grid.currentIndex()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        QCOMPARE(model.pendingRow(), 0);
        QTest::keyClick(&grid, Qt::Key_Escape);
        QCOMPARE(model.pendingRow(), -1);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("row 1"));
        QVERIFY(model.reading());

        // More rows come while the user waits; the scroll range grows.
        const int early = model.rowCount();
        QTRY_VERIFY(model.rowCount() > early);

        // Esc stops: the rows read stay, become editable, and say so.
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!model.reading());
        const int kept = model.rowCount() - 1; // without the new-row placeholder
        QVERIFY(kept < kSlowRows);
        QVERIFY(model.isNewRowPlaceholder(kept));
        QCOMPARE(grid.statusLine()->text(),
                 QStringLiteral("%1 rows shown; reading was stopped.").arg(GridStatusLine::number(kept)));
        QCOMPARE(grid.geometry(), gridBefore);
        QCOMPARE(form3.Label1->geometry(), noteBefore);

        typeIntoCell(grid, 0, 1, QStringLiteral("edited"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(db.query("select v from slow where id = 1")[0][0].value_or(""), std::string("edited"));
        QVERIFY(programEnds().isEmpty());
    }

    // Rows shown are edited (and deleted) while the rest is still read, through
    // a second session. Meanwhile another user deletes a row the read has not
    // reached, and the user moves a row's key to that free place ahead of the
    // read: the row shows once, with its written values. Another user's
    // change to a row not reached yet shows as the read finds it (SQLite reads
    // the table in steps, so the change; PostgreSQL reads one snapshot, so
    // the value before it: a write of it would then meet the conflict check).
    void rowsShownAreEditedWhileTheRestIsRead_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("SQLite") << false;
        QTest::newRow("PostgreSQL") << true;
    }
    void rowsShownAreEditedWhileTheRestIsRead()
    {
        QFETCH(bool, postgres);
        std::optional<ScratchSqlite> file;
        std::optional<TestSupport::ScratchPgRole> role;
        qint64 total = kSlowRows;
        if (postgres) {
            DERVANTA_REQUIRE_PG();
            role.emplace();
            total = 20000;
            role->exec(kSlowPg);
        } else {
            file.emplace(kSlow);
        }
        const auto theirs = [&](const std::string& sql) {
            if (postgres)
                TestSupport::pgExec(sql, TestSupport::PgRole::Superuser);
            else
                file->exec(sql);
        };
        const auto valueOf = [&](const std::string& sql) {
            const TestSupport::Rows rows = postgres ? TestSupport::pgQuery(sql, TestSupport::PgRole::Superuser)
                                                    : file->query(sql);
            return rows.empty() ? std::string("(none)") : rows[0][0].value_or("NULL");
        };
        const std::string table = postgres ? "\"slow\"" : "slow";
        const qint64 freed = total - 500;
        const qint64 changed = total - 1000;

        Form3& form3 = postgres ? startAndOpen(TestSupport::pgDataSource(), QStringLiteral("slow"),
                                               QString::fromStdString(role->name()),
                                               QString::fromStdString(role->password()))
                                : startAndOpen(file->dataSource(), QStringLiteral("slow"));
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QVERIFY(model.reading());

        typeIntoCell(grid, 0, 1, QStringLiteral("edited"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(valueOf("select v from " + table + " where id = 1"), std::string("edited"));
        QCOMPARE(model.pendingRow(), -1);

        theirs("delete from " + table + " where id = " + std::to_string(freed));
        theirs("update " + table + " set v = 'theirs' where id = " + std::to_string(changed));
        typeIntoCell(grid, 1, 0, QString::number(freed));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(valueOf("select v from " + table + " where id = " + std::to_string(freed)), std::string("row 2"));

        // A row deleted meanwhile goes too.
        {
            BoxCatcher yes([](QMessageBox*) { return QStringLiteral("&Yes"); });
            activate(form3);
            grid.setFocus();
            grid.selectRow(2);
            QTest::keyClick(&grid, Qt::Key_Delete);
            QCOMPARE(yes.count(), 1);
        }
        QCOMPARE(valueOf("select count(*) from " + table + " where id = 3"), std::string("0"));
        QCOMPARE(cellText(grid, 2, 0), QStringLiteral("4"));
        QVERIFY2(model.reading(), "the read ended before the edits: make the table slower to read");

        QTRY_VERIFY_WITH_TIMEOUT(!model.reading(), 120000);
        QCOMPARE(model.readState(), TableReader::State::Done);
        QCOMPARE(model.totalRows(), total - 2);
        int shownFreed = 0;
        for (int r = 0; r < model.totalRows(); ++r) {
            const QString id = cellText(grid, r, 0);
            QVERIFY2(id != QStringLiteral("2"), "the row whose key moved still shows under its old key");
            QVERIFY2(id != QStringLiteral("3"), "the row deleted shows again");
            if (id == QString::number(freed)) {
                ++shownFreed;
                QCOMPARE(cellText(grid, r, 1), QStringLiteral("row 2"));
            }
            if (id == QString::number(changed))
                QCOMPARE(cellText(grid, r, 1), postgres ? QStringLiteral("row %1").arg(changed) : QStringLiteral("theirs"));
        }
        QCOMPARE(shownFreed, 1);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("edited"));
        QVERIFY(programEnds().isEmpty());
    }

    // Rows that arrive while a write waits for the server are taken in after
    // it: the stale copy of the key the write moved into is then known and
    // dropped, also when the read reaches it during the write.
    void rowsArrivingDuringAWriteWaitForIt()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        role.exec(kSlowPg);
        role.exec("create function slow_write() returns trigger language plpgsql as"
                  " 'begin perform pg_sleep(5); return new; end';"
                  " create trigger slow_write before update on slow for each row execute function slow_write()");
        Form3& form3 = startAndOpen(TestSupport::pgDataSource(), QStringLiteral("slow"),
                                    QString::fromStdString(role.name()), QString::fromStdString(role.password()));
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QVERIFY(model.reading());
        TestSupport::pgExec("delete from \"slow\" where id = 3000", TestSupport::PgRole::Superuser);
        typeIntoCell(grid, 1, 0, QStringLiteral("3000"));
        QTest::keyClick(&grid, Qt::Key_Down); // the write takes five seconds; the read reaches 3000 meanwhile
        QVERIFY2(model.reading(), "the read ended before the write: make the table slower to read");
        QTRY_VERIFY_WITH_TIMEOUT(!model.reading(), 60000);
        QCOMPARE(model.totalRows(), 19999);
        int shown = 0;
        for (int r = 0; r < model.totalRows(); ++r)
            shown += cellText(grid, r, 0) == QStringLiteral("3000") ? 1 : 0;
        QCOMPARE(shown, 1);
    }

    // Where the read holds the table until it ends (an SQLite table without a
    // rowid is read by one statement), typing waits and says why.
    void editsWaitWhereTheReadHoldsTheTable()
    {
        ScratchSqlite db(std::string(kSlow).replace(std::string(kSlow).find(");"), 2, ") without rowid;"));
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("slow"));
        DataGrid& grid = *form3.DataGrid1;
        QVERIFY(grid.Model()->reading());
        grid.setFocus();
        grid.setCurrentIndex(grid.model()->index(0, 1));
        QTest::keyClick(&grid, Qt::Key_X);
        QVERIFY(!grid.indexWidget(grid.currentIndex()));
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QVERIFY2(grid.statusLine()->text().contains(QStringLiteral("once they are all read")),
                 qPrintable(grid.statusLine()->text()));
        grid.stopReading();
    }

    // The Stop button stops as Esc does; < Back during a read returns at once
    // and the chooser opens the table again.
    void stopButtonAndBackDuringTheRead()
    {
        ScratchSqlite db(kSlow);
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("slow"));
        DataGrid& grid = *form3.DataGrid1;
        QVERIFY(grid.Model()->reading());
        QTest::mouseClick(grid.statusLine()->stopButton(), Qt::LeftButton);
        QVERIFY(!grid.Model()->reading());
        QVERIFY(grid.statusLine()->text().endsWith(QStringLiteral("reading was stopped.")));

        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        chooseAndOpen(QStringLiteral("slow"));
        QVERIFY(grid.Model()->reading());
        QVERIFY(grid.statusLine()->text().startsWith(QStringLiteral("Reading rows")));
        QElapsedTimer back;
        back.start();
        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        QVERIFY2(back.elapsed() < 500, qPrintable(QString::number(back.elapsed())));
        QVERIFY(GetForm2().isVisible());
        QVERIFY(!form3.isVisible());
        chooseAndOpen(QStringLiteral("slow"));
        QVERIFY(form3.isVisible());
        QCOMPARE(cellText(*form3.DataGrid1, 0, 1), QStringLiteral("row 1"));
        QVERIFY(programEnds().isEmpty());
    }

    // The server ends the session in the middle of the read: the rows read
    // stay, the failure is reported with its number and description, and
    // the program goes on.
    void aReadThatFailsPartWayKeepsItsRows()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        // Each row waits a little as the table is read, so the read is
        // still going when the server ends it.
        role.exec(kSlowPg);
        Form3& form3 = startAndOpen(TestSupport::pgDataSource(), QStringLiteral("slow"),
                                    QString::fromStdString(role.name()), QString::fromStdString(role.password()));
        DataGrid& grid = *form3.DataGrid1;
        QVERIFY(grid.Model()->reading());
        BoxCatcher boxes;
        TestSupport::pgExec("select pg_terminate_backend(pid) from pg_stat_activity where usename = '" + role.name()
                                + "' and query like 'copy (%'",
                            TestSupport::PgRole::Superuser);
        QTRY_VERIFY_WITH_TIMEOUT(!grid.Model()->reading(), 15000);
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.lastText().contains(QStringLiteral("terminating connection")), qPrintable(boxes.lastText()));
        const int kept = grid.model()->rowCount() - 1;
        QVERIFY(kept > 0 && kept < 20000);
        QVERIFY(grid.statusLine()->text().endsWith(QStringLiteral("reading failed.")));
        QVERIFY(programEnds().isEmpty());

        // The rows read can be edited: the write logs in again.
        activate(form3);
        typeIntoCell(grid, 0, 1, QStringLiteral("after"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(TestSupport::pgQuery("select v from \"slow\" where id = 1", TestSupport::PgRole::Superuser)
                     .at(0).at(0).value_or(""),
                 std::string("after"));
    }

    // A read that fails before the table has even shown (a small table
    // whose last page is damaged, or whose first is) is told as any other:
    // its number and description, and the status line says how many rows
    // show. Exactly the rows read before the damage stay.
    void aReadThatFailsEarlyIsTold_data()
    {
        QTest::addColumn<int>("page"); // counted from the file's end; 0: the table's first page
        QTest::addColumn<int>("rows");
        QTest::newRow("last page damaged") << 1 << 592;
        QTest::newRow("first page damaged") << 0 << 0;
    }
    void aReadThatFailsEarlyIsTold()
    {
        QFETCH(int, page);
        QFETCH(int, rows);
        ScratchSqlite db("pragma page_size = 4096; create table t (id integer primary key, v text);"
                         " insert into t with recursive n(i) as (select 1 union all select i + 1 from n where i < 600)"
                         " select i, printf('%0100d', i) from n;");
        {
            QFile file(db.path());
            QVERIFY(file.open(QIODevice::ReadWrite));
            // Page 2 is the table's root; the file's last page holds its last rows.
            QVERIFY(file.seek(page == 0 ? 4096 : file.size() - 4096 * page));
            file.write(QByteArray(16, '\xff'));
        }
        BoxCatcher boxes;
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("t"));
        DataGrid& grid = *form3.DataGrid1;
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.lastText().contains(QStringLiteral("Error 11: database disk image is malformed")),
                 qPrintable(boxes.lastText()));
        QCOMPARE(grid.Model()->totalRows(), rows);
        if (rows > 0)
            QCOMPARE(cellText(grid, rows - 1, 0), QString::number(rows));
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("%1 rows shown; reading failed.").arg(rows));
        QVERIFY(programEnds().isEmpty());
    }

    // Stop keeps every row read and no other. The server holds the read
    // just after the first block (1,024 rows) has reached the grid; Stop
    // asks while it waits, so the row it was reading, the 1,025th, is the
    // last one kept.
    void stopKeepsExactlyTheRowsRead()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        const std::string gate = std::to_string(700000 + getpid() % 100000);
        // The notice sends the rows before the held one on their way.
        role.exec("create table slow (id integer primary key, v text);"
                  " insert into slow select n, 'row ' || n from generate_series(1, 3000) n;"
                  " create function held(i integer) returns boolean language plpgsql volatile as $$ begin"
                  " if i = 1025 then raise notice 'held'; perform pg_advisory_lock_shared(" + gate + ");"
                  " perform pg_advisory_unlock_shared(" + gate + "); end if; return true; end $$;"
                  " create policy held on slow using (held(id));"
                  " alter table slow enable row level security; alter table slow force row level security");
        std::unique_ptr<Session> holder =
            OpenSession({TestSupport::pgDataSource().toStdString(), role.name(), role.password()});
        holder->execute("select pg_advisory_lock(" + gate + ")");
        Form3& form3 = startAndOpen(TestSupport::pgDataSource(), QStringLiteral("slow"),
                                    QString::fromStdString(role.name()), QString::fromStdString(role.password()));
        TableModel& model = *form3.DataGrid1->Model();
        QVERIFY(model.reading());
        QCOMPARE(model.rowCount(), 1024);

        // The held row goes on only once Stop waits for the read to end.
        QTimer letGo;
        connect(&letGo, &QTimer::timeout, [&holder, &letGo] {
            if (QThread::currentThread()->loopLevel() > 0) {
                holder.reset();
                letGo.stop();
            }
        });
        letGo.start(5);
        QTest::mouseClick(form3.DataGrid1->statusLine()->stopButton(), Qt::LeftButton);
        QVERIFY(!holder);
        QVERIFY(!model.reading());
        QCOMPARE(model.totalRows(), 1025);
        QCOMPARE(model.rowCount(), 1025 + 1); // and the new-row placeholder
        for (int row : {0, 1023, 1024})
            QCOMPARE(cellText(*form3.DataGrid1, row, 1), QStringLiteral("row %1").arg(row + 1));
        QCOMPARE(form3.DataGrid1->statusLine()->text(), QStringLiteral("1,025 rows shown; reading was stopped."));
    }

    // A read that fails before its first block is full keeps the rows it
    // read, all of them: the failure comes with the 700th row.
    void aReadFailingInItsFirstBlockKeepsItsRows_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }
    void aReadFailingInItsFirstBlockKeepsItsRows()
    {
        QFETCH(bool, postgres);
        if (postgres)
            DERVANTA_REQUIRE_PG();
        // SQLite computes the added column only as a row is read.
        ScratchSqlite lite(postgres ? std::string()
                                    : "create table bad (id integer primary key, v text);"
                                      " insert into bad (id, v) with recursive r(n) as (select 1 union all"
                                      " select n + 1 from r where n < 1000) select n, 'row ' || n from r;"
                                      " alter table bad add column w text generated always as"
                                      " (case when id = 700 then json('not json') end) virtual;");
        std::unique_ptr<TestSupport::ScratchPgRole> role;
        if (postgres) {
            role = std::make_unique<TestSupport::ScratchPgRole>();
            role->exec("create table bad (id integer primary key, v text);"
                       " insert into bad select n, 'row ' || n from generate_series(1, 1000) n;"
                       " create function readable(i integer) returns boolean language plpgsql volatile as $$ begin"
                       " if i = 700 then raise exception 'row 700 cannot be read'; end if; return true; end $$;"
                       " create policy readable on bad using (readable(id));"
                       " alter table bad enable row level security; alter table bad force row level security");
        }
        // Whatever the page says about the failure is answered.
        BoxCatcher boxes;
        Form3& form3 = postgres ? startAndOpen(TestSupport::pgDataSource(), QStringLiteral("bad"),
                                               QString::fromStdString(role->name()), QString::fromStdString(role->password()))
                                : startAndOpen(lite.dataSource(), QStringLiteral("bad"));
        QVERIFY(form3.isVisible());
        TableModel& model = *form3.DataGrid1->Model();
        QTRY_VERIFY(!model.reading());
        QCOMPARE(model.readState(), TableReader::State::Failed);
        QCOMPARE(model.totalRows(), 699);
        QCOMPARE(model.rowCount(), 699 + 1);
        for (int row : {0, 698})
            QCOMPARE(cellText(*form3.DataGrid1, row, 1), QStringLiteral("row %1").arg(row + 1));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridReading)
#include "test_grid_reading.moc"
