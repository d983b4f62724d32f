// Pictures to print and publish, read back with other programs: PDF with
// poppler's pdfinfo, pdftotext and pdftoppm, SVG with rsvg-convert, PNG
// with libpng.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"

#include "pngread.h"
#include "tools.h"
#include "tempdir.h"

namespace {

using Folder = tarventest::TempDir;

const std::string kSmallMap = TARVEN_EXAMPLES "/small.map";    // 24 x 16
const std::string kMediumMap = TARVEN_EXAMPLES "/medium.map";  // 200 x 150
constexpr double kPt = 72 / 25.4;   // points per millimetre

// Standard output of a shell command, and its exit status.
std::string capture(const std::string& command, int* status = nullptr) {
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        const int s = ::pclose(pipe);
        if (status) *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    }
    return text;
}

int render(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, errors;
    const int code = tools::runRender(args, out, errors);
    if (err) *err = errors.str();
    return code;
}

// The text after `key` up to the end of its line, "" when `key` is missing.
std::string after(const std::string& text, const std::string& key, std::size_t from = 0) {
    const std::size_t at = text.find(key, from);
    if (at == std::string::npos) return std::string();
    const std::size_t start = at + key.size(), end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

struct PdfInfo {
    int pages = 0;
    double firstW = 0, firstH = 0, lastW = 0, lastH = 0;   // points
};
PdfInfo pdfInfo(const std::string& path) {
    PdfInfo info;
    info.pages = std::atoi(after(capture("pdfinfo '" + path + "'"), "Pages:").c_str());
    const auto size = [&](int page, double& w, double& h) {
        const std::string n = std::to_string(page);
        std::istringstream line(after(capture("pdfinfo -f " + n + " -l " + n + " '" + path + "'"), "size:"));
        std::string x;
        line >> w >> x >> h;
    };
    size(1, info.firstW, info.firstH);
    size(info.pages, info.lastW, info.lastH);
    return info;
}

// The words of one page with their boxes, as pdftotext finds them.
struct Word {
    double xMin, yMin, xMax, yMax;
    std::string text;
};
std::vector<Word> pdfWords(const std::string& path, int page) {
    const std::string html = capture("pdftotext -bbox -f " + std::to_string(page) + " -l " + std::to_string(page) +
                                     " '" + path + "' -");
    std::vector<Word> words;
    const auto number = [&](std::size_t at, const char* name) {
        const std::size_t q = html.find(std::string(name) + "=\"", at);
        return q == std::string::npos ? 0.0 : std::atof(html.c_str() + q + std::strlen(name) + 2);
    };
    for (std::size_t at = html.find("<word "); at != std::string::npos; at = html.find("<word ", at + 1)) {
        const std::size_t open = html.find('>', at), close = html.find("</word>", at);
        if (open == std::string::npos || close == std::string::npos) break;
        words.push_back(Word{number(at, "xMin"), number(at, "yMin"), number(at, "xMax"), number(at, "yMax"),
                             html.substr(open + 1, close - open - 1)});
    }
    return words;
}

bool hasWord(const std::vector<Word>& words, const std::string& text) {
    for (const Word& w : words)
        if (w.text == text) return true;
    return false;
}

// The smallest distance between two labels of one column of hexes: the
// row pitch as the reader measures it.
double labelPitch(const std::vector<Word>& words) {
    std::map<long, std::vector<double>> columns;
    for (const Word& w : words)
        if (!w.text.empty() && w.text.find_first_not_of("0123456789") == std::string::npos && w.text.size() < 3)
            columns[std::lround((w.xMin + w.xMax) / 2 * 10)].push_back(w.yMin);
    double best = 0;
    for (auto& column : columns) {
        std::sort(column.second.begin(), column.second.end());
        for (std::size_t k = 1; k < column.second.size(); ++k) {
            const double d = column.second[k] - column.second[k - 1];
            if (d > 0.5 && (best == 0 || d < best)) best = d;
        }
    }
    return best;
}

// The smallest distance between the middles of labels of neighbouring
// columns: the column pitch as the reader measures it.
double columnPitch(const std::vector<Word>& words) {
    std::vector<double> middles;
    for (const Word& w : words)
        if (!w.text.empty() && w.text.find_first_not_of("0123456789") == std::string::npos && w.text.size() < 3)
            middles.push_back((w.xMin + w.xMax) / 2);
    std::sort(middles.begin(), middles.end());
    double best = 0;
    for (std::size_t k = 1; k < middles.size(); ++k) {
        const double d = middles[k] - middles[k - 1];
        if (d > 0.5 && (best == 0 || d < best)) best = d;
    }
    return best;
}

// pHYs of a PNG: pixels per metre, 0 when the chunk is missing.
unsigned pngPixelsPerMetre(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::size_t at = bytes.find("pHYs");
    if (at == std::string::npos || at + 13 > bytes.size()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
    if (byte(at + 12) != 1) return 0;   // not per metre
    return byte(at + 4) << 24 | byte(at + 5) << 16 | byte(at + 6) << 8 | byte(at + 7);
}

// width="...mm" and height="...mm" of an SVG, 0 when not in millimetres.
std::pair<double, double> svgSizeMm(const std::string& path) {
    std::ifstream in(path);
    std::string head(2048, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    const std::size_t svg = head.find("<svg ");
    const auto mm = [&](const char* name) {
        const std::size_t q = head.find(std::string(" ") + name + "=\"", svg);
        if (svg == std::string::npos || q == std::string::npos) return 0.0;
        char* end = nullptr;
        const double v = std::strtod(head.c_str() + q + std::strlen(name) + 3, &end);
        return std::strncmp(end, "mm\"", 3) == 0 ? v : 0.0;
    };
    return {mm("width"), mm("height")};
}

}  // namespace

// One table across the formats: each row renders one picture and checks
// what a reader of that format finds in it.
TEST(Publish, FormatsReadBack) {
    Folder dir;
    struct Row {
        const char* name;
        std::vector<std::string> args;   // the output's name comes last
        // PDF: pages, a sheet's size in points, words on a page, label pitch
        int pages;
        double pageW, pageH;
        int wordsPage;
        std::vector<std::string> words;
        double pitchMm;
        // SVG: size in mm; PNG: pixels per metre, largest size
        double svgW, svgH;
        unsigned ppm;
        int maxW, maxH;
        // PDF: the distance between labels of neighbouring columns, mm
        double columnMm;
    };
    const double r3 = std::sqrt(3.0);
    const double small254W = 23 * 25.4 * r3 / 2 + 2 * 25.4 / r3, small254H = 16 * 25.4 + 25.4 / 2;
    const Row rows[] = {
        {"a poster of medium at 1 inch on A4: 25 x 15 sheets and the index",
         {"--poster", "--max-pages", "376", kMediumMap, "m.pdf"},
         376, 595.28, 841.89, 2, {"A1", "100", "mm"}, 0, 0, 0, 0, 0, 0, 0},
        {"medium at 10 mm on A4: 10 x 6 sheets and the index", {"--hex-mm", "10", kMediumMap, "m.pdf"},
         61, 595.28, 841.89, 1, {"Assembly", "A1", "J6"}, 0, 0, 0, 0, 0, 0, 0},
        {"a region that fits one sheet: regular hexes, rows an inch apart, columns sqrt(3)/2 inch",
         {"--poster", "--cells", "0,0,6,10", kMediumMap, "m.pdf"}, 1, 595.28, 841.89, 1, {"100", "mm"}, 25.4, 0, 0, 0,
         0, 0, 25.4 * r3 / 2},
        {"the window's shape: rows and columns an inch apart",
         {"--poster", "--shape", "window", "--cells", "0,0,6,10", kMediumMap, "m.pdf"}, 1, 595.28, 841.89, 1,
         {"100", "mm"}, 25.4, 0, 0, 0, 0, 0, 25.4},
        {"labels 10 mm apart on Letter", {"--hex-mm", "10", "--paper", "letter", "--cells", "0,0,15,20", kMediumMap,
                                          "m.pdf"},
         1, 612, 792, 1, {"100", "mm"}, 10, 0, 0, 0, 0, 0, 0},
        {"hex numbers move the labels but keep their pitch",
         {"--numbers", "--hex-mm", "20", "--cells", "0,0,6,8", kSmallMap, "m.pdf"}, 1, 595.28, 841.89, 1,
         {"0101", "0608"}, 20, 0, 0, 0, 0, 0, 0},
        {"one page by default, A3 turned to suit a wide map", {"--paper", "a3", kMediumMap, "m.pdf"},
         1, 1190.55, 841.89, 1, {"100", "mm"}, 0, 0, 0, 0, 0, 0, 0},
        {"legend on the index page", {"--legend", "--hex-mm", "10", kMediumMap, "m.pdf"},
         61, 595.28, 841.89, 1, {"Grassland", "Water,", "elevation"}, 0, 0, 0, 0, 0, 0, 0},
        {"a sheet of our own size", {"--poster", "--paper", "300x200mm", "--cells", "0,0,4,4", kSmallMap, "m.pdf"},
         1, 300 * kPt, 200 * kPt, 1, {"100", "mm"}, 0, 0, 0, 0, 0, 0, 0},
        {"SVG at 1 inch", {kSmallMap, "s.svg"}, 0, 0, 0, 0, {}, 0, small254W + 0.3, small254H + 0.3, 0, 0, 0, 0},
        {"SVG at 10 mm", {"--hex-mm", "10", kSmallMap, "s.svg"}, 0, 0, 0, 0, {}, 0,
         23 * 10 * r3 / 2 + 20 / r3 + 0.3, 16 * 10 + 5 + 0.3, 0, 0, 0, 0},
        {"PNG at 300 dpi", {"--dpi", "300", kSmallMap, "p.png"}, 0, 0, 0, 0, {}, 0, 0, 0, 11811, 0, 0, 0},
        {"PNG fitted in 800 x 600", {"--fit", "800x600", kMediumMap, "p.png"}, 0, 0, 0, 0, {}, 0, 0, 0, 0, 800, 600, 0},
        {"PNG with a legend fitted in 500 x 500", {"--fit", "500x500", "--legend", kSmallMap, "p.png"},
         0, 0, 0, 0, {}, 0, 0, 0, 0, 500, 500, 0},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        const std::string out = dir / args.back();
        args.back() = out;
        std::string err;
        ASSERT_EQ(render(args, &err), 0) << row.name << ": " << err;
        if (row.pages > 0) {
            const PdfInfo info = pdfInfo(out);
            EXPECT_EQ(info.pages, row.pages) << row.name;
            EXPECT_NEAR(info.lastW, row.pageW, 0.01) << row.name;
            EXPECT_NEAR(info.lastH, row.pageH, 0.01) << row.name;
            // The sheets are as asked; the index of these wide regions is
            // turned to show them larger, unless the legend below the map
            // leaves it larger upright (two rows of the key more when turned).
            const bool upright = row.pages == 1 || std::string(row.name) == "legend on the index page";
            EXPECT_NEAR(info.firstW, upright ? row.pageW : row.pageH, 0.01) << row.name;
            const std::vector<Word> words = pdfWords(out, row.wordsPage);
            for (const std::string& w : row.words) EXPECT_TRUE(hasWord(words, w)) << row.name << ": " << w;
            if (row.pitchMm > 0) {
                EXPECT_NEAR(labelPitch(words), row.pitchMm * kPt, 0.05) << row.name;
            }
            if (row.columnMm > 0) {
                EXPECT_NEAR(columnPitch(words), row.columnMm * kPt, 0.05 * kPt) << row.name;
            }
        } else if (row.svgW > 0) {
            const auto size = svgSizeMm(out);
            EXPECT_NEAR(size.first, row.svgW, 0.001) << row.name;
            EXPECT_NEAR(size.second, row.svgH, 0.001) << row.name;
            int status = -1;
            capture("rsvg-convert -o '" + dir / "svg.png" + "' '" + out + "'", &status);
            EXPECT_EQ(status, 0) << row.name;
            DecodedPng png;
            EXPECT_TRUE(readPng(dir / "svg.png", png)) << row.name;
        } else {
            DecodedPng png;
            ASSERT_TRUE(readPng(out, png)) << row.name;
            EXPECT_EQ(pngPixelsPerMetre(out), row.ppm) << row.name;
            if (row.maxW > 0) {
                EXPECT_LE(png.width, row.maxW) << row.name;
                EXPECT_LE(png.height, row.maxH) << row.name;
                // The largest zoom whose map fits; with a legend below it
                // the map may have to be smaller.
                int largest = 0;
                const hexgeom::CellRange all{0, 0, row.args[row.args.size() - 2] == kSmallMap ? 23 : 199,
                                             row.args[row.args.size() - 2] == kSmallMap ? 15 : 149};
                for (int z = 0; z <= 64; ++z) {
                    const tools::PictureSize size = tools::pictureSize(z, all);
                    if (size.width <= row.maxW && size.height <= row.maxH) largest = z;
                }
                const tools::PictureSize best = tools::pictureSize(largest, all);
                if (row.args.front() == "--legend" || row.args[2] == "--legend") {
                    EXPECT_LE(png.width, best.width) << row.name;
                    EXPECT_GT(png.width, tools::pictureSize(largest - 2, all).width) << row.name;
                } else {
                    EXPECT_EQ(png.width, best.width) << row.name;
                    EXPECT_EQ(png.height, best.height) << row.name;
                }
            }
        }
    }
}

TEST(Publish, RefusedCombinations) {
    Folder dir;
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const std::string pdf = dir / "o.pdf", png = dir / "o.png", svg = dir / "o.svg";
    const Row rows[] = {
        {"JPEG is not written as PNG", {kSmallMap, dir / "o.jpg"}, 2, "supported: .png, .pdf, .svg"},
        {"poster over 500 pages", {"--hex-mm", "40", kMediumMap, pdf}, 1, "--max-pages"},
        {"a lower page limit", {"--max-pages", "60", "--hex-mm", "10", kMediumMap, pdf}, 1, "61 pages"},
        {"margins eat the sheet", {"--margin-mm", "100", kSmallMap, pdf}, 1, "margins"},
        {"overlap as large as the sheet", {"--overlap-mm", "150", kSmallMap, pdf}, 1, "overlap"},
        {"paper of no known size", {"--paper", "a5", kSmallMap, pdf}, 2, "--paper wants"},
        {"paper too small", {"--paper", "20x30mm", kSmallMap, pdf}, 2, "--paper wants"},
        {"hex of no size", {"--hex-mm", "0", kSmallMap, pdf}, 2, "--hex-mm wants"},
        {"fit-page and a hex size", {"--fit-page", "--hex-mm", "10", kSmallMap, pdf}, 2, "--fit-page"},
        {"zoom in a PDF", {"--zoom", "20", kSmallMap, pdf}, 2, "--zoom is for PNG"},
        {"paper for a PNG", {"--paper", "a4", kSmallMap, png}, 2, "--paper is for PDF"},
        {"fit-page for an SVG", {"--fit-page", kSmallMap, svg}, 2, "--fit-page is for PDF"},
        {"hex size for a PNG without dpi", {"--hex-mm", "10", kSmallMap, png}, 2, "needs --dpi"},
        {"fit and zoom", {"--fit", "100x100", "--zoom", "3", kSmallMap, png}, 2, "--fit chooses"},
        {"fit of no pixels", {"--fit", "0x100", kSmallMap, png}, 2, "--fit wants"},
        {"fit smaller than zoom 0", {"--fit", "10x10", kSmallMap, png}, 1, "even at zoom 0"},
        {"background of no colour", {"--background", "#12345", kSmallMap, png}, 2, "--background wants"},
        {"flag with a value", {"--legend=yes", kSmallMap, png}, 2, "takes no value"},
        {"a pixel limit is for PNG", {"--max-pixels", "100", kSmallMap, svg}, 2, "--max-pixels is for PNG"},
        {"an SVG over the shape limit", {"--max-shapes", "20000", kMediumMap, svg}, 1,
         "more than the limit of 20000; --max-shapes"},
        {"a PDF over the shape limit", {"--max-shapes", "20000", "--fit-page", kMediumMap, pdf}, 1,
         "more than the limit of 20000; --max-shapes"},
        {"a shape limit is not for PNG", {"--max-shapes", "100", kSmallMap, png}, 2, "--max-pixels bounds a PNG"},
        {"a Foundry grid below 50 pixels", {"--vtt", "foundry", "--grid-px", "40", kSmallMap, png}, 2, "at least 50"},
        {"Foundry draws no window hexes", {"--vtt", "foundry", "--shape", "window", kSmallMap, png}, 2, "--vtt draws"},
        {"Foundry's grid over a legend", {"--vtt", "foundry", "--legend", kSmallMap, png}, 2, "--legend"},
        {"a grid size and a zoom", {"--grid-px", "60", "--zoom", "8", kSmallMap, png}, 2, "--grid-px sets"},
        {"regular hexes asked of a zoom", {"--shape", "regular", "--zoom", "8", kSmallMap, png}, 2, "--grid-px"},
        {"a shape of no kind", {"--shape", "round", kSmallMap, pdf}, 2, "--shape wants"},
    };
    for (const Row& row : rows) {
        std::string err;
        EXPECT_EQ(render(row.args, &err), row.code) << row.name << ": " << err;
        EXPECT_NE(err.find(row.says), std::string::npos) << row.name << ": " << err;
        EXPECT_NE(::access(row.args.back().c_str(), F_OK), 0) << row.name << ": something was written";
    }
    // The limits can be raised; the shape limit to the value the message gave.
    EXPECT_EQ(render({"--max-pages", "61", "--hex-mm", "10", kMediumMap, pdf}), 0);
    std::string err;
    render({"--max-shapes", "20000", kMediumMap, svg}, &err);
    const std::string allowed = after(err, "--max-shapes ");
    EXPECT_EQ(render({"--max-shapes", allowed.substr(0, allowed.find(' ')), kMediumMap, svg}), 0) << err;
}

TEST(Publish, PngBackgroundZoomFromSizeAndDecorations) {
    Folder dir;
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int zoom;                 // whose picture size the PNG has (legend aside)
        std::uint32_t corner;     // pixel (0, 0): outside the hexes
        bool taller;              // a legend strip below the map
    };
    const Row rows[] = {
        {"transparent by default", {"--zoom", "20"}, 20, 0, false},
        {"white", {"--zoom", "20", "--background", "white"}, 20, 0xffffffffu, false},
        {"a colour of our own", {"--zoom", "20", "--background", "#102030"}, 20, 0xff102030u, false},
        {"the window's inch at 96 dpi is zoom 64 at most", {"--shape", "window", "--hex-mm", "25.4", "--dpi", "96"},
         64, 0, false},
        {"the window's 10 mm at 96 dpi: 38 pixels, zoom 37", {"--shape", "window", "--hex-mm", "10", "--dpi", "96"},
         37, 0, false},
        {"tiny window hexes stay hexes", {"--shape", "window", "--hex-mm", "1", "--dpi", "72"}, 8, 0, false},
        {"legend strip", {"--zoom", "20", "--legend"}, 20, 0, true},
        {"numbers on white", {"--zoom", "30", "--numbers", "--background", "white"}, 30, 0xffffffffu, false},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.push_back(kSmallMap);
        args.push_back(dir / "p.png");
        std::string err;
        ASSERT_EQ(render(args, &err), 0) << row.name << ": " << err;
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / "p.png", png)) << row.name;
        const tools::PictureSize size = tools::pictureSize(row.zoom, hexgeom::CellRange{0, 0, 23, 15});
        EXPECT_EQ(png.width, size.width) << row.name;
        if (row.taller) {
            EXPECT_GT(png.height, size.height) << row.name;
        } else {
            EXPECT_EQ(png.height, size.height) << row.name;
        }
        EXPECT_EQ(png.at(0, 0), row.corner) << row.name;
    }
}

