#include "oracle/RowImport.h"

namespace {

using Row = std::vector<std::optional<std::string>>;

void readCsv(std::string_view t, ImportedRows& out)
{
    Row row;
    std::string field;
    bool quoted = false; // the field began with a quote
    bool inQuotes = false;
    bool any = false; // the record has begun
    int line = 1;
    int recordLine = 1;
    const auto endField = [&] {
        // Unquoted and empty: NULL.
        row.push_back(quoted || !field.empty() ? std::optional<std::string>(field) : std::nullopt);
        field.clear();
        quoted = false;
    };
    const auto endRecord = [&] {
        endField();
        if (out.columns.empty() && out.lines.empty() && out.rows.empty()) {
            for (const auto& f : row)
                out.columns.push_back(f.value_or(""));
        } else {
            out.rows.push_back(std::move(row));
            out.lines.push_back(recordLine);
        }
        row.clear();
        any = false;
    };
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (!any) {
            any = true;
            recordLine = line;
        }
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < t.size() && t[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                if (c == '\n' || (c == '\r' && !(i + 1 < t.size() && t[i + 1] == '\n')))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == '"' && field.empty() && !quoted) {
            quoted = inQuotes = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n')
                ++i;
            ++line;
            endRecord();
        } else {
            field += c;
        }
    }
    if (inQuotes) {
        out.problem = "a value that begins with a quote on line " + std::to_string(recordLine) + " never ends";
        return;
    }
    if (any)
        endRecord();
}

void readTsv(std::string_view t, ImportedRows& out)
{
    int line = 0;
    std::size_t at = 0;
    while (at < t.size()) {
        std::size_t end = t.find('\n', at);
        if (end == std::string_view::npos)
            end = t.size();
        std::string_view text = t.substr(at, end - at);
        at = end + 1;
        ++line;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        Row row;
        std::size_t from = 0;
        for (;;) {
            const std::size_t tab = text.find('\t', from);
            const std::string_view raw = text.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
            if (raw == "\\N") {
                row.emplace_back(std::nullopt);
            } else {
                std::string v;
                for (std::size_t i = 0; i < raw.size(); ++i) {
                    if (raw[i] != '\\' || i + 1 == raw.size()) {
                        v += raw[i];
                        continue;
                    }
                    const char e = raw[++i];
                    v += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
                }
                row.emplace_back(std::move(v));
            }
            if (tab == std::string_view::npos)
                break;
            from = tab + 1;
        }
        if (line == 1) {
            for (const auto& f : row)
                out.columns.push_back(f.value_or(""));
        } else {
            out.rows.push_back(std::move(row));
            out.lines.push_back(line);
        }
    }
}

} // namespace

ImportedRows ReadDelimited(std::string_view text, ImportFormat format)
{
    ImportedRows out;
    // A byte-order mark some programs write first is not part of the first name.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (format == ImportFormat::Csv)
        readCsv(text, out);
    else
        readTsv(text, out);
    return out;
}
