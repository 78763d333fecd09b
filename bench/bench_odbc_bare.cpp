// Our block fetch through Debian's PostgreSQL ODBC driver ("PostgreSQL
// Unicode"), reading a whole table into the editor's snapshot, against a
// bare C loop on the same driver: the columns bound in their natural C types
// (integers, doubles, timestamp structs, UTF-16 text) with row arrays of
// 1,000, fetched to the end and the values dropped. Both run three times,
// alternating; the best of each counts.
//
//   bench_odbc_bare [ROWS [bare|ours]]
//
// Naming one side runs only that one (for a profiler). BENCH_RUNS sets how
// many times each side runs (3 unless told).
// Reads bench_odbc_fetch_ROWS (bench_odbc_fetch makes it); needs
// DERVANTA_TEST_PG_* (run under scripts/with-test-postgres).
// Target: ours at most 1.15x the bare loop.

#include "oracle/DbError.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr SQLULEN kRowArray = 1000;

bool ok(SQLRETURN rc) { return SQL_SUCCEEDED(rc); }

// The process's CPU time: on a shared machine the steadier figure, since the
// server's share of the work runs in its own processes.
double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The bare loop; the number of rows read (-1 on a failure).
long long bareRead(const std::string& connect, const std::string& sql)
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    long long rows = -1;
    if (ok(SQLDriverConnectA(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT))) {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        if (ok(SQLExecDirectA(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt, &columns);
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowArray), 0);
            SQLULEN fetched = 0;
            SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
            std::vector<std::vector<char>> buffers(static_cast<std::size_t>(columns));
            std::vector<std::vector<SQLLEN>> lengths(static_cast<std::size_t>(columns), std::vector<SQLLEN>(kRowArray));
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                SQLSMALLINT type = 0, digits = 0, nullable = 0;
                SQLULEN size = 0;
                SQLDescribeColA(stmt, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable);
                SQLSMALLINT cType = SQL_C_WCHAR;
                SQLLEN element = static_cast<SQLLEN>((size + 1) * sizeof(SQLWCHAR));
                if (type == SQL_INTEGER || type == SQL_BIGINT || type == SQL_SMALLINT) {
                    cType = SQL_C_SBIGINT;
                    element = sizeof(SQLBIGINT);
                } else if (type == SQL_DOUBLE || type == SQL_FLOAT || type == SQL_REAL) {
                    cType = SQL_C_DOUBLE;
                    element = sizeof(double);
                } else if (type == SQL_TYPE_TIMESTAMP) {
                    cType = SQL_C_TYPE_TIMESTAMP;
                    element = sizeof(SQL_TIMESTAMP_STRUCT);
                }
                auto& buffer = buffers[c - 1u];
                buffer.resize(static_cast<std::size_t>(element) * kRowArray);
                SQLBindCol(stmt, c, cType, buffer.data(), element, lengths[c - 1u].data());
            }
            rows = 0;
            while (ok(SQLFetch(stmt)))
                rows += static_cast<long long>(fetched);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long long wanted = argc > 1 ? std::stoll(argv[1]) : 1000000;
    const std::string only = argc > 2 ? argv[2] : "";
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // On a shared machine more runs give a steadier best.
    const int runs = std::max(1, env.value(QStringLiteral("BENCH_RUNS"), QStringLiteral("3")).toInt());
    const QString port = env.value(QStringLiteral("DERVANTA_TEST_PG_PORT"));
    const QString user = env.value(QStringLiteral("DERVANTA_TEST_PG_USER"));
    const QString password = env.value(QStringLiteral("DERVANTA_TEST_PG_PASSWORD"));
    if (port.isEmpty() || user.isEmpty()) {
        std::fprintf(stderr, "DERVANTA_TEST_PG_* not set: run under scripts/with-test-postgres\n");
        return 2;
    }
    const std::string driver = "DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=" + port.toStdString()
                               + ";DATABASE=dervanta;";
    const std::string sql = "select * from bench_odbc_fetch_" + std::to_string(wanted);
    const LoginParts login{"odbc:" + driver, user.toStdString(), password.toStdString()};
    const std::string bareConnect = driver + "UID=" + user.toStdString() + ";PWD=" + password.toStdString() + ";";

    double ours = 1e99, bare = 1e99, oursCpu = 1e99, bareCpu = 1e99;
    long long ourRows = 0, bareRows = 0;
    try {
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer t;
            t.start();
            double cpu = cpuSeconds();
            if (only != "ours") {
                bareRows = bareRead(bareConnect, sql);
                bare = std::min(bare, t.nsecsElapsed() / 1e9);
                bareCpu = std::min(bareCpu, cpuSeconds() - cpu);
            }
            if (only == "bare")
                continue;
            t.restart();
            cpu = cpuSeconds();
            {
                const std::unique_ptr<Session> s = OpenSession(login);
                Snapshot snapshot;
                s->query(sql, {}, snapshot);
                ourRows = snapshot.rowCount();
            }
            ours = std::min(ours, t.nsecsElapsed() / 1e9);
            oursCpu = std::min(oursCpu, cpuSeconds() - cpu);
        }
    } catch (const DbError& e) {
        std::fprintf(stderr, "failed: %ld %s (run bench_odbc_fetch %lld first)\n", e.number(), e.description().c_str(),
                     wanted);
        return 1;
    }
    if (only == "bare") {
        std::printf("%lld rows through \"PostgreSQL Unicode\": bare bound loop %.3f s, cpu %.3f s\n", bareRows, bare,
                    bareCpu);
    } else if (only == "ours") {
        std::printf("%lld rows through \"PostgreSQL Unicode\": ours %.3f s, cpu %.3f s\n", ourRows, ours, oursCpu);
    } else {
        std::printf("%lld rows through \"PostgreSQL Unicode\": bare bound loop %.3f s (%lld rows), ours %.3f s: %.2fx "
                    "(limit 1.15x) %s\n",
                    ourRows, bare, bareRows, ours, ours / bare, ours / bare <= 1.15 ? "ok" : "OVER");
        std::printf("  cpu time of this process: bare %.3f s, ours %.3f s: %.2fx\n", bareCpu, oursCpu,
                    oursCpu / bareCpu);
    }
    return 0;
}
