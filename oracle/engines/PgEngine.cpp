// The PostgreSQL engine: libpq directly.
//
// Values travel as the server's own text (bytes for bytea), with the session
// set up so that this text is exact and stable: UTF-8, ISO dates, floats in
// their shortest exact form, bytea in hex. Parameters go as text with the
// type left to the server (or the column's own type when the caller knows
// it), so a value read and bound back compares equal to itself.
//
// A query without parameters is read with COPY (query) TO STDOUT after a
// describe for the column types: it streams, so the client holds only the
// snapshot and not a second copy of the result, and it is several times
// faster than fetching row by row.

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/Engine.h"
#include "oracle/engines/CheckLists.h"
#include "oracle/engines/PgCopyText.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ConnCloser {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
    void operator()(PGresult* r) const { PQclear(r); }
};
using ConnPtr = std::unique_ptr<PGconn, ConnCloser>;
using ResultPtr = std::unique_ptr<PGresult, ResultClearer>;

// Built-in type oids (pg_type.dat); they never change.
enum : Oid {
    kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25,
    kJson = 114, kXml = 142, kPoint = 600, kLseg = 601, kPath = 602, kBox = 603, kPolygon = 604, kLine = 628,
    kFloat4 = 700, kFloat8 = 701, kCircle = 718, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083,
    kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700,
};

std::string trimmed(std::string s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    return s;
}

// The SQLSTATE as a number when it is all digits, otherwise the generic code.
long sqlstateNumber(const char* state)
{
    if (!state || !*state)
        return DbError::kGeneric;
    long n = 0;
    const char* end = state + std::strlen(state);
    const auto r = std::from_chars(state, end, n);
    return r.ec == std::errc() && r.ptr == end ? n : DbError::kGeneric;
}

DbError resultError(PGconn* conn, const PGresult* result)
{
    if (!result)
        return DbError(DbError::kGeneric, trimmed(PQerrorMessage(conn)));
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    std::string text = primary ? primary : trimmed(PQresultErrorMessage(result));
    if (text.empty())
        text = trimmed(PQerrorMessage(conn));
    if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL))
        text += std::string("\n") + detail;
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return DbError(sqlstateNumber(state), text, state ? state : "");
}

bool selectLike(std::string_view sql)
{
    std::size_t i = 0;
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
        ++i;
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i++])));
    return word == "select" || word == "with" || word == "values" || word == "table";
}

// The query text without trailing blanks and semicolons, so it can be wrapped.
std::string_view withoutTerminator(std::string_view sql)
{
    while (!sql.empty() && (std::isspace(static_cast<unsigned char>(sql.back())) || sql.back() == ';'))
        sql.remove_suffix(1);
    return sql;
}

// A statement with its parameters as libpq takes them: text, with the type
// left to the server (or the column's own), bytes for bytea.
struct Bound {
    Bound(std::string_view sql, std::span<const Param> params)
        : text(sql), types(params.size()), values(params.size()), lengths(params.size()), formats(params.size())
    {
        for (std::size_t i = 0; i < params.size(); ++i) {
            const Param& p = params[i];
            values[i] = p.value.isNull() ? nullptr : p.value.bytes.c_str();
            lengths[i] = static_cast<int>(p.value.bytes.size());
            if (p.value.kind == ValueKind::Blob) {
                types[i] = kBytea;
                formats[i] = 1; // the bytes as they are
            } else {
                // Sent as a C string, the text would end at the NUL unseen.
                if (!p.value.isNull() && p.value.bytes.find('\0') != std::string::npos)
                    throw DbError(DbError::kGeneric, Session::kNulInText);
                types[i] = static_cast<Oid>(p.nativeType > 0 ? p.nativeType : 0);
            }
        }
    }
    int count() const { return static_cast<int>(values.size()); }

    std::string text;
    std::vector<Oid> types;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
};

