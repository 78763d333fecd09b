// Sorting by several columns: the order worked out from a snapshot (ties by
// the next key, NULLs placed per key and direction, rows equal by every key
// in table order), checked against a plain comparison over many rows; and
// through the real window on SQLite and PostgreSQL, Shift+click on the
// headings building the order, the headings showing it, and what is copied
// following it, on the user-interface thread and on a worker.

#include "oracle/RowOrder.h"
#include "oracle/Snapshot.h"
#include "oracle/TableModel.h"
#include "oracle/ViewJob.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <numeric>

using namespace PageSupport;

namespace {

// Two columns, a text and an integer; std::nullopt is NULL.
Snapshot twoColumns(const std::vector<std::pair<std::optional<std::string>, std::optional<long long>>>& rows)
{
    ColumnInfo text;
    text.name = "city";
    text.type = ColumnType::Text;
    ColumnInfo number;
    number.name = "n";
    number.type = ColumnType::Integer;
    Snapshot s;
    s.begin({text, number});
    for (const auto& [t, n] : rows) {
        if (t)
            s.cell(ValueKind::Text, t->data(), t->size());
        else
            s.cell(ValueKind::Null, nullptr, 0);
        if (n) {
            const std::string digits = std::to_string(*n);
            s.cell(ValueKind::Integer, digits.data(), digits.size());
        } else {
            s.cell(ValueKind::Null, nullptr, 0);
        }
        s.endRow();
    }
    s.end();
    return s;
}

std::vector<std::int32_t> sorted(const Snapshot& s, const std::vector<SortKey>& keys)
{
    std::vector<std::int32_t> rows(static_cast<std::size_t>(s.rowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    SortRowsBy(s, keys, rows);
    return rows;
}

// The sample the window tests use too: ids 1..7 are rows 0..6.
const std::vector<std::pair<std::optional<std::string>, std::optional<long long>>> kSample = {
    {"b", 2}, {"a", std::nullopt}, {"b", 1}, {std::nullopt, 5}, {"a", 3}, {"b", 2}, {"a", 3}};

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

QString mark(const DataGrid& grid, int c)
{
    return grid.model()->headerData(c, Qt::Horizontal, TableModel::SortMarkRole).toString();
}

class WorkerFromRows {
public:
    explicit WorkerFromRows(std::int64_t rows) : before_(ViewJob::workerFromRows()) { ViewJob::setWorkerFromRows(rows); }
    ~WorkerFromRows() { ViewJob::setWorkerFromRows(before_); }

private:
    std::int64_t before_;
};

} // namespace

class TestGridSortKeys : public PageTest {
    Q_OBJECT

private slots:
    // Ties of the first key go by the second; NULL last ascending and first
    // descending in each key; rows equal by both stay in table order.
    void tiesGoToTheNextKey()
    {
        const Snapshot s = twoColumns(kSample);
        QCOMPARE(sorted(s, {{0, false}, {1, false}}), (std::vector<std::int32_t>{4, 6, 1, 2, 0, 5, 3}));
        QCOMPARE(sorted(s, {{0, false}, {1, true}}), (std::vector<std::int32_t>{1, 4, 6, 0, 5, 2, 3}));
        QCOMPARE(sorted(s, {{0, true}, {1, false}}), (std::vector<std::int32_t>{3, 2, 0, 5, 4, 6, 1}));
        QCOMPARE(sorted(s, {{1, false}, {0, false}}), (std::vector<std::int32_t>{2, 0, 5, 4, 6, 3, 1}));
        // One key is the sort by that column alone.
        std::vector<std::int32_t> alone(7);
        std::iota(alone.begin(), alone.end(), 0);
        SortRows(s, 1, true, alone);
        QCOMPARE(sorted(s, {{1, true}}), alone);
    }

    // Many rows with many ties in both keys, against a plain stable sort
    // comparing key by key.
    void agreesWithAPlainComparison()
    {
        QRandomGenerator random(7);
        std::vector<std::pair<std::optional<std::string>, std::optional<long long>>> rows;
        for (int i = 0; i < 20000; ++i) {
            std::optional<std::string> t;
            if (random.bounded(10) != 0)
                t = std::string(1, char('a' + random.bounded(6))) + char('a' + random.bounded(3));
            std::optional<long long> n;
            if (random.bounded(10) != 0)
                n = random.bounded(40) - 20;
            rows.emplace_back(t, n);
        }
        const Snapshot s = twoColumns(rows);
        for (const bool textDown : {false, true}) {
            for (const bool numberDown : {false, true}) {
                // NULL after every value ascending, before every value descending.
                const auto compareOne = [](const auto& a, const auto& b, bool down) {
                    if (a.has_value() != b.has_value())
                        return (a.has_value() ? -1 : 1) * (down ? -1 : 1);
                    if (!a || *a == *b)
                        return 0;
                    return (*a < *b ? -1 : 1) * (down ? -1 : 1);
                };
                std::vector<std::int32_t> expected(rows.size());
                std::iota(expected.begin(), expected.end(), 0);
                std::stable_sort(expected.begin(), expected.end(), [&](std::int32_t a, std::int32_t b) {
                    const auto& x = rows[static_cast<std::size_t>(a)];
                    const auto& y = rows[static_cast<std::size_t>(b)];
                    const int first = compareOne(x.first, y.first, textDown);
                    return first != 0 ? first < 0 : compareOne(x.second, y.second, numberDown) < 0;
                });
                QCOMPARE(sorted(s, {{0, textDown}, {1, numberDown}}), expected);
            }
        }
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
        QFETCH(bool, postgres);
        QFETCH(bool, onWorker);
        if (postgres && !TestSupport::pgLogin())
            QSKIP("DERVANTA_TEST_PG_* not set: no PostgreSQL test server");
        const std::string sql = "create table t (id integer primary key, city text, n integer);"
                                " insert into t values (1, 'b', 2), (2, 'a', null), (3, 'b', 1), (4, null, 5),"
                                " (5, 'a', 3), (6, 'b', 2), (7, 'a', 3);";
        std::unique_ptr<TestSupport::ScratchSqlite> lite;
        std::unique_ptr<TestSupport::ScratchPgRole> pg;
        DataGrid* opened = nullptr;
        if (postgres) {
            pg = std::make_unique<TestSupport::ScratchPgRole>();
            pg->exec(sql);
            opened = startAndOpen(TestSupport::pgDataSource(), QStringLiteral("t"), QString::fromStdString(pg->name()),
                                  QString::fromStdString(pg->password()))
                         .DataGrid1;
        } else {
            lite = std::make_unique<TestSupport::ScratchSqlite>(sql);
            opened = startAndOpen(lite->dataSource(), QStringLiteral("t")).DataGrid1;
        }
        DataGrid& grid = *opened;
        const WorkerFromRows worker(onWorker ? 1 : 50'000);
        QTRY_COMPARE(grid.model()->rowCount(), 8);

        clickHeading(grid, 1);
        QTRY_COMPARE(column(grid, 0), (QStringList{"2", "5", "7", "1", "3", "6", "4"}));
        QVERIFY(grid.horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(mark(grid, 1), QString());

        clickHeading(grid, 2, Qt::ShiftModifier);
        QTRY_COMPARE(column(grid, 0), (QStringList{"5", "7", "2", "3", "1", "6", "4"}));
        QCOMPARE(grid.Model()->sortOrder().keys(), (std::vector<TableModel::SortKey>{{1, false}, {2, false}}));
        QVERIFY(!grid.horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(mark(grid, 1), QStringLiteral("\u25B21"));
        QCOMPARE(mark(grid, 2), QStringLiteral("\u25B22"));
        QCOMPARE(mark(grid, 0), QString());
        QCOMPARE(grid.model()->headerData(2, Qt::Horizontal, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("n, sorted ascending, sort key 2 of 2"));
        // The heading's text stays the name: it is what a refresh goes by.
        QCOMPARE(grid.model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("n"));
        maybeScreenshot(QStringLiteral("sort-two-keys"));

        // Shift+click again: that key turns.
        clickHeading(grid, 2, Qt::ShiftModifier);
        QTRY_COMPARE(column(grid, 0), (QStringList{"2", "5", "7", "1", "6", "3", "4"}));
        QCOMPARE(mark(grid, 2), QStringLiteral("\u25BC2"));

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
        QCOMPARE(mark(grid, 1), QString());
        QVERIFY(grid.horizontalHeader()->isSortIndicatorShown());
    }
};

DERVANTA_PAGE_TEST_MAIN(TestGridSortKeys)
#include "test_grid_sort_keys.moc"
