#include "hxpicture.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <cairo.h>

#include "hxmap.h"
#include "hxterrains.h"

namespace hxpic {

// ---------------------------------------------------------------------------
// Colours

Colours::Colours(const HxTerrainSet& terrains) {
    for (int code = 0; code < 256; ++code)
        for (int el = 0; el < kSlots; ++el) {
            int r = 0, g = 0, b = 0;
            if (el <= 10) terrains.getTerrainColor(static_cast<char>(code), el, r, g, b);
            flat[code * kSlots + el] = kOpaque | static_cast<Pixel>(r & 0xff) << 16 |
                                       static_cast<Pixel>(g & 0xff) << 8 | static_cast<Pixel>(b & 0xff);
        }
    // Any elevation outside 0..10 shows code 0 at elevation 0.
    for (int code = 0; code < 256; ++code) flat[code * kSlots + 11] = flat[0];
    for (int byte = 0; byte < 256; ++byte) {
        const int el = static_cast<signed char>(static_cast<unsigned char>(byte));
        slot[byte] = static_cast<unsigned char>(el >= 0 && el <= 10 ? el : 11);
    }
}

Pixel Colours::at(char terrain, int elevation) const {
    if (elevation == HxTerrainSet::kAnyElevation) elevation = 0;
    if (elevation < 0 || elevation > 10) return flat[0];
    return flat[static_cast<unsigned char>(terrain) * kSlots + elevation];
}

Indices::Indices(const Colours& colours, const std::vector<Pixel>& palette, Pixel ink) {
    // Made for every small picture (each tile of a pyramid): a sorted
    // search instead of a walk along the palette.
    std::vector<std::pair<Pixel, int>> sorted;
    for (std::size_t i = 0; i < palette.size() && i < 256; ++i) sorted.emplace_back(palette[i], static_cast<int>(i));
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::pair<Pixel, int>& a, const std::pair<Pixel, int>& b) { return a.first < b.first; });
    const auto indexOf = [&](Pixel p) {
        const auto it = std::lower_bound(sorted.begin(), sorted.end(), p,
                                         [](const std::pair<Pixel, int>& a, Pixel b) { return a.first < b; });
        return it != sorted.end() && it->first == p ? it->second : 0;
    };
    for (int code = 0; code < 256; ++code) {
        const char t = static_cast<char>(code);
        for (int el = 0; el <= 10; ++el) flat[code * kSlots + el] = static_cast<std::uint8_t>(indexOf(colours.at(t, el)));
        flat[code * kSlots + 11] = static_cast<std::uint8_t>(indexOf(colours.at(t, -1)));
    }
    for (int byte = 0; byte < 256; ++byte) {
        const int el = static_cast<signed char>(static_cast<unsigned char>(byte));
        slot[byte] = static_cast<unsigned char>(el >= 0 && el <= 10 ? el : 11);
    }
    black_ = static_cast<std::uint8_t>(indexOf(kBlack));
    ink_ = static_cast<std::uint8_t>(indexOf(ink));
    clear_ = static_cast<std::uint8_t>(indexOf(0));
}