// The rows a statement affected, from its successful result.
long long affectedRows(PGresult* result)
{
    const char* affected = PQcmdTuples(result);
    long long n = 0;
    std::from_chars(affected, affected + std::strlen(affected), n);
    return n;
}

class PgSession final : public Session {
public:
    explicit PgSession(ConnPtr conn)
        : conn_(std::move(conn)), cancel_(PQgetCancel(conn_.get()), &PQfreeCancel),
          dialect_(MakeDialect(DialectKind::PostgreSQL))
    {
    }

    const Dialect& dialect() const override { return *dialect_; }
    Placeholders placeholders() const override { return Placeholders::Dollar; }
    bool broken() const override { return PQstatus(conn()) == CONNECTION_BAD; }

    // A cancel request goes over a link of its own, so it may come from any
    // thread while the session's own thread waits for its statement.
    void interrupt() noexcept override
    {
        if (!cancel_)
            return;
        char message[256];
        PQcancel(cancel_.get(), message, sizeof message);
    }

    void query(std::string_view sql, std::span<const Param> params, RowSink& sink) override
    {
        if (!params.empty() || !selectLike(sql)) {
            queryByResult(sql, params, sink);
            return;
        }
        sendPendingBegin();
        // The describe also refuses a text of several statements.
        const std::string text(withoutTerminator(sql));
        ResultPtr prepared(PQprepare(conn(), "", text.c_str(), 0, nullptr));
        check(prepared.get(), PGRES_COMMAND_OK);
        ResultPtr described(PQdescribePrepared(conn(), ""));
        check(described.get(), PGRES_COMMAND_OK);
        std::vector<ColumnInfo> columns = describe(described.get());
        queryByCopy(text, columns, sink);
    }

    void queryLarge(std::string_view sql, std::span<const Param> params, RowSink& sink) override
    {
        // Without parameters COPY streams; with them a result would come
        // whole, so it comes through a cursor, a part at a time.
        if (params.empty() || !selectLike(sql)) {
            query(sql, params, sink);
            return;
        }
        sendPendingBegin();
        const bool ownTransaction = PQtransactionStatus(conn()) == PQTRANS_IDLE;
        if (ownTransaction)
            command("begin");
        try {
            const std::string declare =
                "declare dervanta_part no scroll cursor for " + std::string(withoutTerminator(sql));
            ResultPtr declared = execParams(declare, params);
            check(declared.get(), PGRES_COMMAND_OK);
            constexpr int kPart = 20000;
            const std::string fetch = "fetch forward " + std::to_string(kPart) + " from dervanta_part";
            for (bool first = true;; first = false) {
                ResultPtr part(PQexec(conn(), fetch.c_str()));
                check(part.get(), PGRES_TUPLES_OK);
                if (first)
                    sink.begin(describe(part.get()));
                emitCells(part.get(), sink);
                if (PQntuples(part.get()) < kPart)
                    break;
            }
            sink.end();
            command("close dervanta_part");
            if (ownTransaction)
                command("commit");
        } catch (...) {
            // Inside the caller's transaction the cursor goes, so that the
            // next such read can declare it again.
            if (!broken())
                PQclear(PQexec(conn(), ownTransaction ? "rollback" : "close dervanta_part"));
            throw;
        }
    }

    long long execute(std::string_view sql, std::span<const Param> params) override
    {
        ResultPtr result;
        if (params.empty()) {
            // The simple protocol: a text of several statements runs as a whole.
            sendPendingBegin();
            const std::string text(sql);
            result.reset(PQexec(conn(), text.c_str()));
        } else {
            result = execParams(sql, params);
        }
        checkDone(result.get());
        return affectedRows(result.get());
    }

    long long executeThenQuery(std::string_view sql, std::span<const Param> params, std::string_view then,
                               std::span<const Param> thenParams, RowSink& sink) override
    {
        const Bound statement(sql, params), query(then, thenParams);
        std::vector<ResultPtr> results = pipelined({&statement, &query});
        checkDone(results[0].get());
        const long long affected = affectedRows(results[0].get());
        if (affected == 1) {
            check(results[1].get(), PGRES_TUPLES_OK);
            emitRows(results[1].get(), sink);
        }
        return affected;
    }

