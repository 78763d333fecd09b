// The ODBC engine over unixODBC's wide (UTF-16) API.
//
// Reading a result: every column gets a plan from what SQLDescribeCol says.
// Short columns are bound to column-wise arrays and fetched several hundred
// rows per SQLFetch; long columns (and any bound value that turns out longer
// than its buffer) are read with SQLGetData in a loop, so nothing is ever
// truncated. Mixing the two needs the driver's SQL_GETDATA_EXTENSIONS: with
// SQL_GD_BLOCK we position on a row of the block with SQLSetPos first;
// without it we fetch one row at a time; a driver that cannot read bound or
// out-of-order columns gets every cell by SQLGetData.
//
// Values are exact: numbers travel as the driver's decimal text, reals as
// doubles written in the shortest text that reads back to the same double,
// dates and timestamps as ODBC's structs written YYYY-MM-DD HH:MM:SS[.f]
// (and bound back as structs), so no session date or number format matters.

#include "oracle/engines/OdbcEngine.h"

#include "oracle/ConnectionString.h"
#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/Snapshot.h"

#include <QScopeGuard>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cstring>
#include <locale.h>
#include <mutex>
#include <optional>
#include <utility>

static_assert(sizeof(SQLWCHAR) == 2, "the engine expects UTF-16 SQLWCHAR (unixODBC's default)");

namespace {

// ---- UTF-8 <-> UTF-16 ----------------------------------------------------------

// NUL-terminated UTF-16 text for the wide API.
using WideText = std::vector<SQLWCHAR>;

void appendUtf8(std::string& out, const SQLWCHAR* s, std::size_t n)
{
    std::size_t i = 0;
    // Most cells are plain ASCII.
    while (i < n && s[i] < 0x80)
        ++i;
    out.append(s, s + i);
    for (; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

std::string toUtf8(const SQLWCHAR* s, std::size_t n)
{
    std::string out;
    out.reserve(n);
    appendUtf8(out, s, n);
    return out;
}

// Without the terminating NUL in the count.
std::size_t wideLength(const WideText& w) { return w.empty() ? 0 : w.size() - 1; }

// Invalid UTF-8 becomes U+FFFD rather than failing: the text came from us.
WideText toWide(std::string_view s)
{
    WideText out;
    out.reserve(s.size() + 1);
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        char32_t c = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b <= 0xF4) {
            len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            bool ok = i + len <= n;
            char32_t v = b & (0x3F >> (len - 1));
            for (std::size_t k = 1; ok && k < len; ++k) {
                if ((p[i + k] & 0xC0) != 0x80)
                    ok = false;
                else
                    v = (v << 6) | (p[i + k] & 0x3F);
            }
            const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
            if (ok && v >= least && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF))
                c = v;
            else
                len = 1;
        }
        i += len;
        if (c >= 0x10000) {
            out.push_back(static_cast<SQLWCHAR>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<SQLWCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<SQLWCHAR>(c));
        }
    }
    out.push_back(0);
    return out;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// ---- diagnostics and handles -------------------------------------------------

struct Diagnostic {
    std::string state;
    long native = 0;
    std::string message;
};

std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> out;
    if (!handle)
        return out;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                     text.size() - 1);
        out.push_back({toUtf8(state, 5), static_cast<long>(native), toUtf8(text.data(), n)});
    }
    return out;
}

// Every diagnostic record, one per line, and the first native error number.
DbError makeError(SQLSMALLINT type, SQLHANDLE handle, std::string_view what, long fallbackNumber = DbError::kGeneric)
{
    const std::vector<Diagnostic> records = diagnostics(type, handle);
    long number = 0;
    std::string description;
    const std::string state = records.empty() ? std::string() : records.front().state;
    for (const Diagnostic& d : records) {
        if (!number && d.native)
            number = d.native;
        if (!description.empty())
            description += '\n';
        description += d.message + " (SQLSTATE " + d.state + ")";
    }
    if (description.empty())
        description = std::string(what) + " failed without a diagnostic from the driver";
    return DbError(number ? number : fallbackNumber, std::move(description), state);
}

class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
    Handle(Handle&& other) noexcept : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            type_ = other.type_;
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    void reset()
    {
        if (handle_)
            SQLFreeHandle(type_, handle_);
        handle_ = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }

    // Throws the handle's diagnostics unless rc is a success (or SQL_NO_DATA).
    void check(SQLRETURN rc, std::string_view what) const
    {
        if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
            return;
        if (rc == SQL_INVALID_HANDLE)
            throw DbError(DbError::kGeneric, std::string(what) + ": invalid ODBC handle");
        throw makeError(type_, handle_, what);
    }

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

Handle allocate(SQLSMALLINT type, const Handle* parent)
{
    SQLHANDLE h = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(type, parent ? parent->get() : SQL_NULL_HANDLE, &h);
    if (!SQL_SUCCEEDED(rc)) {
        if (parent)
            throw makeError(parent->type(), parent->get(), "SQLAllocHandle");
        throw DbError(DbError::kNoDriver, "the ODBC driver manager could not allocate an environment");
    }
    return Handle(type, h);
}