// The PDF drawn at the resolution that makes a hex as many pixels high as
// a zoom's pitch shows the window's picture at that zoom: every pixel that
// lies inside a hexagon (away from outlines, labels and anti-aliased
// edges) in both pictures has the same colour in both.
TEST(Publish, PdfMatchesThePngOfAZoom) {
    Folder dir;
    for (int zoom : {15, 32}) {
        const int p = zoom + 1;
        ASSERT_EQ(render({"--zoom", std::to_string(zoom), kSmallMap, dir / "z.png"}), 0);
        // A one-inch margin is p pixels at p dots per inch.
        std::string err;
        ASSERT_EQ(render({"--poster", "--shape", "window", "--paper", "700x500mm", "--margin-mm", "25.4", kSmallMap,
                          dir / "z.pdf"},
                         &err),
                  0)
            << err;
        int status = -1;
        capture("pdftoppm -r " + std::to_string(p) + " -png -singlefile '" + dir / "z.pdf" + "' '" + dir / "r" + "'",
                &status);
        ASSERT_EQ(status, 0);
        DecodedPng window, paper;
        ASSERT_TRUE(readPng(dir / "z.png", window));
        ASSERT_TRUE(readPng(dir / "r.png", paper));
        ASSERT_GE(paper.width, window.width + p);
        ASSERT_GE(paper.height, window.height + p);

        const auto uniform = [](const DecodedPng& img, int x, int y, int dx, int dy) {
            const std::uint32_t c = img.at(x + dx, y + dy);
            if ((c >> 24) != 255 || (c & 0xffffff) == 0) return false;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i)
                    if (img.at(x + dx + i, y + dy + j) != c) return false;
            return true;
        };
        std::size_t compared = 0, differ = 0, covered = 0;
        for (int y = 2; y < window.height - 2; ++y)
            for (int x = 2; x < window.width - 2; ++x) {
                if ((window.at(x, y) >> 24) != 0) ++covered;
                if (!uniform(window, x, y, 0, 0) || !uniform(paper, x, y, p, p)) continue;
                ++compared;
                if (window.at(x, y) != paper.at(x + p, y + p)) ++differ;
            }
        EXPECT_EQ(differ, 0u) << "zoom " << zoom;
        // A good part of the picture was compared: it is not all outline.
        EXPECT_GT(compared, covered / 3) << "zoom " << zoom;
    }
}

