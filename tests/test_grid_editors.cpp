// The editors a cell gets by its column's type, driven through the real
// grid and row details window on SQLite and PostgreSQL: each writes exactly
// what the database then holds (true/false as the engine stores them, NULL,
// dates with their microseconds, enum and CHECK list values, a foreign key
// chosen after typing a prefix), any text can still be typed, and a typed
// value the column's type cannot hold is marked before the row is left
// while the write still goes to the database, which judges it.

#include "oracle/TableModel.h"
#include "pages/CellEditors.h"
#include "pages/DataGrid.h"
#include "pages/DateEdit.h"
#include "pages/KeyLookupEdit.h"
#include "pages/RowDetailsWindow.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolButton>

using namespace PageSupport;
using namespace RowWindowsSupport;

namespace {

#define ENGINE_TABLE(db, base)                                                                     \
    QFETCH(QString, engine);                                                                       \
    if (engine == QLatin1String("postgresql"))                                                     \
        DERVANTA_REQUIRE_PG();                                                                     \
    const EngineTable db(engine, base);

// Where a boolean cell's check box is drawn.
QPoint checkBoxOf(DataGrid& grid, int row, int column)
{
    QStyleOptionViewItem option;
    option.initFrom(grid.viewport());
    option.rect = grid.visualRect(grid.model()->index(row, column));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.widget = &grid;
    return grid.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &grid).center();
}

Qt::CheckState shownState(DataGrid& grid, int row, int column)
{
    return CellEditors::checkState(grid.model()->index(row, column)).value_or(Qt::CheckState(-1));
}

// Leaves the current row for the next one (it is written) and waits for the write.
void leaveRow(DataGrid& grid)
{
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Down);
    QTRY_VERIFY(!grid.Model()->writing());
}

// Opens the cell's editor with F2; the widget that has the focus then.
template <typename T>
T* openEditor(DataGrid& grid, int row, int column)
{
    activate(*grid.window()); // after a pop-up closed, as a window manager does
    grid.setFocus();
    grid.setCurrentIndex(grid.model()->index(row, column));
    QTest::keyClick(&grid, Qt::Key_F2);
    QWidget* focus = QApplication::focusWidget();
    T* editor = qobject_cast<T*>(focus);
    if (!editor && focus)
        editor = qobject_cast<T*>(focus->parentWidget());
    return editor;
}

template <typename T>
T* named(QWidget& window, const QString& name)
{
    for (T* w : window.findChildren<T*>()) {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(w);
        if (spoken && spoken->text(QAccessible::Name) == name)
            return w;
    }
    return nullptr;
}

} // namespace