// Drivers write and read numbers by the C library's locale (psqlodbc gives
// "1234,5" under a German one), so every driver call of a session runs with
// the "C" numeric conventions on this thread; the rest of the user's locale
// stays as it is.
class CNumericLocale {
public:
    CNumericLocale()
    {
        const locale_t current = uselocale(locale_t(nullptr));
        const locale_t copy = duplocale(current);
        if (!copy)
            return;
        locale_ = newlocale(LC_NUMERIC_MASK, "C", copy);
        if (!locale_) {
            freelocale(copy);
            return;
        }
        previous_ = uselocale(locale_);
    }
    ~CNumericLocale()
    {
        if (!locale_)
            return;
        uselocale(previous_);
        freelocale(locale_);
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t locale_ = nullptr;
    locale_t previous_ = nullptr;
};

// ---- values as text -------------------------------------------------------------

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

std::size_t formatDate(const SQL_DATE_STRUCT& d, char* out)
{
    char* p = putDigits(out, d.year, 4);
    *p++ = '-';
    p = putDigits(p, d.month, 2);
    *p++ = '-';
    p = putDigits(p, d.day, 2);
    return static_cast<std::size_t>(p - out);
}

// YYYY-MM-DD HH:MM:SS, then the nanoseconds without their trailing zeros.
std::size_t formatTimestamp(const SQL_TIMESTAMP_STRUCT& t, char* out)
{
    char* p = out + formatDate(SQL_DATE_STRUCT{t.year, t.month, t.day}, out);
    *p++ = ' ';
    p = putDigits(p, t.hour, 2);
    *p++ = ':';
    p = putDigits(p, t.minute, 2);
    *p++ = ':';
    p = putDigits(p, t.second, 2);
    if (t.fraction) {
        char digits[9];
        SQLUINTEGER f = t.fraction % 1000000000u;
        for (int k = 8; k >= 0; --k) {
            digits[k] = static_cast<char>('0' + f % 10);
            f /= 10;
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

bool readNumber(std::string_view& s, std::size_t digits, int& value)
{
    if (s.size() < digits)
        return false;
    int v = 0;
    for (std::size_t k = 0; k < digits; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(s[k])))
            return false;
        v = v * 10 + (s[k] - '0');
    }
    value = v;
    s.remove_prefix(digits);
    return true;
}

bool readChar(std::string_view& s, char c)
{
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

// YYYY-MM-DD[( |T)HH:MM:SS[.fffffffff]]; a date alone is midnight.
std::optional<SQL_TIMESTAMP_STRUCT> parseTimestamp(std::string_view s, int* fractionDigits = nullptr)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readNumber(s, 4, year) || !readChar(s, '-') || !readNumber(s, 2, month) || !readChar(s, '-')
        || !readNumber(s, 2, day))
        return std::nullopt;
    SQLUINTEGER fraction = 0;
    int used = 0;
    if (!s.empty()) {
        if (s.front() != ' ' && s.front() != 'T')
            return std::nullopt;
        s.remove_prefix(1);
        if (!readNumber(s, 2, hour) || !readChar(s, ':') || !readNumber(s, 2, minute) || !readChar(s, ':')
            || !readNumber(s, 2, second))
            return std::nullopt;
        if (readChar(s, '.')) {
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

// ---- types ----------------------------------------------------------------------

bool isCharType(SQLSMALLINT t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR
           || t == SQL_WLONGVARCHAR;
}
bool isIntegerType(SQLSMALLINT t)
{
    return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}
bool isExactNumberType(SQLSMALLINT t) { return t == SQL_DECIMAL || t == SQL_NUMERIC || isIntegerType(t); }
bool isRealType(SQLSMALLINT t) { return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE; }
bool isBinaryType(SQLSMALLINT t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

// How a column's cells are fetched.
enum class Fetch : std::uint8_t {
    WideText,  // SQL_C_WCHAR, converted to UTF-8
    Chars,     // SQL_C_CHAR: digits and signs the driver writes in ASCII
    Double,    // SQL_C_DOUBLE
    Date,      // SQL_C_TYPE_DATE
    Timestamp, // SQL_C_TYPE_TIMESTAMP
    Bytes,     // SQL_C_BINARY
};

// Character columns wider than this are read with SQLGetData: binding them
// would cost more memory per row than it saves.
constexpr SQLULEN kMaxBoundChars = 4000;
// Bound buffers of one block, and the most rows a block holds.
constexpr std::size_t kBlockBudgetBytes = 8u << 20;
constexpr std::size_t kMaxBlockRows = 1000;

struct ColumnPlan {
    ColumnInfo info;
    Fetch fetch = Fetch::WideText;
    ValueKind kind = ValueKind::Text;
    bool longData = false; // never bound: always read with SQLGetData
    bool bound = false;
    SQLLEN elementBytes = 0;
    std::vector<unsigned char> buffer; // column-wise array, one element per row
    std::vector<SQLLEN> indicators;
};

SQLSMALLINT cTypeOf(Fetch f)
{
    switch (f) {
    case Fetch::WideText: return SQL_C_WCHAR;
    case Fetch::Chars: return SQL_C_CHAR;
    case Fetch::Double: return SQL_C_DOUBLE;
    case Fetch::Date: return SQL_C_TYPE_DATE;
    case Fetch::Timestamp: return SQL_C_TYPE_TIMESTAMP;
    case Fetch::Bytes: return SQL_C_BINARY;
    }
    return SQL_C_WCHAR;
}

// The plan for one column from the driver's description of it.
void classify(ColumnPlan& p, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, DialectKind dialect)
{
    ColumnInfo& info = p.info;
    info.nativeType = sqlType;
    const std::string typeName = lower(info.typeName);
    const bool oracle = dialect == DialectKind::Oracle;

    if ((sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR) && dialect == DialectKind::PostgreSQL) {
        // psqlODBC calls PostgreSQL's text (and varchar without a length)
        // long, but the server compares it exactly like any short text: it
        // is ordinary text, only read in pieces.
        info.type = ColumnType::Text;
        p.longData = true;
    } else if (sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR) {
        info.type = ColumnType::LargeText;
        info.comparable = false;
        p.longData = true;
    } else if (isCharType(sqlType)) {
        info.type = ColumnType::Text;
        p.longData = size == 0 || size > kMaxBoundChars;
    } else if (isIntegerType(sqlType)) {
        info.type = ColumnType::Integer;
        p.fetch = Fetch::Chars;
        p.kind = ValueKind::Integer;
    } else if (sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC
               // Oracle's NUMBER without precision and its FLOAT are decimal
               // numbers the driver may call double; only BINARY_FLOAT and
               // BINARY_DOUBLE are binary.
               || (oracle && isRealType(sqlType) && typeName.rfind("binary", 0) != 0)) {
        info.type = ColumnType::Decimal;
        p.fetch = Fetch::Chars;
    } else if (isRealType(sqlType)) {
        info.type = ColumnType::Real;
        p.fetch = Fetch::Double;
        p.kind = ValueKind::Real;
        // SQLite's ODBC driver passes reals through 15-digit text both ways,
        // so a value read need not match the one stored: never look a row up by it.
        if (dialect == DialectKind::SQLite)
            info.comparable = false;
    } else if (sqlType == SQL_BIT) {
        info.type = ColumnType::Boolean;
        p.fetch = Fetch::Chars;
    } else if (sqlType == SQL_TYPE_DATE || sqlType == SQL_DATE) {
        // An Oracle DATE has a time of day; a driver that calls it a date
        // must not lose it.
        info.type = oracle ? ColumnType::Timestamp : ColumnType::Date;
        p.fetch = oracle ? Fetch::Timestamp : Fetch::Date;
    } else if (sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME) {
        // SQL_TIME_STRUCT has no fraction of a second: read the text.
        info.type = ColumnType::Time;
        p.fetch = Fetch::Chars;
    } else if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TIMESTAMP) {
        // "timestamptz", "timestamp with time zone" (not "... without time zone")
        const bool zoned =
            typeName.find("tz") != std::string::npos || typeName.find("with time zone") != std::string::npos;
        info.type = zoned ? ColumnType::TimestampTz : ColumnType::Timestamp;
        p.fetch = Fetch::Timestamp;
    } else if (isBinaryType(sqlType)) {
        info.type = ColumnType::Binary;
        info.readOnly = true;
        info.comparable = false;
        p.fetch = Fetch::Bytes;
        p.kind = ValueKind::Blob;
        p.longData = true;
    } else {
        info.type = ColumnType::Other;
        p.longData = size == 0 || size > kMaxBoundChars;
    }

    // PostgreSQL types without an equality operator, whatever SQL type the
    // driver gives them: never in a WHERE as themselves (the dialect
    // compares them by their text). psqlODBC names json and the geometric
    // types "unknown", so a type it cannot name is taken for one of them.
    if (dialect == DialectKind::PostgreSQL) {
        static const char* const noEquality[] = {"json", "xml", "point", "lseg", "path", "box", "polygon", "line",
                                                 "circle", "unknown"};
        if (std::find(std::begin(noEquality), std::end(noEquality), typeName) != std::end(noEquality)) {
            info.type = ColumnType::Other;
            info.comparable = false;
        }
    }

    // SQLite keeps dates and times as the text they were written in, and its
    // driver rounds a bound timestamp to milliseconds: read and bind the text.
    if (dialect == DialectKind::SQLite
        && (info.type == ColumnType::Date || info.type == ColumnType::Time || info.type == ColumnType::Timestamp
            || info.type == ColumnType::TimestampTz)) {
        p.fetch = Fetch::WideText;
        p.kind = ValueKind::Text;
        p.longData = size == 0 || size > kMaxBoundChars;
    }

    switch (p.fetch) {
    case Fetch::WideText: p.elementBytes = static_cast<SQLLEN>((2 * size + 1) * sizeof(SQLWCHAR)); break;
    case Fetch::Chars:
        p.elementBytes = std::max<SQLLEN>(32, static_cast<SQLLEN>(std::min<SQLULEN>(size, 1000)) + digits + 8);
        break;
    case Fetch::Double: p.elementBytes = sizeof(double); break;
    case Fetch::Date: p.elementBytes = sizeof(SQL_DATE_STRUCT); break;
    case Fetch::Timestamp: p.elementBytes = sizeof(SQL_TIMESTAMP_STRUCT); break;
    case Fetch::Bytes: p.elementBytes = 0; break;
    }
}

// ---- parameters --------------------------------------------------------------------

// One bound parameter and the storage it points at (kept until the statement ran).
struct BoundParam {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN columnSize = 1;
    SQLSMALLINT digits = 0;
    WideText wide;
    std::string bytes;
    double real = 0;
    SQL_DATE_STRUCT date{};
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLLEN length = 0;
    char nullByte = 0;

    SQLPOINTER pointer()
    {
        switch (cType) {
        case SQL_C_WCHAR: return wide.data();
        case SQL_C_DOUBLE: return &real;
        case SQL_C_TYPE_DATE: return &date;
        case SQL_C_TYPE_TIMESTAMP: return &timestamp;
        default: return bytes.empty() ? static_cast<SQLPOINTER>(&nullByte) : bytes.data();
        }
    }
    SQLLEN bufferLength() const
    {
        switch (cType) {
        case SQL_C_WCHAR: return static_cast<SQLLEN>(wide.size() * sizeof(SQLWCHAR));
        case SQL_C_DOUBLE: return sizeof(double);
        case SQL_C_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
        case SQL_C_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
        default: return static_cast<SQLLEN>(bytes.size());
        }
    }
};

// The SQL type a parameter is bound as: the column's own when it belongs to
// the family the value is written in, otherwise the family's usual type.
SQLSMALLINT sqlTypeFor(const Param& p)
{
    const auto native = static_cast<SQLSMALLINT>(p.nativeType);
    switch (p.type) {
    case ColumnType::Text: return isCharType(native) ? native : SQL_VARCHAR;
    case ColumnType::LargeText: return isCharType(native) ? native : SQL_LONGVARCHAR;
    case ColumnType::Integer: return isExactNumberType(native) ? native : SQL_BIGINT;
    case ColumnType::Decimal: return native == SQL_DECIMAL || native == SQL_NUMERIC ? native : SQL_DECIMAL;
    case ColumnType::Real: return isRealType(native) ? native : SQL_DOUBLE;
    case ColumnType::Boolean: return SQL_BIT;
    case ColumnType::Date: return SQL_TYPE_DATE;
    case ColumnType::Time: return SQL_TYPE_TIME;
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz: return SQL_TYPE_TIMESTAMP;
    case ColumnType::Binary: return isBinaryType(native) ? native : SQL_VARBINARY;
    case ColumnType::Other: return native ? native : SQL_VARCHAR;
    }
    return SQL_VARCHAR;
}

// Digits before and after the point of a decimal text, for column size and scale.
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

BoundParam makeParam(const Param& p, DialectKind dialect)
{
    BoundParam b;
    b.sqlType = sqlTypeFor(p);
    const bool temporal = p.type == ColumnType::Date || p.type == ColumnType::Time || p.type == ColumnType::Timestamp
                          || p.type == ColumnType::TimestampTz;
    if (dialect == DialectKind::SQLite && temporal)
        b.sqlType = SQL_VARCHAR; // the text as it was read (see classify)
    if (p.value.isNull()) {
        b.cType = isBinaryType(b.sqlType) ? SQL_C_BINARY : SQL_C_CHAR;
        b.length = SQL_NULL_DATA;
        // Some drivers check the size even of a NULL against its type.
        switch (b.sqlType) {
        case SQL_TYPE_TIMESTAMP: b.columnSize = 19; break;
        case SQL_TYPE_DATE: b.columnSize = 10; break;
        case SQL_TYPE_TIME: b.columnSize = 8; break;
        case SQL_DOUBLE:
        case SQL_FLOAT: b.columnSize = 15; break;
        case SQL_REAL: b.columnSize = 7; break;
        default: break;
        }
        return b;
    }
    if (p.value.kind == ValueKind::Blob || p.type == ColumnType::Binary) {
        if (!isBinaryType(b.sqlType))
            b.sqlType = SQL_VARBINARY;
        b.cType = SQL_C_BINARY;
        b.bytes = p.value.bytes;
        b.length = static_cast<SQLLEN>(b.bytes.size());
        b.columnSize = std::max<SQLULEN>(1, b.bytes.size());
        return b;
    }
    const std::string_view text = p.value.bytes;
    switch (dialect == DialectKind::SQLite && temporal ? ColumnType::Text : p.type) {
    case ColumnType::Real: {
        double v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec == std::errc() && r.ptr == text.data() + text.size()) {
            b.cType = SQL_C_DOUBLE;
            b.real = v;
            b.length = sizeof(double);
            b.columnSize = 15;
            return b;
        }
        break; // not a number: the driver decides what the text means
    }
    case ColumnType::Date:
        if (const auto ts = parseTimestamp(text); ts && text.size() == 10) {
            b.cType = SQL_C_TYPE_DATE;
            b.date = SQL_DATE_STRUCT{ts->year, ts->month, ts->day};
            b.length = sizeof(SQL_DATE_STRUCT);
            b.columnSize = 10;
            return b;
        }
        break;
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz: {
        int fractionDigits = 0;
        if (const auto ts = parseTimestamp(text, &fractionDigits)) {
            b.cType = SQL_C_TYPE_TIMESTAMP;
            b.timestamp = *ts;
            b.length = sizeof(SQL_TIMESTAMP_STRUCT);
            b.columnSize = fractionDigits ? 20 + static_cast<SQLULEN>(fractionDigits) : 19;
            b.digits = static_cast<SQLSMALLINT>(fractionDigits);
            return b;
        }
        break;
    }
    case ColumnType::Integer:
    case ColumnType::Decimal:
    case ColumnType::Boolean:
        b.cType = SQL_C_CHAR;
        b.bytes = p.value.bytes;
        b.length = static_cast<SQLLEN>(b.bytes.size());
        decimalShape(text, b.columnSize, b.digits);
        return b;
    case ColumnType::Time: {
        b.cType = SQL_C_CHAR;
        b.bytes = p.value.bytes;
        b.length = static_cast<SQLLEN>(b.bytes.size());
        const auto point = text.find('.');
        b.digits = point == std::string_view::npos ? 0 : static_cast<SQLSMALLINT>(text.size() - point - 1);
        b.columnSize = b.digits ? 9 + static_cast<SQLULEN>(b.digits) : 8;
        return b;
    }
    default: break;
    }
    b.cType = SQL_C_WCHAR;
    b.wide = toWide(text);
    b.length = static_cast<SQLLEN>(wideLength(b.wide) * sizeof(SQLWCHAR));
    b.columnSize = std::max<SQLULEN>(1, wideLength(b.wide));
    return b;
}

// ---- the session ---------------------------------------------------------------------

class OdbcSessionImpl final : public OdbcSession {
public:
    OdbcSessionImpl(const std::string& connectionString, const OdbcOptions& options);
    ~OdbcSessionImpl() override;

    const Dialect& dialect() const override { return *dialect_; }
    void query(std::string_view sql, std::span<const Param> params, RowSink& sink) override;
    long long execute(std::string_view sql, std::span<const Param> params) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    std::vector<std::string> primaryKey(std::string_view table) override;
    void tables(RowSink& sink) override;

    const std::string& dbmsName() const override { return dbmsName_; }
    const OdbcFetchStats& lastFetch() const override { return stats_; }
    bool broken() const override;
    void interrupt() noexcept override;

private:
    // A statement that ran, with the parameter storage it refers to: the
    // storage is let go only after the statement handle is.
    struct Statement {
        std::vector<BoundParam> params;
        Handle stmt;
        SQLRETURN result = SQL_SUCCESS;
    };
    // Marks a statement as the one running, for interrupt(), while it lives.
    class Running {
    public:
        Running(OdbcSessionImpl& session, const Handle& stmt);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        OdbcSessionImpl& session_;
    };
    Statement run(std::string_view sql, std::span<const Param> params);
    void readResult(const Handle& stmt, RowSink& sink, bool noRows = false);
    void readCell(const Handle& stmt, SQLUSMALLINT column, const ColumnPlan& plan, RowSink& sink);
    void emitBound(const ColumnPlan& plan, std::size_t row, RowSink& sink);
    bool truncated(const ColumnPlan& plan, std::size_t row) const;
    std::string infoText(SQLUSMALLINT info);
    std::optional<std::string> scalar(const std::string& sql);
    std::string currentSchema();
    void endTransaction(SQLSMALLINT completion);
    void setAutocommit(bool on);

    OdbcOptions options_;
    Handle env_;
    Handle dbc_;
    // Declared after dbc_, so it ends first: a connected handle cannot be freed.
    struct Link {
        SQLHDBC dbc = SQL_NULL_HANDLE;
        Link() = default;
        Link(const Link&) = delete;
        Link& operator=(const Link&) = delete;
        ~Link()
        {
            if (dbc)
                SQLDisconnect(dbc);
        }
    } link_;
    bool inTransaction_ = false;
    std::string dbmsName_;
    std::unique_ptr<Dialect> dialect_;
    std::mutex runningMutex_;
    SQLHSTMT running_ = SQL_NULL_HANDLE;
    SQLUINTEGER getDataExtensions_ = 0;
    OdbcFetchStats stats_;
    // Reused between cells so that a fetch allocates only when a value grows.
    std::vector<SQLWCHAR> wideScratch_;
    std::string readScratch_;
    std::string textScratch_;
};

OdbcSessionImpl::OdbcSessionImpl(const std::string& connectionString, const OdbcOptions& options)
    : options_(options)
{
    const CNumericLocale numbers;
    env_ = allocate(SQL_HANDLE_ENV, nullptr);
    env_.check(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
               "SQLSetEnvAttr");
    dbc_ = allocate(SQL_HANDLE_DBC, &env_);
    // A server that does not answer is given up on after the login timeout.
    SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(LoginTimeoutSeconds())), SQL_IS_UINTEGER);

    WideText in = toWide(connectionString);
    std::vector<SQLWCHAR> out(1024);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc_.get(), nullptr, in.data(), SQL_NTS, out.data(),
                                           static_cast<SQLSMALLINT>(out.size()), &outLength, SQL_DRIVER_NOPROMPT);
    // The string held the password: leave no copy of it behind.
    std::fill(in.begin(), in.end(), SQLWCHAR(0));
    std::fill(out.begin(), out.end(), SQLWCHAR(0));
    if (!SQL_SUCCEEDED(rc)) {
        // No native code means the driver manager itself refused: the
        // driver could not be loaded, or the source is not known.
        const std::vector<Diagnostic> records = diagnostics(SQL_HANDLE_DBC, dbc_.get());
        const bool driverMissing = std::any_of(records.begin(), records.end(), [](const Diagnostic& d) {
            return d.state == "IM003" || d.state == "01000";
        });
        throw makeError(SQL_HANDLE_DBC, dbc_.get(), "SQLDriverConnect",
                        driverMissing ? DbError::kNoDriver : DbError::kBadConnectionString);
    }
    link_.dbc = dbc_.get();

