// Reading a whole table into the client snapshot, against each engine's own
// command-line client writing the same table to /dev/null, in the same run.
//
//   bench_fetch [ROWS] [SQLITE_FILE]
//
// ROWS defaults to 1,000,000; the SQLite file defaults to
// $TMPDIR/dervanta_bench_fetch.db. The table (ten columns: integers, reals,
// short texts, a timestamp with microseconds) is created when missing and kept
// for the next run. PostgreSQL is measured when DERVANTA_TEST_PG_* is set
// (source /tmp/devpg.env or run under scripts/with-test-postgres); its table
// bench_fetch_ROWS stays in the test database.
//
// Each side runs three times, alternating; the best time of each counts.
// Targets: SQLite at most 1.0x `sqlite3 FILE "select * from t"`, PostgreSQL at
// most 1.5x `psql -c "copy t to stdout"`, snapshot memory at most 2x the
// client's output bytes.

#include "oracle/DbError.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryFile>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRuns = 3;

struct Timing {
    double seconds = 0;
    double cpu = 0; // user + system of the measured process
    qint64 bytes = 0;
};

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// Runs a client with its output to a file (or /dev/null) and times it.
Timing runClient(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                 const QString& outputFile)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(outputFile);
    p.setStandardErrorFile(QProcess::nullDevice());
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(2);
    }
    Timing t;
    t.seconds = timer.nsecsElapsed() / 1e9;
    t.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    t.bytes = QFileInfo(outputFile).size();
    return t;
}

qint64 outputBytes(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QTemporaryFile file;
    if (!file.open())
        std::exit(2);
    file.close();
    return runClient(program, args, env, file.fileName()).bytes;
}

struct Ours {
    double seconds = 0;
    double cpu = 0;
    std::size_t memory = 0;
    std::int64_t rows = 0;
};

Ours fetch(const LoginParts& login, const std::string& sql)
{
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    Ours o;
    {
        const std::unique_ptr<Session> s = OpenSession(login);
        Snapshot snap;
        s->query(sql, {}, snap);
        o.seconds = timer.nsecsElapsed() / 1e9;
        o.cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        o.memory = snap.memoryBytes();
        o.rows = snap.rowCount();
    }
    return o;
}

void compare(const char* engine, double limit, const std::function<Timing()>& client,
             const std::function<Ours()>& ours, qint64 cliBytes)
{
    double bestClient = 1e99, bestOurs = 1e99;
    Ours last;
    for (int i = 0; i < kRuns; ++i) {
        const Timing c = client();
        last = ours();
        std::printf("  %-10s run %d: client %.3f s (cpu %.3f s), ours %.3f s (cpu %.3f s)\n", engine, i + 1,
                    c.seconds, c.cpu, last.seconds, last.cpu);
        bestClient = std::min(bestClient, c.seconds);
        bestOurs = std::min(bestOurs, last.seconds);
    }
    const double ratio = bestOurs / bestClient;
    const double memoryRatio = double(last.memory) / double(cliBytes);
    std::printf("%-10s rows %lld: client %.3f s, ours %.3f s, ratio %.2f (limit %.1f) %s\n", engine,
                static_cast<long long>(last.rows), bestClient, bestOurs, ratio, limit, ratio <= limit ? "ok" : "OVER");
    std::printf("%-10s memory %.1f MB vs client output %.1f MB, ratio %.2f (limit 2.0) %s\n", engine,
                last.memory / 1e6, cliBytes / 1e6, memoryRatio, memoryRatio <= 2.0 ? "ok" : "OVER");
}

