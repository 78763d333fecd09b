#pragma once

// Reads a CSV or TSV file's text as the export writes it: the first line
// names the columns; CSV as RFC 4180 (commas, fields in double quotes with
// quotes doubled, lines ended by CRLF, LF or CR; an empty field without
// quotes is NULL, "" the empty text); TSV with tabs, \t \n \r \\ written so
// and \N for NULL. Pure: bytes in, rows out.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ImportedRows {
    std::vector<std::string> columns;                         // from the first line
    std::vector<std::vector<std::optional<std::string>>> rows; // nothing: NULL
    std::vector<int> lines;                                   // the file's line each row starts on (1 = the first)
    std::optional<std::string> problem;                       // why the text could not be read, and where
};

enum class ImportFormat { Csv, Tsv };

ImportedRows ReadDelimited(std::string_view text, ImportFormat format);
