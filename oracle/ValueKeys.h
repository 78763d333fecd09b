#pragma once

// How values of a column compare, by the column's type: integers and exact
// decimals numerically and exactly whatever their number of digits; reals
// numerically with NaN after every number; dates, times and timestamps
// chronologically (with a time zone, by instant); booleans false before
// true; binary values by size. Text compares by the user's locale collation
// (TextCollation). A value the type cannot read (SQLite keeps any value in
// any column) comes after every value it can read, ordered by its text.
// Pure functions over the exact text read; nothing here touches a database.

#include "oracle/Engine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// A value reduced to what orders it.
struct ValueKey {
    // The class orders first: what the type reads, then NaN, then what it
    // cannot read, then NULL.
    enum Class : std::uint8_t { Read = 0, NotANumber = 1, Unreadable = 2, Null = 3 };
    Class cls = Null;
    std::int64_t whole = 0; // integers, seconds, sizes, booleans
    std::int32_t part = 0;  // nanoseconds
    double real = 0;        // reals; a decimal's approximation
};

// How the keys of a column's type are made and compared.
enum class KeyKind : std::uint8_t { Decimal, Real, Time, Boolean, Size, Text };
KeyKind KeyKindOf(const ColumnInfo& column);

// The key of one value. `text` is the exact text (or bytes) read.
ValueKey MakeKey(KeyKind kind, ValueKind valueKind, std::string_view text);

// Compares two keys of the same kind (-1, 0, 1); for Decimal, equal
// approximations are settled exactly by the texts. Text keys are not
// compared here.
int CompareKeys(KeyKind kind, const ValueKey& a, std::string_view textA, const ValueKey& b, std::string_view textB);

// The text without blanks at either end.
std::string_view TrimmedText(std::string_view s);

// Two exact decimal texts compared by value ("-0.50" equals "-.5").
int CompareDecimalTexts(std::string_view a, std::string_view b);

// Why a text typed as a value of this kind cannot be read; nothing when it
// can (then `key` is its key).
std::optional<std::string> ReadTypedKey(KeyKind kind, std::string_view text, ValueKey& key);

// The user's locale collation, for text. Sort keys are byte strings that
// compare with memcmp in the collation's order.
class TextCollation {
public:
    TextCollation();
    ~TextCollation();
    TextCollation(const TextCollation&) = delete;
    TextCollation& operator=(const TextCollation&) = delete;

    // Appends the sort key of a UTF-8 text to `out`.
    void appendSortKey(std::string_view utf8, std::string& out) const;
    int compare(std::string_view a, std::string_view b) const;

private:
    struct Collator;
    std::unique_ptr<Collator> collator_;
};
