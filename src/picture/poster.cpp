#include "poster.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include "hxmap.h"
#include "hxterrains.h"
#include "hxvector.h"

namespace poster {

namespace {

constexpr double kPointsPerMm = 72 / 25.4;
constexpr double kTextMm = 3;          // marks, labels and the legend on paper
constexpr double kScaleBarMm = 100;

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A positive decimal number such as "297" or "215.9".
bool parseMm(const std::string& text, double& value) {
    if (text.empty() || text.size() > 12) return false;
    int dots = 0;
    for (char c : text) {
        if (c == '.') ++dots;
        else if (c < '0' || c > '9') return false;
    }
    if (dots > 1 || text == ".") return false;
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

}  // namespace

std::string mm(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s;
}

bool parsePaper(const std::string& text, Paper& paper) {
    const std::string s = lower(text);
    if (s == "a4") paper = Paper{210, 297};
    else if (s == "a3") paper = Paper{297, 420};
    else if (s == "letter") paper = Paper{215.9, 279.4};
    else {
        const std::size_t x = s.find('x');
        if (x == std::string::npos || s.size() < 3 || s.compare(s.size() - 2, 2, "mm") != 0) return false;
        double w = 0, h = 0;
        if (!parseMm(s.substr(0, x), w) || !parseMm(s.substr(x + 1, s.size() - 2 - x - 1), h)) return false;
        paper = Paper{w, h};
    }
    return paper.w >= kMinPaperMm && paper.h >= kMinPaperMm && paper.w <= kMaxPaperMm && paper.h <= kMaxPaperMm;
}

std::string paperName(const Paper& paper) {
    struct Known {
        const char* name;
        double w, h;
    };
    const Known known[] = {{"A4", 210, 297}, {"A3", 297, 420}, {"Letter", 215.9, 279.4}};
    for (const Known& k : known)
        if ((std::fabs(paper.w - k.w) < 0.05 && std::fabs(paper.h - k.h) < 0.05) ||
            (std::fabs(paper.w - k.h) < 0.05 && std::fabs(paper.h - k.w) < 0.05))
            return k.name;
    return mm(paper.w) + " x " + mm(paper.h) + " mm";
}

bool layout(double pictureW, double pictureH, const Paper& paper, double margin, double overlap, Layout& out,
            std::string& reason) {
    out = Layout();
    out.paper = paper;
    out.margin = margin;
    out.overlap = overlap;
    out.areaW = paper.w - 2 * margin;
    out.areaH = paper.h - 2 * margin;
    out.pictureW = pictureW;
    out.pictureH = pictureH;
    if (!(margin >= 0) || out.areaW < 20 || out.areaH < 20) {
        reason = "margins of " + mm(margin) + " mm leave less than 20 mm of the " + mm(paper.w) + " x " + mm(paper.h) +
                 " mm sheet to print on";
        return false;
    }
    if (!(overlap >= 0) || 2 * overlap >= std::min(out.areaW, out.areaH)) {
        reason = "the overlap must be at least 0 and less than half of the printable area";
        return false;
    }
    // A hair of tolerance, so that a picture made to measure fits.
    const double tolerance = 1e-6;
    auto count = [&](double picture, double area) {
        if (picture <= area + tolerance) return 1.0;
        return std::ceil((picture - area) / (area - overlap) - tolerance) + 1;
    };
    out.columns = count(pictureW, out.areaW);
    out.rows = count(pictureH, out.areaH);
    out.index = out.columns * out.rows > 1;
    return true;
}

std::string sheetLabel(int column, int row) {
    std::string letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row + 1);
}

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Surface = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;

struct Sink {
    explicit Sink(std::FILE* f) : file(f) {}
    std::FILE* file;
    int error = 0;
    // Keep the document's last bytes back, to write more before its end.
    bool holdTail = false;
    std::string tail;
};

cairo_status_t writeToFile(void* closure, const unsigned char* data, unsigned int length) {
    Sink* sink = static_cast<Sink*>(closure);
    if (sink->holdTail) {
        sink->tail.append(reinterpret_cast<const char*>(data), length);
        constexpr std::size_t kKept = 64;
        if (sink->tail.size() <= 4 * kKept) return CAIRO_STATUS_SUCCESS;
        const std::size_t out = sink->tail.size() - kKept;
        if (std::fwrite(sink->tail.data(), 1, out, sink->file) != out) {
            if (sink->error == 0) sink->error = errno ? errno : EIO;
            return CAIRO_STATUS_WRITE_ERROR;
        }
        sink->tail.erase(0, out);
        return CAIRO_STATUS_SUCCESS;
    }
    if (std::fwrite(data, 1, length, sink->file) != length) {
        if (sink->error == 0) sink->error = errno ? errno : EIO;
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

// Finishes the surface and says how the writing went.
bool finish(cairo_surface_t* surface, const Sink& sink, std::string& error) {
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    if (sink.error != 0) {
        error = std::strerror(sink.error);
        return false;
    }
    if (status != CAIRO_STATUS_SUCCESS) {
        error = cairo_status_to_string(status);
        return false;
    }
    if (std::fflush(sink.file) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

// What every drawing of the document needs.
struct Drawing {
    const Document& doc;
    HxTerrainSet terrains;
    hxpic::Colours colours{terrains};
    hxvec::Fonts fonts;
    std::vector<hxvec::LegendEntry> legend;

    explicit Drawing(const Document& d) : doc(d) {
        if (doc.legend) legend = hxvec::legendEntries(doc.map, doc.cells, terrains, colours);
    }

    // The map with its top-left corner at the user origin, `pitch` user
    // units per hex, limited to the cells that reach into the rectangle.
    hxvec::Grid grid(double pitch) const { return hxvec::Grid::of(doc.shape, pitch); }

    void map(cairo_t* cr, double pitch, double outline, double x, double y, double w, double h, bool labels) {
        hxvec::Style style;
        style.grid = grid(pitch);
        style.outline = outline;
        style.labels = labels;
        style.numbers = doc.numbers && labels;
        style.numbering = doc.numbering;
        const hexgeom::CellRange visible = hxvec::cellsIn(doc.cells, style.grid, x, y, w, h);
        if (doc.background != 0) {
            const hxvec::Size size = hxvec::pictureSize(doc.cells, style.grid);
            const hxvec::Rgb bg = hxvec::rgb(doc.background);
            cairo_save(cr);
            cairo_rectangle(cr, 0, 0, size.w, size.h);
            cairo_set_source_rgb(cr, bg.r, bg.g, bg.b);
            cairo_fill(cr);
            cairo_restore(cr);
        }
        hxvec::draw(cr, doc.map, colours, doc.cells, visible, style, fonts);
    }
};

double legendHeightOn(Drawing& d, double width) {
    return d.legend.empty() ? 0 : hxvec::legendHeight(d.legend, width, kTextMm, d.fonts) + kTextMm;
}

// Elevation labels are drawn on paper only where they can be read.
bool readableLabels(double pitchMm) { return pitchMm >= kMinLabelMm; }

// Short lines in the margin that continue the printable area's edges
// outwards from its corners, and ticks where a neighbouring sheet's area
// begins or ends (the glue lines).
void cropMarks(cairo_t* cr, const Layout& l, int column, int row) {
    const double m = l.margin;
    if (m < 2) return;
    const double gap = std::min(1.0, m / 4), len = std::min(6.0, m - gap - 0.5);
    const double left = m, top = m, right = m + l.areaW, bottom = m + l.areaH;
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.2);
    for (double x : {left, right}) {
        cairo_move_to(cr, x, top - gap);
        cairo_line_to(cr, x, top - gap - len);
        cairo_move_to(cr, x, bottom + gap);
        cairo_line_to(cr, x, bottom + gap + len);
    }
    for (double y : {top, bottom}) {
        cairo_move_to(cr, left - gap, y);
        cairo_line_to(cr, left - gap - len, y);
        cairo_move_to(cr, right + gap, y);
        cairo_line_to(cr, right + gap + len, y);
    }
    cairo_stroke(cr);
    // Glue lines: dashed, half as long.
    const double dash[] = {0.8, 0.6};
    cairo_set_dash(cr, dash, 2, 0);
    std::vector<double> xs, ys;
    if (column > 0) xs.push_back(left + l.overlap);
    if (column + 1 < l.columns) xs.push_back(right - l.overlap);
    if (row > 0) ys.push_back(top + l.overlap);
    if (row + 1 < l.rows) ys.push_back(bottom - l.overlap);
    for (double x : xs) {
        cairo_move_to(cr, x, top - gap);
        cairo_line_to(cr, x, top - gap - len / 2);
        cairo_move_to(cr, x, bottom + gap);
        cairo_line_to(cr, x, bottom + gap + len / 2);
    }
    for (double y : ys) {
        cairo_move_to(cr, left - gap, y);
        cairo_line_to(cr, left - gap - len / 2, y);
        cairo_move_to(cr, right + gap, y);
        cairo_line_to(cr, right + gap + len / 2, y);
    }
    cairo_stroke(cr);
    cairo_restore(cr);
}

// The baseline of the text in the bottom margin; over the picture, on a
// white ground, when the margin is too small to hold it.
double footerBaseline(const Layout& l) { return l.paper.h - std::max(l.margin, kTextMm * 2) / 2 + kTextMm / 3; }

void whiteGround(cairo_t* cr, double x, double baseline, double w) {
    cairo_save(cr);
    cairo_rectangle(cr, x - 1, baseline - kTextMm - 1, w + 2, kTextMm + 2.5);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    cairo_restore(cr);
}

// A ruler to check that the sheet was printed at its true size: a bar of
// 100 mm with a tick every 10 mm and its length written beside it.
void scaleBar(cairo_t* cr, const Layout& l, hxvec::Fonts& fonts) {
    const double length = l.areaW >= kScaleBarMm + 25 ? kScaleBarMm : 10;
    const std::string text = length == kScaleBarMm ? "100 mm" : "10 mm";
    const double x = l.margin, baseline = footerBaseline(l);
    const double textW = fonts.width(text, kTextMm);
    if (l.margin < kTextMm * 2) whiteGround(cr, x, baseline, length + 2 + textW);
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.25);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    const double y = baseline - kTextMm / 3;
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + length, y);
    for (int k = 0; k <= 10; ++k) {
        const double tick = (k == 0 || k == 10) ? 1.6 : k == 5 ? 1.1 : 0.7;
        cairo_move_to(cr, x + length * k / 10, y);
        cairo_line_to(cr, x + length * k / 10, y - tick);
    }
    cairo_stroke(cr);
    fonts.show(cr, text, x + length + 2, baseline, kTextMm);
    cairo_restore(cr);
}

void sheetName(cairo_t* cr, const Layout& l, const std::string& label, hxvec::Fonts& fonts) {
    const double w = fonts.width(label, kTextMm * 1.4);
    const double x = l.paper.w - l.margin - w, baseline = footerBaseline(l);
    if (l.margin < kTextMm * 2) whiteGround(cr, x, baseline, w);
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    fonts.show(cr, label, x, baseline, kTextMm * 1.4);
    cairo_restore(cr);
}

// The first page of a poster: the whole region scaled onto the sheet, the
// sheets' areas drawn over it with their labels, and the legend below. The
// index page's printable area is pageW x pageH (the sheets' area, or the
// same turned).
constexpr double kTitleMm = kTextMm * 2.5;

void indexPage(cairo_t* cr, Drawing& d, const Layout& l, double pageW, double pageH) {
    const double titleH = kTitleMm;
    const double legendH = l.legendBelow ? legendHeightOn(d, pageW) : 0;
    const double roomW = pageW, roomH = pageH - titleH - legendH;
    const double scale = std::min(roomW / l.pictureW, roomH / l.pictureH);
    const double pitch = l.pitch * scale;

    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    const std::string title = "Assembly of " + std::to_string(static_cast<long long>(l.columns)) + " x " +
                              std::to_string(static_cast<long long>(l.rows)) + " sheets, " + mm(l.pitch) +
                              " mm hexes, " + mm(l.overlap) + " mm overlap";
    d.fonts.show(cr, title, l.margin, l.margin + kTextMm * 1.2, kTextMm * 1.2);
    cairo_restore(cr);

    const double ox = l.margin, oy = l.margin + titleH;
    cairo_save(cr);
    cairo_translate(cr, ox, oy);
    cairo_rectangle(cr, -1, -1, l.pictureW * scale + 2, l.pictureH * scale + 2);
    cairo_clip(cr);
    d.map(cr, pitch, hxvec::outlineWidthMm(pitch) / 2, 0, 0, l.pictureW * scale, l.pictureH * scale,
          readableLabels(pitch));
    cairo_reset_clip(cr);

    // The sheets' areas, then their labels on top, each on a white ground.
    cairo_set_source_rgb(cr, 0.8, 0, 0);
    cairo_set_line_width(cr, 0.3);
    for (int r = 0; r < l.rows; ++r)
        for (int c = 0; c < l.columns; ++c) {
            const double x = l.sheetX(c) * scale, y = l.sheetY(r) * scale;
            const double w = std::min(l.areaW, l.pictureW - l.sheetX(c)) * scale;
            const double h = std::min(l.areaH, l.pictureH - l.sheetY(r)) * scale;
            cairo_rectangle(cr, x, y, w, h);
        }
    cairo_stroke(cr);
    // Each label in the top-left corner of its sheet's area, which no
    // other sheet's area starts in.
    const double stepW = (l.areaW - l.overlap) * scale, stepH = (l.areaH - l.overlap) * scale;
    const double size = std::max(0.8, std::min({5.0, stepH * 0.3, stepW * 0.2}));
    for (int r = 0; r < l.rows; ++r)
        for (int c = 0; c < l.columns; ++c) {
            const std::string label = sheetLabel(c, r);
            const double w = d.fonts.width(label, size);
            const double x = l.sheetX(c) * scale + size * 0.3, y = l.sheetY(r) * scale + size * 0.3;
            cairo_rectangle(cr, x, y, w + size * 0.3, size * 1.1);
            cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
            cairo_fill(cr);
            cairo_set_source_rgb(cr, 0.8, 0, 0);
            d.fonts.show(cr, label, x + size * 0.15, y + size * 0.9, size);
        }
    cairo_restore(cr);

    if (l.legendBelow && !d.legend.empty())
        hxvec::drawLegend(cr, d.legend, l.margin, oy + l.pictureH * scale + kTextMm, pageW, kTextMm, d.fonts);
}

// A page of the legend alone: entries first..first+count-1.
void legendPage(cairo_t* cr, Drawing& d, const Layout& l, int page) {
    const std::size_t first = static_cast<std::size_t>(page) * l.legendEach;
    const std::size_t last = std::min(d.legend.size(), first + l.legendEach);
    const std::vector<hxvec::LegendEntry> part(d.legend.begin() + static_cast<std::ptrdiff_t>(first),
                                               d.legend.begin() + static_cast<std::ptrdiff_t>(last));
    std::string title = "Legend";
    if (l.legendPages > 1)
        title += ", page " + std::to_string(page + 1) + " of " + std::to_string(static_cast<long long>(l.legendPages));
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    d.fonts.show(cr, title, l.margin, l.margin + kTextMm * 1.2, kTextMm * 1.2);
    cairo_restore(cr);
    hxvec::drawLegend(cr, part, l.margin, l.margin + kTitleMm, l.areaW, kTextMm, d.fonts);
}

// One sheet of the poster, or the only sheet: its part of the picture at
// true size inside the margins, the marks, the ruler and the label.
void sheetPage(cairo_t* cr, Drawing& d, const Layout& l, int column, int row, bool alone) {
    const double x = l.sheetX(column), y = l.sheetY(row);
    cairo_save(cr);
    cairo_rectangle(cr, l.margin, l.margin, l.areaW, l.areaH);
    cairo_clip(cr);
    cairo_translate(cr, l.margin - x, l.margin - y);
    d.map(cr, l.pitch, hxvec::outlineWidthMm(l.pitch), x, y, l.areaW, l.areaH, readableLabels(l.pitch));
    cairo_restore(cr);
    if (alone) {
        if (l.legendBelow && !d.legend.empty())
            hxvec::drawLegend(cr, d.legend, l.margin, l.margin + l.pictureH + kTextMm, l.areaW, kTextMm, d.fonts);
    } else {
        cropMarks(cr, l, column, row);
        sheetName(cr, l, sheetLabel(column, row), d.fonts);
    }
    scaleBar(cr, l, d.fonts);
}

}  // namespace

namespace {

// A legend below the map may take at most a third of the page's height.
bool legendBelowFits(Drawing& d, double width, double height) {
    return d.legend.empty() || legendHeightOn(d, width) <= height / 3;
}

// The legend's own pages, when it does not go below the map.
void planLegendPages(Drawing& d, Layout& l) {
    if (l.legendBelow || d.legend.empty()) return;
    l.legendEach = std::max<std::size_t>(1, hxvec::legendFits(d.legend, l.areaW, l.areaH - kTitleMm, kTextMm, d.fonts));
    l.legendPages = std::ceil(static_cast<double>(d.legend.size()) / static_cast<double>(l.legendEach));
}

}  // namespace

bool planPdf(const Document& doc, Layout& out, std::string& reason) {
    if (doc.cells.empty()) {
        reason = "no cells to draw";
        return false;
    }
    Drawing measure(doc);
    if (doc.fitPage) {
        // The orientation that gives the larger hexes.
        const hxvec::Size unit = hxvec::pictureSize(doc.cells, measure.grid(1));
        bool found = false;
        for (const Paper& paper : {doc.paper, Paper{doc.paper.h, doc.paper.w}}) {
            Layout l;
            if (!layout(0, 0, paper, doc.margin, doc.overlap, l, reason)) return false;
            const bool below = legendBelowFits(measure, l.areaW, l.areaH);
            const double roomH = l.areaH - (below ? legendHeightOn(measure, l.areaW) : 0);
            const double pitch = std::min(l.areaW / unit.w, roomH / unit.h);
            if (!(pitch > 0)) continue;
            if (!found || pitch > out.pitch * (1 + 1e-9)) {
                layout(unit.w * pitch, unit.h * pitch, paper, doc.margin, doc.overlap, out, reason);
                out.pitch = pitch;
                out.legendBelow = below;
                found = true;
            }
        }
        if (!found) {
            reason = "the legend leaves no room for the map on the sheet";
            return false;
        }
        out.columns = out.rows = 1;
        out.index = false;
        planLegendPages(measure, out);
        return true;
    }
    if (!(doc.hexMm > 0)) {
        reason = "the hex size must be above 0 mm";
        return false;
    }
    const hxvec::Size size = hxvec::pictureSize(doc.cells, measure.grid(doc.hexMm));
    if (!layout(size.w, size.h, doc.paper, doc.margin, doc.overlap, out, reason)) return false;
    out.pitch = doc.hexMm;
    if (!out.index) {
        // One sheet: the legend below the map when there is room for it.
        out.legendBelow = measure.legend.empty() || size.h + legendHeightOn(measure, out.areaW) <= out.areaH;
    } else {
        // The index is turned to whichever way shows the region larger.
        double best = -1;
        for (const bool turn : {false, true}) {
            const double w = turn ? out.areaH : out.areaW, h = turn ? out.areaW : out.areaH;
            const bool below = legendBelowFits(measure, w, h - kTitleMm);
            const double roomH = h - kTitleMm - (below ? legendHeightOn(measure, w) : 0);
            const double scale = std::min(w / out.pictureW, roomH / out.pictureH);
            if (scale > best * (1 + 1e-9)) {
                best = scale;
                out.indexTurned = turn;
                out.legendBelow = below;
            }
        }
    }
    planLegendPages(measure, out);
    if (out.pages() > doc.maxPages) {
        char count[64];
        std::snprintf(count, sizeof count, "%.0f", out.pages());
        std::string parts = std::to_string(static_cast<long long>(out.columns)) + " x " +
                            std::to_string(static_cast<long long>(out.rows)) + " sheets";
        if (out.index) parts += out.legendPages > 0 ? ", the index and the legend" : " and the index";
        else if (out.legendPages > 0) parts += " and the legend";
        reason = "the poster would have " + std::string(count) + " pages (" + parts + "), more than the " +
                 std::to_string(static_cast<long long>(doc.maxPages)) +
                 " allowed; choose smaller hexes, fewer cells, or raise the limit with --max-pages";
        return false;
    }
    return true;
}

bool writePdf(const Document& doc, std::FILE* file, std::string& error) {
    Layout l;
    if (!planPdf(doc, l, error)) return false;
    Sink sink(file);
    Surface surface(cairo_pdf_surface_create_for_stream(writeToFile, &sink, l.paper.w * kPointsPerMm,
                                                        l.paper.h * kPointsPerMm));
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "tarven-render");
    Context cr(cairo_create(surface.get()));
    cairo_scale(cr.get(), kPointsPerMm, kPointsPerMm);
    Drawing d(doc);
    const double total = l.pages();
    double done = 0;
    auto page = [&] {
        cairo_show_page(cr.get());
        ++done;
        if (doc.progress) doc.progress(done / total);
    };
    if (l.index) {
        const bool turn = l.indexTurned;
        if (turn) cairo_pdf_surface_set_size(surface.get(), l.paper.h * kPointsPerMm, l.paper.w * kPointsPerMm);
        indexPage(cr.get(), d, l, turn ? l.areaH : l.areaW, turn ? l.areaW : l.areaH);
        page();
        if (turn) cairo_pdf_surface_set_size(surface.get(), l.paper.w * kPointsPerMm, l.paper.h * kPointsPerMm);
    }
    const bool alone = !l.index;
    for (int r = 0; r < l.rows; ++r)
        for (int c = 0; c < l.columns; ++c) {
            sheetPage(cr.get(), d, l, c, r, alone);
            page();
        }
    for (int k = 0; k < l.legendPages; ++k) {
        legendPage(cr.get(), d, l, k);
        page();
    }
    cr.reset();
    return finish(surface.get(), sink, error);
}

