#include "oracle/RowOrder.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// How many threads put `n` rows in order: the machine's cores, up to four,
// for a table large enough to be worth them.
unsigned threadsFor(std::size_t n)
{
    if (n < 200'000)
        return 1;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

// Runs body(first, last, part) over `parts` slices of [0, n), each on a
// thread of its own (the first on this one, and any whose thread cannot be
// had); the first failure of any is thrown here once all have ended.
template <typename Body>
void inParallel(std::size_t n, unsigned parts, const Body& body)
{
    std::vector<std::exception_ptr> failures(parts);
    const auto run = [&](unsigned part) {
        try {
            body(n * part / parts, n * (part + 1) / parts, part);
        } catch (...) {
            failures[part] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        std::vector<unsigned> here{0};
        for (unsigned part = 1; part < parts; ++part) {
            try {
                threads.emplace_back(run, part);
            } catch (const std::system_error&) {
                here.push_back(part);
            }
        }
        for (unsigned part : here)
            run(part);
    }
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

// std::sort over `parts` threads: the range is split about its middle
// element (nth_element), and each side is sorted on its own. `less` must be
// a total order; each thread works with its own copy of it.
template <typename It, typename Less>
void sortInParallel(It first, It last, const Less& less, unsigned parts)
{
    if (parts <= 1 || last - first < 100'000) {
        std::sort(first, last, less);
        return;
    }
    const It middle = first + (last - first) / 2;
    std::nth_element(first, middle, last, less);
    inParallel(2, 2, [&](std::size_t side, std::size_t, unsigned) {
        if (side == 0)
            sortInParallel(first, middle, less, parts / 2);
        else
            sortInParallel(middle, last, less, parts - parts / 2);
    });
}

// A row read by the column's type, as one unsigned number that orders as the
// key does (and a second for what the first cannot hold), next to its place
// in the order before the sort.
struct Ranked {
    std::uint64_t major;
    std::uint32_t minor;
    std::uint32_t position;
};

std::uint64_t ordered(std::int64_t v) { return static_cast<std::uint64_t>(v) ^ (std::uint64_t{1} << 63); }

std::uint64_t ordered(double v)
{
    if (v == 0)
        v = 0; // -0 and +0 are the same number
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & (std::uint64_t{1} << 63)) ? ~bits : bits | (std::uint64_t{1} << 63);
}

// Sorts by major (then minor, where it counts), ties keeping their order,
// one byte at a time from the last (a stable radix sort: no comparisons, so
// the time grows with the rows, not faster); bytes that every row shares
// are passed over. Descending sorts the keys' complements. Each pass runs
// in slices, one a thread: a slice's rows go to places of their own in
// every byte's run, after those of the slices before it, so ties stay in order.
void radixSort(std::vector<Ranked>& ranked, bool byMinor, bool descending, const std::atomic<bool>* stop)
{
    const std::size_t n = ranked.size();
    if (n < 2)
        return;
    constexpr int kBytes = 12; // minor's four, then major's eight, least significant first
    const int firstByte = byMinor ? 0 : 4;
    const auto byteOf = [descending](const Ranked& r, int b) -> unsigned {
        const std::uint64_t v = b < 4 ? r.minor : r.major;
        const unsigned byte = static_cast<unsigned>(v >> (8 * (b < 4 ? b : b - 4))) & 0xFF;
        return descending ? 255 - byte : byte;
    };
    using Counts = std::array<std::size_t, 256>;
    const unsigned parts = threadsFor(n);
    // Which bytes differ between rows at all.
    std::vector<std::array<Counts, kBytes>> seen(parts);
    inParallel(n, parts, [&](std::size_t first, std::size_t last, unsigned part) {
        const StopCheck check(stop);
        auto& counts = seen[part];
        for (Counts& c : counts)
            c.fill(0);
        for (std::size_t i = first; i < last; ++i) {
            check();
            for (int b = firstByte; b < kBytes; ++b)
                ++counts[static_cast<std::size_t>(b)][byteOf(ranked[i], b)];
        }
    });
    std::vector<Ranked> other(n);
    std::vector<Counts> places(parts);
    for (int b = firstByte; b < kBytes; ++b) {
        bool shared = false;
        for (unsigned v = 0; v < 256 && !shared; ++v) {
            std::size_t total = 0;
            for (unsigned part = 0; part < parts; ++part)
                total += seen[part][static_cast<std::size_t>(b)][v];
            shared = total == n;
        }
        if (shared)
            continue; // every row has the same byte here
        inParallel(n, parts, [&](std::size_t first, std::size_t last, unsigned part) {
            const StopCheck check(stop);
            Counts& c = places[part];
            c.fill(0);
            for (std::size_t i = first; i < last; ++i) {
                check();
                ++c[byteOf(ranked[i], b)];
            }
        });
        std::size_t at = 0;
        for (unsigned v = 0; v < 256; ++v)
            for (unsigned part = 0; part < parts; ++part)
                at += std::exchange(places[part][v], at);
        inParallel(n, parts, [&](std::size_t first, std::size_t last, unsigned part) {
            const StopCheck check(stop);
            Counts& c = places[part];
            for (std::size_t i = first; i < last; ++i) {
                check();
                other[c[byteOf(ranked[i], b)]++] = ranked[i];
            }
        });
        ranked.swap(other);
    }
}

// Whether two decimal texts with this one's nearest double are always the
// same number: no more than 15 significant digits (what a double tells
// apart), written without an exponent, and short enough to stay clear of
// the smallest doubles.
bool nearestIsExact(std::string_view text)
{
    int digits = 0;
    bool leading = true;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            leading = leading && c == '0';
            digits += leading ? 0 : 1;
        } else if (c == 'e' || c == 'E') {
            return false;
        }
    }
    return digits <= 15 && text.size() <= 300;
}

void sortByKeys(const Snapshot& snapshot, int column, KeyKind kind, bool descending, std::vector<std::int32_t>& rows,
                const std::atomic<bool>* stop)
{
    const StopCheck check(stop);
    // Rows the type reads are ranked by numbers; NaN, what it cannot read and
    // NULL go apart, each kept in order, and follow them (precede, descending).
    // The keys are read in slices, one a thread; the slices are joined in
    // order, so each list keeps the rows' order.
    // A slice's ranked rows are written in place, from its first row on,
    // then moved down to follow the slice before.
    struct Slice {
        std::size_t first = 0, ranked = 0;
        std::vector<std::uint32_t> notANumber, unreadable, nulls;
    };
    std::vector<Ranked> ranked(rows.size());
    const unsigned parts = threadsFor(rows.size());
    std::vector<Slice> slices(parts);
    inParallel(rows.size(), parts, [&](std::size_t first, std::size_t last, unsigned part) {
        const StopCheck checkHere(stop);
        Slice& slice = slices[part];
        slice.first = first;
        Ranked* out = ranked.data() + first;
        for (std::size_t i = first; i < last; ++i) {
            checkHere();
            const auto position = static_cast<std::uint32_t>(i);
            const std::string_view text = snapshot.value(rows[i], column);
            const ValueKey key = MakeKey(kind, snapshot.kind(rows[i], column), text);
            switch (key.cls) {
            case ValueKey::Read:
                if (kind == KeyKind::Decimal)
                    *out++ = {ordered(key.real), nearestIsExact(text) ? 0u : 1u, position};
                else if (kind == KeyKind::Real)
                    *out++ = {ordered(key.real), 0, position};
                else
                    *out++ = {ordered(key.whole), static_cast<std::uint32_t>(key.part), position};
                break;
            case ValueKey::NotANumber: slice.notANumber.push_back(position); break;
            case ValueKey::Unreadable: slice.unreadable.push_back(position); break;
            case ValueKey::Null: slice.nulls.push_back(position); break;
            }
        }
        slice.ranked = static_cast<std::size_t>(out - (ranked.data() + first));
    });
    std::vector<std::uint32_t> notANumber, unreadable, nulls;
    std::size_t kept = 0;
    for (Slice& slice : slices) {
        if (kept != slice.first)
            std::memmove(ranked.data() + kept, ranked.data() + slice.first, slice.ranked * sizeof(Ranked));
        kept += slice.ranked;
        notANumber.insert(notANumber.end(), slice.notANumber.begin(), slice.notANumber.end());
        unreadable.insert(unreadable.end(), slice.unreadable.begin(), slice.unreadable.end());
        nulls.insert(nulls.end(), slice.nulls.begin(), slice.nulls.end());
    }
    ranked.resize(kept);
    // For numbers `minor` only marks those whose digits may have to settle the order.
    const bool byMinor = kind != KeyKind::Decimal && kind != KeyKind::Real;
    radixSort(ranked, byMinor, descending, stop);
    const auto text = [&](std::uint32_t position) { return snapshot.value(rows[position], column); };
    // Decimals whose approximations are equal are put in order by their digits.
    if (kind == KeyKind::Decimal) {
        for (std::size_t i = 0; i < ranked.size();) {
            std::size_t j = i + 1;
            while (j < ranked.size() && ranked[j].major == ranked[i].major)
                ++j;
            // Numbers the nearest double holds exactly are equal when their
            // doubles are; equal texts are equal values: most runs need no more.
            bool exact = true;
            for (std::size_t k = i; k < j && exact; ++k)
                exact = ranked[k].minor == 0;
            bool differ = false;
            for (std::size_t k = i + 1; k < j && !differ && !exact; ++k)
                differ = text(ranked[k].position) != text(ranked[i].position);
            if (differ)
                std::stable_sort(ranked.begin() + static_cast<std::ptrdiff_t>(i),
                                 ranked.begin() + static_cast<std::ptrdiff_t>(j), [&](const Ranked& a, const Ranked& b) {
                                     check();
                                     const int c = CompareDecimalTexts(text(a.position), text(b.position));
                                     return descending ? c > 0 : c < 0;
                                 });
            i = j;
        }
    }
    std::stable_sort(unreadable.begin(), unreadable.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int c = text(a).compare(text(b));
        return descending ? c > 0 : c < 0;
    });

    std::vector<std::int32_t> sorted;
    sorted.reserve(rows.size());
    const auto add = [&](const std::vector<std::uint32_t>& positions) {
        for (std::uint32_t p : positions)
            sorted.push_back(rows[p]);
    };
    const auto addRanked = [&] {
        const std::size_t base = sorted.size();
        sorted.resize(base + ranked.size());
        inParallel(ranked.size(), threadsFor(ranked.size()), [&](std::size_t first, std::size_t last, unsigned) {
            for (std::size_t i = first; i < last; ++i)
                sorted[base + i] = rows[ranked[i].position];
        });
    };
    if (descending) {
        add(nulls);
        add(unreadable);
        add(notANumber);
        addRanked();
    } else {
        addRanked();
        add(notANumber);
        add(unreadable);
        add(nulls);
    }
    rows.swap(sorted);
}

