#pragma once

// How much memory the rows of one open table may take. Past it the read
// stops as if memory had run out (the rows read stay), so that a table larger
// than the machine ends in a message, not in the kernel ending the program.
//
// By default the smallest of a quarter of the machine's memory, half of the
// memory limit of the program's control group where one is set, and what an
// address-space limit (RLIMIT_AS) leaves after the program's own needs (it
// is also watched as the rows are read: see TableReader).
// DERVANTA_MEMORY_BUDGET (bytes, or with a K, M or G suffix) sets it instead.

#include <cstddef>
#include <optional>
#include <string_view>

std::size_t MemoryBudget();
// The budget's share of the address space left under a limit.
std::size_t AddressSpaceBudget(std::size_t left);

// "1048576", "64K", "512M", "2G" (also lower case, and with a B after the
// letter); nothing for anything else.
std::optional<std::size_t> ParseByteSize(std::string_view text);
