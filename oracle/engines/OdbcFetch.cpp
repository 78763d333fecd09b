// Reading a result: every column gets a plan from what SQLDescribeCol says.
// Short columns are bound to column-wise arrays and fetched several hundred
// rows per SQLFetch; long columns (and any bound value that turns out longer
// than its buffer) are read with SQLGetData in a loop, so nothing is ever
// truncated. Mixing the two needs the driver's SQL_GETDATA_EXTENSIONS: with
// SQL_GD_BLOCK we position on a row of the block with SQLSetPos first;
// without it we fetch one row at a time; a driver that cannot read bound or
// out-of-order columns gets every cell by SQLGetData.

#include "oracle/engines/OdbcSessionImpl.h"

#include <QScopeGuard>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>

namespace odbc {

bool OdbcSessionImpl::truncated(const ColumnPlan& plan, std::size_t row) const
{
    const SQLLEN ind = plan.indicators[row];
    if (ind == SQL_NULL_DATA)
        return false;
    switch (plan.fetch) {
    case Fetch::WideText: return ind == SQL_NO_TOTAL || ind > plan.elementBytes - SQLLEN(sizeof(SQLWCHAR));
    case Fetch::Chars: return ind == SQL_NO_TOTAL || ind > plan.elementBytes - 1;
    default: return false;
    }
}

void OdbcSessionImpl::emitBound(const ColumnPlan& plan, std::size_t row, RowSink& sink)
{
    const SQLLEN ind = plan.indicators[row];
    if (ind == SQL_NULL_DATA) {
        sink.cell(ValueKind::Null, nullptr, 0);
        return;
    }
    const unsigned char* element = plan.buffer.data() + row * static_cast<std::size_t>(plan.elementBytes);
    char text[64];
    switch (plan.fetch) {
    case Fetch::WideText: {
        const std::string_view utf8 = utf8Scratch_.convert(reinterpret_cast<const SQLWCHAR*>(element),
                                                           static_cast<std::size_t>(ind) / sizeof(SQLWCHAR));
        sink.cell(plan.kind, utf8.data(), utf8.size());
        return;
    }
    case Fetch::Chars:
        sink.cell(plan.kind, reinterpret_cast<const char*>(element), static_cast<std::size_t>(ind));
        return;
    case Fetch::Double: {
        double v = 0;
        std::memcpy(&v, element, sizeof v);
        sink.cell(ValueKind::Real, text, formatDouble(v, text, sizeof text));
        return;
    }
    case Fetch::Date: {
        SQL_DATE_STRUCT d{};
        std::memcpy(&d, element, sizeof d);
        sink.cell(ValueKind::Text, text, formatDate(d, text));
        return;
    }
    case Fetch::Timestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        std::memcpy(&t, element, sizeof t);
        sink.cell(ValueKind::Text, text, formatTimestamp(t, text));
        return;
    }
    case Fetch::Bytes: break;
    }
    sink.cell(ValueKind::Null, nullptr, 0);
}

void OdbcSessionImpl::readCell(const Handle& stmt, SQLUSMALLINT column, const ColumnPlan& plan, RowSink& sink)
{
    char text[64];
    SQLLEN ind = 0;
    const auto fixed = [&](void* target, SQLLEN size) {
        ++stats_.getDataCalls;
        stmt.check(SQLGetData(stmt.get(), column, cTypeOf(plan.fetch), target, size, &ind), "SQLGetData");
        return ind != SQL_NULL_DATA;
    };
    switch (plan.fetch) {
    case Fetch::Double: {
        double v = 0;
        if (!fixed(&v, sizeof v))
            break;
        sink.cell(ValueKind::Real, text, formatDouble(v, text, sizeof text));
        return;
    }
    case Fetch::Date: {
        SQL_DATE_STRUCT d{};
        if (!fixed(&d, sizeof d))
            break;
        sink.cell(ValueKind::Text, text, formatDate(d, text));
        return;
    }
    case Fetch::Timestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        if (!fixed(&t, sizeof t))
            break;
        sink.cell(ValueKind::Text, text, formatTimestamp(t, text));
        return;
    }
    case Fetch::WideText:
    case Fetch::Chars:
    case Fetch::Bytes:
        readPieces(stmt, column, plan, sink);
        return;
    }
    sink.cell(ValueKind::Null, nullptr, 0);
}

