#include "oracle/ClipboardText.h"

#include <cstdint>
#include <limits>

namespace {

bool needsQuotes(std::string_view field)
{
    return field.find_first_of("\t\r\n\"") != std::string_view::npos;
}

void appendField(std::string& out, std::string_view field)
{
    if (!needsQuotes(field)) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendEscaped(std::string& out, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\r':
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "<br>";
            break;
        case '\n': out += "<br>"; break;
        default: out += c;
        }
    }
}

constexpr std::string_view kMagic = "DVC1";
constexpr unsigned char kNotCopied = 0xFF;

void putNumber(std::string& out, std::uint64_t n, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((n >> (8 * i)) & 0xFF);
}

bool takeNumber(std::string_view& in, int bytes, std::uint64_t* n)
{
    if (in.size() < static_cast<std::size_t>(bytes))
        return false;
    *n = 0;
    for (int i = 0; i < bytes; ++i)
        *n |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[static_cast<std::size_t>(i)])) << (8 * i);
    in.remove_prefix(static_cast<std::size_t>(bytes));
    return true;
}

} // namespace

std::string ToPlainText(const TextRows& rows)
{
    std::string out;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r > 0)
            out += '\n';
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            if (c > 0)
                out += '\t';
            appendField(out, rows[r][c]);
        }
    }
    // A last line with nothing on it would be taken for the final line
    // break and lost: a line break of its own keeps it a row.
    if (!rows.empty() && (rows.back().empty() || (rows.back().size() == 1 && rows.back().front().empty())))
        out += '\n';
    return out;
}

std::string ToHtml(const TextRows& rows, bool headingFirst)
{
    std::string out = "<html><head><meta charset=\"utf-8\"></head><body><table>\n";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const bool heading = headingFirst && r == 0;
        out += "<tr>";
        for (const std::string& field : rows[r]) {
            out += heading ? "<th>" : "<td>";
            appendEscaped(out, field);
            out += heading ? "</th>" : "</td>";
        }
        out += "</tr>\n";
    }
    out += "</table></body></html>\n";
    return out;
}

std::string EncodeCells(const CellBlock& block)
{
    std::string out(kMagic);
    putNumber(out, static_cast<std::uint64_t>(block.rows), 4);
    putNumber(out, static_cast<std::uint64_t>(block.columns), 4);
    for (const std::optional<Value>& cell : block.cells) {
        if (!cell) {
            out += static_cast<char>(kNotCopied);
            continue;
        }
        out += static_cast<char>(cell->kind);
        if (cell->kind == ValueKind::Null)
            continue;
        putNumber(out, cell->bytes.size(), 8);
        out += cell->bytes;
    }
    return out;
}

std::optional<CellBlock> DecodeCells(std::string_view in)
{
    if (in.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    in.remove_prefix(kMagic.size());
    std::uint64_t rows = 0, columns = 0;
    if (!takeNumber(in, 4, &rows) || !takeNumber(in, 4, &columns) || rows > std::numeric_limits<std::int32_t>::max()
        || columns > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    // Every cell takes at least its tag byte: a count beyond that is no block.
    if (columns != 0 && rows > in.size() / columns)
        return std::nullopt;
    CellBlock block;
    block.rows = static_cast<int>(rows);
    block.columns = static_cast<int>(columns);
    block.cells.reserve(static_cast<std::size_t>(rows * columns));
    for (std::uint64_t i = 0; i < rows * columns; ++i) {
        if (in.empty())
            return std::nullopt;
        const auto tag = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        if (tag == kNotCopied) {
            block.cells.emplace_back();
            continue;
        }
        if (tag > static_cast<unsigned char>(ValueKind::Blob))
            return std::nullopt;
        Value value{static_cast<ValueKind>(tag), {}};
        if (value.kind != ValueKind::Null) {
            std::uint64_t size = 0;
            if (!takeNumber(in, 8, &size) || size > in.size())
                return std::nullopt;
            value.bytes.assign(in.substr(0, static_cast<std::size_t>(size)));
            in.remove_prefix(static_cast<std::size_t>(size));
        }
        block.cells.emplace_back(std::move(value));
    }
    if (!in.empty())
        return std::nullopt;
    return block;
}

TextRows ParsePlainText(std::string_view text)
{
    TextRows rows;
    if (text.empty())
        return rows;
    std::vector<std::string> row;
    std::size_t i = 0;
    const auto lineEnd = [&text](std::size_t at) -> std::size_t { // its length, 0 when none
        if (at >= text.size())
            return 0;
        if (text[at] == '\n')
            return 1;
        if (text[at] == '\r')
            return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
        return 0;
    };
    while (true) {
        std::string field;
        if (i < text.size() && text[i] == '"') {
            // Quoted, if the closing quote comes: find it first.
            std::string inner;
            std::size_t k = i + 1;
            bool closed = false;
            while (k < text.size()) {
                if (text[k] == '"') {
                    if (k + 1 < text.size() && text[k + 1] == '"') {
                        inner += '"';
                        k += 2;
                        continue;
                    }
                    closed = true;
                    ++k;
                    break;
                }
                inner += text[k++];
            }
            if (closed) {
                field = std::move(inner);
                i = k;
            }
        }
        // The rest of the field (all of it when it was not quoted) as it stands.
        while (i < text.size() && text[i] != '\t' && lineEnd(i) == 0)
            field += text[i++];
        row.push_back(std::move(field));
        if (i >= text.size()) {
            rows.push_back(std::move(row));
            break;
        }
        if (text[i] == '\t') {
            ++i;
            continue;
        }
        i += lineEnd(i);
        rows.push_back(std::move(row));
        row.clear();
        if (i >= text.size())
            break; // the final line break
    }
    return rows;
}