namespace {

// The colours that fill at least one 3 x 3 block of pixels, in rows
// top..bottom-1: fills of hexes and swatches, not their anti-aliased edges
// or text. Black outlines and transparent ground left out.
std::set<std::uint32_t> filledColours(const DecodedPng& png, int top, int bottom) {
    std::set<std::uint32_t> found;
    for (int y = top + 1; y + 1 < bottom; ++y)
        for (int x = 1; x + 1 < png.width; ++x) {
            const std::uint32_t c = png.at(x, y);
            if ((c >> 24) != 255 || c == 0xff000000u || found.count(c)) continue;
            bool uniform = true;
            for (int j = -1; j <= 1 && uniform; ++j)
                for (int i = -1; i <= 1 && uniform; ++i) uniform = png.at(x + i, y + j) == c;
            if (uniform) found.insert(c);
        }
    return found;
}

}  // namespace

// The legend's swatches are the colours the map is drawn in: each colour of
// the map's hexes is a swatch, and no swatch has a colour the map lacks.
TEST(Publish, LegendSwatchesAreTheMapsColours) {
    Folder dir;
    struct Row {
        const char* name;
        std::vector<std::string> args;
        hexgeom::CellRange cells;
    };
    const Row rows[] = {
        {"small map, shaded water and mountains", {"--zoom", "20", kSmallMap}, {0, 0, 23, 15}},
        {"a corner of medium", {"--zoom", "12", "--cells", "0,0,30,20", kMediumMap}, {0, 0, 29, 19}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), "--legend");
        args.push_back(dir / "l.png");
        std::string err;
        ASSERT_EQ(render(args, &err), 0) << row.name << ": " << err;
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / "l.png", png)) << row.name;
        const int zoom = std::stoi(row.args[1]);
        const int mapH = static_cast<int>(tools::pictureSize(zoom, row.cells).height);
        HxMap map(0, 0);
        ASSERT_TRUE(map.loadMap(row.args.back().c_str()));
        const HxTerrainSet terrains;
        const hxpic::Colours colours(terrains);
        std::set<std::uint32_t> cellColours;
        for (int y = row.cells.y1; y <= row.cells.y2; ++y)
            for (int x = row.cells.x1; x <= row.cells.x2; ++x) cellColours.insert(colours.cell(map.t(x, y), map.e(x, y)));
        EXPECT_EQ(filledColours(png, 0, mapH), cellColours) << row.name;
        EXPECT_EQ(filledColours(png, mapH, png.height), cellColours) << row.name;
    }
}