    dbmsName_ = infoText(SQL_DBMS_NAME);
    const std::string name = lower(dbmsName_);
    DialectKind kind = DialectKind::Generic;
    if (name.find("oracle") != std::string::npos)
        kind = DialectKind::Oracle;
    else if (name.find("postgres") != std::string::npos)
        kind = DialectKind::PostgreSQL;
    else if (name.find("sqlite") != std::string::npos)
        kind = DialectKind::SQLite;
    dialect_ = MakeDialect(options_.dialect.value_or(kind));

    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_.get(), SQL_GETDATA_EXTENSIONS, &getDataExtensions_,
                                   sizeof(getDataExtensions_), nullptr)))
        getDataExtensions_ = 0;

    if (dialect_->kind() == DialectKind::Oracle) {
        // Numbers travel as text: make sure their decimal separator is a
        // point whatever territory the client was set up with.
        try {
            execute("ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '.,'", {});
        } catch (const DbError&) {
            // Not fatal: the session works, only with its own separator.
        }
    }
}

OdbcSessionImpl::~OdbcSessionImpl()
{
    // Disconnecting with a transaction open fails: end it first.
    if (inTransaction_)
        SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
}

std::string OdbcSessionImpl::infoText(SQLUSMALLINT info)
{
    std::vector<SQLWCHAR> buffer(256);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetInfoW(dbc_.get(), info, buffer.data(), static_cast<SQLSMALLINT>(buffer.size() * 2), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= buffer.size() * 2) {
        buffer.resize(static_cast<std::size_t>(length) / 2 + 1);
        rc = SQLGetInfoW(dbc_.get(), info, buffer.data(), static_cast<SQLSMALLINT>(buffer.size() * 2), &length);
    }
    if (!SQL_SUCCEEDED(rc))
        return {};
    const std::size_t n = std::min(buffer.size() - 1, static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / 2);
    return toUtf8(buffer.data(), n);
}

