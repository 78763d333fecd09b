// What a grid asks of the model while it scrolls: one screen of cells (40
// rows x 10 columns, display text plus the roles a view reads) at many places
// of a 1,000,000-row table, before and after rows were rewritten and removed.
//
//   bench_rowset_model [ROWS]
//
// A screen must take well under a frame (16 ms) for scrolling and jumping to
// the last row to look instant.

#include "oracle/EditableRowset.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"
#include "oracle/TableModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <random>

namespace {

constexpr int kScreenRows = 40;

// Ten columns like the fetch benchmark's: integers, reals, short texts, a timestamp.
void fill(Snapshot& s, std::int64_t rows)
{
    std::vector<ColumnInfo> columns(10);
    const ColumnType types[10] = {ColumnType::Integer, ColumnType::Integer, ColumnType::Real, ColumnType::Real,
                                  ColumnType::Text,    ColumnType::Text,    ColumnType::Text, ColumnType::Integer,
                                  ColumnType::Timestamp, ColumnType::Text};
    for (int c = 0; c < 10; ++c) {
        columns[static_cast<std::size_t>(c)].name = "c" + std::to_string(c);
        columns[static_cast<std::size_t>(c)].type = types[c];
    }
    s.begin(columns);
    char buffer[64];
    for (std::int64_t r = 0; r < rows; ++r) {
        for (int c = 0; c < 10; ++c) {
            const long long v = static_cast<long long>(r);
            const int n = c == 8 ? std::snprintf(buffer, sizeof buffer, "2024-01-01 00:00:%02lld.%06lld", v % 60,
                                                 v % 1000000)
                                 : std::snprintf(buffer, sizeof buffer, "v%lld_%d", v, c);
            if (c == 3 && r % 9 == 0)
                s.cell(ValueKind::Null, nullptr, 0);
            else
                s.cell(ValueKind::Text, buffer, static_cast<std::size_t>(n));
        }
        s.endRow();
    }
    s.end();
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

    // The model needs a session only to write; an empty SQLite file serves.
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("empty.db")).toStdString();
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    sqlite3_exec(raw, "pragma user_version = 1", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    const std::unique_ptr<Session> session = OpenSession(LoginParts{"sqlite:" + path, {}, {}});

    Snapshot snapshot;
    QElapsedTimer timer;
    timer.start();
    fill(snapshot, rows);
    std::printf("filled %lld rows x 10 columns in %.2f s, snapshot %.1f MB\n", static_cast<long long>(rows),
                static_cast<double>(timer.elapsed()) / 1e3, static_cast<double>(snapshot.memoryBytes()) / 1e6);

    EditableRowset rowset(*session, snapshot, std::string());
    const TableModel& model = *rowset.model();
    measure("as read", model);

    // Rows written since the open live in a side table; a delete maps rows.
    for (std::int64_t r = 0; r < rows; r += rows / 1000)
        snapshot.replaceRow(r, {{ValueKind::Text, "rewritten"}});
    measure("after 1000 rows were rewritten", model);
    snapshot.removeRow(rows / 2);
    measure("after a row was deleted", model);
    return 0;
}
