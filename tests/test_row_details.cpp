// The row details window driven through its real widgets beside the real
// editor page: following the grid, editing the same pending row as the grid
// (texts of any length, JSON shown indented, NULL), binary and large-object
// values to and from files, on SQLite, PostgreSQL and SQLite's ODBC driver.

#include "oracle/TableModel.h"
#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/RowDetailsWindow.h"
#include "pages/ValueText.h"
#include "shell/CheckButton.h"
#include "support/PageSupport.h"
#include "support/RowWindowsSupport.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>

using namespace PageSupport;
using namespace RowWindowsSupport;
using TestSupport::ScratchSqlite;

namespace {

// A control of the window by the name it is read aloud by.
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

RowDetailsWindow* openDetails(DataGrid& grid)
{
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_F4);
    RowDetailsWindow* details = grid.rowDetails();
    if (details && details->isVisible())
        activate(*details);
    return details;
}

// Typing any text, letters beyond ASCII too, as a keyboard sends it.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// What a click on a button of the window does: the focus moves to it first.
void click(QPushButton* button)
{
    QVERIFY(button && button->isVisible() && button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
}

QString heading(RowDetailsWindow& details)
{
    return details.findChild<QLabel*>(QStringLiteral("rowHeading"))->text();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Bytes of every value, then bytes that are no text.
QByteArray someBytes(int size)
{
    QByteArray bytes(size, '\0');
    quint32 x = 12345;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(i < 256 ? i : static_cast<int>(x >> 16));
    }
    return bytes;
}

using Table = EngineTable;

#define ENGINE_TABLE(db, base)                                                                     \
    QFETCH(QString, engine);                                                                       \
    if (engine == QLatin1String("postgresql"))                                                     \
        DERVANTA_REQUIRE_PG();                                                                     \
    const Table db(engine, base);

} // namespace

