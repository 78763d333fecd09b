#include "oracle/RowStatements.h"

#include <algorithm>

RowStatements::RowStatements(const Dialect& dialect, Placeholders placeholders, std::string table,
                             std::vector<ColumnInfo> columns, std::vector<std::string> primaryKey,
                             std::vector<bool> absent)
    : dialect_(dialect.clone()), placeholders_(placeholders), table_(std::move(table)),
      quotedTable_(dialect_->quote(table_)), columns_(std::move(columns)), primaryKey_(std::move(primaryKey)),
      absent_(std::move(absent))
{
    absent_.resize(columns_.size(), false);
    quotedColumns_.reserve(columns_.size());
    for (const ColumnInfo& c : columns_)
        quotedColumns_.push_back(dialect_->quote(c.name));

    // The key finds a row only when every key column is in the result and
    // compares exactly; otherwise fall back to every comparable column.
    std::vector<int> key;
    for (const std::string& name : primaryKey_) {
        const auto it = std::find_if(columns_.begin(), columns_.end(),
                                     [&name](const ColumnInfo& c) { return c.name == name; });
        const int column = static_cast<int>(it - columns_.begin());
        if (it == columns_.end() || !it->comparable || isAbsent(column)) {
            key.clear();
            break;
        }
        key.push_back(column);
    }
    byKey_ = !key.empty();
    if (byKey_) {
        identifying_ = std::move(key);
    } else {
        for (int c = 0; c < static_cast<int>(columns_.size()); ++c)
            if (columns_[static_cast<std::size_t>(c)].comparable && !isAbsent(c))
                identifying_.push_back(c);
    }
}

std::shared_ptr<const RowStatements> RowStatements::withoutColumns(const std::vector<int>& gone) const
{
    std::vector<bool> absent = absent_;
    for (int c : gone)
        if (c >= 0 && static_cast<std::size_t>(c) < absent.size())
            absent[static_cast<std::size_t>(c)] = true;
    return std::make_shared<const RowStatements>(*dialect_, placeholders_, table_, columns_, primaryKey_,
                                                 std::move(absent));
}

RowStatements::Statement RowStatements::columnsNow() const
{
    return Statement{dialect_->selectNoRows(table_), {}};
}

Param RowStatements::param(int column, const Value& value) const
{
    const ColumnInfo& c = columns_[static_cast<std::size_t>(column)];
    return Param(dialect_->stored(value), c.type, c.nativeType);
}

std::string RowStatements::columnList() const
{
    std::string list;
    for (std::size_t c = 0; c < quotedColumns_.size(); ++c) {
        if (!list.empty())
            list += ", ";
        // A column gone from the table keeps its place in the row read.
        list += absent_[c] ? "NULL" : quotedColumns_[c];
    }
    return list;
}

std::string RowStatements::addParam(std::vector<Param>& params, Param p) const
{
    params.push_back(std::move(p));
    return Placeholder(placeholders_, static_cast<int>(params.size()));
}

void RowStatements::appendMatch(std::string& sql, std::vector<Param>& params, int column, const Value& value,
                                Dialect::Check check) const
{
    const std::string& name = quotedColumns_[static_cast<std::size_t>(column)];
    Param p = param(column, value);
    if (p.value.isNull()) {
        sql += dialect_->matchNull(name);
        return;
    }
    if (check == Dialect::Check::AsText) {
        // The text form read is compared as text, whatever the column's type.
        p.type = ColumnType::Text;
        p.nativeType = 0;
        p.value.kind = ValueKind::Text;
    }
    sql += dialect_->matchValue(name, addParam(params, std::move(p)), check);
}

int RowStatements::uncheckableChange(const Values& changes) const
{
    for (std::size_t c = 0; c < changes.size() && c < columns_.size(); ++c)
        if (changes[c] && dialect_->changeCheck(columns_[c]) == Dialect::Check::None)
            return static_cast<int>(c);
    return -1;
}

