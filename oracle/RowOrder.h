#pragma once

// Orders and selects the rows of a snapshot for the grid's view: sorting by
// one column or several (see ValueKeys for how values compare; NULL after every value
// ascending, before every value descending; stable, so equal values keep
// the order they had), and filtering by one condition per column. The rows
// are the snapshot's row numbers, 32 bits each. Pure functions; nothing here
// touches a database.

#include "oracle/Snapshot.h"
#include "oracle/ValueKeys.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Asked of a sort or filter whose result is no longer wanted: thrown out of
// it soon after `stop` is set. `rows` is then in no useful order.
struct ViewStopped {};

// Looks at a stop flag once in a while (none: never): often enough to end
// within a few milliseconds, seldom enough to cost nothing.
// Each copy counts on its own, so a copy per thread needs no lock.
class StopCheck {
public:
    explicit StopCheck(const std::atomic<bool>* stop) : stop_(stop) {}
    void operator()() const
    {
        if (stop_ && (++count_ & 0xFFFF) == 0 && stop_->load(std::memory_order_relaxed))
            throw ViewStopped{};
    }

private:
    const std::atomic<bool>* stop_;
    mutable std::uint32_t count_ = 0;
};

// Sorts `rows` by `column`; equal values keep their order in `rows`. With a
// `stop` flag, ends early by throwing ViewStopped once it is set.
void SortRows(const Snapshot& snapshot, int column, bool descending, std::vector<std::int32_t>& rows,
              const std::atomic<bool>* stop = nullptr);

// One column of a sort by several.
struct SortKey {
    int column = -1;
    bool descending = false;
    bool operator==(const SortKey&) const = default;
};

// Sorts `rows` by the first key, rows equal there by the second, and so on;
// rows equal by every key keep their order in `rows`.
void SortRowsBy(const Snapshot& snapshot, const std::vector<SortKey>& keys, std::vector<std::int32_t>& rows,
                const std::atomic<bool>* stop = nullptr);

// One column's filter, from what the user typed into its box:
//   plain text          the cell contains it, ignoring case
//   =x <>x <x <=x >x >=x compared by the column's type, as in sorting
//   is null, is not null
// An empty text filters nothing.
class ColumnFilter {
public:
    ColumnFilter(const ColumnInfo& column, const std::string& typed);

    enum class Op { None, Contains, Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, IsNull, IsNotNull };
    // What it asks, for a database to answer: the operator and the text typed after it.
    Op op() const { return op_; }
    const std::string& operand() const { return operand_; }

    bool empty() const { return op_ == Op::None; }
    // Why the text cannot be read by the column's type (it then filters nothing).
    const std::optional<std::string>& problem() const { return problem_; }
    bool matches(ValueKind kind, std::string_view value, const TextCollation& collation) const;

private:
    Op op_ = Op::None;
    KeyKind kind_ = KeyKind::Text;
    std::string operand_; // as typed
    ValueKey key_;
    std::optional<std::string> problem_;
};

// The rows of `rows` whose every filtered column matches, in their order.
std::vector<std::int32_t> FilterRows(const Snapshot& snapshot, const std::vector<std::pair<int, ColumnFilter>>& filters,
                                     const std::vector<std::int32_t>& rows, const std::atomic<bool>* stop = nullptr);

// Whether `haystack` contains `needle`, ignoring case (UTF-8 both).
bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle);
