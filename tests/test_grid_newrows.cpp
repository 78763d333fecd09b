// The new row through the real window on SQLite and PostgreSQL: its empty
// cells show what the database will put there (the default as the database
// writes it, a column the database fills, a column that needs a value),
// those hints are never values (not copied, not written), the insert leaves
// untyped columns to their defaults and the grid then shows what was stored;
// a NOT NULL column left empty is named before anything is written.

#include "oracle/TableModel.h"
#include "pages/Forms.h"
#include "support/EngineDb.h"

#include <QApplication>
#include <QClipboard>

using namespace PageSupport;

namespace {

// id filled by the database, name required, made/n/tag with defaults, note nullable.
std::string tableSql(bool postgres)
{
    return postgres ? "create table t (id integer generated always as identity primary key, name text not null,"
                      " made timestamp default now(), n integer default 0, tag text default 'n/a', note text);"
                      " insert into t (name) values ('first');"
                    : "create table t (id integer primary key, name text not null,"
                      " made text default (datetime('now')), n integer default 0, tag text default 'n/a', note text);"
                      " insert into t (name) values ('first');";
}

QStringList hints(const DataGrid& grid, int row)
{
    QStringList out;
    for (int c = 0; c < grid.model()->columnCount(); ++c)
        out << grid.model()->index(row, c).data(TableModel::HintRole).toString();
    return out;
}

void leaveRow(DataGrid& grid, int to)
{
    grid.setFocus();
    grid.setCurrentIndex(grid.model()->index(to, 1));
}

} // namespace

class TestGridNewRows : public PageTest {
    Q_OBJECT

private slots:
    // The hints on the placeholder and on a new row's untyped cells; they
    // are not the cells' values, are not copied, and the insert leaves
    // those columns out, so the database's defaults and identity apply and
    // the grid shows them once written.
    void hintsShownThenDefaultsStored_data() { addEngines(); }
    void hintsShownThenDefaultsStored()
    {
        FETCH_ENGINE();
        const EngineDb db(postgres, tableSql(postgres));
        DataGrid& grid = db.open(QStringLiteral("t"));
        QTRY_COMPARE(grid.model()->rowCount(), 2);
        const QStringList expected =
            postgres ? QStringList{"(filled by the database)", "(required)", "now()", "0", "'n/a'::text", ""}
                     : QStringList{"(filled by the database)", "(required)", "datetime('now')", "0", "'n/a'", ""};
        QCOMPARE(hints(grid, 1), expected);
        // A row read shows none; the placeholder's cells stay empty as values.
        QCOMPARE(hints(grid, 0), QStringList(6, QString()));
        QCOMPARE(cellText(grid, 1, 0) + cellText(grid, 1, 3), QString());
        QCOMPARE(grid.model()->index(1, 2).data(Qt::AccessibleTextRole).toString(), expected[2]);
        maybeScreenshot(QStringLiteral("newrow-hints-placeholder"));

        typeIntoCell(grid, 1, 1, QStringLiteral("second"));
        QVERIFY(grid.Model()->isRowPending(1));
        // Typed: that cell's hint goes; the others stay, and are no NULLs.
        QStringList typedHints = expected;
        typedHints[1] = QString();
        QCOMPARE(hints(grid, 1), typedHints);
        QCOMPARE(cellText(grid, 1, 1), QStringLiteral("second"));
        QCOMPARE(cellText(grid, 1, 3), QString());
        QVERIFY(!grid.model()->index(1, 3).data(TableModel::NullRole).toBool());
        maybeScreenshot(QStringLiteral("newrow-hints-typing"));

        // Copying the row being typed carries no hint.
        grid.setFocus();
        grid.selectionModel()->select(QItemSelection(grid.model()->index(1, 0), grid.model()->index(1, 5)),
                                      QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY2(copied.contains(QStringLiteral("second")), qPrintable(copied));
        for (const QString& hint : expected)
            if (!hint.isEmpty())
                QVERIFY2(!copied.contains(hint), qPrintable(copied));

        BoxCatcher none;
        leaveRow(grid, 0);
        QTRY_VERIFY(!grid.Model()->isRowPending(1));
        QCOMPARE(none.count(), 0);
        QCOMPARE(db.query("select id, name, made is not null, n, tag, note from t where name = 'second'"),
                 (TestSupport::Rows{{"2", "second", postgres ? "t" : "1", "0", "n/a", std::nullopt}}));
        // The grid shows what the database stored, and no hint any more.
        QCOMPARE(cellText(grid, 1, 0) + cellText(grid, 1, 3) + cellText(grid, 1, 4) + cellText(grid, 1, 5),
                 QStringLiteral("20n/a(NULL)"));
        QVERIFY(cellText(grid, 1, 2).startsWith(QStringLiteral("20")));
        QCOMPARE(hints(grid, 1), QStringList(6, QString()));
    }

    // A new row that leaves a NOT NULL column without a default empty is
    // refused before any statement, naming the column; the typed values
    // stay and the row stays pending; typing the value then writes it.
    void requiredColumnNamedAndNothingWritten_data() { addEngines(); }
    void requiredColumnNamedAndNothingWritten()
    {
        FETCH_ENGINE();
        const EngineDb db(postgres, tableSql(postgres));
        DataGrid& grid = db.open(QStringLiteral("t"));
        QTRY_COMPARE(grid.model()->rowCount(), 2);
        typeIntoCell(grid, 1, 5, QStringLiteral("a note"));
        {
            BoxCatcher boxes;
            leaveRow(grid, 0);
            QTRY_COMPARE(boxes.count(), 1);
            QVERIFY2(boxes.lastText().contains(QStringLiteral("the column \"name\" needs a value")), qPrintable(boxes.lastText()));
            QVERIFY2(boxes.lastText().contains(QStringLiteral("NOT NULL")), qPrintable(boxes.lastText()));
        }
        QCOMPARE(db.value("select count(*) from t"), QStringLiteral("1"));
        QTRY_COMPARE(grid.currentIndex().row(), 1);
        QVERIFY(grid.Model()->isRowPending(1));
        QCOMPARE(cellText(grid, 1, 5), QStringLiteral("a note"));
        QCOMPARE(grid.model()->index(1, 1).data(TableModel::HintRole).toString(), QStringLiteral("(required)"));

        activate(GetForm3());
        typeIntoCell(grid, 1, 1, QStringLiteral("named"));
        BoxCatcher none;
        leaveRow(grid, 0);
        QTRY_VERIFY(!grid.Model()->isRowPending(1));
        QCOMPARE(none.count(), 0);
        QCOMPARE(db.value("select note from t where name = 'named'"), QStringLiteral("a note"));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridNewRows)
#include "test_grid_newrows.moc"
