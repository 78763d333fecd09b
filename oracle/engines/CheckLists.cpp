#include "oracle/engines/CheckLists.h"

#include <cctype>
#include <cstddef>
#include <optional>

namespace {

struct Token {
    enum Kind { Word, Quoted, String, Number, Punct } kind;
    std::string text; // a string's or quoted name's value, quotes taken off
};

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

bool sameWord(const Token& t, std::string_view word)
{
    if (t.kind != Token::Word || t.text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(t.text[i])) != word[i])
            return false;
    return true;
}

bool isPunct(const std::vector<Token>& t, std::size_t i, std::string_view p)
{
    return i < t.size() && t[i].kind == Token::Punct && t[i].text == p;
}

// A quoted text up to its closing quote, a doubled quote standing for one;
// nothing when it never closes.
std::optional<std::string> quoted(std::string_view s, std::size_t& i, char close)
{
    std::string out;
    for (++i; i < s.size(); ++i) {
        if (s[i] != close) {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == close && close != ']') {
            out += close;
            ++i;
            continue;
        }
        ++i;
        return out;
    }
    return std::nullopt;
}

// The SQL text as tokens; nothing when a quote never closes. SQLite also
// quotes names in [brackets] and `back quotes`.
std::optional<std::vector<Token>> tokens(std::string_view s, bool sqlite)
{
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            const std::size_t end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? s.size() : end + 2;
        } else if (c == '\'' || c == '"' || (sqlite && (c == '`' || c == '['))) {
            const char close = c == '[' ? ']' : c;
            std::optional<std::string> text = quoted(s, i, close);
            if (!text)
                return std::nullopt;
            out.push_back({c == '\'' ? Token::String : Token::Quoted, std::move(*text)});
        } else if (std::isdigit(static_cast<unsigned char>(c))
                   || (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            const std::size_t from = i;
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.'
                                    || ((s[i] == '+' || s[i] == '-') && (s[i - 1] == 'e' || s[i - 1] == 'E'))))
                ++i;
            out.push_back({Token::Number, std::string(s.substr(from, i - from))});
        } else if (wordChar(c)) {
            const std::size_t from = i;
            while (i < s.size() && wordChar(s[i]))
                ++i;
            out.push_back({Token::Word, std::string(s.substr(from, i - from))});
        } else if (c == ':' && i + 1 < s.size() && s[i + 1] == ':') {
            out.push_back({Token::Punct, "::"});
            i += 2;
        } else {
            out.push_back({Token::Punct, std::string(1, c)});
            ++i;
        }
    }
    return out;
}

// The token after the parenthesis that closes the one at `open`; npos when none does.
std::size_t pastClose(const std::vector<Token>& t, std::size_t open)
{
    int depth = 0;
    for (std::size_t i = open; i < t.size(); ++i) {
        if (isPunct(t, i, "("))
            ++depth;
        else if (isPunct(t, i, ")") && --depth == 0)
            return i + 1;
    }
    return std::string::npos;
}

// The tokens in [from, to) without parentheses around them all.
void unwrap(const std::vector<Token>& t, std::size_t& from, std::size_t& to)
{
    while (to - from >= 2 && isPunct(t, from, "(") && pastClose(t, from) == to) {
        ++from;
        --to;
    }
}

// A literal: a string, or a number with its sign.
std::optional<std::string> literal(const std::vector<Token>& t, std::size_t& i)
{
    if (i < t.size() && t[i].kind == Token::String)
        return t[i++].text;
    std::string sign;
    if (isPunct(t, i, "-") || isPunct(t, i, "+"))
        sign = t[i++].text;
    if (i < t.size() && t[i].kind == Token::Number)
        return (sign == "-" ? sign : std::string()) + t[i++].text;
    return std::nullopt;
}

// Steps over a cast (::character varying(10)[]) where there is one.
void skipCast(const std::vector<Token>& t, std::size_t& i)
{
    if (!isPunct(t, i, "::"))
        return;
    ++i;
    while (i < t.size() && (t[i].kind == Token::Word || t[i].kind == Token::Quoted))
        ++i;
    if (isPunct(t, i, "(")) {
        const std::size_t past = pastClose(t, i);
        i = past == std::string::npos ? t.size() : past;
    }
    while (isPunct(t, i, "[") && isPunct(t, i + 1, "]"))
        i += 2;
}

