#include "oracle/Dialect.h"

#include "oracle/Engine.h"

#include <cctype>
#include <charconv>

std::string Dialect::quoteIdentifier(std::string_view name)
{
    std::string out;
    out.reserve(name.size() + 2);
    out += '"';
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

namespace {

bool isTextColumn(ColumnType type)
{
    return type == ColumnType::Text || type == ColumnType::LargeText || type == ColumnType::Other;
}

template <typename Number>
bool parsesWhole(std::string_view text)
{
    Number v{};
    const char* last = text.data() + text.size();
    const auto r = std::from_chars(text.data(), last, v);
    return r.ec == std::errc() && r.ptr == last;
}

bool isDigits(std::string_view s)
{
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return !s.empty();
}

} // namespace

Value Dialect::typedValue(const ColumnInfo& column, std::string_view text) const
{
    if (text.empty() && (emptyTextIsNull() || !isTextColumn(column.type)))
        return {};
    // A number typed into a numeric column is bound as one, so that an engine
    // without column types (SQLite) stores a number, not a text.
    if (column.type == ColumnType::Integer && parsesWhole<long long>(text))
        return {ValueKind::Integer, std::string(text)};
    if (column.type == ColumnType::Real && parsesWhole<double>(text))
        return {ValueKind::Real, std::string(text)};
    return {ValueKind::Text, std::string(text)};
}

Value Dialect::stored(Value value) const
{
    if (value.kind == ValueKind::Text && value.bytes.empty() && emptyTextIsNull())
        return {};
    return value;
}

Dialect::Check Dialect::changeCheck(const ColumnInfo& column) const
{
    return column.comparable ? Check::Equal : Check::None;
}

std::string Dialect::selectAll(std::string_view table) const { return "SELECT * FROM " + quote(table); }

std::string Dialect::selectNoRows(std::string_view table) const { return selectAll(table) + " WHERE 1 = 0"; }

std::string Dialect::matchNull(const std::string& quoted) const { return quoted + " IS NULL"; }

std::string Dialect::matchValue(const std::string& quoted, const std::string& marker, Check) const
{
    return quoted + " = " + marker;
}

std::string Dialect::insertDefaults(const std::string& quotedTable) const
{
    return "INSERT INTO " + quotedTable + " DEFAULT VALUES";
}

std::string Dialect::returning(const std::string& quotedColumns) const { return "RETURNING " + quotedColumns; }

std::string Dialect::firstRows(const std::string& query, long long rows) const
{
    return query + " FETCH FIRST " + std::to_string(rows) + " ROWS ONLY";
}

std::string Dialect::orderTerm(const std::string& quoted, bool descending, bool nullable) const
{
    const std::string direction = descending ? " DESC" : " ASC";
    if (!nullable)
        return quoted + direction;
    // Spelled out, for databases that may not know NULLS FIRST/LAST.
    return std::string("CASE WHEN ") + quoted + " IS NULL THEN " + (descending ? "0" : "1") + " ELSE "
           + (descending ? "1" : "0") + " END, " + quoted + direction;
}

namespace {

// NULLS FIRST / LAST, which Oracle, PostgreSQL and SQLite (3.30 on) take.
std::string orderTermNullsSpelled(const std::string& quoted, bool descending, bool nullable)
{
    if (!nullable)
        return quoted + (descending ? " DESC" : " ASC");
    return quoted + (descending ? " DESC NULLS FIRST" : " ASC NULLS LAST");
}

std::string asTextSpelled(const std::string& quoted) { return "CAST(" + quoted + " AS TEXT)"; }

std::string limitClause(const std::string& query, long long rows) { return query + " LIMIT " + std::to_string(rows); }

} // namespace

namespace {

// The value read compared by its text, for types with no equality of their
// own (PostgreSQL and SQLite both spell the cast so).
std::string matchAsText(const std::string& quoted, const std::string& marker)
{
    return "CAST(" + quoted + " AS text) = " + marker;
}

} // namespace

namespace {

class OracleDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::Oracle; }
    std::unique_ptr<Dialect> clone() const override { return std::make_unique<OracleDialect>(*this); }
    std::string catalogueQuery() const override { return "select table_name from user_tables"; }
    bool emptyTextIsNull() const override { return true; }
    // ROWNUM counts the rows of the inner, ordered query (servers before 12c
    // know no FETCH FIRST).
    std::string firstRows(const std::string& query, long long rows) const override
    {
        return "SELECT * FROM (" + query + ") WHERE ROWNUM <= " + std::to_string(rows);
    }
    std::string orderTerm(const std::string& quoted, bool descending, bool nullable) const override
    {
        return orderTermNullsSpelled(quoted, descending, nullable);
    }
    std::string asText(const std::string& quoted) const override { return "TO_CHAR(" + quoted + ")"; }

    // CLOB and BLOB compare by content through DBMS_LOB; a LONG cannot be
    // compared at all.
    Check changeCheck(const ColumnInfo& column) const override
    {
        if (column.comparable)
            return Check::Equal;
        if ((column.type == ColumnType::LargeText || column.type == ColumnType::Binary)
            && column.typeName.find("LONG") == std::string::npos && column.typeName.find("long") == std::string::npos)
            return Check::LobCompare;
        return Check::None;
    }
    std::string matchValue(const std::string& quoted, const std::string& marker, Check check) const override
    {
        if (check == Check::LobCompare)
            return "DBMS_LOB.COMPARE(" + quoted + ", " + marker + ") = 0";
        return Dialect::matchValue(quoted, marker, check);
    }

    // Dates and timestamps are bound in the canonical text form
    // YYYY-MM-DD HH:MM:SS[.fffffffff], which no session format can change; an
    // ISO "T" between date and time is accepted, and a date alone means
    // midnight (an Oracle DATE always has a time part).
    Value typedValue(const ColumnInfo& column, std::string_view text) const override
    {
        Value v = Dialect::typedValue(column, text);
        const bool dateTime = column.type == ColumnType::Timestamp || column.type == ColumnType::Date
                              || column.type == ColumnType::TimestampTz;
        if (!dateTime || v.kind == ValueKind::Null)
            return v;
        std::string& s = v.bytes;
        const bool isoDate = s.size() >= 10 && isDigits(s.substr(0, 4)) && s[4] == '-' && isDigits(s.substr(5, 2))
                             && s[7] == '-' && isDigits(s.substr(8, 2));
        if (!isoDate)
            return v;
        if (s.size() > 10 && (s[10] == 'T' || s[10] == 't'))
            s[10] = ' ';
        if (s.size() == 10 && column.type != ColumnType::Date)
            s += " 00:00:00";
        return v;
    }
};

class PgDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::PostgreSQL; }
    std::unique_ptr<Dialect> clone() const override { return std::make_unique<PgDialect>(*this); }
    // The current user's own base tables in the schema an unqualified name
    // resolves to, so that the editor's SELECT * FROM "name" finds each one.
    std::string catalogueQuery() const override
    {
        return "select c.relname from pg_catalog.pg_class c"
               " where c.relkind in ('r', 'p')"
               " and c.relnamespace = (select oid from pg_catalog.pg_namespace where nspname = current_schema())"
               " and pg_catalog.pg_get_userbyid(c.relowner) = current_user"
               " order by c.oid";
    }
    bool supportsReturning() const override { return true; }
    std::string firstRows(const std::string& query, long long rows) const override { return limitClause(query, rows); }
    std::string orderTerm(const std::string& quoted, bool descending, bool nullable) const override
    {
        return orderTermNullsSpelled(quoted, descending, nullable);
    }
    std::string asText(const std::string& quoted) const override { return asTextSpelled(quoted); }

    // bytea has an equality of its own; json, xml and the geometric types
    // have none, so they are compared by their text, which is what was read.
    Check changeCheck(const ColumnInfo& column) const override
    {
        if (column.comparable || column.type == ColumnType::Binary)
            return Check::Equal;
        return Check::AsText;
    }
    std::string matchValue(const std::string& quoted, const std::string& marker, Check check) const override
    {
        return check == Check::AsText ? matchAsText(quoted, marker) : Dialect::matchValue(quoted, marker, check);
    }
};

class SqliteDialect final : public Dialect {
public:
    explicit SqliteDialect(bool hasReturning) : hasReturning_(hasReturning) {}
    DialectKind kind() const override { return DialectKind::SQLite; }
    std::unique_ptr<Dialect> clone() const override { return std::make_unique<SqliteDialect>(*this); }
    // RETURNING came with SQLite 3.35: the engine knows which library it has.
    bool supportsReturning() const override { return hasReturning_; }
    std::string firstRows(const std::string& query, long long rows) const override { return limitClause(query, rows); }
    std::string orderTerm(const std::string& quoted, bool descending, bool nullable) const override
    {
        return orderTermNullsSpelled(quoted, descending, nullable);
    }
    std::string asText(const std::string& quoted) const override { return asTextSpelled(quoted); }
    // SQLite compares values of every kind, blobs byte by byte. A real that
    // its ODBC driver passed through 15-digit text is compared as that text.
    Check changeCheck(const ColumnInfo& column) const override
    {
        return !column.comparable && column.type == ColumnType::Real ? Check::AsText : Check::Equal;
    }
    std::string matchValue(const std::string& quoted, const std::string& marker, Check check) const override
    {
        return check == Check::AsText ? matchAsText(quoted, marker) : Dialect::matchValue(quoted, marker, check);
    }
    std::string catalogueQuery() const override
    {
        return "select name from sqlite_schema where type = 'table' and name not like 'sqlite\\_%' escape '\\'"
               " order by rowid";
    }

private:
    bool hasReturning_;
};

class GenericDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::Generic; }
    std::unique_ptr<Dialect> clone() const override { return std::make_unique<GenericDialect>(*this); }
    // Generic ODBC sources list their tables through the driver instead.
    std::string catalogueQuery() const override { return {}; }
};

} // namespace

std::unique_ptr<Dialect> MakeDialect(DialectKind kind)
{
    switch (kind) {
    case DialectKind::Oracle: return std::make_unique<OracleDialect>();
    case DialectKind::PostgreSQL: return std::make_unique<PgDialect>();
    case DialectKind::SQLite: return MakeSqliteDialect(false);
    case DialectKind::Generic: break;
    }
    return std::make_unique<GenericDialect>();
}

std::unique_ptr<Dialect> MakeSqliteDialect(bool hasReturning) { return std::make_unique<SqliteDialect>(hasReturning); }

