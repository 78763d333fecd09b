#include "oracle/ValueKeys.h"

#include "oracle/TextReading.h"

#include <QLocale>

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using text::readDigits;
using text::take;

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view s) { return TrimmedText(s); }

// A real as the engines write it: digits, or NaN and the infinities.
std::optional<double> readReal(std::string_view s)
{
    s = trimmed(s);
    if (equalsNoCase(s, "nan"))
        return std::numeric_limits<double>::quiet_NaN();
    if (equalsNoCase(s, "infinity") || equalsNoCase(s, "inf") || equalsNoCase(s, "+infinity"))
        return std::numeric_limits<double>::infinity();
    if (equalsNoCase(s, "-infinity") || equalsNoCase(s, "-inf"))
        return -std::numeric_limits<double>::infinity();
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

// A decimal number as sign, significant digits and the power of ten of the
// first digit's place: "-012.50" is (-1, "125", 1).
struct Decimal {
    int sign = 0; // 0 for zero
    std::string digits;
    long long exponent = 0;
};

std::optional<Decimal> readDecimal(std::string_view s)
{
    s = trimmed(s);
    Decimal d;
    int sign = 1;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        sign = s.front() == '-' ? -1 : 1;
        s.remove_prefix(1);
    }
    std::string digits;
    long long pointAt = -1;
    std::size_t i = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
        else if (c == '.' && pointAt < 0)
            pointAt = static_cast<long long>(digits.size());
        else
            break;
    }
    if (digits.empty())
        return std::nullopt;
    long long exponent = 0;
    if (i < s.size()) {
        if (s[i] != 'e' && s[i] != 'E')
            return std::nullopt;
        std::string_view e = s.substr(i + 1);
        if (!e.empty() && e.front() == '+')
            e.remove_prefix(1);
        const auto r = std::from_chars(e.data(), e.data() + e.size(), exponent);
        if (r.ec != std::errc() || r.ptr != e.data() + e.size())
            return std::nullopt;
    }
    if (pointAt < 0)
        pointAt = static_cast<long long>(digits.size());
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos)
        return d; // zero
    const std::size_t last = digits.find_last_not_of('0');
    d.sign = sign;
    d.digits = digits.substr(first, last - first + 1);
    d.exponent = pointAt - static_cast<long long>(first) - 1 + exponent;
    return d;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The days of a month in the proleptic Gregorian calendar (year 0 is 1 BC).