    // BEGIN waits to go out with the transaction's first statement, in the
    // same round trip: a row written is then two round trips, BEGIN, UPDATE
    // and the row read again, then COMMIT.
    void begin() override { beginPending_ = true; }

    void commit() override
    {
        if (std::exchange(beginPending_, false))
            return; // nothing ran: nothing to commit
        ResultPtr result(PQexec(conn(), "commit"));
        check(result.get(), PGRES_COMMAND_OK);
        // COMMIT of a transaction that a failed statement aborted rolls back
        // without an error; that is no success.
        if (std::strcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0)
            throw DbError(DbError::kGeneric, "the transaction was rolled back because a statement in it failed");
    }

    void rollback() override
    {
        if (std::exchange(beginPending_, false))
            return;
        execute("rollback", {});
    }

    std::vector<std::string> primaryKey(std::string_view table) override
    {
        static constexpr const char* sql =
            "select a.attname from pg_catalog.pg_index i"
            " join pg_catalog.pg_class c on c.oid = i.indrelid"
            " join pg_catalog.pg_attribute a on a.attrelid = c.oid and a.attnum = any (i.indkey)"
            " where i.indisprimary and c.relname = $1"
            " and c.relnamespace = (select oid from pg_catalog.pg_namespace where nspname = current_schema())"
            " order by array_position(i.indkey::int2[], a.attnum)";
        const Param name{ValueKind::Text, std::string(table)};
        ResultPtr result = execParams(sql, std::span<const Param>(&name, 1));
        check(result.get(), PGRES_TUPLES_OK);
        std::vector<std::string> key;
        for (int r = 0; r < PQntuples(result.get()); ++r)
            key.emplace_back(PQgetvalue(result.get(), r, 0),
                             static_cast<std::size_t>(PQgetlength(result.get(), r, 0)));
        return key;
    }

    // Identity columns and serials (a default taken from a sequence) are
    // filled by the database.
    std::vector<ColumnDetails> columnDetails(std::string_view table) override
    {
        static constexpr const char* sql =
            "select a.attname, a.attnotnull, pg_catalog.pg_get_expr(d.adbin, d.adrelid), a.attidentity <> '',"
            " pg_catalog.col_description(a.attrelid, a.attnum),"
            " case when a.atttypid in (1042, 1043) and a.atttypmod > 4 then a.atttypmod - 4 end"
            " from pg_catalog.pg_attribute a"
            " left join pg_catalog.pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum"
            " where a.attrelid = (select c.oid from pg_catalog.pg_class c where c.relname = $1"
            " and c.relnamespace = (select oid from pg_catalog.pg_namespace where nspname = current_schema()))"
            " and a.attnum > 0 and not a.attisdropped order by a.attnum";
        const Param name{ValueKind::Text, std::string(table)};
        ResultPtr result = execParams(sql, std::span<const Param>(&name, 1));
        check(result.get(), PGRES_TUPLES_OK);
        std::vector<ColumnDetails> details;
        for (int r = 0; r < PQntuples(result.get()); ++r) {
            ColumnDetails d;
            d.name = PQgetvalue(result.get(), r, 0);
            d.notNull = std::string_view(PQgetvalue(result.get(), r, 1)) == "t";
            if (!PQgetisnull(result.get(), r, 2))
                d.defaultText = PQgetvalue(result.get(), r, 2);
            d.filledByDatabase = std::string_view(PQgetvalue(result.get(), r, 3)) == "t"
                                 || (d.defaultText && d.defaultText->rfind("nextval(", 0) == 0);
            if (!PQgetisnull(result.get(), r, 4))
                d.comment = PQgetvalue(result.get(), r, 4);
            if (!PQgetisnull(result.get(), r, 5))
                d.maxLength = std::atoi(PQgetvalue(result.get(), r, 5));
            details.push_back(std::move(d));
        }
        addChoicesAndReferences(table, details);
        return details;
    }

