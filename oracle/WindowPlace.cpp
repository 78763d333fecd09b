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
