#include "oracle/ExactSum.h"

#include "oracle/ValueKeys.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

// Far enough for any number a column holds; past it a text is not summed
// (its digits would have to be written out in full).
constexpr long long kFarthestExponent = 4000;

std::string stripped(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

// a - b for magnitudes (same exponent, a >= b), digits without leading zeros.
std::string subtract(const std::string& a, const std::string& b)
{
    std::string out(a.size(), '0');
    int borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::size_t ai = a.size() - 1 - i;
        int d = (a[ai] - '0') - borrow - (i < b.size() ? b[b.size() - 1 - i] - '0' : 0);
        borrow = d < 0 ? 1 : 0;
        out[ai] = static_cast<char>('0' + (d + 10) % 10);
    }
    const std::size_t first = out.find_first_not_of('0');
    return first == std::string::npos ? std::string() : out.substr(first);
}

std::string addMagnitudes(const std::string& a, const std::string& b)
{
    std::string out;
    out.reserve(std::max(a.size(), b.size()) + 1);
    int carry = 0;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()) || carry; ++i) {
        const int d = carry + (i < a.size() ? a[a.size() - 1 - i] - '0' : 0) + (i < b.size() ? b[b.size() - 1 - i] - '0' : 0);
        out.push_back(static_cast<char>('0' + d % 10));
        carry = d / 10;
    }
    std::reverse(out.begin(), out.end());
    return out;
}

// Whether magnitude a < b (same exponent, no leading zeros).
bool less(const std::string& a, const std::string& b) { return a.size() != b.size() ? a.size() < b.size() : a < b; }

} // namespace

std::optional<ExactSum::Number> ExactSum::read(std::string_view text)
{
    const std::string s = stripped(text);
    std::size_t i = 0;
    Number n;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        n.negative = s[i++] == '-';
    std::string digits;
    long long afterPoint = 0;
    bool point = false, any = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits += c;
            any = true;
            afterPoint += point ? 1 : 0;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any)
        return std::nullopt;
    long long exponent = 0;
    if (i < s.size()) {
        if (s[i] != 'e' && s[i] != 'E')
            return std::nullopt;
        const char* first = s.data() + i + 1;
        const char* last = s.data() + s.size();
        if (first < last && *first == '+')
            ++first;
        const auto r = std::from_chars(first, last, exponent);
        if (r.ec != std::errc() || r.ptr != last || first == last)
            return std::nullopt;
    }
    if (exponent > kFarthestExponent || exponent < -kFarthestExponent)
        return std::nullopt;
    n.exponent = exponent - afterPoint;
    const std::size_t lead = digits.find_first_not_of('0');
    n.digits = lead == std::string::npos ? std::string() : digits.substr(lead);
    if (n.digits.empty())
        n.negative = false;
    return n;
}

void ExactSum::add(Number& to, Number n)
{
    if (n.digits.empty())
        return;
    if (to.digits.empty()) {
        to = std::move(n);
    } else {
        // The same power of ten for the last digit of both.
        if (to.exponent > n.exponent) {
            to.digits.append(static_cast<std::size_t>(to.exponent - n.exponent), '0');
            to.exponent = n.exponent;
        } else if (n.exponent > to.exponent) {
            n.digits.append(static_cast<std::size_t>(n.exponent - to.exponent), '0');
        }
        if (to.negative == n.negative) {
            to.digits = addMagnitudes(to.digits, n.digits);
        } else if (less(to.digits, n.digits)) {
            to.digits = subtract(n.digits, to.digits);
            to.negative = n.negative;
        } else {
            to.digits = subtract(to.digits, n.digits);
        }
        if (to.digits.empty()) {
            to = Number{};
            return;
        }
    }
    // Trailing zeros go back into the exponent, so digits stay few.
    while (to.digits.size() > 1 && to.digits.back() == '0') {
        to.digits.pop_back();
        ++to.exponent;
    }
}

bool ExactSum::add(std::string_view text)
{
    std::optional<Number> n = read(text);
    if (!n)
        return false;
    ++numbers_;
    const std::string shown = stripped(text);
    if (!least_ || CompareDecimalTexts(shown, *least_) < 0)
        least_ = shown;
    if (!greatest_ || CompareDecimalTexts(shown, *greatest_) > 0)
        greatest_ = shown;
    add(sum_, std::move(*n));
    return true;
}

std::string ExactSum::sum() const
{
    if (sum_.digits.empty())
        return "0";
    std::string out = sum_.negative ? "-" : "";
    if (sum_.exponent >= 0)
        return out + sum_.digits + std::string(static_cast<std::size_t>(sum_.exponent), '0');
    const auto fraction = static_cast<std::size_t>(-sum_.exponent);
    std::string digits = sum_.digits;
    if (digits.size() <= fraction)
        digits.insert(0, fraction - digits.size() + 1, '0');
    digits.insert(digits.size() - fraction, 1, '.');
    return out + digits;
}