OdbcSessionImpl::Statement OdbcSessionImpl::run(std::string_view sql, std::span<const Param> params)
{
    Statement st;
    st.params.reserve(params.size());
    for (const Param& p : params)
        st.params.push_back(makeParam(p, dialect_->kind()));
    st.stmt = allocate(SQL_HANDLE_STMT, &dbc_);
    for (std::size_t i = 0; i < st.params.size(); ++i) {
        BoundParam& b = st.params[i];
        st.stmt.check(SQLBindParameter(st.stmt.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, b.cType,
                                       b.sqlType, b.columnSize, b.digits, b.pointer(), b.bufferLength(), &b.length),
                      "SQLBindParameter");
    }
    WideText text = toWide(sql);
    SQLRETURN rc;
    {
        const Running running(*this, st.stmt);
        rc = SQLExecDirectW(st.stmt.get(), text.data(), static_cast<SQLINTEGER>(wideLength(text)));
    }
    if (rc == SQL_NEED_DATA)
        throw DbError(DbError::kGeneric, "the driver asked for parameter data at execution");
    st.stmt.check(rc, "SQLExecDirect");
    st.result = rc;
    return st;
}

OdbcSessionImpl::Running::Running(OdbcSessionImpl& session, const Handle& stmt) : session_(session)
{
    const std::lock_guard<std::mutex> lock(session_.runningMutex_);
    session_.running_ = stmt.get();
}