// A legend is never cut: a one-cell picture widens to hold it, and a
// PDF with many terrains puts every entry on pages of its own.
TEST(Publish, LegendsFit) {
    Folder dir;
    // One cell: nothing of the key may touch the picture's right edge.
    ASSERT_EQ(render({"--legend", "--cells", "0,0,1,1", kSmallMap, dir / "one.png"}), 0);
    ASSERT_EQ(render({"--legend", "--cells", "0,0,1,1", kSmallMap, dir / "one.svg"}), 0);
    int status = -1;
    capture("rsvg-convert -b white -o '" + dir / "svg.png" + "' '" + dir / "one.svg" + "'", &status);
    ASSERT_EQ(status, 0);
    for (const char* file : {"one.png", "svg.png"}) {
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / file, png)) << file;
        EXPECT_GT(png.width, 4 * png.height / 3) << file << ": no room for the name";
        for (int y = 0; y < png.height; ++y) {
            const std::uint32_t c = png.at(png.width - 1, y);
            EXPECT_TRUE((c >> 24) == 0 || c == 0xffffffffu) << file << ": ink at the right edge, row " << y;
        }
    }
    // 181 terrains on A4: every one is written, on the page. (The reader
    // takes ' . _ for other terrains.)
    std::string cells;
    int codes = 0;
    for (int c = 33; codes < 181; ++c) {
        if (c == 127) c = 128;
        if (c == '\'' || c == '.' || c == '_') continue;
        cells += static_cast<char>(c);
        cells += '0';
        ++codes;
    }
    std::ofstream(dir / "many.map", std::ios::binary) << "1 181\n" << cells << "\n";
    std::string err;
    ASSERT_EQ(render({"--legend", dir / "many.map", dir / "many.pdf"}, &err), 0) << err;
    const PdfInfo info = pdfInfo(dir / "many.pdf");
    int entries = 0;
    for (int page = 1; page <= info.pages; ++page)
        for (const Word& w : pdfWords(dir / "many.pdf", page)) {
            if (w.text == "terrain" || w.text == "forest" || w.text == "Rough" || w.text == "Grassland" ||
                w.text == "Road" || w.text == "Wall" || w.text == "Bridge" || w.text == "Building," ||
                w.text == "Water," || w.text == "Mountain," || w.text == "Unpainted")
                ++entries;
            EXPECT_GE(w.yMin, 0) << w.text << " above page " << page;
        }
    EXPECT_EQ(entries, 181);
}

