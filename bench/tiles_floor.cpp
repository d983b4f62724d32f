// The floor under tarven-tiles: what its work cannot go below. Draws every
// tile of the pyramid tarven-tiles makes as palette indices (one palette
// for the whole map), packs them to the bits per pixel that palette needs
// (as PNG rows), compresses each tile's rows with one reused zlib
// level-1 compressor and writes the compressed bytes to a file per tile,
// on one thread, with none of the rest (no PNG chunks, no per-tile palette,
// no threads, no page or cell data). scripts/bench-tools.sh runs it beside
// the tool:
//   tarven_tiles_floor INPUT.map OUTDIR [MAX-PITCH]
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "pngrender.h"
#include "textlabels.h"
#include "tilestool.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tarven_tiles_floor INPUT.map OUTDIR [MAX-PITCH]\n");
        return 2;
    }
    const int maxPitch = argc > 3 ? std::atoi(argv[3]) : 32;
    HxMap map(0, 0);
    if (!map.loadMap(argv[1])) return 1;
    const std::string out = argv[2];
    ::mkdir(out.c_str(), 0777);
    const std::vector<tools::TileLevel> levels = tools::planLevels(map.xs(), map.ys(), maxPitch);
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    const hexgeom::CellRange all{0, 0, map.xs() - 1, map.ys() - 1};
    std::unique_ptr<PangoLabelFont> font;
    std::unique_ptr<pngrender::MadeLabels> labels;
    if (hexgeom::hasLabels(maxPitch - 1)) {
        font = std::make_unique<PangoLabelFont>();
        labels = std::make_unique<pngrender::MadeLabels>(*font, pngrender::usedLabels(map, all));
    }
    // One palette: every colour of the map, the outline and the ink.
    pngrender::Request whole;
    whole.map = &map;
    whole.zoom = maxPitch - 1;
    whole.cells = all;
    whole.width = static_cast<int>(levels.back().width);
    whole.height = static_cast<int>(levels.back().height);
    whole.labels = labels.get();
    const pngrender::Renderer renderer(colours);
    const std::vector<hxpic::Pixel> palette = renderer.colours(whole);
    const hxpic::Indices indices(colours, palette, labels ? labels->ink() : hxpic::kBlack);

    const int side = tools::kTileSize, stride = side + 1;
    const int bits = palette.size() <= 2 ? 1 : palette.size() <= 4 ? 2 : palette.size() <= 16 ? 4 : 8;
    const int packedStride = (side * bits + 7) / 8 + 1;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * side);
    std::vector<std::uint8_t> png(static_cast<std::size_t>(packedStride) * side, 0);
    std::vector<unsigned char> packed(compressBound(static_cast<uLong>(rows.size())) + 64);
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 1;
    long long tiles = 0, bytes = 0;
    for (std::size_t level = 0; level < levels.size(); ++level) {
        const tools::TileLevel& l = levels[level];
        const std::string folder = out + "/" + std::to_string(level);
        ::mkdir(folder.c_str(), 0777);
        const hxpic::Picture picture{map, colours, l.pitch - 1, {0, 0}, all,
                                     hexgeom::hasLabels(l.pitch - 1) ? labels.get() : nullptr};
        const hxpic::Clip clip{0, 0, static_cast<int>(l.width), static_cast<int>(l.height)};
        for (long long tx = 0; tx < l.cols; ++tx) {
            const std::string column = folder + "/" + std::to_string(tx);
            ::mkdir(column.c_str(), 0777);
            for (long long ty = 0; ty < l.rows; ++ty) {
                std::fill(rows.begin(), rows.end(), 0);
                hxpic::IndexTarget target{rows.data() + 1, side, side, stride,
                                          hexgeom::Point{static_cast<int>(tx) * side, static_cast<int>(ty) * side}};
                hxpic::draw(picture, indices, clip, target);
                const std::uint8_t* in = rows.data();
                if (bits < 8) {
                    const int perByte = 8 / bits;
                    for (int y = 0; y < side; ++y) {
                        const std::uint8_t* src = rows.data() + static_cast<std::size_t>(y) * stride + 1;
                        std::uint8_t* dst = png.data() + static_cast<std::size_t>(y) * packedStride + 1;
                        for (int x = 0; x < side; x += perByte) {
                            unsigned acc = 0;
                            for (int k = 0; k < perByte; ++k) acc = acc << bits | src[x + k];
                            dst[x / perByte] = static_cast<std::uint8_t>(acc);
                        }
                    }
                    in = png.data();
                }
                deflateReset(&z);
                z.next_in = const_cast<std::uint8_t*>(in);
                z.avail_in = static_cast<uInt>(bits < 8 ? png.size() : rows.size());
                z.next_out = packed.data();
                z.avail_out = static_cast<uInt>(packed.size());
                if (deflate(&z, Z_FINISH) != Z_STREAM_END) return 1;
                const std::size_t n = packed.size() - z.avail_out;
                const std::string path = column + "/" + std::to_string(ty) + ".z";
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
                if (fd < 0 || ::write(fd, packed.data(), n) != static_cast<ssize_t>(n) || ::close(fd) != 0) return 1;
                ++tiles;
                bytes += static_cast<long long>(n);
            }
        }
    }
    deflateEnd(&z);
    std::printf("%lld tiles, %lld bytes, %d bits a pixel\n", tiles, bytes, bits);
    return 0;
}
