// A table larger than the memory the program may take: the read stops where
// memory ran out instead of ending the program, the rows read stay and can
// be edited, and the status line says why the read stopped; past the memory
// budget a table with a key goes on with its rows in the database.

#include "oracle/TableModel.h"
#include "oracle/RowOrder.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "pages/GridStatusLine.h"
#include "support/PageSupport.h"
#include "support/RowsetSupport.h"
#include "support/TestSupport.h"

#include "oracle/Blocking.h"
#include "oracle/MemoryBudget.h"
#include "oracle/TableReader.h"

#include <QFile>
#include <QScopeGuard>

#include <condition_variable>
#include <mutex>

#include <sys/resource.h>

using namespace PageSupport;

namespace {

// The process's address space now, in bytes.
qint64 addressSpace()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

// Limits the address space (as a small machine or a container does) while
// it lives; the soft limit only, so it can be lifted again.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_AS, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        ok_ = setrlimit(RLIMIT_AS, &limit) == 0;
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved_); }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool ok_ = false;
};

} // namespace

class TestMemoryLimits : public PageTest {
    Q_OBJECT

private slots:
    void runningOutOfMemoryStopsTheReadOnly()
    {
        // About 300 MB of text, against 160 MB of room.
        constexpr int kRows = 200000;
        TestSupport::ScratchSqlite db("create table big (id integer primary key, v text);"
                                      " insert into big with recursive n(i) as (select 1 union all select i + 1"
                                      " from n where i < " + std::to_string(kRows) + ") select i, printf('%01500d', i) from n;");
        // A budget past the limit, as a user may set: memory runs out first.
        qputenv("DERVANTA_MEMORY_BUDGET", "64G");
        const auto unset = qScopeGuard([] { qunsetenv("DERVANTA_MEMORY_BUDGET"); });
        Form3* form3 = nullptr;
        {
            const AddressSpaceLimit limit(addressSpace() + (qint64{160} << 20));
            QVERIFY(limit.ok());
            form3 = &startAndOpen(db.dataSource(), QStringLiteral("big"));
            QTRY_VERIFY_WITH_TIMEOUT(!form3->DataGrid1->Model()->reading(), 60000);
        }
        DataGrid& grid = *form3->DataGrid1;
        QVERIFY(programEnds().isEmpty());
        const qint64 kept = grid.Model()->totalRows();
        QVERIFY2(kept > 0 && kept < kRows, qPrintable(QString::number(kept)));
        QCOMPARE(grid.statusLine()->text(),
                 QStringLiteral("%1 rows shown; reading stopped because memory ran out.").arg(GridStatusLine::number(kept)));
        // Exactly the rows read, in order, and they can be edited.
        QCOMPARE(cellText(grid, static_cast<int>(kept) - 1, 0), QString::number(kept));
        activate(*form3);
        typeIntoCell(grid, 0, 1, QStringLiteral("edited"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(db.query("select v from big where id = 1").at(0).at(0), std::optional<std::string>("edited"));
    }

    // Past the memory budget the read stops as when memory runs out, before
    // it does: the rows read stay and can be edited, and the line says why.
    void theMemoryBudgetSendsTheRowsToTheDatabase()
    {
        constexpr int kRows = 20000; // about 2 MB of text
        TestSupport::ScratchSqlite db("create table big (id integer primary key, v text);"
                                      " insert into big with recursive n(i) as (select 1 union all select i + 1"
                                      " from n where i < " + std::to_string(kRows) + ") select i, printf('%0100d', i) from n;");
        qputenv("DERVANTA_MEMORY_BUDGET", "256K");
        const auto unset = qScopeGuard([] { qunsetenv("DERVANTA_MEMORY_BUDGET"); });
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("big"));
        DataGrid& grid = *form3.DataGrid1;
        QTRY_VERIFY_WITH_TIMEOUT(grid.Model()->rowsInDatabase() && !grid.Model()->countingRows(), 60000);
        QCOMPARE(grid.Model()->totalRows(), kRows);
        QVERIFY2(grid.Model()->memoryBytes() < 512 * 1024, qPrintable(QString::number(grid.Model()->memoryBytes())));
        QVERIFY(grid.statusLine()->text().startsWith(QStringLiteral("20,000 rows, kept in the database: the table "
                                                                    "needs more than the 256 KB of memory allowed")));
        QTRY_COMPARE(cellText(grid, 0, 0), QStringLiteral("1"));
        activate(form3);
        typeIntoCell(grid, 0, 1, QStringLiteral("edited"));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(db.query("select v from big where id = 1").at(0).at(0), std::optional<std::string>("edited"));
        QVERIFY(programEnds().isEmpty());
    }

    // Under an address-space limit the default budget is what the limit
    // leaves: the table goes to the database before memory runs out.
    void anAddressSpaceLimitSetsTheBudget()
    {
        constexpr int kRows = 200000; // about 300 MB of text
        TestSupport::ScratchSqlite db("create table big (id integer primary key, v text);"
                                      " insert into big with recursive n(i) as (select 1 union all select i + 1"
                                      " from n where i < " + std::to_string(kRows) + ") select i, printf('%01500d', i) from n;");
        const AddressSpaceLimit limit(addressSpace() + (qint64{400} << 20));
        QVERIFY(limit.ok());
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("big"));
        DataGrid& grid = *form3.DataGrid1;
        QTRY_VERIFY_WITH_TIMEOUT(grid.Model()->rowsInDatabase() && !grid.Model()->countingRows(), 60000);
        QCOMPARE(grid.Model()->totalRows(), kRows);
        QVERIFY2(grid.statusLine()->text().contains(QStringLiteral("kept in the database")),
                 qPrintable(grid.statusLine()->text()));
        QTRY_COMPARE(cellText(grid, 0, 0), QStringLiteral("1"));
        QVERIFY(programEnds().isEmpty());
    }