    // Enum labels in their order, the plain IN lists of one-column CHECKs,
    // and one-column foreign keys to a table of the same schema.
    void addChoicesAndReferences(std::string_view table, std::vector<ColumnDetails>& details)
    {
        static constexpr const char* sql =
            "with t as (select c.oid from pg_catalog.pg_class c where c.relname = $1"
            " and c.relnamespace = (select oid from pg_catalog.pg_namespace where nspname = current_schema()))"
            " (select 'e', a.attname::text, e.enumlabel::text, null::text from pg_catalog.pg_attribute a"
            " join pg_catalog.pg_enum e on e.enumtypid = a.atttypid"
            " where a.attrelid = (select oid from t) and a.attnum > 0 and not a.attisdropped"
            " order by a.attnum, e.enumsortorder)"
            " union all (select 'c', a.attname, pg_catalog.pg_get_constraintdef(k.oid), null"
            " from pg_catalog.pg_constraint k join pg_catalog.pg_attribute a"
            " on a.attrelid = k.conrelid and a.attnum = k.conkey[1]"
            " where k.conrelid = (select oid from t) and k.contype = 'c' and cardinality(k.conkey) = 1"
            " order by k.conname)"
            " union all select 'f', a.attname, r.relname, ra.attname from pg_catalog.pg_constraint k"
            " join pg_catalog.pg_attribute a on a.attrelid = k.conrelid and a.attnum = k.conkey[1]"
            " join pg_catalog.pg_class r on r.oid = k.confrelid"
            " join pg_catalog.pg_attribute ra on ra.attrelid = k.confrelid and ra.attnum = k.confkey[1]"
            " where k.conrelid = (select oid from t) and k.contype = 'f' and cardinality(k.conkey) = 1"
            " and r.relnamespace = (select oid from pg_catalog.pg_namespace where nspname = current_schema())";
        const Param name{ValueKind::Text, std::string(table)};
        ResultPtr result = execParams(sql, std::span<const Param>(&name, 1));
        check(result.get(), PGRES_TUPLES_OK);
        // Each part's rows come in their order (an enum's labels as the type sorts them).
        for (int r = 0; r < PQntuples(result.get()); ++r) {
            const std::string_view kind = PQgetvalue(result.get(), r, 0);
            const std::string column = PQgetvalue(result.get(), r, 1);
            const auto d = std::find_if(details.begin(), details.end(),
                                        [&column](const ColumnDetails& c) { return c.name == column; });
            if (d == details.end())
                continue;
            const std::string value = PQgetvalue(result.get(), r, 2);
            if (kind == "e") {
                d->choices.push_back(value);
            } else if (kind == "c") {
                if (d->choices.empty())
                    d->choices = PgCheckList(value, column);
            } else if (!d->references) {
                d->references = ColumnDetails::Reference{value, PQgetvalue(result.get(), r, 3)};
            }
        }
    }

    // The read is one statement with a snapshot of its own: a write by
    // another session neither waits for it nor shows in it.
    bool othersCanWriteWhileRead(std::string_view) override { return true; }

    // The planner's row count of the table, kept by VACUUM and ANALYZE;
    // nothing for a table never counted.
    std::optional<long long> estimatedRows(std::string_view table) override
    {
        static constexpr const char* sql =
            "select c.reltuples::bigint from pg_catalog.pg_class c where c.relname = $1"
            " and c.relnamespace = (select oid from pg_catalog.pg_namespace where nspname = current_schema())";
        const Param name{ValueKind::Text, std::string(table)};
        ResultPtr result = execParams(sql, std::span<const Param>(&name, 1));
        check(result.get(), PGRES_TUPLES_OK);
        if (PQntuples(result.get()) != 1)
            return std::nullopt;
        long long n = -1;
        const char* v = PQgetvalue(result.get(), 0, 0);
        std::from_chars(v, v + std::strlen(v), n);
        return n >= 0 ? std::optional<long long>(n) : std::nullopt;
    }