namespace {

// ---------------------------------------------------------------------------
// Hexagon stamps

// A run of a hexagon's pixels relative to its origin: outline or fill.
struct StampSpan {
    int y, x0, x1;
    bool outline;
};

// The pixels of one hexagon and their bounding box.
struct Stamp {
    std::vector<StampSpan> spans;
    int minX = 0, maxX = -1, minY = 0, maxY = -1;
};

constexpr Pixel kStampFill = 0xff0ac81eu;   // any opaque colour but black
constexpr int kStampMargin = 3;

// Where hexagons get their shape. Two geometries exist, on purpose:
// - Pixels (this file, and the window's reference drawing in
//   src/window/hxrender.cpp, which draws hexgeom::hexShape's vertices with
//   the toolkit): whole-pixel vertices from hexgeom::hexShape, hxs =
//   4 pitch / 3 rounded down, so that a picture is the window's pixels to
//   the last one. The window and every PNG draw through the stamps below.
// - Vector pictures (hxvector.cpp, PDF and SVG): the true proportions,
//   width 4/3 of the pitch with no rounding, at any physical size. Rounded
//   vertices there would make hexagons of a printed poster unequal, and the
//   whole-pixel shape is meaningless at 25.4 mm.
// Both put a hexagon's left vertex at the middle of its height and even
// columns half a pitch lower; hexgeometry.h holds that layout for both.
//
// Rasterizes one hexagon as the reference drawing does: cairo without
// anti-aliasing, the path of the six vertices closed by a line back to the
// first, moved by half a pixel for the 1-pixel pen, filled with the even-odd
// rule and then stroked 1 pixel wide with round caps and joins. With
// clipLeft / clipRight (relative to the origin; 0 and hxs + 1 mean none) the
// drawing is clipped there first, which changes a few pixels near a cut
// slant, so such hexagons have stamps of their own.
Stamp rasterize(int zoom, int clipLeft, int clipRight) {
    const hexgeom::HexShape shape = hexgeom::hexShape(zoom);
    const int m = kStampMargin;
    const int w = shape.hxs + 1 + 2 * m, h = shape.hys + 2 * m;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    if (clipLeft > 0 || clipRight <= shape.hxs) {
        const int left = clipLeft > 0 ? m + clipLeft : 0;
        const int right = clipRight <= shape.hxs ? m + clipRight : w;
        cairo_rectangle(cr, left, 0, right - left, h);
        cairo_clip(cr);
    }
    cairo_translate(cr, 0.5, 0.5);
    const auto path = [&] {
        cairo_new_path(cr);
        for (int k = 0; k < 6; ++k) {
            const double x = m + shape.vertex[k].x, y = m + shape.vertex[k].y;
            k == 0 ? cairo_move_to(cr, x, y) : cairo_line_to(cr, x, y);
        }
        cairo_line_to(cr, m + shape.vertex[0].x, m + shape.vertex[0].y);
    };
    path();
    cairo_set_source_rgb(cr, 10 / 255.0, 200 / 255.0, 30 / 255.0);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill(cr);
    path();
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    Stamp stamp;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const auto kind = [&](int x, int y) {
        Pixel px;
        std::memcpy(&px, data + static_cast<std::ptrdiff_t>(y) * stride + 4 * x, sizeof px);
        return (px >> 24) == 0 ? 0 : px == kStampFill ? 2 : 1;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w;) {
            const int k = kind(x, y);
            int end = x;
            while (end + 1 < w && kind(end + 1, y) == k) ++end;
            if (k != 0) {
                const StampSpan s{y - m, x - m, end - m, k == 1};
                if (stamp.spans.empty()) {
                    stamp.minX = s.x0, stamp.maxX = s.x1, stamp.minY = stamp.maxY = s.y;
                } else {
                    stamp.minX = std::min(stamp.minX, s.x0), stamp.maxX = std::max(stamp.maxX, s.x1);
                    stamp.maxY = s.y;
                }
                stamp.spans.push_back(s);
            }
            x = end + 1;
        }
    cairo_surface_destroy(surface);
    return stamp;
}

// Stamps are made once per zoom and cut and kept for the process's life;
// pictures may be drawn from several threads.
std::mutex stampMutex;

const Stamp& wholeStamp(int zoom) {
    static std::array<std::unique_ptr<Stamp>, hexgeom::kMaxZoom + 1> cache;
    std::lock_guard<std::mutex> lock(stampMutex);
    std::unique_ptr<Stamp>& slot = cache[zoom];
    if (!slot) slot = std::make_unique<Stamp>(rasterize(zoom, 0, hexgeom::hexShape(zoom).hxs + 1));
    return *slot;
}

const Stamp& cutStamp(int zoom, int left, int right) {
    static std::map<std::array<int, 3>, Stamp> cache;
    std::lock_guard<std::mutex> lock(stampMutex);
    const std::array<int, 3> key{zoom, left, right};
    auto found = cache.find(key);
    if (found == cache.end()) found = cache.emplace(key, rasterize(zoom, left, right)).first;
    return found->second;
}

// The stamp of a hexagon whose origin is at client column ox, for a paint
// clipped to the columns clip.left..clip.right-1.
const Stamp& stampAt(int zoom, int hxs, int ox, const Clip& clip, const Stamp& whole) {
    const bool cutLeft = ox < clip.left && ox + hxs >= clip.left;
    const bool cutRight = ox < clip.right && ox + hxs >= clip.right;
    if (!cutLeft && !cutRight) return whole;
    return cutStamp(zoom, cutLeft ? clip.left - ox : 0, cutRight ? clip.right - ox : hxs + 1);
}

// ---------------------------------------------------------------------------
// Writing pixels

// The pixels that may be written: the clip box and the target, in client
// coordinates, right and bottom exclusive.
struct Area {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

template <class Block>
Area writable(const Clip& clip, const Block& t) {
    return Area{std::max(clip.left, t.origin.x), std::max(clip.top, t.origin.y),
                std::min<int>(clip.right, static_cast<int>(std::min<long long>(
                                              static_cast<long long>(t.origin.x) + t.width, INT_MAX))),
                std::min<int>(clip.bottom, static_cast<int>(std::min<long long>(
                                               static_cast<long long>(t.origin.y) + t.height, INT_MAX)))};
}

// Most runs of a hexagon are a few pixels long: a plain loop beats a call.
template <class T>
inline void fillRun(T* p, int n, T colour) {
    for (int k = 0; k < n; ++k) p[k] = colour;
}

// Bytes by overlapping word stores: a byte loop would become a call to
// memset, which costs more than a short run.
template <class W>
inline void store(std::uint8_t* p, W w) {
    std::memcpy(p, &w, sizeof w);
}

inline void fillRun(std::uint8_t* p, int n, std::uint8_t value) {
    if (n >= 8) {
        const std::uint64_t w = value * 0x0101010101010101ull;
        std::uint8_t* const end = p + n;
        for (; end - p >= 8; p += 8) store(p, w);
        if (p != end) store(end - 8, w);
    } else if (n >= 4) {
        const std::uint32_t w = value * 0x01010101u;
        store(p, w);
        store(p + n - 4, w);
    } else if (n >= 2) {
        const std::uint16_t w = static_cast<std::uint16_t>(value * 0x0101u);
        store(p, w);
        store(p + n - 2, w);
    } else if (n == 1) {
        *p = value;
    }
}

// How cells are coloured: as ARGB pixels, or as palette indices.
struct ArgbPaint {
    using Value = Pixel;
    const Colours& colours;
    Value cell(char t, char e) const { return colours.cell(t, e); }
    Value black() const { return kBlack; }
    Value ink(Pixel p) const { return p; }
};

struct IndexPaint {
    using Value = std::uint8_t;
    const Indices& indices;
    Value cell(char t, char e) const { return indices.cell(t, e); }
    Value black() const { return indices.black(); }
    Value ink(Pixel) const { return indices.ink(); }
};

template <class Paint, class Block>
class Writer {
public:
    using T = typename Paint::Value;
    Writer(Block& t, const Area& a, const Paint& paint) : t_(t), a_(a), paint_(paint) {}