OdbcSessionImpl::Running::~Running()
{
    const std::lock_guard<std::mutex> lock(session_.runningMutex_);
    session_.running_ = SQL_NULL_HANDLE;
}

void OdbcSessionImpl::interrupt() noexcept
{
    // SQLCancel may come from another thread while the statement runs; the
    // lock keeps the handle from being freed meanwhile.
    const std::lock_guard<std::mutex> lock(runningMutex_);
    if (running_)
        SQLCancel(running_);
}

bool OdbcSessionImpl::broken() const
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttrW(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr))
           && dead == SQL_CD_TRUE;
}

void OdbcSessionImpl::query(std::string_view sql, std::span<const Param> params, RowSink& sink)
{
    const CNumericLocale numbers;
    const Statement st = run(sql, params);
    // SQL_NO_DATA: a statement that met no row (an UPDATE ... RETURNING,
    // say) has no cursor to fetch from; its result is empty.
    const Running running(*this, st.stmt);
    readResult(st.stmt, sink, st.result == SQL_NO_DATA);
}

long long OdbcSessionImpl::execute(std::string_view sql, std::span<const Param> params)
{
    const CNumericLocale numbers;
    const Statement st = run(sql, params);
    if (st.result == SQL_NO_DATA) // a searched UPDATE or DELETE that met no row
        return 0;
    SQLLEN count = 0;
    st.stmt.check(SQLRowCount(st.stmt.get(), &count), "SQLRowCount");
    return count;
}

bool OdbcSessionImpl::truncated(const ColumnPlan& plan, std::size_t row) const
{
    const SQLLEN ind = plan.indicators[row];
    if (ind == SQL_NULL_DATA)
        return false;
    switch (plan.fetch) {
    case Fetch::WideText: return ind == SQL_NO_TOTAL || ind > plan.elementBytes - SQLLEN(sizeof(SQLWCHAR));
    case Fetch::Chars: return ind == SQL_NO_TOTAL || ind > plan.elementBytes - 1;
    default: return false;
    }
}