// Options that cannot act on the picture asked for: a warning that says
// what would work, with the picture written; or, where the combination is
// plainly a mistake, exit 2 and nothing written.
TEST(Publish, OptionsThatCannotActAreTold) {
    Folder dir;
    struct Row {
        const char* name;
        std::vector<std::string> args;   // the output comes last
        int code;
        const char* says;                // "" : no warning at all
    };
    const std::string png = dir / "o.png", pdf = dir / "o.pdf", svg = dir / "o.svg";
    const Row rows[] = {
        {"numbers on a fitted dot picture", {"--fit", "1600x1200", "--numbers", kMediumMap, png}, 0,
         "they show from zoom 16 (--fit 3406x2558 or larger)"},
        {"numbers at the default zoom", {"--numbers", kSmallMap, png}, 0, "(--zoom 16)"},
        {"numbers on small hexes at a resolution", {"--hex-mm", "1", "--dpi", "72", "--numbers", kSmallMap, png}, 0,
         "--numbers draws nothing on hexes under 17 pixels"},
        {"numbers at zoom 16 show", {"--zoom", "16", "--numbers", kSmallMap, png}, 0, ""},
        {"numbers on a one-page PDF of a large map", {"--numbers", kMediumMap, pdf}, 0,
         "too small to hold numbers; they show from 3 mm (--hex-mm 3)"},
        {"numbers on a poster of 2 mm hexes", {"--numbers", "--hex-mm", "2", kSmallMap, pdf}, 0, "hexes of 2 mm"},
        {"numbers on 3 mm hexes show", {"--numbers", "--hex-mm", "3", kSmallMap, pdf}, 0, ""},
        {"a page limit on a one-page PDF", {"--max-pages", "5", kSmallMap, pdf}, 0, "--max-pages acts only on posters"},
        {"an overlap on a one-page PDF", {"--overlap-mm", "5", kSmallMap, pdf}, 0, "--overlap-mm acts only on posters"},
        {"cells past the map's edge", {"--cells", "20,10,10,10", kSmallMap, png}, 0, "drawing 4 x 6 cells from 20,10"},
        {"legend on a region of no cells", {"--legend", "--cells", "30,0,2,2", kSmallMap, png}, 2, "lie outside"},
        {"a PDF option on a PNG", {"--margin-mm", "5", kSmallMap, png}, 2, "--margin-mm is for PDF"},
        {"a poster on an SVG", {"--poster", kSmallMap, svg}, 2, "--poster is for PDF"},
        {"a poster of another size", {"--poster", "--hex-mm", "10", kSmallMap, pdf}, 2, "--poster means"},
        {"a poster on one page", {"--poster", "--fit-page", kSmallMap, pdf}, 2, "--fit-page chooses"},
        {"a legend wider than --fit", {"--legend", "--fit", "60x400", kSmallMap, png}, 1, "with the legend do not fit"},
    };
    for (const Row& row : rows) {
        ::unlink(row.args.back().c_str());
        std::string err;
        EXPECT_EQ(render(row.args, &err), row.code) << row.name << ": " << err;
        if (*row.says) {
            EXPECT_NE(err.find(row.says), std::string::npos) << row.name << ": " << err;
        } else {
            EXPECT_EQ(err.find("warning"), std::string::npos) << row.name << ": " << err;
        }
        if (row.code == 0) {
            std::size_t warnings = 0;
            for (std::size_t at = err.find("warning:"); at != std::string::npos; at = err.find("warning:", at + 1))
                ++warnings;
            EXPECT_EQ(warnings, *row.says ? 1u : 0u) << row.name << ": " << err;
            EXPECT_EQ(::access(row.args.back().c_str(), F_OK), 0) << row.name << ": not written";
        } else {
            EXPECT_NE(::access(row.args.back().c_str(), F_OK), 0) << row.name << ": something was written";
        }
    }
}

