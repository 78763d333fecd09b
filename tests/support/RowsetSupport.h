#pragma once

// Tables for the rowset tests on every engine the machine has: SQLite files,
// the PostgreSQL test server, and that server through Debian's PostgreSQL
// ODBC driver. Tables are set up and checked through a direct line (the
// engines' own client libraries), never through the layer under test.

#include "support/TestSupport.h"

#include "oracle/Connection.h"
#include "oracle/Dialect.h"
#include "oracle/EditableRowset.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"
#include "oracle/TableModel.h"

#include <QString>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

namespace RowsetSupport {

enum class Engine { Sqlite, Postgres, Odbc };
enum class Type { Int, Real, Text, Decimal38, Timestamp, Blob };

inline std::string quoted(const std::string& name) { return Dialect::quoteIdentifier(name); }

class TestDb {
public:
    // Nothing, with the reason in *skip, when the engine is not available here.
    static std::unique_ptr<TestDb> make(Engine engine, QString* skip);
    ~TestDb();

    // A name nobody else on the shared server uses, starting with `base`.
    std::string tableName(const std::string& base);
    std::string type(Type t) const;
    std::string realSum() const { return sqlite_ ? "(0.1 + 0.2)" : "(0.1::float8 + 0.2::float8)"; }
    std::string blobLiteral() const { return sqlite_ ? "X'010203'" : "'\\x010203'::bytea"; }

    void exec(const std::string& sql) const;
    TestSupport::Rows query(const std::string& sql) const;
    long long count(const std::string& tableAndWhere) const;
    // The first cell of a query, "<NULL>" for NULL.
    std::string value(const std::string& sql) const;

    Engine engine = Engine::Sqlite;
    LoginParts login;

private:
    std::unique_ptr<TestSupport::ScratchSqlite> sqlite_;
    std::vector<std::string> created_;
};

// A table opened as the editor opens it: a connection, the editable rowset
// over SELECT * FROM "name" on it, and the grid's model owning the rowset.
// Refusals are kept in `refusal` for the test to look at.
struct OpenTable {
    OpenTable(const TestDb& db, const std::string& table);
    QString text(int row, int column) const { return model->index(row, column).data().toString(); }
    // Typing into a cell; false (the reason in `refusal`) when refused.
    bool edit(int row, int column, const QString& value);
    bool setNull(int row, int column);
    // Leaving the row; false (the reason in *error) when the write is refused.
    bool submit(int row, QString* error);
    bool deleteRows(const QList<int>& rows, QString* error);

    ConnectionPtr connection;
    std::unique_ptr<TableModel> model;
    QString refusal;
    std::optional<RowRefusal> lastRowRefusal;
};

// The engines as rows of a data-driven test.
void addEngineRows();

} // namespace RowsetSupport

Q_DECLARE_METATYPE(RowsetSupport::Engine)

#define ROWSET_TEST_DB(db)                                                                         \
    QFETCH(RowsetSupport::Engine, engine);                                                         \
    QString skip_;                                                                                 \
    const std::unique_ptr<RowsetSupport::TestDb> db = RowsetSupport::TestDb::make(engine, &skip_); \
    if (!db)                                                                                       \
        QSKIP(qPrintable(skip_));
