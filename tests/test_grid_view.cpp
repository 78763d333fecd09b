// Sorting by a heading, the filter row, the find bar and reading the table
// again, through the real window on SQLite and PostgreSQL: the order each
// type sorts in, edits through a sorted and filtered view reaching the row
// shown, a refused write holding the view still, and refresh keeping the
// view and the current row.

#include "oracle/TableModel.h"
#include "oracle/ViewJob.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/GridFilterRow.h"
#include "pages/GridFindBar.h"
#include "pages/GridStatusLine.h"
#include "pages/ConflictWindow.h"
#include "support/EngineDb.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include "oracle/Engine.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

using namespace PageSupport;
using RowWindowsSupport::ConflictCatcher;
using RowWindowsSupport::FileDialogAnswer;
using TestSupport::ScratchSqlite;

namespace {

QStringList column(const DataGrid& grid, int c)
{
    QStringList values;
    for (int r = 0; r < grid.model()->rowCount(); ++r)
        if (!grid.Model()->isNewRowPlaceholder(r))
            values << cellText(grid, r, c);
    return values;
}

void clickHeading(DataGrid& grid, int c, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QHeaderView* header = grid.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, modifiers,
                      QPoint(header->sectionViewportPosition(c) + header->sectionSize(c) / 2, header->height() / 2));
}

QString sqliteValue(const ScratchSqlite& db, const std::string& sql)
{
    return QString::fromStdString(db.query(sql).at(0).at(0).value_or("<NULL>"));
}

// Views of tables from this many rows on are worked out on a worker, while it lives.
class WorkerFromRows {
public:
    explicit WorkerFromRows(std::int64_t rows) : before_(ViewJob::workerFromRows()) { ViewJob::setWorkerFromRows(rows); }
    ~WorkerFromRows() { ViewJob::setWorkerFromRows(before_); }

private:
    std::int64_t before_;
};

} // namespace

