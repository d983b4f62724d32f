#include "hxrender.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>

#include <wx/bitmap.h>
#include <wx/brush.h>
#include <wx/dc.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/pen.h>
#include <wx/image.h>

#include <cairo.h>

#include "hxmap.h"
#include "wxterrains.h"

void useExactPixels(wxDC& dc) {
    if (wxGraphicsContext* gc = dc.GetGraphicsContext()) gc->SetAntialiasMode(wxANTIALIAS_NONE);
}

// ---------------------------------------------------------------------------
// Reference drawing

void drawHexCellsReference(wxDC& dc, const RenderJob& job) {
    const hexgeom::CellRange& r = job.cells;
    if (r.empty()) return;
    const hexgeom::HexShape shape = hexgeom::hexShape(job.zoom);
    wxPoint vertices[6];
    for (int k = 0; k < 6; ++k) vertices[k] = wxPoint(shape.vertex[k].x, shape.vertex[k].y);
    const bool labels = hexgeom::hasLabels(job.zoom);

    dc.SetPen(*wxBLACK_PEN);
    for (int i = r.y1; i <= r.y2; ++i) {
        for (int j = r.x1; j <= r.x2; ++j) {
            const int el = job.map.e(j, i);
            const wxColour& colour = *job.colours.getTerrain(job.map.t(j, i), el);
            const hexgeom::Point o = hexgeom::hexOrigin(job.zoom, j, i, job.viewStart);
            dc.SetBrush(wxBrush(colour, wxBRUSHSTYLE_SOLID));
            dc.DrawPolygon(6, vertices, o.x, o.y, wxODDEVEN_RULE);
            if (labels && el > 0) {
                const wxString text = wxString::Format("%d", el);
                wxCoord w = 0, h = 0;
                dc.GetTextExtent(text, &w, &h);
                dc.SetTextBackground(colour);
                dc.DrawText(text, o.x + (shape.hxs - w) / 2, o.y + (shape.hys - h) / 2);
            }
        }
    }
}