    // Runs the session settings that make the server's text exact and stable.
    void setUp()
    {
        ResultPtr result(PQexec(conn(), "set datestyle = 'ISO, YMD'; set intervalstyle = 'postgres';"
                                         " set extra_float_digits = 1; set bytea_output = 'hex'"));
        check(result.get(), PGRES_COMMAND_OK);
    }

private:
    PGconn* conn() const { return conn_.get(); }

    void check(const PGresult* result, ExecStatusType wanted) const
    {
        if (!result || PQresultStatus(result) != wanted)
            throw resultError(conn(), result);
    }

    // A statement's result that is no error.
    void checkDone(const PGresult* result) const
    {
        const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw resultError(conn(), result);
    }

    void sendPendingBegin()
    {
        if (!std::exchange(beginPending_, false))
            return;
        ResultPtr result(PQexec(conn(), "begin"));
        check(result.get(), PGRES_COMMAND_OK);
    }

    ResultPtr execParams(std::string_view sql, std::span<const Param> params)
    {
        const Bound b(sql, params);
        if (beginPending_)
            return std::move(pipelined({&b}).front());
        return ResultPtr(PQexecParams(conn(), b.text.c_str(), b.count(), b.types.data(), b.values.data(),
                                      b.lengths.data(), b.formats.data(), 0));
    }

