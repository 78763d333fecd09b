// A table kept in the database and reached by position: the position pass
// and the blocks read by seeking from its places show every row once, in
// the order the grid sorts (NULL after the values ascending, before them
// descending; ties by the key), whatever block is read first; rows others
// insert or delete after the pass neither repeat nor vanish at a block's
// edge; a table without a key goes by SQLite's rowid.

#include "support/RowsetSupport.h"

#include "oracle/KeyOrder.h"
#include "oracle/KeyedWindow.h"
#include "oracle/PositionIndex.h"
#include "oracle/WindowFind.h"

#include <QTest>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>

using namespace RowsetSupport;

namespace {

struct Row {
    long long id = 0;
    std::optional<long long> grp;
    std::optional<std::string> name;
};

// A row's terms compared as the grid orders them: NULL last ascending,
// first descending; the id last.
bool before(const Row& a, const Row& b, const std::vector<OrderTerm>& sort)
{
    for (const OrderTerm& t : sort) {
        const auto compare = [&](const auto& x, const auto& y) -> int {
            if (!x && !y)
                return 0;
            if (!x || !y)
                return (!x ? 1 : -1) * (t.descending ? -1 : 1);
            if (*x == *y)
                return 0;
            return (*x < *y ? -1 : 1) * (t.descending ? -1 : 1);
        };
        const int c = t.column == 1 ? compare(a.grp, b.grp) : compare(a.name, b.name);
        if (c != 0)
            return c < 0;
    }
    return a.id < b.id;
}

std::vector<Row> rowsOf(const TestDb& db, const std::string& table)
{
    std::vector<Row> rows;
    for (const auto& r : db.query("select id, grp, name from " + quoted(table))) {
        Row row;
        row.id = std::stoll(*r[0]);
        if (r[1])
            row.grp = std::stoll(*r[1]);
        row.name = r[2];
        rows.push_back(row);
    }
    return rows;
}

std::vector<ColumnInfo> columnsOf(Session& s, const std::string& table)
{
    Snapshot none;
    s.query("select * from " + quoted(table) + " where 1 = 0", {}, none);
    return none.columns();
}

struct Window {
    std::shared_ptr<Session> reader;
    std::unique_ptr<KeyedWindow> window;
    std::int64_t counted = 0;
};

// The pass over `sort` on a session of its own, and a window over its blocks.
Window passOver(const TestDb& db, const std::string& table, std::vector<OrderTerm> sort, std::vector<OrderTerm> key,
                std::optional<std::string> locator, std::size_t budget)
{
    Window w;
    w.reader = OpenSession(db.login);
    const KeyOrder order(w.reader->dialect(), w.reader->placeholders(), table, columnsOf(*w.reader, table),
                         std::move(sort), std::move(key), std::move(locator));
    PositionIndex index(OpenSession(db.login), order.placesQuery());
    index.waitForEnd();
    index.take();
    if (index.failure())
        qWarning("%s", index.failure()->what());
    w.counted = index.rowsCounted();
    w.window = std::make_unique<KeyedWindow>(order, budget);
    w.window->takePass(index.blockStarts(), index.rowsCounted(), index.ended());
    return w;
}

// The ids at every position, the blocks read in `blocks` order first.
std::vector<long long> idsShown(Window& w, const std::vector<std::size_t>& blocks, std::int64_t* change = nullptr)
{
    KeyedWindow& kw = *w.window;
    std::int64_t moved = 0;
    for (std::size_t b : blocks)
        moved += kw.readBlock(*w.reader, b);
    if (change)
        *change = moved;
    std::vector<long long> ids;
    const int first = kw.order().firstTableColumn();
    for (std::int64_t p = 0; p < kw.rowCount(); ++p) {
        const KeyedWindow::Spot s = kw.locate(p);
        const Snapshot* rows = kw.rows(s.block);
        if (!rows || (s.row >= rows->rowCount() && kw.partial(s.block))) {
            kw.readBlock(*w.reader, s.block);
            rows = kw.rows(s.block);
        }
        ids.push_back(std::stoll(std::string(rows->value(s.row, first))));
    }
    return ids;
}

std::vector<long long> idsInOrder(std::vector<Row> rows, const std::vector<OrderTerm>& sort)
{
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return before(a, b, sort); });
    std::vector<long long> ids;
    for (const Row& r : rows)
        ids.push_back(r.id);
    return ids;
}

