// Export as SQL INSERT statements and export of the selected cells, through
// the real window on SQLite and PostgreSQL: the file, run into the emptied
// table, gives back equal rows (NULL and the empty text apart, quotes, line
// breaks, exact numbers, bytes whole); the selection's file holds the
// selected rows' selected columns in the order shown.

#include "oracle/TableModel.h"
#include "pages/Forms.h"
#include "pages/GridStatusLine.h"
#include "support/EngineDb.h"
#include "support/RowWindowsSupport.h"

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>

using namespace PageSupport;

namespace {

void trigger(DataGrid& grid, const QString& text)
{
    for (QAction* a : grid.actions())
        if (a->text() == text)
            a->trigger();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestGridExportSql : public PageTest {
    Q_OBJECT

private slots:
    // Every kind of value, written as SQL, deleted, and run back in: the
    // table holds the same rows again.
    void sqlFileRecreatesTheRows_data() { addEngines(); }
    void sqlFileRecreatesTheRows()
    {
        FETCH_ENGINE();
        const std::string table = postgres ? "create table \"Odd \"\"name\" (id integer primary key, \"the text\" text,"
                                             " amount numeric, r double precision, flag boolean, data bytea);"
                                           : "create table \"Odd \"\"name\" (id integer primary key, \"the text\" text,"
                                             " amount numeric, r real, flag boolean, data blob);";
        const std::string rows =
            "insert into \"Odd \"\"name\" values (1, 'it''s', 1.5, 0.1, true, null),"
            " (2, '', null, -2.5e-300, false, null), (3, null, -7, null, null, null),"
            " (4, 'two\nlines, \"quoted\" \\ back', 12345678901234567890.123456789, 1e300, true, null),"
            " (5, 'ünï ☃', 0, 0, null, null);";
        const EngineDb db(postgres, table + rows);
        db.exec(postgres ? "update \"Odd \"\"name\" set data = '\\x00ff27' where id = 1;"
                           " update \"Odd \"\"name\" set data = '\\x' where id = 2"
                         : "update \"Odd \"\"name\" set data = x'00ff27' where id = 1;"
                           " update \"Odd \"\"name\" set data = x'' where id = 2");
        const std::string all = postgres
                                    ? "select id, \"the text\", \"the text\" is null, amount, r, flag, encode(data, 'hex'),"
                                      " data is null from \"Odd \"\"name\" order by id"
                                    : "select id, \"the text\", \"the text\" is null, typeof(\"the text\"), amount,"
                                      " typeof(amount), r, flag, hex(data), typeof(data) from \"Odd \"\"name\" order by id";
        const TestSupport::Rows before = db.query(all);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd.sql"));
        {
            BoxCatcher none;
            DataGrid& grid = db.open(QStringLiteral("Odd \"name"));
            RowWindowsSupport::FileDialogAnswer answer(path);
            trigger(grid, QStringLiteral("Export Rows\u2026"));
            QVERIFY(answer.answered());
            QCOMPARE(grid.statusLine()->text(), QStringLiteral("5 rows exported to odd.sql."));
            QCOMPARE(none.count(), 0);
        }
        resetPages();
        const QByteArray sql = fileBytes(path);
        QVERIFY2(sql.contains(postgres ? "'\\x00FF27'::bytea" : "X'00FF27'"), sql.constData());

        db.exec("delete from \"Odd \"\"name\"");
        QCOMPARE(db.query("select count(*) from \"Odd \"\"name\"").at(0).at(0).value_or(""), std::string("0"));
        db.exec(sql.toStdString()); // as the table's owner, statement by statement
        QCOMPARE(db.query(all), before);
    }

    // The selected rows' selected columns, in the order shown (sorted here
    // by id descending), with the columns in their order on the screen.
    void selectionIsExported_data() { addEngines(); }
    void selectionIsExported()
    {
        FETCH_ENGINE();
        const EngineDb db(postgres, "create table t (id integer primary key, name text, n integer, note text);"
                              " insert into t values (1, 'one', 10, 'x'), (2, 'two', null, 'y'), (3, 'three', 30, 'z'),"
                              " (4, 'four', 40, 'w');");
        DataGrid& grid = db.open(QStringLiteral("t"));
        QTRY_COMPARE(grid.model()->rowCount(), 5);
        grid.sortBy(0, true); // 4, 3, 2, 1
        QTRY_COMPARE(grid.Model()->sortOrder().column, 0);
        // Rows 2 to 4 shown (ids 3, 2, 1), columns name and n; a second
        // range adds row 1 (id 4) in column n only: the file is the rectangle.
        grid.setFocus();
        QItemSelection selection(grid.model()->index(1, 1), grid.model()->index(3, 2));
        selection.select(grid.model()->index(0, 2), grid.model()->index(0, 2));
        grid.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("selected.csv"));
        {
            BoxCatcher none;
            RowWindowsSupport::FileDialogAnswer answer(csv);
            trigger(grid, QStringLiteral("Export Selection\u2026"));
            QVERIFY(answer.answered());
            QCOMPARE(none.count(), 0);
        }
        QCOMPARE(fileBytes(csv), QByteArray("name,n\r\nfour,40\r\nthree,30\r\ntwo,\r\none,10\r\n"));
        QVERIFY2(grid.statusLine()->text().endsWith(QStringLiteral("4 rows exported to selected.csv.")),
                 qPrintable(grid.statusLine()->text()));

        // Columns moved on the screen are written in their order there; as SQL too.
        grid.horizontalHeader()->moveSection(2, 1);
        grid.selectionModel()->select(QItemSelection(grid.model()->index(0, 1), grid.model()->index(1, 2)),
                                      QItemSelectionModel::ClearAndSelect);
        const QString sql = dir.filePath(QStringLiteral("moved.sql"));
        {
            RowWindowsSupport::FileDialogAnswer answer(sql);
            trigger(grid, QStringLiteral("Export Selection\u2026"));
            QVERIFY(answer.answered());
        }
        QCOMPARE(fileBytes(sql), QByteArray("BEGIN;\n"
                                            "INSERT INTO \"t\" (\"n\", \"name\") VALUES (40, 'four');\n"
                                            "INSERT INTO \"t\" (\"n\", \"name\") VALUES (30, 'three');\n"
                                            "COMMIT;\n"));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridExportSql)
#include "test_grid_export_sql.moc"
