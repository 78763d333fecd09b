// The grid's bars as a screen reader meets them, through Qt's accessibility
// interfaces on the real editor page: the filter row, the find bar and the
// status line are the page's children right after the grid, named by what
// they show, and what they tell (a read's end, the filter's count, "No
// match") reaches the screen reader as update events.

#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/GridFilterRow.h"
#include "pages/GridFindBar.h"
#include "pages/GridStatusLine.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>

// Qt tells update events to a handler only while accessibility is active,
// which only a platform's screen reader bridge turns on.
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using namespace PageSupport;
using TestSupport::ScratchSqlite;

namespace {

const char* const kPeople = R"(
    create table p (id integer primary key, name text, score integer);
    insert into p values (1, 'Ann', 30), (2, 'Bob', 10), (3, 'Cid', 20), (4, 'Dee', 40), (5, 'Eve', 25);
)";

// A table that takes a moment to read: each row computes its last column.
const char* const kSlow = R"(
    create table slow (id integer primary key, v text,
                       w integer generated always as (length(hex(zeroblob(40000 + id % 2)))) virtual);
    insert into slow (id, v) with recursive r(n) as (select 1 union all select n + 1 from r where n < 8000)
        select n, 'row ' || n from r;
)";

// ---- what a screen reader is told ---------------------------------------------

struct Told {
    QObject* object;
    QAccessible::Event type;
    QString name; // the object's accessible name when it was told
};

QList<Told>& told()
{
    static QList<Told> events;
    return events;
}

void record(QAccessibleEvent* event)
{
    QAccessibleInterface* iface = event->accessibleInterface();
    told().append({event->object(), event->type(), iface ? iface->text(QAccessible::Name) : QString()});
}

// The names a label was announced with, in order.
QStringList announced(const QObject* label)
{
    QStringList names;
    for (const Told& t : told())
        if (t.object == label && t.type == QAccessible::NameChanged)
            names << t.name;
    return names;
}

// ---- the tree -------------------------------------------------------------------

QAccessibleInterface* accessible(QObject* object) { return QAccessible::queryAccessibleInterface(object); }

QString roleName(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::StaticText: return QStringLiteral("text");
    case QAccessible::Table: return QStringLiteral("table");
    case QAccessible::ToolBar: return QStringLiteral("tool bar");
    case QAccessible::StatusBar: return QStringLiteral("status bar");
    case QAccessible::CheckBox: return QStringLiteral("check box");
    case QAccessible::EditableText: return QStringLiteral("edit");
    case QAccessible::Button: return QStringLiteral("button");
    default: return QString::number(role);
    }
}

// One line per child: "role: name", and "(hidden)" for one not shown.
QStringList childLines(QAccessibleInterface* parent)
{
    QStringList lines;
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        lines << roleName(child->role()) + QStringLiteral(": ") + child->text(QAccessible::Name)
                     + (child->state().invisible ? QStringLiteral(" (hidden)") : QString());
    }
    return lines;
}

// The first descendant with this role and name, searched depth first.
QAccessibleInterface* find(QAccessibleInterface* parent, QAccessible::Role role, const QString& name)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (child->role() == role && child->text(QAccessible::Name) == name)
            return child;
        if (QAccessibleInterface* deeper = find(child, role, name))
            return deeper;
    }
    return nullptr;
}

// Whether walking up from `from` reaches `to`, each step listed by its parent.
bool reachesUpwards(QAccessibleInterface* from, QAccessibleInterface* to)
{
    for (QAccessibleInterface* at = from; at; at = at->parent()) {
        if (at == to)
            return true;
        QAccessibleInterface* up = at->parent();
        if (up && up->indexOfChild(at) < 0)
            return false;
    }
    return false;
}

} // namespace