void makeTable(const TestDb& db, const std::string& table, int rows)
{
    db.exec("create table " + quoted(table) + " (id integer primary key, grp integer, name varchar(20))");
    std::string sql;
    for (int r = 1; r <= rows; ++r) {
        sql += sql.empty() ? "insert into " + quoted(table) + " values " : ", ";
        const std::string grp = r % 5 == 0 ? "null" : std::to_string(r % 7);
        const std::string name = r % 9 == 0 ? "null" : "'n" + std::to_string(1000 + r * 37 % 1000) + "'";
        sql += "(" + std::to_string(r) + ", " + grp + ", " + name + ")";
        if (r % 500 == 0 || r == rows) {
            db.exec(sql);
            sql.clear();
        }
    }
}

void addEngines()
{
    QTest::addColumn<Engine>("engine");
    QTest::newRow("SQLite") << Engine::Sqlite;
    QTest::newRow("PostgreSQL") << Engine::Postgres;
}

} // namespace

class KeyedWindowTest : public QObject {
    Q_OBJECT

private slots:
    void everyPositionShowsItsRowInTheGridsOrder_data() { addEngines(); }
    void everyPositionShowsItsRowInTheGridsOrder()
    {
        QFETCH(Engine, engine);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_order");
        makeTable(*db, table, 3500);
        const std::vector<Row> rows = rowsOf(*db, table);

        const std::vector<std::vector<OrderTerm>> sorts = {
            {},
            {{1, false, false}},
            {{1, true, false}},
            {{2, false, false}, {1, true, false}},
        };
        for (const auto& sort : sorts) {
            // A budget of a few blocks: blocks are let go and read again.
            Window w = passOver(*db, table, sort, {{0, false, true}}, std::nullopt, 200 * 1024);
            QCOMPARE(w.counted, 3500);
            QCOMPARE(w.window->blockCount(), std::size_t{4});
            // The last block first, then the others out of order.
            const std::vector<long long> shown = idsShown(w, {3, 1, 0, 2});
            QCOMPARE(shown, idsInOrder(rows, sort));
            QVERIFY(w.window->memoryBytes() <= 200 * 1024 || w.window->blockCount() == 1);

            // A place's position is the count of the rows before it.
            const KeyOrder& order = w.window->order();
            for (std::int64_t p : {0, 1023, 1024, 2500, 3499}) {
                const KeyedWindow::Spot s = w.window->locate(p);
                w.window->readBlock(*w.reader, s.block);
                const std::vector<Value> place = order.placeOf(w.window->rows(s.block)->row(s.row));
                const KeyOrder::Statement count = order.countBefore(place);
                Snapshot n;
                w.reader->query(count.sql, count.params, n);
                QCOMPARE(std::string(n.value(0, 0)), std::to_string(p));
                // Counted by seeking the key's index up to the place, not
                // by scanning the table (a hundred million rows take seconds).
                if (engine == Engine::Sqlite && sort.empty()) {
                    Snapshot plan;
                    w.reader->query("EXPLAIN QUERY PLAN " + count.sql, count.params, plan);
                    QVERIFY2(std::string(plan.value(0, 3)).find("SEARCH") == 0, plan.value(0, 3).data());
                }
            }
        }
    }

