#pragma once

// The count, exact sum, least and greatest of numbers given as decimal texts
// ("-12.50", "3", "1.5e3"), as the status line tells them for the cells
// selected: no rounding, however many digits. Texts that are no decimal
// number (NaN, Infinity, words) are left out of the sum, the least and the
// greatest.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class ExactSum {
public:
    // False (and nothing changes) when `text` is no decimal number.
    bool add(std::string_view text);

    std::int64_t numbers() const { return numbers_; }
    // "0" before any number; the fewest digits that say the value exactly.
    std::string sum() const;
    const std::optional<std::string>& least() const { return least_; }
    const std::optional<std::string>& greatest() const { return greatest_; }

private:
    // sign × digits × 10^exponent; digits without leading zeros ("" is zero).
    struct Number {
        bool negative = false;
        std::string digits;
        long long exponent = 0;
    };
    static std::optional<Number> read(std::string_view text);
    static void add(Number& to, Number n);

    Number sum_;
    std::int64_t numbers_ = 0;
    std::optional<std::string> least_, greatest_;
};
