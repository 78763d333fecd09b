// The editor page driven through its real widgets: opening a table from the
// chooser, the layout on every size, Back and Next > again, and the grid's
// row writes (on leaving the row, on a refused write, on leaving the page).

#include "oracle/Globals.h"
#include "oracle/TableModel.h"
#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>

using namespace PageSupport;
using TestSupport::ScratchSqlite;

namespace {

const char* const kPeople = R"(
    create table people (id integer primary key, name text, score numeric, born date);
    insert into people values (1, 'Ann', 10, '1990-01-02');
    insert into people values (2, 'Bob', NULL, NULL);
    insert into people values (3, '', 0.1, '2001-12-31');
    create table "Odd ""Name"" here" (k integer primary key, v text);
    insert into "Odd ""Name"" here" values (7, 'seven');
    create table empty_one (alpha text, beta integer);
)";

// Chooses `table` and presses Next > where opening it is expected to fail.
void openFailing(const QString& table)
{
    TableList& list = *GetForm2().List1;
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i) == table)
            QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                              list.visualRect(list.model()->index(i, 0)).center());
    QCOMPARE(list.List(list.ListIndex()), table);
    QTest::mouseClick(GetForm2().Check3, Qt::LeftButton);
}

Form3& startAndOpen(const ScratchSqlite& db, const QString& table) { return PageSupport::startAndOpen(db.dataSource(), table); }

std::optional<std::string> value(const ScratchSqlite& db, const std::string& sql)
{
    const TestSupport::Rows rows = db.query(sql);
    return rows.empty() ? std::nullopt : rows[0][0];
}

} // namespace