std::optional<RowStatements::Statement> RowStatements::update(const std::vector<Value>& original, const Values& changes) const
{
    if (identifying_.empty() || uncheckableChange(changes) >= 0)
        return std::nullopt;
    Statement s;
    s.sql = "UPDATE " + quotedTable_ + " SET ";
    bool first = true;
    for (std::size_t c = 0; c < changes.size() && c < columns_.size(); ++c) {
        if (!changes[c] || absent_[c])
            continue;
        if (!first)
            s.sql += ", ";
        first = false;
        s.sql += quotedColumns_[c] + " = " + addParam(s.params, param(static_cast<int>(c), *changes[c]));
    }
    if (first)
        return std::nullopt; // nothing changed

    // The changed columns must still hold what was read, so that a change
    // made by someone else since is never overwritten unseen.
    s.sql += " WHERE ";
    first = true;
    const auto match = [&](int c, Dialect::Check check) {
        if (!first)
            s.sql += " AND ";
        first = false;
        appendMatch(s.sql, s.params, c, original[static_cast<std::size_t>(c)], check);
    };
    for (int c : identifying_)
        match(c, Dialect::Check::Equal);
    for (std::size_t c = 0; c < changes.size() && c < columns_.size(); ++c) {
        const int column = static_cast<int>(c);
        if (changes[c] && !absent_[c] && std::find(identifying_.begin(), identifying_.end(), column) == identifying_.end())
            match(column, dialect_->changeCheck(columns_[c]));
    }
    return s;
}

RowStatements::Statement RowStatements::insert(const Values& values, bool returningKey) const
{
    Statement s;
    std::string names;
    std::string markers;
    for (std::size_t c = 0; c < values.size() && c < columns_.size(); ++c) {
        if (!values[c] || absent_[c])
            continue;
        if (!names.empty()) {
            names += ", ";
            markers += ", ";
        }
        names += quotedColumns_[c];
        markers += addParam(s.params, param(static_cast<int>(c), *values[c]));
    }
    if (names.empty())
        s.sql = dialect_->insertDefaults(quotedTable_);
    else
        s.sql = "INSERT INTO " + quotedTable_ + " (" + names + ") VALUES (" + markers + ")";
    if (returningKey && byKey_ && dialect_->supportsReturning()) {
        std::string key;
        for (int c : identifying_) {
            if (!key.empty())
                key += ", ";
            key += quotedColumns_[static_cast<std::size_t>(c)];
        }
        s.sql += " " + dialect_->returning(key);
    }
    return s;
}

std::optional<RowStatements::Statement> RowStatements::remove(const std::vector<Value>& original) const
{
    if (identifying_.empty())
        return std::nullopt;
    Statement s;
    s.sql = "DELETE FROM " + quotedTable_ + " WHERE ";
    // A row someone else changed since it was read is not the row the user
    // chose to delete: every comparable value must still be as read.
    bool first = true;
    const auto match = [&](int c) {
        if (!first)
            s.sql += " AND ";
        first = false;
        appendMatch(s.sql, s.params, c, original[static_cast<std::size_t>(c)]);
    };
    for (int c : identifying_)
        match(c);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const int column = static_cast<int>(c);
        if (columns_[c].comparable && !absent_[c]
            && std::find(identifying_.begin(), identifying_.end(), column) == identifying_.end())
            match(column);
    }
    return s;
}

std::optional<RowStatements::Statement> RowStatements::reselect(const Values& values) const
{
    std::vector<int> by;
    if (byKey_
        && std::all_of(identifying_.begin(), identifying_.end(),
                       [&values](int c) { return static_cast<std::size_t>(c) < values.size() && values[c]; })) {
        by = identifying_;
    } else {
        for (std::size_t c = 0; c < values.size() && c < columns_.size(); ++c)
            if (values[c] && columns_[c].comparable && !absent_[c])
                by.push_back(static_cast<int>(c));
    }
    if (by.empty() || columns_.empty())
        return std::nullopt;
    Statement s;
    s.sql = "SELECT " + columnList() + " FROM " + quotedTable_ + " WHERE ";
    bool first = true;
    for (int c : by) {
        if (!first)
            s.sql += " AND ";
        first = false;
        appendMatch(s.sql, s.params, c, *values[static_cast<std::size_t>(c)]);
    }
    return s;
}