void OdbcSessionImpl::emitBound(const ColumnPlan& plan, std::size_t row, RowSink& sink)
{
    const SQLLEN ind = plan.indicators[row];
    if (ind == SQL_NULL_DATA) {
        sink.cell(ValueKind::Null, nullptr, 0);
        return;
    }
    const unsigned char* element = plan.buffer.data() + row * static_cast<std::size_t>(plan.elementBytes);
    char text[64];
    switch (plan.fetch) {
    case Fetch::WideText:
        textScratch_.clear();
        appendUtf8(textScratch_, reinterpret_cast<const SQLWCHAR*>(element),
                   static_cast<std::size_t>(ind) / sizeof(SQLWCHAR));
        sink.cell(plan.kind, textScratch_.data(), textScratch_.size());
        return;
    case Fetch::Chars:
        sink.cell(plan.kind, reinterpret_cast<const char*>(element), static_cast<std::size_t>(ind));
        return;
    case Fetch::Double: {
        double v = 0;
        std::memcpy(&v, element, sizeof v);
        sink.cell(ValueKind::Real, text, formatDouble(v, text, sizeof text));
        return;
    }
    case Fetch::Date: {
        SQL_DATE_STRUCT d{};
        std::memcpy(&d, element, sizeof d);
        sink.cell(ValueKind::Text, text, formatDate(d, text));
        return;
    }
    case Fetch::Timestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        std::memcpy(&t, element, sizeof t);
        sink.cell(ValueKind::Text, text, formatTimestamp(t, text));
        return;
    }
    case Fetch::Bytes: break;
    }
    sink.cell(ValueKind::Null, nullptr, 0);
}

void OdbcSessionImpl::readCell(const Handle& stmt, SQLUSMALLINT column, const ColumnPlan& plan, RowSink& sink)
{
    SQLHSTMT h = stmt.get();
    const SQLSMALLINT cType = cTypeOf(plan.fetch);
    char text[64];
    SQLLEN ind = 0;

    const auto fixed = [&](void* target, SQLLEN size) {
        ++stats_.getDataCalls;
        stmt.check(SQLGetData(h, column, cType, target, size, &ind), "SQLGetData");
        return ind != SQL_NULL_DATA;
    };
    switch (plan.fetch) {
    case Fetch::Double: {
        double v = 0;
        if (!fixed(&v, sizeof v))
            break;
        sink.cell(ValueKind::Real, text, formatDouble(v, text, sizeof text));
        return;
    }
    case Fetch::Date: {
        SQL_DATE_STRUCT d{};
        if (!fixed(&d, sizeof d))
            break;
        sink.cell(ValueKind::Text, text, formatDate(d, text));
        return;
    }
    case Fetch::Timestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        if (!fixed(&t, sizeof t))
            break;
        sink.cell(ValueKind::Text, text, formatTimestamp(t, text));
        return;
    }
    case Fetch::WideText:
    case Fetch::Chars:
    case Fetch::Bytes: {
        // Piece by piece into one growing buffer: a value of any length
        // arrives whole. A text piece ends in a NUL the driver adds.
        const std::size_t unit = plan.fetch == Fetch::WideText ? sizeof(SQLWCHAR) : 1;
        const std::size_t terminator = plan.fetch == Fetch::Bytes ? 0 : unit;
        std::vector<SQLWCHAR>& wide = wideScratch_;
        std::string& bytes = readScratch_;
        auto capacity = [&] { return unit == 1 ? bytes.size() : wide.size() * unit; };
        auto base = [&]() -> char* {
            return unit == 1 ? bytes.data() : reinterpret_cast<char*>(wide.data());
        };
        auto grow = [&](std::size_t size) {
            if (unit == 1)
                bytes.resize(size);
            else
                wide.resize((size + unit - 1) / unit);
        };
        if (capacity() < 8192)
            grow(8192);
        std::size_t have = 0; // bytes of the value read so far
        for (;;) {
            const std::size_t room = capacity() - have;
            ++stats_.getDataCalls;
            const SQLRETURN rc = SQLGetData(h, column, cType, base() + have, static_cast<SQLLEN>(room), &ind);
            if (rc == SQL_NO_DATA)
                break;
            stmt.check(rc, "SQLGetData");
            if (ind == SQL_NULL_DATA) {
                sink.cell(ValueKind::Null, nullptr, 0);
                return;
            }
            if (ind != SQL_NO_TOTAL && static_cast<std::size_t>(ind) + terminator <= room) {
                have += static_cast<std::size_t>(ind);
                break;
            }
            // A full piece: what fits, less the terminator, rounded to whole units.
            const std::size_t got = (room - terminator) / unit * unit;
            have += got;
            const std::size_t rest = ind == SQL_NO_TOTAL ? capacity() : static_cast<std::size_t>(ind) - got;
            grow(have + rest + terminator + unit);
        }
        if (plan.fetch == Fetch::WideText) {
            textScratch_.clear();
            appendUtf8(textScratch_, wide.data(), have / unit);
            sink.cell(plan.kind, textScratch_.data(), textScratch_.size());
        } else {
            sink.cell(plan.kind, bytes.data(), have);
        }
        return;
    }
    }
    sink.cell(ValueKind::Null, nullptr, 0);
}

