// A table past the memory budget, through the real window: its rows stay in
// the database and the grid reaches every place of it (Ctrl+End, Ctrl+Home,
// the scroll bar) without the rows between; a heading click sorts in the
// database, NULL where the grid puts it; an edit is written by the row's key
// and shown; rows others delete show in the count when their block is read;
// filters are the database's; rows that go there while the user is deep in
// them keep the current cell on its row.

#include "oracle/TableModel.h"
#include "oracle/ViewJob.h"
#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/GridFilterRow.h"
#include "pages/GridFindBar.h"
#include "pages/GridStatusLine.h"
#include "pages/RowDetailsWindow.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QAccessible>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QDialog>

#include <atomic>
#include <tuple>

using namespace PageSupport;

namespace {

constexpr int kRows = 20000;

std::string rowsSql(const std::string& series)
{
    return "insert into big select i, case when i % 5 = 0 then null else i % 7 end, 'n' || (1000 + i * 37 % 1000) from "
           + series;
}

const std::string kSqlite = "create table big (id integer primary key, grp integer, name text); "
                            + rowsSql("(with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                                      + std::to_string(kRows) + ") select i from n)");
const std::string kPg = "create table big (id integer primary key, grp integer, name text); "
                        + rowsSql("generate_series(1, " + std::to_string(kRows) + ") i");

// The big table on one engine, and the test's own way to read and write it
// (as another user would).
struct BigTable {
    explicit BigTable(bool pg, const std::string& sqlite = kSqlite, const std::string& pgSql = kPg) : postgres(pg)
    {
        if (postgres) {
            role.emplace();
            role->exec(pgSql);
        } else {
            file.emplace(sqlite);
        }
    }
    TestSupport::Rows query(const std::string& sql) const
    {
        return postgres ? TestSupport::pgQuery("set search_path = " + role->name() + ", public; " + sql,
                                               TestSupport::PgRole::Superuser)
                        : file->query(sql);
    }
    void exec(const std::string& sql) const
    {
        if (postgres)
            role->exec(sql);
        else
            file->exec(sql);
    }
    Form3& open() const
    {
        return postgres ? PageSupport::startAndOpen(TestSupport::pgDataSource(), QStringLiteral("big"),
                                                    QString::fromStdString(role->name()),
                                                    QString::fromStdString(role->password()))
                        : PageSupport::startAndOpen(file->dataSource(), QStringLiteral("big"));
    }

    bool postgres;
    std::optional<TestSupport::ScratchSqlite> file;
    std::optional<TestSupport::ScratchPgRole> role;
};

// The big table on the engine of the row's data, open and counted in the
// database: `big`, `form3`, `grid` and `model` for the test's steps.
#define OPEN_BIG_TABLE_COUNTED()                                                                      \
    QFETCH(bool, postgres);                                                                         \
    if (postgres)                                                                                   \
        DERVANTA_REQUIRE_PG();                                                                      \
    const BigTable big(postgres);                                                                   \
    Form3& form3 = big.open();                                                                      \
    DataGrid& grid = *form3.DataGrid1;                                                              \
    TableModel& model = *grid.Model();                                                              \
    QTRY_VERIFY_WITH_TIMEOUT(model.rowsInDatabase() && !model.countingRows(), 20000)

// A table whose rows pass a budget of 1M late: the first 5,000 rows are
// short, so the first block's estimate stays within it and the read goes on;
// the rows after them pass it. Every row is slow to read, so rows still come
// when the test types. Ids are the rows' numbers plus 5 (a table without a
// key keeps its rows by their numbers).
std::string lateRowsSql(bool keyed)
{
    return std::string("create table big (id integer") + (keyed ? " primary key" : "")
           + ", name text, note text, w integer generated always as (length(hex(zeroblob(200000 + id % 2)))) virtual);"
             " insert into big (id, name, note) with recursive n(i) as (select 1 union all select i + 1 from n"
             " where i < 12000) select i + 5, 'n' || i, case when i > 5000 then printf('%01000d', i) else '' end from n";
}
const std::string kLatePg = "create table big (id integer primary key, name text, note text); insert into big"
                            " select i + 5, 'n' || i, case when i > 5000 then lpad(i::text, 1000, '0') else '' end"
                            " from generate_series(1, 12000) i; create function slow_row(integer) returns boolean"
                            " language sql volatile as 'select pg_sleep(0.0002) is not null';"
                            " create policy slowly on big using (slow_row(id)); alter table big enable row level"
                            " security; alter table big force row level security";

// Waits until the cell shows something (its block came) and gives its text.
// F4 on the current row: the row details window's field named `field`.
QPlainTextEdit* openDetails(DataGrid& grid, const QString& field)
{
    QTest::keyClick(&grid, Qt::Key_F4);
    RowDetailsWindow* details = grid.rowDetails();
    if (!details || !details->isVisible())
        return nullptr;
    activate(*details);
    for (QPlainTextEdit* e : details->findChildren<QPlainTextEdit*>())
        if (QAccessible::queryAccessibleInterface(e)->text(QAccessible::Name) == field)
            return e;
    return nullptr;
}

// Imports the CSV text through Import Rows, its window accepted as it comes.
bool importRows(DataGrid& grid, const QByteArray& text)
{
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    QFile file(csv);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    QTimer::singleShot(0, [] {
        QTimer::singleShot(200, [] {
            if (auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                window->accept();
        });
    });
    RowWindowsSupport::FileDialogAnswer answer(csv);
    for (QAction* a : grid.actions())
        if (a->text() == QStringLiteral("Import Rows\u2026"))
            a->trigger();
    return answer.answered();
}

QString shown(DataGrid& grid, int row, int column)
{
    grid.scrollTo(grid.Model()->index(row, column));
    if (!QTest::qWaitFor([&] { return !cellText(grid, row, column).isEmpty(); }, 20000))
        return QStringLiteral("(never shown)");
    return cellText(grid, row, column);
}

} // namespace

class GridWindow : public QObject {
    Q_OBJECT

private slots:
    // Small enough for the read to pass it within its first block: the rows
    // go to the database before any row shows.
    void init() { qputenv("DERVANTA_MEMORY_BUDGET", "16K"); }
    void cleanup()
    {
        qunsetenv("DERVANTA_MEMORY_BUDGET");
        resetPages();
    }