void OdbcSessionImpl::readPieces(const Handle& stmt, SQLUSMALLINT column, const ColumnPlan& plan, RowSink& sink)
{
    // Piece by piece into one growing buffer: a value of any length arrives
    // whole. A text piece ends in a NUL the driver adds.
    const std::size_t unit = plan.fetch == Fetch::WideText ? sizeof(SQLWCHAR) : 1;
    const std::size_t terminator = plan.fetch == Fetch::Bytes ? 0 : unit;
    std::vector<SQLWCHAR>& wide = wideScratch_;
    std::string& bytes = readScratch_;
    auto capacity = [&] { return unit == 1 ? bytes.size() : wide.size() * unit; };
    auto base = [&]() -> char* { return unit == 1 ? bytes.data() : reinterpret_cast<char*>(wide.data()); };
    auto grow = [&](std::size_t size) {
        if (unit == 1)
            bytes.resize(size);
        else
            wide.resize((size + unit - 1) / unit);
    };
    if (capacity() < 8192)
        grow(8192);
    std::size_t have = 0; // bytes of the value read so far
    SQLLEN ind = 0;
    for (;;) {
        const std::size_t room = capacity() - have;
        ++stats_.getDataCalls;
        const SQLRETURN rc =
            SQLGetData(stmt.get(), column, cTypeOf(plan.fetch), base() + have, static_cast<SQLLEN>(room), &ind);
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc, "SQLGetData");
        if (ind == SQL_NULL_DATA) {
            sink.cell(ValueKind::Null, nullptr, 0);
            return;
        }
        if (ind != SQL_NO_TOTAL && static_cast<std::size_t>(ind) + terminator <= room) {
            have += static_cast<std::size_t>(ind);
            break;
        }
        // A full piece: what fits, less the terminator, rounded to whole units.
        const std::size_t got = (room - terminator) / unit * unit;
        have += got;
        const std::size_t rest = ind == SQL_NO_TOTAL ? capacity() : static_cast<std::size_t>(ind) - got;
        grow(have + rest + terminator + unit);
    }
    if (plan.fetch == Fetch::WideText) {
        const std::string_view utf8 = utf8Scratch_.convert(wide.data(), have / unit);
        sink.cell(plan.kind, utf8.data(), utf8.size());
    } else {
        sink.cell(plan.kind, bytes.data(), have);
    }
}

std::vector<ColumnPlan> OdbcSessionImpl::describeColumns(const Handle& stmt)
{
    SQLHSTMT h = stmt.get();
    SQLSMALLINT count = 0;
    stmt.check(SQLNumResultCols(h, &count), "SQLNumResultCols");
    std::vector<ColumnPlan> plans(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
    for (SQLUSMALLINT c = 1; c <= plans.size(); ++c) {
        ColumnPlan& p = plans[c - 1];
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLRETURN rc = SQLDescribeColW(h, c, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength, &sqlType,
                                       &size, &digits, &nullable);
        if (SQL_SUCCEEDED(rc) && static_cast<std::size_t>(nameLength) >= name.size()) {
            name.resize(static_cast<std::size_t>(nameLength) + 1);
            rc = SQLDescribeColW(h, c, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength, &sqlType,
                                 &size, &digits, &nullable);
        }
        stmt.check(rc, "SQLDescribeCol");
        p.info.name = toUtf8(name.data(), std::min<std::size_t>(name.size() - 1, std::max<SQLSMALLINT>(nameLength, 0)));

        std::vector<SQLWCHAR> typeName(128);
        SQLSMALLINT typeLength = 0;
        if (SQL_SUCCEEDED(SQLColAttributeW(h, c, SQL_DESC_TYPE_NAME, typeName.data(),
                                           static_cast<SQLSMALLINT>(typeName.size() * sizeof(SQLWCHAR)), &typeLength,
                                           nullptr)))
            p.info.typeName = toUtf8(typeName.data(), std::min<std::size_t>(typeName.size() - 1,
                                                                            std::max<SQLSMALLINT>(typeLength, 0) / 2));
        classify(p, sqlType, size, digits, dialect_->kind());
    }
    return plans;
}

OdbcFetchStats::Mode OdbcSessionImpl::fetchMode(const std::vector<ColumnPlan>& plans) const
{
    // How the rows are read (see the top of the file).
    const SQLUINTEGER needed = SQL_GD_ANY_COLUMN | SQL_GD_BOUND;
    const bool anyBindable = std::any_of(plans.begin(), plans.end(), [](const ColumnPlan& p) { return !p.longData; });
    if (!options_.perCellFetch && anyBindable && (getDataExtensions_ & needed) == needed)
        return (getDataExtensions_ & SQL_GD_BLOCK) ? OdbcFetchStats::Mode::Block : OdbcFetchStats::Mode::RowByRow;
    return OdbcFetchStats::Mode::PerCell;
}

SQLULEN OdbcSessionImpl::setRowArray(const Handle& stmt, const std::vector<ColumnPlan>& plans)
{
    SQLHSTMT h = stmt.get();
    std::size_t rowBytes = 0;
    for (const ColumnPlan& p : plans)
        if (!p.longData)
            rowBytes += static_cast<std::size_t>(p.elementBytes) + sizeof(SQLLEN);
    SQLULEN rows = options_.rowArraySize > 0
                       ? static_cast<SQLULEN>(options_.rowArraySize)
                       : std::clamp<SQLULEN>(kBlockBudgetBytes / std::max<std::size_t>(rowBytes, 1), 1, kMaxBlockRows);
    stmt.check(SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
               "SQLSetStmtAttr");
    const SQLRETURN rc = SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
    // The driver may take a smaller size than asked (01S02): use its own.
    if (SQL_SUCCEEDED(rc))
        SQLGetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, &rows, 0, nullptr);
    else
        rows = 1;
    return rows;
}

