#include "oracle/ValueCheck.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <initializer_list>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool oneOf(std::string_view s, std::initializer_list<std::string_view> words)
{
    const std::string l = lower(s);
    return std::find(words.begin(), words.end(), std::string_view(l)) != words.end();
}

// Takes at least `fewest` digits off the front; their value in `value`.
bool digits(std::string_view& s, std::size_t fewest, std::size_t most, long long& value)
{
    std::size_t n = 0;
    value = 0;
    while (n < s.size() && n < most && isDigit(s[n]))
        value = value * 10 + (s[n++] - '0');
    if (n < fewest)
        return false;
    s.remove_prefix(n);
    return true;
}

bool take(std::string_view& s, char c)
{
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

// Digits, one underscore allowed between two of them.
bool wholeDigits(std::string_view s)
{
    if (s.empty() || !isDigit(s.front()) || !isDigit(s.back()))
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!isDigit(s[i]) && !(s[i] == '_' && isDigit(s[i + 1]) && isDigit(s[i - 1])))
            return false;
    return true;
}

bool isWhole(std::string_view s)
{
    if (!s.empty() && (s.front() == '+' || s.front() == '-'))
        s.remove_prefix(1);
    if (s.size() > 2 && s[0] == '0' && std::string_view("xXoObB").find(s[1]) != std::string_view::npos) {
        const std::string_view rest = s.substr(2);
        return !rest.empty() && std::all_of(rest.begin(), rest.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == '_';
        });
    }
    return wholeDigits(s);
}

bool isNumber(std::string_view s)
{
    if (!s.empty() && (s.front() == '+' || s.front() == '-'))
        s.remove_prefix(1);
    if (oneOf(s, {"nan", "infinity", "inf"}))
        return true;
    const std::size_t e = s.find_first_of("eE");
    std::string_view mantissa = s.substr(0, e);
    if (e != std::string_view::npos) {
        std::string_view exponent = s.substr(e + 1);
        if (!exponent.empty() && (exponent.front() == '+' || exponent.front() == '-'))
            exponent.remove_prefix(1);
        if (!wholeDigits(exponent))
            return false;
    }
    const std::size_t point = mantissa.find('.');
    const std::string_view whole = mantissa.substr(0, point);
    const std::string_view part = point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
    if (whole.empty() && part.empty())
        return false;
    return (whole.empty() || wholeDigits(whole)) && (part.empty() || wholeDigits(part));
}

bool leap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// YYYY-MM-DD (a longer year too) off the front, a real day of the calendar.
bool readDate(std::string_view& s)
{
    long long y = 0, m = 0, d = 0;
    std::string_view r = s;
    if (!digits(r, 4, 7, y) || !take(r, '-') || !digits(r, 2, 2, m) || !take(r, '-') || !digits(r, 2, 2, d))
        return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1] || (m == 2 && d == 29 && !leap(y)))
        return false;
    s = r;
    return true;
}

// HH:MM[:SS[.fraction]] off the front.
bool readTime(std::string_view& s)
{
    long long h = 0, m = 0, sec = 0;
    std::string_view r = s;
    if (!digits(r, 1, 2, h) || !take(r, ':') || !digits(r, 2, 2, m) || h > 24 || m > 59)
        return false;
    if (take(r, ':')) {
        if (!digits(r, 2, 2, sec) || sec > 60)
            return false;
        if (take(r, '.')) {
            long long fraction = 0;
            if (!digits(r, 1, 64, fraction))
                return false;
        }
    }
    s = r;
    return true;
}

// What may follow a time: a zone (Z, +HH[:MM], a name) and BC/AD.
bool zoneOrEra(std::string_view s)
{
    s = trimmed(s);
    if (s.empty())
        return true;
    if (oneOf(s, {"bc", "ad"}))
        return true;
    if (s.front() == '+' || s.front() == '-') {
        std::string_view r = s.substr(1);
        long long v = 0;
        if (!digits(r, 1, 4, v))
            return false;
        if (take(r, ':') && !digits(r, 2, 2, v))
            return false;
        if (take(r, ':') && !digits(r, 2, 2, v))
            return false;
        return zoneOrEra(r);
    }
    // A zone's name: letters, digits, '/', '_', '+', '-' (UTC, Europe/Paris, Etc/GMT+1).
    std::size_t n = 0;
    while (n < s.size() && (std::isalnum(static_cast<unsigned char>(s[n])) || s[n] == '/' || s[n] == '_'
                            || s[n] == '+' || s[n] == '-'))
        ++n;
    return n > 0 && std::isalpha(static_cast<unsigned char>(s.front())) && zoneOrEra(s.substr(n));
}

bool specialDateWord(std::string_view s)
{
    return oneOf(s, {"epoch", "infinity", "-infinity", "now", "today", "tomorrow", "yesterday"});
}

