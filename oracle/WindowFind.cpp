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

// The rows of `look` after `from` (all when none) and before `to` (to the
// end when none), read `part` at a time by a seek from the last row read;
// each is shown to visit(rows, r, place), which ends the walk by saying no.
void eachRow(Session& session, const KeyOrder& look, const std::vector<Value>* from, const std::vector<Value>* to,
             long long part, const std::function<bool()>& stopped,
             const std::function<bool(const Snapshot&, std::int64_t, std::vector<Value>&)>& visit)
{
    std::optional<std::vector<Value>> at;
    if (from)
        at = *from;
    for (;;) {
        if (stopped())
            return;
        const KeyOrder::Statement s = look.rowsFrom(at ? &*at : nullptr, to, part);
        Snapshot rows;
        session.query(s.sql, s.params, rows);
        for (std::int64_t r = 0; r < rows.rowCount(); ++r) {
            std::vector<Value> place = look.placeOf(rows.row(r));
            if (at && samePlace(place, *at))
                continue; // where the last part (or the walk) began
            if (!visit(rows, r, place))
                return;
        }
        if (rows.rowCount() < part)
            return;
        at = look.placeOf(rows.row(rows.rowCount() - 1));
    }
}

} // namespace

std::optional<WindowFound> FindInDatabase(Session& session, const WindowFindRequest& request,
                                          const std::atomic<bool>& stop)
{
    KeyOrder look = request.backwards ? request.order.reversed() : request.order;
    look.setAnyContaining(request.columns, request.text);
    const int first = look.firstTableColumn();
    const auto n = static_cast<int>(request.columns.size());
    // The columns of a row in the order looked in.
    const auto column = [&](int i) { return request.columns[static_cast<std::size_t>(request.backwards ? n - 1 - i : i)]; };

    struct Hit {
        std::vector<Value> place;
        int column;
        std::vector<Value> values; // the table's columns
    };
    // The first match after `from` (all when none) and before `to` (to the end when none).
    const auto scan = [&](const std::vector<Value>* from, const std::vector<Value>* to) -> std::optional<Hit> {
        std::optional<Hit> hit;
        eachRow(session, look, from, to, kPart, [&stop] { return stop.load(); }, [&](const Snapshot& rows, std::int64_t r, std::vector<Value>& place) {
            for (int i = 0; i < n; ++i)
                if (request.matches(column(i), rows.kind(r, first + column(i)), rows.value(r, first + column(i)))) {
                    std::vector<Value> values = rows.row(r);
                    values.erase(values.begin(), values.begin() + first);
                    hit = Hit{std::move(place), column(i), std::move(values)};
                    return false;
                }
            return true;
        });
        return hit;
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

bool EachMatchInDatabase(Session& session, const WindowFindRequest& request,
                         const std::function<bool(std::vector<Value>, std::vector<int>)>& visit,
                         const StopToken& stop)
{
    KeyOrder look = request.order;
    look.setAnyContaining(request.columns, request.text);
    const int first = look.firstTableColumn();
    bool ended = false;
    // Many rows at a time: every match is wanted, not the first.
    eachRow(session, look, nullptr, nullptr, 1024, [&stop] { return stop.stopRequested(); }, [&](const Snapshot& rows, std::int64_t r, std::vector<Value>&) {
        std::vector<int> matched;
        for (int c : request.columns)
            if (request.matches(c, rows.kind(r, first + c), rows.value(r, first + c)))
                matched.push_back(c);
        if (matched.empty())
            return true;
        std::vector<Value> values = rows.row(r);
        values.erase(values.begin(), values.begin() + first);
        ended = !visit(std::move(values), std::move(matched));
        return !ended;
    });
    return !ended && !stop.stopRequested();
}
