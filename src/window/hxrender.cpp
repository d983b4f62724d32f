#include "hxrender.h"

#include <algorithm>
#include <map>
#include <utility>

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
            // Elevations are signed 8-bit values whatever the signedness of char.
            const int el = static_cast<signed char>(job.map.e(j, i));
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
            const wxColour& colour = *job.colours.getTerrain(job.map.t(j, i), static_cast<signed char>(job.map.e(j, i)));
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
// Labels

namespace {

hxpic::Pixel pack(const wxColour& c) {
    return hxpic::kOpaque | static_cast<hxpic::Pixel>(c.Red()) << 16 | static_cast<hxpic::Pixel>(c.Green()) << 8 |
           static_cast<hxpic::Pixel>(c.Blue());
}

bool isWhite(const wxImage& image, int x, int y) {
    return image.GetRed(x, y) == 255 && image.GetGreen(x, y) == 255 && image.GetBlue(x, y) == 255;
}

// Draws the text on a white scratch bitmap with the reference's primitives
// and reads back every pixel that is not white: the label's ink, relative to
// where DrawText puts the text. The extent is measured on the target, as the
// reference measures it.
hxpic::Label learnLabel(wxDC& target, const wxFont& font, const wxColour& colour, int value) {
    hxpic::Label label;
    const wxString text = wxString::Format("%d", value);
    wxCoord w = 0, h = 0;
    target.GetTextExtent(text, &w, &h);
    label.w = w;
    label.h = h;
    const int margin = 8;
    const int bw = w + 2 * margin, bh = h + 2 * margin;
    wxBitmap bitmap(bw, bh, 24);
    {
        wxMemoryDC dc(bitmap);
        if (font.IsOk()) dc.SetFont(font);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        useExactPixels(dc);
        dc.SetTextForeground(colour);
        dc.DrawText(text, margin, margin);
    }
    const wxImage image = bitmap.ConvertToImage();
    for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
            if (isWhite(image, x, y)) continue;
            int end = x;
            while (end + 1 < bw && !isWhite(image, end + 1, y)) ++end;
            label.ink.push_back({y - margin, x - margin, end - margin});
            x = end;
        }
    return label;
}

}  // namespace

ToolkitLabelFont::ToolkitLabelFont(wxDC& dc)
    : dc_(dc), font_(dc.GetFont()), colour_(dc.GetTextForeground()), ink_(pack(colour_)) {}

const hxpic::Label& ToolkitLabelFont::label(int value) {
    value = std::clamp(value, 1, 127);
    const hxpic::Label*& slot = labels_[static_cast<std::size_t>(value)];
    if (slot) return *slot;
    // Learned labels are kept per font, text colour and resolution, so that
    // every paint after the first one finds them.
    static std::map<std::pair<wxString, int>, hxpic::Label> cache;
    const wxSize ppi = dc_.GetPPI();
    const wxString key = (font_.IsOk() ? font_.GetNativeFontInfoDesc() : wxString()) +
                         wxString::Format("|%08x|%d,%d", static_cast<unsigned>(ink_), ppi.x, ppi.y);
    auto found = cache.find({key, value});
    if (found == cache.end())
        found = cache.emplace(std::make_pair(key, value), learnLabel(dc_, font_, colour_, value)).first;
    slot = &found->second;
    return *slot;
}

// ---------------------------------------------------------------------------
// Putting pixels on the screen

void showPixels(wxDC& dc, const hxpic::Pixel* pixels, int width, int height, std::ptrdiff_t stride, int x, int y,
                bool opaque) {
    if (width <= 0 || height <= 0) return;
    // On a cairo-backed context the pixels go to cairo as they are.
    wxGraphicsContext* gc = dc.GetGraphicsContext();
    wxGraphicsRenderer* cairoRenderer = wxGraphicsRenderer::GetCairoRenderer();
    if (gc && cairoRenderer && gc->GetRenderer() == cairoRenderer) {
        auto* cr = static_cast<cairo_t*>(gc->GetNativeContext());
        cairo_surface_t* surface = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(const_cast<hxpic::Pixel*>(pixels)),
            opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, width, height,
            static_cast<int>(stride * sizeof(hxpic::Pixel)));
        cairo_save(cr);
        cairo_set_source_surface(cr, surface, x, y);
        cairo_rectangle(cr, x, y, width, height);
        cairo_fill(cr);
        cairo_restore(cr);
        cairo_surface_flush(cairo_get_target(cr));
        cairo_surface_destroy(surface);
        return;
    }
    // Elsewhere through a bitmap.
    wxImage image(width, height, false);
    if (!opaque) image.InitAlpha();
    unsigned char* rgb = image.GetData();
    unsigned char* alpha = image.GetAlpha();
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const hxpic::Pixel px = pixels[row * stride + col];
            const std::size_t i = static_cast<std::size_t>(row) * width + col;
            rgb[3 * i] = static_cast<unsigned char>(px >> 16);
            rgb[3 * i + 1] = static_cast<unsigned char>(px >> 8);
            rgb[3 * i + 2] = static_cast<unsigned char>(px);
            if (alpha) alpha[i] = static_cast<unsigned char>(px >> 24);
        }
    dc.DrawBitmap(wxBitmap(image), x, y, false);
}

