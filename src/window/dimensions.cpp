#include "dimensions.h"

#include <cctype>
#include <climits>

namespace {

// One "%d" conversion: white space, an optional sign, at least one digit.
// Sets overflow instead of wrapping when the value does not fit an int.
bool scanInt(const std::string& s, std::size_t& pos, long long& value, bool& overflow) {
    while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    std::size_t p = pos;
    bool negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
    if (p >= s.size() || !std::isdigit(static_cast<unsigned char>(s[p]))) return false;
    long long v = 0;
    while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) {
        if (v <= LLONG_MAX / 100) v = v * 10 + (s[p] - '0');
        ++p;
    }
    value = negative ? -v : v;
    if (value > INT_MAX || value < INT_MIN) overflow = true;
    pos = p;
    return true;
}

bool scanPair(const std::string& s, char separator, long long& a, long long& b, bool& overflow) {
    std::size_t pos = 0;
    if (!scanInt(s, pos, a, overflow)) return false;
    if (pos >= s.size() || s[pos] != separator) return false;
    ++pos;
    return scanInt(s, pos, b, overflow);
}

}  // namespace

DimensionsResult parseDimensions(const std::string& text, int& width, int& height) {
    long long a = 0, b = 0;
    bool overflow = false;
    if (!scanPair(text, ',', a, b, overflow)) {
        overflow = false;
        if (!scanPair(text, 'x', a, b, overflow)) return DimensionsResult::Unreadable;
    }
    if (overflow || a < kMinDimension || a > kMaxDimension || b < kMinDimension || b > kMaxDimension)
        return DimensionsResult::OutOfRange;
    width = static_cast<int>(a);
    height = static_cast<int>(b);
    return DimensionsResult::Ok;
}