// A poster's plan is told before it is written; one over the page limit is
// refused with values that would fit, and each of them does.
TEST(Publish, PosterPlanAndSuggestionsThatWork) {
    Folder dir;
    const std::string pdf = dir / "p.pdf";
    std::string err;
    ASSERT_EQ(render({"--max-pages", "5", "--paper", "letter", "--poster", kSmallMap, pdf}, &err), 1);
    EXPECT_NE(err.find("the poster would have 7 pages (3 x 2 sheets and the index), more than the 5 allowed; "
                       "choose smaller hexes, fewer cells, or raise the limit with --max-pages: "),
              std::string::npos)
        << err;
    EXPECT_NE(::access(pdf.c_str(), F_OK), 0);
    // "--hex-mm A, --cells B or --max-pages C would fit"
    std::vector<std::vector<std::string>> tries;
    for (const char* option : {"--hex-mm ", "--cells ", "--max-pages "}) {
        const std::size_t at = err.find(option, err.find("--max-pages: "));
        ASSERT_NE(at, std::string::npos) << option << err;
        const std::size_t start = at + std::strlen(option), end = err.find_first_of(" ,\n", start);
        std::string value = err.substr(start, option == std::string("--cells ") ? err.find(' ', start) - start
                                                                               : end - start);
        std::vector<std::string> args = {"--paper", "letter", std::string(option, std::strlen(option) - 1), value};
        if (option != std::string("--hex-mm ")) args.push_back("--poster");
        if (option != std::string("--max-pages ")) args.insert(args.end(), {"--max-pages", "5"});
        tries.push_back(args);
    }
    for (std::vector<std::string> args : tries) {
        args.push_back(kSmallMap);
        args.push_back(pdf);
        std::string said;
        EXPECT_EQ(render(args, &said), 0) << args[2] << " " << args[3] << ": " << said;
        EXPECT_NE(said.find(" sheets of Letter, hexes "), std::string::npos) << said;
    }
    // The plan line, and none with --quiet or on one page.
    ASSERT_EQ(render({"--paper", "letter", "--poster", kSmallMap, pdf}, &err), 0);
    EXPECT_EQ(err, "tarven-render: 7 pages: 3 x 2 sheets of Letter, hexes 25.4 mm, assembled 0.54 x 0.42 m\n");
    ASSERT_EQ(render({"-q", "--paper", "letter", "--poster", kSmallMap, pdf}, &err), 0);
    EXPECT_EQ(err, "");
    ASSERT_EQ(render({"--paper", "letter", kMediumMap, pdf}, &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(pdfInfo(pdf).pages, 1);
}

// Regular PNGs at a size asked, and Foundry VTT scenes: the scene's grid,
// laid out by Foundry's own formula, must land on the picture's hexes.
// Foundry's hexagonal columns (v12 on): `size` across the flats, a hex
// 2 size / sqrt(3) wide, columns 3/4 of that apart; type 5 lifts its even
// columns counted from 0 (its second, fourth ... counted from 1) by half a
// hex, type 4 the others.
TEST(Publish, RegularPngsAndFoundryScenes) {
    Folder dir;
    struct Row {
        const char* name;
        std::vector<std::string> args;
        double across;          // pixels between opposite flats
        int type;               // Foundry's grid type; 0: no scene
        hexgeom::CellRange cells;
        int warnings;           // lines on standard error
    };
    const hexgeom::CellRange all{0, 0, 23, 15};
    const Row rows[] = {
        {"60 pixels across", {"--grid-px", "60"}, 60, 0, all, 0},
        {"numbers on hexes too small to hold them", {"--grid-px", "12", "--numbers"}, 12, 0, all, 1},
        {"an inch at 600 dpi is 600 pixels, exactly", {"--hex-mm", "25.4", "--dpi", "600", "--cells", "0,0,2,2"}, 600,
         0, {0, 0, 1, 1}, 0},
        {"Foundry at 100 pixels", {"--vtt", "foundry"}, 100, 5, all, 0},
        {"Foundry from an odd column", {"--vtt", "foundry", "--grid-px", "50", "--cells", "3,2,6,5"}, 50, 4,
         {3, 2, 8, 6}, 0},
        {"Foundry of one even column", {"--vtt", "foundry", "--grid-px", "64", "--cells", "4,1,1,3"}, 64, 5,
         {4, 1, 4, 3}, 0},
    };
    HxMap map(0, 0);
    ASSERT_TRUE(map.loadMap(kSmallMap.c_str()));
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.push_back(kSmallMap);
        args.push_back(dir / "scene.png");
        std::string err;
        ASSERT_EQ(render(args, &err), 0) << row.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), row.warnings) << row.name << ": " << err;
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / "scene.png", png)) << row.name;
        tools::RegularPng shape;
        shape.across = row.across;
        shape.foundry = row.type != 0;
        const tools::PictureSize size = tools::regularPictureSize(row.cells, shape);
        EXPECT_EQ(png.width, size.width) << row.name;
        EXPECT_EQ(png.height, size.height) << row.name;
        if (row.type == 0) {
            EXPECT_NE(::access((dir / "scene.json").c_str(), F_OK), 0) << row.name;
            continue;
        }
        std::ifstream in(dir / "scene.json");
        const std::string json((std::istreambuf_iterator<char>(in)), {});
        ::unlink((dir / "scene.json").c_str());
        const auto number = [&](const std::string& key) { return std::atof(after(json, "\"" + key + "\": ").c_str()); };
        EXPECT_EQ(number("width"), png.width) << row.name;
        EXPECT_EQ(number("height"), png.height) << row.name;
        EXPECT_EQ(number("padding"), 0) << row.name;
        EXPECT_EQ(number("type"), row.type) << row.name;
        EXPECT_NE(after(json, "\"src\": ").find("\"scene.png\""), std::string::npos) << row.name << json;
        const double s = number("size"), w = 2 * s / std::sqrt(3.0);
        EXPECT_EQ(s, row.across) << row.name;
        // Map cell (col, row) is Foundry's column col - x1 and, below the
        // half hex of padding, its row row - y1 + 1 (a lone even column
        // needs no padding).
        const bool padded = !(row.cells.x1 == row.cells.x2 && row.cells.x1 % 2 == 0);
        int centres = 0, centresFound = 0, corners = 0, cornersFound = 0;
        for (int r = row.cells.y1; r <= row.cells.y2; ++r)
            for (int c = row.cells.x1; c <= row.cells.x2; ++c) {
                const int j = c - row.cells.x1, i = r - row.cells.y1 + (padded ? 1 : 0);
                const bool lifted = row.type == 5 ? j % 2 == 1 : j % 2 == 0;
                const double cx = j * 0.75 * w + w / 2, cy = i * s + s / 2 - (lifted ? s / 2 : 0);
                // The label sits on the centre: the colour is read beside it.
                ++centres;
                const std::uint32_t want = colours.cell(map.terrainRow(r)[c], map.elevationRow(r)[c]);
                if (png.at(static_cast<int>(cx - 0.3 * s), static_cast<int>(cy)) == want) ++centresFound;
                const double dx[6] = {-w / 2, -w / 4, w / 4, w / 2, w / 4, -w / 4};
                const double dy[6] = {0, -s / 2, -s / 2, 0, s / 2, s / 2};
                for (int k = 0; k < 6; ++k) {
                    const int x = static_cast<int>(std::lround(cx + dx[k])), y = static_cast<int>(std::lround(cy + dy[k]));
                    if (x < 0 || y < 0 || x >= png.width || y >= png.height) continue;
                    ++corners;
                    // An outline pixel: dark and opaque, within a pixel.
                    bool dark = false;
                    for (int v = std::max(0, y - 1); v <= std::min(png.height - 1, y + 1); ++v)
                        for (int u = std::max(0, x - 1); u <= std::min(png.width - 1, x + 1); ++u) {
                            const std::uint32_t p = png.at(u, v);
                            if ((p >> 24) > 128 && ((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255) < 150) dark = true;
                        }
                    if (dark) ++cornersFound;
                }
            }
        EXPECT_EQ(centresFound, centres) << row.name;
        EXPECT_EQ(cornersFound, corners) << row.name;
        EXPECT_GT(corners, 4 * centres) << row.name;
        std::printf("%s: %d of %d centres, %d of %d corners\n", row.name, centresFound, centres, cornersFound, corners);
    }
    // A legend strip below regular hexes.
    ASSERT_EQ(render({"--grid-px", "40", "--legend", kSmallMap, dir / "l.png"}), 0);
    DecodedPng legend;
    ASSERT_TRUE(readPng(dir / "l.png", legend));
    tools::RegularPng forty;
    forty.across = 40;
    EXPECT_GT(legend.height, tools::regularPictureSize(all, forty).height + 10);
    // The window's hexes come in whole zooms: a size far from any is said.
    std::string said;
    EXPECT_EQ(render({"--shape", "window", "--hex-mm", "25.4", "--dpi", "600", kSmallMap, dir / "w.png"}, &said), 0);
    EXPECT_NE(said.find("65 pixels are 2.75 mm at 600 dpi, not the 25.4 mm asked"), std::string::npos) << said;
    // Both files or neither: a scene that cannot be written leaves no picture.
    ASSERT_EQ(::mkdir((dir / "taken.json").c_str(), 0700), 0);
    std::string err;
    EXPECT_EQ(render({"--vtt", "foundry", kSmallMap, dir / "taken.png"}, &err), 1);
    EXPECT_NE(::access((dir / "taken.png").c_str(), F_OK), 0) << err;
}
