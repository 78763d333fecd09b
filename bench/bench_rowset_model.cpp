// What a grid asks of the model while it scrolls: one screen of cells (40
// rows x 10 columns, display text plus the roles a view reads) at many places
// of a 1,000,000-row SQLite table as the editor opens it, before and after
// rows were rewritten and removed.
//
//   bench_rowset_model [ROWS]
//
// A screen must take well under a frame (16 ms) for scrolling and jumping to
// the last row to look instant.

#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/EditableRowset.h"
#include "oracle/TableModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <random>

namespace {

constexpr int kScreenRows = 40;

// Ten columns like the fetch benchmark's: integers, reals, short texts, a
// timestamp; every ninth value of the fourth column NULL.
void fill(const std::string& path, std::int64_t rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string sql =
        "create table t (c0 integer primary key, c1 integer, c2 real, c3 real, c4 text, c5 text, c6 text,"
        " c7 integer, c8 timestamp, c9 text);"
        " insert into t with recursive r(v) as (select 0 union all select v + 1 from r where v + 1 < "
        + std::to_string(rows)
        + ") select v, v, v * 0.5, case when v % 9 = 0 then null else v * 0.25 end, 'v' || v || '_4', 'v' || v"
          " || '_5', 'v' || v || '_6', v * 7, printf('2024-01-01 00:00:%02d.%06d', v % 60, v % 1000000), 'v' || v"
          " || '_9' from r;";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// Reads one screen the way a view paints it; returns a checksum so nothing is optimised away.
std::size_t paint(const TableModel& model, int top)
{
    std::size_t sum = 0;
    for (int r = top; r < top + kScreenRows && r < model.rowCount(); ++r) {
        sum += static_cast<std::size_t>(model.headerData(r, Qt::Vertical).toString().size());
        for (int c = 0; c < model.columnCount(); ++c) {
            const QModelIndex index = model.index(r, c);
            sum += static_cast<std::size_t>(model.data(index, Qt::DisplayRole).toString().size());
            sum += model.data(index, TableModel::NullRole).toBool();
            sum += model.data(index, TableModel::PendingRole).toBool();
            sum += static_cast<std::size_t>(model.flags(index));
        }
    }
    return sum;
}

void measure(const char* label, const TableModel& model)
{
    std::mt19937 random(7);
    const int last = model.rowCount() - kScreenRows;
    std::size_t sum = 0;
    QElapsedTimer timer;

    // Scrolling: one row at a time from the top.
    timer.start();
    const int steps = 20000;
    for (int top = 0; top < steps; ++top)
        sum += paint(model, top);
    const double scroll = static_cast<double>(timer.nsecsElapsed()) / 1e3 / steps;

    // Jumping: anywhere, and to the last rows.
    std::uniform_int_distribution<int> anywhere(0, last);
    timer.restart();
    const int jumps = 5000;
    for (int i = 0; i < jumps; ++i)
        sum += paint(model, i % 10 == 0 ? last : anywhere(random));
    const double jump = static_cast<double>(timer.nsecsElapsed()) / 1e3 / jumps;

    std::printf("%-34s one screen: scrolling %7.1f us, jumping %7.1f us (checksum %zu)\n", label, scroll, jump, sum);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;

    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("bench.db")).toStdString();
    fill(path, rows);

    ConnectionPtr connection = Connection::Create();
    connection->CursorLocation = adUseClient;
    connection->Open(BuildConnectionString(QString::fromStdString("sqlite:" + path), {}, {}));
    QElapsedTimer timer;
    timer.start();
    TableModel model(EditableRowset::Open(connection, "t"), nullptr);
    std::printf("read %lld rows x 10 columns in %.2f s, snapshot %.1f MB\n", static_cast<long long>(rows),
                static_cast<double>(timer.elapsed()) / 1e3,
                static_cast<double>(model.memoryBytes()) / 1e6);
    measure("as read", model);

    // Rows written since the open live in a side table; a delete maps rows.
    for (std::int64_t r = 0; r < rows; r += rows / 1000) {
        const int row = static_cast<int>(r);
        model.store(model.index(row, 4), QStringLiteral("rewritten"));
        model.submitRow(row);
    }
    measure("after 1000 rows were rewritten", model);
    model.deleteRows({static_cast<int>(rows / 2)});
    measure("after a row was deleted", model);
    return 0;
}
