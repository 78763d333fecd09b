#pragma once

// Reading fixed-width fields off the front of a text (dates, times, offsets):
// each takes what it reads from `s` only when it succeeds.

#include <cctype>
#include <cstddef>
#include <string_view>

namespace text {

// Exactly n decimal digits.
inline bool readDigits(std::string_view& s, std::size_t n, int& value)
{
    if (s.size() < n)
        return false;
    int v = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(s[k])))
            return false;
        v = v * 10 + (s[k] - '0');
    }
    value = v;
    s.remove_prefix(n);
    return true;
}

// The character c.
inline bool take(std::string_view& s, char c)
{
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

} // namespace text