class TestGridEditors : public PageTest {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }

    // A boolean cell is a check box: a click or Space turns it true → false
    // → NULL (three states where NULL is allowed, two where NOT NULL), and
    // the database holds what the engine stores for each (t/f, 1/0). Text
    // typed into the cell still goes as typed.
    void booleansAreCheckBoxes_data() { addEngines(); }
    void booleansAreCheckBoxes()
    {
        ENGINE_TABLE(db, "flags");
        const std::string t = db.name();
        db.exec("create table " + t + " (id integer primary key, flag boolean, must boolean not null)");
        db.exec("insert into " + t + " values (1, true, true), (2, NULL, false)");
        const std::string yes = db.pg() ? "t" : "1";
        const std::string no = db.pg() ? "f" : "0";
        DataGrid& grid = db.open();
        QCOMPARE(shownState(grid, 0, 1), Qt::Checked);
        QCOMPARE(shownState(grid, 1, 1), Qt::PartiallyChecked);
        QCOMPARE(shownState(grid, 1, 2), Qt::Unchecked);

        // A click on the box: true becomes false; written when the row is left.
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, checkBoxOf(grid, 0, 1));
        QCOMPARE(shownState(grid, 0, 1), Qt::Unchecked);
        QCOMPARE(db.value("select flag from " + t + " where id = 1"), yes);
        leaveRow(grid);
        QCOMPARE(db.value("select flag from " + t + " where id = 1"), no);

        // Space on NULL makes it true; on a NOT NULL column false and true take turns.
        grid.setCurrentIndex(grid.model()->index(1, 1));
        QTest::keyClick(&grid, Qt::Key_Space);
        QCOMPARE(shownState(grid, 1, 1), Qt::Checked);
        grid.setCurrentIndex(grid.model()->index(1, 2));
        QTest::keyClick(&grid, Qt::Key_Space);
        QCOMPARE(shownState(grid, 1, 2), Qt::Checked);
        QTest::keyClick(&grid, Qt::Key_Space);
        QCOMPARE(shownState(grid, 1, 2), Qt::Unchecked);
        QTest::keyClick(&grid, Qt::Key_Space);
        QCOMPARE(shownState(grid, 1, 2), Qt::Checked);
        maybeScreenshot(QStringLiteral("editors-boolean"));
        grid.setCurrentIndex(grid.model()->index(0, 2));
        QTRY_VERIFY(!grid.Model()->writing());
        QCOMPARE(db.value("select flag from " + t + " where id = 2"), yes);
        QCOMPARE(db.value("select must from " + t + " where id = 2"), yes);

        // false → NULL where the column allows it.
        grid.setCurrentIndex(grid.model()->index(0, 1));
        QTest::keyClick(&grid, Qt::Key_Space);
        QCOMPARE(shownState(grid, 0, 1), Qt::PartiallyChecked);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("(NULL)"));
        leaveRow(grid);
        QCOMPARE(db.value("select flag from " + t + " where id = 1"), std::string("<NULL>"));

        // Typing still works: the text goes to the database, which reads it.
        typeIntoCell(grid, 0, 1, QStringLiteral("false"));
        leaveRow(grid);
        QCOMPARE(db.value("select flag from " + t + " where id = 1"), db.pg() ? no : std::string("false"));

        // A new row: a click in the placeholder's box starts it.
        const int placeholder = grid.model()->rowCount() - 1;
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, checkBoxOf(grid, placeholder, 2));
        QVERIFY(grid.Model()->isRowPending(placeholder));
        typeIntoCell(grid, placeholder, 0, QStringLiteral("3"));
        leaveRow(grid);
        QCOMPARE(db.value("select must from " + t + " where id = 3"), yes);
    }

    // Dates and date-times are typed in the engine's own form and kept
    // exactly: a value with microseconds survives an edit of another part
    // of the row, one typed with microseconds is stored as typed, and a day
    // chosen in the calendar replaces the date and keeps the time as it was.
    void datesKeepTheirMicroseconds_data() { addEngines(); }
    void datesKeepTheirMicroseconds()
    {
        ENGINE_TABLE(db, "times");
        const std::string t = db.name();
        db.exec("create table " + t + " (id integer primary key, name text, at timestamp, day date)");
        db.exec("insert into " + t + " values (1, 'a', '2024-05-06 07:08:09.123456', '2024-05-06'),"
                " (2, 'b', NULL, NULL)");
        const auto at = [&db, &t](int id) {
            return db.value("select " + std::string(db.pg() ? "at::text" : "at") + " from " + t
                            + " where id = " + std::to_string(id));
        };
        DataGrid& grid = db.open();
        typeIntoCell(grid, 0, 1, QStringLiteral("changed"));
        leaveRow(grid);
        QCOMPARE(db.value("select name from " + t + " where id = 1"), std::string("changed"));
        QCOMPARE(at(1), std::string("2024-05-06 07:08:09.123456"));

        // The editor is a date box that takes typing as a text box does.
        auto* box = openEditor<DateEdit>(grid, 1, 2);
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_Escape);
        typeIntoCell(grid, 1, 2, QStringLiteral("2023-01-02 03:04:05.654321"));
        leaveRow(grid);
        QCOMPARE(at(2), std::string("2023-01-02 03:04:05.654321"));

        // The calendar: Alt+Down, a day chosen with the keys, Enter.
        box = openEditor<DateEdit>(grid, 0, 2);
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("2024-05-06 07:08:09.123456"));
        QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
        QCalendarWidget* calendar = nullptr;
        QTRY_VERIFY((calendar = box->findChild<QCalendarWidget*>()) && calendar->isVisible());
        maybeScreenshot(QStringLiteral("editors-calendar"));
        QCOMPARE(calendar->selectedDate(), QDate(2024, 5, 6));
        QWidget* days = QApplication::focusWidget();
        QVERIFY(days && calendar->isAncestorOf(days));
        QTest::keyClick(days, Qt::Key_Right); // the 7th
        QTest::keyClick(days, Qt::Key_Down);  // a week on: the 14th
        QTest::keyClick(days, Qt::Key_Return);
        QTRY_VERIFY(!calendar->isVisible() || !box->findChild<QCalendarWidget*>());
        QCOMPARE(box->text(), QStringLiteral("2024-05-14 07:08:09.123456"));
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        leaveRow(grid);
        QCOMPARE(at(1), std::string("2024-05-14 07:08:09.123456"));

        // A date column's calendar gives the day alone.
        auto* dayBox = openEditor<DateEdit>(grid, 1, 3);
        QVERIFY(dayBox);
        QCOMPARE(DateEdit::WithDate(dayBox->text(), QDate(2020, 2, 29), false), QStringLiteral("2020-02-29"));
        QTest::keyClick(dayBox, Qt::Key_Escape);
    }

    // An enum column and a column with a plain CHECK (col IN (...)) list are
    // drop-downs of those values in their order; a value chosen is written,
    // and a text typed that is not in the list still goes to the database,
    // which refuses it. A check of any other form gives no list.
    void choicesFromTheCatalogue_data() { addEngines(); }
    void choicesFromTheCatalogue()
    {
        ENGINE_TABLE(db, "shirts");
        const std::string t = db.name();
        if (db.pg()) {
            db.exec("create type " + t + "_mood as enum ('sad', 'ok', 'happy')");
            db.exec("alter type " + t + "_mood add value 'calm' before 'ok'");
            db.exec("create table " + t + " (id integer primary key, mood " + t
                    + "_mood, size varchar(2) check (size in ('S', 'M', 'L')),"
                      " other text check (other in ('x', 'y') or other like 'z%'))");
        } else {
            db.exec("create table " + t + " (id integer primary key,"
                    " mood text check (\"mood\" in ('sad', 'calm', 'ok', 'happy')),"
                    " size text, other text, check ((size IN ('S', 'M', 'L'))),"
                    " check (other in ('x', 'y') or other like 'z%'))");
        }
        db.exec("insert into " + t + " values (1, 'sad', 'M', 'x')");
        DataGrid& grid = db.open();
        TableModel& model = *grid.Model();
        QVERIFY(model.columnDetails(1) && model.columnDetails(3));
        QCOMPARE(model.columnDetails(1)->choices, (std::vector<std::string>{"sad", "calm", "ok", "happy"}));
        QCOMPARE(model.columnDetails(2)->choices, (std::vector<std::string>{"S", "M", "L"}));
        QVERIFY(model.columnDetails(3)->choices.empty());

        auto* combo = openEditor<QComboBox>(grid, 0, 1);
        QVERIFY(combo);
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->currentText(), QStringLiteral("sad"));
        combo->showPopup();
        maybeScreenshot(QStringLiteral("editors-choices"));
        combo->hidePopup();
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("happy"));
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        leaveRow(grid);
        QCOMPARE(db.value("select mood from " + t + " where id = 1"), std::string("happy"));

        // Any text may be typed; the database judges it.
        combo = openEditor<QComboBox>(grid, 0, 2);
        QVERIFY(combo);
        QTest::keyClicks(combo, QStringLiteral("XL"));
        QCOMPARE(combo->currentText(), QStringLiteral("XL"));
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        QCOMPARE(cellText(grid, 0, 2), QStringLiteral("XL"));
        {
            BoxCatcher refused;
            grid.commitPendingRow();
            QCOMPARE(refused.count(), 1);
            QVERIFY2(refused.lastText().contains(QStringLiteral("could not be saved")), qPrintable(refused.lastText()));
        }
        QCOMPARE(db.value("select size from " + t + " where id = 1"), std::string("M"));
    }

    // A foreign key's cell looks up the referenced table as the user types
    // (its key, or its first text column): the keys offered begin with what
    // is typed, one chosen from the list is written.
    void foreignKeysAreLookedUp_data() { addEngines(); }
    void foreignKeysAreLookedUp()
    {
        ENGINE_TABLE(db, "orders");
        const std::string t = db.name();
        const std::string p = t + "_city";
        db.exec("create table " + p + " (id integer primary key, code integer, name text)");
        std::string rows;
        for (int i = 1; i <= 300; ++i)
            rows += (rows.empty() ? "" : ", ") + ("(" + std::to_string(i) + ", " + std::to_string(1000 + i) + ", 'City "
                                                   + std::to_string(i) + "')");
        db.exec("insert into " + p + " values " + rows);
        db.exec("update " + p + " set name = 'Berlin' where id = 207");
        db.exec("create table " + t + " (id integer primary key, city integer references " + p + " (id))");
        db.exec("insert into " + t + " values (1, 5)");
        DataGrid& grid = db.open();
        const ColumnDetails* details = grid.Model()->columnDetails(1);
        QVERIFY(details && details->references);
        QCOMPARE(details->references->column, std::string("id"));

        auto* box = openEditor<KeyLookupEdit>(grid, 0, 1);
        QVERIFY(box);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("12"));
        QTRY_COMPARE(box->offered().value(0), QStringLiteral("12 \u2014 City 12"));
        QCOMPARE(box->offered().mid(1, 3),
                 (QStringList{QStringLiteral("120 \u2014 City 120"), QStringLiteral("121 \u2014 City 121"),
                              QStringLiteral("122 \u2014 City 122")}));
        QVERIFY(box->offered().size() <= 20);
        // By the readable column, any case.
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("ber"));
        QTRY_COMPARE(box->offered(), QStringList{QStringLiteral("207 \u2014 Berlin")});
        QAbstractItemView* list = box->findChild<QCompleter*>()->popup();
        QTRY_VERIFY(list->isVisible());
        maybeScreenshot(QStringLiteral("editors-foreign-key"));
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_COMPARE(box->text(), QStringLiteral("207"));
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        leaveRow(grid);
        QCOMPARE(db.value("select city from " + t + " where id = 1"), std::string("207"));
    }

    // A typed value the column's type cannot hold is marked at once (the
    // reason in the cell's tool tip), before the row is left; the write
    // still goes to the database, which refuses (PostgreSQL) or takes it
    // (SQLite keeps any value). A value that fits is not marked.
    void wrongValuesAreMarkedButWritten_data() { addEngines(); }
    void wrongValuesAreMarkedButWritten()
    {
        ENGINE_TABLE(db, "marks");
        const std::string t = db.name();
        db.exec("create table " + t + " (id integer primary key, n integer, d date, v varchar(5))");
        db.exec("insert into " + t + " values (1, 1, '2024-01-01', 'ab')");
        DataGrid& grid = db.open();
        TableModel& model = *grid.Model();
        const auto warning = [&model](int column) {
            return model.data(model.index(0, column), TableModel::WarningRole).toString();
        };
        // While it is typed: the box is marked and says why; a fix takes the mark off.
        auto* box = openEditor<QLineEdit>(grid, 0, 1);
        QVERIFY(box);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("4x"));
        QCOMPARE(box->toolTip(), QStringLiteral("Not a whole number"));
        QVERIFY(box->palette().color(QPalette::Base) != grid.palette().color(QPalette::Base));
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->toolTip(), QString());
        QCOMPARE(box->palette().color(QPalette::Base), grid.palette().color(QPalette::Base));
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
        typeIntoCell(grid, 0, 1, QStringLiteral(" 42 "));
        typeIntoCell(grid, 0, 2, QStringLiteral("2024-02-29"));
        typeIntoCell(grid, 0, 3, QStringLiteral("abcde   "));
        QCOMPARE(warning(1), QString());
        QCOMPARE(warning(2), QString());
        QCOMPARE(warning(3), QString());
        typeIntoCell(grid, 0, 1, QStringLiteral("4x2"));
        typeIntoCell(grid, 0, 2, QStringLiteral("2023-02-29"));
        typeIntoCell(grid, 0, 3, QStringLiteral("abcdef"));
        QCOMPARE(warning(1), QStringLiteral("Not a whole number"));
        QCOMPARE(model.data(model.index(0, 1), Qt::ToolTipRole).toString(), QStringLiteral("Not a whole number"));
        QCOMPARE(warning(2), QStringLiteral("Not a date (YYYY-MM-DD)"));
        // Only where the database holds the length to (PostgreSQL's VARCHAR(n)).
        QCOMPARE(warning(3), db.pg() ? QStringLiteral("Longer than the column's 5 characters") : QString());
        maybeScreenshot(QStringLiteral("editors-warning"));
        BoxCatcher refused;
        grid.commitPendingRow();
        if (db.pg()) {
            QCOMPARE(refused.count(), 1);
            QCOMPARE(db.value("select n from " + t + " where id = 1"), std::string("1"));
        } else {
            QCOMPARE(refused.count(), 0);
            QCOMPARE(db.value("select n from " + t + " where id = 1"), std::string("4x2"));
            QCOMPARE(db.value("select d from " + t + " where id = 1"), std::string("2023-02-29"));
            QCOMPARE(warning(1), QString()); // written: what the database holds is not marked
        }
    }

    // What PostgreSQL's input reads is not marked, in the forms it takes
    // (spaces, exponents, NaN, yes/off, special days, zones, 24:00); what it
    // refuses is. A mark that cried wolf would teach the user to ignore it.
    void marksFollowWhatTheDatabaseTakes()
    {
        DERVANTA_REQUIRE_PG();
        const EngineTable db(QStringLiteral("postgresql"), "kinds");
        const std::string t = db.name();
        db.exec("create table " + t + " (id integer primary key, i integer, n numeric, r real, b boolean, d date,"
                " ts timestamptz, tm time, t timestamp, s smallint)");
        db.exec("insert into " + t + " (id) values (1)");
        DataGrid& grid = db.open();
        TableModel& model = *grid.Model();
        const QStringList taken{" -12 ", "1.5e3", "-Infinity", "yes", "epoch", "2024-05-06T07:08:09.5Z",
                                "24:00:00", "2024-05-06 07:08", "-32768"};
        for (int c = 1; c <= taken.size(); ++c)
            typeIntoCell(grid, 0, c, taken[c - 1]);
        for (int c = 1; c <= taken.size(); ++c)
            QVERIFY2(model.data(model.index(0, c), TableModel::WarningRole).toString().isEmpty(), qPrintable(taken[c - 1]));
        BoxCatcher none;
        QVERIFY(grid.commitPendingRow());
        QCOMPARE(none.count(), 0);
        QCOMPARE(QString::fromStdString(db.value("select i || ' ' || n || ' ' || b || ' ' || d || ' ' || (ts at time zone 'UTC')"
                                                 " from " + t)),
                 QStringLiteral("-12 1500 true 1970-01-01 2024-05-06 07:08:09.5"));

        const QStringList refused{"12abc", "1.2.3", "1e", "maybe", "2023-02-29", "2024-13-01 00:00", "25:00",
                                  "2024-05-06 07:60", "32768"};
        for (int c = 1; c <= refused.size(); ++c)
            typeIntoCell(grid, 0, c, refused[c - 1]);
        for (int c = 1; c <= refused.size(); ++c)
            QVERIFY2(!model.data(model.index(0, c), TableModel::WarningRole).toString().isEmpty(),
                     qPrintable(refused[c - 1]));
        QCOMPARE(model.data(model.index(0, 9), TableModel::WarningRole).toString(),
                 QStringLiteral("Out of the range of smallint"));
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!model.isRowPending(0));
    }

    // The row details window has the same editors: a boolean's check box, a
    // date's calendar, the list of allowed values and of referenced keys;
    // what they put into the row is written as the grid writes it.
    void rowDetailsHasTheSameEditors_data() { addEngines(); }
    void rowDetailsHasTheSameEditors()
    {
        ENGINE_TABLE(db, "details");
        const std::string t = db.name();
        const std::string p = t + "_kind";
        db.exec("create table " + p + " (code text primary key, title text)");
        db.exec("insert into " + p + " values ('A1', 'Apples'), ('B2', 'Bananas'), ('B3', 'Berries')");
        db.exec("create table " + t + " (id integer primary key, flag boolean, at timestamp,"
                " size text check (size in ('S', 'M')), kind text references " + p + " (code))");
        db.exec("insert into " + t + " values (1, false, '2024-05-06 07:08:09.123456', 'S', 'A1')");
        DataGrid& grid = db.open();
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_F4);
        RowDetailsWindow* details = grid.rowDetails();
        QVERIFY(details && details->isVisible());
        activate(*details);

        auto* truth = named<QCheckBox>(*details, QStringLiteral("flag is true"));
        QVERIFY(truth && !truth->isChecked());
        QTest::mouseClick(truth, Qt::LeftButton);
        QCOMPARE(cellText(grid, 0, 1), QString::fromLatin1(db.pg() ? "t" : "1"));

        auto* calendarButton = named<QToolButton>(*details, QStringLiteral("Choose a date for at"));
        QVERIFY(calendarButton);
        QTest::mouseClick(calendarButton, Qt::LeftButton);
        QCalendarWidget* calendar = nullptr;
        QTRY_VERIFY((calendar = calendarButton->findChild<QCalendarWidget*>()) && calendar->isVisible());
        QCOMPARE(calendar->selectedDate(), QDate(2024, 5, 6));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(cellText(grid, 0, 2), QStringLiteral("2024-05-05 07:08:09.123456"));

        auto* sizes = named<QToolButton>(*details, QStringLiteral("Choose size"));
        QVERIFY(sizes && sizes->menu());
        QStringList offered;
        for (QAction* a : sizes->menu()->actions())
            offered << a->text();
        QCOMPARE(offered, (QStringList{"S", "M"}));
        sizes->menu()->actions().at(1)->trigger();
        QCOMPARE(cellText(grid, 0, 3), QStringLiteral("M"));

        // The keys beginning with what the box holds.
        auto* kind = named<QPlainTextEdit>(*details, QStringLiteral("kind"));
        QVERIFY(kind);
        kind->setFocus();
        kind->selectAll();
        QTest::keyClicks(kind, QStringLiteral("B"));
        auto* kinds = named<QToolButton>(*details, QStringLiteral("Choose kind"));
        QVERIFY(kinds && kinds->menu());
        QMenu* menu = kinds->menu();
        menu->popup(kinds->mapToGlobal(QPoint(0, kinds->height())));
        QTRY_VERIFY(menu->isVisible());
        QTRY_COMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("B2 \u2014 Bananas"));
        maybeScreenshot(QStringLiteral("editors-details"));
        menu->actions().at(1)->trigger();
        menu->close();
        QTRY_COMPARE(cellText(grid, 0, 4), QStringLiteral("B3"));

        QVERIFY(grid.commitPendingRow());
        QCOMPARE(db.value("select flag from " + t + " where id = 1"), std::string(db.pg() ? "t" : "1"));
        QCOMPARE(db.value("select " + std::string(db.pg() ? "at::text" : "at") + " from " + t),
                 std::string("2024-05-05 07:08:09.123456"));
        QCOMPARE(db.value("select size || kind from " + t), std::string("MB3"));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridEditors)
#include "test_grid_editors.moc"
