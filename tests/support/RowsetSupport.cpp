#include "support/RowsetSupport.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"

#include <QTest>

namespace RowsetSupport {

std::string quoted(const std::string& name) { return Dialect::quoteIdentifier(name); }

std::unique_ptr<TestDb> TestDb::make(Engine engine, QString* skip)
{
    std::unique_ptr<TestDb> db(new TestDb(engine));
    if (engine == Engine::Sqlite) {
        db->sqlite_ = std::make_unique<TestSupport::ScratchSqlite>();
        db->login_.dataSource = db->sqlite_->dataSource().toStdString();
    } else {
        const std::optional<TestSupport::PgLogin> pg = TestSupport::pgLogin();
        if (!pg) {
            *skip = QStringLiteral("DERVANTA_TEST_PG_* not set: no PostgreSQL test server");
            return nullptr;
        }
        db->login_.user = pg->user.toStdString();
        db->login_.password = pg->password.toStdString();
        if (engine == Engine::Postgres)
            db->login_.dataSource = TestSupport::pgDataSource().toStdString();
        else
            db->login_.dataSource = "odbc:DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT="
                                    + std::to_string(pg->port) + ";DATABASE=dervanta";
    }
    // An engine missing from this build, or a driver missing from this
    // machine, is a reason to skip, not a failure.
    try {
        OpenSession(db->login_);
    } catch (const DbError& e) {
        if (e.number() == DbError::kNoDriver) {
            *skip = QString::fromStdString(e.description());
            return nullptr;
        }
        throw;
    }
    return db;
}

TestDb::~TestDb()
{
    if (engine_ != Engine::Sqlite)
        TestSupport::pgDropTables(created_);
}

std::string TestDb::tableName(const std::string& base)
{
    if (engine_ == Engine::Sqlite)
        return base;
    std::string name = base + "_" + TestSupport::uniqueName("r");
    created_.push_back(name);
    return name;
}

std::string TestDb::type(Type t) const
{
    const bool lite = engine_ == Engine::Sqlite;
    switch (t) {
    case Type::Int: return lite ? "INTEGER" : "integer";
    case Type::Real: return lite ? "REAL" : "double precision";
    // The PostgreSQL ODBC driver reports text as a long column (read-only
    // here, as Oracle's CLOB): a bounded one is what the driver edits.
    case Type::Text: return lite ? "TEXT" : engine_ == Engine::Odbc ? "varchar(200)" : "text";
    case Type::Decimal38: return lite ? "NUMERIC" : "numeric(38,0)";
    case Type::Timestamp: return lite ? "TIMESTAMP" : "timestamp(6)";
    case Type::Blob: return lite ? "BLOB" : "bytea";
    }
    return {};
}

std::string TestDb::realSum() const
{
    return engine_ == Engine::Sqlite ? "(0.1 + 0.2)" : "(0.1::float8 + 0.2::float8)";
}

std::string TestDb::blobLiteral() const
{
    return engine_ == Engine::Sqlite ? "X'010203'" : "'\\x010203'::bytea";
}

void TestDb::exec(const std::string& sql) const
{
    if (sqlite_)
        sqlite_->exec(sql);
    else
        TestSupport::pgExec(sql);
}

TestSupport::Rows TestDb::query(const std::string& sql) const
{
    return sqlite_ ? sqlite_->query(sql) : TestSupport::pgQuery(sql);
}

long long TestDb::count(const std::string& whereTable) const
{
    const TestSupport::Rows rows = query("select count(*) from " + whereTable);
    return rows.empty() || !rows[0][0] ? -1 : std::stoll(*rows[0][0]);
}

OpenTable::OpenTable(const TestDb& db, const std::string& table) : session(OpenSession(db.login()))
{
    session->query("SELECT * FROM " + quoted(table), {}, snapshot);
    rowset = std::make_unique<EditableRowset>(*session, snapshot, table);
    model = rowset->model();
}

QString OpenTable::text(int row, int column) const
{
    return model->data(model->index(row, column), Qt::DisplayRole).toString();
}

bool OpenTable::edit(int row, int column, const QString& value)
{
    return model->setData(model->index(row, column), value, Qt::EditRole);
}

void addEngineRows()
{
    QTest::addColumn<Engine>("engine");
    QTest::newRow("sqlite") << Engine::Sqlite;
    QTest::newRow("postgresql") << Engine::Postgres;
    QTest::newRow("odbc") << Engine::Odbc;
}

} // namespace RowsetSupport
