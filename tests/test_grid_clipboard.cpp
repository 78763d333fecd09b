// Copy, paste, replace, undo and redo through the real window, with the
// real clipboard (the offscreen platform keeps one in the process), on
// SQLite files and the PostgreSQL test server: values that must survive
// exactly, spreadsheet text, pastes stopped by a refused row or by Stop,
// and undo refused where another user changed the row.

#include "oracle/ClipboardText.h"
#include "oracle/EditableRowset.h"
#include "oracle/TableHistory.h"
#include "oracle/TableModel.h"
#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/GridClipboard.h"
#include "pages/GridFindBar.h"
#include "pages/GridStatusLine.h"
#include "pages/ImportWindow.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>

using namespace PageSupport;
using TestSupport::Rows;

namespace {

const QString kChanged = QString::fromLatin1(RowRefusal::kChangedByOtherUser);

// A scratch SQLite file or a role of its own on the PostgreSQL test server.
struct Db {
    explicit Db(bool postgres, const std::string& sql)
    {
        if (postgres) {
            pg = std::make_unique<TestSupport::ScratchPgRole>();
            pg->exec(sql);
        } else {
            lite = std::make_unique<TestSupport::ScratchSqlite>(sql);
        }
    }
    DataGrid& open(const QString& table) const
    {
        if (lite)
            return *startAndOpen(lite->dataSource(), table).DataGrid1;
        return *startAndOpen(TestSupport::pgDataSource(), table, QString::fromStdString(pg->name()),
                             QString::fromStdString(pg->password()))
                    .DataGrid1;
    }
    // Another user's statement.
    void exec(const std::string& sql) const { lite ? lite->exec(sql) : TestSupport::pgExec(sql, TestSupport::PgRole::Superuser); }
    Rows query(const std::string& sql) const
    {
        return lite ? lite->query(sql) : TestSupport::pgQuery(sql, TestSupport::PgRole::Superuser);
    }
    QString value(const std::string& sql) const
    {
        return QString::fromStdString(query(sql).at(0).at(0).value_or("<NULL>"));
    }

    std::unique_ptr<TestSupport::ScratchSqlite> lite;
    std::unique_ptr<TestSupport::ScratchPgRole> pg;
};

void addEngines()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

#define FETCH_ENGINE()                                                                             \
    QFETCH(bool, postgres);                                                                        \
    if (postgres && !TestSupport::pgLogin())                                                       \
        QSKIP("DERVANTA_TEST_PG_* not set: no PostgreSQL test server")

// Moves to a cell without a click (a click on a selected cell starts editing).
void goTo(DataGrid& grid, int row, int column)
{
    grid.setFocus();
    grid.setCurrentIndex(grid.model()->index(row, column));
}

void clickCell(DataGrid& grid, int row, int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, modifiers,
                      grid.visualRect(grid.model()->index(row, column)).center());
}

void clickRowHeader(DataGrid& grid, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QHeaderView* header = grid.verticalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, modifiers,
                      QPoint(header->width() / 2, header->sectionViewportPosition(row) + header->sectionSize(row) / 2));
}

