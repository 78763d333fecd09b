#include "oracle/KeyOrder.h"

#include <algorithm>

KeyOrder::KeyOrder(const Dialect& dialect, Placeholders placeholders, std::string table,
                   std::vector<ColumnInfo> columns, std::vector<OrderTerm> sort, std::vector<OrderTerm> key,
                   std::optional<std::string> locator)
    : dialect_(dialect.clone()), placeholders_(placeholders), table_(std::move(table)), columns_(std::move(columns)),
      terms_(std::move(sort)), sorted_(!terms_.empty())
{
    if (!key.empty()) {
        for (const OrderTerm& k : key) {
            keyColumns_.push_back(k.column);
            const bool sorted =
                std::any_of(terms_.begin(), terms_.end(), [&k](const OrderTerm& t) { return t.column == k.column; });
            if (!sorted)
                terms_.push_back(OrderTerm{k.column, false, k.notNull});
        }
    } else if (locator) {
        locator_ = std::move(locator);
        terms_.push_back(OrderTerm{-1, false, true});
    }
}

KeyOrder::KeyOrder(const KeyOrder& other)
    : dialect_(other.dialect_->clone()), placeholders_(other.placeholders_), table_(other.table_),
      columns_(other.columns_), terms_(other.terms_), locator_(other.locator_), keyColumns_(other.keyColumns_),
      sorted_(other.sorted_), filters_(other.filters_),
      anyColumns_(other.anyColumns_), anyText_(other.anyText_)
{
}

bool KeyOrder::setAnyContaining(std::vector<int> columns, std::string text)
{
    std::size_t best = 0, bestLength = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80)
            ++end;
        if (end - at > bestLength) {
            best = at;
            bestLength = end - at;
        }
        at = end + 1;
    }
    anyText_ = text.substr(best, bestLength);
    anyColumns_ = anyText_.empty() ? std::vector<int>{} : std::move(columns);
    return !anyColumns_.empty();
}

KeyOrder KeyOrder::reversed() const
{
    KeyOrder turned(*this);
    for (OrderTerm& t : turned.terms_)
        t.descending = !t.descending;
    return turned;
}

std::string KeyOrder::termSql(const OrderTerm& t) const
{
    return t.column < 0 ? *locator_ : dialect_->quote(columns_[static_cast<std::size_t>(t.column)].name);
}

std::string KeyOrder::orderBy() const
{
    std::string sql = " ORDER BY ";
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        if (i > 0)
            sql += ", ";
        sql += dialect_->orderTerm(termSql(terms_[i]), terms_[i].descending, !terms_[i].notNull);
    }
    return sql;
}

std::string KeyOrder::marker(std::vector<Param>& params, const OrderTerm& t, const Value& v) const
{
    // Bound as the column's type, so that the database compares it as it
    // orders the column (an exact number as a number, a time as a time).
    if (t.column < 0) // SQLite's rowid is a number, Oracle's ROWID a text
        params.emplace_back(v, dialect_->kind() == DialectKind::SQLite ? ColumnType::Integer : ColumnType::Text, 0);
    else {
        const ColumnInfo& c = columns_[static_cast<std::size_t>(t.column)];
        params.emplace_back(v, c.type, c.nativeType);
    }
    return Placeholder(placeholders_, static_cast<int>(params.size()));
}