class TestGridAccess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
        QAccessible::installUpdateHandler(record);
    }
    void init()
    {
        resetPages();
        told().clear();
    }
    void cleanupTestCase()
    {
        resetPages();
        QAccessible::installUpdateHandler(nullptr);
    }

    // Grid, filter row, find bar, status line, then the page's own controls
    // as before; each bar hidden or shown as on the screen, named by what it
    // says, and its parent the page; the bars' boxes and labels inside them.
    void barsFollowTheGridInReadingOrder()
    {
        ScratchSqlite db(kPeople);
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("p"));
        DataGrid& grid = *form3.DataGrid1;
        QAccessibleInterface* page = accessible(&form3);
        const QString note = QStringLiteral("text:  Changes you make are automatically saved as you make them.");
        const QStringList buttons{"check box: < Back", "check box: Next >", "check box: Quit"};
        QCOMPARE(childLines(page), QStringList({"text:  Now Editing: p", "table: Table rows", "tool bar: Filter row (hidden)",
                                              "tool bar: Find bar (hidden)", "status bar:  (hidden)", note})
                                     + buttons);

        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        typeFilter(grid, 2, QStringLiteral("<35"));
        // Ctrl+F from inside the filter row still reaches the grid.
        QTest::keyClick(grid.filterRow()->box(2), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(grid.findBar()->isVisible());
        QTest::keyClicks(grid.findBar()->textBox(), QStringLiteral("grape"));
        QTest::keyClick(grid.findBar()->textBox(), Qt::Key_Return);
        maybeScreenshot(QStringLiteral("form3-all-bars"));
        QCOMPARE(childLines(page), QStringList({"text:  Now Editing: p", "table: Table rows", "tool bar: Filter row",
                                              "tool bar: Find bar", "status bar: 4 of 5 rows", note})
                                     + buttons);

        QAccessibleInterface* filterRow = page->child(2);
        QAccessibleInterface* findBar = page->child(3);
        QAccessibleInterface* statusLine = page->child(4);
        for (QAccessibleInterface* bar : {filterRow, findBar, statusLine}) {
            QCOMPARE(bar->parent(), page);
            // Drawn inside the grid's area, as before.
            QVERIFY(page->child(1)->rect().contains(bar->rect()));
        }
        QAccessibleInterface* filterBox = find(filterRow, QAccessible::EditableText, QStringLiteral("Filter score"));
        QVERIFY(filterBox);
        QCOMPARE(filterBox->text(QAccessible::Value), QStringLiteral("<35"));
        QVERIFY(find(findBar, QAccessible::StaticText, QStringLiteral("No match")));
        QVERIFY(find(statusLine, QAccessible::StaticText, QStringLiteral("4 of 5 rows")));

        // From the focused box, up through the bar to the page.
        QAccessibleInterface* focused = accessible(QApplication::focusWidget());
        QCOMPARE(focused->text(QAccessible::Name), QStringLiteral("Find"));
        QVERIFY(reachesUpwards(focused, page));
        QVERIFY(reachesUpwards(filterBox, page));
        // A point on a bar finds the bar, which lies over the grid.
        const QPoint onNext = grid.findBar()->mapToGlobal(grid.findBar()->rect().center());
        QCOMPARE(page->childAt(onNext.x(), onNext.y()), findBar);
        const QPoint onCell = grid.viewport()->mapToGlobal(grid.visualRect(grid.model()->index(0, 1)).center());
        QCOMPARE(page->childAt(onCell.x(), onCell.y()), page->child(1));

        QTest::keyClick(grid.findBar()->textBox(), Qt::Key_Escape);
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(childLines(page).mid(2, 3),
                 QStringList({"tool bar: Filter row (hidden)", "tool bar: Find bar (hidden)", "status bar:  (hidden)"}));
    }

    // "No match" is told each time a search finds nothing, the second time
    // too; the filter's count each time the filter changes, also when the
    // count stays the same.
    void findAndFilterResultsAreAnnounced()
    {
        ScratchSqlite db(kPeople);
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("p")).DataGrid1;
        GridFindBar& bar = *grid.findBar();
        QLabel* result = bar.resultLabel();
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(bar.textBox(), QStringLiteral("grape"));
        QTest::keyClick(bar.textBox(), Qt::Key_Return);
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QCOMPARE(announced(result), QStringList({"No match", "No match"}));
        QCOMPARE(accessible(result)->text(QAccessible::Name), QStringLiteral("No match"));

        bar.textBox()->selectAll();
        QTest::keyClicks(bar.textBox(), QStringLiteral("Eve"));
        grid.setCurrentIndex(grid.model()->index(4, 1));
        QTest::keyClick(bar.textBox(), Qt::Key_F3);
        QCOMPARE(announced(result).last(), QStringLiteral("Wrapped to the top"));

        QLabel* count = grid.statusLine()->findChild<QLabel*>();
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        typeFilter(grid, 2, QStringLiteral("<35"));
        typeFilter(grid, 2, QStringLiteral("<=30"));
        typeFilter(grid, 2, QStringLiteral(">=40"));
        QCOMPARE(announced(count), QStringList({"4 of 5 rows", "4 of 5 rows", "1 of 5 rows"}));
        QCOMPARE(accessible(grid.statusLine())->text(QAccessible::Name), QStringLiteral("1 of 5 rows"));
    }

    // How a read ended is told: stopped with the rows kept, or complete.
    void theEndOfAReadIsAnnounced()
    {
        ScratchSqlite db(kSlow);
        DataGrid& grid = *startAndOpen(db.dataSource(), QStringLiteral("slow")).DataGrid1;
        QVERIFY(grid.Model()->reading());
        QLabel* line = grid.statusLine()->findChild<QLabel*>();
        QTRY_VERIFY_WITH_TIMEOUT(!grid.Model()->reading(), 60000);
        QCOMPARE(announced(line).last(), QStringLiteral("All rows read: 8,000."));
        QCOMPARE(accessible(grid.statusLine())->text(QAccessible::Name), QStringLiteral("All rows read: 8,000."));

        QTest::keyClick(&grid, Qt::Key_F5);
        QVERIFY(grid.Model()->reading());
        QTest::keyClick(&grid, Qt::Key_Escape);
        const int kept = grid.model()->rowCount() - 1;
        QCOMPARE(announced(line).last(),
                 QStringLiteral("%1 rows shown; reading was stopped.").arg(GridStatusLine::number(kept)));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridAccess)
#include "test_grid_access.moc"