bool isDateText(std::string_view s) { return specialDateWord(s) || (readDate(s) && zoneOrEra(s)); }

bool isTimeText(std::string_view s) { return oneOf(s, {"now", "allballs"}) || (readTime(s) && zoneOrEra(s)); }

bool isTimestampText(std::string_view s)
{
    if (specialDateWord(s))
        return true;
    if (!readDate(s))
        return false;
    if (!s.empty() && (s.front() == 'T' || s.front() == 't' || s.front() == ' ')) {
        std::string_view r = trimmed(s.substr(1));
        if (readTime(r))
            return zoneOrEra(r);
    }
    return zoneOrEra(s);
}

std::size_t characters(std::string_view utf8)
{
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The byte where character n starts (the end when there are fewer).
std::size_t characterStart(std::string_view utf8, std::size_t n)
{
    for (std::size_t i = 0; i < utf8.size(); ++i)
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && n-- == 0)
            return i;
    return utf8.size();
}

// PostgreSQL's built-in integer oids, with the bounds of each.
std::optional<std::pair<long long, long long>> integerBounds(int nativeType)
{
    switch (nativeType) {
    case 21: return std::pair{-32768LL, 32767LL};
    case 23: return std::pair{-2147483648LL, 2147483647LL};
    case 20: return std::pair{INT64_MIN, INT64_MAX};
    default: return std::nullopt;
    }
}

bool hasAny(const std::string& typeName, std::initializer_list<std::string_view> parts)
{
    const std::string t = lower(typeName);
    return std::any_of(parts.begin(), parts.end(), [&t](std::string_view p) { return t.find(p) != std::string::npos; });
}

} // namespace

std::optional<bool> ReadBoolean(std::string_view text)
{
    if (oneOf(text, {"t", "true", "y", "yes", "on", "1"}))
        return true;
    if (oneOf(text, {"f", "false", "n", "no", "off", "0"}))
        return false;
    return std::nullopt;
}

std::optional<std::string> ValueWarning(const ColumnInfo& column, const ColumnDetails* details, std::string_view text)
{
    const std::string_view s = trimmed(text);
    switch (column.type) {
    case ColumnType::Integer: {
        if (!isWhole(s))
            return "Not a whole number";
        const std::optional<std::pair<long long, long long>> bounds = integerBounds(column.nativeType);
        if (!bounds || !wholeDigits(s.front() == '-' || s.front() == '+' ? s.substr(1) : s))
            return std::nullopt;
        std::string plain(s.front() == '+' ? s.substr(1) : s);
        plain.erase(std::remove(plain.begin(), plain.end(), '_'), plain.end());
        long long n = 0;
        const auto r = std::from_chars(plain.data(), plain.data() + plain.size(), n);
        if (r.ec != std::errc() || n < bounds->first || n > bounds->second)
            return "Out of the range of " + column.typeName;
        return std::nullopt;
    }
    case ColumnType::Decimal:
        // SQLite names any type it does not know this way: only a declared number is checked.
        if (!hasAny(column.typeName, {"num", "dec"}) || isNumber(s))
            return std::nullopt;
        return "Not a number";
    case ColumnType::Real:
        return isNumber(s) ? std::nullopt : std::optional<std::string>("Not a number");
    case ColumnType::Boolean: {
        // Any unique beginning of true, false, yes, no; on, off; 1, 0.
        const std::string l = lower(s);
        const auto starts = [&l](std::string_view word) { return !l.empty() && word.starts_with(l); };
        const bool fits = starts("true") || starts("false") || starts("yes") || starts("no")
                          || (l.size() >= 2 && (starts("on") || starts("off"))) || l == "1" || l == "0";
        return fits ? std::nullopt : std::optional<std::string>("Not true or false");
    }
    case ColumnType::Date:
        return isDateText(s) ? std::nullopt : std::optional<std::string>("Not a date (YYYY-MM-DD)");
    case ColumnType::Time:
        return isTimeText(s) ? std::nullopt : std::optional<std::string>("Not a time (HH:MM:SS)");
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz:
        return isTimestampText(s) ? std::nullopt
                                  : std::optional<std::string>("Not a date and time (YYYY-MM-DD HH:MM:SS)");
    case ColumnType::Text: {
        if (!details || details->maxLength <= 0)
            return std::nullopt;
        const auto most = static_cast<std::size_t>(details->maxLength);
        if (characters(text) <= most)
            return std::nullopt;
        // The database cuts spaces beyond the length without a word.
        const std::string_view beyond = text.substr(characterStart(text, most));
        if (std::all_of(beyond.begin(), beyond.end(), [](char c) { return c == ' '; }))
            return std::nullopt;
        return "Longer than the column's " + std::to_string(most) + " characters";
    }
    default:
        return std::nullopt;
    }
}