// Text by the locale's collation: every row's sort key is made once, into
// one arena; its first eight bytes, big-endian, settle most comparisons
// without leaving the record.
struct TextRow {
    std::uint64_t prefix;
    std::uint64_t offset;
    std::uint32_t length;
    std::uint32_t position;
    std::uint8_t cls;
};

void sortByText(const Snapshot& snapshot, int column, bool descending, std::vector<std::int32_t>& rows,
                const std::atomic<bool>* stop)
{
    // The keys are made in slices, each on its own thread with its own
    // collator and arena; a row's offset names its arena in its top byte.
    const unsigned parts = threadsFor(rows.size());
    std::vector<std::string> arenas(parts);
    std::vector<TextRow> keyed(rows.size());
    inParallel(rows.size(), parts, [&](std::size_t first, std::size_t last, unsigned part) {
        const TextCollation collation;
        const StopCheck check(stop);
        std::string& arena = arenas[part];
        arena.reserve((last - first) * 24); // about a short text's key: the arena seldom moves
        for (std::size_t i = first; i < last; ++i) {
            check();
            const ValueKind kind = snapshot.kind(rows[i], column);
            TextRow& r = keyed[i];
            r.position = static_cast<std::uint32_t>(i);
            const std::size_t start = arena.size();
            r.cls = kind == ValueKind::Null   ? ValueKey::Null
                    : kind == ValueKind::Blob ? ValueKey::Unreadable
                                              : ValueKey::Read;
            if (r.cls == ValueKey::Read)
                collation.appendSortKey(snapshot.value(rows[i], column), arena);
            else if (r.cls == ValueKey::Unreadable)
                arena.append(snapshot.value(rows[i], column));
            r.length = static_cast<std::uint32_t>(arena.size() - start);
            r.offset = (std::uint64_t{part} << 56) | start;
            std::uint64_t prefix = 0;
            for (std::size_t k = 0; k < 8; ++k)
                prefix = (prefix << 8) | (k < r.length ? static_cast<unsigned char>(arena[start + k]) : 0u);
            r.prefix = prefix;
        }
    });
    std::vector<const char*> bases;
    for (const std::string& arena : arenas)
        bases.push_back(arena.data());
    const auto bytes = [&bases](const TextRow& r) {
        return bases[r.offset >> 56] + (r.offset & ((std::uint64_t{1} << 56) - 1));
    };
    sortInParallel(keyed.begin(), keyed.end(), [&bytes, descending, check = StopCheck(stop)](const TextRow& a, const TextRow& b) {
        check();
        int c = 0;
        if (a.cls != b.cls) {
            c = a.cls < b.cls ? -1 : 1;
        } else if (a.prefix != b.prefix) {
            c = a.prefix < b.prefix ? -1 : 1;
        } else if (a.length > 8 || b.length > 8) {
            const int m = std::memcmp(bytes(a), bytes(b), std::min(a.length, b.length));
            c = m != 0 ? (m < 0 ? -1 : 1) : a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
        } else {
            c = a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
        }
        if (descending)
            c = -c;
        return c < 0 || (c == 0 && a.position < b.position);
    }, parts);
    std::vector<std::int32_t> sorted(rows.size());
    for (std::size_t i = 0; i < keyed.size(); ++i)
        sorted[i] = rows[keyed[i].position];
    rows.swap(sorted);
}

