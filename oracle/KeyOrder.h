#pragma once

// The order of a table's rows when the database keeps them and the grid
// shows a window over them: the sort columns, then a key that tells every
// row apart (the primary key, or the engine's row locator such as SQLite's
// rowid), NULL placed as the grid places it (after every value ascending,
// before them descending). It writes the SQL that reads the rows' places in
// that order and that reads the rows from a place on, by their order values
// ("keyset" seeks: never an OFFSET, which would read every row before).
// Values always go in as bound parameters, never into the SQL text.
//
// Every condition it writes is true or false, never NULL, for every row, so
// that "at or after this place" and its negation split the rows exactly.

#include "oracle/Dialect.h"
#include "oracle/Engine.h"
#include "oracle/RowOrder.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The row locator of an engine whose tables need no key to tell their rows
// apart (SQLite's rowid, Oracle's ROWID), which the database can sort and
// seek by; none where the engine has none (a table without a key then
// cannot be kept in the database).
std::optional<std::string> RowLocator(DialectKind kind);

struct OrderTerm {
    int column = -1; // the table's column; -1 for the row locator
    bool descending = false;
    bool notNull = false; // the column can hold no NULL (its order needs no NULL placing)
};

class KeyOrder {
public:
    // `sort` may be empty; `key` are the key's columns (ascending), or empty when the
    // table has none and `locator` names the engine's row locator, which is
    // then read as the first column of every row.
    KeyOrder(const Dialect& dialect, Placeholders placeholders, std::string table, std::vector<ColumnInfo> columns,
             std::vector<OrderTerm> sort, std::vector<OrderTerm> key, std::optional<std::string> locator);
    KeyOrder(const KeyOrder& other);
    KeyOrder& operator=(const KeyOrder&) = delete;

    // A column's filter as the database answers it: contains (ignoring
    // case), compares with the value typed, or NULL / not NULL. The rows
    // of every statement are those that pass every filter.
    struct Filter {
        int column = -1;
        ColumnFilter::Op op = ColumnFilter::Op::None;
        std::string operand;
    };
    void setFilters(std::vector<Filter> filters) { filters_ = std::move(filters); }
    bool filtered() const { return !filters_.empty(); }
    // Besides the filters, only rows where one of `columns` may contain
    // `text` ignoring case: the rows a find looks at, each then judged by
    // the grid's own rule. A database may fold the case of ASCII letters
    // alone (SQLite's LOWER and LIKE do), so only the text's longest ASCII
    // run narrows the rows; a text without one narrows nothing. Whether
    // the rows are narrowed.
    bool setAnyContaining(std::vector<int> columns, std::string text);
    // The same order backwards (the NULLs' place turns with it).
    KeyOrder reversed() const;

    struct Statement {
        std::string sql;
        std::vector<Param> params;
    };

    // The terms of the order: the sort's, then the key's (a key column the
    // sort already has is not repeated).
    const std::vector<OrderTerm>& terms() const { return terms_; }
    // Whether the rows read carry the locator as their first column.
    bool readsLocator() const { return locator_.has_value(); }
    // The columns of a row read by rowsFrom: the locator's column first where
    // there is one.
    int firstTableColumn() const { return readsLocator() ? 1 : 0; }

    // Every row's order values (one per term), in the order: the position pass.
    Statement placesQuery() const;
    // The rows (every column) at or after the place `from` and before the
    // place `to`, in the order; from the first row without `from`, to the
    // last without `to`; at most `limit` rows where given.
    Statement rowsFrom(const std::vector<Value>* from, const std::vector<Value>* to,
                       std::optional<long long> limit = std::nullopt) const;
    // How many rows come before the place `at`.
    Statement countBefore(const std::vector<Value>& at) const;
    // A row's order values, taken from its values as rowsFrom read them.
    std::vector<Value> placeOf(const std::vector<Value>& rowRead) const;
    // Whether rows are told apart by the table's key (not by a locator).
    bool keyed() const { return !keyColumns_.empty(); }
    // Whether the order is the table's own (its key's or locator's), with no sort column before it.
    bool tableOrder() const { return !sorted_; }
    // Keyed orders: how many rows (0 or 1) hold the key of `row` (the
    // table's columns), pass the filters, and come at or after the place
    // `from` (without it: anywhere). A key lookup, quick at any size.
    Statement keyAtOrAfter(const std::vector<Value>& row, const std::vector<Value>* from) const;

private:
    std::string termSql(const OrderTerm& t) const;
    std::string orderBy() const;
    std::string marker(std::vector<Param>& params, const OrderTerm& t, const Value& v) const;
    // " WHERE ..." for the filters and `more` (either may be empty).
    std::string where(std::vector<Param>& params, const std::function<std::string(std::vector<Param>&)>& more) const;
    std::string filterSql(const Filter& f, std::vector<Param>& params) const;
    // The condition that a row comes at or after the place (true or false).
    std::string atOrAfter(const std::vector<Value>& place, std::vector<Param>& params) const;
    // The rows ahead of the place, the place's own row not among them.
    std::string before(const std::vector<Value>& place, std::vector<Param>& params) const;

    std::unique_ptr<Dialect> dialect_;
    Placeholders placeholders_;
    std::string table_;
    std::vector<ColumnInfo> columns_;
    std::vector<OrderTerm> terms_;
    std::optional<std::string> locator_;
    std::vector<int> keyColumns_;
    bool sorted_ = false;
    std::vector<Filter> filters_;
    std::vector<int> anyColumns_;
    std::string anyText_;
};