// Literals separated by commas up to `close`, each perhaps cast; `i` ends
// past `close`. Nothing when anything else stands there.
std::optional<std::vector<std::string>> literalList(const std::vector<Token>& t, std::size_t& i, std::string_view close)
{
    std::vector<std::string> values;
    for (;;) {
        // PostgreSQL may write each one cast twice: ('S'::character varying)::text.
        const bool wrapped = isPunct(t, i, "(");
        if (wrapped)
            ++i;
        std::optional<std::string> v = literal(t, i);
        if (!v)
            return std::nullopt;
        skipCast(t, i);
        if (wrapped) {
            if (!isPunct(t, i, ")"))
                return std::nullopt;
            ++i;
            skipCast(t, i);
        }
        values.push_back(std::move(*v));
        if (isPunct(t, i, close)) {
            ++i;
            return values;
        }
        if (!isPunct(t, i, ","))
            return std::nullopt;
        ++i;
    }
}

bool isName(const Token& t) { return t.kind == Token::Word || t.kind == Token::Quoted; }

bool sameName(const Token& t, std::string_view name)
{
    if (t.kind == Token::Quoted)
        return t.text == name;
    if (t.kind != Token::Word || t.text.size() != name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(t.text[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

} // namespace

std::vector<std::pair<std::string, std::vector<std::string>>> SqliteCheckLists(std::string_view createTable)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> lists;
    const std::optional<std::vector<Token>> read = tokens(createTable, true);
    if (!read)
        return lists;
    const std::vector<Token>& t = *read;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        if (!sameWord(t[i], "CHECK") || !isPunct(t, i + 1, "("))
            continue;
        const std::size_t past = pastClose(t, i + 1);
        if (past == std::string::npos)
            break;
        std::size_t from = i + 2;
        std::size_t to = past - 1;
        unwrap(t, from, to);
        // name IN ( literal, ... ) and nothing more.
        if (to - from >= 5 && isName(t[from]) && sameWord(t[from + 1], "IN") && isPunct(t, from + 2, "(")
            && pastClose(t, from + 2) == to) {
            std::size_t at = from + 3;
            std::optional<std::vector<std::string>> values = literalList(t, at, ")");
            if (values)
                lists.emplace_back(t[from].text, std::move(*values));
        }
        i = past - 1;
    }
    return lists;
}

std::vector<std::string> PgCheckList(std::string_view definition, std::string_view column)
{
    const std::optional<std::vector<Token>> read = tokens(definition, false);
    if (!read || read->size() < 2 || !sameWord((*read)[0], "CHECK") || !isPunct(*read, 1, "("))
        return {};
    const std::vector<Token>& t = *read;
    std::size_t from = 1;
    std::size_t to = t.size();
    if (pastClose(t, 1) != to)
        return {};
    unwrap(t, from, to);
    // The column, or the column in parentheses cast to another type.
    std::size_t i = from;
    if (isPunct(t, i, "(") && i + 2 < to && sameName(t[i + 1], column) && isPunct(t, i + 2, ")")) {
        i += 3;
        skipCast(t, i);
    } else if (i < to && sameName(t[i], column)) {
        ++i;
    } else {
        return {};
    }
    if (!isPunct(t, i, "=") || i + 2 >= to || !sameWord(t[i + 1], "ANY") || !isPunct(t, i + 2, "("))
        return {};
    const std::size_t anyEnd = pastClose(t, i + 2);
    if (anyEnd != to)
        return {};
    i += 3;
    // ARRAY[...], or (ARRAY[...])::type[].
    const bool wrapped = isPunct(t, i, "(");
    if (wrapped)
        ++i;
    if (i + 1 >= to || !sameWord(t[i], "ARRAY") || !isPunct(t, i + 1, "["))
        return {};
    i += 2;
    std::optional<std::vector<std::string>> values = literalList(t, i, "]");
    if (!values)
        return {};
    if (wrapped) {
        if (!isPunct(t, i, ")"))
            return {};
        ++i;
        skipCast(t, i);
    }
    return i + 1 == to && isPunct(t, i, ")") ? std::move(*values) : std::vector<std::string>{};
}