    void rowsOthersChangeAfterThePassShowOnce_data() { addEngines(); }
    void rowsOthersChangeAfterThePassShowOnce()
    {
        QFETCH(Engine, engine);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_changes");
        makeTable(*db, table, 3500);
        const std::vector<OrderTerm> sort = {{1, false, false}};
        Window w = passOver(*db, table, sort, {{0, false, true}}, std::nullopt, 64 << 20);

        // Others insert rows inside blocks, before the first row and after the
        // last, and delete rows, some of them a block's first.
        const std::string t = quoted(table);
        db->exec("insert into " + t + " select id + 10000, grp, name from " + t + " where id % 13 = 0");
        db->exec("insert into " + t + " values (0, -1, 'first'), (99999, null, 'last')");
        db->exec("delete from " + t + " where id % 10 = 0 or id % 7 = 3");
        std::int64_t change = 0;
        const std::vector<long long> shown = idsShown(w, {2, 0, 3, 1}, &change);
        const std::vector<long long> expected = idsInOrder(rowsOf(*db, table), sort);
        QCOMPARE(shown, expected);
        QCOMPARE(w.window->rowCount(), static_cast<std::int64_t>(expected.size()));
        QCOMPARE(change, static_cast<std::int64_t>(expected.size()) - 3500);
    }

    // Filters answered by the database: NULL never equals or differs, a
    // text is looked for ignoring case with % and _ as typed, and the seeks
    // keep to the rows filtered.
    void filtersAreTheDatabasesAndBlocksKeepToThem_data() { addEngines(); }
    void filtersAreTheDatabasesAndBlocksKeepToThem()
    {
        QFETCH(Engine, engine);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_filter");
        makeTable(*db, table, 5000);
        db->exec("update " + quoted(table) + " set name = 'N_1%' where id in (3, 4000)");
        const std::vector<Row> rows = rowsOf(*db, table);
        using Op = ColumnFilter::Op;
        const struct {
            std::vector<KeyOrder::Filter> filters;
            std::function<bool(const Row&)> keeps;
        } cases[] = {
            {{{1, Op::NotEqual, "3"}}, [](const Row& r) { return r.grp && *r.grp != 3; }},
            {{{1, Op::IsNull, ""}, {2, Op::Contains, "n10"}},
             [](const Row& r) { return !r.grp && r.name && r.name->starts_with("n10"); }},
            {{{2, Op::Contains, "_1%"}}, [](const Row& r) { return r.name == "N_1%"; }},
            {{{1, Op::GreaterEqual, "5"}, {2, Op::Less, "n1500"}},
             [](const Row& r) { return r.grp && *r.grp >= 5 && r.name && *r.name < "n1500"; }},
        };
        const std::vector<OrderTerm> sort = {{2, true, false}};
        for (const auto& c : cases) {
            std::shared_ptr<Session> reader = OpenSession(db->login);
            KeyOrder order(reader->dialect(), reader->placeholders(), table, columnsOf(*reader, table), sort,
                           {{0, false, true}}, std::nullopt);
            order.setFilters(c.filters);
            PositionIndex index(OpenSession(db->login), order.placesQuery());
            index.waitForEnd();
            index.take();
            QVERIFY(!index.failure());
            Window w{reader, std::make_unique<KeyedWindow>(order, 64 << 20), index.rowsCounted()};
            w.window->takePass(index.blockStarts(), index.rowsCounted(), true);
            std::vector<Row> kept;
            std::copy_if(rows.begin(), rows.end(), std::back_inserter(kept), c.keeps);
            std::vector<std::size_t> blocks(w.window->blockCount());
            std::iota(blocks.rbegin(), blocks.rend(), std::size_t{0});
            QCOMPARE(idsShown(w, blocks), idsInOrder(kept, sort));
        }
    }

