#include "oracle/MemoryBudget.h"

#include "oracle/BlockMemory.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

#include <unistd.h>

namespace {

std::optional<std::size_t> physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || size <= 0)
        return std::nullopt;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(size);
}

std::optional<std::size_t> numberIn(const std::string& path)
{
    std::ifstream file(path);
    std::string text;
    if (!(file >> text))
        return std::nullopt;
    std::size_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt; // "max": no limit
    return n;
}

// The memory limit of this process's control group (version 2, else 1).
std::optional<std::size_t> groupLimit()
{
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    while (std::getline(self, line)) {
        if (line.rfind("0::", 0) == 0) {
            if (std::optional<std::size_t> n = numberIn("/sys/fs/cgroup" + line.substr(3) + "/memory.max"))
                return n;
            return numberIn("/sys/fs/cgroup/memory.max");
        }
    }
    const std::optional<std::size_t> v1 = numberIn("/sys/fs/cgroup/memory/memory.limit_in_bytes");
    // Version 1 writes a huge number for no limit.
    return v1 && *v1 < (std::size_t{1} << 60) ? v1 : std::nullopt;
}

} // namespace

std::optional<std::size_t> ParseByteSize(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    if (!text.empty() && (text.back() == 'b' || text.back() == 'B') && text.size() > 1
        && std::isalpha(static_cast<unsigned char>(text[text.size() - 2])))
        text.remove_suffix(1);
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        default: break;
        }
        if (shift)
            text.remove_suffix(1);
    }
    std::size_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    if (n > (std::numeric_limits<std::size_t>::max() >> shift))
        return std::nullopt;
    return n << shift;
}

std::size_t AddressSpaceBudget(std::size_t left)
{
    // Besides the rows: sorting and finding, the window's blocks, the
    // threads' stacks and what painting maps.
    constexpr std::size_t kOwnNeeds = std::size_t{256} << 20;
    return left > 2 * kOwnNeeds ? left - kOwnNeeds : left / 2;
}

std::size_t MemoryBudget()
{
    if (const char* set = std::getenv("DERVANTA_MEMORY_BUDGET")) {
        if (const std::optional<std::size_t> n = ParseByteSize(set))
            return *n;
        std::fprintf(stderr, "dervanta: DERVANTA_MEMORY_BUDGET=\"%s\" is no size (such as 512M or 2G); not used\n", set);
    }
    std::size_t budget = std::numeric_limits<std::size_t>::max();
    if (const std::optional<std::size_t> physical = physicalMemory())
        budget = std::min(budget, *physical / 4);
    if (const std::optional<std::size_t> group = groupLimit())
        budget = std::min(budget, *group / 2);
    if (const std::optional<std::size_t> left = AddressSpaceLeft())
        budget = std::min(budget, AddressSpaceBudget(*left));
    return budget;
}