class TestRowDetails : public PageTest {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }

    // F4 opens a tool window of the page beside it, the page left as it is;
    // it follows the grid's current row and its values, typed or written,
    // and its edits are edits of the grid's pending row, written when the
    // row is left here or in the grid. Every control is named and reached
    // by Tab; Esc closes the window and the grid has the focus again.
    void aToolWindowOfThePageFollowsTheGrid()
    {
        ScratchSqlite db(R"(
            create table p (id integer primary key, name text, score integer, born date);
            insert into p values (1, 'Ann', 10, '1990-01-02'), (2, 'Bob', 20, NULL), (3, 'Cid', 30, '2001-12-31');
        )");
        Form3& page = startAndOpen(db.dataSource(), QStringLiteral("p"));
        DataGrid& grid = *page.DataGrid1;
        const QRect pageFrame = page.frameGeometry();
        const QRect gridPlace = grid.geometry();
        QVERIFY(!grid.rowDetails());

        RowDetailsWindow* opened = openDetails(grid);
        QVERIFY(opened && opened->isVisible());
        RowDetailsWindow& details = *opened;
        QVERIFY(details.isWindow());
        QCOMPARE(details.windowType(), Qt::Tool);
        QCOMPARE(details.parentWidget(), &page);
        QVERIFY(!details.isModal());
        QCOMPARE(page.frameGeometry(), pageFrame);
        QCOMPARE(grid.geometry(), gridPlace);
        QCOMPARE(heading(details), QStringLiteral("Row 1 of 3"));
        for (const char* column : {"id", "name", "score", "born"})
            QVERIFY2(named<QPlainTextEdit>(details, QString::fromLatin1(column)), column);
        QCOMPARE(named<QPlainTextEdit>(details, QStringLiteral("name"))->toPlainText(), QStringLiteral("Ann"));
        // Each field names its column's type.
        QStringList labels;
        for (QLabel* l : details.findChildren<QLabel*>())
            labels << l->text();
        QVERIFY2(labels.contains(QStringLiteral("INTEGER")) && labels.contains(QStringLiteral("date")), qPrintable(labels.join(u',')));
        maybeScreenshot(QStringLiteral("row-details"));

        // Every control a Tab reaches is named; Tab goes field by field.
        QWidget* first = named<QPlainTextEdit>(details, QStringLiteral("id"));
        QTRY_COMPARE(QApplication::focusWidget(), first);
        QStringList order;
        for (int i = 0; i < 12; ++i) {
            QWidget* focus = QApplication::focusWidget();
            QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(focus);
            QVERIFY(spoken && !spoken->text(QAccessible::Name).isEmpty());
            order << spoken->text(QAccessible::Name);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        // (No Previous Row on the first row.)
        // A date field has its calendar button after the box.
        QCOMPARE(order, (QStringList{"id", "id is NULL", "name", "name is NULL", "score", "score is NULL", "born",
                                     "Choose a date for born", "born is NULL", "Next Row", "Close", "id"}));

        // The grid moves and types; the window follows.
        grid.setCurrentIndex(grid.model()->index(1, 1));
        QCOMPARE(heading(details), QStringLiteral("Row 2 of 3"));
        activate(page);
        typeIntoCell(grid, 1, 1, QStringLiteral("Bobby"));
        QCOMPARE(named<QPlainTextEdit>(details, QStringLiteral("name"))->toPlainText(), QStringLiteral("Bobby"));
        QCOMPARE(heading(details), QStringLiteral("Row 2 of 3, not saved yet"));

        // Typed here, the value goes into the same pending row on Ctrl+Enter,
        // not on each key; Next Row writes the row.
        activate(details);
        auto* score = named<QPlainTextEdit>(details, QStringLiteral("score"));
        score->setFocus();
        score->selectAll();
        QTest::keyClicks(score, QStringLiteral("77"));
        QCOMPARE(cellText(grid, 1, 2), QStringLiteral("20"));
        QTest::keyClick(score, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(cellText(grid, 1, 2), QStringLiteral("77"));
        QCOMPARE(grid.Model()->pendingRow(), 1);
        QCOMPARE(db.query("select name || score from p where id = 2").at(0).at(0), std::optional<std::string>("Bob20"));
        click(named<QPushButton>(details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select name || score from p where id = 2").at(0).at(0), std::optional<std::string>("Bobby77"));
        QCOMPARE(grid.currentIndex().row(), 2);
        QCOMPARE(heading(details), QStringLiteral("Row 3 of 3"));

        // Typed and left by a click on a button: losing the focus puts it in.
        auto* name = named<QPlainTextEdit>(details, QStringLiteral("name"));
        name->setFocus();
        QTest::keyClick(name, Qt::Key_End);
        QTest::keyClicks(name, QStringLiteral("dy"));
        // NULL by its check box, from the keyboard.
        auto* born = named<QCheckBox>(details, QStringLiteral("born is NULL"));
        born->setFocus();
        QVERIFY(!born->isChecked());
        QTest::keyClick(born, Qt::Key_Space);
        QVERIFY(grid.model()->index(2, 3).data(TableModel::NullRole).toBool());
        QCOMPARE(cellText(grid, 2, 1), QStringLiteral("Ciddy"));
        click(named<QPushButton>(details, QStringLiteral("Previous Row")));
        QCOMPARE(db.query("select name || coalesce(born, '-') from p where id = 3").at(0).at(0),
                 std::optional<std::string>("Ciddy-"));
        // Unticked, a text field holds an empty text, not NULL.
        auto* nameNull = named<QCheckBox>(details, QStringLiteral("name is NULL"));
        QTest::mouseClick(nameNull, Qt::LeftButton);
        QVERIFY(nameNull->isChecked());
        QTest::mouseClick(nameNull, Qt::LeftButton);
        QVERIFY(!nameNull->isChecked());
        QCOMPARE(grid.Model()->pendingRow(), 1);
        click(named<QPushButton>(details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select quote(name) from p where id = 2").at(0).at(0), std::optional<std::string>("''"));

        // Esc closes it and gives the grid the focus; the right-click menu opens it again.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!details.isVisible());
        QTRY_VERIFY(grid.hasFocus());
        QTimer::singleShot(50, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* a : menu->actions())
                if (a->text() == QStringLiteral("Row Details\u2026"))
                    a->trigger();
            menu->close();
        });
        const QPoint at = grid.visualRect(grid.currentIndex()).center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, at, grid.viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid.viewport(), &menuEvent);
        QTRY_VERIFY(details.isVisible());
        // F4 there goes back to the grid, the window staying open.
        activate(details);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4);
        QTRY_VERIFY(grid.hasFocus());
        QVERIFY(details.isVisible());
        // It goes with the page.
        QTest::mouseClick(page.Check1, Qt::LeftButton);
        QVERIFY(!details.isVisible());
    }

    // On the empty row at the bottom, a field typed into starts a new row of
    // the grid; leaving it from here inserts it.
    void aNewRowIsTypedHere()
    {
        ScratchSqlite db("create table p (id integer primary key, name text); insert into p values (1, 'Ann');");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("p")).DataGrid1;
        grid.setCurrentIndex(grid.model()->index(1, 1));
        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        QCOMPARE(heading(*details), QStringLiteral("New row: type into a field to add it."));
        auto* name = named<QPlainTextEdit>(*details, QStringLiteral("name"));
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("Zoe"));
        QTest::keyClick(name, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(heading(*details), QStringLiteral("New row, not saved yet"));
        QCOMPARE(cellText(grid, 1, 1), QStringLiteral("Zoe"));
        QCOMPARE(grid.model()->rowCount(), 3);
        click(named<QPushButton>(*details, QStringLiteral("Previous Row")));
        QCOMPARE(db.query("select name from p where id = 2").at(0).at(0), std::optional<std::string>("Zoe"));
        QCOMPARE(heading(*details), QStringLiteral("Row 1 of 2"));
    }

    // Leaving the row from the window goes through the grid's own write:
    // another user's change shows the conflict window, and keeping on
    // editing stays on the row.
    void leavingTheRowHereSettlesAConflictAsTheGridDoes()
    {
        ScratchSqlite db(R"(
            create table p (id integer primary key, name text);
            insert into p values (1, 'Ann'), (2, 'Bob');
        )");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("p")).DataGrid1;
        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        auto* name = named<QPlainTextEdit>(*details, QStringLiteral("name"));
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("Mine"));
        db.exec("update p set name = 'Theirs' where id = 1");
        ConflictCatcher conflicts;
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(conflicts.count(), 1);
        QCOMPARE(conflicts.seen[0].line(QStringLiteral("name"))->typed, QStringLiteral("Mine"));
        QCOMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(details->Row(), 0);
        QCOMPARE(name->toPlainText(), QStringLiteral("Mine"));
        QCOMPARE(heading(*details), QStringLiteral("Row 1 of 2, not saved yet"));
        // Checked against the values now there, the row writes.
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select name from p where id = 1").at(0).at(0), std::optional<std::string>("Mine"));
        QCOMPARE(conflicts.count(), 1);
    }

    // A text of five megabytes (characters of every width, tabs, non-breaking
    // spaces) edited at both ends is written exactly, and so are line ends
    // of every kind.
    void aLongTextIsEditedAndWrittenExactly()
    {
        std::string text;
        for (int line = 0; text.size() < 5u * 1024 * 1024; ++line)
            text += "Line " + std::to_string(line) + "\tk\xC3\xB6nnen\xC2\xA0\xE2\x82\xAC \xF0\x9F\x98\x80 "
                    + std::string(static_cast<std::size_t>(line % 97), 'x') + "\n";
        ScratchSqlite db("create table t (id integer primary key, body text); insert into t values (1, '"
                         + text + "'), (2, 'two\r\nlines'), (3, 'mac\runix\nwin\r\nwin')");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("t")).DataGrid1;
        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        auto* body = named<QPlainTextEdit>(*details, QStringLiteral("body"));
        QCOMPARE(body->document()->blockCount(), static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1);

        body->setFocus();
        QTest::keyClick(body, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(body, QStringLiteral("!"));
        QTest::keyClick(body, Qt::Key_Home, Qt::ControlModifier);
        typeText(body, QStringLiteral("\u00BF"));
        QVERIFY(!grid.Model()->isRowPending(0));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select body from t where id = 1").at(0).at(0), std::optional<std::string>("\xC2\xBF" + text + "!"));

        // Its line ends stay CR LF, a line added too.
        QCOMPARE(details->Row(), 1);
        body->setFocus();
        QTest::keyClick(body, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(body, Qt::Key_Return);
        QTest::keyClicks(body, QStringLiteral("now three"));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select hex(body) from t where id = 2").at(0).at(0),
                 std::optional<std::string>(QByteArray("two\r\nlines\r\nnow three").toHex().toUpper().toStdString()));

        // Line ends of every kind in one text: each line keeps its own.
        QCOMPARE(details->Row(), 2);
        body->setFocus();
        QTest::keyClick(body, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(body, QStringLiteral("s"));
        click(named<QPushButton>(*details, QStringLiteral("Previous Row")));
        QCOMPARE(db.query("select hex(body) from t where id = 3").at(0).at(0),
                 std::optional<std::string>(QByteArray("mac\runix\nwin\r\nwins").toHex().toUpper().toStdString()));
    }

    // A text holding bytes that are no UTF-8: typing into the field writes
    // the typed character and every byte that was there, unchanged.
    void bytesThatAreNoTextAreKept()
    {
        ScratchSqlite db("create table t (id integer primary key, body text);"
                         " insert into t values (1, cast(X'41FF42C320616263' as text)), (2, 'two')");
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("t")).DataGrid1;
        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        auto* body = named<QPlainTextEdit>(*details, QStringLiteral("body"));
        body->setFocus();
        QTest::keyClick(body, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(body, QStringLiteral("!"));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select hex(body) from t where id = 1").at(0).at(0),
                 std::optional<std::string>("41FF42C32061626321"));
    }

    // JSON (a json column, or a text holding an object or array) shows
    // indented, keys in their order and numbers as spelt. Shown, or typed
    // into and back, it is not written; edited, exactly the text typed is.
    void jsonIsShownIndentedAndWrittenAsTyped_data() { addEngines(); }
    void jsonIsShownIndentedAndWrittenAsTyped()
    {
        ENGINE_TABLE(db, "docs");
        const std::string t = db.name();
        const std::string compact = "{\"b\":1,\"a\":[1,2.50,{}],\"big\":12345678901234567890,\"s\":\"x, {y}: \\\"z\\\"\"}";
        db.exec("create table " + t + " (id integer primary key, doc " + (db.pg() ? "json" : "text") + ")");
        db.exec("insert into " + t + " values (1, '" + compact + "'), (2, '[]')");
        DataGrid& grid = db.open();
        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        auto* doc = named<QPlainTextEdit>(*details, QStringLiteral("doc"));
        const QString indented = QStringLiteral("{\n"
                                                "    \"b\": 1,\n"
                                                "    \"a\": [\n"
                                                "        1,\n"
                                                "        2.50,\n"
                                                "        {}\n"
                                                "    ],\n"
                                                "    \"big\": 12345678901234567890,\n"
                                                "    \"s\": \"x, {y}: \\\"z\\\"\"\n"
                                                "}");
        QCOMPARE(doc->toPlainText(), indented);
        maybeScreenshot(QStringLiteral("row-details-json"));

        doc->setFocus();
        QTest::keyClicks(doc, QStringLiteral("x"));
        QTest::keyClick(doc, Qt::Key_Backspace);
        QTest::keyClick(doc, Qt::Key_Tab);
        QVERIFY(!grid.Model()->isRowPending(0));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        click(named<QPushButton>(*details, QStringLiteral("Previous Row")));
        QCOMPARE(db.value("select doc from " + t + " where id = 1"), compact);

        QTextCursor at = doc->document()->find(QStringLiteral("2.50"));
        QVERIFY(!at.isNull());
        doc->setFocus();
        doc->setTextCursor(at);
        QTest::keyClicks(doc, QStringLiteral("3"));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QString typed = indented;
        typed.replace(QStringLiteral("2.50"), QStringLiteral("3"));
        QCOMPARE(QString::fromStdString(db.value("select doc from " + t + " where id = 1")), typed);
    }

    // A binary value: its size and first bytes; loaded from a file it is
    // written byte for byte when the row is left, and saved back the same.
    void binaryValuesGoToAndComeFromFiles_data() { addEngines(); }
    void binaryValuesGoToAndComeFromFiles()
    {
        ENGINE_TABLE(db, "blobs");
        const std::string t = db.name();
        db.exec("create table " + t + " (id integer primary key, data " + (db.pg() ? "bytea" : "blob") + ")");
        db.exec("insert into " + t + " values (1, " + (db.pg() ? "'\\x0102'::bytea" : "x'0102'") + "), (2, NULL)");
        const std::string hex = db.pg() ? "upper(encode(data, 'hex'))" : "hex(data)";
        QTemporaryDir dir;
        const QByteArray bytes = someBytes(70000);
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        {
            QFile f(in);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }

        DataGrid& grid = db.open();
        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        auto* first = named<QPlainTextEdit>(*details, QStringLiteral("data, first bytes"));
        QVERIFY(first && first->isVisible());
        QVERIFY(!named<QPlainTextEdit>(*details, QStringLiteral("data"))->isVisible());
        QCOMPARE(first->toPlainText().section(u'\n', 0, 0).simplified(), QStringLiteral("00000000 01 02 .."));

        // By keys alone: from the first bytes Tab reaches NULL, Save and Load.
        first->setFocus();
        QStringList order;
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->accessibleName();
        }
        QCOMPARE(order, (QStringList{"data is NULL", "Save data to a file", "Load data from a file"}));
        FileDialogAnswer load(in);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(load.answered());
        QCOMPARE(load.title, QStringLiteral("Load data from a File"));
        QCOMPARE(first->toPlainText().section(u'\n', 0, 0).simplified(),
                 QStringLiteral("00000000 00 01 02 03 04 05 06 07 ........"));
        QCOMPARE(first->toPlainText().section(u'\n', 8, 8).simplified(),
                 QStringLiteral("00000040 40 41 42 43 44 45 46 47 @ABCDEFG"));
        QCOMPARE(first->toPlainText().count(u'\n'), 32); // 256 bytes, then more to come
        QStringList labels;
        for (QLabel* l : details->findChildren<QLabel*>())
            if (l->isVisible())
                labels << l->text();
        QVERIFY2(labels.contains(QStringLiteral("70000 bytes")), qPrintable(labels.join(u',')));
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("(binary, 70000 bytes)"));
        QVERIFY(grid.Model()->isRowPending(0));
        maybeScreenshot(QStringLiteral("row-details-binary"));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(QString::fromStdString(db.value("select " + hex + " from " + t + " where id = 1")),
                 QString::fromLatin1(bytes.toHex().toUpper()));

        // NULL: nothing to save.
        QVERIFY(named<QCheckBox>(*details, QStringLiteral("data is NULL"))->isChecked());
        QVERIFY(!named<QPushButton>(*details, QStringLiteral("Save data to a file"))->isEnabled());
        click(named<QPushButton>(*details, QStringLiteral("Previous Row")));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        FileDialogAnswer save(out);
        click(named<QPushButton>(*details, QStringLiteral("Save data to a file")));
        QVERIFY(save.answered());
        QCOMPARE(fileBytes(out), bytes);
        QVERIFY(!grid.Model()->isRowPending(0));
    }

    // SQLite's ODBC driver calls TEXT a long varchar: a large text the grid
    // shows by its size and cannot edit. The window edits it as text, loads
    // it from a file and writes either exactly.
    void aLargeTextOnTheOdbcPath()
    {
        ScratchSqlite db("create table c (id integer primary key, body text);"
                         "insert into c values (1, 'first line\nsecond'), (2, NULL)");
        DataGrid& grid =
            *startAndOpen(QStringLiteral("odbc:DRIVER=SQLite3;Database=") + db.path(), QStringLiteral("c")).DataGrid1;
        if (!grid.Model())
            QSKIP("SQLite's ODBC driver is not installed");
        QCOMPARE(grid.Model()->columns()[1].type, ColumnType::LargeText);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("(text, 17 bytes)"));
        QVERIFY(!(grid.model()->flags(grid.model()->index(0, 1)) & Qt::ItemIsEditable));

        RowDetailsWindow* details = openDetails(grid);
        QVERIFY(details);
        auto* body = named<QPlainTextEdit>(*details, QStringLiteral("body"));
        QCOMPARE(body->toPlainText(), QStringLiteral("first line\nsecond"));
        QVERIFY(named<QPushButton>(*details, QStringLiteral("Load body from a file"))->isVisible());
        body->setFocus();
        QTest::keyClick(body, Qt::Key_End, Qt::ControlModifier);
        typeText(body, QStringLiteral(" \u00E9t\u00E9"));
        click(named<QPushButton>(*details, QStringLiteral("Next Row")));
        QCOMPARE(db.query("select body from c where id = 1").at(0).at(0),
                 std::optional<std::string>("first line\nsecond \xC3\xA9t\xC3\xA9"));

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.txt"));
        QByteArray large;
        while (large.size() < 300000)
            large += "Zeile mit \xE2\x82\xAC und \r\n";
        {
            QFile f(in);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(large) == large.size());
        }
        FileDialogAnswer load(in);
        click(named<QPushButton>(*details, QStringLiteral("Load body from a file")));
        QVERIFY(load.answered());
        QCOMPARE(grid.Model()->pendingRow(), 1);
        click(named<QPushButton>(*details, QStringLiteral("Previous Row")));
        QCOMPARE(db.query("select hex(body) from c where id = 2").at(0).at(0),
                 std::optional<std::string>(large.toHex().toUpper().toStdString()));
    }

    // The JSON layout keeps every token; anything that is not an object or
    // an array (or not JSON) is shown as it is.
    void jsonLayoutKeepsTheText()
    {
        QCOMPARE(ValueText::IndentedJson(QStringLiteral(" [ 1 ,\"a\\\\\",[ ] ,{\"k\" :null}] ")),
                 QStringLiteral("[\n    1,\n    \"a\\\\\",\n    [],\n    {\n        \"k\": null\n    }\n]"));
        QCOMPARE(ValueText::IndentedJson(QStringLiteral("\"just a string\"")), QString());
        QCOMPARE(ValueText::IndentedJson(QStringLiteral("{not json}")), QString());
        QCOMPARE(ValueText::IndentedJson(QStringLiteral("{\"a\": \"\\u00e9\\\"}\"}")),
                 QStringLiteral("{\n    \"a\": \"\\u00e9\\\"}\"\n}"));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestRowDetails)
#include "test_row_details.moc"