void OdbcSessionImpl::bindColumns(const Handle& stmt, std::vector<ColumnPlan>& plans, SQLULEN rows)
{
    for (SQLUSMALLINT c = 1; c <= plans.size(); ++c) {
        ColumnPlan& p = plans[c - 1];
        if (p.longData)
            continue;
        p.buffer.resize(static_cast<std::size_t>(p.elementBytes) * rows);
        p.indicators.resize(rows);
        stmt.check(SQLBindCol(stmt.get(), c, cTypeOf(p.fetch), p.buffer.data(), p.elementBytes, p.indicators.data()),
                   "SQLBindCol");
        p.bound = true;
    }
}

void OdbcSessionImpl::emitRow(const Handle& stmt, const std::vector<ColumnPlan>& plans, std::size_t row,
                              bool positioned, RowSink& sink)
{
    for (SQLUSMALLINT c = 1; c <= plans.size(); ++c) {
        const ColumnPlan& p = plans[c - 1];
        if (p.bound && !truncated(p, row)) {
            emitBound(p, row, sink);
            continue;
        }
        // Long, or longer than the driver said: read it whole from the row
        // itself (SQL_GD_BOUND allows it on bound columns).
        if (!positioned) {
            stmt.check(SQLSetPos(stmt.get(), static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE),
                       "SQLSetPos");
            positioned = true;
        }
        readCell(stmt, c, p, sink);
    }
    sink.endRow();
    ++stats_.rows;
}

void OdbcSessionImpl::readResult(const Handle& stmt, RowSink& sink, bool noRows)
{
    stats_ = OdbcFetchStats{};
    if (noRows) {
        // The driver manager allows no describing here: no columns, no rows.
        sink.begin({});
        sink.end();
        return;
    }
    std::vector<ColumnPlan> plans = describeColumns(stmt);
    std::vector<ColumnInfo> infos;
    infos.reserve(plans.size());
    for (const ColumnPlan& p : plans)
        infos.push_back(p.info);
    if (infos.empty()) {
        sink.begin(infos);
        sink.end();
        return;
    }

    OdbcFetchStats::Mode mode = fetchMode(plans);
    SQLULEN rows = 1;
    if (mode == OdbcFetchStats::Mode::Block) {
        rows = setRowArray(stmt, plans);
        if (rows <= 1) {
            rows = 1;
            mode = OdbcFetchStats::Mode::RowByRow;
        }
    }
    stats_.mode = mode;
    stats_.rowArraySize = static_cast<long long>(rows);

    SQLHSTMT h = stmt.get();
    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status(rows, SQL_ROW_SUCCESS);
    // The statement points into this frame's buffers: take the pointers back
    // on every way out, so nothing is ever written here after we return.
    const auto detach = qScopeGuard([h] {
        SQLFreeStmt(h, SQL_UNBIND);
        SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    });
    const bool block = mode == OdbcFetchStats::Mode::Block;
    if (block) {
        stmt.check(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), "SQLSetStmtAttr");
        // Row statuses only tell a failed row apart; a driver without them still works.
        SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    }
    if (mode != OdbcFetchStats::Mode::PerCell)
        bindColumns(stmt, plans, rows);

    sink.begin(infos);
    for (;;) {
        ++stats_.fetchCalls;
        const SQLRETURN rc = SQLFetch(h);
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc, "SQLFetch");
        const std::size_t got = block ? static_cast<std::size_t>(fetched) : 1;
        for (std::size_t r = 0; r < got; ++r) {
            if (block && status[r] == SQL_ROW_ERROR)
                throw makeError(SQL_HANDLE_STMT, h, "SQLFetch");
            emitRow(stmt, plans, r, !block, sink);
        }
    }
    sink.end();
}

} // namespace odbc