std::string_view trimmed(std::string_view s) { return TrimmedText(s); }

// "is null" and "is not null" in any case, with any blanks between the words.
bool isWords(std::string_view s, std::initializer_list<std::string_view> words)
{
    for (std::string_view w : words) {
        s = trimmed(s);
        if (s.size() < w.size())
            return false;
        for (std::size_t i = 0; i < w.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(s[i])) != w[i])
                return false;
        s.remove_prefix(w.size());
        if (!s.empty() && !std::isspace(static_cast<unsigned char>(s.front())))
            return false;
    }
    return trimmed(s).empty();
}

} // namespace

void SortRows(const Snapshot& snapshot, int column, bool descending, std::vector<std::int32_t>& rows,
              const std::atomic<bool>* stop)
{
    const KeyKind kind = KeyKindOf(snapshot.columns()[static_cast<std::size_t>(column)]);
    if (kind == KeyKind::Text)
        sortByText(snapshot, column, descending, rows, stop);
    else
        sortByKeys(snapshot, column, kind, descending, rows, stop);
}

void SortRowsBy(const Snapshot& snapshot, const std::vector<SortKey>& keys, std::vector<std::int32_t>& rows,
                const std::atomic<bool>* stop)
{
    // Every single-column sort keeps ties in the order it was given, so
    // sorting by the last key first and by the first key last leaves rows
    // ordered by the first, ties by the second, and so on: each column keeps
    // its own fast sort (numbers by radix, texts by collation keys), and one
    // key costs exactly what it did alone.
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        if (key->column >= 0)
            SortRows(snapshot, key->column, key->descending, rows, stop);
}

bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return true;
    const bool ascii = std::all_of(needle.begin(), needle.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        return QString::fromUtf8(haystack.data(), static_cast<qsizetype>(haystack.size()))
            .contains(QString::fromUtf8(needle.data(), static_cast<qsizetype>(needle.size())), Qt::CaseInsensitive);
    }
    if (haystack.size() < needle.size())
        return false;
    // ASCII letters only: every other byte (those of UTF-8 sequences too) is itself.
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    const char first = lower(needle.front());
    const char firstUpper = first >= 'a' && first <= 'z' ? static_cast<char>(first - ('a' - 'A')) : first;
    const char* const stop = haystack.data() + (haystack.size() - needle.size() + 1); // where a match may start
    const auto restMatches = [&](const char* at) {
        for (std::size_t k = 1; k < needle.size(); ++k)
            if (lower(at[k]) != lower(needle[k]))
                return false;
        return true;
    };
    // Each case of the first letter is looked for by memchr, which goes fast over long texts.
    for (const char wanted : {first, firstUpper}) {
        for (const char* at = haystack.data(); at < stop; ++at) {
            at = static_cast<const char*>(std::memchr(at, wanted, static_cast<std::size_t>(stop - at)));
            if (!at)
                break;
            if (restMatches(at))
                return true;
        }
        if (firstUpper == first)
            break;
    }
    return false;
}

