// The whole wizard as a user goes through it: start with nothing stored,
// type the login, choose a table, change a cell, leave the row, and find the
// change in the database. On SQLite, and on PostgreSQL when the test server
// is configured.

#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>

using namespace PageSupport;

namespace {

void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center()); }

// Goes through the three pages and changes the cell in the first row under
// `column` to `newValue`, leaving the row by clicking the second row.
void runWizard(const QString& sid, const QString& user, const QString& password, const QString& table,
               const QString& column, const QString& newValue)
{
    StartProgram();
    Form1& form1 = GetForm1();
    QVERIFY(form1.isVisible());
    activate(form1);
    maybeScreenshot(QStringLiteral("form1"));

    click(form1.Text1);
    QTest::keyClicks(form1.Text1, sid);
    QTest::keyClick(form1.Text1, Qt::Key_Tab);
    QTest::keyClicks(form1.Text2, user);
    QTest::keyClick(form1.Text2, Qt::Key_Tab);
    QTest::keyClicks(form1.Text3, password);
    click(form1.Check3);

    Form2& form2 = GetForm2();
    QVERIFY(form2.isVisible());
    QVERIFY(!form1.isVisible());
    activate(form2);
    maybeScreenshot(QStringLiteral("form2"));
    TableList& list = *form2.List1;
    int row = -1;
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i) == table)
            row = i;
    QVERIFY2(row >= 0, qPrintable(table + QStringLiteral(" is not listed")));
    list.scrollTo(list.model()->index(row, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.visualRect(list.model()->index(row, 0)).center());
    click(form2.Check3);

    Form3& form3 = GetForm3();
    QVERIFY(form3.isVisible());
    QVERIFY(!form2.isVisible());
    activate(form3);
    QCOMPARE(form3.Label2->text(), QStringLiteral(" Now Editing: ") + table);
    DataGrid& grid = *form3.DataGrid1;
    QVERIFY(grid.hasFocus());
    maybeScreenshot(QStringLiteral("form3"));

    int col = -1;
    for (int c = 0; c < grid.model()->columnCount(); ++c)
        if (grid.model()->headerData(c, Qt::Horizontal).toString() == column)
            col = c;
    QVERIFY(col >= 0);
    const QModelIndex cell = grid.model()->index(0, col);
    grid.scrollTo(cell);
    // A double-click is a press and release, then a second press that
    // arrives as the double-click, then its release.
    const QPoint at = grid.visualRect(cell).center();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY2(editor, "double-clicking a cell opens no editor");
    editor->selectAll();
    QTest::keyClicks(editor, newValue);
    // Leaving the row by clicking a cell of the next row.
    const QModelIndex below = grid.model()->index(1, col);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, grid.visualRect(below).center());
    QTRY_VERIFY(!grid.Model()->isRowPending(0));
    QCOMPARE(grid.model()->index(0, col).data().toString(), newValue);
    QCOMPARE(grid.currentIndex().row(), 1);
}

} // namespace

class TestWizard : public PageTest {
    Q_OBJECT

private slots:
    void fromStartToAnEditOnSqlite()
    {
        TestSupport::ScratchSqlite db(R"(create table plants (id integer primary key, name text, height real);
                                         insert into plants values (1, 'fern', 0.4), (2, 'oak', 25.0);
                                         create table "Other Table" (x text);)");
        runWizard(db.dataSource(), QStringLiteral("nobody"), QStringLiteral("s3cret;x"), QStringLiteral("plants"),
                  QStringLiteral("name"), QStringLiteral("bracken"));
        if (QTest::currentTestFailed())
            return;
        const TestSupport::Rows rows = db.query("select id, name, height from plants order by id");
        QCOMPARE(rows.size(), std::size_t(2));
        QCOMPARE(rows[0][1], std::optional<std::string>("bracken"));
        QCOMPARE(rows[0][2], std::optional<std::string>("0.4"));
        QCOMPARE(rows[1][1], std::optional<std::string>("oak"));
        // The login typed on the first page is remembered for the next start.
        QCOMPARE(storedValue(QStringLiteral("OracleSID")), db.dataSource());
        QCOMPARE(storedValue(QStringLiteral("OraclePassword")), QStringLiteral("s3cret;x"));
        QVERIFY(programEnds().isEmpty());
    }

    void fromStartToAnEditOnPostgres()
    {
        DERVANTA_REQUIRE_PG();
        const std::string table = TestSupport::uniqueName("Wizard Table ");
        const TestSupport::PgDropAtEnd cleanup({table});
        TestSupport::pgExec("create table \"" + table
                            + "\" (id integer primary key, label text, amount numeric(38, 10), seen timestamp);"
                              "insert into \""
                            + table
                            + "\" values (1, 'first', 12345678901234567890123456.0123456789, '2024-01-02 03:04:05.123456'),"
                              " (2, 'second', NULL, NULL)");
        const auto login = TestSupport::pgLogin();
        runWizard(TestSupport::pgDataSource(), login->user, login->password, QString::fromStdString(table),
                  QStringLiteral("label"), QStringLiteral("changed"));
        if (QTest::currentTestFailed())
            return;
        const TestSupport::Rows rows =
            TestSupport::pgQuery("select label, amount::text, seen::text from \"" + table + "\" order by id");
        QCOMPARE(rows[0][0], std::optional<std::string>("changed"));
        QCOMPARE(rows[0][1], std::optional<std::string>("12345678901234567890123456.0123456789"));
        QCOMPARE(rows[0][2], std::optional<std::string>("2024-01-02 03:04:05.123456"));
        QCOMPARE(rows[1][0], std::optional<std::string>("second"));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestWizard)
#include "test_wizard.moc"
