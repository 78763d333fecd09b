#include "oracle/WindowFind.h"

#include "oracle/Snapshot.h"

#include <string>

namespace {

// Rows asked of the database at a time: a match is often among the first.
constexpr long long kPart = 64;

bool samePlace(const std::vector<Value>& a, const std::vector<Value>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!SameValue(a[i].kind, a[i].bytes, b[i].kind, b[i].bytes))
            return false;
    return true;
}

} // namespace

std::optional<WindowFound> FindInDatabase(Session& session, const WindowFindRequest& request,
                                          const std::atomic<bool>& stop)
{
    KeyOrder look = request.backwards ? request.order.reversed() : request.order;
    // Rows not narrowed by the database come many at a time.
    const long long part = look.setAnyContaining(request.columns, request.text) ? kPart : 1024;
    const int first = look.firstTableColumn();
    const auto n = static_cast<int>(request.columns.size());
    // The columns of a row in the order looked in.
    const auto column = [&](int i) { return request.columns[static_cast<std::size_t>(request.backwards ? n - 1 - i : i)]; };

    struct Hit {
        std::vector<Value> place;
        int column;
        std::vector<Value> values; // the table's columns
    };
    // The rows after `from` (all when none) and before `to` (to the end when none).
    const auto scan = [&](const std::vector<Value>* from, const std::vector<Value>* to) -> std::optional<Hit> {
        std::optional<std::vector<Value>> at;
        if (from)
            at = *from;
        for (;;) {
            if (stop.load())
                return std::nullopt;
            const KeyOrder::Statement s = look.rowsFrom(at ? &*at : nullptr, to, part);
            Snapshot rows;
            session.query(s.sql, s.params, rows);
            for (std::int64_t r = 0; r < rows.rowCount(); ++r) {
                std::vector<Value> place = look.placeOf(rows.row(r));
                if (at && samePlace(place, *at))
                    continue; // where the last part (or the search) began
                for (int i = 0; i < n; ++i)
                    if (request.matches(column(i), rows.kind(r, first + column(i)), rows.value(r, first + column(i)))) {
                        std::vector<Value> values = rows.row(r);
                        values.erase(values.begin(), values.begin() + first);
                        return Hit{std::move(place), column(i), std::move(values)};
                    }
            }
            if (rows.rowCount() < part)
                return std::nullopt;
            at = look.placeOf(rows.row(rows.rowCount() - 1));
        }
    };
    const auto currentRowFrom = [&](int begin, int end) -> std::optional<int> {
        for (int i = begin; i < end; ++i) {
            const auto c = static_cast<std::size_t>(column(i));
            if (c < request.current.size() && request.matches(column(i), request.current[c].kind, request.current[c].bytes))
                return column(i);
        }
        return std::nullopt;
    };

    const std::vector<Value>* from = request.place ? &*request.place : nullptr;
    // The current row's columns after the current one first.
    const int here = request.backwards ? n - 1 - request.currentColumn : request.currentColumn;
    std::optional<Hit> hit;
    bool wrapped = false;
    if (from)
        if (const std::optional<int> c = currentRowFrom(here + 1, n))
            hit = Hit{*from, *c, request.current};
    if (!hit)
        hit = scan(from, nullptr);
    if (!hit && from && !stop.load()) {
        wrapped = true;
        hit = scan(nullptr, from);
        if (!hit)
            if (const std::optional<int> c = currentRowFrom(0, here + 1))
                hit = Hit{*from, *c, request.current};
    }
    if (!hit || stop.load())
        return std::nullopt;
    const KeyOrder::Statement count = request.order.countBefore(hit->place);
    Snapshot counted;
    session.query(count.sql, count.params, counted);
    return WindowFound{std::stoll(std::string(counted.value(0, 0))), hit->column, wrapped, std::move(hit->place),
                       std::move(hit->values)};
}

namespace {

// Judges each row as it comes and hands on the matches; thrown to end the
// query early.
struct MatchesEnded {};

class MatchSink final : public RowSink {
public:
    MatchSink(const WindowFindRequest& request, int first,
              const std::function<bool(std::vector<Value>, std::vector<int>)>& visit, const StopToken& stop)
        : request_(request), first_(first), visit_(visit), stop_(stop)
    {
    }
    void begin(const std::vector<ColumnInfo>&) override {}
    void cell(ValueKind kind, const char* data, std::size_t size) override
    {
        row_.push_back(Value{kind, data ? std::string(data, size) : std::string()});
    }
    void endRow() override
    {
        std::vector<Value> values = std::move(row_);
        row_ = {};
        values.erase(values.begin(), values.begin() + first_);
        std::vector<int> matched;
        for (int c : request_.columns) {
            const Value& v = values[static_cast<std::size_t>(c)];
            if (request_.matches(c, v.kind, v.bytes))
                matched.push_back(c);
        }
        if ((!matched.empty() && !visit_(std::move(values), std::move(matched))) || stop_.stopRequested())
            throw MatchesEnded{};
    }

private:
    const WindowFindRequest& request_;
    int first_;
    const std::function<bool(std::vector<Value>, std::vector<int>)>& visit_;
    const StopToken& stop_;
    std::vector<Value> row_;
};

} // namespace

bool EachMatchInDatabase(Session& session, const WindowFindRequest& request,
                         const std::function<bool(std::vector<Value>, std::vector<int>)>& visit,
                         const StopToken& stop)
{
    KeyOrder look = request.order;
    look.setAnyContaining(request.columns, request.text);
    // One pass: the database narrows the rows and sorts only those.
    const KeyOrder::Statement s = look.rowsFrom(nullptr, nullptr, std::nullopt);
    MatchSink sink(request, look.firstTableColumn(), visit, stop);
    try {
        session.queryLarge(s.sql, s.params, sink);
    } catch (const MatchesEnded&) {
        return false;
    }
    return !stop.stopRequested();
}
