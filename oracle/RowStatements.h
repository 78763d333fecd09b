#pragma once

// The statements of one row write for one table, in the session's dialect:
// the UPDATE of the changed columns, the INSERT of a new row, the DELETE of a
// row, and the SELECT that reads a row again. A row is found by its primary
// key, or, when the table has none, by every column whose value can be
// compared exactly; an UPDATE also requires every changed column to still
// hold the value read. NULL is matched with IS NULL. Every SELECT and
// RETURNING names the columns that were read, in their order, so a row read
// again lines up with the columns shown whatever the table's order is now.
// A column another user dropped (or renamed) since the table was read can be
// left out (withoutColumns): nothing then names it, a row read again holds
// NULL in its place, and rows are found by the columns still there.
// Pure text building: nothing here touches a database. The statements are
// put together from the dialect's pieces (names quoted its way, its NULL and
// value conditions, its INSERT of defaults and RETURNING); parameters are
// marked the way the session's engine marks them.

#include "oracle/Dialect.h"
#include "oracle/Engine.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class RowStatements {
public:
    // One value per column, set where known (typed, or changed).
    using Values = std::vector<std::optional<Value>>;

    struct Statement {
        std::string sql;
        std::vector<Param> params;
    };

    // dialect: the session's, or a clone of it (the statements keep a clone
    // of their own). placeholders: the session's. primaryKey: the key's column
    // names in key order (empty: no key).
    RowStatements(const Dialect& dialect, Placeholders placeholders, std::string table, std::vector<ColumnInfo> columns,
                  std::vector<std::string> primaryKey, std::vector<bool> absent = {});

    // The same statements with these columns (by index) left out as well.
    std::shared_ptr<const RowStatements> withoutColumns(const std::vector<int>& gone) const;
    // Whether a column is left out.
    bool isAbsent(int column) const { return absent_[static_cast<std::size_t>(column)]; }
    // A query that reads no row, only the table's columns as they are now.
    Statement columnsNow() const;

    const Dialect& dialect() const { return *dialect_; }
    const std::vector<ColumnInfo>& columns() const { return columns_; }

    // True when rows are found by a primary key.
    bool byKey() const { return byKey_; }
    // The columns that find a row: the key's, or every comparable one.
    const std::vector<int>& identifyingColumns() const { return identifying_; }
    // Whether an existing row can be found again at all.
    bool canFindRows() const { return !identifying_.empty(); }

    // The first changed column whose value read this database cannot check
    // (so another user's change to it could not be detected); -1 when none.
    int uncheckableChange(const Values& changes) const;

    // UPDATE ... SET the changed columns WHERE the row's identifying columns
    // and the changed columns hold their original values. Nothing when the
    // row cannot be found by any column, nothing changed, or a changed
    // column cannot be checked.
    std::optional<Statement> update(const std::vector<Value>& original, const Values& changes) const;
    // INSERT of the columns set (DEFAULT VALUES when none). With
    // returningKey (where the dialect has RETURNING and the table a key), the
    // statement gives back the new row's key columns.
    Statement insert(const Values& values, bool returningKey) const;
    // DELETE of the row that holds `original`: found as an UPDATE finds it,
    // and every other comparable column must still hold its value read.
    // Nothing when it cannot be found.
    std::optional<Statement> remove(const std::vector<Value>& original) const;
    // SELECT of the row holding `values`: by the key when every key value is
    // known, otherwise by every known comparable value. Nothing when no
    // column can find it.
    std::optional<Statement> reselect(const Values& values) const;
    // The key columns, in key order; empty without a key.
    std::vector<int> keyColumns() const { return byKey_ ? identifying_ : std::vector<int>{}; }

    // The parameter that stands for a value of a column.
    Param param(int column, const Value& value) const;

private:
    // The dialect's condition that the column holds the value (or is NULL),
    // by the check form.
    void appendMatch(std::string& sql, std::vector<Param>& params, int column, const Value& value,
                     Dialect::Check check = Dialect::Check::Equal) const;
    // Adds the parameter; its placeholder.
    std::string addParam(std::vector<Param>& params, Param p) const;
    std::string columnList() const;

    std::unique_ptr<Dialect> dialect_;
    Placeholders placeholders_;
    std::string table_;
    std::string quotedTable_;
    std::vector<ColumnInfo> columns_;
    std::vector<std::string> primaryKey_;
    std::vector<bool> absent_;
    std::vector<std::string> quotedColumns_;
    std::vector<int> identifying_;
    bool byKey_ = false;
};