void OdbcSessionImpl::readResult(const Handle& stmt, RowSink& sink, bool noRows)
{
    stats_ = OdbcFetchStats{};
    SQLHSTMT h = stmt.get();
    SQLSMALLINT count = 0;
    if (noRows) {
        // The driver manager allows no describing here: no columns, no rows.
        sink.begin({});
        sink.end();
        return;
    }
    stmt.check(SQLNumResultCols(h, &count), "SQLNumResultCols");

    std::vector<ColumnPlan> plans(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
    std::vector<ColumnInfo> infos;
    for (SQLUSMALLINT c = 1; c <= plans.size(); ++c) {
        ColumnPlan& p = plans[c - 1];
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLRETURN rc = SQLDescribeColW(h, c, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength, &sqlType,
                                       &size, &digits, &nullable);
        if (SQL_SUCCEEDED(rc) && static_cast<std::size_t>(nameLength) >= name.size()) {
            name.resize(static_cast<std::size_t>(nameLength) + 1);
            rc = SQLDescribeColW(h, c, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength, &sqlType,
                                 &size, &digits, &nullable);
        }
        stmt.check(rc, "SQLDescribeCol");
        p.info.name = toUtf8(name.data(), std::min<std::size_t>(name.size() - 1, std::max<SQLSMALLINT>(nameLength, 0)));

        std::vector<SQLWCHAR> typeName(128);
        SQLSMALLINT typeLength = 0;
        if (SQL_SUCCEEDED(SQLColAttributeW(h, c, SQL_DESC_TYPE_NAME, typeName.data(),
                                           static_cast<SQLSMALLINT>(typeName.size() * sizeof(SQLWCHAR)), &typeLength,
                                           nullptr)))
            p.info.typeName = toUtf8(typeName.data(), std::min<std::size_t>(typeName.size() - 1,
                                                                            std::max<SQLSMALLINT>(typeLength, 0) / 2));
        classify(p, sqlType, size, digits, dialect_->kind());
        infos.push_back(p.info);
    }

    if (infos.empty()) {
        sink.begin(infos);
        sink.end();
        return;
    }

    // How the rows are read (see the top of the file).
    const SQLUINTEGER needed = SQL_GD_ANY_COLUMN | SQL_GD_BOUND;
    const bool anyBindable = std::any_of(plans.begin(), plans.end(), [](const ColumnPlan& p) { return !p.longData; });
    OdbcFetchStats::Mode mode = OdbcFetchStats::Mode::PerCell;
    if (!options_.perCellFetch && anyBindable && (getDataExtensions_ & needed) == needed)
        mode = (getDataExtensions_ & SQL_GD_BLOCK) ? OdbcFetchStats::Mode::Block : OdbcFetchStats::Mode::RowByRow;

    SQLULEN rows = 1;
    if (mode == OdbcFetchStats::Mode::Block) {
        std::size_t rowBytes = 0;
        for (const ColumnPlan& p : plans)
            if (!p.longData)
                rowBytes += static_cast<std::size_t>(p.elementBytes) + sizeof(SQLLEN);
        rows = options_.rowArraySize > 0
                   ? static_cast<SQLULEN>(options_.rowArraySize)
                   : std::clamp<SQLULEN>(kBlockBudgetBytes / std::max<std::size_t>(rowBytes, 1), 1, kMaxBlockRows);
        stmt.check(SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
                   "SQLSetStmtAttr");
        const SQLRETURN rc = SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
        // The driver may take a smaller size than asked (01S02): use its own.
        if (SQL_SUCCEEDED(rc))
            SQLGetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, &rows, 0, nullptr);
        else
            rows = 1;
        if (rows <= 1) {
            rows = 1;
            mode = OdbcFetchStats::Mode::RowByRow;
        }
    }
    stats_.mode = mode;
    stats_.rowArraySize = static_cast<long long>(rows);

    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status(rows, SQL_ROW_SUCCESS);
    // The statement points into this frame's buffers: take the pointers back
    // on every way out, so nothing is ever written here after we return.
    const auto detach = qScopeGuard([h] {
        SQLFreeStmt(h, SQL_UNBIND);
        SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    });
    if (mode == OdbcFetchStats::Mode::Block) {
        stmt.check(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), "SQLSetStmtAttr");
        // Row statuses only tell a failed row apart; a driver without them still works.
        SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    }
    if (mode != OdbcFetchStats::Mode::PerCell) {
        for (SQLUSMALLINT c = 1; c <= plans.size(); ++c) {
            ColumnPlan& p = plans[c - 1];
            if (p.longData)
                continue;
            p.buffer.resize(static_cast<std::size_t>(p.elementBytes) * rows);
            p.indicators.resize(rows);
            stmt.check(SQLBindCol(h, c, cTypeOf(p.fetch), p.buffer.data(), p.elementBytes, p.indicators.data()),
                       "SQLBindCol");
            p.bound = true;
        }
    }

    sink.begin(infos);
    for (;;) {
        ++stats_.fetchCalls;
        const SQLRETURN rc = SQLFetch(h);
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc, "SQLFetch");
        const std::size_t got = mode == OdbcFetchStats::Mode::Block ? static_cast<std::size_t>(fetched) : 1;
        for (std::size_t r = 0; r < got; ++r) {
            if (mode == OdbcFetchStats::Mode::Block && status[r] == SQL_ROW_ERROR)
                throw makeError(SQL_HANDLE_STMT, h, "SQLFetch");
            bool positioned = mode != OdbcFetchStats::Mode::Block;
            for (SQLUSMALLINT c = 1; c <= plans.size(); ++c) {
                const ColumnPlan& p = plans[c - 1];
                if (p.bound && !truncated(p, r)) {
                    emitBound(p, r, sink);
                    continue;
                }
                // Long, or longer than the driver said: read it whole from
                // the row itself (SQL_GD_BOUND allows it on bound columns).
                if (!positioned) {
                    stmt.check(SQLSetPos(h, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE),
                               "SQLSetPos");
                    positioned = true;
                }
                readCell(stmt, c, p, sink);
            }
            sink.endRow();
            ++stats_.rows;
        }
    }
    sink.end();
}

std::optional<std::string> OdbcSessionImpl::scalar(const std::string& sql)
{
    Snapshot result;
    query(sql, {}, result);
    if (result.rowCount() < 1 || result.columnCount() < 1 || result.isNull(0, 0))
        return std::nullopt;
    return std::string(result.value(0, 0));
}

std::string OdbcSessionImpl::currentSchema()
{
    switch (dialect_->kind()) {
    case DialectKind::Oracle: return scalar("select sys_context('USERENV', 'CURRENT_SCHEMA') from dual").value_or("");
    case DialectKind::PostgreSQL: return scalar("select current_schema()").value_or("");
    case DialectKind::SQLite: return {};
    case DialectKind::Generic: break;
    }
    // A source with schemas: the user's own, as the driver names the user.
    SQLUINTEGER usage = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc_.get(), SQL_SCHEMA_USAGE, &usage, sizeof usage, nullptr))
        && (usage & SQL_SU_DML_STATEMENTS))
        return infoText(SQL_USER_NAME);
    return {};
}

