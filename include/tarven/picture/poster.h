// Paper pictures of a map: the hexes at a true size in millimetres, split
// into a poster of overlapping sheets when they do not fit on one, or
// scaled onto one sheet; and the same vector picture as one SVG drawing.
// Plain C++ and cairo; no toolkit.
#ifndef TARVEN_POSTER_H
#define TARVEN_POSTER_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "hexgeometry.h"
#include "hxpicture.h"
#include "hxvector.h"

class HxMap;

namespace poster {

// A length with one decimal and no trailing ".0": "25.4", "10".
std::string mm(double v);

// A sheet in millimetres, width then height as it is printed.
struct Paper {
    double w = 210, h = 297;
};
// "a4", "letter", "a3" (any case) or "WxHmm" such as "300x200mm". False
// for anything else, or a size outside kMinPaperMm..kMaxPaperMm.
bool parsePaper(const std::string& text, Paper& paper);
constexpr double kMinPaperMm = 50, kMaxPaperMm = 5000;
// "A4", "Letter", "A3" (either way round), or "300 x 200 mm".
std::string paperName(const Paper& paper);

// How a picture of pictureW x pictureH mm is cut into sheets: each sheet
// prints the area inside its margins; neighbouring sheets share `overlap`
// mm of the picture, to glue one over the other.
struct Layout {
    Paper paper;
    double margin = 10, overlap = 10;
    double areaW = 0, areaH = 0;          // printable area of a sheet
    double pictureW = 0, pictureH = 0;
    double columns = 1, rows = 1;         // sheets across and down (whole numbers)
    double pitch = 0;                     // across the flats on the sheets, mm
    bool index = false;                   // an assembly index comes first
    bool indexTurned = false;             // the index page lies the other way
    // The legend: below the map (on the one sheet or the index), or, when
    // it would take more than a third of that page, on pages of its own
    // after the sheets, `legendEach` entries a page.
    bool legendBelow = true;
    double legendPages = 0;
    std::size_t legendEach = 0;

    // The sheets plus the index and the legend's pages.
    double pages() const { return columns * rows + (index ? 1 : 0) + legendPages; }
    // Where the printable area of sheet (column, row) starts on the picture.
    double sheetX(int column) const { return column * (areaW - overlap); }
    double sheetY(int row) const { return row * (areaH - overlap); }
};
// False with a reason when the margins leave no printable area or the
// overlap is not smaller than half of it.
bool layout(double pictureW, double pictureH, const Paper& paper, double margin, double overlap, Layout& out,
            std::string& reason);

// "A1" for the first sheet; columns are letters (A..Z, AA..), rows numbers
// from 1.
std::string sheetLabel(int column, int row);

struct Document {
    Document(const HxMap& m, const hexgeom::CellRange& c) : map(m), cells(c) {}
    const HxMap& map;
    hexgeom::CellRange cells;     // not empty, inside the map
    double hexMm = 25.4;          // across the flats; ignored with fitPage
    hxvec::Shape shape = hxvec::Shape::Regular;
    bool fitPage = false;         // the whole region on one sheet
    Paper paper;
    double margin = 10, overlap = 10;
    bool legend = false, numbers = false;
    // Where the map sits in the whole map, for the hex numbers.
    hxvec::Numbering numbering;
    hxpic::Pixel background = 0xffffffffu;   // 0: none
    double maxPages = 100;
    // Told what was left out, and why, in one line.
    std::function<void(const std::string&)> warn;
    // Told the share of the work done, 0..1.
    std::function<void(double)> progress;
};

// The sheets a PDF of the document would have, and their layout: false
// with a reason when the options cannot work (no printable area, a poster
// over maxPages sheets).
bool planPdf(const Document& doc, Layout& out, std::string& reason);

// What the document's drawing holds with hexes `pitch` mm across, for a
// bound on the file before it is written (the sheets' overlaps aside).
hxvec::Shapes countShapes(const Document& doc, double pitch);

// Labels and hex numbers are drawn on hexes at least this many millimetres
// across; smaller ones cannot be read on paper.
constexpr double kMinLabelMm = 3;
// Whether the SVG of `doc` carries its labels (and numbers when asked).
bool svgText(const Document& doc);

// Writes the PDF (one sheet, or the index and the poster's sheets) or the
// SVG to `file`. False with a reason on failure.
bool writePdf(const Document& doc, std::FILE* file, std::string& error);
bool writeSvg(const Document& doc, std::FILE* file, std::string& error);

// The SVG's size in millimetres (picture, outline and legend strip; as wide
// as the legend needs when it is wider than the picture).
struct SvgSize {
    double w, h;
};
SvgSize svgSize(const Document& doc);

}  // namespace poster

#endif
