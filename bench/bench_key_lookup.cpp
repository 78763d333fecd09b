// The foreign-key drop-down's lookups on a big referenced table: the time
// from the lookup's start (its own login, the table's columns, the first
// keys) to the first list, then after each keystroke of a few typings the
// time to the first matches (the first list with a match in it; "-" when
// nothing matches) and to the whole list (keys and the readable column).
// The goal is 0.1 s for the first matches.
//
//   bench_key_lookup [ROWS]        (default 1,000,000)
//
// SQLite: $TMPDIR/dervanta_bench_lookup_ROWS.db, made at the first run.
// PostgreSQL (under scripts/with-test-postgres): table bench_lookup_ROWS.
// The table: id integer primary key, name text ('City N', every 1000th
// 'Berlin N'), code integer.

#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/KeyLookup.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Timing {
    double first = -1; // seconds to the first list with a match in it (-1: none found)
    double whole = -1; // seconds to the complete one
    std::size_t matches = 0;
};

Timing lookUp(KeyLookup& lookup, const QString& prefix)
{
    Timing t;
    QElapsedTimer clock;
    QEventLoop loop;
    const auto found = QObject::connect(&lookup, &KeyLookup::found, &loop,
                                        [&](const QString& p, const KeyLookup::Matches& m, bool complete) {
                                            if (p != prefix)
                                                return;
                                            const double s = static_cast<double>(clock.nsecsElapsed()) / 1e9;
                                            if (t.first < 0 && !m.empty())
                                                t.first = s;
                                            if (complete) {
                                                t.whole = s;
                                                t.matches = m.size();
                                                loop.quit();
                                            }
                                        });
    const auto failed = QObject::connect(&lookup, &KeyLookup::failed, &loop, [&](const QString&, const QString& why) {
        std::fprintf(stderr, "lookup failed: %s\n", qPrintable(why));
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    clock.start();
    lookup.find(prefix);
    loop.exec();
    QObject::disconnect(found);
    QObject::disconnect(failed);
    return t;
}

void run(const char* engine, const ConnectionPtr& connection, const std::string& table)
{
    std::printf("%s, %s\n", engine, table.c_str());
    QElapsedTimer clock;
    clock.start();
    KeyLookup lookup(connection->Another(), table, "id");
    const Timing open = lookUp(lookup, QString());
    std::printf("  open (login, columns, first keys): %.1f ms, %zu keys\n",
                static_cast<double>(clock.nsecsElapsed()) / 1e6, open.matches);
    const std::vector<QString> typings{QStringLiteral("123456"), QStringLiteral("Berlin 99"),
                                       QStringLiteral("City 42"), QStringLiteral("7"), QStringLiteral("zzz")};
    for (const QString& typed : typings) {
        double worstFirst = 0;
        double worstWhole = 0;
        std::printf("  typing \"%s\":", qPrintable(typed));
        for (qsizetype n = 1; n <= typed.size(); ++n) {
            const Timing t = lookUp(lookup, typed.left(n));
            worstFirst = std::max(worstFirst, t.first);
            worstWhole = std::max(worstWhole, t.whole);
            if (t.first < 0)
                std::printf(" -/%.1f", t.whole * 1e3);
            else
                std::printf(" %.1f/%.1f", t.first * 1e3, t.whole * 1e3);
        }
        if (worstFirst > 0)
            std::printf(" ms\n    worst first matches %.1f ms, worst whole list %.1f ms\n", worstFirst * 1e3,
                        worstWhole * 1e3);
        else
            std::printf(" ms\n    nothing matches; worst whole list %.1f ms\n", worstWhole * 1e3);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const long long rows = args.size() > 1 ? args[1].toLongLong() : 1000000;
    const std::string table = "bench_lookup_" + std::to_string(rows);
    const std::string fill = " (id integer primary key, name text, code integer)";

    const QString path = QDir::temp().filePath(QStringLiteral("dervanta_bench_lookup_%1.db").arg(rows));
    {
        // An empty file is an empty SQLite database; the table is made in it below.
        QFile touch(path);
        if (!touch.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
            return 2;
        }
    }
    ConnectionPtr lite = Connection::Create();
    try {
        lite->Open(BuildConnectionString(QStringLiteral("sqlite:") + path, {}, {}));
        lite->Run([&](Session& s, const auto&) {
            s.execute("create table if not exists " + table + fill);
            s.execute("insert into " + table
                      + " with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                      + std::to_string(rows)
                      + ") select i, case when i % 1000 = 0 then 'Berlin ' || i else 'City ' || i end, i % 977 from n"
                        " where not exists (select 1 from " + table + ")");
            return 0;
        });
        run("SQLite", lite, table);
    } catch (const DbError& e) {
        std::fprintf(stderr, "SQLite: %s\n", e.description().c_str());
    }

    const QString port = qEnvironmentVariable("DERVANTA_TEST_PG_PORT");
    const QString user = qEnvironmentVariable("DERVANTA_TEST_PG_USER");
    if (port.isEmpty() || user.isEmpty()) {
        std::printf("PostgreSQL: skipped (DERVANTA_TEST_PG_* not set)\n");
        return 0;
    }
    ConnectionPtr pg = Connection::Create();
    try {
        pg->Open(BuildConnectionString(QStringLiteral("postgresql://127.0.0.1:%1/dervanta").arg(port), user,
                                       qEnvironmentVariable("DERVANTA_TEST_PG_PASSWORD")));
        pg->Run([&](Session& s, const auto&) {
            s.execute("create table if not exists " + table + fill);
            s.execute("insert into " + table
                      + " select i, case when i % 1000 = 0 then 'Berlin ' || i else 'City ' || i end, i % 977"
                        " from generate_series(1, " + std::to_string(rows) + ") i where not exists (select 1 from "
                      + table + ")");
            s.execute("analyze " + table);
            return 0;
        });
        run("PostgreSQL", pg, table);
    } catch (const DbError& e) {
        std::fprintf(stderr, "PostgreSQL: %s\n", e.description().c_str());
    }
    return 0;
}