std::string KeyOrder::atOrAfter(const std::vector<Value>& place, std::vector<Param>& params) const
{
    // at-or-after(i) = after_i OR (equal_i AND at-or-after(i+1)), and
    // at-or-after past the last term is true: the rows from the place on.
    // Each piece is written so that a NULL in the row makes it false or
    // true, never NULL.
    std::string sql;
    // The first term again, as a range the database can seek an index by
    // (first in the text: "?" parameters go by their place in it).
    const OrderTerm& first = terms_.front();
    if (first.notNull && !place.front().isNull())
        sql = termSql(first) + (first.descending ? " <= " : " >= ") + marker(params, first, place.front()) + " AND ";
    std::string closing;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        const OrderTerm& t = terms_[i];
        const std::string q = termSql(t);
        const Value& v = place[i];
        std::string after;
        std::string equal;
        if (v.isNull()) {
            after = t.descending ? q + " IS NOT NULL" : std::string("1 = 0");
            equal = q + " IS NULL";
        } else {
            const std::string m1 = marker(params, t, v);
            const std::string cmp = q + (t.descending ? " < " : " > ") + m1;
            if (t.notNull)
                after = cmp;
            else
                after = t.descending ? "(" + q + " IS NOT NULL AND " + cmp + ")" : "(" + q + " IS NULL OR " + cmp + ")";
            const std::string m2 = marker(params, t, v);
            equal = t.notNull ? q + " = " + m2 : "(" + q + " IS NOT NULL AND " + q + " = " + m2 + ")";
        }
        if (i + 1 == terms_.size()) {
            sql += "(" + after + " OR " + equal + ")";
        } else {
            sql += "(" + after + " OR (" + equal + " AND ";
            closing += "))";
        }
    }
    sql += closing;
    return sql;
}

std::string KeyOrder::before(const std::vector<Value>& place, std::vector<Param>& params) const
{
    // before(i) = ahead_i OR (equal_i AND before(i+1)), and before past the
    // last term is false. Not written as NOT at-or-after: a database scans
    // every row for that, where this seeks the first term's index up to
    // the place. NULL in the row makes no piece NULL, as in atOrAfter.
    std::string sql;
    const OrderTerm& first = terms_.front();
    if (first.notNull && !place.front().isNull())
        sql = termSql(first) + (first.descending ? " >= " : " <= ") + marker(params, first, place.front()) + " AND ";
    std::string closing;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        const OrderTerm& t = terms_[i];
        const std::string q = termSql(t);
        const Value& v = place[i];
        const bool last = i + 1 == terms_.size();
        std::string ahead;
        std::string equal;
        if (v.isNull()) {
            // NULL comes after the values ascending, before them descending.
            ahead = t.descending ? std::string("1 = 0") : q + " IS NOT NULL";
            equal = q + " IS NULL";
        } else {
            const std::string cmp = q + (t.descending ? " > " : " < ") + marker(params, t, v);
            if (t.notNull)
                ahead = cmp;
            else
                ahead = t.descending ? "(" + q + " IS NULL OR " + cmp + ")" : "(" + q + " IS NOT NULL AND " + cmp + ")";
            if (!last) {
                const std::string m2 = marker(params, t, v);
                equal = t.notNull ? q + " = " + m2 : "(" + q + " IS NOT NULL AND " + q + " = " + m2 + ")";
            }
        }
        if (last) {
            sql += "(" + ahead + ")";
        } else {
            sql += "(" + ahead + " OR (" + equal + " AND ";
            closing += "))";
        }
    }
    sql += closing;
    return sql;
}

std::string KeyOrder::filterSql(const Filter& f, std::vector<Param>& params) const
{
    const ColumnInfo& c = columns_[static_cast<std::size_t>(f.column)];
    const std::string q = dialect_->quote(c.name);
    using Op = ColumnFilter::Op;
    switch (f.op) {
    case Op::IsNull: return q + " IS NULL";
    case Op::IsNotNull: return q + " IS NOT NULL";
    case Op::Contains: {
        // Ignoring case, as the grid's own filter does; % _ and \ typed
        // are looked for as they are.
        std::string pattern = "%";
        for (char ch : f.operand) {
            if (ch == '%' || ch == '_' || ch == '\\')
                pattern += '\\';
            pattern += ch;
        }
        pattern += '%';
        params.emplace_back(Value{ValueKind::Text, std::move(pattern)}, ColumnType::Text, 0);
        const std::string m = Placeholder(placeholders_, static_cast<int>(params.size()));
        const bool text = c.type == ColumnType::Text || c.type == ColumnType::LargeText;
        return "LOWER(" + (text ? q : dialect_->asText(q)) + ") LIKE LOWER(" + m + ") ESCAPE '\\'";
    }
    default: break;
    }
    const char* op = f.op == Op::Equal       ? " = "
                     : f.op == Op::NotEqual  ? " <> "
                     : f.op == Op::Less      ? " < "
                     : f.op == Op::LessEqual ? " <= "
                     : f.op == Op::Greater   ? " > "
                                             : " >= ";
    // Bound as the column's type, so that a number compares as a number.
    params.emplace_back(dialect_->typedValue(c, f.operand), c.type, c.nativeType);
    return q + op + Placeholder(placeholders_, static_cast<int>(params.size()));
}