    T* at(int x, int y) const {
        return t_.pixels + static_cast<std::ptrdiff_t>(y - t_.origin.y) * t_.stride + (x - t_.origin.x);
    }

    // Fills x0..x1 of row y, as far as they lie in the area.
    void span(int y, int x0, int x1, T colour) const {
        if (y < a_.y0 || y >= a_.y1) return;
        x0 = std::max(x0, a_.x0);
        x1 = std::min(x1, a_.x1 - 1);
        if (x0 > x1) return;
        fillRun(at(x0, y), x1 - x0 + 1, colour);
    }

    void stamp(const Stamp& s, int ox, int oy, T colour) const {
        const T black = paint_.black();
        if (ox + s.minX >= a_.x0 && ox + s.maxX < a_.x1 && oy + s.minY >= a_.y0 && oy + s.maxY < a_.y1) {
            T* base = at(ox, oy);
            for (const StampSpan& r : s.spans) {
                fillRun(base + static_cast<std::ptrdiff_t>(r.y) * t_.stride + r.x0, r.x1 - r.x0 + 1,
                        r.outline ? black : colour);
            }
            return;
        }
        for (const StampSpan& r : s.spans) span(oy + r.y, ox + r.x0, ox + r.x1, r.outline ? black : colour);
    }

    void label(const Label& l, int x, int y, Pixel ink) const {
        const T value = paint_.ink(ink);
        for (const Span& r : l.ink) span(y + r.y, x + r.x0, x + r.x1, value);
    }