    // The head read before the pass has counted anything: its rows are the
    // first positions, they count until the pass does, the pass's places do
    // not let them go, and the rest of block 0 is read after them.
    void theHeadComesBeforeThePassAndStaysBlockZerosStart_data() { addEngines(); }
    void theHeadComesBeforeThePassAndStaysBlockZerosStart()
    {
        QFETCH(Engine, engine);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_head");
        makeTable(*db, table, 3000);
        const std::vector<Row> rows = rowsOf(*db, table);
        const std::vector<OrderTerm> sort = {{1, true, false}};
        using Op = ColumnFilter::Op;
        const struct {
            std::vector<KeyOrder::Filter> filters;
            std::function<bool(const Row&)> keeps;
        } cases[] = {
            {{}, [](const Row&) { return true; }},
            {{{0, Op::Less, "20"}}, [](const Row& r) { return r.id < 20; }}, // fewer rows than a head
        };
        for (const auto& c : cases) {
            std::shared_ptr<Session> reader = OpenSession(db->login);
            KeyOrder order(reader->dialect(), reader->placeholders(), table, columnsOf(*reader, table), sort,
                           {{0, false, true}}, std::nullopt);
            order.setFilters(c.filters);
            std::vector<Row> kept;
            std::copy_if(rows.begin(), rows.end(), std::back_inserter(kept), c.keeps);
            const std::vector<long long> expected = idsInOrder(kept, sort);
            const auto headRows = std::min<std::int64_t>(KeyedWindow::kHeadRows, std::ssize(expected));

            Window w{reader, std::make_unique<KeyedWindow>(order, 64 << 20), 0};
            const KeyOrder::Statement head = w.window->headQuery();
            Snapshot read;
            reader->query(head.sql, head.params, read);
            QCOMPARE(w.window->takeHead(std::move(read)), headRows);
            QCOMPARE(w.window->rowCount(), headRows);
            QCOMPARE(w.window->partial(0), headRows == KeyedWindow::kHeadRows);
            for (std::int64_t p = 0; p < headRows; ++p)
                QCOMPARE(std::stoll(std::string(w.window->rows(0)->value(p, 0))), expected[std::size_t(p)]);

            PositionIndex index(OpenSession(db->login), order.placesQuery());
            index.waitForEnd();
            index.take();
            // Handed over in two goes, as the pass does while it counts.
            const std::vector<KeyedWindow::Place> first(index.blockStarts().begin(), index.blockStarts().begin() + 1);
            w.window->takePass(first, std::min<std::int64_t>(index.rowsCounted(), 10), false);
            QCOMPARE(w.window->rowCount(), headRows);
            w.window->takePass(index.blockStarts(), index.rowsCounted(), true);
            QVERIFY(w.window->rows(0));
            QCOMPARE(w.window->rowCount(), std::ssize(expected));
            std::vector<std::size_t> blocks(w.window->blockCount() - 1);
            std::iota(blocks.begin(), blocks.end(), std::size_t{1});
            QCOMPARE(idsShown(w, blocks), expected);
        }
    }

    // A pass with a filter over more rows than the engine hands over at once
    // counts each row once and places every block where it starts.
    void aFilteredPassOverManyRowsCountsEachOnce_data() { addEngines(); }
    void aFilteredPassOverManyRowsCountsEachOnce()
    {
        QFETCH(Engine, engine);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_many");
        db->exec("create table " + quoted(table) + " (id integer primary key, grp integer)");
        db->exec("insert into " + quoted(table)
                 + (engine == Engine::Postgres
                        ? std::string(" select i, i % 7 from generate_series(1, 60000) i")
                        : std::string(" with recursive n(i) as (select 1 union all select i + 1 from n where i < 60000)"
                                      " select i, i % 7 from n")));
        std::shared_ptr<Session> reader = OpenSession(db->login);
        KeyOrder order(reader->dialect(), reader->placeholders(), table, columnsOf(*reader, table), {},
                       {{0, false, true}}, std::nullopt);
        order.setFilters({{1, ColumnFilter::Op::NotEqual, "3"}});
        PositionIndex index(OpenSession(db->login), order.placesQuery());
        index.waitForEnd();
        index.take();
        QVERIFY(!index.failure());
        std::vector<long long> ids;
        for (const auto& r : db->query("select id from " + quoted(table) + " where grp <> 3 order by id"))
            ids.push_back(std::stoll(*r[0]));
        QCOMPARE(index.rowsCounted(), std::ssize(ids));
        QCOMPARE(std::ssize(index.blockStarts()), (std::ssize(ids) + 1023) / 1024);
        for (std::size_t b = 0; b < index.blockStarts().size(); ++b)
            QCOMPARE(std::stoll(index.blockStarts()[b].front().bytes), ids[b * 1024]);
    }

