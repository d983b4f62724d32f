#ifndef TARVEN_DIMENSIONS_H
#define TARVEN_DIMENSIONS_H

#include <string>

// The outcome of reading a map size typed by the user.
enum class DimensionsResult {
    Ok,            // width and height hold the size
    Unreadable,    // neither "W,H" nor "WxH"
    OutOfRange,    // two numbers, but not both within 1..1000
};

constexpr int kMinDimension = 1;
constexpr int kMaxDimension = 1000;

// Reads "W,H" first, then "WxH", as formatted scans do: white space before
// each number is skipped, the separator follows the first number at once and
// anything after the second number is ignored. A number too large for an int
// is out of range rather than undefined.
DimensionsResult parseDimensions(const std::string& text, int& width, int& height);

#endif