    const Area& area() const { return a_; }
    const Paint& paint() const { return paint_; }

private:
    Block& t_;
    Area a_;
    Paint paint_;
};

long long floorDiv(long long a, long long b) {
    long long q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}
long long ceilDiv(long long a, long long b) { return -floorDiv(-a, b); }

int clampInt(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

bool isEven(int col) { return col % 2 == 0; }

// The cells of one row of the map, read in place: the map keeps its rows
// side by side.
class RowReader {
public:
    explicit RowReader(const HxMap& map) : map_(map) {}
    void read(int y) {
        terrain_ = map_.terrainRow(y);
        elevation_ = map_.elevationRow(y);
    }
    char t(int x) const { return terrain_[x]; }
    char e(int x) const { return elevation_[x]; }

private:
    const HxMap& map_;
    const char* terrain_ = nullptr;
    const char* elevation_ = nullptr;
};

// Labels of one drawing: the font's labels looked up once per value.
class LabelCache {
public:
    explicit LabelCache(LabelFont* font) : font_(font), ink_(font ? font->ink() : kBlack) {}
    const Label& get(int value) {
        const Label*& l = labels_[static_cast<std::size_t>(value)];
        if (!l) l = &font_->label(value);
        return *l;
    }
    Pixel ink() const { return ink_; }

private:
    LabelFont* font_;
    Pixel ink_;
    std::array<const Label*, 128> labels_{};   // values 1..127
};

// A hexagon and, from zoom 16 and for elevations above 0, its label.
template <class Out>
void drawHex(const Out& out, const hexgeom::HexShape& shape, const Stamp& stamp, int ox, int oy,
             typename Out::T colour, char elevation, LabelCache* labels) {
    out.stamp(stamp, ox, oy, colour);
    const int el = static_cast<signed char>(elevation);
    if (labels && el > 0) {
        const Label& l = labels->get(el);
        out.label(l, ox + (shape.hxs - l.w) / 2, oy + (shape.hys - l.h) / 2, labels->ink());
    }
}

template <class Out>
void drawHexes(const Picture& pic, const Clip& clip, const Out& out) {
    const Area& a = out.area();
    const int zoom = pic.zoom;
    const long long p = hexgeom::pitch(zoom);
    const hexgeom::HexShape shape = hexgeom::hexShape(zoom);
    const Stamp& whole = wholeStamp(zoom);
    const bool labels = hexgeom::hasLabels(zoom) && pic.labels;
    // Only cells whose hexagon reaches into the area; a label may reach one
    // cell further.
    const long long reach = labels ? p : 0;
    const long long vx = pic.viewStart.x, vy = pic.viewStart.y;
    const int x1 = clampInt(std::max<long long>(pic.cells.x1, vx + ceilDiv(a.x0 - whole.maxX - reach, p)));
    const int x2 = clampInt(std::min<long long>(pic.cells.x2, vx + floorDiv(a.x1 - 1 - whole.minX + reach, p)));
    const int y1 = clampInt(
        std::max<long long>(pic.cells.y1, vy + ceilDiv(a.y0 - whole.maxY - shape.hys / 2 - reach, p)));
    const int y2 = clampInt(std::min<long long>(pic.cells.y2, vy + floorDiv(a.y1 - 1 - whole.minY + reach, p)));
    if (x1 > x2 || y1 > y2) return;

    // One stamp per column: only columns at the clip box's edges are cut.
    std::vector<const Stamp*> stamps(static_cast<std::size_t>(x2 - x1 + 1));
    for (int j = x1; j <= x2; ++j)
        stamps[static_cast<std::size_t>(j - x1)] =
            &stampAt(zoom, shape.hxs, static_cast<int>((j - vx) * p), clip, whole);
    LabelCache cache(labels ? pic.labels : nullptr);
    RowReader row(pic.map);
    for (int i = y1; i <= y2; ++i) {
        row.read(i);
        const int rowY = static_cast<int>((i - vy) * p);
        for (int j = x1; j <= x2; ++j) {
            const int ox = static_cast<int>((j - vx) * p);
            const int oy = rowY + (isEven(j) ? shape.hys / 2 : 0);
            drawHex(out, shape, *stamps[static_cast<std::size_t>(j - x1)], ox, oy,
                    out.paint().cell(row.t(j), row.e(j)), row.e(j), labels ? &cache : nullptr);
        }
    }
}

template <class Out>
void drawDots(const Picture& pic, const Out& out) {
    const Area& a = out.area();
    const long long p = hexgeom::pitch(pic.zoom);
    const long long vx = pic.viewStart.x, vy = pic.viewStart.y;
    const int x1 = clampInt(std::max<long long>(pic.cells.x1, vx + floorDiv(a.x0, p)));
    const int x2 = clampInt(std::min<long long>(pic.cells.x2, vx + floorDiv(a.x1 - 1, p)));
    const int y1 = clampInt(std::max<long long>(pic.cells.y1, vy + floorDiv(a.y0, p)));
    const int y2 = clampInt(std::min<long long>(pic.cells.y2, vy + floorDiv(a.y1 - 1, p)));
    if (x1 > x2 || y1 > y2) return;
    // Pixel columns of the squares x1..x2 inside the area.
    const int left = static_cast<int>(std::max<long long>((x1 - vx) * p, a.x0));
    const int right = static_cast<int>(std::min<long long>((x2 - vx + 1) * p, a.x1));   // exclusive
    RowReader row(pic.map);
    for (int i = y1; i <= y2; ++i) {
        row.read(i);
        const int top = static_cast<int>(std::max<long long>((i - vy) * p, a.y0));
        const int bottom = static_cast<int>(std::min<long long>((i - vy + 1) * p, a.y1));
        typename Out::T* first = out.at(left, top);
        if (p == 1) {
            for (int j = x1; j <= x2; ++j) first[j - x1] = out.paint().cell(row.t(j), row.e(j));
        } else {
            for (int j = x1; j <= x2; ++j) {
                const int sx0 = std::max(static_cast<int>((j - vx) * p), left);
                const int sx1 = std::min(static_cast<int>((j - vx + 1) * p), right);
                std::fill(first + (sx0 - left), first + (sx1 - left), out.paint().cell(row.t(j), row.e(j)));
            }
        }
        for (int y = top + 1; y < bottom; ++y)
            std::memcpy(out.at(left, y), first, sizeof(typename Out::T) * (right - left));
    }
}

template <class Paint, class Block>
void drawInto(const Picture& picture, const Clip& clip, Block& target, const Paint& paint) {
    if (picture.cells.empty() || !target.pixels) return;
    const Area a = writable(clip, target);
    if (a.empty()) return;
    const Writer<Paint, Block> out(target, a, paint);
    if (hexgeom::isDotMap(picture.zoom))
        drawDots(picture, out);
    else
        drawHexes(picture, clip, out);
}

}  // namespace

void draw(const Picture& picture, const Clip& clip, Target& target) {
    drawInto(picture, clip, target, ArgbPaint{picture.colours});
}

void draw(const Picture& picture, const Indices& indices, const Clip& clip, IndexTarget& target) {
    drawInto(picture, clip, target, IndexPaint{indices});
}

void drawCells(const Picture& picture, const std::vector<hexgeom::Point>& cells, const Clip& clip, Target& target) {
    if (cells.empty() || !target.pixels) return;
    const Area a = writable(clip, target);
    if (a.empty()) return;
    const Writer<ArgbPaint, Target> out(target, a, ArgbPaint{picture.colours});
    const int zoom = picture.zoom;
    const int p = hexgeom::pitch(zoom);
    const HxMap& map = picture.map;
    if (hexgeom::isDotMap(zoom)) {
        for (const hexgeom::Point& c : cells) {
            if (!map.valid(c.x, c.y)) continue;
            const hexgeom::Point o = hexgeom::dotOrigin(zoom, c.x, c.y, picture.viewStart);
            const Pixel colour = picture.colours.cell(map.t(c.x, c.y), map.e(c.x, c.y));
            for (int y = o.y; y < o.y + p; ++y) out.span(y, o.x, o.x + p - 1, colour);
        }
        return;
    }
    const hexgeom::HexShape shape = hexgeom::hexShape(zoom);
    const Stamp& whole = wholeStamp(zoom);
    const bool labels = hexgeom::hasLabels(zoom) && picture.labels;
    const int reach = labels ? p : 0;   // how far a label may reach past its hexagon
    LabelCache cache(labels ? picture.labels : nullptr);
    // A cell listed again later is drawn only there: its later drawing
    // writes every pixel its earlier one wrote, with the same values.
    std::unordered_map<long long, std::size_t> last;
    for (std::size_t k = 0; k < cells.size(); ++k)
        last[static_cast<long long>(cells[k].y) << 32 | static_cast<unsigned>(cells[k].x)] = k;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        const hexgeom::Point c = cells[k];
        if (!map.valid(c.x, c.y) || last[static_cast<long long>(c.y) << 32 | static_cast<unsigned>(c.x)] != k)
            continue;
        const hexgeom::Point o = hexgeom::hexOrigin(zoom, c.x, c.y, picture.viewStart);
        if (o.x + whole.maxX + reach < a.x0 || o.x + whole.minX - reach >= a.x1 ||
            o.y + whole.maxY + reach < a.y0 || o.y + whole.minY - reach >= a.y1)
            continue;
        const char el = map.e(c.x, c.y);
        drawHex(out, shape, stampAt(zoom, shape.hxs, o.x, clip, whole), o.x, o.y,
                picture.colours.cell(map.t(c.x, c.y), el), el, labels ? &cache : nullptr);
    }
}

hexgeom::PixelRect pictureBox(int zoom, const hexgeom::CellRange& cells, hexgeom::Point viewStart) {
    if (cells.empty()) return {0, 0, 0, 0};
    zoom = hexgeom::clampZoom(zoom);
    const long long p = hexgeom::pitch(zoom);
    const long long cx1 = (static_cast<long long>(cells.x1) - viewStart.x) * p;
    const long long cx2 = (static_cast<long long>(cells.x2) - viewStart.x) * p;
    const long long cy1 = (static_cast<long long>(cells.y1) - viewStart.y) * p;
    const long long cy2 = (static_cast<long long>(cells.y2) - viewStart.y) * p;
    long long left, top, right, bottom;   // inclusive
    if (hexgeom::isDotMap(zoom)) {
        left = cx1, top = cy1, right = cx2 + p - 1, bottom = cy2 + p - 1;
    } else {
        const Stamp& s = wholeStamp(zoom);
        const long long lower = p / 2;   // even columns sit this much lower
        const bool hasEven = cells.x1 != cells.x2 || isEven(cells.x1);
        const bool hasOdd = cells.x1 != cells.x2 || !isEven(cells.x1);
        left = cx1 + s.minX;
        right = cx2 + s.maxX;
        top = cy1 + (hasOdd ? 0 : lower) + s.minY;
        bottom = cy2 + (hasEven ? lower : 0) + s.maxY;
    }
    return {clampInt(left), clampInt(top), clampInt(right - left + 1), clampInt(bottom - top + 1)};
}

}  // namespace hxpic