class TestGridView : public PageTest {
    Q_OBJECT

private slots:
    // Each type in its own order; NULL last ascending and first descending;
    // equal values keep the table's order; a third click gives it back.
    void headingsSortByTheColumnsType()
    {
        ScratchSqlite db(R"(
            create table v (id integer primary key, n numeric, r real, ts timestamp, t text);
            insert into v values (1, 123456789012345678, -1.5, '2024-01-01 10:00:00', 'f');
            insert into v values (2, NULL, 2.25, '2023-12-31 23:59:59.999999', 'é');
            insert into v values (3, 123456789012345677, -10, '2024-01-01 10:00:00.5', 'e');
            insert into v values (4, -3, NULL, NULL, 'E');
            insert into v values (5, 123456789012345677, 0, '2024-01-01 09:00:00', NULL);
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("v")).DataGrid1;
        // One apart, and the same as doubles: only an exact comparison orders them.
        const QString big = QStringLiteral("123456789012345678");
        const QString less = QStringLiteral("123456789012345677");

        clickHeading(grid, 1);
        QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), 1);
        QCOMPARE(grid.horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
        // Exact, whatever the digits; equal values (rows 3 and 5) in table order; NULL last.
        QCOMPARE(column(grid, 0), (QStringList{"4", "3", "5", "1", "2"}));
        clickHeading(grid, 1);
        QCOMPARE(column(grid, 0), (QStringList{"2", "1", "3", "5", "4"}));
        QCOMPARE(column(grid, 1).first(), QStringLiteral("(NULL)"));
        QCOMPARE(column(grid, 1).at(1), big);
        QCOMPARE(column(grid, 1).at(2), less);
        clickHeading(grid, 1);
        QCOMPARE(column(grid, 0), (QStringList{"1", "2", "3", "4", "5"}));
        QVERIFY(!grid.horizontalHeader()->isSortIndicatorShown());

        clickHeading(grid, 2); // reals, negative ones first
        QCOMPARE(column(grid, 0), (QStringList{"3", "1", "5", "2", "4"}));
        grid.sortBy(3, false); // timestamps by time, not by text length
        QCOMPARE(column(grid, 0), (QStringList{"2", "5", "1", "3", "4"}));
        grid.sortBy(4, false); // the locale's collation: é between e and f
        QCOMPARE(column(grid, 4), (QStringList{"e", "E", "é", "f", "(NULL)"}));
        grid.sortBy(-1, false);
        QCOMPARE(column(grid, 0), (QStringList{"1", "2", "3", "4", "5"}));
    }

    // A heading's tool tip says the type, the key, NOT NULL, the default, that
    // the database fills the column, and the column's comment.
    void headingTipsSayWhatTheCatalogueKnows()
    {
        ScratchSqlite db("create table h (id integer primary key, name text not null, n integer default 5, note text)");
        TableModel& lite = *startAndOpen(db.dataSource(), QStringLiteral("h")).DataGrid1->Model();
        const auto tip = [](const TableModel& model, int c) {
            return model.headerData(c, Qt::Horizontal, Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(lite, 0), QStringLiteral("INTEGER\nPrimary key\nFilled by the database when left empty"));
        QCOMPARE(tip(lite, 1), QStringLiteral("TEXT\nNOT NULL"));
        QCOMPARE(tip(lite, 2), QStringLiteral("INTEGER\nDefault: 5"));
        QCOMPARE(tip(lite, 3), QStringLiteral("TEXT"));

        if (!TestSupport::pgLogin())
            return;
        resetPages();
        TestSupport::ScratchPgRole role;
        role.exec("create table h (id integer generated always as identity, s serial, a integer, b integer,"
                  " name text not null default 'x', primary key (a, b));"
                  " comment on column h.name is 'What the row is called'");
        TableModel& pg = *startAndOpen(TestSupport::pgDataSource(), QStringLiteral("h"),
                                       QString::fromStdString(role.name()), QString::fromStdString(role.password()))
                              .DataGrid1->Model();
        QCOMPARE(tip(pg, 0), QStringLiteral("integer\nFilled by the database when left empty\nNOT NULL"));
        QCOMPARE(tip(pg, 1), QStringLiteral("integer\nFilled by the database when left empty\nNOT NULL"));
        QCOMPARE(tip(pg, 2), QStringLiteral("integer\nPart of the primary key\nNOT NULL"));
        QCOMPARE(tip(pg, 4), QStringLiteral("text\nNOT NULL\nDefault: 'x'::text\nWhat the row is called"));
    }

    // PostgreSQL's own: NaN after every number, instants with a time zone.
    void postgresNaNAndTimeZones()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        role.exec("create table z (id integer primary key, r double precision, tz timestamptz, d numeric(40,2));"
                  " insert into z values (1, 'NaN', '2024-01-01 10:00:00+02', 1.5),"
                  " (2, -1e300, '2024-01-01 09:00:00+00', -0.25), (3, 'Infinity', null, 99999999999999999999999999999999999999.99),"
                  " (4, null, '2024-01-01 08:30:00+00', null), (5, 7, '2023-12-31 23:00:00-05', 99999999999999999999999999999999999999.98)");
        DataGrid& grid = *startAndOpen(TestSupport::pgDataSource(), QStringLiteral("z"),
                                       QString::fromStdString(role.name()), QString::fromStdString(role.password()))
                              .DataGrid1;
        grid.sortBy(1, false);
        QCOMPARE(column(grid, 0), (QStringList{"2", "5", "3", "1", "4"}));
        // 08:00 UTC, 08:30 UTC, 09:00 UTC; 2023-12-31 23:00-05 is 04:00 UTC on the 1st.
        grid.sortBy(2, false);
        QCOMPARE(column(grid, 0), (QStringList{"5", "1", "4", "2", "3"}));
        grid.sortBy(3, true);
        QCOMPARE(column(grid, 0), (QStringList{"4", "3", "5", "1", "2"}));
    }

    // An edit in a sorted, filtered view writes the row it shows; a refused
    // write holds the view still: another user's change is settled in the
    // conflict window, any other refusal offers to go back or discard.
    void editsReachTheRowShown()
    {
        ScratchSqlite db(R"(
            create table p (id integer primary key, name text check (name <> 'Bad'), score integer);
            insert into p values (1, 'Ann', 30), (2, 'Bob', 10), (3, 'Cid', 20), (4, 'Dee', 40), (5, 'Eve', 25);
        )");
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("p"));
        DataGrid& grid = *form3.DataGrid1;
        grid.sortBy(2, true); // 40 Dee, 30 Ann, 25 Eve, 20 Cid, 10 Bob
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!grid.filterRow()->isHidden());
        // The filter row lies between the headings and the rows.
        QTRY_COMPARE(grid.filterRow()->geometry().top(), grid.horizontalHeader()->geometry().bottom() + 1);
        QCOMPARE(grid.viewport()->geometry().top(), grid.filterRow()->geometry().bottom() + 1);
        maybeScreenshot(QStringLiteral("form3-filter-row"));
        typeFilter(grid, 2, QStringLiteral("<35"));
        QCOMPARE(column(grid, 1), (QStringList{"Ann", "Eve", "Cid", "Bob"}));
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("4 of 5 rows"));

        typeIntoCell(grid, 1, 1, QStringLiteral("Eva"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(sqliteValue(db, "select group_concat(name, ',') from (select name from p order by id)"),
                 QStringLiteral("Ann,Bob,Cid,Dee,Eva"));

        // Another user changes the row; the write is refused, and so is the
        // view change while the user keeps on editing.
        typeIntoCell(grid, 0, 1, QStringLiteral("Anna"));
        db.exec("update p set name = 'Theirs' where id = 1");
        {
            ConflictCatcher keep([](ConflictWindow*) { return QStringLiteral("Keep Editing"); });
            grid.sortBy(1, false);
            QCOMPARE(keep.count(), 1);
            QCOMPARE(keep.seen[0].line(QStringLiteral("name"))->now, QStringLiteral("Theirs"));
        }
        QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), 2);
        QCOMPARE(column(grid, 1).first(), QStringLiteral("Anna"));
        QVERIFY(grid.Model()->isRowPending(0));
        // A value the database refuses holds the view still as well.
        activate(form3);
        typeIntoCell(grid, 0, 1, QStringLiteral("Bad"));
        {
            BoxCatcher back([](QMessageBox*) { return QStringLiteral("Go Back to the Row"); });
            grid.sortBy(1, false);
            QCOMPARE(back.count(), 1);
            QVERIFY2(back.lastText().contains(QStringLiteral("CHECK constraint")), qPrintable(back.lastText()));
        }
        QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), 2);
        QCOMPARE(column(grid, 1).first(), QStringLiteral("Bad"));
        QVERIFY(grid.Model()->isRowPending(0));
        {
            BoxCatcher discard([](QMessageBox*) { return QStringLiteral("Discard Changes"); });
            clickHeading(grid, 1);
            QCOMPARE(discard.count(), 1);
        }
        activate(form3); // after the message boxes
        // Discarding gives back the values the row holds now: the other user's.
        QCOMPARE(column(grid, 1), (QStringList{"Bob", "Cid", "Eva", "Theirs"}));
        QCOMPARE(sqliteValue(db, "select name from p where id = 1"), QStringLiteral("Theirs"));

        // A value the column's type cannot read turns the box red and filters nothing.
        typeFilter(grid, 2, QStringLiteral(">abc"));
        QVERIFY(grid.filterRow()->box(2)->toolTip().contains(QStringLiteral("not a number")));
        QCOMPARE(grid.model()->rowCount(), 6);
        // is null / is not null, and plain text ignoring case.
        typeFilter(grid, 2, QStringLiteral("is not null"));
        QCOMPARE(grid.model()->rowCount(), 6);
        typeFilter(grid, 1, QStringLiteral("E"));
        QCOMPARE(column(grid, 1), (QStringList{"Dee", "Eva", "Theirs"}));
        // Esc in the row clears it; Ctrl+Shift+F hides it.
        QTest::keyClick(grid.filterRow()->box(1), Qt::Key_Escape);
        QTRY_COMPARE(grid.model()->rowCount(), 6);
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(grid.filterRow()->isHidden());
        QVERIFY(programEnds().isEmpty());
    }

    void findMovesThroughTheCellsShown_data()
    {
        QTest::addColumn<bool>("onWorker");
        QTest::newRow("at once") << false;
        QTest::newRow("on a worker") << true;
    }
    void findMovesThroughTheCellsShown()
    {
        QFETCH(bool, onWorker);
        const WorkerFromRows worker(onWorker ? 1 : ViewJob::workerFromRows());
        ScratchSqlite db(R"(
            create table f (id integer primary key, a text, b text);
            insert into f values (1, 'apple', 'Pear'), (2, 'plum', 'apple pie'), (3, 'APPLE', 'fig');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("f")).DataGrid1;
        grid.setCurrentIndex(grid.model()->index(0, 0));
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier);
        GridFindBar& bar = *grid.findBar();
        QVERIFY(bar.isVisible());
        QCOMPARE(QApplication::focusWidget(), bar.textBox());
        QTest::keyClicks(bar.textBox(), QStringLiteral("apple"));
        maybeScreenshot(QStringLiteral("form3-find-bar"));
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(0, 1)); // the cell after the current one
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(1, 2)); // "apple pie"
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(2, 1)); // case ignored
        QCOMPARE(bar.resultLabel()->text(), QString());
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(0, 1));
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("Wrapped to the top"));
        QTest::keyClick(bar.textBox(), Qt::Key_F3, Qt::ShiftModifier);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(2, 1));
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("Wrapped to the bottom"));

        bar.textBox()->setText(QStringLiteral("grape"));
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("No match"));
        QCOMPARE(grid.currentIndex(), grid.model()->index(2, 1));
        QTest::keyClick(bar.textBox(), Qt::Key_Escape);
        QVERIFY(!bar.isVisible());
    }

    // A search over thousands of rows looks at whole runs of values at once:
    // a text in any case, one in a value too big to be kept with the others,
    // and none made of the end of one value and the start of the next.
    void findLooksIntoEveryValueOfALongTable()
    {
        ScratchSqlite db(R"(
            create table h (id integer primary key, a text, b text);
            insert into h select n, 'hay ' || n, 'straw' from (with recursive r(n) as
                (select 1 union all select n + 1 from r where n < 3000) select n from r);
            update h set a = 'xNeEdLex' where id = 1500;
            update h set a = 'xx nee' where id = 2100;
            update h set a = 'dle xx' where id = 2101;
            update h set b = replace(hex(zeroblob(1000000)), '00', 'zz') || 'NEEDLE' where id = 2500;
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("h")).DataGrid1;
        QTRY_VERIFY(!grid.Model()->reading());
        grid.setCurrentIndex(grid.model()->index(0, 0));
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier);
        GridFindBar& bar = *grid.findBar();
        QTest::keyClicks(bar.textBox(), QStringLiteral("needle"));
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(1499, 1));
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(2499, 2));
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.currentIndex(), grid.model()->index(1499, 1));
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("Wrapped to the top"));
    }

    // Selecting cells says how many hold a value and, for numbers, their
    // exact sum, least and greatest; Ctrl+G goes to a row by its number; a
    // cell's value becomes its column's filter, to keep it or to leave it out.
    void selectionCountsGoToRowAndFilterByValue()
    {
        ScratchSqlite db(R"(
            create table m (id integer primary key, d numeric, t text);
            insert into m values (1, '0.1', 'red'), (2, '0.2', 'blue'), (3, NULL, 'red'),
                                 (4, '1234567890123456789', NULL), (5, '-7', 'green');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("m")).DataGrid1;
        grid.setFocus();
        grid.setCurrentIndex(grid.model()->index(0, 1));
        QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
        QTRY_COMPARE(grid.statusLine()->text(),
                     QStringLiteral("Count: 3   Sum: 1234567890123456789.3   Min: 0.1   Max: 1234567890123456789"));
        QTest::keyClick(&grid, Qt::Key_Right, Qt::ShiftModifier); // the texts too: counted, not summed
        QTRY_COMPARE(grid.statusLine()->text(),
                     QStringLiteral("Count: 6   Sum: 1234567890123456789.3   Min: 0.1   Max: 1234567890123456789"));
        maybeScreenshot(QStringLiteral("form3-selection-summary"));
        grid.setCurrentIndex(grid.model()->index(4, 1));
        QTRY_VERIFY(grid.statusLine()->text().isEmpty());

        QTimer::singleShot(0, this, [] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->labelText(), QStringLiteral("Row number (1 to 5):"));
            maybeScreenshot(QStringLiteral("form3-go-to-row"));
            dialog->setIntValue(2);
            dialog->accept();
        });
        QTest::keyClick(&grid, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(grid.currentIndex(), grid.model()->index(1, 1));

        const auto action = [&grid](const QString& text) {
            for (QAction* a : grid.actions())
                if (a->text() == text)
                    return a;
            return static_cast<QAction*>(nullptr);
        };
        grid.setCurrentIndex(grid.model()->index(0, 2)); // red
        action(QStringLiteral("Filter by This Value"))->trigger();
        QTRY_COMPARE(column(grid, 0), (QStringList{"1", "3"}));
        QCOMPARE(grid.filterRow()->text(2), QStringLiteral("=red"));
        grid.setCurrentIndex(grid.model()->index(0, 2));
        action(QStringLiteral("Exclude This Value"))->trigger();
        QTRY_COMPARE(column(grid, 0), (QStringList{"2", "5"}));
        QTest::keyClick(grid.filterRow()->box(2), Qt::Key_Escape);
        QTRY_COMPARE(column(grid, 0), (QStringList{"1", "2", "3", "4", "5"}));
        grid.setCurrentIndex(grid.model()->index(3, 2)); // NULL
        action(QStringLiteral("Filter by This Value"))->trigger();
        QTRY_COMPARE(column(grid, 0), (QStringList{"4"}));
        QCOMPARE(grid.filterRow()->text(2), QStringLiteral("is null"));
    }

    // Export writes the rows shown, in their order, with NULL apart from the
    // empty text, quotes, commas and line breaks kept, numbers exact (a text
    // kept in a number column stays a text), binary in base64; CSV or JSON by
    // the file's ending (TSV too).
    void exportWritesTheRowsShown()
    {
        ScratchSqlite db(R"(
            create table x (id integer primary key, name text, amount numeric, data blob);
            insert into x values (1, 'plain', 1.50, x'00ff'), (2, '', 'n/a', NULL), (3, NULL, -7, NULL),
                                 (4, 'say "hi", then
go', 12345678901234567, NULL);
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("x")).DataGrid1;
        grid.sortBy(0, true);
        QTRY_COMPARE(column(grid, 0), (QStringList{"4", "3", "2", "1"}));
        QTemporaryDir dir;
        // A message (say, "already exists") would be a failure; caught, it does not hang the test.
        BoxCatcher none;
        // Names that start alike would make the file dialog offer one for the other as it is typed.
        const auto exportTo = [&grid](const QString& path, std::optional<QString> nullText = std::nullopt) {
            FileDialogAnswer answer(path, nullText);
            for (QAction* a : grid.actions())
                if (a->text() == QStringLiteral("Export Rows\u2026"))
                    a->trigger();
            QVERIFY(answer.answered());
            QCOMPARE(answer.title, QStringLiteral("Export Rows"));
        };
        const auto contents = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
        };
        exportTo(dir.filePath(QStringLiteral("a.csv")));
        QCOMPARE(contents(dir.filePath(QStringLiteral("a.csv"))),
                 QByteArray("id,name,amount,data\r\n"
                            "4,\"say \"\"hi\"\", then\ngo\",12345678901234567,\r\n"
                            "3,,-7,\r\n"
                            "2,\"\",n/a,\r\n"
                            "1,plain,1.5,AP8=\r\n"));
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("4 rows exported to a.csv."));
        exportTo(dir.filePath(QStringLiteral("b.json")));
        QCOMPARE(contents(dir.filePath(QStringLiteral("b.json"))),
                 QByteArray("[\n{\"id\":4,\"name\":\"say \\\"hi\\\", then\\ngo\",\"amount\":12345678901234567,\"data\":null},\n"
                            "{\"id\":3,\"name\":null,\"amount\":-7,\"data\":null},\n"
                            "{\"id\":2,\"name\":\"\",\"amount\":\"n/a\",\"data\":null},\n"
                            "{\"id\":1,\"name\":\"plain\",\"amount\":1.5,\"data\":\"AP8=\"}\n]\n"));
        exportTo(dir.filePath(QStringLiteral("c.tsv")));
        QCOMPARE(contents(dir.filePath(QStringLiteral("c.tsv"))),
                 QByteArray("id\tname\tamount\tdata\n"
                            "4\tsay \"hi\", then\\ngo\t12345678901234567\t\\N\n"
                            "3\t\\N\t-7\t\\N\n"
                            "2\t\tn/a\t\\N\n"
                            "1\tplain\t1.5\tAP8=\n"));
        // NULL as a text of the user's: quoted where it must be, the empty text still "".
        exportTo(dir.filePath(QStringLiteral("d.csv")), QStringLiteral("N,A"));
        QCOMPARE(contents(dir.filePath(QStringLiteral("d.csv"))),
                 QByteArray("id,name,amount,data\r\n"
                            "4,\"say \"\"hi\"\", then\ngo\",12345678901234567,\"N,A\"\r\n"
                            "3,\"N,A\",-7,\"N,A\"\r\n"
                            "2,\"\",n/a,\"N,A\"\r\n"
                            "1,plain,1.5,AP8=\r\n"));
        // Only the files' own names are left: the copies they were written to went.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"a.csv", "b.json", "c.tsv", "d.csv"}));
        QCOMPARE(none.count(), 0);
    }

    // F5 reads the table again: another user's change shows, and the sort,
    // the filter, the column widths and the current row stay; also when the
    // view is worked out on a worker and the current row is placed after it.
    void refreshKeepsTheViewAndTheRow_data()
    {
        QTest::addColumn<bool>("onWorker");
        QTest::newRow("at once") << false;
        QTest::newRow("on a worker") << true;
    }
    void refreshKeepsTheViewAndTheRow()
    {
        QFETCH(bool, onWorker);
        const WorkerFromRows worker(onWorker ? 1 : ViewJob::workerFromRows());
        ScratchSqlite db(R"(
            create table r (id integer primary key, name text, n integer);
            insert into r values (1, 'one', 1), (2, 'two', 2), (3, 'three', 3), (4, 'four', 4);
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("r")).DataGrid1;
        grid.sortBy(2, true);
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        typeFilter(grid, 1, QStringLiteral("o"));
        QTRY_COMPARE(column(grid, 1), (QStringList{"four", "two", "one"}));
        grid.setColumnWidth(1, 177);
        grid.setFocus();
        grid.setCurrentIndex(grid.model()->index(1, 1)); // two
        db.exec("update r set name = 'TWO', n = 5 where id = 2; insert into r values (5, 'on top', 9)");

        QTest::keyClick(&grid, Qt::Key_F5);
        QTRY_VERIFY(!grid.Model()->reading());
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(column(grid, 1), (QStringList{"on top", "TWO", "four", "one"}));
        QCOMPARE(grid.columnWidth(1), 177);
        QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), 2);
        QCOMPARE(grid.filterRow()->text(1), QStringLiteral("o"));
        QCOMPARE(cellText(grid, grid.currentIndex().row(), 0), QStringLiteral("2"));
        QCOMPARE(grid.currentIndex().column(), 1);
    }

    // A large table is sorted and filtered on a worker: the window goes on
    // answering and says what it does, with Stop; Esc keeps the view as it
    // was; a second request replaces the first; typing waits for the view.
    void sortAndFilterOnAWorkerKeepTheWindowAnswering()
    {
        const WorkerFromRows worker(100);
        ScratchSqlite db("create table s (id integer primary key, t text);"
                         " insert into s with recursive n(i) as (select 1 union all select i + 1 from n where i < 500)"
                         " select i, printf('%03d', (i * 7) % 500) from n;");
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("s"));
        DataGrid& grid = *form3.DataGrid1;
        activate(form3);
        // The worker holds on until the test lets it go or the job is stopped.
        std::atomic<bool> release{false};
        std::atomic<int> started{0};
        std::atomic<int> stopped{0};
        ViewJob::setStartHook([&release, &started, &stopped](const std::atomic<bool>& stop) {
            ++started;
            while (!release.load() && !stop.load())
                QThread::msleep(1);
            if (stop.load())
                ++stopped;
        });
        const auto noHook = qScopeGuard([] { ViewJob::setStartHook({}); });
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(10);

        clickHeading(grid, 1);
        QTRY_COMPARE(started.load(), 1);
        QTest::qWait(200);
        QVERIFY2(ticks > 5, qPrintable(QString::number(ticks)));
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("Sorting\u2026"));
        QVERIFY(grid.statusLine()->stopButton()->isVisible());
        QCOMPARE(grid.Model()->sortOrder().column, -1);
        // Typing waits for the view; the rows shown stay as they were.
        grid.setFocus();
        grid.setCurrentIndex(grid.model()->index(0, 1));
        QTest::keyClick(&grid, Qt::Key_F2);
        QVERIFY(!qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QVERIFY2(grid.statusLine()->text().endsWith(QStringLiteral("once they are in their new order (or after Stop).")),
                 qPrintable(grid.statusLine()->text()));
        QCOMPARE(cellText(grid, 0, 0), QStringLiteral("1"));

        // Esc: the view stays as it was, also when the worker then ends.
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!grid.Model()->viewBusy());
        QCOMPARE(stopped.load(), 1);
        QVERIFY2(!grid.statusLine()->text().contains(QStringLiteral("Sorting")), qPrintable(grid.statusLine()->text()));
        release = true;
        QTest::qWait(100);
        QCOMPARE(grid.Model()->sortOrder().column, -1);
        QCOMPARE(cellText(grid, 0, 0), QStringLiteral("1"));
        QVERIFY(!grid.horizontalHeader()->isSortIndicatorShown());

        // Ascending asked, then descending before the first came back: the second holds.
        release = false;
        clickHeading(grid, 1);
        QTRY_COMPARE(started.load(), 2);
        clickHeading(grid, 1);
        QTRY_COMPARE(started.load(), 3);
        QCOMPARE(stopped.load(), 2);
        QCOMPARE(grid.Model()->sortOrder().column, -1);
        release = true;
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.Model()->sortOrder().column, 1);
        QVERIFY(grid.Model()->sortOrder().descending);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("499"));
        QCOMPARE(grid.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        QVERIFY2(!grid.statusLine()->text().contains(QStringLiteral("Sorting")), qPrintable(grid.statusLine()->text()));

        // The filter row's boxes say "Filtering…" while they wait; the count follows.
        release = false;
        grid.toggleFilterRow();
        QLineEdit* box = grid.filterRow()->box(1);
        QTest::keyClicks(box, QStringLiteral("49"));
        QTRY_COMPARE(grid.statusLine()->text(), QStringLiteral("Filtering\u2026"));
        QCOMPARE(grid.Model()->shownRows(), 500);
        release = true;
        QTRY_VERIFY(grid.Model()->isFiltered());
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("15 of 500 rows"));
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("499"));

        // A row deleted meanwhile (from the details window, say) ends the
        // job first: the worker never reads rows that are changing.
        release = false;
        clickHeading(grid, 1);
        QTRY_COMPARE(started.load(), 5);
        QVERIFY(grid.Model()->deleteRows({0}).empty());
        QVERIFY(!grid.Model()->viewBusy());
        QCOMPARE(stopped.load(), 3);
        QCOMPARE(db.query("select count(*) from s").at(0).at(0), std::optional<std::string>("499"));
        QCOMPARE(grid.Model()->shownRows(), 14);

        // Finding: "Finding…" with Stop; Stop leaves the current cell where it was.
        grid.setCurrentIndex(grid.model()->index(0, 0));
        grid.openFind();
        GridFindBar& bar = *grid.findBar();
        QTest::keyClicks(bar.textBox(), QStringLiteral("499"));
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_COMPARE(started.load(), 6);
        QVERIFY2(grid.statusLine()->text().startsWith(QStringLiteral("Finding\u2026")), qPrintable(grid.statusLine()->text()));
        QTest::mouseClick(grid.statusLine()->stopButton(), Qt::LeftButton);
        QVERIFY(!grid.Model()->viewBusy());
        QCOMPARE(stopped.load(), 4);
        release = true;
        QTest::qWait(100);
        QCOMPARE(grid.currentIndex(), grid.model()->index(0, 0));
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(cellText(grid, grid.currentIndex().row(), grid.currentIndex().column()), QStringLiteral("499"));
        QVERIFY2(!grid.statusLine()->text().contains(QStringLiteral("Finding")), qPrintable(grid.statusLine()->text()));
        release = false;

        // A value typed (pasted, say) while a find reads what is typed ends the find first.
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_COMPARE(started.load(), 8);
        QVERIFY(!grid.Model()->store(grid.model()->index(0, 1), QStringLiteral("typed")));
        QVERIFY(!grid.Model()->viewBusy());
        QCOMPARE(stopped.load(), 5);
        grid.Model()->revertRow(0);

        // A sort asked for while a find is on its way replaces it, and
        // shows as any view does.
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTRY_COMPARE(started.load(), 9);
        clickHeading(grid, 1); // descending → the table's order
        QTRY_COMPARE(started.load(), 10);
        release = true;
        QTRY_VERIFY(!grid.Model()->viewBusy());
        QCOMPARE(grid.Model()->sortOrder().column, -1);
        QVERIFY(!grid.horizontalHeader()->isSortIndicatorShown());

        // No sort and no filter: nothing to work out, and the line does not
        // go on saying it is busy.
        grid.toggleFilterRow();
        QVERIFY(!grid.Model()->viewBusy());
        QVERIFY(!grid.Model()->isFiltered());
        QVERIFY2(!grid.statusLine()->text().contains(QStringLiteral("Filtering")), qPrintable(grid.statusLine()->text()));
    }

    // A date the calendar does not have is no date to compare with: the
    // box says so and filters nothing (it is not read as the days after).
    void filterDatesMustExist()
    {
        ScratchSqlite db(R"(
            create table d (id integer primary key, day date);
            insert into d values (1, '2024-02-29'), (2, '2024-03-01'), (3, '2026-03-02');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("d")).DataGrid1;
        grid.toggleFilterRow();
        QLineEdit* box = grid.filterRow()->box(1);
        for (const QString& never : {QStringLiteral(">2026-02-30"), QStringLiteral(">2023-02-29"),
                                     QStringLiteral("=2024-04-31 10:00"), QStringLiteral("<1900-02-29")}) {
            box->selectAll();
            QTest::keyClicks(box, never);
            QTRY_VERIFY2(box->toolTip().contains(QStringLiteral("is not a date")), qPrintable(never));
            QCOMPARE(grid.Model()->shownRows(), 3);
        }
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral(">2024-02-29"));
        QTRY_COMPARE(grid.Model()->shownRows(), 2);
        QVERIFY(box->toolTip().isEmpty());
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("<=2000-02-29"));
        QTRY_COMPARE(grid.Model()->shownRows(), 0);
        QVERIFY(box->toolTip().isEmpty());
    }

    // A filter typed just before the row is left, whose moment comes while
    // that row's write waits for a row locked by another session: the
    // filter waits for the write (never a second call on the one session
    // meanwhile), and applies once it is done.
    void aFilterTypedDuringAWriteWaitsForIt()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        role.exec("create table w (id integer primary key, v text); insert into w values (1, 'a'), (2, 'b'), (3, 'c')");
        const LoginParts login{TestSupport::pgDataSource().toStdString(), role.name(), role.password()};
        DataGrid& grid = *startAndOpen(QString::fromStdString(login.dataSource), QStringLiteral("w"),
                                       QString::fromStdString(role.name()), QString::fromStdString(role.password()))
                              .DataGrid1;
        const std::unique_ptr<Session> holder = OpenSession(login);
        holder->begin();
        holder->execute("select * from w where id = 1 for update");
        BoxCatcher boxes;
        typeIntoCell(grid, 0, 1, QStringLiteral("mine"));
        grid.toggleFilterRow();
        QLineEdit* box = grid.filterRow()->box(1);
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("mine"));
        // The lock goes a while after the filter's moment has come.
        QTimer::singleShot(800, [&holder] { holder->rollback(); });
        grid.setCurrentIndex(grid.model()->index(1, 1));
        QTRY_VERIFY(grid.Model()->pendingRow() < 0);
        QCOMPARE(TestSupport::pgQuery("select v from w where id = 1", TestSupport::PgRole::Superuser).at(0).at(0),
                 std::optional<std::string>("mine"));
        QTRY_VERIFY(grid.Model()->isFiltered());
        QCOMPARE(grid.Model()->shownRows(), 1);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("mine"));
        QVERIFY2(boxes.count() == 0, qPrintable(boxes.lastText()));
    }

    // Through the window: a click sorts by one column, Shift+click adds the
    // next (again turns its direction), the headings show each key's place
    // and direction (and say it to a screen reader), a plain click goes back
    // to one column; what is copied comes in the order shown. On the
    // user-interface thread and on a worker.
    void shiftClickBuildsTheOrder_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<bool>("onWorker");
        QTest::newRow("sqlite") << false << false;
        QTest::newRow("sqlite, on a worker") << false << true;
        QTest::newRow("postgresql") << true << false;
    }
    void shiftClickBuildsTheOrder()
    {
        QFETCH(bool, onWorker);
        FETCH_ENGINE();
        const EngineDb db(postgres, "create table t (id integer primary key, city text, n integer);"
                                    " insert into t values (1, 'b', 2), (2, 'a', null), (3, 'b', 1), (4, null, 5),"
                                    " (5, 'a', 3), (6, 'b', 2), (7, 'a', 3);");
        DataGrid& grid = db.open(QStringLiteral("t"));
        const WorkerFromRows worker(onWorker ? 1 : 50'000);
        const auto mark = [&grid](int c) {
            return grid.model()->headerData(c, Qt::Horizontal, TableModel::SortMarkRole).toString();
        };
        QTRY_COMPARE(grid.model()->rowCount(), 8);

        clickHeading(grid, 1);
        QTRY_COMPARE(column(grid, 0), (QStringList{"2", "5", "7", "1", "3", "6", "4"}));
        QVERIFY(grid.horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(mark(1), QString());

        clickHeading(grid, 2, Qt::ShiftModifier);
        QTRY_COMPARE(column(grid, 0), (QStringList{"5", "7", "2", "3", "1", "6", "4"}));
        QCOMPARE(grid.Model()->sortOrder().keys(), (std::vector<TableModel::SortKey>{{1, false}, {2, false}}));
        QVERIFY(!grid.horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(mark(1), QStringLiteral("\u25B21"));
        QCOMPARE(mark(2), QStringLiteral("\u25B22"));
        QCOMPARE(mark(0), QString());
        QCOMPARE(grid.model()->headerData(2, Qt::Horizontal, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("n, sorted ascending, sort key 2 of 2"));
        // The heading's text stays the name: it is what a refresh goes by.
        QCOMPARE(grid.model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("n"));
        maybeScreenshot(QStringLiteral("sort-two-keys"));

        // Shift+click again: that key turns.
        clickHeading(grid, 2, Qt::ShiftModifier);
        QTRY_COMPARE(column(grid, 0), (QStringList{"2", "5", "7", "1", "6", "3", "4"}));
        QCOMPARE(mark(2), QStringLiteral("\u25BC2"));

        // Copy follows the order shown.
        grid.setFocus();
        grid.selectionModel()->select(QItemSelection(grid.model()->index(0, 0), grid.model()->index(2, 0)),
                                      QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text().split(QRegularExpression(QStringLiteral("\r?\n")),
                                                           Qt::SkipEmptyParts),
                 (QStringList{"2", "5", "7"}));

        // A plain click sorts by that column alone.
        clickHeading(grid, 2);
        QTRY_COMPARE(grid.Model()->sortOrder().keys(), (std::vector<TableModel::SortKey>{{2, false}}));
        QTRY_COMPARE(column(grid, 0), (QStringList{"3", "1", "6", "5", "7", "4", "2"}));
        QCOMPARE(mark(1), QString());
        QVERIFY(grid.horizontalHeader()->isSortIndicatorShown());
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridView)
#include "test_grid_view.moc"