class TestForm3 : public PageTest {
    Q_OBJECT

private slots:
    void openingShowsTheTableInAGrownCentredWindow()
    {
        ScratchSqlite db(kPeople);
        Form3& form3 = startAndOpen(db, QStringLiteral("people"));
        QVERIFY(form3.isVisible());
        QVERIFY(!GetForm2().isVisible());
        QCOMPARE(GetForm2().MousePointer(), 0);
        QCOMPARE(SelectedTable, QStringLiteral("people"));
        QCOMPARE(form3.windowTitle(), QStringLiteral("Dervanta"));
        QCOMPARE(form3.Label2->text(), QStringLiteral(" Now Editing: people"));
        QVERIFY(!form3.Check2->isEnabled());
        QVERIFY(form3.DataGrid1->hasFocus());

        const auto px = [&](int twips) { return TwipsToPixels(twips, &form3); };
        const int frame = form3.frameGeometry().height() - form3.height();
        QCOMPARE(form3.height(), px(2820) + px(2000));
        // The top edge is where a centred window of the design height has it.
        const int screenHeight = form3.screen()->geometry().height();
        QVERIFY(qAbs(form3.frameGeometry().top() - (screenHeight - px(2820) - frame) / 2) <= 1);

        DataGrid& grid = *form3.DataGrid1;
        maybeScreenshot(QStringLiteral("form3-people"));
        QCOMPARE(grid.model()->columnCount(), 4);
        QCOMPARE(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("name"));
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("Ann"));
        // NULL and the empty text look different.
        QVERIFY(grid.model()->index(1, 2).data(TableModel::NullRole).toBool());
        QVERIFY(!grid.model()->index(2, 1).data(TableModel::NullRole).toBool());
        QCOMPARE(cellText(grid, 2, 1), QString());
    }

    void layoutFollowsTheOuterSize()
    {
        ScratchSqlite db(kPeople);
        Form3& form3 = startAndOpen(db, QStringLiteral("people"));
        DataGrid& grid = *form3.DataGrid1;
        const auto px = [&](float twips) { return TwipsToPixels(twips, &form3); };
        const auto twips = [&](int pixels) { return static_cast<float>(PixelsToTwips(pixels, &form3)); };
        const int lefts[] = {form3.Check1->x(), form3.Check2->x(), form3.Check3->x()};

        for (const QSize size : {QSize(700, 500), QSize(420, 260), QSize(1000, 700)}) {
            form3.resize(size);
            QTRY_COMPARE(form3.size(), size);
            const float W = twips(form3.frameGeometry().width());
            const float H = twips(form3.frameGeometry().height());
            QCOMPARE(grid.width(), px(W - 500));
            QCOMPARE(grid.height(), px(H - 1970));
            QCOMPARE(grid.pos(), QPoint(px(120), px(480)));
            QCOMPARE(form3.Label1->y(), px(H - 1420));
            QCOMPARE(form3.Check1->y(), px(H - 1070));
            QCOMPARE(form3.Check2->y(), px(H - 1070));
            QCOMPARE(form3.Check3->y(), px(H - 1070));
            QCOMPARE(form3.Check1->x(), lefts[0]);
            QCOMPARE(form3.Check2->x(), lefts[1]);
            QCOMPARE(form3.Check3->x(), lefts[2]);
        }

        // Too small for the grid: its size stays as last accepted while the
        // note and the buttons still follow the bottom edge.
        const QSize lastGrid = grid.size();
        form3.resize(QSize(20, 60));
        QTRY_COMPARE(form3.size(), QSize(20, 60));
        const float H = twips(form3.frameGeometry().height());
        QCOMPARE(grid.size(), lastGrid);
        QCOMPARE(form3.Label1->y(), px(H - 1420));
        QCOMPARE(form3.Check3->y(), px(H - 1070));
        // Only the height is refused when the width still fits.
        form3.resize(QSize(600, 60));
        QTRY_COMPARE(form3.size(), QSize(600, 60));
        QCOMPARE(grid.width(), px(twips(form3.frameGeometry().width()) - 500));
        QCOMPARE(grid.height(), lastGrid.height());
    }

    void backKeepsTheBindingAndNextReadsAgain()
    {
        ScratchSqlite db(kPeople);
        Form3& form3 = startAndOpen(db, QStringLiteral("people"));
        const QPointer<TableModel> first = form3.DataGrid1->Model();
        QVERIFY(first);
        QSignalSpy loads(&GetForm2(), &Form2::listLoaded);
        const int chosen = GetForm2().List1->ListIndex();

        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        QVERIFY(!form3.isVisible());
        QVERIFY(GetForm2().isVisible());
        QCOMPARE(form3.DataGrid1->Model(), first.data());
        // Coming back from the editor neither reads the list nor moves the selection.
        QCOMPARE(loads.count(), 0);
        QCOMPARE(GetForm2().List1->ListIndex(), chosen);

        db.exec("update people set name = 'Changed elsewhere' where id = 1");
        chooseAndOpen(QStringLiteral("people"));
        QVERIFY(form3.isVisible());
        // The rowset read before went, with its model and connection.
        QVERIFY(first.isNull());
        QCOMPARE(cellText(*form3.DataGrid1, 0, 1), QStringLiteral("Changed elsewhere"));

        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        chooseAndOpen(QStringLiteral("Odd \"Name\" here"));
        QCOMPARE(form3.Label2->text(), QStringLiteral(" Now Editing: Odd \"Name\" here"));
        QCOMPARE(cellText(*form3.DataGrid1, 0, 1), QStringLiteral("seven"));
        typeIntoCell(*form3.DataGrid1, 0, 1, QStringLiteral("sieben"));
        QTest::keyClick(form3.DataGrid1, Qt::Key_Down);
        QCOMPARE(value(db, "select v from \"Odd \"\"Name\"\" here\" where k = 7"), std::string("sieben"));

        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        chooseAndOpen(QStringLiteral("empty_one"));
        QCOMPARE(form3.DataGrid1->model()->columnCount(), 2);
        QCOMPARE(form3.DataGrid1->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("alpha"));
        QVERIFY(form3.DataGrid1->horizontalHeader()->isVisible());
        QVERIFY(programEnds().isEmpty());
    }

    void aRowIsWrittenWhenTheUserLeavesIt()
    {
        ScratchSqlite db(kPeople);
        DataGrid& grid = *startAndOpen(db, QStringLiteral("people")).DataGrid1;
        typeIntoCell(grid, 0, 1, QStringLiteral("Anna"));
        QVERIFY(grid.Model()->isRowPending(0));
        QCOMPARE(value(db, "select name from people where id = 1"), std::string("Ann"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(value(db, "select name from people where id = 1"), std::string("Anna"));
        QVERIFY(!grid.Model()->isRowPending(0));

        // Leaving the grid for a button leaves the row too.
        typeIntoCell(grid, 1, 1, QStringLiteral("Bobby"));
        QTest::keyClick(&grid, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), GetForm3().Check3);
        QCOMPARE(value(db, "select name from people where id = 2"), std::string("Bobby"));

        // Ctrl+0 sets NULL; an unchanged column stays as it was.
        grid.setFocus();
        grid.setCurrentIndex(grid.model()->index(0, 3));
        QTest::keyClick(&grid, Qt::Key_0, Qt::ControlModifier);
        QVERIFY(grid.model()->index(0, 3).data(TableModel::NullRole).toBool());
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(value(db, "select born from people where id = 1"), std::nullopt);
        QCOMPARE(value(db, "select score from people where id = 1"), std::string("10"));

        // The right-click menu sets NULL as well.
        grid.setCurrentIndex(grid.model()->index(1, 1));
        QStringList menuItems;
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* a : menu->actions())
                menuItems.append(a->text());
            menu->actions().first()->trigger();
            menu->close();
        });
        const QPoint at = grid.visualRect(grid.currentIndex()).center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, at, grid.viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid.viewport(), &menuEvent);
        QCOMPARE(menuItems.value(0), QStringLiteral("Set to NULL"));
        QVERIFY(grid.model()->index(1, 1).data(TableModel::NullRole).toBool());
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(value(db, "select name from people where id = 2"), std::nullopt);

        // Esc restores the values read.
        typeIntoCell(grid, 2, 1, QStringLiteral("never saved"));
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!grid.Model()->isRowPending(2));
        QCOMPARE(cellText(grid, 2, 1), QString());
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(value(db, "select name from people where id = 3"), std::string(""));
    }

    void newRowsAndDeletedRows()
    {
        ScratchSqlite db(kPeople);
        DataGrid& grid = *startAndOpen(db, QStringLiteral("people")).DataGrid1;
        const int placeholder = grid.model()->rowCount() - 1;
        QVERIFY(grid.Model()->isNewRowPlaceholder(placeholder));
        typeIntoCell(grid, placeholder, 1, QStringLiteral("Dora"));
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(value(db, "select count(*) from people where name = 'Dora'"), std::string("1"));

        // Delete asks first; No keeps the row.
        grid.selectRow(0);
        {
            BoxCatcher no([](QMessageBox*) { return QStringLiteral("&No"); });
            QTest::keyClick(&grid, Qt::Key_Delete);
            QCOMPARE(no.count(), 1);
            QCOMPARE(no.seen[0].title, QStringLiteral("Dervanta"));
            QCOMPARE(value(db, "select count(*) from people where id = 1"), std::string("1"));
        }

        BoxCatcher yes([](QMessageBox*) { return QStringLiteral("&Yes"); });
        activate(GetForm3());
        QTRY_VERIFY(grid.hasFocus());
        grid.selectRow(0);
        QTest::keyClick(&grid, Qt::Key_Delete);
        QCOMPARE(yes.count(), 1);
        QCOMPARE(value(db, "select count(*) from people where id = 1"), std::string("0"));
        QCOMPARE(value(db, "select count(*) from people"), std::string("3"));
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("Bob"));
    }

    void aRefusedWriteKeepsTheTypedValues()
    {
        ScratchSqlite db(kPeople);
        DataGrid& grid = *startAndOpen(db, QStringLiteral("people")).DataGrid1;
        typeIntoCell(grid, 0, 0, QStringLiteral("2"));

        BoxCatcher boxes;
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Dervanta"));
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("UNIQUE")), qPrintable(boxes.seen[0].text));
        QTRY_COMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(cellText(grid, 0, 0), QStringLiteral("2"));
        QVERIFY(grid.Model()->isRowPending(0));
        QCOMPARE(value(db, "select count(*) from people where id = 1"), std::string("1"));

        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!grid.Model()->isRowPending(0));
        QCOMPARE(cellText(grid, 0, 0), QStringLiteral("1"));

        // Another user's change is shown in the conflict window instead
        // (Esc keeps editing); Esc in the row then restores what the
        // database holds now.
        activate(GetForm3()); // after the message box
        typeIntoCell(grid, 0, 1, QStringLiteral("Mine"));
        db.exec("update people set name = 'Theirs' where id = 1");
        RowWindowsSupport::ConflictCatcher conflicts;
        QTest::keyClick(&grid, Qt::Key_Down);
        QTRY_COMPARE(conflicts.count(), 1);
        QCOMPARE(conflicts.seen[0].title, QStringLiteral("Dervanta"));
        QCOMPARE(boxes.count(), 1);
        QTRY_COMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("Mine"));
        QVERIFY(grid.Model()->isRowPending(0));
        QCOMPARE(value(db, "select name from people where id = 1"), std::string("Theirs"));

        activate(GetForm3());
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!grid.Model()->isRowPending(0));
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("Theirs"));
    }

    // An editor confirmed as it opened writes nothing: a text longer than a
    // line editor's usual limit and bytes that are no UTF-8 stay exactly as
    // stored, by F2 + Enter + Down as by a double-click and a click on
    // another row. A value typed over such a cell replaces it.
    void anUnchangedEditorWritesNothing()
    {
        ScratchSqlite db(R"(
            create table t (id integer primary key, body text);
            insert into t values (1, substr(replace(hex(zeroblob(500002)), '0', 'x'), 1, 1000000) || 'END');
            insert into t values (2, cast(x'41FF42C3' as text));
            insert into t values (3, 'plain');
        )");
        DataGrid& grid = *startAndOpen(db, QStringLiteral("t")).DataGrid1;
        const auto unchanged = [&db] {
            return value(db, "select length(body) || ':' || substr(body, -3) from t where id = 1") == "1000003:END"
                   && value(db, "select hex(body) from t where id = 2") == "41FF42C3";
        };
        BoxCatcher boxes;
        for (const int row : {0, 1}) {
            grid.setFocus();
            grid.setCurrentIndex(grid.model()->index(row, 1));
            QTest::keyClick(&grid, Qt::Key_F2);
            QVERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
            QTest::keyClick(&grid, Qt::Key_Down);
            QVERIFY(!grid.Model()->isRowPending(row));
            QVERIFY(unchanged());

            const QRect cell = grid.visualRect(grid.model()->index(row, 1));
            // A press and release, then the second press that arrives as the double-click.
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
            QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
            QVERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                              grid.visualRect(grid.model()->index(2, 1)).center());
            QTRY_VERIFY(!grid.indexWidget(grid.model()->index(row, 1)));
            QVERIFY(!grid.Model()->isRowPending(row));
            QVERIFY(unchanged());
        }
        QCOMPARE(boxes.count(), 0);

        typeIntoCell(grid, 1, 1, QStringLiteral("typed"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(value(db, "select body from t where id = 2"), std::string("typed"));

        // A long text typed into keeps every character.
        const QString longText(70000, QLatin1Char('y'));
        grid.setCurrentIndex(grid.model()->index(2, 1));
        QTest::keyClick(&grid, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText(longText);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(value(db, "select length(body) from t where id = 3"), std::string("70000"));
    }

    // A database message that ends a sentence gets no second full stop.
    void messagesEndInOneFullStop()
    {
        DERVANTA_REQUIRE_PG();
        TestSupport::ScratchPgRole role;
        role.exec("create table dup (k integer primary key, v text); insert into dup values (1, 'a')");
        storeLogin(TestSupport::pgDataSource(), QString::fromStdString(role.name()),
                   QString::fromStdString(role.password()));
        StartProgram();
        chooseAndOpen(QStringLiteral("dup"));
        DataGrid& grid = *GetForm3().DataGrid1;
        typeIntoCell(grid, 1, 0, QStringLiteral("1"));
        BoxCatcher boxes;
        QTest::keyClick(&grid, Qt::Key_Up);
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.lastText().contains(QStringLiteral("already exists.")), qPrintable(boxes.lastText()));
        QVERIFY2(!boxes.lastText().contains(QStringLiteral("..")), qPrintable(boxes.lastText()));
        grid.Model()->revertRow(1);
    }

    void aPendingRowIsWrittenBeforeThePageIsLeft()
    {
        ScratchSqlite db(kPeople);
        Form3& form3 = startAndOpen(db, QStringLiteral("people"));
        typeIntoCell(*form3.DataGrid1, 0, 1, QStringLiteral("Quitter"));
        QTest::mouseClick(form3.Check3, Qt::LeftButton);
        QCOMPARE(value(db, "select name from people where id = 1"), std::string("Quitter"));
        QCOMPARE(programEnds(), QList<int>{0});

        typeIntoCell(*form3.DataGrid1, 1, 1, QStringLiteral("Closer"));
        form3.close();
        QCOMPARE(value(db, "select name from people where id = 2"), std::string("Closer"));
        QCOMPARE(programEnds(), (QList<int>{0, 0}));

        // The recorded end leaves the closed window hidden; bring it back.
        form3.show();
        activate(form3);
        typeIntoCell(*form3.DataGrid1, 2, 1, QStringLiteral("Backer"));
        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        QCOMPARE(value(db, "select name from people where id = 3"), std::string("Backer"));
        QVERIFY(GetForm2().isVisible());
    }

    void aRefusedWriteOnQuitLetsTheUserChoose()
    {
        ScratchSqlite db(kPeople);
        db.exec("create trigger no_mine before update on people when new.name = 'Mine'"
                " begin select raise(abort, 'not Mine'); end");
        Form3& form3 = startAndOpen(db, QStringLiteral("people"));
        typeIntoCell(*form3.DataGrid1, 1, 1, QStringLiteral("Mine"));

        {
            BoxCatcher goBack([](QMessageBox*) { return QStringLiteral("Go Back to the Row"); });
            QTest::mouseClick(form3.Check3, Qt::LeftButton);
            QCOMPARE(goBack.count(), 1);
            QVERIFY(programEnds().isEmpty());
            QVERIFY(form3.isVisible());
            QCOMPARE(form3.DataGrid1->currentIndex().row(), 1);
            QCOMPARE(cellText(*form3.DataGrid1, 1, 1), QStringLiteral("Mine"));

            // Closing the window asks the same.
            form3.close();
            QCOMPARE(goBack.count(), 2);
            QVERIFY(programEnds().isEmpty());
            QVERIFY(form3.isVisible());
        }

        {
            BoxCatcher discard([](QMessageBox*) { return QStringLiteral("Discard Changes"); });
            QTest::mouseClick(form3.Check3, Qt::LeftButton);
            QCOMPARE(discard.count(), 1);
            QCOMPARE(programEnds(), QList<int>{0});
            QCOMPARE(value(db, "select name from people where id = 2"), std::string("Bob"));
        }

        // A row another user deleted meanwhile is settled in the conflict
        // window as when the row is left: keeping on editing stays here.
        programEnds().clear();
        form3.show();
        activate(form3);
        typeIntoCell(*form3.DataGrid1, 2, 1, QStringLiteral("Gone"));
        db.exec("delete from people where id = 3");
        {
            RowWindowsSupport::ConflictCatcher keep([](ConflictWindow*) { return QStringLiteral("Keep Editing"); });
            QTest::mouseClick(form3.Check3, Qt::LeftButton);
            QCOMPARE(keep.count(), 1);
            QVERIFY(programEnds().isEmpty());
            QCOMPARE(form3.DataGrid1->currentIndex().row(), 2);
        }
        RowWindowsSupport::ConflictCatcher discard([](ConflictWindow*) { return QStringLiteral("Discard"); });
        QTest::mouseClick(form3.Check3, Qt::LeftButton);
        QCOMPARE(discard.count(), 1);
        QCOMPARE(programEnds(), QList<int>{0});
        QCOMPARE(value(db, "select count(*) from people where id = 3"), std::string("0"));
    }

    void aTableDroppedSinceListedIsReportedAndTheListReadAgain()
    {
        ScratchSqlite db(kPeople);
        storeLogin(db.dataSource());
        StartProgram();
        Form2& chooser = GetForm2();
        TableList& list = *chooser.List1;
        QVERIFY(list.ListCount() == 3);
        db.exec("drop table people");

        // The list is emptied once the re-read's query has returned, inside its fill.
        int pointerDuringFill = -1;
        bool enabledDuringFill = true;
        const QMetaObject::Connection watch
            = connect(list.model(), &QAbstractItemModel::modelReset, this, [&] {
                  pointerDuringFill = chooser.MousePointer();
                  enabledDuringFill = chooser.isEnabled();
              });
        auto unwatch = qScopeGuard([&] { disconnect(watch); });
        QSignalSpy loads(&chooser, &Form2::listLoaded);
        bool editorShownDuringReport = true;
        BoxCatcher boxes([&](QMessageBox*) {
            editorShownDuringReport = Form3Loaded() && GetForm3().isVisible();
            return QString();
        });
        openFailing(QStringLiteral("people"));

        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Dervanta"));
        QCOMPARE(boxes.seen[0].buttons, QStringList{QStringLiteral("OK")});
        // SQLite's code and its words.
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("'1'")), qPrintable(boxes.seen[0].text));
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("no such table: people")), qPrintable(boxes.seen[0].text));
        QVERIFY(programEnds().isEmpty());
        QVERIFY(!editorShownDuringReport);
        QVERIFY(!GetForm3().isVisible());
        QVERIFY(chooser.isVisible());
        QVERIFY(chooser.isEnabled());
        QCOMPARE(chooser.MousePointer(), 0);
        QVERIFY(!QGuiApplication::overrideCursor());

        QCOMPARE(loads.count(), 1);
        QCOMPARE(pointerDuringFill, 11);
        QVERIFY(!enabledDuringFill);
        QCOMPARE(list.ListCount(), 2);
        for (int i = 0; i < list.ListCount(); ++i)
            QVERIFY(list.List(i) != QStringLiteral("people"));
        QCOMPARE(list.ListIndex(), 0);

        chooseAndOpen(QStringLiteral("empty_one"));
        QVERIFY(GetForm3().isVisible());
        QVERIFY(!chooser.isVisible());
        QCOMPARE(GetForm3().Label2->text(), QStringLiteral(" Now Editing: empty_one"));
        QCOMPARE(GetForm3().DataGrid1->model()->columnCount(), 2);
        QCOMPARE(boxes.count(), 1);
        QVERIFY(programEnds().isEmpty());
    }

    void aLockedDatabaseIsReportedAndTheChooserStays()
    {
        ScratchSqlite db(kPeople);
        Form3& form3 = startAndOpen(db, QStringLiteral("people"));
        QTest::mouseClick(form3.Check1, Qt::LeftButton);
        QVERIFY(GetForm2().isVisible());
        QSignalSpy loads(&GetForm2(), &Form2::listLoaded);
        BoxCatcher boxes;
        {
            // Another writer holds the file; the engine gives up after its busy timeout.
            const TestSupport::SqliteExclusiveLock lock(db.path());
            openFailing(QStringLiteral("empty_one"));
        }
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("'5'")), qPrintable(boxes.seen[0].text));
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("database is locked")), qPrintable(boxes.seen[0].text));
        QVERIFY(programEnds().isEmpty());
        QVERIFY(GetForm2().isVisible());
        QVERIFY(GetForm2().isEnabled());
        QCOMPARE(GetForm2().MousePointer(), 0);
        QVERIFY(!form3.isVisible());
        // Not a missing table: the list is not read again.
        QCOMPARE(loads.count(), 0);
        QCOMPARE(GetForm2().List1->ListCount(), 3);

        chooseAndOpen(QStringLiteral("empty_one"));
        QVERIFY(form3.isVisible());
        QCOMPARE(form3.Label2->text(), QStringLiteral(" Now Editing: empty_one"));
        QVERIFY(programEnds().isEmpty());
    }
};

DERVANTA_PAGE_TEST_MAIN(TestForm3)
#include "test_form3.moc"
