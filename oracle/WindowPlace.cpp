#include "oracle/WindowPlace.h"

#include "oracle/Snapshot.h"

#include <string>

std::optional<std::int64_t> PositionInDatabase(Session& session, const KeyOrder& order, const std::vector<Value>& place)
{
    // The first row at or after the place is the row itself, when it is still there.
    const KeyOrder::Statement first = order.rowsFrom(&place, nullptr, 1);
    Snapshot rows;
    session.query(first.sql, first.params, rows);
    if (rows.rowCount() == 0)
        return std::nullopt;
    const std::vector<Value> found = order.placeOf(rows.row(0));
    if (!SameValues(found, place))
        return std::nullopt;
    const KeyOrder::Statement count = order.countBefore(place);
    Snapshot counted;
    session.query(count.sql, count.params, counted);
    return std::stoll(std::string(counted.value(0, 0)));
}

std::optional<std::size_t> BlockOfRow(Session& session, const KeyOrder& order, const std::vector<Value>& row,
                                      const std::vector<std::vector<Value>>& starts)
{
    const auto holds = [&](const std::vector<Value>* from) {
        const KeyOrder::Statement s = order.keyAtOrAfter(row, from);
        Snapshot counted;
        session.query(s.sql, s.params, counted);
        return counted.rowCount() > 0 && std::stoll(std::string(counted.value(0, 0))) > 0;
    };
    if (!holds(nullptr))
        return std::nullopt;
    std::size_t low = 0;
    std::size_t high = starts.empty() ? 0 : starts.size() - 1;
    while (low < high) {
        const std::size_t middle = low + (high - low + 1) / 2;
        if (holds(&starts[middle]))
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}