    // The statements sent at once, after a pending BEGIN (libpq's pipeline
    // mode), and their results in order. A BEGIN that failed throws; after
    // a statement that failed the server skips the rest (their results say
    // so).
    std::vector<ResultPtr> pipelined(std::initializer_list<const Bound*> statements)
    {
        PGconn* c = conn();
        const bool withBegin = std::exchange(beginPending_, false);
        if (PQenterPipelineMode(c) != 1)
            throw DbError(DbError::kGeneric, trimmed(PQerrorMessage(c)));
        bool sent = !withBegin || PQsendQueryParams(c, "begin", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
        for (const Bound* b : statements) {
            if (!sent)
                break;
            sent = PQsendQueryParams(c, b->text.c_str(), b->count(), b->types.data(), b->values.data(),
                                     b->lengths.data(), b->formats.data(), 0) == 1;
        }
        // One sync for all: the server answers them in one go.
        sent = sent && PQpipelineSync(c) == 1;
        ResultPtr began;
        std::vector<ResultPtr> results;
        if (sent) {
            if (withBegin)
                began = nextResult();
            for (std::size_t i = 0; i < statements.size(); ++i)
                results.push_back(nextResult());
            // The sync's own result ends the pipeline.
            while (ResultPtr r{PQgetResult(c)}) {
                if (PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC)
                    break;
            }
        }
        const std::string failure = trimmed(PQerrorMessage(c));
        // Fails only with results left unread, after a link that broke.
        const bool left = PQexitPipelineMode(c) == 1;
        if (!sent || !left)
            throw DbError(DbError::kGeneric, failure);
        if (withBegin)
            check(began.get(), PGRES_COMMAND_OK);
        return results;
    }

    // One statement's result in a pipeline, and the end of its results.
    ResultPtr nextResult()
    {
        ResultPtr result(PQgetResult(conn()));
        if (result)
            while (ResultPtr more{PQgetResult(conn())}) {
            }
        return result;
    }

    std::vector<ColumnInfo> describe(const PGresult* result)
    {
        const int n = PQnfields(result);
        std::vector<ColumnInfo> columns(static_cast<std::size_t>(n));
        std::vector<std::pair<Oid, int>> unknown;
        for (int c = 0; c < n; ++c) {
            ColumnInfo& info = columns[static_cast<std::size_t>(c)];
            info.name = PQfname(result, c);
            const Oid oid = PQftype(result, c);
            info.nativeType = static_cast<int>(oid);
            switch (oid) {
            case kInt2: case kInt4: case kInt8: info.type = ColumnType::Integer; break;
            case kNumeric: info.type = ColumnType::Decimal; break;
            case kFloat4: case kFloat8: info.type = ColumnType::Real; break;
            case kBool: info.type = ColumnType::Boolean; break;
            case kDate: info.type = ColumnType::Date; break;
            case kTime: info.type = ColumnType::Time; break;
            case kTimestamp: info.type = ColumnType::Timestamp; break;
            case kTimestampTz: info.type = ColumnType::TimestampTz; break;
            case kText: case kVarchar: case kBpchar: case kName: case kChar: info.type = ColumnType::Text; break;
            case kBytea:
                info.type = ColumnType::Binary;
                info.readOnly = true;
                info.comparable = false;
                break;
            // Types without an equality operator cannot stand in a WHERE.
            case kJson: case kXml: case kPoint: case kLseg: case kPath: case kBox: case kPolygon: case kLine:
            case kCircle:
                info.type = ColumnType::Other;
                info.comparable = false;
                break;
            default: info.type = ColumnType::Other; break;
            }
            const std::pair<Oid, int> key{oid, PQfmod(result, c)};
            if (!typeNames_.contains(key) && std::find(unknown.begin(), unknown.end(), key) == unknown.end())
                unknown.push_back(key);
        }
        if (!unknown.empty())
            lookUpTypeNames(unknown);
        for (int c = 0; c < n; ++c)
            columns[static_cast<std::size_t>(c)].typeName = typeNames_[{PQftype(result, c), PQfmod(result, c)}];
        return columns;
    }

    // The server's own names of the types ("character varying(20)"), asked once per session.
    void lookUpTypeNames(const std::vector<std::pair<Oid, int>>& keys)
    {
        std::string oids = "{", mods = "{";
        for (std::size_t i = 0; i < keys.size(); ++i) {
            oids += (i ? "," : "") + std::to_string(keys[i].first);
            mods += (i ? "," : "") + std::to_string(keys[i].second);
        }
        oids += '}';
        mods += '}';
        const Param params[] = {{ValueKind::Text, oids}, {ValueKind::Text, mods}};
        ResultPtr result = execParams("select pg_catalog.format_type(o, nullif(m, -1))"
                                      " from unnest($1::oid[], $2::int[]) with ordinality as u(o, m, n) order by n",
                                      params);
        check(result.get(), PGRES_TUPLES_OK);
        for (std::size_t i = 0; i < keys.size() && static_cast<int>(i) < PQntuples(result.get()); ++i)
            typeNames_[keys[i]] = PQgetvalue(result.get(), static_cast<int>(i), 0);
    }

    void queryByResult(std::string_view sql, std::span<const Param> params, RowSink& sink)
    {
        ResultPtr result = execParams(sql, params);
        check(result.get(), PGRES_TUPLES_OK);
        emitRows(result.get(), sink);
    }

    void emitRows(const PGresult* r, RowSink& sink)
    {
        sink.begin(describe(r));
        emitCells(r, sink);
        sink.end();
    }

    void emitCells(const PGresult* r, RowSink& sink)
    {
        std::string bytes;
        const int rows = PQntuples(r);
        const int n = PQnfields(r);
        for (int row = 0; row < rows; ++row) {
            for (int c = 0; c < n; ++c) {
                if (PQgetisnull(r, row, c)) {
                    sink.cell(ValueKind::Null, nullptr, 0);
                    continue;
                }
                const std::string_view text(PQgetvalue(r, row, c), static_cast<std::size_t>(PQgetlength(r, row, c)));
                if (PQftype(r, c) == kBytea) {
                    if (!pg::decodeByteaHex(text, bytes))
                        throw DbError(DbError::kGeneric, "unexpected bytea text from the server");
                    sink.cell(ValueKind::Blob, bytes.data(), bytes.size());
                } else {
                    sink.cell(ValueKind::Text, text.data(), text.size());
                }
            }
            sink.endRow();
        }
    }

    void command(const char* sql)
    {
        ResultPtr result(PQexec(conn(), sql));
        check(result.get(), PGRES_COMMAND_OK);
    }

    void queryByCopy(const std::string& sql, const std::vector<ColumnInfo>& columns, RowSink& sink)
    {
        // The newline ends a line comment at the end of the query.
        const std::string copy = "copy (" + sql + "\n) to stdout";
        ResultPtr started(PQexec(conn(), copy.c_str()));
        check(started.get(), PGRES_COPY_OUT);
        started.reset();

        sink.begin(columns);
        std::vector<char> binary(columns.size());
        for (std::size_t c = 0; c < columns.size(); ++c)
            binary[c] = columns[c].nativeType == static_cast<int>(kBytea);
        try {
            readCopyRows(columns.size(), binary, sink);
        } catch (...) {
            abandonCopy();
            throw;
        }
        ResultPtr done(PQgetResult(conn()));
        check(done.get(), PGRES_COMMAND_OK);
        while (ResultPtr more{PQgetResult(conn())}) {
        }
        sink.end();
    }

    void readCopyRows(std::size_t columnCount, const std::vector<char>& binary, RowSink& sink)
    {
        std::string scratch, bytes;
        for (;;) {
            char* raw = nullptr;
            const int size = PQgetCopyData(conn(), &raw, 0);
            if (size == -1)
                return; // all rows read; the final result follows
            if (size < 0)
                throw DbError(DbError::kGeneric, trimmed(PQerrorMessage(conn())));
            const std::unique_ptr<char, decltype(&PQfreemem)> line(raw, &PQfreemem);
            const char* p = raw;
            const char* end = raw + size;
            if (end > p && end[-1] == '\n')
                --end;
            std::size_t column = 0;
            if (columnCount) {
                for (;;) {
                    const char* tab = static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
                    const char* stop = tab ? tab : end;
                    if (column == columnCount)
                        throw DbError(DbError::kGeneric, "the server sent more columns than it described");
                    emitCopyField(std::string_view(p, static_cast<std::size_t>(stop - p)), binary[column], sink,
                                  scratch, bytes);
                    ++column;
                    if (!tab)
                        break;
                    p = tab + 1;
                }
            }
            if (column != columnCount)
                throw DbError(DbError::kGeneric, "the server sent fewer columns than it described");
            sink.endRow();
        }
    }

    static void emitCopyField(std::string_view field, bool binary, RowSink& sink, std::string& scratch,
                              std::string& bytes)
    {
        if (field.size() == 2 && field[0] == '\\' && field[1] == 'N') {
            sink.cell(ValueKind::Null, nullptr, 0);
            return;
        }
        std::string_view text = field;
        if (std::memchr(field.data(), '\\', field.size())) {
            pg::unescapeCopyField(field, scratch);
            text = scratch;
        }
        if (binary) {
            if (!pg::decodeByteaHex(text, bytes))
                throw DbError(DbError::kGeneric, "unexpected bytea text from the server");
            sink.cell(ValueKind::Blob, bytes.data(), bytes.size());
        } else {
            sink.cell(ValueKind::Text, text.data(), text.size());
        }
    }

    // Stops a COPY that the reader gave up on, so the connection stays usable.
    void abandonCopy() noexcept
    {
        if (PGcancel* cancel = PQgetCancel(conn())) {
            char message[256];
            PQcancel(cancel, message, sizeof message);
            PQfreeCancel(cancel);
        }
        char* raw = nullptr;
        int size;
        while ((size = PQgetCopyData(conn(), &raw, 0)) >= 0)
            PQfreemem(raw);
        while (ResultPtr more{PQgetResult(conn())}) {
        }
    }

    ConnPtr conn_;
    std::unique_ptr<PGcancel, decltype(&PQfreeCancel)> cancel_{nullptr, &PQfreeCancel};
    std::unique_ptr<Dialect> dialect_;
    std::map<std::pair<Oid, int>, std::string> typeNames_;
    bool beginPending_ = false;
};

// Percent-decoding of one part of the address.
std::optional<std::string> percentDecoded(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size())
            return std::nullopt;
        const int hi = pg::hexValue(s[i + 1]), lo = pg::hexValue(s[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return out;
}

struct PgAddress {
    std::string host;
    std::string port;
    std::string dbname;
};

// postgresql://HOST[:PORT]/DBNAME (also postgres://); HOST may be an IPv6
// address in brackets. The login travels in its own fields, never here.
PgAddress parseAddress(const std::string& source)
{
    const auto bad = [&source](const std::string& why) {
        return DbError(DbError::kBadConnectionString,
                       "not a PostgreSQL address of the form postgresql://HOST[:PORT]/DBNAME (" + why + "): " + source);
    };
    const std::size_t schemeEnd = source.find("://");
    if (schemeEnd == std::string::npos)
        throw bad("no \"://\"");
    std::string_view rest = std::string_view(source).substr(schemeEnd + 3);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        throw bad("no database name");
    std::string_view authority = rest.substr(0, slash);
    const std::string_view path = rest.substr(slash + 1);
    if (authority.find('@') != std::string_view::npos)
        throw bad("user and password belong in their own fields");
    if (path.find_first_of("?#") != std::string_view::npos)
        throw bad("no options are taken");

    PgAddress address;
    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            throw bad("unclosed '['");
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                throw bad("text after the host");
            port = after.substr(1);
        }
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    const auto decodedHost = percentDecoded(host);
    const auto decodedDb = percentDecoded(path);
    if (!decodedHost || !decodedDb)
        throw bad("bad percent escape");
    address.host = *decodedHost;
    address.dbname = *decodedDb;
    if (address.host.empty())
        throw bad("no host");
    if (address.dbname.empty())
        throw bad("no database name");
    if (!port.empty()) {
        int n = 0;
        const auto r = std::from_chars(port.data(), port.data() + port.size(), n);
        if (r.ec != std::errc() || r.ptr != port.data() + port.size() || n < 1 || n > 65535)
            throw bad("bad port");
        address.port = std::to_string(n);
    }
    return address;
}

void ignoreNotice(void*, const char*) {}

} // namespace