void drawDotCellsReference(wxDC& dc, const RenderJob& job) {
    const hexgeom::CellRange& r = job.cells;
    if (r.empty()) return;
    const int p = hexgeom::pitch(job.zoom);
    for (int i = r.y1; i <= r.y2; ++i) {
        for (int j = r.x1; j <= r.x2; ++j) {
            const wxColour& colour = *job.colours.getTerrain(job.map.t(j, i), job.map.e(j, i));
            const hexgeom::Point o = hexgeom::dotOrigin(job.zoom, j, i, job.viewStart);
            dc.SetPen(wxPen(colour, 1, wxPENSTYLE_SOLID));
            if (job.zoom != 0) {
                dc.SetBrush(wxBrush(colour, wxBRUSHSTYLE_SOLID));
                dc.DrawRectangle(o.x, o.y, p, p);
            } else {
                dc.DrawPoint(o.x, o.y);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Drawing in memory

namespace {

// A pixel as cairo's ARGB32 format holds it: 0xAARRGGBB in a native 32-bit
// word, colour premultiplied by alpha. Only alpha 0 (leave what is there)
// and 255 (opaque) occur, so premultiplying changes nothing.
using Rgba = std::uint32_t;
constexpr Rgba kOpaque = 0xff000000u;
constexpr Rgba kBlack = kOpaque;

Rgba pack(const wxColour& c) {
    return kOpaque | static_cast<Rgba>(c.Red()) << 16 | static_cast<Rgba>(c.Green()) << 8 |
           static_cast<Rgba>(c.Blue());
}

// A horizontal run of pixels of one kind, relative to a hexagon's origin.
struct Span {
    int y, x0, x1;   // x0..x1 inclusive
    bool outline;
};

// The pixels that DrawPolygon gives one hexagon at a zoom: found once by
// drawing it with the reference primitives and reading the result back, so
// that the copies are the reference's pixels by construction.
struct HexStamp {
    std::vector<Span> spans;
};

// Reads the pixels of a drawn hexagon back as spans relative to its origin.
// Only columns from `fromX` on are read (those left of it were clipped).
HexStamp readStamp(const wxImage& image, const wxColour& fill, int originX, int originY, int fromX) {
    HexStamp stamp;
    const int w = image.GetWidth(), h = image.GetHeight();
    const auto kindAt = [&](int px, int py) {
        const unsigned char r = image.GetRed(px, py), g = image.GetGreen(px, py), b = image.GetBlue(px, py);
        if (r == 255 && g == 255 && b == 255) return 0;
        return (r == fill.Red() && g == fill.Green() && b == fill.Blue()) ? 2 : 1;
    };
    for (int y = 0; y < h; ++y) {
        for (int x = fromX; x < w;) {
            const int kind = kindAt(x, y);
            int end = x;
            while (end + 1 < w && kindAt(end + 1, y) == kind) ++end;
            if (kind != 0) stamp.spans.push_back({y - originY, x - originX, end - originX, kind == 1});
            x = end + 1;
        }
    }
    return stamp;
}

// Draws one hexagon with the reference primitives on a white scratch
// bitmap, its origin 3 pixels from the left. With clipLeft > 0 the device
// context is clipped left of that column, with clipRight > 0 from that
// column on, as a paint limited to a region is.
HexStamp drawStamp(int zoom, int clipLeft, int clipRight) {
    const hexgeom::HexShape shape = hexgeom::hexShape(zoom);
    const int margin = 3, originX = margin;
    const int w = shape.hxs + 1 + 2 * margin, h = shape.hys + 2 * margin;
    const wxColour fill(10, 200, 30);
    wxBitmap bitmap(w, h, 24);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        if (clipLeft > 0 || clipRight > 0) {
            const int right = clipRight > 0 ? clipRight : w;
            dc.SetClippingRegion(clipLeft, 0, right - clipLeft, h);
        }
        useExactPixels(dc);
        wxPoint vertices[6];
        for (int k = 0; k < 6; ++k) vertices[k] = wxPoint(shape.vertex[k].x, shape.vertex[k].y);
        dc.SetPen(*wxBLACK_PEN);
        dc.SetBrush(wxBrush(fill, wxBRUSHSTYLE_SOLID));
        dc.DrawPolygon(6, vertices, originX, margin, wxODDEVEN_RULE);
    }
    wxImage image = bitmap.ConvertToImage();
    if (clipRight > 0) image = image.GetSubImage(wxRect(0, 0, clipRight, h));
    return readStamp(image, fill, originX, margin, std::max(clipLeft, 0));
}

// The pixels DrawPolygon gives one hexagon at a zoom, found once by drawing
// it with the reference primitives, so that copies are the reference's
// pixels by construction.
const HexStamp& hexStamp(int zoom) {
    static std::array<std::unique_ptr<HexStamp>, hexgeom::kMaxZoom + 1> cache;
    std::unique_ptr<HexStamp>& slot = cache[zoom];
    if (!slot) slot = std::make_unique<HexStamp>(drawStamp(zoom, 0, 0));
    return *slot;
}

// A hexagon cut by the left or right edge of the device context's clipping
// box: `left` and `right` are those edges relative to its origin (0 and
// hxs + 1 when the edge does not cut it). The rasterizer then gives a few
// pixels near the clipped slant that an unclipped hexagon does not have, so
// such hexagons get stamps of their own.
const HexStamp& clippedHexStamp(int zoom, int left, int right) {
    static std::map<std::array<int, 3>, HexStamp> cache;
    const std::array<int, 3> key{zoom, left, right};
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
    const int hxs = hexgeom::hexShape(zoom).hxs;
    return cache.emplace(key, drawStamp(zoom, left > 0 ? 3 + left : 0, right <= hxs ? 3 + right : 0))
        .first->second;
}

// The pixels of an elevation label in the device context's font, relative
// to where DrawText puts the text, with the text's extent.
struct LabelStamp {
    int w = 0, h = 0;
    std::vector<Span> spans;
};

const LabelStamp& labelStamp(wxDC& target, const wxString& key, int value) {
    static std::map<std::pair<wxString, int>, LabelStamp> cache;
    const wxFont font = target.GetFont();
    auto found = cache.find({key, value});
    if (found != cache.end()) return found->second;

    LabelStamp stamp;
    const wxString text = wxString::Format("%d", value);
    target.GetTextExtent(text, &stamp.w, &stamp.h);
    const int margin = 8;
    const int w = stamp.w + 2 * margin, h = stamp.h + 2 * margin;
    wxBitmap bitmap(w, h, 24);
    {
        wxMemoryDC dc(bitmap);
        if (font.IsOk()) dc.SetFont(font);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        useExactPixels(dc);
        dc.SetTextForeground(target.GetTextForeground());
        dc.DrawText(text, margin, margin);
    }
    const wxImage image = bitmap.ConvertToImage();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (image.GetRed(x, y) == 255 && image.GetGreen(x, y) == 255 && image.GetBlue(x, y) == 255) continue;
            int end = x;
            while (end + 1 < w && !(image.GetRed(end + 1, y) == 255 && image.GetGreen(end + 1, y) == 255 &&
                                    image.GetBlue(end + 1, y) == 255))
                ++end;
            stamp.spans.push_back({y - margin, x - margin, end - margin, true});
            x = end;
        }
    return cache.emplace(std::make_pair(key, value), std::move(stamp)).first->second;
}

// A rectangle of RGBA pixels in client coordinates; alpha 0 means "leave
// what the device context shows".
class Canvas {
public:
    // A canvas that will be covered completely need not start transparent.
    explicit Canvas(const wxRect& area, bool clear = true)
        : area_(area), size_(static_cast<std::size_t>(area.width) * area.height), pixels_(new Rgba[size_]) {
        if (clear) std::fill(pixels_.get(), pixels_.get() + size_, 0u);
    }

    // The pixels of client row y, which must lie inside the canvas.
    Rgba* row(int y) { return &pixels_[static_cast<std::size_t>(y - area_.y) * area_.width]; }

    // Fills the part of a span (relative to origin ox, oy) inside the canvas.
    void span(int ox, int oy, const Span& s, Rgba colour) {
        const int y = oy + s.y - area_.y;
        if (y < 0 || y >= area_.height) return;
        const int x0 = std::max(ox + s.x0 - area_.x, 0);
        const int x1 = std::min(ox + s.x1 - area_.x, area_.width - 1);
        if (x0 > x1) return;
        Rgba* row = &pixels_[static_cast<std::size_t>(y) * area_.width];
        std::fill(row + x0, row + x1 + 1, colour);
    }

    void rect(int x, int y, int w, int h, Rgba colour) {
        const int x0 = std::max(x - area_.x, 0), x1 = std::min(x + w - area_.x, area_.width);
        const int y0 = std::max(y - area_.y, 0), y1 = std::min(y + h - area_.y, area_.height);
        if (x0 >= x1) return;
        for (int yy = y0; yy < y1; ++yy) {
            Rgba* row = &pixels_[static_cast<std::size_t>(yy) * area_.width];
            std::fill(row + x0, row + x1, colour);
        }
    }

    // Puts the canvas on the device context in one image. On a cairo-backed
    // context the pixels go to cairo as they are; elsewhere through a bitmap.
    void drawOn(wxDC& dc, bool opaque) {
        if (area_.width <= 0 || area_.height <= 0) return;
        wxGraphicsContext* gc = dc.GetGraphicsContext();
        wxGraphicsRenderer* cairoRenderer = wxGraphicsRenderer::GetCairoRenderer();
        if (gc && cairoRenderer && gc->GetRenderer() == cairoRenderer) {
            auto* cr = static_cast<cairo_t*>(gc->GetNativeContext());
            cairo_surface_t* surface = cairo_image_surface_create_for_data(
                reinterpret_cast<unsigned char*>(pixels_.get()), opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32,
                area_.width, area_.height, area_.width * 4);
            cairo_save(cr);
            cairo_set_source_surface(cr, surface, area_.x, area_.y);
            cairo_rectangle(cr, area_.x, area_.y, area_.width, area_.height);
            cairo_fill(cr);
            cairo_restore(cr);
            cairo_surface_flush(cairo_get_target(cr));
            cairo_surface_destroy(surface);
            return;
        }
        wxImage image(area_.width, area_.height, false);
        if (!opaque) image.InitAlpha();
        unsigned char* rgb = image.GetData();
        unsigned char* alpha = image.GetAlpha();
        for (std::size_t i = 0; i < size_; ++i) {
            rgb[3 * i] = static_cast<unsigned char>(pixels_[i] >> 16);
            rgb[3 * i + 1] = static_cast<unsigned char>(pixels_[i] >> 8);
            rgb[3 * i + 2] = static_cast<unsigned char>(pixels_[i]);
            if (alpha) alpha[i] = static_cast<unsigned char>(pixels_[i] >> 24);
        }
        dc.DrawBitmap(wxBitmap(image), area_.x, area_.y, false);
    }

private:
    wxRect area_;
    std::size_t size_;
    std::unique_ptr<Rgba[]> pixels_;
};

// Stamps hexagons and their labels into a canvas as the reference drawing
// on `dc` would draw them, one after another. clipLeft..clipRight - 1 are
// the columns of the device context's clipping box, whose edges the
// reference rasterizer cuts hexagons at.
class HexPainter {
public:
    HexPainter(wxDC& dc, int zoom, int clipLeft, int clipRight)
        : dc_(dc), zoom_(zoom), shape_(hexgeom::hexShape(zoom)), labels_(hexgeom::hasLabels(zoom)),
          clipLeft_(clipLeft), clipRight_(clipRight), whole_(hexStamp(zoom)), ink_(pack(dc.GetTextForeground())) {
        if (labels_) {
            const wxFont font = dc.GetFont();
            fontKey_ = font.IsOk() ? font.GetNativeFontInfoDesc() : wxString();
        }
    }

    void paint(Canvas& canvas, hexgeom::Point o, Rgba colour, int el) {
        const bool cutLeft = o.x < clipLeft_ && o.x + shape_.hxs >= clipLeft_;
        const bool cutRight = o.x < clipRight_ && o.x + shape_.hxs >= clipRight_;
        const HexStamp& hex = cutLeft || cutRight
                                  ? clippedHexStamp(zoom_, cutLeft ? clipLeft_ - o.x : 0,
                                                    cutRight ? clipRight_ - o.x : shape_.hxs + 1)
                                  : whole_;
        for (const Span& s : hex.spans) canvas.span(o.x, o.y, s, s.outline ? kBlack : colour);
        if (labels_ && el > 0) {
            const LabelStamp*& label = labelCache_[el];
            if (!label) label = &labelStamp(dc_, fontKey_, el);
            const int tx = o.x + (shape_.hxs - label->w) / 2, ty = o.y + (shape_.hys - label->h) / 2;
            for (const Span& s : label->spans) canvas.span(tx, ty, s, ink_);
        }
    }

private:
    wxDC& dc_;
    int zoom_;
    hexgeom::HexShape shape_;
    bool labels_;
    int clipLeft_, clipRight_;
    const HexStamp& whole_;
    Rgba ink_;
    wxString fontKey_;
    std::array<const LabelStamp*, 128> labelCache_{};   // elevations 1..127
};

wxRect hexBounds(int zoom, const hexgeom::CellRange& r, hexgeom::Point vs) {
    const hexgeom::HexShape shape = hexgeom::hexShape(zoom);
    const hexgeom::Point a = hexgeom::hexOrigin(zoom, r.x1, r.y1, vs);
    const hexgeom::Point b = hexgeom::hexOrigin(zoom, r.x2, r.y2, vs);
    const int top = a.y - shape.hys / 2 - 1, bottom = b.y + shape.hys / 2 + shape.hys + 1;
    return wxRect(wxPoint(a.x - 1, top), wxPoint(b.x + shape.hxs + 1, bottom));
}

}  // namespace

void drawHexCells(wxDC& dc, const RenderJob& job, const wxRect& area) {
    const hexgeom::CellRange& r = job.cells;
    if (r.empty()) return;
    const wxRect box = hexBounds(job.zoom, r, job.viewStart).Intersect(area);
    if (box.IsEmpty()) return;
    const wxTerrainSet& colours = job.colours;
    HexPainter painter(dc, job.zoom, area.x, area.GetRight() + 1);
    Canvas canvas(box);
    for (int i = r.y1; i <= r.y2; ++i)
        for (int j = r.x1; j <= r.x2; ++j) {
            const int el = job.map.e(j, i);
            painter.paint(canvas, hexgeom::hexOrigin(job.zoom, j, i, job.viewStart), colours.packed(job.map.t(j, i), el),
                          el);
        }
    canvas.drawOn(dc, false);
}

void drawDotCells(wxDC& dc, const RenderJob& job, const wxRect& area) {
    const hexgeom::CellRange& r = job.cells;
    if (r.empty()) return;
    const int p = hexgeom::pitch(job.zoom);
    const hexgeom::Point a = hexgeom::dotOrigin(job.zoom, r.x1, r.y1, job.viewStart);
    const wxRect box = wxRect(a.x, a.y, (r.x2 - r.x1 + 1) * p, (r.y2 - r.y1 + 1) * p).Intersect(area);
    if (box.IsEmpty()) return;
    Canvas canvas(box, false);
    // Cells first and last (partly) inside the box; a row of pixels is made
    // once per row of cells and copied to the cell's other pixel rows.
    const int j1 = r.x1 + (box.x - a.x) / p, j2 = r.x1 + (box.GetRight() - a.x) / p;
    const int i1 = r.y1 + (box.y - a.y) / p, i2 = r.y1 + (box.GetBottom() - a.y) / p;
    for (int i = i1; i <= i2; ++i) {
        const int top = std::max(hexgeom::dotOrigin(job.zoom, j1, i, job.viewStart).y, box.y);
        const int bottom = std::min(hexgeom::dotOrigin(job.zoom, j1, i, job.viewStart).y + p, box.y + box.height);
        Rgba* row = canvas.row(top);
        for (int j = j1; j <= j2; ++j) {
            const int left = hexgeom::dotOrigin(job.zoom, j, i, job.viewStart).x;
            const int x0 = std::max(left, box.x) - box.x, x1 = std::min(left + p, box.x + box.width) - box.x;
            std::fill(row + x0, row + x1, job.colours.packed(job.map.t(j, i), job.map.e(j, i)));
        }
        for (int y = top + 1; y < bottom; ++y) std::copy(row, row + box.width, canvas.row(y));
    }
    canvas.drawOn(dc, true);
}

void drawCellsInOrder(wxDC& dc, const HxMap& map, const wxTerrainSet& colours, int zoom, hexgeom::Point viewStart,
                      const std::vector<hexgeom::Point>& cells) {
    if (cells.empty()) return;
    const bool dots = hexgeom::isDotMap(zoom);
    wxRect box;
    for (const hexgeom::Point& c : cells) {
        const hexgeom::CellRange one{c.x, c.y, c.x, c.y};
        const wxRect b = dots ? wxRect(hexgeom::dotOrigin(zoom, c.x, c.y, viewStart).x,
                                       hexgeom::dotOrigin(zoom, c.x, c.y, viewStart).y, hexgeom::pitch(zoom),
                                       hexgeom::pitch(zoom))
                              : hexBounds(zoom, one, viewStart);
        box = box.IsEmpty() ? b : box.Union(b);
    }
    Canvas canvas(box);
    if (dots) {
        const int p = hexgeom::pitch(zoom);
        for (const hexgeom::Point& c : cells) {
            const hexgeom::Point o = hexgeom::dotOrigin(zoom, c.x, c.y, viewStart);
            canvas.rect(o.x, o.y, p, p, colours.packed(map.t(c.x, c.y), map.e(c.x, c.y)));
        }
    } else {
        HexPainter painter(dc, zoom, 0, dc.GetSize().GetWidth());
        for (const hexgeom::Point& c : cells) {
            const int el = map.e(c.x, c.y);
            painter.paint(canvas, hexgeom::hexOrigin(zoom, c.x, c.y, viewStart), colours.packed(map.t(c.x, c.y), el),
                          el);
        }
    }
    canvas.drawOn(dc, false);
}