void benchSqlite(long long rows, const QString& path)
{
    const LoginParts login{"sqlite:" + path.toStdString(), {}, {}};
    if (!QFileInfo::exists(path)) {
        std::printf("creating %s with %lld rows...\n", qPrintable(path), rows);
        QProcess create;
        create.start(QStringLiteral("sqlite3"), {path});
        create.waitForStarted();
        const std::string sql =
            "create table t (id integer primary key, i1 integer, i2 integer, r1 real, r2 real, s1 text, s2 text,"
            " s3 text, s4 text, ts timestamp);"
            "with recursive n(i) as (select 1 union all select i + 1 from n where i < "
            + std::to_string(rows)
            + ") insert into t select i, abs(random()) % 1000000, random(), abs(random()) / 9223372036854775807.0,"
              " (abs(random()) % 100000000) / 1000.0, 'name_' || i, lower(hex(randomblob(4))),"
              " lower(hex(randomblob(6))), 'city ' || (i % 97),"
              " printf('%s.%06d', datetime(1700000000 + i * 7, 'unixepoch'), abs(random()) % 1000000) from n;\n";
        create.write(sql.c_str());
        create.closeWriteChannel();
        create.waitForFinished(-1);
        if (create.exitCode() != 0) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
            std::exit(2);
        }
    }
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QStringList args{path, QStringLiteral("select * from t")};
    const qint64 bytes = outputBytes(QStringLiteral("sqlite3"), args, env);
    compare(
        "SQLite", 1.0, [&] { return runClient(QStringLiteral("sqlite3"), args, env, QProcess::nullDevice()); },
        [&] { return fetch(login, "select * from t"); }, bytes);
}

void benchPg(long long rows)
{
    const QString port = qEnvironmentVariable("DERVANTA_TEST_PG_PORT");
    const QString user = qEnvironmentVariable("DERVANTA_TEST_PG_USER");
    const QString password = qEnvironmentVariable("DERVANTA_TEST_PG_PASSWORD");
    if (port.isEmpty() || user.isEmpty()) {
        std::printf("PostgreSQL: skipped (DERVANTA_TEST_PG_* not set)\n");
        return;
    }
    const LoginParts login{"postgresql://127.0.0.1:" + port.toStdString() + "/dervanta", user.toStdString(),
                           password.toStdString()};
    const std::string table = "bench_fetch_" + std::to_string(rows);
    {
        const std::unique_ptr<Session> s = OpenSession(login);
        Snapshot exists;
        s->query("select 1 from pg_catalog.pg_tables where schemaname = current_schema() and tablename = '" + table + "'",
                 {}, exists);
        if (exists.rowCount() == 0) {
            std::printf("creating %s...\n", table.c_str());
            s->execute("create table " + table
                       + " (id bigint primary key, i1 int, i2 bigint, r1 float8, r2 float8, s1 text, s2 text,"
                         " s3 text, s4 text, ts timestamp);"
                         "insert into " + table
                       + " select i, (random() * 1e6)::int, (random() * 9e18)::bigint, random(), random() * 1000,"
                         " 'name_' || i, substr(md5(i::text), 1, 8), substr(md5((i * 7)::text), 1, 12),"
                         " 'city ' || (i % 97), timestamp '2023-11-14 22:13:20' + i * interval '7 seconds'"
                         " + (random() * 1e6)::int * interval '1 microsecond'"
                         " from generate_series(1, " + std::to_string(rows) + ") i");
            s->execute("vacuum analyze " + table);
        }
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), password);
    const QStringList args{QStringLiteral("-X"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("-p"), port, QStringLiteral("-U"), user, QStringLiteral("-d"),
                           QStringLiteral("dervanta"), QStringLiteral("-c"),
                           QStringLiteral("copy %1 to stdout").arg(QString::fromStdString(table))};
    const qint64 bytes = outputBytes(QStringLiteral("psql"), args, env);
    compare(
        "PostgreSQL", 1.5, [&] { return runClient(QStringLiteral("psql"), args, env, QProcess::nullDevice()); },
        [&] { return fetch(login, "select * from " + table); }, bytes);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const long long rows = args.size() > 1 ? args[1].toLongLong() : 1000000;
    const QString path = args.size() > 2 ? args[2]
                                         : QDir::temp().filePath(QStringLiteral("dervanta_bench_fetch_%1.db").arg(rows));
    try {
        benchSqlite(rows, path);
        benchPg(rows);
    } catch (const DbError& e) {
        std::fprintf(stderr, "failure %ld: %s\n", e.number(), e.description().c_str());
        return 1;
    }
    return 0;
}
