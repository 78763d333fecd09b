#include "oracle/engines/OdbcText.h"

#include "oracle/TextReading.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>

namespace odbc {

namespace {

using text::readDigits;
using text::take;

char* putDigits(char* out, long value, int width)
{
    if (value < 0) {
        *out++ = '-';
        value = -value;
    }
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (int k = n; k < width; ++k)
        *out++ = '0';
    while (n)
        *out++ = tmp[--n];
    return out;
}

// Two digits at a time: the dates and times of a large table are written out
// millions of times while it is read.
constexpr auto kPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

char* putPair(char* out, unsigned value)
{
    std::memcpy(out, &kPairs[2 * value], 2);
    return out + 2;
}

// A field of two or four digits; any other value the long way.
char* putField(char* out, long value, int width)
{
    if (width == 2 && value >= 0 && value < 100)
        return putPair(out, static_cast<unsigned>(value));
    if (width == 4 && value >= 0 && value < 10000)
        return putPair(putPair(out, static_cast<unsigned>(value / 100)), static_cast<unsigned>(value % 100));
    return putDigits(out, value, width);
}

} // namespace

// ---- UTF-8 <-> UTF-16 ----------------------------------------------------------

WideText toWide(std::string_view s)
{
    // QString::fromUtf8 would drop a leading byte order mark: keep it, it is
    // part of the value.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
}

std::string toUtf8(const SQLWCHAR* s, std::size_t n)
{
    QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
    const QStringView in(s, static_cast<qsizetype>(n));
    std::string out(static_cast<std::size_t>(encoder.requiredSpace(in.size())), '\0');
    out.resize(static_cast<std::size_t>(encoder.appendToBuffer(out.data(), in) - out.data()));
    return out;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// ---- values as text -------------------------------------------------------------

std::size_t formatDate(const SQL_DATE_STRUCT& d, char* out)
{
    char* p = putField(out, d.year, 4);
    *p++ = '-';
    p = putField(p, d.month, 2);
    *p++ = '-';
    p = putField(p, d.day, 2);
    return static_cast<std::size_t>(p - out);
}

// YYYY-MM-DD HH:MM:SS, then the nanoseconds without their trailing zeros.
std::size_t formatTimestamp(const SQL_TIMESTAMP_STRUCT& t, char* out)
{
    char* p = out + formatDate(SQL_DATE_STRUCT{t.year, t.month, t.day}, out);
    *p++ = ' ';
    p = putField(p, t.hour, 2);
    *p++ = ':';
    p = putField(p, t.minute, 2);
    *p++ = ':';
    p = putField(p, t.second, 2);
    if (t.fraction) {
        char digits[9];
        const SQLUINTEGER f = t.fraction % 1000000000u;
        digits[0] = static_cast<char>('0' + f / 100000000u);
        SQLUINTEGER rest = f % 100000000u;
        for (int k = 7; k >= 1; k -= 2) {
            putPair(&digits[k], rest % 100);
            rest /= 100;
        }
        int used = 9;
        while (used > 0 && digits[used - 1] == '0')
            --used;
        *p++ = '.';
        std::memcpy(p, digits, static_cast<std::size_t>(used));
        p += used;
    }
    return static_cast<std::size_t>(p - out);
}

std::size_t formatDouble(double v, char* out, std::size_t room)
{
    const auto r = std::to_chars(out, out + room, v);
    return static_cast<std::size_t>(r.ptr - out);
}

std::optional<SQL_TIMESTAMP_STRUCT> parseTimestamp(std::string_view s, int* fractionDigits)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(s, 4, year) || !take(s, '-') || !readDigits(s, 2, month) || !take(s, '-')
        || !readDigits(s, 2, day))
        return std::nullopt;
    SQLUINTEGER fraction = 0;
    int used = 0;
    if (!s.empty()) {
        if (s.front() != ' ' && s.front() != 'T')
            return std::nullopt;
        s.remove_prefix(1);
        if (!readDigits(s, 2, hour) || !take(s, ':') || !readDigits(s, 2, minute) || !take(s, ':')
            || !readDigits(s, 2, second))
            return std::nullopt;
        if (take(s, '.')) {
            if (s.empty() || s.size() > 9)
                return std::nullopt;
            for (char c : s) {
                if (!std::isdigit(static_cast<unsigned char>(c)))
                    return std::nullopt;
                fraction = fraction * 10 + static_cast<SQLUINTEGER>(c - '0');
            }
            used = static_cast<int>(s.size());
            for (int k = used; k < 9; ++k)
                fraction *= 10;
        } else if (!s.empty()) {
            return std::nullopt;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 61)
        return std::nullopt;
    if (fractionDigits)
        *fractionDigits = used;
    return SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(year), static_cast<SQLUSMALLINT>(month),
                                static_cast<SQLUSMALLINT>(day),  static_cast<SQLUSMALLINT>(hour),
                                static_cast<SQLUSMALLINT>(minute), static_cast<SQLUSMALLINT>(second), fraction};
}

void decimalShape(std::string_view s, SQLULEN& precision, SQLSMALLINT& scale)
{
    std::size_t whole = 0, fraction = 0;
    bool point = false;
    for (char c : s) {
        if (c == '.')
            point = true;
        else if (std::isdigit(static_cast<unsigned char>(c)))
            ++(point ? fraction : whole);
        else if (c == 'e' || c == 'E')
            break;
    }
    precision = std::max<SQLULEN>(1, whole + fraction);
    scale = static_cast<SQLSMALLINT>(fraction);
}

} // namespace odbc