// ---------------------------------------------------------------------------
// Painting through the picture core

namespace {

// Larger pictures are drawn and shown in bands of rows of at most this many
// pixels, so that the buffer stays small whatever the picture's size.
constexpr std::size_t kBandPixels = std::size_t{1} << 21;

hxpic::Clip clipOf(const wxRect& r) { return {r.x, r.y, r.x + r.width, r.y + r.height}; }

wxRect boxOf(const hexgeom::PixelRect& r) { return wxRect(r.x, r.y, r.w, r.h); }

// A label can reach past its hexagon's box, at most about a cell's pitch.
wxRect withLabels(wxRect box, int zoom) {
    if (!hexgeom::isDotMap(zoom) && hexgeom::hasLabels(zoom)) box.Inflate(hexgeom::pitch(zoom));
    return box;
}

// Whether the cells covered every pixel. Such a picture goes to the screen
// without blending, which is much cheaper there.
bool opaque(const hxpic::Pixel* pixels, std::size_t n) {
    hxpic::Pixel all = hxpic::kOpaque;
    for (std::size_t i = 0; i < n; ++i) all &= pixels[i];
    return (all & hxpic::kOpaque) == hxpic::kOpaque;
}

}  // namespace

hxpic::Pixel* ScreenPainter::buffer(std::size_t pixels) {
    if (buffer_.size() < pixels) buffer_.resize(pixels);
    return buffer_.data();
}

void ScreenPainter::paint(wxDC& dc, const HxMap& map, const hxpic::Colours& colours, int zoom,
                          hexgeom::Point viewStart, const hexgeom::CellRange& cells, const wxRect& area) {
    if (cells.empty()) return;
    const bool dots = hexgeom::isDotMap(zoom);
    const wxRect box = withLabels(boxOf(hxpic::pictureBox(zoom, cells, viewStart)), zoom).Intersect(area);
    if (box.IsEmpty()) return;
    ToolkitLabelFont labels(dc);
    const hxpic::Picture picture{map, colours, zoom, viewStart, cells, &labels};
    const int bandRows = static_cast<int>(std::clamp<std::size_t>(kBandPixels / box.width, 1, box.height));
    for (int y = box.y; y < box.y + box.height; y += bandRows) {
        const int rows = std::min(bandRows, box.y + box.height - y);
        const std::size_t n = static_cast<std::size_t>(box.width) * rows;
        hxpic::Pixel* pixels = buffer(n);
        // The squares of a range of dots cover their box; between and
        // around hexagons the device context keeps what it shows.
        if (!dots) std::fill(pixels, pixels + n, 0u);
        hxpic::Target target{pixels, box.width, rows, box.width, {box.x, y}};
        hxpic::draw(picture, clipOf(area), target);
        showPixels(dc, pixels, box.width, rows, box.width, box.x, y, dots || opaque(pixels, n));
    }
}

void ScreenPainter::paintCells(wxDC& dc, const HxMap& map, const hxpic::Colours& colours, int zoom,
                               hexgeom::Point viewStart, const std::vector<hexgeom::Point>& cells,
                               const wxRect& area) {
    wxRect box;
    for (const hexgeom::Point& c : cells) {
        if (!map.valid(c.x, c.y)) continue;
        const wxRect b = boxOf(hxpic::pictureBox(zoom, {c.x, c.y, c.x, c.y}, viewStart));
        box = box.IsEmpty() ? b : box.Union(b);
    }
    box = withLabels(box, zoom).Intersect(area);
    if (box.IsEmpty()) return;
    ToolkitLabelFont labels(dc);
    const hxpic::Picture picture{map, colours, zoom, viewStart, {0, 0, -1, -1}, &labels};
    const std::size_t n = static_cast<std::size_t>(box.width) * box.height;
    hxpic::Pixel* pixels = buffer(n);
    std::fill(pixels, pixels + n, 0u);
    hxpic::Target target{pixels, box.width, box.height, box.width, {box.x, box.y}};
    hxpic::drawCells(picture, cells, clipOf(area), target);
    showPixels(dc, pixels, box.width, box.height, box.width, box.x, box.y, opaque(pixels, n));
}

void drawCellsInOrder(wxDC& dc, const HxMap& map, const wxTerrainSet& colours, int zoom, hexgeom::Point viewStart,
                      const std::vector<hexgeom::Point>& cells) {
    ScreenPainter().paintCells(dc, map, hxpic::Colours(colours), zoom, viewStart, cells,
                               wxRect(wxPoint(0, 0), dc.GetSize()));
}
