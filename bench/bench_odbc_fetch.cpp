// Reading a whole table through Debian's PostgreSQL ODBC driver ("PostgreSQL
// Unicode") into the client snapshot: bound columns with row arrays against
// one SQLGetData per cell, in the same run, with the two results compared
// cell by cell.
//
//   bench_odbc_fetch [ROWS [block|cell]]
//
// ROWS defaults to 1,000,000; naming one way runs only that one (for a
// profiler). Needs DERVANTA_TEST_PG_* (source /tmp/devpg.env or run under
// scripts/with-test-postgres). The table bench_odbc_fetch_ROWS (ten columns:
// integers, reals, short texts, a timestamp with microseconds) is created
// when missing and kept for the next run. Each way runs three times,
// alternating; the best wall-clock and the best CPU time of each count (on a
// shared machine the CPU time is the steadier figure).
//
// Environment, for experiments: BENCH_ODBC_OPTIONS is appended to the
// connection string (e.g. "UseDeclareFetch=1;Fetch=10000", which keeps the
// driver from buffering the whole result); BENCH_ROW_ARRAY sets the rows per
// SQLFetch of the block read.
//
// Target: the block fetch at least 1.5x as fast as the per-cell one, with
// identical values. Exits 1 when the results differ, 2 without a server.

#include "oracle/DbError.h"
#include "oracle/engines/OdbcEngine.h"
#include "oracle/Snapshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kRuns = 3;

// This process's own CPU time: steadier than the wall clock on a busy machine.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

struct Best {
    double wall = 1e9;
    double cpu = 1e9;
};

// Runs one read and keeps the best times.
template <typename Read>
void measure(Best& best, Read read)
{
    QElapsedTimer t;
    const double cpu = cpuSeconds();
    t.start();
    read();
    best.wall = std::min(best.wall, t.nsecsElapsed() / 1e9);
    best.cpu = std::min(best.cpu, cpuSeconds() - cpu);
}

// The first cell where the two results differ, or -1.
long long firstDifference(const Snapshot& a, const Snapshot& b)
{
    if (a.rowCount() != b.rowCount() || a.columnCount() != b.columnCount())
        return 0;
    for (std::int64_t r = 0; r < a.rowCount(); ++r)
        for (int c = 0; c < a.columnCount(); ++c)
            if (a.kind(r, c) != b.kind(r, c) || a.value(r, c) != b.value(r, c))
                return r;
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long long rows = argc > 1 ? std::stoll(argv[1]) : 1000000;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString port = env.value(QStringLiteral("DERVANTA_TEST_PG_PORT"));
    const QString user = env.value(QStringLiteral("DERVANTA_TEST_PG_USER"));
    if (port.isEmpty() || user.isEmpty()) {
        std::fprintf(stderr, "DERVANTA_TEST_PG_* not set: source /tmp/devpg.env first\n");
        return 2;
    }
    const std::string connect =
        "DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=" + port.toStdString() + ";DATABASE=dervanta;"
        + env.value(QStringLiteral("BENCH_ODBC_OPTIONS")).toStdString();
    const LoginParts login{{}, user.toStdString(), env.value(QStringLiteral("DERVANTA_TEST_PG_PASSWORD")).toStdString()};
    const std::string table = "bench_odbc_fetch_" + std::to_string(rows);
    const std::string only = argc > 2 ? argv[2] : "";

    try {
        OdbcOptions perCellOptions;
        perCellOptions.perCellFetch = true;
        OdbcOptions blockOptions;
        if (const char* rowsPerFetch = std::getenv("BENCH_ROW_ARRAY"))
            blockOptions.rowArraySize = std::atoi(rowsPerFetch);
        auto block = OpenOdbcSession(connect, login, blockOptions);
        auto perCell = OpenOdbcSession(connect, login, perCellOptions);

        Snapshot exists;
        block->query("select count(*) from pg_catalog.pg_tables where tablename = '" + table + "'", {}, exists);
        if (exists.value(0, 0) == "0") {
            std::printf("creating %s ...\n", table.c_str());
            block->execute("create table " + table
                           + " (id int primary key, qty int, big bigint, price float8, ratio float8, weight float4,"
                             " code varchar(12), name varchar(40), tag varchar(8), at timestamp(6))");
            block->execute("insert into " + table
                           + " select g, g % 1000, g::bigint * 2654435761, g / 7.0, sqrt(g), (g % 977) / 3.0,"
                             " 'C' || to_hex(g), 'name ' || g || ' ü', case when g % 10 = 0 then null else 't' || g % 97 end,"
                             " timestamp '2020-01-01' + g * interval '1.000001 second'"
                             " from generate_series(1, "
                           + std::to_string(rows) + ") g");
        }
        const std::string sql = "select * from " + table;

        Best block_, perCell_;
        Snapshot blockResult, perCellResult;
        OdbcFetchStats blockStats, perCellStats;
        for (int run = 0; run < kRuns; ++run) {
            if (only != "block") {
                Snapshot s;
                measure(perCell_, [&] { perCell->query(sql, {}, s); });
                perCellStats = perCell->lastFetch();
                if (run == kRuns - 1)
                    perCellResult = std::move(s);
            }
            if (only != "cell") {
                Snapshot s;
                measure(block_, [&] { block->query(sql, {}, s); });
                blockStats = block->lastFetch();
                if (run == kRuns - 1)
                    blockResult = std::move(s);
            }
        }
        if (!only.empty()) {
            const Best& b = only == "block" ? block_ : perCell_;
            std::printf("%s: %.3f s, %.3f s CPU\n", only.c_str(), b.wall, b.cpu);
            return 0;
        }
        const long long diff = firstDifference(blockResult, perCellResult);
        std::printf("%lld rows x %d columns through \"PostgreSQL Unicode\"\n", static_cast<long long>(blockResult.rowCount()),
                    blockResult.columnCount());
        std::printf("  per cell : %7.3f s, %7.3f s CPU  (%lld SQLFetch, %lld SQLGetData)\n", perCell_.wall,
                    perCell_.cpu, perCellStats.fetchCalls, perCellStats.getDataCalls);
        std::printf("  block    : %7.3f s, %7.3f s CPU  (%lld SQLFetch of %lld rows, %lld SQLGetData)\n", block_.wall,
                    block_.cpu, blockStats.fetchCalls, blockStats.rowArraySize, blockStats.getDataCalls);
        std::printf("  speed-up : %.2fx, %.2fx by CPU time (target at least 1.5x)\n", perCell_.wall / block_.wall,
                    perCell_.cpu / block_.cpu);
        std::printf("  values   : %s\n", diff < 0 ? "identical" : ("differ from row " + std::to_string(diff)).c_str());
        return diff < 0 ? 0 : 1;
    } catch (const DbError& e) {
        std::fprintf(stderr, "failed: %ld %s\n", e.number(), e.description().c_str());
        return 1;
    }
}
