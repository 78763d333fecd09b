// The SQLite engine: libsqlite3 directly. Every value keeps SQLite's own
// storage class: integers as decimal text, reals in the shortest text that
// reads back to the same double (SQLite's own text conversion keeps only 15
// digits, so a real read that way would no longer match itself), text as
// stored, blobs as bytes. Parameters are bound by the same kinds, so a value
// read and bound back compares equal to itself.

#include "oracle/engines/SqliteEngine.h"
#include "oracle/engines/CheckLists.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/Engine.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// How long a statement waits for another writer before it fails.
constexpr int kBusyTimeoutMs = 5000;
// How long one step of a table's read holds the file (see readTable): a
// write by another connection waits no longer than that.
constexpr auto kReadStep = std::chrono::milliseconds(25);

std::string upper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

// The column's kind from its declared type, by SQLite's affinity rules, with
// the usual date and boolean names of the numeric affinity told apart.
ColumnInfo describeColumn(sqlite3_stmt* stmt, int column)
{
    ColumnInfo info;
    const char* name = sqlite3_column_name(stmt, column);
    info.name = name ? name : "";
    const char* declared = sqlite3_column_decltype(stmt, column);
    info.typeName = declared ? declared : "";
    const std::string t = upper(info.typeName);
    const auto has = [&t](const char* part) { return t.find(part) != std::string::npos; };

    if (has("INT"))
        info.type = ColumnType::Integer;
    else if (has("CHAR") || has("CLOB") || has("TEXT"))
        info.type = ColumnType::Text;
    else if (has("BLOB")) {
        info.type = ColumnType::Binary;
        info.readOnly = true;
        info.comparable = false;
    } else if (t.empty())
        info.type = ColumnType::Other; // no declared type: any value, edited as text
    else if (has("REAL") || has("FLOA") || has("DOUB"))
        info.type = ColumnType::Real;
    else if (has("BOOL"))
        info.type = ColumnType::Boolean;
    else if (has("DATETIME") || has("TIMESTAMP"))
        info.type = ColumnType::Timestamp;
    else if (has("DATE"))
        info.type = ColumnType::Date;
    else if (has("TIME"))
        info.type = ColumnType::Time;
    else
        info.type = ColumnType::Decimal;
    return info;
}

class SqliteSession final : public Session {
public:
    explicit SqliteSession(DbPtr db) : db_(std::move(db)), dialect_(MakeSqliteDialect(SqliteHasReturning())) {}

    const Dialect& dialect() const override { return *dialect_; }
    // Texts are bound with their length: a NUL inside one is kept.
    bool textKeepsNul() const override { return true; }

    void query(std::string_view sql, std::span<const Param> params, RowSink& sink) override
    {
        const char* tail = nullptr;
        StmtPtr stmt = prepare(sql, &tail);
        if (!stmt)
            throw DbError(DbError::kGeneric, "the query text holds no statement");
        if (hasMoreStatements(tail, sql))
            throw DbError(DbError::kGeneric, "the query text holds more than one statement");
        bind(stmt.get(), params);

        sink.begin(describeColumns(stmt.get(), 0));
        streamRows(stmt.get(), 0, sink);
        sink.end();
    }