    // A table the database says is larger than the budget goes there after
    // its first block; one that cannot be kept there (no key on PostgreSQL)
    // is read on to the budget.
    void theDatabasesEstimateSendsTheRowsThereEarly_data()
    {
        QTest::addColumn<RowsetSupport::Engine>("engine");
        QTest::newRow("SQLite") << RowsetSupport::Engine::Sqlite;
        QTest::newRow("PostgreSQL") << RowsetSupport::Engine::Postgres;
    }
    void theDatabasesEstimateSendsTheRowsThereEarly()
    {
        QFETCH(RowsetSupport::Engine, engine);
        QString skip;
        const std::unique_ptr<RowsetSupport::TestDb> db = RowsetSupport::TestDb::make(engine, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        qputenv("DERVANTA_MEMORY_BUDGET", "1M");
        const auto unset = qScopeGuard([] { qunsetenv("DERVANTA_MEMORY_BUDGET"); });
        for (const bool keyed : {true, false}) {
            const std::string table = db->tableName(keyed ? "estimated_keyed" : "estimated_keyless");
            db->exec("create table " + table + " (id integer" + (keyed ? " primary key" : "") + ", v varchar(200))");
            std::string sql;
            for (int r = 1; r <= 20000; ++r) { // about 2.3 MB
                sql += (sql.empty() ? "insert into " + table + " values " : ", ") + ("(" + std::to_string(r) + ", '")
                       + std::string(100, 'x') + "')";
                if (r % 1000 == 0) {
                    db->exec(sql);
                    sql.clear();
                }
            }
            if (engine == RowsetSupport::Engine::Postgres)
                db->exec("analyze " + table);
            TableReader reader(OpenSession(db->login), table);
            Snapshot rows;
            QTRY_VERIFY_WITH_TIMEOUT((reader.take(rows), reader.state() != TableReader::State::Reading), 30000);
            QVERIFY(reader.overBudget());
            const bool early = keyed || engine == RowsetSupport::Engine::Sqlite;
            QVERIFY2(early ? rows.rowCount() == 1024 : rows.rowCount() > 5000, qPrintable(QString::number(rows.rowCount())));
        }
    }

    void byteSizesAreRead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes"); // -1: not a size
        QTest::newRow("bytes") << "1048576" << qint64{1048576};
        QTest::newRow("K") << "64K" << qint64{65536};
        QTest::newRow("MB") << " 512mb " << (qint64{512} << 20);
        QTest::newRow("G") << "2G" << (qint64{2} << 30);
        QTest::newRow("no number") << "G" << qint64{-1};
        QTest::newRow("unknown suffix") << "12X" << qint64{-1};
        QTest::newRow("negative") << "-5M" << qint64{-1};
        QTest::newRow("too big") << "99999999999999999999G" << qint64{-1};
    }
    void byteSizesAreRead()
    {
        QFETCH(QString, text);
        QFETCH(qint64, bytes);
        const std::optional<std::size_t> read = ParseByteSize(text.toStdString());
        QCOMPARE(read ? static_cast<qint64>(*read) : qint64{-1}, bytes);
    }

