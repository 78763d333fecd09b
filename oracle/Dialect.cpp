#include "oracle/Dialect.h"

#include "oracle/Engine.h"

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

std::string Dialect::placeholder(int) const { return "?"; }

namespace {

class OracleDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::Oracle; }
    std::string catalogueQuery() const override { return "select table_name from user_tables"; }
    bool emptyTextIsNull() const override { return true; }
};

class PgDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::PostgreSQL; }
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
    std::string placeholder(int n) const override { return "$" + std::to_string(n); }
};

class SqliteDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::SQLite; }
    std::string catalogueQuery() const override
    {
        return "select name from sqlite_schema where type = 'table' and name not like 'sqlite\\_%' escape '\\'"
               " order by rowid";
    }
};

class GenericDialect final : public Dialect {
public:
    DialectKind kind() const override { return DialectKind::Generic; }
    // Generic ODBC sources list their tables through the driver instead.
    std::string catalogueQuery() const override { return {}; }
};

} // namespace

std::unique_ptr<Dialect> MakeDialect(DialectKind kind)
{
    switch (kind) {
    case DialectKind::Oracle: return std::make_unique<OracleDialect>();
    case DialectKind::PostgreSQL: return std::make_unique<PgDialect>();
    case DialectKind::SQLite: return std::make_unique<SqliteDialect>();
    case DialectKind::Generic: break;
    }
    return std::make_unique<GenericDialect>();
}

void Session::tables(RowSink& sink)
{
    query(dialect().catalogueQuery(), {}, sink);
}