namespace {

double svgLegendText(double hexMm) { return std::max(3.0, std::min(8.0, 0.3 * hexMm)); }

}  // namespace

hxvec::Shapes countShapes(const Document& doc, double pitch) {
    HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    hxvec::Style style;
    style.grid = hxvec::Grid::of(doc.shape, pitch);
    style.outline = hxvec::outlineWidthMm(pitch);
    style.labels = readableLabels(pitch);
    style.numbers = doc.numbers && style.labels;
    return hxvec::countShapes(doc.map, colours, doc.cells, style);
}

bool svgText(const Document& doc) { return readableLabels(doc.hexMm); }

SvgSize svgSize(const Document& doc) {
    const hxvec::Size size = hxvec::pictureSize(doc.cells, hxvec::Grid::of(doc.shape, doc.hexMm));
    const double pad = hxvec::outlineWidthMm(doc.hexMm);
    SvgSize s{size.w + pad, size.h + pad};
    if (doc.legend) {
        Drawing d(doc);
        if (!d.legend.empty()) {
            // Never cut: the drawing widens to hold one column of the key.
            const double text = svgLegendText(doc.hexMm);
            s.w = std::max(s.w, hxvec::legendWidth(d.legend, text, d.fonts));
            s.h += hxvec::legendHeight(d.legend, s.w, text, d.fonts);
        }
    }
    return s;
}

