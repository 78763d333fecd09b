// Exporting the rows of a table held by the editor to a CSV file, against
// the sqlite3 client writing the same table as CSV (`sqlite3 -csv FILE
// "select * from t"`) to a file, in the same run; best of three each.
//
//   bench_export [ROWS]
//
// Reads $TMPDIR/dervanta_bench_fetch_ROWS.db (bench_fetch makes it; ROWS
// defaults to 1,000,000). The goal: at most 1.0 times the client.

#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/EditableRowset.h"
#include "oracle/TableExport.h"
#include "oracle/TableModel.h"
#include "bench/BenchTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

double best(const std::function<void()>& run)
{
    double fastest = 1e99;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        fastest = std::min(fastest, t.nsecsElapsed() / 1e9);
    }
    return fastest;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const long long rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const QString path = QDir::temp().filePath(QStringLiteral("dervanta_bench_fetch_%1.db").arg(rows));
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "%s is missing: run bench_fetch %lld first\n", qPrintable(path), rows);
        return 2;
    }
    ConnectionPtr connection = Connection::Create();
    connection->Open(BuildConnectionString(QStringLiteral("sqlite:") + path, {}, {}));
    const std::unique_ptr<TableModel> whole = OpenWholeTable(connection, "t");
    TableModel& model = *whole;
    const int shown = static_cast<int>(model.shownRows());
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.csv"));
    const QString theirs = dir.filePath(QStringLiteral("theirs.csv"));
    const double oursTime = best([&] {
        QFile file(ours);
        file.open(QIODevice::WriteOnly);
        ExportRows(model, shown, RowExport::Format::Csv, file, [](int) { return true; });
    });
    const double theirsTime = best([&] {
        QProcess p;
        p.setStandardOutputFile(theirs);
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-csv"), path, QStringLiteral("select * from t")});
        p.waitForFinished(-1);
    });
    std::printf("export %d rows to CSV: ours %.3f s (%.1f MB), sqlite3 -csv %.3f s (%.1f MB), ratio %.2f (limit 1.0) %s\n",
                shown, oursTime, QFileInfo(ours).size() / 1e6, theirsTime, QFileInfo(theirs).size() / 1e6,
                oursTime / theirsTime, oursTime <= theirsTime ? "ok" : "OVER");
    return 0;
}
