#pragma once

// Writes rows out as text, one format each: CSV (RFC 4180: commas, CRLF, a
// field in double quotes when it holds a comma, a quote, CR or LF; NULL an
// empty field, the empty text ""), TSV (tabs and LF; tab, newline, CR and
// backslash written \t \n \r \\; NULL \N) and JSON (an array of objects by
// column name; numbers as the exact numbers they are, NULL as null). Binary
// values are written in base64. A header line names the columns in CSV and
// TSV. Sql: one INSERT statement a row, between BEGIN and COMMIT, for the
// table's own database (see setTable): names quoted, texts as literals with
// quotes doubled, NULL as NULL, numbers as written, binary values as that
// database's literal of bytes. Knows nothing of files or windows: it
// appends to a byte buffer.

#include "oracle/Dialect.h"
#include "oracle/Engine.h"

#include <string>
#include <string_view>
#include <vector>

class RowExport {
public:
    enum class Format { Csv, Tsv, Json, Sql };

    RowExport(Format format, std::vector<ColumnInfo> columns);
    // For Sql: the table the statements insert into (its name as listed) and its database.
    void setTable(const std::string& table, DialectKind database);
    // For Csv: what NULL is written as instead of an empty field (an empty
    // text is always written as "", so the two stay apart either way).
    void setNullText(std::string text) { nullText_ = std::move(text); }

    // The header, where the format has one; then each row; then the end.
    void begin(std::string& out) const;
    // cell(i) for each column i, in order.
    template <typename Cell>
    void row(std::string& out, Cell cell)
    {
        startRow(out);
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const auto [kind, bytes] = cell(c);
            value(out, c, kind, bytes);
        }
        endRow(out);
    }
    void end(std::string& out) const;

private:
    void startRow(std::string& out);
    void value(std::string& out, std::size_t column, ValueKind kind, std::string_view bytes) const;
    void endRow(std::string& out) const;

    Format format_;
    std::vector<ColumnInfo> columns_;
    DialectKind database_ = DialectKind::Generic;
    std::string insertInto_; // for Sql: INSERT INTO "table" ("a", "b") VALUES (
    bool firstRow_ = true;
    std::string nullText_;
};