unsigned daysInMonth(long long y, unsigned m)
{
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// HH:MM[:SS[.fffffffff]]: seconds and nanoseconds.
bool readClock(std::string_view& s, long long& seconds, int& nanos)
{
    int h = 0, m = 0, sec = 0;
    if (!readDigits(s, 2, h) || !take(s, ':') || !readDigits(s, 2, m))
        return false;
    if (take(s, ':') && !readDigits(s, 2, sec))
        return false;
    nanos = 0;
    if (take(s, '.')) {
        int n = 0;
        long long f = 0;
        while (!s.empty() && std::isdigit(static_cast<unsigned char>(s.front()))) {
            if (n < 9) {
                f = f * 10 + (s.front() - '0');
                ++n;
            }
            s.remove_prefix(1);
        }
        if (n == 0)
            return false;
        for (; n < 9; ++n)
            f *= 10;
        nanos = static_cast<int>(f);
    }
    if (h > 24 || m > 59 || sec > 61)
        return false;
    seconds = h * 3600LL + m * 60LL + sec;
    return true;
}

// +HH[:MM[:SS]] or -HH...: seconds east of UTC.
bool readOffset(std::string_view& s, long long& offset)
{
    if (s.empty() || (s.front() != '+' && s.front() != '-'))
        return false;
    const int sign = s.front() == '-' ? -1 : 1;
    s.remove_prefix(1);
    int h = 0, m = 0, sec = 0;
    if (!readDigits(s, 2, h))
        return false;
    if (take(s, ':')) {
        if (!readDigits(s, 2, m))
            return false;
    } else if (s.size() >= 2 && std::isdigit(static_cast<unsigned char>(s.front()))) {
        readDigits(s, 2, m); // +0530
    }
    if (take(s, ':') && !readDigits(s, 2, sec))
        return false;
    offset = sign * (h * 3600LL + m * 60LL + sec);
    return true;
}

// YYYY-MM-DD[( |T)HH:MM[:SS[.f]]][offset][ BC], or HH:MM[:SS[.f]][offset]:
// an instant (or a time of day) as seconds and nanoseconds.
bool readTime(std::string_view s, ValueKey& key)
{
    s = trimmed(s);
    if (equalsNoCase(s, "infinity") || equalsNoCase(s, "+infinity")) {
        key.whole = std::numeric_limits<std::int64_t>::max();
        return true;
    }
    if (equalsNoCase(s, "-infinity")) {
        key.whole = std::numeric_limits<std::int64_t>::min();
        return true;
    }
    bool bc = false;
    if (s.size() > 3 && equalsNoCase(s.substr(s.size() - 3), " BC")) {
        bc = true;
        s.remove_suffix(3);
    }
    long long seconds = 0;
    int nanos = 0;
    if (s.size() >= 10 && s[4] == '-') {
        int y = 0, mo = 0, d = 0;
        if (!readDigits(s, 4, y) || !take(s, '-') || !readDigits(s, 2, mo) || !take(s, '-') || !readDigits(s, 2, d)
            || mo < 1 || mo > 12 || d < 1 || d > 31)
            return false;
        const long long year = bc ? 1 - y : y;
        // A day the month does not have is no date (as the databases say).
        if (static_cast<unsigned>(d) > daysInMonth(year, static_cast<unsigned>(mo)))
            return false;
        seconds = daysFromCivil(year, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400;
        if (!s.empty() && (s.front() == ' ' || s.front() == 'T' || s.front() == 't')) {
            s.remove_prefix(1);
            long long clock = 0;
            if (!readClock(s, clock, nanos))
                return false;
            seconds += clock;
        }
    } else {
        if (!readClock(s, seconds, nanos))
            return false;
    }
    if (!s.empty()) {
        long long offset = 0;
        if (!readOffset(s, offset) || !s.empty())
            return false;
        seconds -= offset;
    }
    key.whole = seconds;
    key.part = nanos;
    return true;
}

std::optional<bool> readBoolean(std::string_view s)
{
    s = trimmed(s);
    for (const char* yes : {"t", "true", "1", "y", "yes", "on"})
        if (equalsNoCase(s, yes))
            return true;
    for (const char* no : {"f", "false", "0", "n", "no", "off"})
        if (equalsNoCase(s, no))
            return false;
    return std::nullopt;
}

int sign(long long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int compareBytes(std::string_view a, std::string_view b)
{
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

std::string_view TrimmedText(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

KeyKind KeyKindOf(const ColumnInfo& column)
{
    switch (column.type) {
    case ColumnType::Integer:
    case ColumnType::Decimal: return KeyKind::Decimal;
    case ColumnType::Real: return KeyKind::Real;
    case ColumnType::Date:
    case ColumnType::Time:
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz: return KeyKind::Time;
    case ColumnType::Boolean: return KeyKind::Boolean;
    case ColumnType::Binary: return KeyKind::Size;
    case ColumnType::Text:
    case ColumnType::LargeText:
    case ColumnType::Other: break;
    }
    return KeyKind::Text;
}

ValueKey MakeKey(KeyKind kind, ValueKind valueKind, std::string_view text)
{
    ValueKey key;
    if (valueKind == ValueKind::Null)
        return key;
    key.cls = ValueKey::Read;
    if (valueKind == ValueKind::Blob && kind != KeyKind::Size) {
        key.cls = ValueKey::Unreadable;
        return key;
    }
    switch (kind) {
    case KeyKind::Decimal:
    case KeyKind::Real: {
        std::int64_t whole = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), whole);
        if (r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty()) {
            key.real = static_cast<double>(whole);
        } else if (const std::optional<double> v = readReal(text)) {
            key.real = *v;
        } else if (const std::optional<Decimal> d = kind == KeyKind::Decimal ? readDecimal(text) : std::nullopt;
                   d && (d->exponent > 300 || d->exponent < -300)) {
            // Past what a double reaches (an exact number may go far beyond):
            // as far as it reaches; the digits settle the rest.
            key.real = d->exponent > 0 ? d->sign * std::numeric_limits<double>::infinity() : 0.0;
        } else {
            key.cls = ValueKey::Unreadable;
            break;
        }
        if (std::isnan(key.real))
            key.cls = ValueKey::NotANumber;
        break;
    }
    case KeyKind::Time:
        if (!readTime(text, key))
            key.cls = ValueKey::Unreadable;
        break;
    case KeyKind::Boolean:
        if (const std::optional<bool> b = readBoolean(text))
            key.whole = *b;
        else
            key.cls = ValueKey::Unreadable;
        break;
    case KeyKind::Size:
        key.whole = static_cast<std::int64_t>(text.size());
        break;
    case KeyKind::Text:
        break;
    }
    return key;
}

int CompareDecimalTexts(std::string_view a, std::string_view b)
{
    const std::optional<Decimal> x = readDecimal(a);
    const std::optional<Decimal> y = readDecimal(b);
    if (!x || !y)
        return x ? -1 : y ? 1 : compareBytes(a, b);
    if (x->sign != y->sign)
        return x->sign < y->sign ? -1 : 1;
    if (x->sign == 0)
        return 0;
    int magnitude = 0;
    if (x->exponent != y->exponent) {
        magnitude = x->exponent < y->exponent ? -1 : 1;
    } else {
        const std::size_t n = std::max(x->digits.size(), y->digits.size());
        for (std::size_t i = 0; i < n && magnitude == 0; ++i) {
            const char dx = i < x->digits.size() ? x->digits[i] : '0';
            const char dy = i < y->digits.size() ? y->digits[i] : '0';
            if (dx != dy)
                magnitude = dx < dy ? -1 : 1;
        }
    }
    return x->sign * magnitude;
}

int CompareKeys(KeyKind kind, const ValueKey& a, std::string_view textA, const ValueKey& b, std::string_view textB)
{
    if (a.cls != b.cls)
        return a.cls < b.cls ? -1 : 1;
    switch (a.cls) {
    case ValueKey::Null:
    case ValueKey::NotANumber: return 0;
    case ValueKey::Unreadable: return compareBytes(textA, textB);
    case ValueKey::Read: break;
    }
    switch (kind) {
    case KeyKind::Decimal:
        if (a.real != b.real)
            return a.real < b.real ? -1 : 1;
        // Doubles round: equal approximations are settled by the digits.
        return textA == textB ? 0 : CompareDecimalTexts(textA, textB);
    case KeyKind::Real:
        return a.real < b.real ? -1 : a.real > b.real ? 1 : 0;
    case KeyKind::Time:
        if (a.whole != b.whole)
            return a.whole < b.whole ? -1 : 1;
        return sign(static_cast<long long>(a.part) - b.part);
    case KeyKind::Boolean:
    case KeyKind::Size:
        return sign(a.whole - b.whole);
    case KeyKind::Text:
        break;
    }
    return compareBytes(textA, textB);
}

std::optional<std::string> ReadTypedKey(KeyKind kind, std::string_view text, ValueKey& key)
{
    switch (kind) {
    case KeyKind::Decimal:
    case KeyKind::Real:
        key = MakeKey(kind, ValueKind::Text, text);
        if (key.cls == ValueKey::Unreadable)
            return std::string("not a number");
        return std::nullopt;
    case KeyKind::Time:
        key = MakeKey(kind, ValueKind::Text, text);
        if (key.cls == ValueKey::Unreadable)
            return std::string("not a date or time (write YYYY-MM-DD HH:MM:SS)");
        return std::nullopt;
    case KeyKind::Boolean:
        key = MakeKey(kind, ValueKind::Text, text);
        if (key.cls == ValueKey::Unreadable)
            return std::string("not true or false");
        return std::nullopt;
    case KeyKind::Size: {
        std::int64_t n = 0;
        const std::string_view t = trimmed(text);
        const auto r = std::from_chars(t.data(), t.data() + t.size(), n);
        if (r.ec != std::errc() || r.ptr != t.data() + t.size() || t.empty() || n < 0)
            return std::string("not a size in bytes");
        key = ValueKey{ValueKey::Read, n, 0, 0};
        return std::nullopt;
    }
    case KeyKind::Text:
        key = ValueKey{ValueKey::Read, 0, 0, 0};
        return std::nullopt;
    }
    return std::nullopt;
}

// ---- text by the locale's collation --------------------------------------------------

struct TextCollation::Collator {
    UCollator* handle = nullptr;
    std::vector<UChar> utf16; // the text being keyed, as ICU reads it fastest
    std::vector<std::uint8_t> key; // its key, before it is appended
    ~Collator()
    {
        if (handle)
            ucol_close(handle);
    }
};

TextCollation::TextCollation() : collator_(std::make_unique<Collator>())
{
    const QString name = QLocale().name();
    const std::string locale = name == QLatin1String("C") ? std::string() : name.toStdString();
    UErrorCode error = U_ZERO_ERROR;
    collator_->handle = ucol_open(locale.c_str(), &error);
    if (U_FAILURE(error)) {
        error = U_ZERO_ERROR;
        collator_->handle = ucol_open("", &error); // the root collation
    }
}

TextCollation::~TextCollation() = default;

void TextCollation::appendSortKey(std::string_view utf8, std::string& out) const
{
    if (!collator_->handle) {
        out.append(utf8);
        return;
    }
    // UTF-16 first (a byte that is no UTF-8 becomes U+FFFD, as when comparing):
    // ICU makes a key from it several times faster than through an iterator.
    std::vector<UChar>& text = collator_->utf16;
    if (text.size() < utf8.size() + 1)
        text.resize(utf8.size() + 1);
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(text.data(), static_cast<int32_t>(text.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &error);
    if (U_FAILURE(error))
        return;
    std::vector<std::uint8_t>& key = collator_->key;
    if (key.size() < 4 * static_cast<std::size_t>(length) + 32)
        key.resize(4 * static_cast<std::size_t>(length) + 32);
    int32_t need = ucol_getSortKey(collator_->handle, text.data(), length, key.data(), static_cast<int32_t>(key.size()));
    if (need > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(need));
        need = ucol_getSortKey(collator_->handle, text.data(), length, key.data(), static_cast<int32_t>(key.size()));
    }
    if (need > 0) // without the closing zero
        out.append(reinterpret_cast<const char*>(key.data()), static_cast<std::size_t>(need) - 1);
}

int TextCollation::compare(std::string_view a, std::string_view b) const
{
    if (!collator_->handle)
        return compareBytes(a, b);
    UErrorCode error = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collator_->handle, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                static_cast<int32_t>(b.size()), &error);
    if (U_FAILURE(error))
        return compareBytes(a, b);
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}