std::string KeyOrder::where(std::vector<Param>& params,
                            const std::function<std::string(std::vector<Param>&)>& more) const
{
    std::string sql;
    for (const Filter& f : filters_)
        sql += (sql.empty() ? " WHERE " : " AND ") + filterSql(f, params);
    if (!anyColumns_.empty()) {
        std::string any;
        for (int c : anyColumns_)
            any += (any.empty() ? "(" : " OR ") + filterSql(Filter{c, ColumnFilter::Op::Contains, anyText_}, params);
        sql += (sql.empty() ? " WHERE " : " AND ") + any + ")";
    }
    if (more) {
        const std::string m = more(params);
        if (!m.empty())
            sql += (sql.empty() ? " WHERE " : " AND ") + m;
    }
    return sql;
}

std::optional<std::string> RowLocator(DialectKind kind)
{
    if (kind == DialectKind::SQLite || kind == DialectKind::Oracle)
        return "rowid";
    return std::nullopt;
}

KeyOrder::Statement KeyOrder::placesQuery() const
{
    Statement s;
    s.sql = "SELECT ";
    for (std::size_t i = 0; i < terms_.size(); ++i)
        s.sql += (i > 0 ? ", " : "") + termSql(terms_[i]);
    s.sql += " FROM " + dialect_->quote(table_) + where(s.params, {}) + orderBy();
    return s;
}

KeyOrder::Statement KeyOrder::rowsFrom(const std::vector<Value>* from, const std::vector<Value>* to,
                                       std::optional<long long> limit) const
{
    Statement s;
    // Oracle takes * beside another column only as the table's.
    const std::string table = dialect_->quote(table_);
    s.sql = "SELECT " + (locator_ ? *locator_ + ", " + table + ".*" : std::string("*")) + " FROM " + table;
    s.sql += where(s.params, [&](std::vector<Param>& params) {
        std::string sql;
        if (from)
            sql += "(" + atOrAfter(*from, params) + ")";
        if (from && to)
            sql += " AND ";
        if (to) {
            // Its first term again as a range: the database stops there
            // instead of reading on to the table's end.
            const OrderTerm& first = terms_.front();
            if (first.notNull && !to->front().isNull())
                sql += termSql(first) + (first.descending ? " >= " : " <= ") + marker(params, first, to->front()) + " AND ";
            sql += "NOT (" + atOrAfter(*to, params) + ")";
        }
        return sql;
    });
    s.sql += orderBy();
    if (limit)
        s.sql = dialect_->firstRows(s.sql, *limit);
    return s;
}

KeyOrder::Statement KeyOrder::countBefore(const std::vector<Value>& at) const
{
    Statement s;
    s.sql = "SELECT count(*) FROM " + dialect_->quote(table_)
            + where(s.params, [&](std::vector<Param>& params) { return "(" + before(at, params) + ")"; });
    return s;
}

KeyOrder::Statement KeyOrder::keyAtOrAfter(const std::vector<Value>& row, const std::vector<Value>* from) const
{
    Statement s;
    s.sql = "SELECT count(*) FROM " + dialect_->quote(table_)
            + where(s.params, [&](std::vector<Param>& params) {
                  std::string sql;
                  for (const int c : keyColumns_) {
                      const OrderTerm term{c, false, true};
                      sql += (sql.empty() ? "" : " AND ") + termSql(term) + " = "
                             + marker(params, term, row[static_cast<std::size_t>(c)]);
                  }
                  if (from)
                      sql += " AND (" + atOrAfter(*from, params) + ")";
                  return sql;
              });
    return s;
}

std::vector<Value> KeyOrder::placeOf(const std::vector<Value>& rowRead) const
{
    std::vector<Value> place;
    place.reserve(terms_.size());
    for (const OrderTerm& t : terms_)
        place.push_back(rowRead[static_cast<std::size_t>(t.column < 0 ? 0 : t.column + firstTableColumn())]);
    return place;
}