    // A Replace All's matches: every row with a match once, in the order
    // shown and within its filters, each judged by the caller's rule; a text
    // beyond ASCII too, whose case SQLite's LOWER does not fold; a visit
    // that says no ends the walk.
    void everyMatchComesOnceInTheOrderShown_data() { addEngines(); }
    void everyMatchComesOnceInTheOrderShown()
    {
        QFETCH(Engine, engine);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_match");
        makeTable(*db, table, 3000);
        db->exec("update " + quoted(table) + " set name = '\u00c4PFEL' where id in (7, 2501, 2502)");
        const std::vector<Row> rows = rowsOf(*db, table);
        const std::vector<OrderTerm> sort = {{1, true, false}};
        std::shared_ptr<Session> reader = OpenSession(db->login);
        KeyOrder order(reader->dialect(), reader->placeholders(), table, columnsOf(*reader, table), sort,
                       {{0, false, true}}, std::nullopt);
        order.setFilters({{1, ColumnFilter::Op::NotEqual, "3"}});
        const auto lowerAscii = [](std::string text) {
            for (char& c : text)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            return text;
        };
        const struct {
            std::string text;
            std::function<bool(const std::string&)> judge;
        } cases[] = {
            {"N19", [&](const std::string& name) { return lowerAscii(name).find("n19") != std::string::npos; }},
            {"\u00e4pfel", [](const std::string& name) { return name == "\u00c4PFEL"; }},
        };
        for (const auto& c : cases) {
            const WindowFindRequest request{order, std::nullopt, {}, {2}, 0, false, c.text,
                                            [&](int, ValueKind kind, std::string_view value) {
                                                return kind != ValueKind::Null && c.judge(std::string(value));
                                            }};
            std::vector<long long> ids;
            QVERIFY(EachMatchInDatabase(
                *reader, request,
                [&](std::vector<Value> values, std::vector<int> columns) {
                    ids.push_back(std::stoll(values[0].bytes));
                    return columns == std::vector<int>{2};
                },
                StopToken{}));
            std::vector<Row> kept;
            std::copy_if(rows.begin(), rows.end(), std::back_inserter(kept),
                         [&](const Row& r) { return r.grp && *r.grp != 3 && r.name && c.judge(*r.name); });
            QVERIFY(kept.size() > 1);
            QCOMPARE(ids, idsInOrder(kept, sort));
            int seen = 0;
            QVERIFY(!EachMatchInDatabase(*reader, request, [&](std::vector<Value>, std::vector<int>) { return ++seen < 2; },
                                         StopToken{}));
            QCOMPARE(seen, 2);
        }
    }

    void aTableWithoutKeyGoesByRowid()
    {
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(Engine::Sqlite, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string table = db->tableName("kw_keyless");
        db->exec("create table " + quoted(table) + " (id integer, grp integer, name text)");
        // Every row twice: only the rowid tells them apart.
        for (int i = 0; i < 3; ++i)
            db->exec("insert into " + quoted(table)
                     + " with recursive n(i) as (select 1 union all select i + 1 from n where i < 1200)"
                       " select i, i % 4, null from n union all select i, i % 4, null from n where i % 2 = 0");
        const std::vector<OrderTerm> sort = {{1, true, false}};
        Window w = passOver(*db, table, sort, {}, std::string("rowid"), 64 << 20);
        QCOMPARE(w.counted, 5400);
        QVERIFY(w.window->order().readsLocator());
        std::vector<long long> rowids;
        for (std::int64_t p = 0; p < w.window->rowCount(); ++p) {
            const KeyedWindow::Spot s = w.window->locate(p);
            if (!w.window->rows(s.block))
                w.window->readBlock(*w.reader, s.block);
            rowids.push_back(std::stoll(std::string(w.window->rows(s.block)->value(s.row, 0))));
        }
        std::vector<long long> expected;
        for (const auto& r : db->query("select rowid from " + quoted(table) + " order by grp desc, rowid"))
            expected.push_back(std::stoll(*r[0]));
        QCOMPARE(rowids, expected);
    }
};

QTEST_GUILESS_MAIN(KeyedWindowTest)
#include "test_keyed_window.moc"
