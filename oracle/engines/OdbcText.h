#pragma once

// Text for the ODBC engine: UTF-8 <-> UTF-16 for the wide API, and values as
// exact text. Numbers travel as the driver's decimal text, reals as doubles
// written in the shortest text that reads back to the same double, dates and
// timestamps as ODBC's structs written YYYY-MM-DD HH:MM:SS[.f] (and bound
// back as structs), so no session date or number format matters.

#include <QString>
#include <QStringEncoder>

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

static_assert(sizeof(SQLWCHAR) == 2, "the engine expects UTF-16 SQLWCHAR (unixODBC's default)");

namespace odbc {

// UTF-16 text for the wide API. QString's unit is SQLWCHAR's, and it keeps a
// NUL after the last one.
using WideText = QString;

// Invalid UTF-8 becomes U+FFFD (one for each byte that begins no character)
// rather than failing: the text came from us. A leading U+FEFF is kept.
WideText toWide(std::string_view s);
// Without the terminating NUL.
inline std::size_t wideLength(const WideText& w) { return static_cast<std::size_t>(w.size()); }
// The wide API takes text it only reads through pointers that are not const.
inline SQLWCHAR* wideData(const WideText& w) { return const_cast<SQLWCHAR*>(w.utf16()); }

// A lone surrogate becomes U+FFFD.
std::string toUtf8(const SQLWCHAR* s, std::size_t n);

// Fetched UTF-16 cells as UTF-8, written into one buffer kept from cell to
// cell: once it is large enough, a cell costs no allocation. The text
// returned lasts until the next call.
class Utf8Cells {
public:
    std::string_view convert(const SQLWCHAR* s, std::size_t n)
    {
        const QStringView in(s, static_cast<qsizetype>(n));
        const auto room = static_cast<std::size_t>(encoder_.requiredSpace(in.size()));
        if (buffer_.size() < room)
            buffer_.resize(room);
        // Plain ASCII, most of most tables, is copied; the encoder takes
        // the rest from the first other character on.
        std::size_t ascii = 0;
        while (ascii < n && s[ascii] < 0x80) {
            buffer_[ascii] = static_cast<char>(s[ascii]);
            ++ascii;
        }
        if (ascii == n)
            return {buffer_.data(), n};
        const char* end = encoder_.appendToBuffer(buffer_.data() + ascii, in.sliced(static_cast<qsizetype>(ascii)));
        return {buffer_.data(), static_cast<std::size_t>(end - buffer_.data())};
    }

private:
    // Stateless: a high surrogate that ends one cell is U+FFFD there, not
    // held back for the next cell. (QString::toUtf8 would write '?'.)
    QStringEncoder encoder_{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    std::string buffer_;
};

std::string lower(std::string_view s);

// Each writes the value into out and returns its length; 64 bytes are room enough.
std::size_t formatDate(const SQL_DATE_STRUCT& d, char* out);
std::size_t formatTimestamp(const SQL_TIMESTAMP_STRUCT& t, char* out);
std::size_t formatDouble(double v, char* out, std::size_t room);

// YYYY-MM-DD[( |T)HH:MM:SS[.fffffffff]]; a date alone is midnight.
std::optional<SQL_TIMESTAMP_STRUCT> parseTimestamp(std::string_view s, int* fractionDigits = nullptr);

// Digits before and after the point of a decimal text, for column size and scale.
void decimalShape(std::string_view s, SQLULEN& precision, SQLSMALLINT& scale);

} // namespace odbc
