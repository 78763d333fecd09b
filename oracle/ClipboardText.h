#pragma once

// The forms a block of cells takes on the clipboard, as pure text building
// and parsing (no Qt: the grid puts them on the clipboard):
// - plain text: tab-separated, one line per row, as spreadsheets write and
//   read it; a field holding a tab, a line break or a double quote is put
//   between double quotes with inner quotes doubled;
// - HTML: a table, for spreadsheets and mail that keep the cells;
// - the program's own form, which keeps NULL apart from an empty text and
//   every value's bytes exactly, for pasting inside the program.

#include "oracle/Engine.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The MIME type of the program's own form.
inline constexpr const char* kCellsMimeType = "application/x-dervanta-cells";

// Rows of texts, as the text forms carry them (NULL is an empty field).
using TextRows = std::vector<std::vector<std::string>>;

// A rectangle of exact values, row by row. A cell with no value was not
// copied (it lay outside a selection that was no rectangle): pasting it
// leaves the cell it lands on as it is.
struct CellBlock {
    int rows = 0;
    int columns = 0;
    std::vector<std::optional<Value>> cells; // rows * columns

    const std::optional<Value>& at(int row, int column) const
    {
        return cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(column)];
    }
};

// Tab-separated text: lines joined by "\n", with no line break after the last.
std::string ToPlainText(const TextRows& rows);
// An HTML table; with headingFirst the first row is column headings.
std::string ToHtml(const TextRows& rows, bool headingFirst);
// The program's own form of a block, and the block back from it (nothing
// when the bytes are not a block this program wrote).
std::string EncodeCells(const CellBlock& block);
std::optional<CellBlock> DecodeCells(std::string_view bytes);

// Reads tab-separated text as spreadsheets write it: fields between double
// quotes may hold tabs and line breaks ("" is one quote), lines end with
// "\r\n", "\n" or a lone "\r" (what older programs put on the clipboard),
// and a line break at the very end makes no extra row. Rows keep the number
// of fields they have.
TextRows ParsePlainText(std::string_view text);
