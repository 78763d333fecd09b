#pragma once

// The ODBC session, shared by its two halves: OdbcSession.cpp (connecting,
// running statements, transactions, the catalogue) and OdbcFetch.cpp
// (reading a result into a sink).

#include "oracle/Dialect.h"
#include "oracle/Engine.h"
#include "oracle/engines/OdbcColumns.h"
#include "oracle/engines/OdbcEngine.h"
#include "oracle/engines/OdbcHandles.h"
#include "oracle/engines/OdbcParams.h"
#include "oracle/engines/OdbcText.h"

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace odbc {

class OdbcSessionImpl final : public OdbcSession {
public:
    OdbcSessionImpl(const std::string& connectionString, const OdbcOptions& options);
    ~OdbcSessionImpl() override;

    const Dialect& dialect() const override { return *dialect_; }
    void query(std::string_view sql, std::span<const Param> params, RowSink& sink) override;
    long long execute(std::string_view sql, std::span<const Param> params) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    std::vector<std::string> primaryKey(std::string_view table) override;
    void tables(RowSink& sink) override;

    const std::string& dbmsName() const override { return dbmsName_; }
    const OdbcFetchStats& lastFetch() const override { return stats_; }
    bool broken() const override;
    void interrupt() noexcept override;

private:
    // A statement that ran, with the parameter storage it refers to: the
    // storage is let go only after the statement handle is.
    struct Statement {
        std::vector<BoundParam> params;
        Handle stmt;
        SQLRETURN result = SQL_SUCCESS;
    };
    // Marks a statement as the one running, for interrupt(), while it lives.
    class Running {
    public:
        Running(OdbcSessionImpl& session, const Handle& stmt);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        OdbcSessionImpl& session_;
    };
    Statement run(std::string_view sql, std::span<const Param> params);
    // Reading a result (OdbcFetch.cpp): the columns described and planned,
    // the way of fetching chosen, bound columns set up, then row by row.
    void readResult(const Handle& stmt, RowSink& sink, bool noRows = false);
    std::vector<ColumnPlan> describeColumns(const Handle& stmt);
    OdbcFetchStats::Mode fetchMode(const std::vector<ColumnPlan>& plans) const;
    // Sets block fetching up; the rows a block holds, as the driver took it.
    SQLULEN setRowArray(const Handle& stmt, const std::vector<ColumnPlan>& plans);
    void bindColumns(const Handle& stmt, std::vector<ColumnPlan>& plans, SQLULEN rows);
    // One row of the block (`positioned`: the cursor is on it already).
    void emitRow(const Handle& stmt, const std::vector<ColumnPlan>& plans, std::size_t row, bool positioned,
                 RowSink& sink);
    void readCell(const Handle& stmt, SQLUSMALLINT column, const ColumnPlan& plan, RowSink& sink);
    // A text or bytes value of any length, with as many SQLGetData calls as it takes.
    void readPieces(const Handle& stmt, SQLUSMALLINT column, const ColumnPlan& plan, RowSink& sink);
    void emitBound(const ColumnPlan& plan, std::size_t row, RowSink& sink);
    bool truncated(const ColumnPlan& plan, std::size_t row) const;
    std::string infoText(SQLUSMALLINT info);
    std::optional<long long> estimatedRows(std::string_view table) override;
    std::optional<std::string> scalar(const std::string& sql, std::span<const Param> params = {});
    std::string currentSchema();
    void endTransaction(SQLSMALLINT completion);
    void setAutocommit(bool on);

    OdbcOptions options_;
    Handle env_;
    Handle dbc_;
    // Declared after dbc_, so it ends first: a connected handle cannot be freed.
    struct Link {
        SQLHDBC dbc = SQL_NULL_HANDLE;
        Link() = default;
        Link(const Link&) = delete;
        Link& operator=(const Link&) = delete;
        ~Link()
        {
            if (dbc)
                SQLDisconnect(dbc);
        }
    } link_;
    bool inTransaction_ = false;
    std::string dbmsName_;
    std::unique_ptr<Dialect> dialect_;
    std::mutex runningMutex_;
    SQLHSTMT running_ = SQL_NULL_HANDLE;
    SQLUINTEGER getDataExtensions_ = 0;
    OdbcFetchStats stats_;
    // Reused between cells so that a fetch allocates only when a value grows.
    std::vector<SQLWCHAR> wideScratch_;
    std::string readScratch_;
    Utf8Cells utf8Scratch_;
};

} // namespace odbc