    // A worker thread that cannot be had (no room for its stack) is told to
    // the caller as memory running short, and the task it was for never
    // runs later on another worker.
    void aWorkerThatCannotStartLeavesNoTaskBehind()
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool release = false;
        int ran = 0;
        int accepted = 0;
        bool refused = false;
        {
            const AddressSpaceLimit limit(addressSpace() + (qint64{40} << 20));
            QVERIFY(limit.ok());
            // Each task holds its thread until released: sooner or later no
            // thread is free and a new one finds no room.
            for (int i = 0; i < 64 && !refused; ++i) {
                try {
                    StartWorker([&] {
                        std::unique_lock<std::mutex> lock(mutex);
                        ++ran;
                        changed.notify_all();
                        changed.wait(lock, [&] { return release; });
                    });
                    ++accepted;
                    std::unique_lock<std::mutex> lock(mutex);
                    changed.wait(lock, [&] { return ran == accepted; });
                } catch (const std::bad_alloc&) {
                    refused = true;
                }
            }
        }
        QVERIFY2(refused, "every worker thread started under the limit");
        {
            const std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        changed.notify_all();
        QTest::qWait(200);
        const std::lock_guard<std::mutex> lock(mutex);
        QCOMPARE(ran, accepted);
    }

    // A sort that needs more memory than is left is told it could not be
    // done; the rows stay in the order they were, and the window goes on.
    void aSortShortOfMemoryLeavesTheViewAsItWas()
    {
        constexpr int kRows = 4000000;
        TestSupport::ScratchSqlite db("create table n (id integer primary key, v text);"
                                      " insert into n with recursive r(i) as (select 1 union all select i + 1"
                                      " from r where i < " + std::to_string(kRows) + ") select i, printf('%03d', (i * 7919) % 1000) from r;");
        Form3& form3 = startAndOpen(db.dataSource(), QStringLiteral("n"));
        DataGrid& grid = *form3.DataGrid1;
        QTRY_VERIFY_WITH_TIMEOUT(!grid.Model()->reading(), 60000);
        QCOMPARE(grid.Model()->totalRows(), kRows);
        {
            BoxCatcher boxes;
            // Room for the window, not for the sort's keys of four million texts.
            const AddressSpaceLimit limit(addressSpace() + (qint64{12} << 20));
            QVERIFY(limit.ok());
            grid.sortBy(1, true);
            QTRY_COMPARE(boxes.count(), 1);
            QVERIFY2(boxes.lastText().startsWith(QStringLiteral("There is not enough memory to sort the rows.")),
                     qPrintable(boxes.lastText()));
        }
        QCOMPARE(grid.Model()->sortOrder().column, -1);
        QCOMPARE(cellText(grid, 0, 0), QStringLiteral("1"));
        // With the room back, it sorts.
        grid.sortBy(1, true);
        QTRY_COMPARE(grid.Model()->sortOrder().column, 1);
        QCOMPARE(cellText(grid, 0, 1), QStringLiteral("999"));
        QVERIFY(programEnds().isEmpty());
    }
};

DERVANTA_PAGE_TEST_MAIN(TestMemoryLimits)
#include "test_memory_limits.moc"
