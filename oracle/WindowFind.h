#pragma once

// Finding a text among the rows of a table kept in the database: the
// database narrows the rows to those where a column searched contains the
// text (ignoring case), a part at a time in the order shown from the current
// row on (backwards: in the order turned round), and each row it gives is
// judged here by the same rule as a find among rows in memory. Past the last
// row it wraps to the first and on to the current row. The match's position
// is the count of the rows before it in the order shown.
//
// Runs on a worker with a session of its own.

#include "oracle/Blocking.h"
#include "oracle/Engine.h"
#include "oracle/KeyOrder.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct WindowFindRequest {
    // The order shown, with its filters.
    KeyOrder order;
    // The current row: its place in the order and its values (the table's
    // columns); no place to start from the first row.
    std::optional<std::vector<Value>> place;
    std::vector<Value> current;
    // The columns searched, in their order on the screen, and the current
    // one's index among them.
    std::vector<int> columns;
    int currentColumn = 0;
    bool backwards = false;
    std::string text;
    // Whether a cell's value is a match.
    std::function<bool(int column, ValueKind kind, std::string_view value)> matches;
};

struct WindowFound {
    std::int64_t position = 0;
    int column = 0;
    bool wrapped = false;
    // The row's place and values: the next find starts there, whether or
    // not its block has come yet.
    std::vector<Value> place;
    std::vector<Value> values;
};

// Nothing when no cell matches, or once `stop` is set.
std::optional<WindowFound> FindInDatabase(Session& session, const WindowFindRequest& request,
                                          const std::atomic<bool>& stop);

// Every row, from the first in the order shown, with a cell that matches
// (the request's place, current row and direction aside): visit(values,
// columns) is given its table columns and the columns searched that match,
// in their order on the screen. False when visit said no, or `stop` came.
bool EachMatchInDatabase(Session& session, const WindowFindRequest& request,
                         const std::function<bool(std::vector<Value>, std::vector<int>)>& visit,
                         const StopToken& stop);