bool writeSvg(const Document& doc, std::FILE* file, std::string& error) {
    if (doc.cells.empty() || !(doc.hexMm > 0)) {
        error = "no cells to draw";
        return false;
    }
    const SvgSize size = svgSize(doc);
    Sink sink(file);
    sink.holdTail = true;
    // The drawing's units are millimetres, and the document says so.
    Surface surface(cairo_svg_surface_create_for_stream(writeToFile, &sink, size.w, size.h));
    cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_MM);
    Context cr(cairo_create(surface.get()));
    Drawing d(doc);
    const double pad = hxvec::outlineWidthMm(doc.hexMm);
    if (doc.background != 0) {
        const hxvec::Rgb bg = hxvec::rgb(doc.background);
        cairo_set_source_rgb(cr.get(), bg.r, bg.g, bg.b);
        cairo_paint(cr.get());
    }
    cairo_save(cr.get());
    cairo_translate(cr.get(), pad / 2, pad / 2);
    hxvec::Style style;
    style.grid = d.grid(doc.hexMm);
    const hxvec::Size picture = hxvec::pictureSize(doc.cells, style.grid);
    style.outline = pad;
    style.labels = svgText(doc);
    style.numbers = doc.numbers && style.labels;
    style.numbering = doc.numbering;
    // Labels and numbers go in as text elements after cairo's drawing, a
    // row of hexes in each: cairo would write every digit as an element of
    // its own, which makes files of tens of megabytes that readers refuse.
    style.glyphs = false;
    if (doc.numbers && !style.labels && doc.warn)
        doc.warn("the SVG leaves out hex numbers: hexes under " + mm(kMinLabelMm) + " mm are too small to read them");
    hxvec::draw(cr.get(), doc.map, d.colours, doc.cells, doc.cells, style, d.fonts);
    cairo_restore(cr.get());
    if (!d.legend.empty())
        hxvec::drawLegend(cr.get(), d.legend, 0, picture.h + pad, size.w, svgLegendText(doc.hexMm), d.fonts);
    cr.reset();
    if (!finish(surface.get(), sink, error)) return false;
    // The text, before the document's end that the sink held back.
    const std::size_t end = sink.tail.rfind("</svg>");
    if (end == std::string::npos) {
        error = "the SVG writer ended its document in an unknown way";
        return false;
    }
    std::string text;
    const auto flush = [&](bool last) {
        if (!last && text.size() < (1u << 16)) return true;
        const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        text.clear();
        return ok;
    };
    bool ok = std::fwrite(sink.tail.data(), 1, end, file) == end;
    // Each label centred on its hexagon, the labels of one kind in a group
    // that gives their font and size.
    for (const bool numbers : {false, true}) {
        if (!style.labels || (numbers && !style.numbers)) continue;
        bool opened = false;
        char number[96];
        hxvec::textItems(doc.map, doc.cells, doc.cells, style, numbers, d.fonts, [&](const hxvec::TextItem& item) {
            if (!opened) {
                std::snprintf(number, sizeof number,
                              "<g font-family=\"DejaVu Sans\" font-size=\"%.3f\" text-anchor=\"middle\">\n", item.size);
                text += number;
                opened = true;
            }
            std::snprintf(number, sizeof number, "<text x=\"%.2f\" y=\"%.2f\">", item.middle + pad / 2,
                          item.baseline + pad / 2);
            text += number;
            text += item.text + "</text>\n";
            ok = ok && flush(false);
        });
        if (opened) text += "</g>\n";
    }
    ok = ok && flush(true) &&
         std::fwrite(sink.tail.data() + end, 1, sink.tail.size() - end, file) == sink.tail.size() - end &&
         std::fflush(file) == 0;
    if (!ok) {
        error = std::strerror(errno ? errno : EIO);
        return false;
    }
    if (doc.progress) doc.progress(1);
    return true;
}

}  // namespace poster