    void everyPlaceIsReachedSortedAndEdited_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("SQLite") << false;
        QTest::newRow("PostgreSQL") << true;
    }
    void everyPlaceIsReachedSortedAndEdited()
    {
        QFETCH(bool, postgres);
        if (postgres)
            DERVANTA_REQUIRE_PG();
        const BigTable big(postgres);
        const auto query = [&](const std::string& sql) { return big.query(sql); };
        const auto theirs = [&](const std::string& sql) { big.exec(sql); };
        Form3& form3 = big.open();
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QTRY_VERIFY2_WITH_TIMEOUT(model.rowsInDatabase() && !model.countingRows(), qPrintable(QStringLiteral("reading %1, in database %2, counting %3, rows %4, over budget %5, state %6").arg(model.reading()).arg(model.rowsInDatabase()).arg(model.countingRows()).arg(model.shownRows()).arg(model.readOverBudget().has_value()).arg(int(model.readState()))), 20000);
        QCOMPARE(model.shownRows(), kRows);
        QCOMPARE(grid.statusLine()->text(),
                 QStringLiteral("20,000 rows, kept in the database: the table needs more than the 16 KB of memory "
                                "allowed (DERVANTA_MEMORY_BUDGET); sorted and filtered by the database."));
        maybeScreenshot(QStringLiteral("grid-window-status"));

        // The last row and the first, and the middle by the scroll bar.
        activate(form3);
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(grid.currentIndex().row(), kRows); // the new row's line below the rows
        QVERIFY(model.isNewRowPlaceholder(kRows));
        QCOMPARE(shown(grid, kRows - 1, 0), QString::number(kRows));
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(shown(grid, 0, 0), QStringLiteral("1"));
        grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum() / 2);
        const int top = grid.rowAt(0);
        QVERIFY(top > kRows / 3);
        QCOMPARE(shown(grid, top, 0), QString::number(top + 1));
        QVERIFY2(model.memoryBytes() < 20 * 1024 * 1024, qPrintable(QString::number(model.memoryBytes())));

        // Sorted by grp in the database: NULL after the values, ties by the
        // key; the current cell stays on its row (id 1) and column.
        QTest::keyClick(&grid, Qt::Key_Right);
        QHeaderView& header = *grid.horizontalHeader();
        QTest::mouseClick(header.viewport(), Qt::LeftButton, {},
                          QPoint(header.sectionViewportPosition(1) + header.sectionSize(1) / 2, header.height() / 2));
        // The same rows in another order: the view keeps them all, and the
        // new row's line, while the database counts them again.
        QCOMPARE(model.shownRows(), kRows);
        QCOMPARE(model.rowCount(), kRows + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.shownRows() == kRows, 60000);
        const TestSupport::Rows order = query("select id from big order by case when grp is null then 1 else 0 end,"
                                              " grp, id");
        for (int at : {0, 1023, 1024, 9999, 15999, 16000, kRows - 1})
            QCOMPARE(shown(grid, at, 0).toStdString(), *order[static_cast<std::size_t>(at)][0]);
        QCOMPARE(shown(grid, kRows - 1, 1), QStringLiteral("(NULL)"));
        const int first = int(std::find_if(order.begin(), order.end(), [](const auto& r) { return *r[0] == "1"; })
                              - order.begin());
        QTRY_COMPARE(QPoint(grid.currentIndex().column(), grid.currentIndex().row()), QPoint(1, first));
        QCOMPARE(shown(grid, first, 0), QStringLiteral("1"));
        // So does a filter that keeps the row, and taking it away: the view
        // starts over from none each time.
        for (const QString& typed : {QStringLiteral("<=1"), QString()}) {
            // Ctrl+Shift+F shows the filter row, and again hides and clears it.
            grid.setFocus();
            QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
            if (!typed.isEmpty())
                typeFilter(grid, 1, typed);
            QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows(), 60000);
            QTRY_COMPARE(QPoint(grid.currentIndex().column(), grid.currentIndex().row()), QPoint(1, first));
            QCOMPARE(shown(grid, first, 0), QStringLiteral("1"));
        }

        // An edit goes to the row's key and shows where the row is.
        typeIntoCell(grid, 3, 2, QStringLiteral("edited"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(model.pendingRow(), -1);
        QCOMPARE(*query("select name from big where id = " + *order[3][0]).at(0).at(0), std::string("edited"));
        QCOMPARE(cellText(grid, 3, 2), QStringLiteral("edited"));

        // Others delete rows in a block not read yet: when it is read, the
        // count says so and its rows are the table's.
        const std::string gone = *order[12000][0];
        theirs("delete from big where id in (" + gone + ", " + *order[12001][0] + ")");
        QCOMPARE(shown(grid, 12000, 0).toStdString(), *order[12002][0]);
        QTRY_COMPARE(model.shownRows(), kRows - 2);
        QTRY_VERIFY(grid.statusLine()->text().startsWith(QStringLiteral("19,998 rows, kept in the database")));

        // A copy that would meet rows not read yet refuses instead of copying
        // blanks for them; Export Rows reads every row from the database, in
        // the order shown.
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        grid.selectAll();
        QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QVERIFY(grid.statusLine()->text().contains(QStringLiteral("still being read from the database")));
        {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("big.csv"));
            RowWindowsSupport::FileDialogAnswer answer(path);
            for (QAction* a : grid.actions())
                if (a->text() == QStringLiteral("Export Rows\u2026"))
                    a->trigger();
            QVERIFY(answer.answered());
            QFile written(path);
            QVERIFY(written.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = written.readAll().split('\n');
            const TestSupport::Rows now = query("select id, name from big order by case when grp is null then 1"
                                                " else 0 end, grp, id");
            QCOMPARE(lines.size(), kRows - 2 + 2); // the headings, and the empty text after the last line end
            for (std::size_t r = 0; r < now.size(); ++r)
                QCOMPARE(lines[int(r) + 1].split(',').value(0).toStdString(), *now[r][0]);
            QVERIFY(lines[4].contains("edited"));
            QVERIFY(grid.statusLine()->text().contains(QStringLiteral("19,998 rows exported")));
        }
        activate(form3); // the file dialog had the keyboard

        // Filters are the database's, with their values bound: a comparison
        // and a text looked for ignoring case, where % is no wildcard.
        theirs("update big set name = 'A%b' where id = 12; update big set name = 'AXb' where id = 19");
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        typeFilter(grid, 1, QStringLiteral(">=5"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows(), 60000);
        const std::string many = *query("select count(*) from big where grp >= 5").at(0).at(0);
        QCOMPARE(QString::number(model.shownRows()).toStdString(), many);
        QVERIFY(grid.statusLine()->text().startsWith(GridStatusLine::number(std::stoll(many)) + " rows match the filter, kept"));
        typeFilter(grid, 2, QStringLiteral("a%B"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.shownRows() == 1, 60000);
        QCOMPARE(shown(grid, 0, 0), QStringLiteral("12"));

        QVERIFY(programEnds().isEmpty());
    }

    // Find looks in the database from the current row's place, in the order
    // shown, forwards and backwards and round past either end, and lands
    // where full mode would.
    void findSeeksInTheDatabase_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void findSeeksInTheDatabase()
    {
        OPEN_BIG_TABLE_COUNTED();
        grid.sortBy(1, true);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.shownRows() == kRows, 60000);
        // Where full mode would find "N1999" (ignoring case): grp descending,
        // NULL first, ties by id.
        const std::string orderSql = "select name from big order by case when grp is null then 0 else 1 end, grp desc, id";
        const TestSupport::Rows names = big.query(orderSql);
        std::vector<int> at;
        for (std::size_t r = 0; r < names.size(); ++r)
            if (*names[r][0] == "n1999")
                at.push_back(static_cast<int>(r));
        QCOMPARE(at.size(), std::size_t{20});

        activate(form3);
        grid.setFocus();
        grid.setCurrentIndex(model.index(0, 0));
        QCOMPARE(shown(grid, 0, 2).toStdString(), *names[0][0]); // a find starts from a row read
        const auto trigger = [&](const QString& text) {
            for (QAction* a : grid.actions())
                if (a->text() == text)
                    a->trigger();
        };
        const auto foundAt = [&](int row) {
            return QTest::qWaitFor([&] { return grid.currentIndex().row() == row && grid.currentIndex().column() == 2; },
                                   20000);
        };
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("N1999"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(foundAt(at[0]));
        trigger(QStringLiteral("Find Next"));
        QVERIFY(foundAt(at[1]));
        trigger(QStringLiteral("Find Previous"));
        QVERIFY(foundAt(at[0]));
        trigger(QStringLiteral("Find Previous")); // round past the first row
        QVERIFY(foundAt(at.back()));
        trigger(QStringLiteral("Find Next"));
        QVERIFY(foundAt(at[0]));
        QVERIFY(programEnds().isEmpty());
    }

    // Replace All among rows kept in the database: every match of the rows
    // the filters show is written by its values, one step to undo; a row
    // refused ends it there; matches that would take more memory than a
    // share of the budget are not replaced at all.
    void replaceAllWritesEveryMatchInTheDatabase_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void replaceAllWritesEveryMatchInTheDatabase()
    {
        qputenv("DERVANTA_MEMORY_BUDGET", "64K"); // a quarter holds a few dozen matches
        OPEN_BIG_TABLE_COUNTED();
        const auto count = [&](const std::string& where) {
            return std::stoi(*big.query("select count(*) from big where " + where).at(0).at(0));
        };
        BoxCatcher boxes;
        activate(form3);
        grid.setFocus();
        GridFindBar& bar = *grid.findBar();
        QTest::keyClick(&grid, Qt::Key_H, Qt::ControlModifier);
        QVERIFY(bar.replaceBox()->isVisible());

        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        typeFilter(grid, 1, QStringLiteral("=3"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.isNewRowPlaceholder(model.rowCount() - 1), 20000);
        const int inFilter = count("name = 'n1999' and grp = 3");
        QVERIFY(inFilter > 1 && inFilter < 20);
        const TestSupport::Rows ids = big.query("select id, name from big where grp = 3 order by id");
        int first = 0;
        while (*ids[static_cast<std::size_t>(first)][1] != "n1999")
            ++first;
        QCOMPARE(shown(grid, first, 2), QStringLiteral("n1999"));
        bar.textBox()->setText(QStringLiteral("N1999"));
        bar.replaceBox()->setText(QStringLiteral("renamed"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("%1 cells replaced in %1 rows").arg(inFilter));
        QCOMPARE(count("name = 'renamed'"), inFilter);
        QCOMPARE(count("name = 'n1999'"), 20 - inFilter);
        QCOMPARE(shown(grid, first, 2), QStringLiteral("renamed"));
        maybeScreenshot(QStringLiteral("grid-window-replace-all"));
        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(count("name = 'n1999'"), 20);
        QCOMPARE(shown(grid, first, 2), QStringLiteral("n1999"));
        QCOMPARE(boxes.count(), 0);

        // Every row of the table matches: nothing is written.
        QLineEdit* box = grid.filterRow()->box(1);
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.shownRows() == kRows, 20000);

        // Letters beyond ASCII match ignoring case as among rows in memory,
        // though SQLite folds the case of ASCII letters alone.
        big.exec("update big set name = '\u00c4PFEL' where id = 77");
        bar.textBox()->setText(QStringLiteral("\u00e4pfel"));
        bar.replaceBox()->setText(QStringLiteral("pear"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("1 cell replaced"));
        QCOMPARE(count("name = 'pear'"), 1);

        bar.textBox()->setText(QStringLiteral("n1"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.lastText().startsWith(QStringLiteral("Nothing was replaced")), qPrintable(boxes.lastText()));
        QCOMPARE(count("name like 'n1%'"), kRows - 1);

        // The third match is refused by the database: two rows are written.
        const TestSupport::Rows matched = big.query("select id from big where name = 'n1999' order by id");
        const std::string third = *matched[2][0];
        big.exec(postgres ? "alter table big add constraint no_bad check (name <> 'bad' or id < " + third + ")"
                          : "create trigger no_bad before update on big when new.name = 'bad' and new.id >= " + third
                                + " begin select raise(abort, 'no bad names'); end");
        bar.textBox()->setText(QStringLiteral("n1999"));
        bar.replaceBox()->setText(QStringLiteral("bad"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(boxes.count(), 2);
        QVERIFY2(boxes.lastText().startsWith(QStringLiteral("2 of 20 rows written; a row not shown: ")),
                 qPrintable(boxes.lastText()));
        QCOMPARE(count("name = 'bad'"), 2);
        QCOMPARE(count("name = 'bad' and id < " + third), 2);
        QVERIFY(programEnds().isEmpty());
    }

    // Export Selection among rows kept in the database: the selected rows in
    // the order shown, those in blocks not read yet read for the file, with
    // the rows the grid shows as it shows them.
    void aSelectionIsExportedFromTheDatabase_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void aSelectionIsExportedFromTheDatabase()
    {
        OPEN_BIG_TABLE_COUNTED();
        grid.sortBy(1, true);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.shownRows() == kRows, 60000);
        const TestSupport::Rows order = big.query(
            "select id, name from big order by case when grp is null then 0 else 1 end, grp desc, id");
        // Another user's change to a row shown: the file holds what the grid
        // shows, as it would among rows in memory.
        QCOMPARE(shown(grid, 2000, 2).toStdString(), *order[2000][1]);
        big.exec("update big set name = 'theirs' where id = " + *order[2000][0]);
        activate(form3);
        grid.setFocus();
        // Rows 1,000 to 3,000 and row 19,999, across blocks, mostly not read.
        QCOMPARE(shown(grid, 2000, 2).toStdString(), *order[2000][1]);
        QItemSelection selection(model.index(999, 0), model.index(2999, 0));
        selection.select(model.index(999, 2), model.index(2999, 2));
        selection.select(model.index(kRows - 2, 2), model.index(kRows - 2, 2));
        grid.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("selected.csv"));
        {
            BoxCatcher none;
            RowWindowsSupport::FileDialogAnswer answer(csv);
            for (QAction* a : grid.actions())
                if (a->text() == QStringLiteral("Export Selection\u2026"))
                    a->trigger();
            QVERIFY(answer.answered());
            QCOMPARE(none.count(), 0);
        }
        QByteArray expected("id,name\r\n");
        for (int r = 999; r < 3000; ++r)
            expected += QByteArray::fromStdString(*order[static_cast<std::size_t>(r)][0] + ","
                                                  + *order[static_cast<std::size_t>(r)][1] + "\r\n");
        // The rows' selected columns as a rectangle: row 19,999's id too.
        expected += QByteArray::fromStdString(*order[kRows - 2][0] + "," + *order[kRows - 2][1] + "\r\n");
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n'), wanted = expected.split('\n');
        QCOMPARE(lines.size(), wanted.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(lines[i], wanted[i]);
        QVERIFY2(grid.statusLine()->text().endsWith(QStringLiteral("2,002 rows exported to selected.csv.")),
                 qPrintable(grid.statusLine()->text()));
        QVERIFY(programEnds().isEmpty());
    }

    // Undo and redo find their rows by their values, wherever the rows show
    // now: after a sort, after a deletion, and not past another user's change.
    void undoFindsItsRowsInTheDatabase_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void undoFindsItsRowsInTheDatabase()
    {
        OPEN_BIG_TABLE_COUNTED();
        const auto name = [&](int id) { return *big.query("select name from big where id = " + std::to_string(id)).at(0).at(0); };
        const auto undo = [&] { QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier); };
        const auto redo = [&] { QTest::keyClick(&grid, Qt::Key_Y, Qt::ControlModifier); };
        activate(form3);
        grid.setFocus();

        // Typing is taken back a cell at a time in its own row.
        const std::string seventh = name(7);
        QCOMPARE(shown(grid, 6, 2).toStdString(), seventh);
        typeIntoCell(grid, 6, 1, QStringLiteral("3"));
        typeIntoCell(grid, 6, 2, QStringLiteral("typed"));
        undo();
        QCOMPARE(model.pendingRow(), 6);
        QCOMPARE(cellText(grid, 6, 2).toStdString(), seventh);
        QCOMPARE(cellText(grid, 6, 1), QStringLiteral("3"));
        undo();
        QCOMPARE(model.pendingRow(), -1);

        // An edit, then a sort: the undo writes the row it changed, and the
        // grid shows it where the sort put it.
        const std::string fourth = name(4);
        typeIntoCell(grid, 3, 2, QStringLiteral("first"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(name(4), std::string("first"));
        grid.sortBy(1, false);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.shownRows() == kRows, 60000);
        const TestSupport::Rows order = big.query("select id from big order by case when grp is null then 1 else 0 end, grp, id");
        int at = 0;
        while (*order[static_cast<std::size_t>(at)][0] != "4")
            ++at;
        QCOMPARE(shown(grid, at, 2), QStringLiteral("first"));
        undo();
        QCOMPARE(name(4), fourth);
        QCOMPARE(shown(grid, at, 2).toStdString(), fourth);
        redo();
        QCOMPARE(name(4), std::string("first"));
        QCOMPARE(shown(grid, at, 2), QStringLiteral("first"));

        // Another user's change since is not written over.
        big.exec("update big set name = 'theirs' where id = 4");
        {
            BoxCatcher boxes;
            undo();
            QCOMPARE(boxes.count(), 1);
            QVERIFY2(boxes.lastText().contains(QString::fromLatin1(RowRefusal::kChangedByOtherUser)),
                     qPrintable(boxes.lastText()));
        }
        QCOMPARE(name(4), std::string("theirs"));

        // A paste into two rows is taken back as one step.
        activate(form3);
        const int id10 = std::stoi(*order[10][0]), id11 = std::stoi(*order[11][0]);
        const std::string tenth = name(id10), eleventh = name(id11);
        // Pasted where the rows are read (a row still on its way refuses).
        QCOMPARE(shown(grid, 11, 2).toStdString(), eleventh);
        grid.setCurrentIndex(model.index(10, 2));
        QGuiApplication::clipboard()->setText(QStringLiteral("p1\np2"));
        QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(name(id11), std::string("p2"));
        QCOMPARE(name(id10), std::string("p1"));
        undo();
        QCOMPARE(name(id10), tenth);
        QCOMPARE(name(id11), eleventh);

        // A deletion taken back puts the row back in its place; done again,
        // it goes.
        const std::string first = *order[0][0];
        const std::string whole = "select id || ' ' || coalesce(grp, -1) || ' ' || name from big where id = " + first;
        const std::string before = *big.query(whole).at(0).at(0);
        grid.selectRow(0);
        {
            BoxCatcher yes([](QMessageBox*) { return QStringLiteral("&Yes"); });
            QTest::keyClick(&grid, Qt::Key_Delete);
            QCOMPARE(yes.count(), 1);
        }
        QCOMPARE(big.query(whole).size(), std::size_t{0});
        QTRY_COMPARE(model.shownRows(), kRows - 1);
        activate(form3);
        undo();
        QCOMPARE(*big.query(whole).at(0).at(0), before);
        QTRY_COMPARE(model.shownRows(), kRows);
        QCOMPARE(shown(grid, 0, 0).toStdString(), first);
        redo();
        QCOMPARE(big.query(whole).size(), std::size_t{0});
        QTRY_COMPARE(model.shownRows(), kRows - 1);
        QVERIFY(programEnds().isEmpty());
    }

    // A write another user's change or deletion refused is settled in the
    // conflict window as among rows in memory: theirs shown, mine written
    // over theirs, the row put back as a new row, or dropped.
    void conflictsAreSettledInTheDatabase_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void conflictsAreSettledInTheDatabase()
    {
        OPEN_BIG_TABLE_COUNTED();
        const auto name = [&](int id) {
            const TestSupport::Rows r = big.query("select name from big where id = " + std::to_string(id));
            return r.empty() ? std::string("(gone)") : *r.at(0).at(0);
        };
        const auto settle = [&](int row, const QString& typed, const std::string& theirs, const QString& choice) {
            activate(form3);
            QCOMPARE(shown(grid, row, 2).isEmpty(), false);
            typeIntoCell(grid, row, 2, typed);
            big.exec(theirs);
            RowWindowsSupport::ConflictCatcher conflicts([choice](ConflictWindow*) { return choice; });
            QTest::keyClick(&grid, Qt::Key_Down);
            QTRY_COMPARE(conflicts.count(), 1);
            QTRY_COMPARE(model.pendingRow(), -1);
        };

        settle(3, QStringLiteral("mine"), "update big set name = 'theirs' where id = 4", QStringLiteral("Use Theirs"));
        QCOMPARE(name(4), std::string("theirs"));
        QCOMPARE(cellText(grid, 3, 2), QStringLiteral("theirs"));

        settle(5, QStringLiteral("mine"), "update big set name = 'theirs' where id = 6", QStringLiteral("Overwrite"));
        QCOMPARE(name(6), std::string("mine"));
        QCOMPARE(cellText(grid, 5, 2), QStringLiteral("mine"));

        // A deleted row dropped leaves the grid: the rows below move up.
        settle(7, QStringLiteral("mine"), "delete from big where id = 8", QStringLiteral("Discard"));
        QCOMPARE(name(8), std::string("(gone)"));
        QCOMPARE(model.shownRows(), kRows - 1);
        QCOMPARE(shown(grid, 7, 0), QStringLiteral("9"));

        // Put back as a new row with what was typed: in the database at once,
        // shown where the order puts it.
        const std::string grp = *big.query("select coalesce(grp, -1) from big where id = 10").at(0).at(0);
        settle(8, QStringLiteral("again"), "delete from big where id = 10", QStringLiteral("Insert as New Row"));
        const TestSupport::Rows back = big.query("select id, coalesce(grp, -1) from big where name = 'again'");
        QCOMPARE(back.size(), std::size_t{1});
        QCOMPARE(*back[0][1], grp);
        QTRY_COMPARE(model.shownRows(), kRows - 1);
        QCOMPARE(shown(grid, 8, 2), QStringLiteral("again"));
        // Taken back as the new row it is.
        activate(form3);
        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(big.query("select id from big where name = 'again'").size(), std::size_t{0});
        QCOMPARE(model.shownRows(), kRows - 2);
        QVERIFY(programEnds().isEmpty());
    }

    // A new row typed below the rows kept in the database is written and
    // counted where the order puts it: below them in the key's order, among
    // them in another, left out by a filter it does not pass; undo takes it
    // away again.
    void newRowsGoWhereTheOrderPutsThem_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void newRowsGoWhereTheOrderPutsThem()
    {
        OPEN_BIG_TABLE_COUNTED();
        QTRY_COMPARE(model.rowCount(), kRows + 1);
        activate(form3);
        grid.setFocus();
        const auto addRow = [&](int id, const QString& grp, const QString& name) {
            const int at = model.rowCount() - 1;
            QVERIFY(model.isNewRowPlaceholder(at));
            typeIntoCell(grid, at, 0, QString::number(id));
            typeIntoCell(grid, at, 1, grp);
            typeIntoCell(grid, at, 2, name);
            QTest::keyClick(&grid, Qt::Key_Down);
            QCOMPARE(model.pendingRow(), -1);
        };
        const auto placeOf = [&](const std::string& orderBy, const std::string& id) {
            const TestSupport::Rows order = big.query("select id from big order by " + orderBy);
            return int(std::find_if(order.begin(), order.end(), [&](const auto& r) { return *r[0] == id; })
                       - order.begin());
        };

        // While the row is typed, another user's deletion shows in a block
        // read: the row being typed stays below the rows, with what was typed.
        typeIntoCell(grid, kRows, 0, QString::number(kRows + 1));
        typeIntoCell(grid, kRows, 1, QStringLiteral("3"));
        big.exec("delete from big where id = 10001");
        QCOMPARE(shown(grid, 10000, 0), QStringLiteral("10002"));
        QTRY_COMPARE(model.pendingRow(), kRows - 1);
        QCOMPARE(cellText(grid, kRows - 1, 0), QString::number(kRows + 1));
        QVERIFY(model.isNewRowPlaceholder(kRows));

        // In the key's order the row stays where it was typed.
        typeIntoCell(grid, kRows - 1, 2, QStringLiteral("last"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(model.pendingRow(), -1);
        QCOMPARE(*big.query("select grp || name from big where id = " + std::to_string(kRows + 1)).at(0).at(0),
                 std::string("3last"));
        QCOMPARE(model.shownRows(), kRows);
        QCOMPARE(model.rowCount(), kRows + 1);
        QCOMPARE(shown(grid, kRows - 1, 2), QStringLiteral("last"));
        QTRY_VERIFY(grid.statusLine()->text().startsWith(QStringLiteral("20,000 rows, kept in the database")));
        maybeScreenshot(QStringLiteral("grid-window-new-row"));

        // Sorted by grp, a row with grp 3 goes among the others: the rows
        // after its place move down one, in blocks read before and after.
        const std::string byGrp = "case when grp is null then 1 else 0 end, grp, id";
        const int farDown = kRows - 5;
        QCOMPARE(shown(grid, farDown, 0), QString::number(farDown + 2)); // a block read before the sort (id 10001 went)
        grid.sortBy(1, false);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.rowCount() == kRows + 1, 60000);
        addRow(kRows + 2, QStringLiteral("3"), QStringLiteral("middle"));
        QCOMPARE(model.shownRows(), kRows + 1);
        const int middle = placeOf(byGrp, std::to_string(kRows + 2));
        QVERIFY(middle > 0 && middle < kRows);
        QCOMPARE(shown(grid, middle, 2), QStringLiteral("middle"));
        const TestSupport::Rows order = big.query("select id from big order by " + byGrp);
        for (int at : {middle - 1, middle + 1, farDown, kRows})
            QCOMPARE(shown(grid, at, 0).toStdString(), *order[static_cast<std::size_t>(at)][0]);
        QVERIFY(model.isNewRowPlaceholder(kRows + 1));

        // Undo takes the row out of the database and the count.
        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(big.query("select id from big where name = 'middle'").size(), std::size_t{0});
        QCOMPARE(model.shownRows(), kRows);
        QCOMPARE(shown(grid, middle, 0).toStdString(), *order[static_cast<std::size_t>(middle + 1)][0]);

        // A filter the row does not pass: saved, said, and not shown.
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        typeFilter(grid, 1, QStringLiteral(">=5"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.isNewRowPlaceholder(model.rowCount() - 1), 60000);
        const int matching = int(model.shownRows());
        grid.setFocus();
        addRow(kRows + 3, QStringLiteral("1"), QStringLiteral("hidden"));
        QCOMPARE(big.query("select id from big where name = 'hidden'").size(), std::size_t{1});
        QCOMPARE(model.shownRows(), matching);
        QVERIFY2(grid.statusLine()->text().contains(QStringLiteral("The filter leaves it out")),
                 qPrintable(grid.statusLine()->text()));

        // Imported rows are new rows too: counted where the order puts them,
        // and taken out again by one undo.
        QVERIFY(importRows(grid, "id,grp,name\n30001,6,imported1\n30002,5,imported2\n30003,2,imported3\n"));
        QVERIFY2(grid.statusLine()->text().endsWith(QStringLiteral("   3 rows imported.")),
                 qPrintable(grid.statusLine()->text()));
        QCOMPARE(big.query("select id from big where name like 'imported_'").size(), std::size_t{3});
        QCOMPARE(model.shownRows(), matching + 2);
        const std::string filtered = "select id from big where grp >= 5 order by " + byGrp;
        for (const std::string id : {"30001", "30002"}) {
            const TestSupport::Rows rows = big.query(filtered);
            const int at = int(std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return *r[0] == id; })
                               - rows.begin());
            QCOMPARE(shown(grid, at, 0).toStdString(), id);
        }
        activate(form3);
        QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(big.query("select id from big where name like 'imported_'").size(), std::size_t{0});
        QCOMPARE(model.shownRows(), matching);
        QVERIFY(programEnds().isEmpty());
    }

    // The row details window shows a row read from the database far down,
    // and what is typed there is written by the row's key.
    void rowDetailsWorkFarDown()
    {
        const BigTable big(false);
        Form3& form3 = big.open();
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QTRY_VERIFY_WITH_TIMEOUT(model.rowsInDatabase() && !model.countingRows(), 20000);
        activate(form3);
        grid.setFocus();
        QCOMPARE(shown(grid, 15000, 0), QStringLiteral("15001"));
        grid.setCurrentIndex(model.index(15000, 2));
        QPlainTextEdit* name = openDetails(grid, QStringLiteral("name"));
        QVERIFY(name);
        RowDetailsWindow* details = grid.rowDetails();
        QCOMPARE(name->toPlainText().toStdString(), *big.query("select name from big where id = 15001").at(0).at(0));
        QCOMPARE(details->findChild<QLabel*>(QStringLiteral("rowHeading"))->text(), QStringLiteral("Row 15001 of 20000"));
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("detailed"));
        QTest::keyClick(name, Qt::Key_Return, Qt::ControlModifier);
        for (QPushButton* b : details->findChildren<QPushButton*>())
            if (b->text().remove(u'&') == QStringLiteral("Next Row"))
                QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(*big.query("select name from big where id = 15001").at(0).at(0), std::string("detailed"));
        QCOMPARE(grid.currentIndex().row(), 15001);
        QCOMPARE(name->toPlainText().toStdString(), *big.query("select name from big where id = 15002").at(0).at(0));
    }

    // The rows go to the database while the user is deep in them: the
    // current cell stays on its row (by its key, where the database now puts
    // it: ten rows up after others' deletes) and column, scrolled to as Go to
    // Row does. A move made (or a row typed) before the database has told
    // wins; a row deleted meanwhile, or a table without a key (the rows read
    // hold no locator), leaves the grid at the top, saying nothing.
    void theCurrentCellStaysOnItsRow_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<QByteArray>("what");
        for (const bool pg : {false, true}) {
            const char* engine = pg ? "PostgreSQL" : "SQLite";
            QTest::addRow("%s, followed", engine) << pg << QByteArray("followed");
            QTest::addRow("%s, moved first", engine) << pg << QByteArray("moved first");
            QTest::addRow("%s, typed first", engine) << pg << QByteArray("typed first");
        }
        QTest::newRow("SQLite, row deleted") << false << QByteArray("deleted");
        QTest::newRow("SQLite, no key") << false << QByteArray("no key");
    }
    void theCurrentCellStaysOnItsRow()
    {
        QFETCH(bool, postgres);
        QFETCH(QByteArray, what);
        if (postgres)
            DERVANTA_REQUIRE_PG();
        qputenv("DERVANTA_MEMORY_BUDGET", "1M");
        const BigTable big(postgres, lateRowsSql(what != "no key"), kLatePg);
        Form3& form3 = big.open();
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        activate(form3);
        // Typed while rows still come, the third row holds the switch until it is written.
        typeIntoCell(grid, 2, 1, QStringLiteral("typed"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.reading(), 60000);
        QVERIFY(model.readOverBudget() && !model.rowsInDatabase() && model.shownRows() > 4000);
        big.exec(what == "deleted" ? "delete from big where id = 4005" : "delete from big where id between 11 and 20");
        // The database's answer waits on its worker until the user has acted.
        std::atomic<bool> answer{!what.endsWith("first")};
        ViewJob::setStartHook([&answer](const std::atomic<bool>& stop) {
            while (!answer.load() && !stop.load())
                QThread::msleep(5);
        });
        const auto unhook = qScopeGuard([&answer] {
            answer = true;
            ViewJob::setStartHook({});
        });
        QSignalSpy told(&model, &TableModel::rowFollowed);
        BoxCatcher boxes;
        // The user goes to row 4,000's name: the row typed is written, the rows go.
        const QModelIndex deep = model.index(3999, 1);
        grid.scrollTo(deep);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(deep).center());
        QTRY_VERIFY_WITH_TIMEOUT(model.rowsInDatabase() && grid.currentIndex().isValid(), 20000);
        QCOMPARE(*big.query("select name from big where id = 8").at(0).at(0), std::string("typed"));
        if (what == "moved first")
            QTest::keyClick(&grid, Qt::Key_Down);
        if (what == "typed first") {
            shown(grid, 0, 0);
            typeIntoCell(grid, 0, 0, QStringLiteral("1")); // into the current cell, not moving
        }
        answer = true;
        QTest::qWait(what == "no key" ? 1000 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(told.count(), what == "no key" ? 0 : 1, 30000);
        const QPoint at(grid.currentIndex().column(), grid.currentIndex().row());
        QCOMPARE(at, what == "followed" ? QPoint(1, 3989) : QPoint(0, what == "moved first" ? 1 : 0));
        QCOMPARE(model.pendingRow(), what == "typed first" ? 0 : -1);
        QCOMPARE(boxes.count(), 0);
        if (what == "followed") {
            QVERIFY(qAbs(grid.rowAt(grid.viewport()->height() / 2) - 3989) <= 1);
            QCOMPARE(shown(grid, 3989, 0), QStringLiteral("4005"));
            maybeScreenshot(QStringLiteral("grid-window-current-row"));
        }
        QVERIFY(programEnds().isEmpty());
    }

    // A filter in the table's order: fewer matches than a screen's worth are
    // counted by the first screen alone, more by the pass after it; either
    // way the rows and the count are the database's.
    void aFilterInTheTablesOrderIsCounted_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void aFilterInTheTablesOrderIsCounted()
    {
        OPEN_BIG_TABLE_COUNTED();
        activate(form3);
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        for (const auto& [column, typed, where] :
             {std::tuple{2, QStringLiteral("=n1037"), std::string("name = 'n1037'")},
              std::tuple{1, QStringLiteral("=3"), std::string("name = 'n1037' and grp = 3")},
              std::tuple{2, QString(), std::string("grp = 3")}}) {
            if (typed.isEmpty()) {
                QSignalSpy applied(&model, &QAbstractItemModel::modelReset);
                QLineEdit* box = grid.filterRow()->box(column);
                box->setFocus();
                box->selectAll();
                QTest::keyClick(box, Qt::Key_Backspace);
                QTRY_VERIFY(!applied.isEmpty());
            } else {
                typeFilter(grid, column, typed);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows() && model.isNewRowPlaceholder(model.rowCount() - 1), 20000);
            const TestSupport::Rows ids = big.query("select id from big where " + where + " order by id");
            QCOMPARE(model.shownRows(), qint64(ids.size()));
            for (std::size_t at : {std::size_t{0}, ids.size() / 2, ids.size() - 1})
                QCOMPARE(shown(grid, int(at), 0).toStdString(), *ids[at][0]);
        }
        QVERIFY(programEnds().isEmpty());
    }

    // While the rows are not all counted (here: never, the count's pass was
    // ended by the server) no new row can be added, and a paste that runs
    // past the rows counted writes each row it has once, then stops: the
    // last row is a row read, not a place for the paste's next line.
    void aPastePastTheRowsCountedAddsNothing()
    {
        DERVANTA_REQUIRE_PG();
        const BigTable big(true, kSqlite, kLatePg);
        Form3& form3 = big.open();
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QTRY_VERIFY_WITH_TIMEOUT(model.rowsInDatabase() && model.countingRows() && model.shownRows() > 100, 20000);
        {
            BoxCatcher boxes;
            TestSupport::pgExec("select pg_terminate_backend(pid) from pg_stat_activity where usename = '"
                                    + big.role->name() + "' and query like 'copy (SELECT \"id\" FROM%'",
                                TestSupport::PgRole::Superuser);
            QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows(), 20000);
            QTRY_COMPARE(boxes.count(), 1);
        }
        const int rows = int(model.shownRows());
        QVERIFY(rows < 12000);
        QCOMPARE(model.rowCount(), rows);
        QVERIFY(!model.isNewRowPlaceholder(rows - 1));
        activate(form3);
        QVERIFY(!shown(grid, rows - 1, 1).isEmpty());
        QVERIFY(!shown(grid, rows - 2, 1).isEmpty());
        const std::string last = *big.query("select name from big where id = " + cellText(grid, rows - 1, 0).toStdString()).at(0).at(0);
        grid.setCurrentIndex(model.index(rows - 2, 1));
        QGuiApplication::clipboard()->setText(QStringLiteral("p1\np2\np3"));
        BoxCatcher boxes;
        QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.lastText().contains(QStringLiteral("still being counted")), qPrintable(boxes.lastText()));
        const auto names = [&](const std::string& name) {
            return big.query("select id from big where name = '" + name + "'").size();
        };
        QCOMPARE(names("p1"), std::size_t{1});
        QCOMPARE(names("p2"), std::size_t{1});
        QCOMPARE(names("p3"), std::size_t{0});
        QCOMPARE(cellText(grid, rows - 1, 1), QStringLiteral("p2"));
        QVERIFY(last != "p2");
        // The last block read holds a block's rows, not every row to the
        // table's end: the count stays what the pass reached.
        QCOMPARE(model.shownRows(), rows);
        QVERIFY(programEnds().isEmpty());
    }

    // The view holds a slice of the rows kept in the database (here 1,500
    // of 20,000, as if no more fitted its pixels): a bar over its own
    // scrolls over them all, and the keys, a find, a write and a new row
    // reach rows past the slice, each showing its own number and values.
    void everyRowIsReachedThroughASlice_data() { everyPlaceIsReachedSortedAndEdited_data(); }
    void everyRowIsReachedThroughASlice()
    {
        QFETCH(bool, postgres);
        if (postgres)
            DERVANTA_REQUIRE_PG();
        const BigTable big(postgres);
        constexpr int kMost = 1500;
        GetForm3().DataGrid1->setRowLimit(kMost);
        Form3& form3 = big.open();
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QTRY_VERIFY_WITH_TIMEOUT(model.rowsInDatabase() && !model.countingRows(), 20000);
        QCOMPARE(model.totalRows(), kRows);
        QCOMPARE(model.rowCount(), kMost);
        QVERIFY2(grid.statusLine()->text().startsWith(QStringLiteral("20,000 rows, kept in the database")),
                 qPrintable(grid.statusLine()->text()));
        activate(form3);
        auto* rowsBar = grid.findChild<QScrollBar*>(QStringLiteral("rowsBar"));
        QVERIFY(rowsBar && rowsBar->isVisible());
        QAccessibleInterface* said = QAccessible::queryAccessibleInterface(rowsBar);
        QVERIFY(said && said->text(QAccessible::Name) == QStringLiteral("Rows"));
        QCOMPARE(rowsBar->maximum(), kRows + 1 - rowsBar->pageStep()); // the new row's line too
        // Each row shown is the row its number says (ids are 1 to 20,000).
        const auto rowIsItself = [&](int row) {
            const QString number = model.headerData(row, Qt::Vertical).toString();
            return number == shown(grid, row, 0) ? QString() : number + " shows " + cellText(grid, row, 0);
        };

        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(model.isNewRowPlaceholder(grid.currentIndex().row()));
        QCOMPARE(shown(grid, grid.currentIndex().row() - 1, 0), QString::number(kRows));
        QCOMPARE(rowIsItself(grid.currentIndex().row() - 1), QString());
        QCOMPARE(rowsBar->value(), rowsBar->maximum());
        // The key's column widens to the longer ids shown there.
        QTRY_VERIFY(grid.columnWidth(0) > grid.fontMetrics().horizontalAdvance(QStringLiteral("20000")));
        maybeScreenshot(QStringLiteral("grid-window-slice"));
        const int narrow = grid.horizontalHeader()->minimumSectionSize();
        grid.horizontalHeader()->resizeSection(0, narrow); // the user's own width stays
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(shown(grid, 0, 0), QStringLiteral("1"));
        QCOMPARE(rowsBar->value(), 0);
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QTest::qWait(200);
        QCOMPARE(grid.columnWidth(0), narrow);

        // Go to Row reaches any row by its number.
        QTimer::singleShot(0, this, [] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->labelText(), QStringLiteral("Row number (1 to 20,000):"));
            dialog->setIntValue(12345);
            dialog->accept();
        });
        QTest::keyClick(&grid, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(model.rowNumber(grid.currentIndex().row()), 12345);
        QCOMPARE(rowIsItself(grid.currentIndex().row()), QString());
        activate(form3);
        grid.setFocus();
        // The bar to the middle, then Page Down past where the slice ended.
        rowsBar->setValue(kRows / 2);
        QTRY_COMPARE(model.headerData(grid.rowAt(0), Qt::Vertical).toString(), QString::number(kRows / 2 + 1));
        QCOMPARE(rowIsItself(grid.rowAt(0)), QString());
        grid.setCurrentIndex(model.index(grid.rowAt(0), 2));
        const qint64 sliceEnd = model.base() + kMost;
        // The current cell stays on its row as the slice moves under it.
        for (qint64 was = model.rowNumber(grid.currentIndex().row()); was <= sliceEnd + 100;) {
            QTest::keyClick(&grid, Qt::Key_PageDown);
            QCoreApplication::processEvents();
            const qint64 now = model.rowNumber(grid.currentIndex().row());
            QVERIFY2(now > was && now - was <= grid.verticalScrollBar()->pageStep() + 1,
                     qPrintable(QStringLiteral("%1 after %2").arg(now).arg(was)));
            was = now;
        }
        QVERIFY(model.rowNumber(grid.currentIndex().row()) > sliceEnd + 100);
        const int row = grid.currentIndex().row();
        QCOMPARE(rowIsItself(row), QString());
        QCOMPARE(rowsBar->value(), int(model.base()) + grid.verticalScrollBar()->value());
        // A row typed into keeps the slice where it is, the bar dragged far
        // away or not; the row is written when left.
        const std::string typedId = cellText(grid, row, 0).toStdString();
        typeIntoCell(grid, row, 2, QStringLiteral("typed"));
        const qint64 base = model.base();
        rowsBar->setValue(100);
        QCoreApplication::processEvents();
        QCOMPARE(model.base(), base);
        QCOMPARE(model.pendingRow(), row);
        QCOMPARE(grid.currentIndex().row(), row);
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(model.pendingRow(), -1);
        QCOMPARE(*big.query("select name from big where id = " + typedId).at(0).at(0), std::string("typed"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(cellText(grid, grid.currentIndex().row(), 0).toStdString(), typedId);
        // So does text typed into the row's details and not yet put into
        // the row; the details window stays on its row as the slice moves.
        QPlainTextEdit* name = openDetails(grid, QStringLiteral("name"));
        QVERIFY(name);
        RowDetailsWindow* details = grid.rowDetails();
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("detailed"));
        const qint64 held = model.base();
        rowsBar->setValue(100);
        QCoreApplication::processEvents();
        QCOMPARE(model.base(), held);
        QTest::keyClick(name, Qt::Key_Return, Qt::ControlModifier);
        activate(form3);
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Up); // the row is left and written
        QCOMPARE(*big.query("select name from big where id = " + typedId).at(0).at(0), std::string("detailed"));
        for (int i = 0; i < 200 && model.base() == held; ++i) {
            QTest::keyClick(&grid, Qt::Key_PageUp);
            QCoreApplication::processEvents();
        }
        QVERIFY(model.base() != held);
        QCOMPARE(details->Row(), grid.currentIndex().row());
        details->close();
        // A write there goes to that row.
        const int at = grid.currentIndex().row();
        const std::string id = cellText(grid, at, 0).toStdString();
        typeIntoCell(grid, at, 2, QStringLiteral("far"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(model.pendingRow(), -1);
        QCOMPARE(*big.query("select name from big where id = " + id).at(0).at(0), std::string("far"));

        // A find wraps to a row near the start (another user named it): the
        // slice goes there.
        big.exec("update big set name = 'only300' where id = 300");
        {
            BoxCatcher boxes;
            QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("only300"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTRY_COMPARE_WITH_TIMEOUT(model.rowNumber(grid.currentIndex().row()), 300, 20000);
            QCOMPARE(boxes.count(), 0);
        }
        QCOMPARE(rowIsItself(grid.currentIndex().row()), QString());

        // Others delete ten rows not read yet: reaching them, the count and
        // the slice take it, the new row's line after the last row.
        big.exec("delete from big where id between 17001 and 17010");
        QTimer::singleShot(0, this, [] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setIntValue(17000);
            dialog->accept();
        });
        QTest::keyClick(&grid, Qt::Key_G, Qt::ControlModifier);
        QTRY_COMPARE(model.totalRows(), kRows - 10);
        activate(form3);
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        const int line = grid.currentIndex().row();
        QVERIFY(model.isNewRowPlaceholder(line));
        QCOMPARE(shown(grid, line - 1, 0), QString::number(kRows));
        QCOMPARE(model.headerData(line - 1, Qt::Vertical).toString(), QString::number(kRows - 10));
        QCOMPARE(rowsBar->maximum(), kRows - 10 + 1 - rowsBar->pageStep());
        // A new row typed below the last one is saved and shown there.
        typeIntoCell(grid, line, 0, QString::number(kRows + 1));
        typeIntoCell(grid, line, 2, QStringLiteral("past"));
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(model.pendingRow(), -1);
        QCOMPARE(big.query("select id from big where name = 'past'").size(), std::size_t{1});
        QTRY_COMPARE(model.totalRows(), kRows - 9);
        QCOMPARE(shown(grid, line, 2), QStringLiteral("past"));
        QCOMPARE(model.headerData(line, Qt::Vertical).toString(), QString::number(kRows - 9));

        // An import from the first rows: the slice goes to the last ones,
        // where new rows are typed, and the row is counted there.
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QVERIFY(!model.sliceAtEnd());
        QVERIFY(importRows(grid, "id,grp,name\n30001,6,imported1\n"));
        QVERIFY2(grid.statusLine()->text().endsWith(QStringLiteral("imported.")), qPrintable(grid.statusLine()->text()));
        QCOMPARE(big.query("select id from big where name = 'imported1'").size(), std::size_t{1});
        QVERIFY(model.sliceAtEnd());
        QTRY_COMPARE(model.totalRows(), kRows - 8);

        // The other way round, the last rows come first, and the first last.
        grid.sortBy(0, true);
        QTRY_VERIFY_WITH_TIMEOUT(!model.countingRows(), 60000);
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(shown(grid, 0, 2), QStringLiteral("imported1"));
        QCOMPARE(shown(grid, 1, 2), QStringLiteral("past"));
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(shown(grid, grid.currentIndex().row() - 1, 0), QStringLiteral("1"));
        QVERIFY(programEnds().isEmpty());
    }

    // A table that fits the budget but has more rows than the grid holds
    // goes to the database at them; one without a key stops there.
    void aReadStopsAtTheRowsTheGridHolds_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<bool>("keyed");
        QTest::newRow("SQLite") << false << true;
        QTest::newRow("PostgreSQL") << true << true;
        QTest::newRow("PostgreSQL without a key") << true << false;
    }
    void aReadStopsAtTheRowsTheGridHolds()
    {
        QFETCH(bool, postgres);
        QFETCH(bool, keyed);
        if (postgres)
            DERVANTA_REQUIRE_PG();
        qunsetenv("DERVANTA_MEMORY_BUDGET");
        const std::string create = keyed ? "create table big (id integer primary key, grp integer, name text); "
                                         : "create table big (id integer, grp integer, name text); ";
        const BigTable big(postgres, create + rowsSql("(with recursive n(i) as (select 1 union all select i + 1 "
                                                      "from n where i < 20000) select i from n)"),
                           create + rowsSql("generate_series(1, 20000) i"));
        GetForm3().DataGrid1->setRowLimit(1500);
        Form3& form3 = big.open();
        DataGrid& grid = *form3.DataGrid1;
        TableModel& model = *grid.Model();
        QTRY_VERIFY_WITH_TIMEOUT(!model.reading() && !model.countingRows(), 20000);
        QCOMPARE(model.rowsInDatabase(), keyed);
        if (keyed) {
            QCOMPARE(model.totalRows(), kRows);
            QTRY_COMPARE(model.rowCount(), 1500); // a slice of them
            QVERIFY2(grid.statusLine()->text().startsWith(
                         QStringLiteral("20,000 rows, kept in the database: the table has more rows than the grid "
                                        "holds (1,500); sorted and filtered by the database.")),
                     qPrintable(grid.statusLine()->text()));
        } else {
            QCOMPARE(model.totalRows(), 1500);
            QCOMPARE(grid.statusLine()->text(),
                     QStringLiteral("1,500 rows shown; reading stopped: the grid holds at most 1,500 rows."));
        }
        QVERIFY(programEnds().isEmpty());
    }

    // Without a key PostgreSQL cannot find a row again by anything the grid
    // can seek by: the read stops at the budget, as before.
    void aTableWithoutKeyStopsAtTheBudget()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        role.exec("create table loose (id integer, grp integer, name text); "
                  "insert into loose select i, i % 7, repeat('x', 50) from generate_series(1, 20000) i");
        Form3& form3 = startAndOpen(TestSupport::pgDataSource(), QStringLiteral("loose"),
                                    QString::fromStdString(role.name()), QString::fromStdString(role.password()));
        TableModel& model = *form3.DataGrid1->Model();
        QTRY_VERIFY_WITH_TIMEOUT(!model.reading(), 60000);
        QVERIFY(!model.rowsInDatabase());
        QVERIFY(model.totalRows() < kRows);
        QVERIFY(form3.DataGrid1->statusLine()->text().contains(QStringLiteral("reading stopped")));
    }
};

DERVANTA_PAGE_TEST_MAIN(GridWindow)
#include "test_grid_window.moc"
