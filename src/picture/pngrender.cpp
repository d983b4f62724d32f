#include "pngrender.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "hxmap.h"
#include "pngbands.h"

namespace pngrender {

using hxpic::Pixel;

MadeLabels::MadeLabels(hxpic::LabelFont& font, const std::array<bool, 128>& used) : ink_(font.ink()) {
    for (int v = 1; v < 128; ++v) {
        if (!used[static_cast<std::size_t>(v)]) continue;
        const hxpic::Label& l = labels_[static_cast<std::size_t>(v)] = font.label(v);
        reach_ = std::max({reach_, l.w, l.h});
        for (const hxpic::Span& s : l.ink)
            reach_ = std::max({reach_, -s.y, s.y + 1, -s.x0, s.x1 + 1});
    }
}

std::array<bool, 128> usedLabels(const HxMap& map, const hexgeom::CellRange& cells) {
    std::array<bool, 128> used{};
    for (int y = cells.y1; y <= cells.y2 && !cells.empty(); ++y) {
        const char* e = map.elevationRow(y);
        for (int x = cells.x1; x <= cells.x2; ++x) {
            const int v = static_cast<signed char>(e[x]);
            if (v > 0) used[static_cast<std::size_t>(v)] = true;
        }
    }
    return used;
}

namespace {

// The cells whose hexagon, square or label can reach the file's pixels.
hexgeom::CellRange reaching(const Request& r) {
    const long long p = hexgeom::pitch(r.zoom);
    const long long margin = 2 + (r.labels ? r.labels->reach() / p + 1 : 0);
    const auto clampTo = [](long long v, int lo, int hi) {
        return static_cast<int>(std::max<long long>(lo, std::min<long long>(hi, v)));
    };
    hexgeom::CellRange c = r.cells;
    if (c.empty()) return c;
    const hexgeom::CellRange reach{
        clampTo(r.viewStart.x + hexgeom::floorDiv(r.origin.x, static_cast<int>(p)) - margin, c.x1, c.x2 + 1),
        clampTo(r.viewStart.y + hexgeom::floorDiv(r.origin.y, static_cast<int>(p)) - margin, c.y1, c.y2 + 1),
        clampTo(r.viewStart.x + (static_cast<long long>(r.origin.x) + r.width) / p + margin, c.x1 - 1, c.x2),
        clampTo(r.viewStart.y + (static_cast<long long>(r.origin.y) + r.height) / p + margin, c.y1 - 1, c.y2)};
    return reach;
}

// Writes with palette indices when `palette` has at most 256 colours and
// nothing is drawn over the cells, with colours otherwise; once more in
// full colour when a colour turns up that the palette lacks.
bool encode(std::FILE* file, int width, int height, pngbands::Settings settings, const pngbands::DrawBand& draw,
            std::string& error) {
    pngbands::Result result = pngbands::write(file, width, height, settings, draw, error);
    if (result == pngbands::Result::ColourMissing) {
        settings.colours.clear();
        settings.drawIndices = nullptr;
        std::rewind(file);
        if (::ftruncate(::fileno(file), 0) != 0) {
            error = std::strerror(errno);
            return false;
        }
        result = pngbands::write(file, width, height, settings, draw, error);
    }
    if (result != pngbands::Result::Written && error.empty()) error = "cannot encode the picture";
    return result == pngbands::Result::Written;
}

}  // namespace

std::vector<Pixel> Renderer::colours(const Request& r) const {
    std::vector<Pixel> list{0};
    if (r.background != 0) list.push_back(r.background);
    if (!hexgeom::isDotMap(r.zoom)) list.push_back(hxpic::kBlack);
    if (hexgeom::hasLabels(r.zoom) && r.labels) list.push_back(r.labels->ink());
    const hexgeom::CellRange c = reaching(r);
    // Terrain code and elevation slot (0..10, 11 for any other) seen.
    std::vector<bool> seen(256 * 12, false);
    for (int y = c.y1; y <= c.y2 && !c.empty(); ++y) {
        const char* t = r.map->terrainRow(y);
        const char* e = r.map->elevationRow(y);
        for (int x = c.x1; x <= c.x2; ++x) {
            const int el = static_cast<signed char>(e[x]);
            seen[static_cast<std::size_t>(static_cast<unsigned char>(t[x]) * 12 + (el >= 0 && el <= 10 ? el : 11))] =
                true;
        }
    }
    for (int code = 0; code < 256; ++code)
        for (int slot = 0; slot < 12; ++slot)
            if (seen[static_cast<std::size_t>(code * 12 + slot)])
                list.push_back(colours_.at(static_cast<char>(code), slot < 11 ? slot : -1));
    return pngbands::paletteOrder(list);
}

bool Renderer::write(std::FILE* file, const Request& r, std::string& error) const {
    pngbands::Settings settings;
    settings.bandRows = r.bandRows;
    settings.zlibLevel = r.zlibLevel;
    settings.threads = r.overlay ? 1 : r.threads;
    settings.pixelsPerMetre = r.pixelsPerMetre;
    settings.progress = r.progress;
    // Text drawn over the cells has grey edges: full colour.
    if (!r.overlay) settings.colours = colours(r);

    const hxpic::Picture picture{*r.map, colours_, r.zoom, r.viewStart, r.cells,
                                 hexgeom::hasLabels(r.zoom) ? const_cast<MadeLabels*>(r.labels) : nullptr};
    // The part of the clip box a band of file rows covers.
    const auto clipOf = [&](int top, int rows) {
        const int y0 = r.origin.y + top;
        return hxpic::Clip{r.clip.left, std::max(r.clip.top, y0), r.clip.right, std::min(r.clip.bottom, y0 + rows)};
    };
    const pngbands::DrawBand draw = [&](int top, int rows, Pixel* pixels) {
        if (r.background != 0) std::fill(pixels, pixels + static_cast<std::ptrdiff_t>(r.width) * rows, r.background);
        const hxpic::Clip clip = clipOf(top, rows);
        if (clip.top < clip.bottom) {
            hxpic::Target target{pixels, r.width, rows, r.width, hexgeom::Point{r.origin.x, r.origin.y + top}};
            hxpic::draw(picture, clip, target);
        }
        if (r.overlay) r.overlay(top, rows, pixels);
    };
    std::unique_ptr<hxpic::Indices> indices;
    if (!settings.colours.empty() && settings.colours.size() <= 256) {
        indices = std::make_unique<hxpic::Indices>(colours_, settings.colours,
                                                   r.labels ? r.labels->ink() : hxpic::kBlack);
        const std::uint8_t backgroundIndex = static_cast<std::uint8_t>(
            std::lower_bound(settings.colours.begin(), settings.colours.end(), r.background) - settings.colours.begin());
        settings.drawIndices = [&, backgroundIndex](int top, int rows, std::uint8_t* pixels, std::ptrdiff_t stride) {
            if (r.background != 0)
                for (int y = 0; y < rows; ++y) std::fill(pixels + y * stride, pixels + y * stride + r.width, backgroundIndex);
            const hxpic::Clip clip = clipOf(top, rows);
            if (clip.top >= clip.bottom) return;
            hxpic::IndexTarget target{pixels, r.width, rows, stride, hexgeom::Point{r.origin.x, r.origin.y + top}};
            hxpic::draw(picture, *indices, clip, target);
        };
    }
    return encode(file, r.width, r.height, settings, draw, error);
}

bool Renderer::writeTileset(std::FILE* file, int zoom, const std::vector<std::pair<char, int>>& tiles, int columns,
                            const MadeLabels* labels, int zlibLevel, std::string& error) const {
    const int p = hexgeom::pitch(zoom);
    const int w = 4 * p / 3;
    const int count = std::max<int>(1, static_cast<int>(tiles.size()));
    columns = std::max(1, std::min(count, columns));
    const int width = columns * w, height = (count + columns - 1) / columns * p;
    const bool withLabels = hexgeom::hasLabels(zoom) && labels;
    pngbands::Settings settings;
    settings.zlibLevel = zlibLevel;
    settings.bandRows = p;   // one row of tiles a band
    std::vector<Pixel> list{0};
    if (!hexgeom::isDotMap(zoom)) list.push_back(hxpic::kBlack);
    if (withLabels) list.push_back(labels->ink());
    for (const auto& t : tiles) list.push_back(colours_.at(t.first, t.second));
    settings.colours = pngbands::paletteOrder(list);
    // Each tile is cell (1, 0) of a two-cell map seen from column 1: an odd
    // column, so its hexagon starts at the top-left corner of its box.
    const auto drawRow = [&](int top, auto&& drawTile) {
        HxMap cell(2, 1);
        const std::size_t first = static_cast<std::size_t>(top / p) * columns;
        for (std::size_t k = first; k < tiles.size() && k < first + static_cast<std::size_t>(columns); ++k) {
            cell.st(1, 0, tiles[k].first);
            cell.se(1, 0, static_cast<char>(tiles[k].second));
            const hxpic::Picture picture{cell, colours_, zoom, hexgeom::Point{1, 0}, hexgeom::CellRange{1, 0, 1, 0},
                                         withLabels ? const_cast<MadeLabels*>(labels) : nullptr};
            drawTile(picture, static_cast<int>(k - first) * w);
        }
    };
    const pngbands::DrawBand draw = [&](int top, int, Pixel* pixels) {
        drawRow(top, [&](const hxpic::Picture& picture, int x) {
            hxpic::Target target{pixels + x, w, p, width, hexgeom::Point{0, 0}};
            hxpic::draw(picture, hxpic::Clip{0, 0, w, p}, target);
        });
    };
    std::unique_ptr<hxpic::Indices> indices;
    if (settings.colours.size() <= 256) {
        indices = std::make_unique<hxpic::Indices>(colours_, settings.colours, withLabels ? labels->ink() : hxpic::kBlack);
        settings.drawIndices = [&](int top, int, std::uint8_t* pixels, std::ptrdiff_t stride) {
            drawRow(top, [&](const hxpic::Picture& picture, int x) {
                hxpic::IndexTarget target{pixels + x, w, p, stride, hexgeom::Point{0, 0}};
                hxpic::draw(picture, *indices, hxpic::Clip{0, 0, w, p}, target);
            });
        };
    }
    return encode(file, width, height, settings, draw, error);
}

}  // namespace pngrender