    long long execute(std::string_view sql, std::span<const Param> params) override
    {
        // Several statements may follow one another; parameters belong to the first.
        const char* rest = sql.data();
        const char* const stop = sql.data() + sql.size();
        bool first = true;
        long long changes = 0;
        while (rest < stop) {
            const char* tail = nullptr;
            StmtPtr stmt = prepare(std::string_view(rest, static_cast<std::size_t>(stop - rest)), &tail);
            rest = tail ? tail : stop;
            if (!stmt)
                break; // only blanks or comments were left
            if (first)
                bind(stmt.get(), params);
            else if (!params.empty())
                throw DbError(DbError::kGeneric, "parameters given to a text of several statements");
            first = false;
            int rc;
            while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            }
            if (rc != SQLITE_DONE)
                fail();
            // A statement that writes nothing must not report the count of an earlier one.
            changes = sqlite3_stmt_readonly(stmt.get()) ? 0 : sqlite3_changes64(db_.get());
        }
        return changes;
    }

    void begin() override { execute("begin", {}); }
    void commit() override { execute("commit", {}); }
    void rollback() override
    {
        // A failed statement may already have ended the transaction.
        if (!sqlite3_get_autocommit(db_.get()))
            execute("rollback", {});
    }

    void interrupt() noexcept override { sqlite3_interrupt(db_.get()); }

    std::vector<std::string> primaryKey(std::string_view table) override
    {
        const Param name{ValueKind::Text, std::string(table)};
        StmtPtr stmt = prepare("select name from pragma_table_info(?1) where pk > 0 order by pk", nullptr);
        bind(stmt.get(), std::span<const Param>(&name, 1));
        std::vector<std::string> key;
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
            key.emplace_back(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), 0)));
        }
        if (rc != SQLITE_DONE)
            fail();
        return key;
    }

    // A table with a rowid is read in rowid order in steps, each a read of
    // its own, up to the largest rowid when the read began: between steps
    // another connection may commit (whatever the journal mode; in rollback
    // mode the next step waits for that commit), and rows added after the
    // read began are not read. One statement for a table WITHOUT ROWID.
    bool othersCanWriteWhileRead(std::string_view table) override { return !rowidName(table).empty(); }

    void readTable(std::string_view table, RowSink& sink) override
    {
        const std::string rowid = rowidName(table);
        if (rowid.empty()) {
            Session::readTable(table, sink);
            return;
        }
        const std::string from = " from " + dialect_->quote(table);
        const std::string select = "select " + rowid + ", *" + from + " where " + rowid + " <= ?1";
        const std::string order = " order by " + rowid;
        StmtPtr first = prepare(select + order, nullptr);
        StmtPtr next = prepare(select + " and " + rowid + " > ?2" + order, nullptr);
        const int columns = sqlite3_column_count(first.get());
        sink.begin(describeColumns(first.get(), 1));
        Param last{ValueKind::Null, {}};
        try {
            StmtPtr max = prepare("select max(" + rowid + ")" + from, nullptr);
            if (sqlite3_step(max.get()) != SQLITE_ROW)
                fail();
            if (sqlite3_column_type(max.get(), 0) != SQLITE_NULL)
                last = Param{ValueKind::Integer, std::to_string(sqlite3_column_int64(max.get(), 0))};
        } catch (const DbError&) {
            // The table's last page cannot be read (a damaged file): one
            // statement reads the rows before the damage.
            StmtPtr all = prepare(dialect_->selectAll(table), nullptr);
            streamRows(all.get(), 0, sink);
            sink.end();
            return;
        }
        if (last.value.isNull()) {
            sink.end();
            return;
        }
        sqlite3_stmt* s = first.get();
        Param params[] = {last, {}};
        bind(s, std::span<const Param>(params, 1));
        for (;;) {
            const auto began = std::chrono::steady_clock::now();
            long long rows = 0;
            sqlite3_int64 at = 0;
            bool more = false;
            int rc;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                at = sqlite3_column_int64(s, 0);
                sendRow(s, 1, columns, sink);
                if (++rows % 32 == 0 && std::chrono::steady_clock::now() - began > kReadStep) {
                    more = true;
                    break;
                }
            }
            if (!more && rc != SQLITE_DONE)
                fail();
            sqlite3_reset(s); // the step's read ends here
            if (!more)
                break;
            s = next.get();
            params[1] = Param{ValueKind::Integer, std::to_string(at)};
            bind(s, params);
        }
        sink.end();
    }

    // The INTEGER PRIMARY KEY, when the table's key is that one column, is
    // the rowid: the database fills it when it is left empty.
    std::vector<ColumnDetails> columnDetails(std::string_view table) override
    {
        const Param name{ValueKind::Text, std::string(table)};
        StmtPtr stmt = prepare("select name, \"notnull\", dflt_value, pk, upper(type),"
                               " (select count(*) from pragma_table_info(?1) where pk > 0)"
                               " from pragma_table_info(?1) order by cid",
                               nullptr);
        bind(stmt.get(), std::span<const Param>(&name, 1));
        std::vector<ColumnDetails> details;
        const auto text = [&stmt](int c) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            return std::string(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), c)));
        };
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
            ColumnDetails d;
            d.name = text(0);
            d.notNull = sqlite3_column_int(stmt.get(), 1) != 0;
            if (sqlite3_column_type(stmt.get(), 2) != SQLITE_NULL)
                d.defaultText = text(2);
            d.filledByDatabase =
                sqlite3_column_int(stmt.get(), 3) == 1 && text(4) == "INTEGER" && sqlite3_column_int(stmt.get(), 5) == 1;
            details.push_back(std::move(d));
        }
        addChoices(table, details);
        addReferences(table, details);
        return details;
    }

    // What ANALYZE counted (sqlite_stat1: the table's own row, else the
    // largest of its indexes' counts); without it, the largest rowid, a
    // bound found through the table's b-tree at once. Never a count that
    // reads the whole table; nothing when neither is there.
    std::optional<long long> estimatedRows(std::string_view table) override
    {
        const Param name{ValueKind::Text, std::string(table)};
        try {
            std::optional<long long> counted;
            StmtPtr stat = prepare("select stat from sqlite_stat1 where tbl = ?1", nullptr);
            bind(stat.get(), std::span<const Param>(&name, 1));
            while (sqlite3_step(stat.get()) == SQLITE_ROW) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stat.get(), 0));
                long long n = -1;
                if (text)
                    std::from_chars(text, text + std::strlen(text), n);
                if (n >= 0)
                    counted = std::max(counted.value_or(0), n);
            }
            if (counted)
                return counted;
        } catch (const DbError&) {
            // No statistics: the table was never analysed.
        }
        const std::string rowid = rowidName(table);
        if (rowid.empty())
            return std::nullopt;
        StmtPtr stmt = prepare("select max(" + rowid + ") from " + dialect_->quote(table), nullptr);
        if (sqlite3_step(stmt.get()) != SQLITE_ROW)
            return std::nullopt;
        if (sqlite3_column_type(stmt.get(), 0) == SQLITE_NULL)
            return 0; // no row at all
        const long long n = sqlite3_column_int64(stmt.get(), 0);
        return n >= 0 ? std::optional<long long>(n) : std::nullopt;
        return std::nullopt;
    }

