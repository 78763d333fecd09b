#pragma once

// Where a row stands among the rows of a table kept in the database: the
// count of the rows before its place (its order values) in the order shown,
// once the database shows that a row is still at that place and passes the
// filters. Nothing when it is not (another user deleted it, or changed it
// so that it no longer sorts there or passes a filter).
//
// Runs on a worker with a session of its own.

#include "oracle/Engine.h"
#include "oracle/KeyOrder.h"

#include <cstdint>
#include <optional>
#include <vector>

std::optional<std::int64_t> PositionInDatabase(Session& session, const KeyOrder& order, const std::vector<Value>& place);

// The block whose places surround a row of a keyed order (`row`: its table
// columns, as stored): the last of `starts` (the blocks' first places) at or
// before it, or block 0. Nothing when no row holds its key and passes the
// filters. A key lookup for each halving of the blocks.
std::optional<std::size_t> BlockOfRow(Session& session, const KeyOrder& order, const std::vector<Value>& row,
                                      const std::vector<std::vector<Value>>& starts);