void key(DataGrid& grid, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
{
    QTest::keyClick(&grid, k, modifiers);
}

void putText(const QString& text)
{
    auto* mime = new QMimeData;
    mime->setText(text);
    QGuiApplication::clipboard()->setMimeData(mime);
}

// With DERVANTA_SCREENSHOT_DIR set, saves the window with the open menu on
// it as NAME.png (a grab of the screen leaves popups out).
void saveMenuShot(QMenu& menu, QWidget& window, const QString& name)
{
    const QString dir = qEnvironmentVariable("DERVANTA_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    const QRect windowRect(window.mapToGlobal(QPoint(0, 0)), window.size());
    const QRect all = windowRect.united(menu.geometry());
    QPixmap shot(all.size());
    shot.fill(Qt::darkGray);
    QPainter painter(&shot);
    painter.drawPixmap(windowRect.topLeft() - all.topLeft(), window.grab());
    painter.drawPixmap(menu.pos() - all.topLeft(), menu.grab());
    painter.end();
    shot.save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

// The grid's right-click menu: its entries, and the one named `press` triggered.
QStringList contextMenu(DataGrid& grid, const QString& press = {}, const QString& screenshot = {})
{
    QStringList items;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        if (!screenshot.isEmpty())
            saveMenuShot(*menu, *grid.window(), screenshot);
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            items.append(a->text());
            if (a->text() == press && a->isEnabled())
                chosen = a;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    const QPoint at = grid.visualRect(grid.currentIndex()).center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, grid.viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid.viewport(), &event);
    return items;
}

} // namespace

class TestGridClipboard : public PageTest {
    Q_OBJECT

private slots:
    // NULL, empty text, tabs, line breaks, quotes, 38 digits, microseconds and
    // bytes, copied and pasted inside the program: back in place nothing is
    // written; over other rows they hold exactly the same; undo and redo.
    void copiedValuesComeBackExactly_data() { addEngines(); }
    void copiedValuesComeBackExactly()
    {
        FETCH_ENGINE();
        const bool lite = !postgres;
        const std::string blob = lite ? "blob" : "bytea";
        const std::string num = lite ? "numeric" : "numeric(38,0)";
        const auto bytes = [lite](const char* hex) { return lite ? "X'" + std::string(hex) + "'" : "'\\x" + std::string(hex) + "'::bytea"; };
        const std::string odd = lite ? "'tab' || char(9) || 'here \"q\" <b>' || char(10) || 'line'" : "E'tab\\there \"q\" <b>\\nline'";
        const Db db(postgres, "create table v (id integer primary key, t text, n " + num + ", ts timestamp(6), b " + blob + ");"
                    " insert into v values (1, null, 12345678901234567890123456789012345678, '2024-02-29 13:14:15.123456', " + bytes("00ff0a") + ");"
                    " insert into v values (2, '', -99999999999999999999999999999999999999, null, null);"
                    " insert into v values (3, " + odd + ", 0, '1999-12-31 23:59:59.000001', " + bytes("") + ");"
                    " insert into v values (4, 'd', 4, '2000-01-01 00:00:00', " + bytes("04") + ");"
                    " insert into v values (5, 'e', 5, null, null); insert into v values (6, 'f', 6, null, null);");
        const std::string dump = "select id, t, n, ts, " + std::string(lite ? "hex(b), typeof(t)" : "encode(b, 'hex'), xmin::text") + " from v order by id";
        const Rows before = db.query(dump);
        DataGrid& grid = db.open(QStringLiteral("v"));
        QClipboard* clipboard = QGuiApplication::clipboard();
        BoxCatcher none; // a message would be a failure; caught, it does not hang the test

        clickRowHeader(grid, 0);
        clickRowHeader(grid, 2, Qt::ShiftModifier);
        key(grid, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        const QStringList lines = clipboard->text().split(u'\n');
        QCOMPARE(lines.value(0), QStringLiteral("id\tt\tn\tts\tb"));
        QVERIFY(lines.value(1).startsWith(QStringLiteral("1\t\t")));
        QVERIFY2(lines.value(1).endsWith(QStringLiteral("\t(binary, 3 bytes)")), qPrintable(lines.value(1)));
        QCOMPARE(lines.value(2).section(u'\t', 1, 1), QString()); // '' and NULL alike in text
        QVERIFY(clipboard->text().contains(QStringLiteral("\t\"tab\there \"\"q\"\" <b>\nline\"\t")));
        QVERIFY(clipboard->mimeData()->html().contains(QStringLiteral("<th>ts</th>")));
        QVERIFY(clipboard->mimeData()->html().contains(QStringLiteral("here &quot;q&quot; &lt;b&gt;<br>line")));
        if (!lite)
            QCOMPARE(lines.value(1).section(u'\t', 2, 3), QStringLiteral("12345678901234567890123456789012345678\t2024-02-29 13:14:15.123456"));

        // Ctrl+C without the names, pasted back where it came from.
        key(grid, Qt::Key_C);
        goTo(grid, 0, 0);
        key(grid, Qt::Key_V);
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QCOMPARE(db.query(dump), before); // on PostgreSQL xmin too: no row was written
        QVERIFY(!grid.clipboard()->History()->canUndo());

        // Columns t..b of rows 1-3 over rows 4-6.
        clickCell(grid, 0, 1);
        clickCell(grid, 2, 4, Qt::ShiftModifier);
        key(grid, Qt::Key_C);
        clickCell(grid, 3, 1);
        key(grid, Qt::Key_V);
        const std::string same = lite ? "a.t is b.t and a.n is b.n and a.ts is b.ts and a.b is b.b and typeof(a.t) = typeof(b.t)"
                                              " and typeof(a.n) = typeof(b.n) and typeof(a.b) = typeof(b.b)"
                                      : "a.t is not distinct from b.t and a.n is not distinct from b.n"
                                        " and a.ts is not distinct from b.ts and a.b is not distinct from b.b";
        const std::string copies = "select count(*) from v a join v b on b.id = a.id + 3 where " + same;
        QCOMPARE(db.value(copies), QStringLiteral("3"));
        QCOMPARE(grid.selectionModel()->selectedIndexes().size(), 12); // the cells pasted

        key(grid, Qt::Key_Z);
        QCOMPARE(db.value(copies), QStringLiteral("0"));
        QCOMPARE(db.value("select t || ':' || n from v where id = 4"), QStringLiteral("d:4"));
        QCOMPARE(db.value("select count(*) from v where id = 5 and ts is null and b is null"), QStringLiteral("1"));
        key(grid, Qt::Key_Y);
        QCOMPARE(db.value(copies), QStringLiteral("3"));
        QCOMPARE(none.count(), 0);
    }

    // Text as a spreadsheet puts it: typing rules per column, quoted fields,
    // CRLF lines, rows past the end become new rows; a block too wide for
    // the columns right of the current cell changes nothing.
    void spreadsheetTextIntoExistingAndNewRows()
    {
        TestSupport::ScratchSqlite db(R"(
            create table s (id integer primary key, name text, qty integer, note text);
            insert into s values (1, 'a', 1, 'x'), (2, 'b', 2, 'y');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("s")).DataGrid1;
        putText(QStringLiteral("A2\t\t\r\nB2\t20\t\"two\nlines\"\r\nC\t\t\"say \"\"hi\"\"\"\r\n"));
        typeIntoCell(grid, 0, 3, QStringLiteral("typed"));
        {
            BoxCatcher boxes;
            goTo(grid, 0, 2);
            key(grid, Qt::Key_V);
            QCOMPARE(boxes.count(), 1);
            QVERIFY2(boxes.lastText().contains(QStringLiteral("3 columns wide, but only 2 columns")),
                     qPrintable(boxes.lastText()));
        }
        // Not even the row being edited was written.
        QCOMPARE(db.query("select count(*) || '/' || sum(note in ('x', 'y')) from s").at(0).at(0), std::optional<std::string>("2/2"));
        QCOMPARE(grid.Model()->pendingRow(), 0);
        QCOMPARE(cellText(grid, 0, 3), QStringLiteral("typed"));

        activate(GetForm3());
        clickCell(grid, 0, 1);
        key(grid, Qt::Key_V);
        const Rows rows = db.query("select id, name, quote(qty), quote(note) from s order by id");
        QCOMPARE(rows.size(), std::size_t(3));
        QCOMPARE(rows[0], (std::vector<std::optional<std::string>>{"1", "A2", "NULL", "''"}));
        QCOMPARE(rows[1], (std::vector<std::optional<std::string>>{"2", "B2", "20", "'two\nlines'"}));
        QCOMPARE(rows[2], (std::vector<std::optional<std::string>>{"3", "C", "NULL", "'say \"hi\"'"}));
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("3 rows written"));
        QVERIFY(grid.Model()->isNewRowPlaceholder(3));
    }

    // Another user changed row 8: rows 1-7 are written, row 8 keeps the
    // values pasted and stays pending, rows 9-10 are untouched. The row the
    // user was editing is written first; when that is refused, nothing is pasted.
    // Export, then import into an empty copy of the table: the copy equals
    // the original, NULL and the empty text apart, binary values whole. An
    // import is one step of undo. A file with a refused line writes the
    // lines before it, not those after, and says which line and why.
    void exportThenImportMakesAnEqualCopy_data() { addEngines(); }
    void exportThenImportMakesAnEqualCopy()
    {
        FETCH_ENGINE();
        const std::string bytes = postgres ? "bytea" : "blob";
        const Db db(postgres, "create table src (id integer primary key, name text, amount numeric, data " + bytes
                                  + ");"
                                    " insert into src values (1, 'plain', 1.5, null), (2, '', null, null),"
                                    " (3, null, -7, null), (4, 'say \"hi\", then\ngo', 12345678901234567, null);"
                                    " create table dst (id integer primary key, name text, amount numeric, data "
                                  + bytes + ");");
        db.exec(postgres ? "update src set data = '\\x00ff' where id = 1" : "update src set data = x'00ff' where id = 1");
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("src.csv"));
        // A message would be a failure; caught, it does not hang the test.
        auto none = std::make_unique<BoxCatcher>();
        const auto trigger = [](DataGrid& grid, const QString& text) {
            for (QAction* a : grid.actions())
                if (a->text() == text)
                    a->trigger();
        };
        {
            DataGrid& grid = db.open(QStringLiteral("src"));
            RowWindowsSupport::FileDialogAnswer answer(csv);
            trigger(grid, QStringLiteral("Export Rows\u2026"));
            QVERIFY(answer.answered());
        }
        resetPages();
        DataGrid& grid = db.open(QStringLiteral("dst"));
        QStringList preselected;
        QTimer::singleShot(0, [&preselected] {
            // The file dialog first, then the import window.
            QTimer::singleShot(200, [&preselected] {
                auto* window = qobject_cast<ImportWindow*>(QApplication::activeModalWidget());
                if (!window)
                    return;
                for (int c = 0; c < 4; ++c)
                    preselected << window->source(c)->currentText();
                maybeScreenshot(QStringLiteral("form3-import-window"));
                window->accept();
            });
        });
        RowWindowsSupport::FileDialogAnswer answer(csv);
        trigger(grid, QStringLiteral("Import Rows\u2026"));
        QVERIFY(answer.answered());
        QCOMPARE(preselected, (QStringList{"id", "name", "amount", "data"}));
        QCOMPARE(grid.statusLine()->text(), QStringLiteral("4 rows imported."));
        const std::string both = postgres ? "select id, name, amount, encode(data, 'hex') from " : "select id, name, amount, hex(data) from ";
        QCOMPARE(db.query(both + "dst order by id"), db.query(both + "src order by id"));
        QCOMPARE(db.value("select count(*) from dst where name = ''"), QStringLiteral("1"));
        QCOMPARE(db.value("select count(*) from dst where name is null"), QStringLiteral("1"));
        QCOMPARE(none->count(), 0);
        none.reset();

        // One step of undo takes the four rows out again.
        activate(GetForm3());
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo ")), QStringList{QStringLiteral("Undo Import of 4 Rows")});
        key(grid, Qt::Key_Z);
        QCOMPARE(db.value("select count(*) from dst"), QStringLiteral("0"));

        // Line 4 holds a key already there: lines 2 and 3 are written, 5 not.
        db.exec("insert into dst (id, name) values (9, 'there')");
        const QString bad = dir.filePath(QStringLiteral("bad.csv"));
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("id,name\r\n10,a\r\n11,b\r\n9,c\r\n12,d\r\n");
        }
        QTimer::singleShot(0, [] {
            QTimer::singleShot(200, [] {
                if (auto* window = qobject_cast<ImportWindow*>(QApplication::activeModalWidget()))
                    window->accept();
            });
        });
        {
            BoxCatcher boxes;
            RowWindowsSupport::FileDialogAnswer again(bad);
            trigger(grid, QStringLiteral("Import Rows\u2026"));
            QTRY_COMPARE(boxes.count(), 1);
            QVERIFY2(boxes.lastText().startsWith(QStringLiteral("Line 4 of the file could not be imported: ")),
                     qPrintable(boxes.lastText()));
            QVERIFY2(boxes.lastText().contains(QStringLiteral("The 2 rows before it were written")),
                     qPrintable(boxes.lastText()));
        }
        QCOMPARE(db.value("select count(*) from dst where id in (10, 11)"), QStringLiteral("2"));
        QCOMPARE(db.value("select count(*) from dst where id = 12"), QStringLiteral("0"));
        QCOMPARE(db.value("select name from dst where id = 9"), QStringLiteral("there"));
    }

    void aRefusedRowStopsThePaste_data() { addEngines(); }
    void aRefusedRowStopsThePaste()
    {
        std::string sql = "create table p (id integer primary key, v text, w integer);";
        for (int i = 1; i <= 10; ++i)
            sql += " insert into p values (" + std::to_string(i) + ", 'v" + std::to_string(i) + "', " + std::to_string(i) + ");";
        FETCH_ENGINE();
        const Db db(postgres, sql);
        DataGrid& grid = db.open(QStringLiteral("p"));
        db.exec("update p set v = 'theirs' where id = 8");
        QStringList block;
        for (int i = 1; i <= 10; ++i)
            block << QStringLiteral("new%1\t%2").arg(i).arg(100 + i);
        putText(block.join(u'\n'));
        typeIntoCell(grid, 0, 2, QStringLiteral("55"));
        goTo(grid, 0, 1);
        {
            BoxCatcher boxes;
            key(grid, Qt::Key_V);
            QCOMPARE(boxes.count(), 1);
            QVERIFY2(boxes.lastText().startsWith(QStringLiteral("7 of 10 rows written; row 8: ") + kChanged),
                     qPrintable(boxes.lastText()));
        }
        QCOMPARE(db.value("select count(*) from p where id <= 7 and v = 'new' || id and w = 100 + id"), QStringLiteral("7"));
        QCOMPARE(db.value("select v || w from p where id = 8"), QStringLiteral("theirs8"));
        QCOMPARE(db.value("select v || w from p where id = 9"), QStringLiteral("v99"));
        QCOMPARE(db.value("select v || w from p where id = 10"), QStringLiteral("v1010"));
        QCOMPARE(grid.currentIndex().row(), 7);
        QVERIFY(grid.Model()->isRowPending(7));
        QCOMPARE(cellText(grid, 7, 1), QStringLiteral("new8"));
        QCOMPARE(cellText(grid, 7, 2), QStringLiteral("108"));
        QCOMPARE(cellText(grid, 8, 1), QStringLiteral("v9"));

        // The paste is one step: undo takes back the seven rows.
        activate(GetForm3());
        key(grid, Qt::Key_Escape, Qt::NoModifier);
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo ")), QStringList{QStringLiteral("Undo Paste of 7 Rows")});
        key(grid, Qt::Key_Z);
        QCOMPARE(db.value("select count(*) from p where v = 'v' || id and w = id"), QStringLiteral("8"));
        QCOMPARE(db.value("select v || w from p where id = 1"), QStringLiteral("v155")); // written before the paste

        // A row being edited whose write is refused: back to it, nothing
        // pasted (another user's change is settled in the conflict window).
        typeIntoCell(grid, 8, 1, QStringLiteral("mine"));
        db.exec("update p set v = 'theirs too' where id = 9");
        {
            RowWindowsSupport::ConflictCatcher keep([](ConflictWindow*) { return QStringLiteral("Keep Editing"); });
            grid.setCurrentIndex(grid.model()->index(8, 1));
            key(grid, Qt::Key_V);
            QCOMPARE(keep.count(), 1);
        }
        QCOMPARE(db.value("select count(*) from p where v like 'new%'"), QStringLiteral("0"));
        QVERIFY(grid.Model()->isRowPending(8));
    }

    // More than 1,000 rows: asked first; progress with Stop, which ends the
    // paste after the row being written.
    void manyRowsAskFirstAndStop()
    {
        TestSupport::ScratchSqlite db(R"(
            create table m (id integer primary key, v text);
            insert into m with recursive r(i) as (select 1 union all select i + 1 from r where i < 1500) select i, 'v' || i from r;
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("m")).DataGrid1;
        // 1,500 rows are more than the first block read: the rest may still be coming.
        QTRY_VERIFY(!grid.Model()->reading());
        QStringList block;
        for (int i = 1; i <= 1500; ++i)
            block << QStringLiteral("p%1").arg(i);
        putText(block.join(u'\n'));
        grid.setCurrentIndex(grid.model()->index(0, 1));
        {
            BoxCatcher no([](QMessageBox*) { return QStringLiteral("&No"); });
            key(grid, Qt::Key_V);
            QCOMPARE(no.count(), 1);
            QVERIFY(no.lastText().contains(QStringLiteral("1,500 rows")));
        }
        QCOMPARE(db.query("select count(*) from m where v like 'p%'").at(0).at(0), std::optional<std::string>("0"));

        activate(GetForm3());
        bool sawDialog = false;
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->value() < 20)
                return;
            sawDialog = dialog->windowModality() == Qt::WindowModal && dialog->labelText().contains(QStringLiteral("of 1,500 rows"));
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("Stop"))
                    b->click();
            stopper.stop();
        });
        stopper.start(5);
        BoxCatcher boxes([](QMessageBox* box) { return box->text().startsWith(QStringLiteral("Paste")) ? QStringLiteral("&Yes") : QString(); });
        key(grid, Qt::Key_V);
        QVERIFY(sawDialog);
        QCOMPARE(boxes.count(), 2);
        const QString summary = boxes.seen[1].text;
        QVERIFY2(summary.endsWith(QStringLiteral(" of 1500 rows written before Stop")), qPrintable(summary));
        const int written = summary.section(u' ', 0, 0).toInt();
        QVERIFY(written >= 20 && written < 1500);
        QCOMPARE(QString::fromStdString(*db.query("select count(*) from m where v = 'p' || id").at(0).at(0)), QString::number(written));
        QCOMPARE(QString::fromStdString(*db.query("select count(*) from m where v like 'p%'").at(0).at(0)), QString::number(written));
        QCOMPARE(grid.Model()->pendingRow(), -1);
    }

    // While the rest of the table is read, a paste only says why it waits.
    void pasteWaitsForTheRead()
    {
        // Every row computes its generated column anew as it is read: seconds in all.
        TestSupport::ScratchSqlite db(R"(
            create table slow (id integer primary key, v text,
                               w integer generated always as (length(hex(zeroblob(40000 + id % 2)))) virtual);
            insert into slow (id, v) with recursive r(n) as (select 1 union all select n + 1 from r where n < 60000)
                select n, 'row ' || n from r;
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("slow")).DataGrid1;
        QVERIFY(grid.Model()->reading());
        putText(QStringLiteral("pasted"));
        goTo(grid, 0, 1);
        key(grid, Qt::Key_V);
        QVERIFY2(grid.statusLine()->text().contains(QStringLiteral("Rows can be pasted once they are all read")),
                 qPrintable(grid.statusLine()->text()));
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("row 1"));
        grid.stopReading();
    }

    // Typing taken back cell by cell; a written row, a new row and deleted
    // rows taken back and done again, rows followed as deletions move them;
    // the menu names what it takes back; reading the table again forgets it all.
    void undoAndRedo()
    {
        TestSupport::ScratchSqlite db(R"(
            create table u (id integer primary key, name text, n integer, b blob);
            insert into u values (1, 'a', 1, X'01'), (2, 'b', 2, NULL), (3, 'c', NULL, X''), (4, 'd', 4, NULL), (5, 'e', 5, NULL);
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("u")).DataGrid1;
        const auto v = [&db](const std::string& sql) { return QString::fromStdString(db.query(sql).at(0).at(0).value_or("<NULL>")); };
        // The deletion's question is the only message.
        BoxCatcher boxes([](QMessageBox*) { return QStringLiteral("&Yes"); });

        typeIntoCell(grid, 1, 1, QStringLiteral("B"));
        typeIntoCell(grid, 1, 2, QStringLiteral("20"));
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo")), QStringList{QStringLiteral("Undo Typing in Row 2")});
        key(grid, Qt::Key_Z);
        QCOMPARE(cellText(grid, 1, 2), QStringLiteral("2"));
        QCOMPARE(cellText(grid, 1, 1), QStringLiteral("B"));
        key(grid, Qt::Key_Z);
        QVERIFY(!grid.Model()->isRowPending(1));
        key(grid, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(cellText(grid, 1, 1), QStringLiteral("B"));
        QVERIFY(grid.Model()->isRowPending(1));
        key(grid, Qt::Key_Down, Qt::NoModifier);
        QCOMPARE(v("select name || n from u where id = 2"), QStringLiteral("B2"));

        // A written row: the menu names it, undo writes the value read back, redo again.
        grid.setCurrentIndex(grid.model()->index(3, 1));
        QStringList items = contextMenu(grid, QStringLiteral("Undo Change to Row 2"));
        QVERIFY2(items.contains(QStringLiteral("Copy")) && items.contains(QStringLiteral("Paste")), qPrintable(items.join(u',')));
        QCOMPARE(v("select name from u where id = 2"), QStringLiteral("b"));
        QCOMPARE(grid.currentIndex().row(), 1);
        QCOMPARE(contextMenu(grid, {}, QStringLiteral("form3-context-menu")).filter(QStringLiteral("Redo")),
                 QStringList{QStringLiteral("Redo Change to Row 2")});
        key(grid, Qt::Key_Y);
        QCOMPARE(v("select name from u where id = 2"), QStringLiteral("B"));

        // A change to row 5, then rows 1 and 2 deleted: taken back in turn.
        typeIntoCell(grid, 4, 1, QStringLiteral("E"));
        typeIntoCell(grid, 5, 1, QStringLiteral("new")); // leaving row 5 writes it; this types a new row
        key(grid, Qt::Key_Up, Qt::NoModifier);
        QCOMPARE(v("select count(*) from u where name in ('E', 'new')"), QStringLiteral("2"));
        clickRowHeader(grid, 0);
        clickRowHeader(grid, 1, Qt::ShiftModifier);
        key(grid, Qt::Key_Delete, Qt::NoModifier);
        QCOMPARE(boxes.count(), 1);
        activate(GetForm3());
        QCOMPARE(v("select count(*) from u"), QStringLiteral("4"));
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo")), QStringList{QStringLiteral("Undo Deletion of 2 Rows")});
        key(grid, Qt::Key_Z);
        QCOMPARE(v("select name || n || hex(b) || typeof(b) from u where id = 1"), QStringLiteral("a101blob"));
        QCOMPARE(v("select name || n || quote(b) from u where id = 2"), QStringLiteral("B2NULL"));
        key(grid, Qt::Key_Z); // the new row
        QCOMPARE(v("select count(*) from u where name = 'new'"), QStringLiteral("0"));
        key(grid, Qt::Key_Z); // row 5, now the third row read
        QCOMPARE(v("select name from u where id = 5"), QStringLiteral("e"));
        QCOMPARE(v("select count(*) from u"), QStringLiteral("5"));
        key(grid, Qt::Key_Y);
        key(grid, Qt::Key_Y);
        QCOMPARE(v("select count(*) from u where name in ('E', 'new')"), QStringLiteral("2"));
        key(grid, Qt::Key_Y);
        QCOMPARE(v("select count(*) from u where id in (1, 2)"), QStringLiteral("0"));

        QTest::keyClick(&grid, Qt::Key_F5);
        QTRY_VERIFY(!grid.Model()->reading());
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo")), QStringList{QStringLiteral("Undo")});
        QVERIFY(!grid.clipboard()->History()->canUndo());
        QCOMPARE(boxes.count(), 1);
    }

    // Deleted rows come back with every value exact; a row typed in is
    // deleted again by its undo.
    void undoOfDeleteAndInsert_data() { addEngines(); }
    void undoOfDeleteAndInsert()
    {
        FETCH_ENGINE();
        const bool lite = !postgres;
        const Db db(postgres, std::string("create table d (id integer primary key, t text, n ") + (lite ? "numeric" : "numeric(38,0)")
                                  + ", ts timestamp(6), b " + (lite ? "blob" : "bytea") + ");"
                    " insert into d values (1, '', 12345678901234567890123456789012345678, '2024-02-29 13:14:15.123456', "
                                  + (lite ? "X'00ff'" : "'\\x00ff'::bytea") + ");"
                    " insert into d values (2, null, null, null, null);");
        const std::string dump = lite ? "select id, quote(t), quote(n), ts, quote(b) from d order by id"
                                      : "select id, coalesce(t, '<NULL>'), n::text, ts::text, encode(b, 'hex') from d order by id";
        const Rows before = db.query(dump);
        DataGrid& grid = db.open(QStringLiteral("d"));
        BoxCatcher boxes([](QMessageBox*) { return QStringLiteral("&Yes"); }); // the deletion's question only

        clickRowHeader(grid, 0);
        clickRowHeader(grid, 1, Qt::ShiftModifier);
        key(grid, Qt::Key_Delete, Qt::NoModifier);
        activate(GetForm3());
        QCOMPARE(db.value("select count(*) from d"), QStringLiteral("0"));
        key(grid, Qt::Key_Z);
        QCOMPARE(db.query(dump), before);

        typeIntoCell(grid, 2, 0, QStringLiteral("3"));
        typeIntoCell(grid, 2, 1, QStringLiteral("new"));
        key(grid, Qt::Key_Up, Qt::NoModifier);
        QCOMPARE(db.value("select t from d where id = 3"), QStringLiteral("new"));
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo ")), QStringList{QStringLiteral("Undo New Row 3")});
        key(grid, Qt::Key_Z);
        QCOMPARE(db.query(dump), before);
        QVERIFY(grid.Model()->isNewRowPlaceholder(2));
        QCOMPARE(boxes.count(), 1);
    }

    // Another user changed the row since: the undo writes nothing.
    void undoRefusedWhenAnotherUserChangedTheRow_data() { addEngines(); }
    void undoRefusedWhenAnotherUserChangedTheRow()
    {
        FETCH_ENGINE();
        const Db db(postgres, "create table o (id integer primary key, v text); insert into o values (1, 'one'); insert into o values (2, 'two');");
        DataGrid& grid = db.open(QStringLiteral("o"));
        typeIntoCell(grid, 0, 1, QStringLiteral("mine"));
        key(grid, Qt::Key_Down, Qt::NoModifier);
        db.exec("update o set v = 'theirs' where id = 1");
        BoxCatcher boxes;
        key(grid, Qt::Key_Z);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.lastText(), QStringLiteral("Change to Row 1 could not be undone: %1.\n\nNothing was written.").arg(kChanged));
        QCOMPARE(db.value("select v from o where id = 1"), QStringLiteral("theirs"));
        QCOMPARE(grid.Model()->pendingRow(), -1);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("mine"));
    }

    // Ctrl+H: the replace line; Ctrl+F: without it. Replace changes the
    // current match and moves on; Replace All every match in its scope,
    // row by row, stopping at a refused row; one step to undo.
    void replaceAndReplaceAll()
    {
        TestSupport::ScratchSqlite db(R"(
            create table f (id integer primary key, a text, b text);
            insert into f values (1, 'apple', 'Pear'), (2, 'plum', 'apple pie'), (3, 'APPLE', 'fig'), (4, 'crab apple', 'pineapple');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("f")).DataGrid1;
        const auto v = [&db](const std::string& sql) { return QString::fromStdString(db.query(sql).at(0).at(0).value_or("<NULL>")); };
        GridFindBar& bar = *grid.findBar();
        BoxCatcher boxes;
        key(grid, Qt::Key_H);
        QVERIFY(bar.isVisible() && bar.replaceBox()->isVisible());
        QCOMPARE(bar.replaceBox()->accessibleName(), QStringLiteral("Replace with"));
        key(grid, Qt::Key_F);
        QVERIFY(bar.isVisible() && !bar.replaceBox()->isVisible());
        QTest::keyClick(bar.textBox(), Qt::Key_H, Qt::ControlModifier);
        QVERIFY(bar.replaceBox()->isVisible());
        // Tab reaches the replace line from the text to find.
        QSet<QWidget*> reached;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached.insert(QApplication::focusWidget());
        }
        QVERIFY(reached.contains(bar.replaceBox()) && reached.contains(bar.replaceButton())
                && reached.contains(bar.replaceAllButton()));

        QTest::keyClicks(bar.textBox(), QStringLiteral("apple"));
        QTest::keyClicks(bar.replaceBox(), QStringLiteral("pear"));
        maybeScreenshot(QStringLiteral("form3-replace-bar"));
        grid.setCurrentIndex(grid.model()->index(0, 1));
        QTest::keyClick(bar.replaceBox(), Qt::Key_Return); // "apple" matches: replaced, on to "apple pie"
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("pear"));
        QCOMPARE(grid.currentIndex(), grid.model()->index(1, 2));
        QTest::mouseClick(bar.replaceButton(), Qt::LeftButton); // leaves row 1, which is written
        QCOMPARE(v("select a from f where id = 1"), QStringLiteral("pear"));
        QCOMPARE(cellText(grid, 1, 2), QStringLiteral("pear pie"));
        QCOMPARE(grid.currentIndex(), grid.model()->index(2, 1));

        // Another user's change to row 4 stops Replace All there.
        db.exec("update f set b = 'theirs' where id = 4");
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.lastText().startsWith(QStringLiteral("1 of 2 rows written; row 4: ") + kChanged), qPrintable(boxes.lastText()));
        QCOMPARE(v("select a from f where id = 3"), QStringLiteral("pear"));
        QCOMPARE(v("select a || '/' || b from f where id = 4"), QStringLiteral("crab apple/theirs"));
        QVERIFY(grid.Model()->isRowPending(3));
        QCOMPARE(cellText(grid, 3, 1), QStringLiteral("crab pear"));
        QTest::keyClick(&grid, Qt::Key_Escape, Qt::NoModifier);

        // Only the columns changed are checked: row 4's first column can be written.
        activate(GetForm3());
        QTest::mouseClick(bar.findChild<QCheckBox*>(), Qt::LeftButton); // Match Case
        bar.textBox()->setText(QStringLiteral("crab apple"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("1 cell replaced"));
        QCOMPARE(v("select a || '/' || b from f where id = 4"), QStringLiteral("pear/theirs"));
        const std::string all = "select group_concat(a || '/' || b, ',') from (select * from f order by id)";
        bar.textBox()->setText(QStringLiteral("pear"));
        bar.replaceBox()->setText(QStringLiteral("fig"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("4 cells replaced in 4 rows"));
        // Beside a long result the options keep their names whole.
        QTest::qWait(0);
        for (const QCheckBox* box : bar.findChildren<QCheckBox*>())
            QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
        QCOMPARE(v(all), QStringLiteral("fig/Pear,plum/fig pie,fig/fig,fig/theirs"));
        QCOMPARE(contextMenu(grid).filter(QStringLiteral("Undo")), QStringList{QStringLiteral("Undo Replace All in 4 Rows")});
        key(grid, Qt::Key_Z);
        QCOMPARE(v(all), QStringLiteral("pear/Pear,plum/pear pie,pear/fig,pear/theirs"));
        QCOMPARE(boxes.count(), 1);
    }

    // A value holding bytes that are no UTF-8 (SQLite keeps any): Replace,
    // Replace All and the cell's own editor change the text they touch and
    // keep every other byte as it was, a leading byte order mark too.
    void bytesThatAreNoTextAreKept()
    {
        TestSupport::ScratchSqlite db(R"(
            create table f (id integer primary key, a text);
            insert into f values (1, cast(X'41FF42C320616263' as text)), (2, cast(X'EFBBBF616263FE' as text)),
                                 (3, cast(X'C3FF' as text)), (4, 'plain abc');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("f")).DataGrid1;
        const auto hex = [&db](int id) {
            return QString::fromStdString(db.query("select hex(a) from f where id = " + std::to_string(id)).at(0).at(0).value());
        };
        GridFindBar& bar = *grid.findBar();
        BoxCatcher boxes;
        key(grid, Qt::Key_H);
        QTest::keyClicks(bar.textBox(), QStringLiteral("abc"));
        QTest::keyClicks(bar.replaceBox(), QStringLiteral("xyz"));
        QTest::mouseClick(bar.replaceAllButton(), Qt::LeftButton);
        QCOMPARE(bar.resultLabel()->text(), QStringLiteral("3 cells replaced in 3 rows"));
        QCOMPARE(hex(1), QStringLiteral("41FF42C32078797A"));
        QCOMPARE(hex(2), QStringLiteral("EFBBBF78797AFE"));
        QCOMPARE(hex(4), QStringLiteral("706C61696E2078797A"));

        // The editor, opened on a value with stray bytes, changed at its end.
        grid.setFocus();
        goTo(grid, 2, 1);
        QTest::keyClick(&grid, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_End);
        QTest::keyClicks(editor, QStringLiteral("!"));
        QTest::keyClick(editor, Qt::Key_Return);
        goTo(grid, 3, 1);
        QCOMPARE(hex(3), QStringLiteral("C3FF21"));
        QCOMPARE(boxes.count(), 0);
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridClipboard)
#include "test_grid_clipboard.moc"
