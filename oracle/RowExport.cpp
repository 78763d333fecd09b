#include "oracle/RowExport.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace {

void csvField(std::string& out, std::string_view v, bool quoteEmpty)
{
    const bool quote = (v.empty() && quoteEmpty) || v.find_first_of(",\"\r\n") != std::string_view::npos;
    if (!quote) {
        out += v;
        return;
    }
    out += '"';
    for (const char c : v) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void tsvField(std::string& out, std::string_view v)
{
    for (const char c : v) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += c; break;
        }
    }
}

// A JSON string: UTF-8 as it is; what is no UTF-8 becomes U+FFFD (JSON holds text only).
void jsonString(std::string& out, std::string_view v)
{
    const QByteArray valid = QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size())).toUtf8();
    out += '"';
    for (const char ch : valid) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

// Whether a text is a number as JSON writes one (no "+", no leading zeros, no NaN).
bool isJsonNumber(std::string_view v)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9')
            ++i;
        return i - from;
    };
    if (i < v.size() && v[i] == '-')
        ++i;
    const std::size_t start = i;
    const std::size_t whole = digits();
    if (whole == 0 || (whole > 1 && v[start] == '0'))
        return false;
    if (i < v.size() && v[i] == '.') {
        ++i;
        if (digits() == 0)
            return false;
    }
    if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
        ++i;
        if (i < v.size() && (v[i] == '+' || v[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == v.size();
}

std::string base64(std::string_view v)
{
    return QByteArray(v.data(), static_cast<qsizetype>(v.size())).toBase64().toStdString();
}

bool isNumberColumn(ColumnType t) { return t == ColumnType::Integer || t == ColumnType::Decimal || t == ColumnType::Real; }

// Whether a text is a number as SQL writes one unquoted: digits, at most one
// point, an exponent with its sign.
bool isSqlNumber(std::string_view v)
{
    std::size_t i = 0;
    if (i < v.size() && (v[i] == '-' || v[i] == '+'))
        ++i;
    std::size_t digits = 0;
    bool point = false;
    for (; i < v.size(); ++i) {
        if (v[i] >= '0' && v[i] <= '9')
            ++digits;
        else if (v[i] == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0)
        return false;
    if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
        ++i;
        if (i < v.size() && (v[i] == '+' || v[i] == '-'))
            ++i;
        const std::size_t from = i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9')
            ++i;
        if (i == from)
            return false;
    }
    return i == v.size();
}

void sqlText(std::string& out, std::string_view v)
{
    out += '\'';
    for (const char c : v) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    out += '\'';
}

std::string hex(std::string_view v)
{
    return QByteArray(v.data(), static_cast<qsizetype>(v.size())).toHex().toUpper().toStdString();
}

void sqlBytes(std::string& out, std::string_view v, DialectKind database)
{
    switch (database) {
    case DialectKind::PostgreSQL: out += "'\\x" + hex(v) + "'::bytea"; return;
    case DialectKind::Oracle: out += "HEXTORAW('" + hex(v) + "')"; return;
    case DialectKind::SQLite:
    case DialectKind::Generic: out += "X'" + hex(v) + "'"; return;
    }
}

// A value as a literal of the database's SQL.
void sqlValue(std::string& out, const ColumnInfo& info, ValueKind kind, std::string_view bytes, DialectKind database)
{
    if (kind == ValueKind::Null) {
        out += "NULL";
        return;
    }
    if (kind == ValueKind::Blob || info.type == ColumnType::Binary) {
        sqlBytes(out, bytes, database);
        return;
    }
    // SQLite keeps each value's own kind: only numbers stored as numbers go
    // unquoted (a text stays a text, and the column's affinity treats it as
    // it did when first stored). Elsewhere a number column's numbers do.
    const bool number = database == DialectKind::SQLite ? kind == ValueKind::Integer || kind == ValueKind::Real
                                                        : isNumberColumn(info.type);
    if (number && isSqlNumber(bytes)) {
        out += bytes;
        return;
    }
    if (database == DialectKind::SQLite && kind == ValueKind::Real && (bytes == "inf" || bytes == "-inf")) {
        out += bytes == "inf" ? "9e999" : "-9e999"; // what SQLite reads as infinity
        return;
    }
    // A SQLite text may hold NUL, which a literal would cut short.
    if (database == DialectKind::SQLite && bytes.find('\0') != std::string_view::npos) {
        out += "CAST(X'" + hex(bytes) + "' AS TEXT)";
        return;
    }
    sqlText(out, bytes);
}

} // namespace

RowExport::RowExport(Format format, std::vector<ColumnInfo> columns) : format_(format), columns_(std::move(columns)) {}

void RowExport::setTable(const std::string& table, DialectKind database)
{
    database_ = database;
    const std::unique_ptr<Dialect> dialect = MakeDialect(database);
    insertInto_ = "INSERT INTO " + dialect->quote(table) + " (";
    for (std::size_t c = 0; c < columns_.size(); ++c)
        insertInto_ += (c > 0 ? ", " : "") + dialect->quote(columns_[c].name);
    insertInto_ += ") VALUES (";
}

void RowExport::begin(std::string& out) const
{
    if (format_ == Format::Sql) {
        // One transaction: all the rows or none, and SQLite writes them at once.
        out += "BEGIN;\n";
        return;
    }
    if (format_ == Format::Json) {
        out += '[';
        return;
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (c > 0)
            out += format_ == Format::Csv ? ',' : '\t';
        if (format_ == Format::Csv)
            csvField(out, columns_[c].name, false);
        else
            tsvField(out, columns_[c].name);
    }
    out += format_ == Format::Csv ? "\r\n" : "\n";
}

void RowExport::startRow(std::string& out)
{
    if (format_ == Format::Json) {
        out += firstRow_ ? "\n{" : ",\n{";
        firstRow_ = false;
    }
    if (format_ == Format::Sql)
        out += insertInto_;
}

void RowExport::value(std::string& out, std::size_t column, ValueKind kind, std::string_view bytes) const
{
    const ColumnInfo& info = columns_[column];
    const bool binary = kind == ValueKind::Blob || info.type == ColumnType::Binary;
    switch (format_) {
    case Format::Csv:
        if (column > 0)
            out += ',';
        if (kind != ValueKind::Null)
            csvField(out, binary ? std::string_view(base64(bytes)) : bytes, true);
        else if (!nullText_.empty())
            csvField(out, nullText_, false);
        return;
    case Format::Tsv:
        if (column > 0)
            out += '\t';
        if (kind == ValueKind::Null)
            out += "\\N";
        else
            tsvField(out, binary ? std::string_view(base64(bytes)) : bytes);
        return;
    case Format::Json:
        if (column > 0)
            out += ',';
        jsonString(out, info.name);
        out += ':';
        if (kind == ValueKind::Null)
            out += "null";
        else if (binary)
            jsonString(out, base64(bytes));
        else if (isNumberColumn(info.type) && isJsonNumber(bytes))
            out += bytes;
        else
            jsonString(out, bytes);
        return;
    case Format::Sql:
        if (column > 0)
            out += ", ";
        sqlValue(out, info, kind, bytes, database_);
        return;
    }
}

void RowExport::endRow(std::string& out) const
{
    switch (format_) {
    case Format::Csv: out += "\r\n"; break;
    case Format::Tsv: out += '\n'; break;
    case Format::Json: out += '}'; break;
    case Format::Sql: out += ");\n"; break;
    }
}

void RowExport::end(std::string& out) const
{
    if (format_ == Format::Json)
        out += firstRow_ ? "]\n" : "\n]\n";
    if (format_ == Format::Sql)
        out += "COMMIT;\n";
}