ColumnFilter::ColumnFilter(const ColumnInfo& column, const std::string& typed) : kind_(KeyKindOf(column))
{
    const std::string_view t = trimmed(typed);
    if (t.empty())
        return;
    if (isWords(t, {"is", "null"})) {
        op_ = Op::IsNull;
        return;
    }
    if (isWords(t, {"is", "not", "null"})) {
        op_ = Op::IsNotNull;
        return;
    }
    static const std::pair<std::string_view, Op> operators[] = {{"<=", Op::LessEqual}, {">=", Op::GreaterEqual},
                                                                {"<>", Op::NotEqual},  {"!=", Op::NotEqual},
                                                                {"=", Op::Equal},      {"<", Op::Less},
                                                                {">", Op::Greater}};
    for (const auto& [symbol, op] : operators) {
        if (t.substr(0, symbol.size()) != symbol)
            continue;
        op_ = op;
        operand_ = std::string(kind_ == KeyKind::Text ? t.substr(symbol.size()) : trimmed(t.substr(symbol.size())));
        if (auto why = ReadTypedKey(kind_, operand_, key_)) {
            problem_ = "\"" + operand_ + "\" is " + *why;
            op_ = Op::None;
        }
        return;
    }
    op_ = Op::Contains;
    operand_ = typed;
}

bool ColumnFilter::matches(ValueKind kind, std::string_view value, const TextCollation& collation) const
{
    switch (op_) {
    case Op::None: return true;
    case Op::IsNull: return kind == ValueKind::Null;
    case Op::IsNotNull: return kind != ValueKind::Null;
    case Op::Contains: return kind != ValueKind::Null && kind != ValueKind::Blob && ContainsIgnoringCase(value, operand_);
    default: break;
    }
    if (kind == ValueKind::Null)
        return false;
    int c = 0;
    if (kind_ == KeyKind::Text) {
        if (kind == ValueKind::Blob)
            return false;
        c = collation.compare(value, operand_);
    } else {
        const ValueKey cell = MakeKey(kind_, kind, value);
        if (cell.cls == ValueKey::Unreadable || cell.cls == ValueKey::Null)
            return false;
        c = CompareKeys(kind_, cell, value, key_, operand_);
    }
    switch (op_) {
    case Op::Equal: return c == 0;
    case Op::NotEqual: return c != 0;
    case Op::Less: return c < 0;
    case Op::LessEqual: return c <= 0;
    case Op::Greater: return c > 0;
    case Op::GreaterEqual: return c >= 0;
    default: return true;
    }
}

std::vector<std::int32_t> FilterRows(const Snapshot& snapshot, const std::vector<std::pair<int, ColumnFilter>>& filters,
                                     const std::vector<std::int32_t>& rows, const std::atomic<bool>* stop)
{
    const TextCollation collation;
    StopCheck check(stop);
    std::vector<std::int32_t> kept;
    for (const std::int32_t row : rows) {
        check();
        bool all = true;
        for (const auto& [column, filter] : filters) {
            if (!filter.matches(snapshot.kind(row, column), snapshot.value(row, column), collation)) {
                all = false;
                break;
            }
        }
        if (all)
            kept.push_back(row);
    }
    kept.shrink_to_fit();
    return kept;
}