std::unique_ptr<Session> OpenPgSession(const LoginParts& login);

std::unique_ptr<Session> OpenPgSession(const LoginParts& login)
{
    const PgAddress address = parseAddress(login.dataSource);
    // Each value in its own keyword: nothing typed can add a keyword.
    // Keepalives find a link that broke while the session waits for the
    // server; a login that gets no answer gives up after the timeout.
    const std::string timeout = std::to_string(LoginTimeoutSeconds());
    std::vector<const char*> keys{"host", "dbname", "user", "password", "application_name", "client_encoding",
                                  "connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                                  "keepalives_count"};
    std::vector<const char*> values{address.host.c_str(), address.dbname.c_str(), login.user.c_str(),
                                    login.password.c_str(), "Dervanta", "UTF8", timeout.c_str(), "1", "30", "10", "3"};
    if (!address.port.empty()) {
        keys.push_back("port");
        values.push_back(address.port.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);

    ConnPtr conn(PQconnectdbParams(keys.data(), values.data(), 0));
    if (!conn)
        throw DbError(DbError::kGeneric, "out of memory connecting to PostgreSQL");
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw DbError(DbError::kGeneric, trimmed(PQerrorMessage(conn.get())));
    PQsetNoticeProcessor(conn.get(), &ignoreNotice, nullptr);
    auto session = std::make_unique<PgSession>(std::move(conn));
    session->setUp();
    return session;
}
