#pragma once

// How much memory the rows of one open table may take. Past it the read
// stops as if memory had run out (the rows read stay), so that a table larger
// than the machine ends in a message, not in the kernel ending the program.
//
// By default the smaller of half of the machine's memory and three quarters
// of the memory limit of the program's control group, where one is set. (An
// address-space limit is watched apart, as the rows are read: see
// TableReader.) DERVANTA_MEMORY_BUDGET (bytes, or with a K, M or G suffix)
// sets it instead.

#include <cstddef>
#include <optional>
#include <string_view>

std::size_t MemoryBudget();

// "1048576", "64K", "512M", "2G" (also lower case, and with a B after the
// letter); nothing for anything else.
std::optional<std::size_t> ParseByteSize(std::string_view text);