std::vector<std::string> OdbcSessionImpl::primaryKey(std::string_view table)
{
    const CNumericLocale numbers;
    const std::string schema = currentSchema();
    const WideText wideTable = toWide(table);
    // With the schema first; when that finds nothing (a generic source whose
    // user is not a schema), anywhere, keeping the first schema found.
    for (const bool withSchema : {true, false}) {
        if (withSchema && schema.empty())
            continue;
        const WideText wideSchema = toWide(schema);
        Handle stmt = allocate(SQL_HANDLE_STMT, &dbc_);
        stmt.check(SQLPrimaryKeysW(stmt.get(), nullptr, 0,
                                   withSchema ? const_cast<SQLWCHAR*>(wideSchema.data()) : nullptr,
                                   withSchema ? static_cast<SQLSMALLINT>(wideLength(wideSchema)) : 0,
                                   const_cast<SQLWCHAR*>(wideTable.data()),
                                   static_cast<SQLSMALLINT>(wideLength(wideTable))),
                   "SQLPrimaryKeys");
        Snapshot keys;
        readResult(stmt, keys);
        if (keys.rowCount() == 0 || keys.columnCount() < 5)
            continue;
        std::vector<std::pair<long, std::string>> columns;
        const std::string_view firstSchema = keys.value(0, 1);
        for (std::int64_t r = 0; r < keys.rowCount(); ++r) {
            if (keys.value(r, 1) != firstSchema || keys.value(r, 0) != keys.value(0, 0))
                continue;
            long seq = 0;
            const std::string_view s = keys.value(r, 4);
            std::from_chars(s.data(), s.data() + s.size(), seq);
            columns.emplace_back(seq, std::string(keys.value(r, 3)));
        }
        std::stable_sort(columns.begin(), columns.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> out;
        for (auto& [seq, name] : columns)
            out.push_back(std::move(name));
        return out;
    }
    return {};
}

void OdbcSessionImpl::tables(RowSink& sink)
{
    const CNumericLocale numbers;
    if (dialect_->kind() != DialectKind::Generic) {
        Session::tables(sink);
        return;
    }
    // Ask the driver for the base tables, in the user's schema where it has
    // schemas (the search pattern's wildcards escaped), else all it shows.
    std::string schema = currentSchema();
    if (!schema.empty()) {
        const std::string escape = infoText(SQL_SEARCH_PATTERN_ESCAPE);
        if (!escape.empty()) {
            std::string escaped;
            for (char c : schema) {
                if (c == '_' || c == '%' || escape.find(c) != std::string::npos)
                    escaped += escape;
                escaped += c;
            }
            schema = escaped;
        }
    }
    Snapshot found;
    for (const bool withSchema : {true, false}) {
        if (withSchema && schema.empty())
            continue;
        const WideText wideSchema = toWide(schema);
        const WideText pattern = toWide("%");
        const WideText type = toWide("TABLE");
        Handle stmt = allocate(SQL_HANDLE_STMT, &dbc_);
        stmt.check(SQLTablesW(stmt.get(), nullptr, 0, withSchema ? const_cast<SQLWCHAR*>(wideSchema.data()) : nullptr,
                              withSchema ? static_cast<SQLSMALLINT>(wideLength(wideSchema)) : 0,
                              const_cast<SQLWCHAR*>(pattern.data()), SQL_NTS, const_cast<SQLWCHAR*>(type.data()),
                              SQL_NTS),
                   "SQLTables");
        readResult(stmt, found);
        if (found.rowCount() > 0)
            break;
    }
    ColumnInfo name;
    name.name = "TABLE_NAME";
    name.typeName = "VARCHAR";
    name.nativeType = SQL_VARCHAR;
    sink.begin({name});
    for (std::int64_t r = 0; r < found.rowCount() && found.columnCount() >= 3; ++r) {
        const std::string_view v = found.value(r, 2);
        sink.cell(ValueKind::Text, v.data(), v.size());
        sink.endRow();
    }
    sink.end();
}

void OdbcSessionImpl::setAutocommit(bool on)
{
    dbc_.check(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON
                                                                                       : SQL_AUTOCOMMIT_OFF)),
                                  SQL_IS_UINTEGER),
               "SQLSetConnectAttr(SQL_ATTR_AUTOCOMMIT)");
}

void OdbcSessionImpl::begin()
{
    if (inTransaction_)
        throw DbError(DbError::kGeneric, "a transaction is already open on this connection");
    setAutocommit(false);
    inTransaction_ = true;
}

void OdbcSessionImpl::endTransaction(SQLSMALLINT completion)
{
    if (!inTransaction_)
        return;
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), completion);
    std::optional<DbError> failure;
    if (!SQL_SUCCEEDED(rc)) {
        failure = makeError(SQL_HANDLE_DBC, dbc_.get(), completion == SQL_COMMIT ? "commit" : "rollback");
        if (completion == SQL_COMMIT) // leave nothing half-done behind
            SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    }
    inTransaction_ = false;
    try {
        setAutocommit(true);
    } catch (const DbError&) {
        // The failure of the commit itself is the one to report.
        if (!failure)
            throw;
    }
    if (failure)
        throw *failure;
}

void OdbcSessionImpl::commit() { endTransaction(SQL_COMMIT); }
void OdbcSessionImpl::rollback() { endTransaction(SQL_ROLLBACK); }

} // namespace

std::unique_ptr<OdbcSession> ConnectOdbc(const std::string& connectionString, const OdbcOptions& options)
{
    return std::make_unique<OdbcSessionImpl>(connectionString, options);
}

std::string OdbcConnectionString(const std::string& odbcConnect, const LoginParts& login)
{
    std::string out = odbcConnect;
    // A bare name is a DSN.
    if (!out.empty() && out.find('=') == std::string::npos)
        out = "DSN=" + OdbcQuote(out);
    if (!out.empty() && out.back() != ';')
        out += ';';
    if (!login.user.empty())
        out += "UID=" + OdbcQuote(login.user) + ';';
    if (!login.password.empty())
        out += "PWD=" + OdbcQuote(login.password) + ';';
    return out;
}

std::unique_ptr<OdbcSession> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login,
                                             const OdbcOptions& options)
{
    return ConnectOdbc(OdbcConnectionString(odbcConnect, login), options);
}

std::unique_ptr<Session> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login)
{
    return OpenOdbcSession(odbcConnect, login, OdbcOptions{});
}
