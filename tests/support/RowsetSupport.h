#pragma once

// The databases the rowset tests run on, each with a direct line for setting
// up and checking tables that bypasses the data layer under test:
//   sqlite       a scratch file
//   postgresql   the test server through libpq (DERVANTA_TEST_PG_*)
//   odbc         the same server through Debian's PostgreSQL ODBC driver
// and a table opened the way the editor opens it.

#include "support/TestSupport.h"

#include "oracle/EditableRowset.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"
#include "oracle/TableModel.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace RowsetSupport {

enum class Engine { Sqlite, Postgres, Odbc };

// Column types written the way each database spells them.
enum class Type { Int, Real, Text, Decimal38, Timestamp, Blob };

class TestDb {
public:
    // Nothing, with the reason in *skip, when the engine is not available here.
    static std::unique_ptr<TestDb> make(Engine engine, QString* skip);
    ~TestDb();

    Engine engine() const { return engine_; }
    LoginParts login() const { return login_; }

    // A table name nobody else uses, built from `base` (kept as the start so
    // blanks, case and quotes survive); dropped when this object goes.
    std::string tableName(const std::string& base);
    std::string type(Type t) const;
    // An SQL expression for 0.1 + 0.2 as a double.
    std::string realSum() const;
    // An SQL literal for the bytes 01 02 03.
    std::string blobLiteral() const;

    // Direct access, outside the data layer. Throws TestSupport::SetupError.
    void exec(const std::string& sql) const;
    TestSupport::Rows query(const std::string& sql) const;
    long long count(const std::string& whereTable) const; // select count(*) from <whereTable>

private:
    explicit TestDb(Engine engine) : engine_(engine) {}
    Engine engine_;
    LoginParts login_;
    std::unique_ptr<TestSupport::ScratchSqlite> sqlite_;
    std::vector<std::string> created_;
};

// A table opened as the editor opens it: SELECT * FROM "name" read into a
// snapshot, an editable rowset over it and the grid's model.
struct OpenTable {
    std::unique_ptr<Session> session;
    Snapshot snapshot;
    std::unique_ptr<EditableRowset> rowset;
    TableModel* model = nullptr;

    // Throws DbError when the open fails.
    OpenTable(const TestDb& db, const std::string& table);

    QString text(int row, int column) const; // DisplayRole
    bool edit(int row, int column, const QString& value);
};

std::string quoted(const std::string& name);

// Adds one data row per engine to a data-driven test ("engine" column).
void addEngineRows();
// Inside a test function: the database for the current data row, or QSKIP.
#define ROWSET_TEST_DB(db)                                                                         \
    QFETCH(RowsetSupport::Engine, engine);                                                         \
    QString skip_;                                                                                 \
    const std::unique_ptr<RowsetSupport::TestDb> db = RowsetSupport::TestDb::make(engine, &skip_); \
    if (!db)                                                                                       \
        QSKIP(qPrintable(skip_));

} // namespace RowsetSupport

Q_DECLARE_METATYPE(RowsetSupport::Engine)