private:
    // The plain IN lists of the table's CHECKs, read off its CREATE TABLE text.
    void addChoices(std::string_view table, std::vector<ColumnDetails>& details)
    {
        const Param name{ValueKind::Text, std::string(table)};
        StmtPtr stmt = prepare("select sql from sqlite_master where type = 'table' and name = ?1", nullptr);
        bind(stmt.get(), std::span<const Param>(&name, 1));
        if (sqlite3_step(stmt.get()) != SQLITE_ROW || sqlite3_column_type(stmt.get(), 0) != SQLITE_TEXT)
            return;
        const auto* sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
        for (auto& [column, values] : SqliteCheckLists(
                 std::string_view(sql, static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), 0)))))
            for (ColumnDetails& d : details)
                if (sqlite3_stricmp(d.name.c_str(), column.c_str()) == 0 && d.choices.empty())
                    d.choices = values;
    }

    // One-column foreign keys; one that names no column refers to the other
    // table's one-column primary key.
    void addReferences(std::string_view table, std::vector<ColumnDetails>& details)
    {
        const Param name{ValueKind::Text, std::string(table)};
        StmtPtr stmt = prepare("select \"from\", \"table\", \"to\" from pragma_foreign_key_list(?1) f"
                               " where (select count(*) from pragma_foreign_key_list(?1) g where g.id = f.id) = 1",
                               nullptr);
        bind(stmt.get(), std::span<const Param>(&name, 1));
        const auto text = [&stmt](int c) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            return std::string(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), c)));
        };
        std::vector<std::array<std::string, 3>> found;
        while (sqlite3_step(stmt.get()) == SQLITE_ROW)
            found.push_back({text(0), text(1), sqlite3_column_type(stmt.get(), 2) == SQLITE_NULL ? "" : text(2)});
        stmt.reset();
        for (auto& [from, target, to] : found) {
            if (to.empty()) {
                const std::vector<std::string> key = primaryKey(target);
                if (key.size() != 1)
                    continue;
                to = key[0];
            }
            for (ColumnDetails& d : details)
                if (sqlite3_stricmp(d.name.c_str(), from.c_str()) == 0 && !d.references)
                    d.references = ColumnDetails::Reference{target, to};
        }
    }

    // The columns of a statement from `first` on.
    static std::vector<ColumnInfo> describeColumns(sqlite3_stmt* s, int first)
    {
        std::vector<ColumnInfo> infos;
        for (int c = first; c < sqlite3_column_count(s); ++c)
            infos.push_back(describeColumn(s, c));
        return infos;
    }

    // The row the statement is on, from column `first` to `columns`.
    static void sendRow(sqlite3_stmt* s, int first, int columns, RowSink& sink)
    {
        char number[64];
        for (int c = first; c < columns; ++c) {
            switch (sqlite3_column_type(s, c)) {
            case SQLITE_INTEGER: {
                const auto r = std::to_chars(number, number + sizeof number, sqlite3_column_int64(s, c));
                sink.cell(ValueKind::Integer, number, static_cast<std::size_t>(r.ptr - number));
                break;
            }
            case SQLITE_FLOAT: {
                const auto r = std::to_chars(number, number + sizeof number, sqlite3_column_double(s, c));
                sink.cell(ValueKind::Real, number, static_cast<std::size_t>(r.ptr - number));
                break;
            }
            case SQLITE_TEXT: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
                sink.cell(ValueKind::Text, text, static_cast<std::size_t>(sqlite3_column_bytes(s, c)));
                break;
            }
            case SQLITE_BLOB: {
                const auto* bytes = static_cast<const char*>(sqlite3_column_blob(s, c));
                sink.cell(ValueKind::Blob, bytes, static_cast<std::size_t>(sqlite3_column_bytes(s, c)));
                break;
            }
            default: sink.cell(ValueKind::Null, nullptr, 0); break;
            }
        }
        sink.endRow();
    }

    // Every row of the statement, from column `first` on.
    void streamRows(sqlite3_stmt* s, int first, RowSink& sink) const
    {
        const int columns = sqlite3_column_count(s);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            sendRow(s, first, columns, sink);
        if (rc != SQLITE_DONE)
            fail();
    }

    // The name under which the table's rowid can be read (a column may take
    // the name rowid; one of its aliases is then free); empty for a table
    // WITHOUT ROWID.
    std::string rowidName(std::string_view table) const
    {
        for (const char* alias : {"_rowid_", "rowid", "oid"}) {
            if (!isRowidAlias(table, alias))
                continue;
            try {
                prepare("select " + std::string(alias) + " from " + dialect_->quote(table), nullptr);
                return alias;
            } catch (const DbError&) {
                return {};
            }
        }
        return {};
    }

    // Whether `alias` names the rowid in this table, not a column of its own
    // (an INTEGER PRIMARY KEY column is the rowid under its own name too).
    bool isRowidAlias(std::string_view table, const char* alias) const
    {
        const Param params[] = {{ValueKind::Text, std::string(table)}, {ValueKind::Text, std::string(alias)}};
        StmtPtr stmt = prepare("select count(*) from pragma_table_info(?1) where lower(name) = ?2", nullptr);
        bind(stmt.get(), params);
        return sqlite3_step(stmt.get()) == SQLITE_ROW && sqlite3_column_int64(stmt.get(), 0) == 0;
    }

    [[noreturn]] void fail() const
    {
        const int code = sqlite3_extended_errcode(db_.get());
        const std::string message = sqlite3_errmsg(db_.get());
        // SQLite has no SQLSTATE; a missing table or column is told apart by its message.
        std::string state;
        if (code == SQLITE_ERROR && message.rfind("no such table", 0) == 0)
            state = "42S02";
        else if (code == SQLITE_ERROR && message.rfind("no such column", 0) == 0)
            state = "42S22";
        throw DbError(code, message, state);
    }

    StmtPtr prepare(std::string_view sql, const char** tail) const
    {
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &raw, tail);
        StmtPtr stmt(raw);
        if (rc != SQLITE_OK)
            fail();
        return stmt;
    }

    bool hasMoreStatements(const char* tail, std::string_view sql) const
    {
        if (!tail)
            return false;
        const char* const stop = sql.data() + sql.size();
        if (tail >= stop)
            return false;
        const char* next = nullptr;
        const StmtPtr more = prepare(std::string_view(tail, static_cast<std::size_t>(stop - tail)), &next);
        return more != nullptr;
    }

    void bind(sqlite3_stmt* stmt, std::span<const Param> params) const
    {
        for (std::size_t i = 0; i < params.size(); ++i) {
            const Param& p = params[i];
            const int index = static_cast<int>(i) + 1;
            const std::string& bytes = p.value.bytes;
            const char* first = bytes.data();
            const char* last = first + bytes.size();
            int rc = SQLITE_OK;
            switch (p.value.kind) {
            case ValueKind::Null: rc = sqlite3_bind_null(stmt, index); break;
            case ValueKind::Integer: {
                sqlite3_int64 v = 0;
                const auto r = std::from_chars(first, last, v);
                if (r.ec == std::errc() && r.ptr == last)
                    rc = sqlite3_bind_int64(stmt, index, v);
                else // not a 64-bit integer: let SQLite's affinity decide from the text
                    rc = sqlite3_bind_text64(stmt, index, first, bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
                break;
            }
            case ValueKind::Real: {
                double v = 0;
                const auto r = std::from_chars(first, last, v);
                if (r.ec == std::errc() && r.ptr == last)
                    rc = sqlite3_bind_double(stmt, index, v);
                else
                    rc = sqlite3_bind_text64(stmt, index, first, bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
                break;
            }
            case ValueKind::Text:
                rc = sqlite3_bind_text64(stmt, index, first, bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
                break;
            case ValueKind::Blob:
                rc = sqlite3_bind_blob64(stmt, index, first, bytes.size(), SQLITE_TRANSIENT);
                break;
            }
            if (rc != SQLITE_OK)
                fail();
        }
    }

    DbPtr db_;
    std::unique_ptr<Dialect> dialect_;
};

} // namespace

bool SqliteHasReturning() { return sqlite3_libversion_number() >= 3035000; }

std::unique_ptr<Session> OpenSqliteSession(const LoginParts& login)
{
    std::string path = login.dataSource;
    const std::string_view scheme = "sqlite:";
    if (path.size() >= scheme.size() && upper(path.substr(0, scheme.size())) == "SQLITE:")
        path.erase(0, scheme.size());
    if (path.empty())
        throw DbError(DbError::kBadConnectionString, "no SQLite database file is named after \"sqlite:\"");
    // Only a file on disk: never an in-memory or temporary database, never a URI
    // (whatever SQLite was built with), so a typo can only fail.
    if (path == ":memory:" || path.rfind("file:", 0) == 0)
        path.insert(0, "./");

    // SQLite's count of its memory in use takes one lock for the whole
    // program on every allocation: sessions reading on two threads at once
    // (a filter's count beside its first rows, each lower-casing every row)
    // then take turns, four times slower. Nothing here reads that count. It
    // can be turned off only before SQLite starts, so before the first open.
    static const bool uncounted = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)uncounted;
    // A session is used from one thread only, so SQLite's own locking of each
    // call is left out: it costs a third of the time of reading a table.
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    DbPtr db(raw);
    if (!db)
        throw DbError(SQLITE_NOMEM, "out of memory opening " + path);
    if (rc != SQLITE_OK)
        throw DbError(sqlite3_extended_errcode(db.get()),
                      std::string(sqlite3_errmsg(db.get())) + ": " + path);
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    // SQLite checks foreign keys only on connections that ask for it; a
    // write must be refused here exactly as the other databases refuse it.
    int foreignKeys = 0;
    if (sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_FKEY, 1, &foreignKeys) != SQLITE_OK || !foreignKeys)
        throw DbError(sqlite3_extended_errcode(db.get()), "foreign key checking could not be turned on: " + path);
    // A name in double quotes is a name, never a text: otherwise a column
    // dropped meanwhile would be read as its own name, and compared as one.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);

    // Opening is lazy; read the schema now so that a file that is no database
    // fails here rather than at the first query.
    char* message = nullptr;
    if (sqlite3_exec(db.get(), "select count(*) from sqlite_schema", nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db.get());
        sqlite3_free(message);
        throw DbError(sqlite3_extended_errcode(db.get()), text + ": " + path);
    }
    return std::make_unique<SqliteSession>(std::move(db));
}
