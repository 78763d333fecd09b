// Importing rows from a CSV file as the grid does (the file read, each line
// written as a new row by the rule of a paste: its own transaction, exactly
// one row, the row read again), against the sqlite3 client running the same
// INSERTs, each in its own transaction, from a script; same file, same run.
//
//   bench_import [ROWS]      (default 10,000; SQLite)
//
// Goal: the import within 1.5 times the client's time.

#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/EditableRowset.h"
#include "oracle/RowBatch.h"
#include "oracle/RowImport.h"
#include "oracle/TableModel.h"
#include "bench/BenchTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("import.db"));
    const auto sqlite = [&db](const QString& input) {
        QProcess p;
        p.setStandardInputFile(input);
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), db});
        p.waitForFinished(-1);
    };
    {
        std::ofstream create(dir.filePath(QStringLiteral("create.sql")).toStdString());
        create << "create table t (c0 integer primary key, c1 integer, c2 numeric, c3 text, c4 text, c5 real,"
                  " c6 timestamp, c7 integer, c8 text, c9 text);\n";
    }
    sqlite(dir.filePath(QStringLiteral("create.sql")));
    // The file, and the client's script of the same rows.
    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    const QString script = dir.filePath(QStringLiteral("insert.sql"));
    {
        std::ofstream out(csv.toStdString());
        std::ofstream sql(script.toStdString());
        out << "c0,c1,c2,c3,c4,c5,c6,c7,c8,c9\r\n";
        for (int r = 1; r <= rows; ++r) {
            const std::string n = std::to_string(r);
            out << n << ',' << r * 3 << ',' << n << ".5,three " << n << ",\"four, " << n << "\"," << n << ".25,"
                << "2024-01-01 10:00:00." << 100000 + r % 900000 << ',' << r * 7 << ",eight,nine " << n << "\r\n";
            sql << "BEGIN;\nINSERT INTO t VALUES (" << n << ", " << r * 3 << ", " << n << ".5, 'three " << n
                << "', 'four, " << n << "', " << n << ".25, '2024-01-01 10:00:00." << 100000 + r % 900000 << "', "
                << r * 7 << ", 'eight', 'nine " << n << "');\nCOMMIT;\n";
        }
    }

    ConnectionPtr connection = Connection::Create();
    connection->Open(BuildConnectionString(QStringLiteral("sqlite:") + db, {}, {}));
    const std::unique_ptr<TableModel> whole = OpenWholeTable(connection, "t");
    TableModel& model = *whole;
    QElapsedTimer ours;
    ours.start();
    QFile file(csv);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const ImportedRows read = ReadDelimited(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                            ImportFormat::Csv);
    std::vector<RowInput> inputs(read.rows.size());
    for (std::size_t r = 0; r < read.rows.size(); ++r)
        for (std::size_t c = 0; c < read.rows[r].size(); ++c) {
            const bool text = model.columns()[c].type == ColumnType::Text;
            inputs[r].cells.emplace_back(static_cast<int>(c),
                                         CellInput{text, Value{ValueKind::Text, read.rows[r][c].value_or("")}});
        }
    const BatchResult result = WriteRows(model, inputs);
    const double oursTime = ours.nsecsElapsed() / 1e9;
    if (!result.complete()) {
        std::fprintf(stderr, "the import stopped: %s\n", qPrintable(result.summary()));
        return 1;
    }
    {
        std::ofstream clear(dir.filePath(QStringLiteral("clear.sql")).toStdString());
        clear << "delete from t;\n";
    }
    sqlite(dir.filePath(QStringLiteral("clear.sql")));
    QElapsedTimer theirs;
    theirs.start();
    sqlite(script);
    const double theirsTime = theirs.nsecsElapsed() / 1e9;
    std::printf("import %d rows from CSV: ours %.3f s, sqlite3 one INSERT a transaction %.3f s, ratio %.2f (limit 1.5) %s\n",
                rows, oursTime, theirsTime, oursTime / theirsTime, oursTime <= 1.5 * theirsTime ? "ok" : "OVER");
    return 0;
}
