// The number a hex goes by on printed maps, in the window's status bar and
// on the web page: its column then its row, both counted from 1, each half
// padded with zeros to as many digits as the whole map's largest column or
// row needs (at least two). Column 12, row 7 of a 200 x 150 map is
// "013008"; of a 24 x 16 map "1308". The width depends on the whole map,
// never on the region shown, so a hex keeps its number in every picture.
#ifndef TARVEN_HEXNUMBER_H
#define TARVEN_HEXNUMBER_H

#include <string>

namespace hexnum {

// Digits of each half for a map of `count` columns (or rows).
int digits(int count);

// The number of cell (column, row), both from 0, on a map of mapW x mapH.
std::string number(int column, int row, int mapW, int mapH);

}  // namespace hexnum

#endif
