#include "hexnumber.h"

#include <algorithm>

namespace hexnum {

int digits(int count) { return std::max<int>(2, static_cast<int>(std::to_string(std::max(count, 0)).size())); }

namespace {

std::string padded(long long value, int width) {
    const std::string text = std::to_string(value);
    return std::string(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, '0') + text;
}

}  // namespace

std::string number(int column, int row, int mapW, int mapH) {
    return padded(column + 1LL, digits(mapW)) + padded(row + 1LL, digits(mapH));
}

}  // namespace hexnum
