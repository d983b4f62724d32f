// tarven-convert and the TMX and TMJ code under it: round trips that must
// give back Tarven's own save byte for byte, a map in the shape Tiled writes
// it, malformed and hostile inputs, and Tiled's own renderer on an export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <zlib.h>
#include <zstd.h>

#include "convert.h"
#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "mapexchange.h"
#include "pngread.h"
#include "tilemap.h"
#include "tools.h"
#include "tempdir.h"

namespace {

using tarventest::TempDir;
using tarventest::withFileLimit;

const std::string kMedium = TARVEN_EXAMPLES "/medium.map";
const std::string kSmall = TARVEN_EXAMPLES "/small.map";

struct ConvertRun {
    int code;
    std::string out, err;
};

ConvertRun convert(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = tools::runConvert(args, out, err);
    return ConvertRun{code, out.str(), err.str()};
}

// The tool run with files held to `bytes` each, as `ulimit -f` holds them:
// a write past it fails as on a full disk.
ConvertRun convertWithFileLimit(const std::vector<std::string>& args, rlim_t bytes) {
    return withFileLimit(bytes, [&] { return convert(args); });
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Loads a map without printing its elevation warnings.
bool quietLoad(HxMap& map, const std::string& path) {
    LoadHooks hooks;
    hooks.warning = [](const std::string&) {};
    return map.loadMap(path.c_str(), hooks);
}

// Tarven's own save of the map in a .map file.
std::string ownSave(const std::string& mapFile, const std::string& scratch) {
    HxMap map(0, 0);
    if (!quietLoad(map, mapFile) || !map.saveMap(scratch.c_str())) return "(cannot load or save)";
    return readText(scratch);
}

// Every terrain byte against every elevation byte: cell (x, y) holds terrain
// x and elevation y, NUL and white space among them.
void fillEveryByte(HxMap& map) {
    map.resizeGrid(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            map.st(x, y, static_cast<char>(x));
            map.se(x, y, static_cast<char>(y));
        }
}

std::string base64(const std::string& bytes) {
    gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string s(text);
    g_free(text);
    return s;
}

std::string deflateBytes(const std::string& raw, bool gzip) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, gzip ? 16 + MAX_WBITS : MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, raw.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    zs.avail_in = static_cast<uInt>(raw.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// windowLog 0: the compressor's choice for the data's size.
std::string zstdBytes(const std::string& raw, int windowLog) {
    std::string out(ZSTD_compressBound(raw.size()), '\0');
    ZSTD_CCtx* ctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(ctx, ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_setParameter(ctx, ZSTD_c_windowLog, windowLog);
    out.resize(ZSTD_compress2(ctx, &out[0], out.size(), raw.data(), raw.size()));
    ZSTD_freeCCtx(ctx);
    return out;
}

// A hexagonal map of w x h cells in TMX with one tileset of two Tarven
// terrains ("#" and "~") and the given layer data element.
std::string tmx(const std::string& data, int w = 2, int h = 2, const std::string& mapAttributes = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<map version=\"1.8\" orientation=\"hexagonal\" width=\"" + std::to_string(w) + "\" height=\"" +
           std::to_string(h) + "\" tilewidth=\"42\" tileheight=\"32\" hexsidelength=\"22\" staggeraxis=\"x\" "
           "staggerindex=\"even\" infinite=\"0\"" + mapAttributes + ">\n"
           " <tileset firstgid=\"1\" name=\"t\" tilewidth=\"42\" tileheight=\"32\" tilecount=\"2\" columns=\"2\">\n"
           "  <tile id=\"0\"><properties><property name=\"code\" type=\"int\" value=\"35\"/></properties></tile>\n"
           "  <tile id=\"1\"><properties><property name=\"code\" type=\"int\" value=\"126\"/></properties></tile>\n"
           " </tileset>\n"
           " <layer id=\"1\" name=\"terrain\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) +
           "\">\n  " + data + "\n </layer>\n</map>\n";
}

std::string tmj(const std::string& layerMembers, const std::string& mapMembers = "") {
    return "{\"type\":\"map\",\"orientation\":\"hexagonal\",\"staggeraxis\":\"x\",\"staggerindex\":\"even\","
           "\"infinite\":false,\"width\":2,\"height\":2,\"tilewidth\":42,\"tileheight\":32," + mapMembers +
           "\"tilesets\":[{\"firstgid\":1,\"name\":\"t\",\"tilecount\":2,\"tiles\":[{\"id\":0,\"properties\":"
           "[{\"name\":\"code\",\"type\":\"int\",\"value\":35}]}]}],"
           "\"layers\":[{\"type\":\"tilelayer\",\"name\":\"terrain\",\"width\":2,\"height\":2," + layerMembers + "}]}";
}

// The text with the first `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? "(" + from + " not found)" : text.replace(at, from.size(), to);
}

}  // namespace

// Export and import in memory keep every terrain byte and every elevation
// byte, also those no .map file can hold, in both formats and all encodings.
TEST(ConvertRoundTrip, EveryByteInEveryEncoding) {
    HxMap map(0, 0);
    fillEveryByte(map);
    const exchange::ExportedMap exported = exchange::exportMap(map, 31, "t.png", "e.png");
    struct Row {
        const char* name;
        bool json;
        exchange::Encoding encoding;
    };
    const Row rows[] = {
        {"tmx csv", false, exchange::Encoding::Csv},     {"tmx base64", false, exchange::Encoding::Base64},
        {"tmx zlib", false, exchange::Encoding::Zlib},   {"tmx gzip", false, exchange::Encoding::Gzip},
        {"tmx zstd", false, exchange::Encoding::Zstd},   {"tmj csv", true, exchange::Encoding::Csv},
        {"tmj base64", true, exchange::Encoding::Base64}, {"tmj zlib", true, exchange::Encoding::Zlib},
        {"tmj gzip", true, exchange::Encoding::Gzip},    {"tmj zstd", true, exchange::Encoding::Zstd},
    };
    for (const Row& row : rows) {
        const std::string text = row.json ? exchange::writeTmj(exported.tiles, row.encoding)
                                          : exchange::writeTmx(exported.tiles, row.encoding);
        exchange::TileMap tiles;
        std::string error;
        const bool parsed = row.json ? exchange::parseTmj(text, "", exchange::Limits{}, tiles, error)
                                     : exchange::parseTmx(text, "", exchange::Limits{}, tiles, error);
        ASSERT_TRUE(parsed) << row.name << ": " << error;
        HxMap back(1, 1);
        std::uint64_t guessed = 99;
        ASSERT_TRUE(exchange::importMap(tiles, back, guessed, error)) << row.name << ": " << error;
        EXPECT_EQ(guessed, 0u) << row.name;
        ASSERT_EQ(back.xs(), 256) << row.name;
        ASSERT_EQ(back.ys(), 256) << row.name;
        int wrong = 0;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                wrong += back.t(x, y) != map.t(x, y) || back.e(x, y) != map.e(x, y);
        EXPECT_EQ(wrong, 0) << row.name;
    }
}

// Through the tool and files: .map to .tmx or .tmj and back is Tarven's own
// save byte for byte, for the medium example and for a file with every
// terrain character and elevation character a map file can hold.
TEST(ConvertRoundTrip, FilesComeBackAsTarvenSavesThem) {
    TempDir dir;
    {
        HxMap every(0, 0);
        fillEveryByte(every);
        ASSERT_TRUE(every.saveMap((dir / "every.map").c_str()));
    }
    const char* const encodings[] = {"csv", "base64", "zlib", "gzip", "zstd"};
    for (const std::string& source : {kMedium, dir / "every.map"}) {
        const std::string expected = ownSave(source, dir / "own.map");
        for (const char* ext : {"tmx", "tmj"})
            for (const char* encoding : encodings) {
                const std::string name = source + " as " + ext + " " + encoding;
                const std::string tiled = dir / (std::string("out.") + ext);
                const ConvertRun there = convert({"--encoding", encoding, source, tiled});
                ASSERT_EQ(there.code, 0) << name << ": " << there.err;
                const ConvertRun back = convert({tiled, dir / "back.map"});
                ASSERT_EQ(back.code, 0) << name << ": " << back.err;
                EXPECT_EQ(back.err, "") << name;
                EXPECT_TRUE(readText(dir / "back.map") == expected) << name;
            }
    }
    // TMX and TMJ into each other, on the way back.
    ASSERT_EQ(convert({kMedium, dir / "a.tmx"}).code, 0);
    ASSERT_EQ(convert({"--encoding=zstd", dir / "a.tmx", dir / "b.tmj"}).code, 0);
    ASSERT_EQ(convert({dir / "b.tmj", dir / "c.tmx"}).code, 0);
    ASSERT_EQ(convert({dir / "c.tmx", dir / "back.map"}).code, 0);
    EXPECT_TRUE(readText(dir / "back.map") == ownSave(kMedium, dir / "own.map"));
}

// A map as Tiled saves it after editing: csv, an external tileset, flip
// flags on gids, a group, an extra layer of foreign tiles above the terrain,
// elevation tiles in another order, and cells without a Tarven terrain.
TEST(ConvertImport, MapInTheShapeTiledWrites) {
    TempDir dir;
    writeText(dir / "hex.tsx",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<tileset version=\"1.8\" tiledversion=\"1.8.2\" name=\"hex\" tilewidth=\"42\" tileheight=\"32\" "
              "tilecount=\"6\" columns=\"6\">\n"
              " <image source=\"hex.png\" width=\"252\" height=\"32\"/>\n"
              " <tile id=\"0\" type=\"Road\">\n  <properties>\n   <property name=\"code\" type=\"int\" value=\"35\"/>\n"
              "   <property name=\"terrain\" value=\"#\"/>\n  </properties>\n </tile>\n"
              " <tile id=\"1\">\n  <properties>\n   <property name=\"terrain\" value=\"~\"/>\n  </properties>\n </tile>\n"
              " <tile id=\"2\">\n  <properties>\n   <property name=\"elevation\" type=\"int\" value=\"7\"/>\n"
              "  </properties>\n </tile>\n"
              " <tile id=\"3\">\n  <properties>\n   <property name=\"elevation\" type=\"int\" value=\"-3\"/>\n"
              "  </properties>\n </tile>\n"
              " <tile id=\"4\" type=\"water\"/>\n"
              "</tileset>\n");
    writeText(dir / "trees.tsx",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<tileset version=\"1.8\" name=\"trees\" tilewidth=\"42\" tileheight=\"32\" tilecount=\"4\" columns=\"4\">\n"
              " <image source=\"trees.png\" width=\"168\" height=\"32\"/>\n"
              " <tile id=\"1\"><properties><property name=\"name\" value=\"Heavy Forest\"/></properties></tile>\n"
              "</tileset>\n");
    // Columns: Road at 7 (flipped), water by property, water by class,
    // nothing, a heavy forest guessed from a foreign tile, and a foreign tile
    // over a Road.
    writeText(dir / "edited.tmx",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<map version=\"1.8\" tiledversion=\"1.8.2\" orientation=\"hexagonal\" renderorder=\"right-down\" "
              "width=\"6\" height=\"1\" tilewidth=\"42\" tileheight=\"32\" infinite=\"0\" hexsidelength=\"22\" "
              "staggeraxis=\"x\" staggerindex=\"even\" nextlayerid=\"5\" nextobjectid=\"1\">\n"
              " <properties>\n  <property name=\"tarven-format\" type=\"int\" value=\"1\"/>\n"
              "  <property name=\"author\" value=\"someone\"/>\n </properties>\n"
              " <tileset firstgid=\"1\" source=\"hex.tsx\"/>\n"
              " <tileset firstgid=\"7\" source=\"trees.tsx\"/>\n"
              " <group id=\"4\" name=\"hexes\">\n"
              "  <layer id=\"2\" name=\"elevation\" width=\"6\" height=\"1\" visible=\"0\">\n"
              "   <data encoding=\"csv\">\n3,4,0,0,0,3\n</data>\n  </layer>\n"
              "  <layer id=\"1\" name=\"terrain\" width=\"6\" height=\"1\">\n"
              "   <data encoding=\"csv\">\n2147483649,2,5,0,0,1\n</data>\n  </layer>\n"
              " </group>\n"
              " <objectgroup id=\"3\" name=\"notes\"/>\n"
              " <layer id=\"5\" name=\"trees\" width=\"6\" height=\"1\">\n"
              "  <data encoding=\"csv\">\n0,0,0,0,8,8\n</data>\n </layer>\n"
              "</map>\n");
    const ConvertRun run = convert({dir / "edited.tmx", dir / "out.map"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(readText(dir / "out.map"), "1 6\n#7~-~0?0\"0#7\n");
    EXPECT_NE(run.err.find("3 of 6 cells"), std::string::npos) << run.err;
    EXPECT_EQ(convert({"--quiet", dir / "edited.tmx", dir / "out.map"}).err, "");

    // The same in JSON, with a JSON tileset beside it and the data as base64.
    writeText(dir / "hex.tsj",
              "{\"type\":\"tileset\",\"name\":\"hex\",\"tilewidth\":42,\"tileheight\":32,\"tilecount\":4,"
              "\"tiles\":[{\"id\":0,\"properties\":[{\"name\":\"code\",\"type\":\"int\",\"value\":35}]},"
              "{\"id\":2,\"properties\":[{\"name\":\"elevation\",\"type\":\"int\",\"value\":7}]},"
              "{\"id\":3,\"class\":\"Mountain\"}]}");
    const std::string terrain = base64(std::string("\x01\0\0\x40\x04\0\0\0", 8));
    writeText(dir / "edited.tmj",
              "{\"type\":\"map\",\"orientation\":\"hexagonal\",\"staggeraxis\":\"x\",\"staggerindex\":\"even\","
              "\"width\":2,\"height\":1,\"tilesets\":[{\"firstgid\":1,\"source\":\"hex.tsj\"}],\"layers\":["
              "{\"type\":\"tilelayer\",\"name\":\"terrain\",\"encoding\":\"base64\",\"data\":\"" + terrain + "\"},"
              "{\"type\":\"tilelayer\",\"name\":\"elevation\",\"visible\":false,\"data\":[3,0]}]}");
    const ConvertRun json = convert({dir / "edited.tmj", dir / "out.map"});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(readText(dir / "out.map"), "1 2\n#7^0\n");
    EXPECT_NE(json.err.find("1 of 2 cells"), std::string::npos) << json.err;
}

// Each bad input fails with exit 1 and a message naming the problem, and
// leaves nothing behind.
TEST(ConvertImport, MalformedAndHostileInputs) {
    const std::string zeros(1 << 20, '\0');
    const std::string sixteen(16, '\0');
    const std::string csv4 = tmx("<data encoding=\"csv\">1,1,1,1</data>");
    const std::string json4 = tmj("\"data\":[1,1,1,1]");
    // Twelve layers of 8192 x 8192 cells: more than the largest map's two,
    // refused before any is decoded, whatever their data.
    std::string layers12 = tmx("<data encoding=\"csv\"></data>", 8192, 8192);
    std::string jsonLayers12 = with(with(json4, "\"width\":2", "\"width\":8192"), "\"height\":2", "\"height\":8192");
    for (int k = 1; k < 12; ++k) {
        layers12 = with(layers12, "</map>", " <layer name=\"more\"><data encoding=\"csv\"></data></layer>\n</map>");
        jsonLayers12 = with(jsonLayers12, "\"layers\":[",
                            "\"layers\":[{\"type\":\"group\",\"layers\":[{\"type\":\"tilelayer\",\"data\":\"\"}]},");
    }
    struct Row {
        const char* name;
        const char* file;
        std::string text;
        const char* says;
    };
    const Row rows[] = {
        {"truncated XML", "a.tmx", csv4.substr(0, csv4.size() - 20), "malformed XML"},
        {"truncated JSON", "a.tmj", json4.substr(0, json4.size() - 5), "malformed JSON"},
        {"empty file", "a.tmx", "", "empty"},
        {"csv short of cells", "a.tmx", tmx("<data encoding=\"csv\">1,1,1</data>"), "holds 3 gids for the map's 4"},
        {"csv past the cells", "a.tmx", tmx("<data encoding=\"csv\">1,1,1,1,1</data>"), "more than the map's 4"},
        {"csv with a word", "a.tmx", tmx("<data encoding=\"csv\">1,x,1,1</data>"), "other than a number"},
        {"json list short of cells", "a.tmj", tmj("\"data\":[1,1,1]"), "holds 3 gids for the map's 4"},
        {"json gid not a number", "a.tmj", tmj("\"data\":[1,1,1,\"1\"]"), "other than a gid"},
        {"json gid negative", "a.tmj", tmj("\"data\":[1,1,-1,1]"), "other than a gid"},
        {"json gid a fraction", "a.tmj", tmj("\"data\":[1,1,1,1.5]"), "other than a gid"},
        {"json gid past 32 bits", "a.tmj", tmj("\"data\":[1,1,1,4294967296]"), "other than a gid"},
        {"json gid a list", "a.tmj", tmj("\"data\":[1,1,1,[1]]"), "other than a gid"},
        {"json gids in a list of lists", "a.tmj", tmj("\"data\":[[1,1,1,1]]"), "other than a gid"},
        {"twelve large layers", "a.tmx", layers12, "12 tile layers of 67108864 cells hold more than the 536870912"},
        {"twelve large layers in groups", "a.tmj", jsonLayers12, "12 tile layers"},
        {"bad base64 character", "a.tmx", tmx("<data encoding=\"base64\">AAAA*AAA</data>"), "not valid base64"},
        {"base64 cut short", "a.tmx", tmx("<data encoding=\"base64\">AAAAAAA</data>"), "not valid base64"},
        {"uncompressed size off", "a.tmx", tmx("<data encoding=\"base64\">" + base64(std::string(12, '\0')) + "</data>"),
         "holds 12 bytes where 4 cells need 16"},
        {"zlib bomb", "a.tmx",
         tmx("<data encoding=\"base64\" compression=\"zlib\">" + base64(deflateBytes(zeros, false)) + "</data>"),
         "expands past"},
        {"gzip bomb", "a.tmj",
         tmj("\"encoding\":\"base64\",\"compression\":\"gzip\",\"data\":\"" + base64(deflateBytes(zeros, true)) + "\""),
         "expands past"},
        {"zstd bomb", "a.tmx",
         tmx("<data encoding=\"base64\" compression=\"zstd\">" + base64(zstdBytes(zeros, 10)) + "</data>"),
         "expands past"},
        {"zstd window larger than the map", "a.tmx",
         tmx("<data encoding=\"base64\" compression=\"zstd\">" + base64(zstdBytes(zeros, 0)) + "</data>"),
         "window"},
        {"zlib stream cut short", "a.tmx",
         tmx("<data encoding=\"base64\" compression=\"zlib\">" + base64(deflateBytes(sixteen, false).substr(0, 6)) +
             "</data>"),
         "cut short"},
        {"zlib stream damaged", "a.tmx",
         tmx("<data encoding=\"base64\" compression=\"zlib\">" + base64("\x78\x9c\xff\xff\xff\xff\xff\xff") + "</data>"),
         "damaged"},
        {"zstd stream damaged", "a.tmj",
         tmj("\"encoding\":\"base64\",\"compression\":\"zstd\",\"data\":\"" + base64("\x28\xb5\x2f\xfd\xff\xff\xff") + "\""),
         "zstd"},
        {"unknown compression", "a.tmx", tmx("<data encoding=\"base64\" compression=\"lzma\">AAAA</data>"), "'lzma'"},
        {"terminal control bytes in a value", "a.tmj",
         tmj("\"encoding\":\"base64\",\"compression\":\"\\u001b]0;owned\\u0007\\u001b[2J\",\"data\":\"AAAA\""),
         "'\\x1b]0;owned\\x07\\x1b[2J'"},
        {"a value of a megabyte", "a.tmj",
         tmj("\"encoding\":\"base64\",\"compression\":\"" + std::string(1 << 20, 'z') + "\",\"data\":\"AAAA\""),
         "more bytes)"},
        {"gid beyond the tilesets", "a.tmx", tmx("<data encoding=\"csv\">1,2,3,1</data>"),
         "gid 3 in layer 'terrain' at cell (0, 1) lies beyond"},
        {"gid beyond the tilesets in json", "a.tmj", tmj("\"data\":[1,1,1,3]"), "gid 3"},
        {"orthogonal", "a.tmx", with(csv4, "\"hexagonal\"", "\"orthogonal\""), "only hexagonal maps"},
        {"hexes in rows", "a.tmj", with(json4, "\"staggeraxis\":\"x\"", "\"staggeraxis\":\"y\""), "staggeraxis x"},
        {"odd columns lower", "a.tmx", with(csv4, "\"even\"", "\"odd\""), "staggerindex is 'odd'"},
        {"infinite", "a.tmx", with(csv4, "infinite=\"0\"", "infinite=\"1\""), "infinite maps are not supported"},
        {"infinite json", "a.tmj", with(json4, "\"infinite\":false", "\"infinite\":true"), "infinite maps"},
        {"chunks without the flag", "a.tmx", tmx("<data encoding=\"csv\"><chunk x=\"0\" y=\"0\"/></data>"), "chunks"},
        {"larger than the reader takes", "a.tmx", tmx("<data encoding=\"csv\">1</data>", 100000, 100000),
         "larger than the 268435456 cells"},
        {"no tile layer for a huge map", "a.tmj", with(with(with(json4, "\"width\":2", "\"width\":16384"), "\"height\":2", "\"height\":16384"),
                                                     "\"layers\":[", "\"layers\":[],\"x\":["),
         "no tile layer"},
        {"negative size", "a.tmx", tmx("<data encoding=\"csv\"></data>", -2, 2), "not valid"},
        {"billion laughs", "a.tmx",
         with(csv4, "<map ",
              "<!DOCTYPE map [\n <!ENTITY lol \"lol\">\n"
              " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
              " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n]>\n"
              "<map name=\"&lol3;\" "),
         "declares entities"},
        {"external entity naming a local file", "a.tmx",
         with(tmx("<data encoding=\"csv\">&xxe;</data>"), "<map ",
              "<!DOCTYPE map [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>\n<map "),
         "declares entities"},
        {"entity reference without a declaration", "a.tmx", tmx("<data encoding=\"csv\">&xxe;</data>"),
         "other than a number"},
        {"newer format", "a.tmj", tmj("\"data\":[1,1,1,1]", "\"properties\":[{\"name\":\"tarven-format\",\"type\":\"int\",\"value\":2}],"),
         "newer Tarven"},
        {"not a map", "a.tmj", "{\"type\":\"tileset\"}", "not a map"},
        {"json layers not a list", "a.tmj", with(json4, "\"layers\":[", "\"layers\":7,\"x\":["), "not a list"},
        {"missing external tileset", "a.tmx",
         with(csv4, "<tileset ", "<tileset firstgid=\"9\" source=\"none.tsx\"/>\n <tileset "), "none.tsx"},
        {"tileset that is a device", "a.tmj",
         with(json4, "\"tilesets\":[", "\"tilesets\":[{\"firstgid\":9,\"source\":\"/dev/zero\"},"),
         "not a regular file"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        writeText(dir / row.file, row.text);
        const ConvertRun run = convert({dir / row.file, dir / "out.map"});
        EXPECT_EQ(run.code, 1) << row.name;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << row.name << ": " << run.err;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{row.file}) << row.name;
        // What the file holds reaches the terminal escaped and cut short.
        EXPECT_LT(run.err.size(), 2000u) << row.name;
        EXPECT_TRUE(std::none_of(run.err.begin(), run.err.end(), [](char c) { return c != '\n' && (c & 0xe0) == 0; }))
            << row.name;
    }
}

TEST(ConvertTool, ArgumentsAndOutputs) {
    TempDir dir;
    writeText(dir / "in.map", "1 2\n#0~9\n");
    ASSERT_EQ(::mkdir((dir / "folder.tmx").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("in.map", (dir / "link.tmx").c_str()), 0);
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string says;
    };
    const Row rows[] = {
        {"no files", {}, 2, "needed\nTry 'tarven-convert --help'.\n"},
        {"one file", {dir / "in.map"}, 2, "an input and an output"},
        {"unknown extension", {dir / "in.map", dir / "out.png"}, 2, "neither a .map"},
        {"map to map", {dir / "in.map", dir / "out.map"}, 2, "nothing to convert"},
        {"zoom 15 is off by one", {"--zoom", "15", dir / "in.map", dir / "o.tmx"}, 2, "nearest zooms that work are 13 and 17"},
        {"zoom of dots", {"--zoom=3", dir / "in.map", dir / "o.tmx"}, 2, "are 11"},
        {"top zoom", {"--zoom=64", dir / "in.map", dir / "o.tmx"}, 2, "are 61"},
        {"zoom at the top of int", {"--zoom", "2147483647", dir / "in.map", dir / "o.tmx"}, 2,
         "--zoom wants a whole number from 0 to 64, not '2147483647'\n"},
        {"zoom past int, quoted as typed", {"--zoom", "2147483648", dir / "in.map", dir / "o.tmx"}, 2,
         "not '2147483648'"},
        {"unknown encoding", {"--encoding", "lz4", dir / "in.map", dir / "o.tmx"}, 2, "'lz4'"},
        {"output is a folder", {dir / "in.map", dir / "folder.tmx"}, 1, "it is a folder"},
        {"output is the input by a link", {dir / "in.map", dir / "link.tmx"}, 1, "is the input"},
        {"missing input", {dir / "none.tmx", dir / "o.map"}, 1, "'" + dir / "none.tmx" + "'"},
        {"version", {"--version"}, 0, ""},
    };
    for (const Row& row : rows) {
        const ConvertRun run = convert(row.args);
        EXPECT_EQ(run.code, row.code) << row.name << ": " << run.err;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << row.name << ": " << run.err;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder.tmx", "in.map", "link.tmx"})) << row.name;
    }
    // The zoom sets the tiles and hex side; images come beside the map.
    ASSERT_EQ(convert({"--zoom", "23", dir / "in.map", dir / "o.tmj"}).code, 0);
    const std::string text = readText(dir / "o.tmj");
    EXPECT_NE(text.find("\"tilewidth\": 32"), std::string::npos);
    EXPECT_NE(text.find("\"hexsidelength\": 16"), std::string::npos);
    EXPECT_NE(text.find("\"image\": \"o.tmj-terrains-32x24.png\""), std::string::npos);
    DecodedPng png;
    ASSERT_TRUE(readPng(dir / "o.tmj-elevations-32x24.png", png));
    EXPECT_EQ(png.width, 2 * 32);   // elevations 0 and 9
    EXPECT_EQ(png.height, 24);
}

// However many layers a map has, all of them together hold at most the
// limit's cells: counted before any layer is decoded, and while a JSON
// document's gid lists are read. Each row's map is 2 x 2 under a limit of
// 6 cells.
TEST(ConvertImport, LayerCellsCappedForAllLayersTogether) {
    exchange::Limits limits;
    limits.maxLayerCells = 6;
    const std::string layer = "<layer name=\"x\"><data encoding=\"csv\">1,1,1,1</data></layer>\n";
    const std::string jsonLayer = "{\"type\":\"tilelayer\",\"data\":[1,1,1,1]},";
    struct Row {
        const char* name;
        bool json;
        std::string text;
        const char* says;   // "" for a map that reads
    };
    const Row rows[] = {
        {"one layer", false, tmx("<data encoding=\"csv\">1,1,1,1</data>"), ""},
        {"two layers", false, with(tmx("<data encoding=\"csv\">1,1,1,1</data>"), "</map>", layer + "</map>"),
         "2 tile layers of 4 cells hold more than the 6"},
        {"two layers, one in a group", false,
         with(tmx("<data encoding=\"csv\">1,1,1,1</data>"), "</map>", "<group>" + layer + "</group></map>"),
         "2 tile layers"},
        {"one json layer", true, tmj("\"data\":[1,1,1,1]"), ""},
        {"two json layers of base64", true,
         with(tmj("\"encoding\":\"base64\",\"data\":\"" + base64(std::string(16, '\1')) + "\""), "\"layers\":[",
              "\"layers\":[{\"type\":\"tilelayer\",\"encoding\":\"base64\",\"data\":\"\"},"),
         "2 tile layers"},
        {"two json lists", true, with(tmj("\"data\":[1,1,1,1]"), "\"layers\":[", "\"layers\":[" + jsonLayer),
         "all layers together"},
        {"a json list past the limit alone", true, tmj("\"data\":[1,1,1,1,1,1,1]"), "all layers together"},
        {"json lists outside layers count too", true,
         tmj("\"data\":[1,1,1,1]", "\"x\":{\"data\":[1,1,1]},"), "all layers together"},
    };
    for (const Row& row : rows) {
        exchange::TileMap tiles;
        std::string error;
        const bool ok = row.json ? exchange::parseTmj(row.text, "", limits, tiles, error)
                                 : exchange::parseTmx(row.text, "", limits, tiles, error);
        if (*row.says == 0) {
            EXPECT_TRUE(ok) << row.name << ": " << error;
        } else {
            EXPECT_FALSE(ok) << row.name;
            EXPECT_NE(error.find(row.says), std::string::npos) << row.name << ": " << error;
        }
    }
}

// A map that names one external tileset many times, under different
// spellings of its path, reads the file once and keeps one copy of its
// tiles; the tiles still resolve through every reference.
TEST(ConvertImport, ExternalTilesetReadOnce) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "sets").c_str(), 0700), 0);
    writeText(dir / "sets/hex.tsx",
              "<tileset name=\"hex\" tilewidth=\"42\" tileheight=\"32\" tilecount=\"2\" columns=\"2\">\n"
              " <tile id=\"1\"><properties><property name=\"code\" type=\"int\" value=\"126\"/></properties></tile>\n"
              "</tileset>\n");
    std::string refs;
    for (int k = 0; k < 300; ++k)
        refs += " <tileset firstgid=\"" + std::to_string(10 + 2 * k) + "\" source=\"" +
                (k % 3 == 0 ? "sets/hex.tsx" : k % 3 == 1 ? "./sets/hex.tsx" : "sets/../sets/hex.tsx") + "\"/>\n";
    writeText(dir / "many.tmx", with(tmx("<data encoding=\"csv\">11,13,609,1</data>"), " <tileset ", refs + " <tileset "));
    exchange::TileMap tiles;
    std::string error;
    ASSERT_TRUE(exchange::readTileMap(dir / "many.tmx", exchange::Limits{}, tiles, error)) << error;
    ASSERT_EQ(tiles.tilesets.size(), 301u);
    for (std::size_t k = 2; k < tiles.tilesets.size(); ++k)
        EXPECT_EQ(tiles.tilesets[k].tiles.get(), tiles.tilesets[1].tiles.get()) << "tileset " << k;
    HxMap map(0, 0);
    std::uint64_t guessed = 0;
    ASSERT_TRUE(exchange::importMap(tiles, map, guessed, error)) << error;
    EXPECT_EQ(std::string() + map.t(0, 0) + map.t(1, 0) + map.t(0, 1) + map.t(1, 1), "~~~#");
}

// Importing into a .map says how many cells the file cannot hold as they
// are, and the count is what the save really changes: terrain codes 0 and
// 9 to 13 and elevations whose character would be white space, for every
// terrain byte against every elevation byte.
TEST(ConvertImport, CellsAMapFileCannotHoldAreCounted) {
    TempDir dir;
    HxMap every(0, 0);
    fillEveryByte(every);
    const exchange::ExportedMap exported = exchange::exportMap(every, 31, "t.png", "e.png");
    writeText(dir / "every.tmx", exchange::writeTmx(exported.tiles, exchange::Encoding::Zlib));
    const ConvertRun run = convert({dir / "every.tmx", dir / "every.map"});
    ASSERT_EQ(run.code, 0) << run.err;
    // The file's rows as written: a terrain character and an elevation
    // character (the elevation + 48) per cell.
    const std::string text = readText(dir / "every.map");
    ASSERT_EQ(text.compare(0, 8, "256 256\n"), 0);
    ASSERT_EQ(text.size(), 8u + 256 * 513);
    std::uint64_t terrains = 0, elevations = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const char t = text[8 + 513 * y + 2 * x], e = text[8 + 513 * y + 2 * x + 1];
            // The blank is written as '.', its other spelling: not a change.
            terrains += t != every.t(x, y) && every.t(x, y) != ' ';
            elevations += e != static_cast<char>((static_cast<unsigned char>(every.e(x, y)) + 48) & 0xff);
        }
    EXPECT_EQ(terrains, 6u * 256);
    EXPECT_EQ(elevations, 7u * 256);
    const tools::UnsavableCells counted = tools::countUnsavable(every);
    EXPECT_EQ(counted.terrains, terrains);
    EXPECT_EQ(counted.elevations, elevations);
    EXPECT_NE(run.err.find("'" + dir / "every.tmx" + "': 1536 of 65536 cells have a terrain code (0 or 9 to 13) that "
                           "a .map file cannot hold; they were written as '?'"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("1792 of 65536 cells have an elevation"), std::string::npos) << run.err;
    EXPECT_EQ(convert({"-q", dir / "every.tmx", dir / "every.map"}).err, "");
    // Into another tile map nothing is lost, and nothing is said.
    const ConvertRun tiled = convert({dir / "every.tmx", dir / "every.tmj"});
    EXPECT_EQ(tiled.code, 0);
    EXPECT_EQ(tiled.err, "");
}

// Conversions never replace the tileset images another map names: each
// export's images are named after its own file and tile size, a Tiled map
// converted again keeps its tile size, and a failed export changes nothing
// at all. After each row, every map in the folder names images that exist
// at the size it says.
TEST(ConvertTool, NoConversionReplacesAnotherMapsImages) {
    struct Step {
        // {"copy", from, to} copies a file, {"write", name, text} writes one
        std::vector<std::string> args;
        int code;
        rlim_t fileLimit;                // 0: none; else every file is held to it
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> files;   // the folder at the end
    };
    const Row rows[] = {
        {"tmx at zoom 11, then tmj of it keeps 16 x 12 tiles",
         {{{"--zoom", "11", kSmall, "a.tmx"}, 0, 0}, {{"a.tmx", "a.tmj"}, 0, 0}},
         {"a.tmj", "a.tmj-elevations-16x12.png", "a.tmj-terrains-16x12.png", "a.tmx", "a.tmx-elevations-16x12.png",
          "a.tmx-terrains-16x12.png"}},
        {"a copy of a tmx keeps its images when the tmx is made again at another size",
         {{{"--zoom", "11", kSmall, "a.tmx"}, 0, 0},
          {{"copy", "a.tmx", "copy.tmx"}, 0, 0},
          {{kSmall, "a.tmx"}, 0, 0}},
         {"a.tmx", "a.tmx-elevations-16x12.png", "a.tmx-elevations-42x32.png", "a.tmx-terrains-16x12.png",
          "a.tmx-terrains-42x32.png", "copy.tmx"}},
        {"tmj from tmx at a zoom asked for",
         {{{"--zoom", "11", kSmall, "a.tmx"}, 0, 0}, {{"--zoom", "23", "a.tmx", "a.tmj"}, 0, 0}},
         {"a.tmj", "a.tmj-elevations-32x24.png", "a.tmj-terrains-32x24.png", "a.tmx", "a.tmx-elevations-16x12.png",
          "a.tmx-terrains-16x12.png"}},
        {"an export that fails for a full disk changes nothing",
         {{{kSmall, "a.tmx"}, 0, 0}, {{"--encoding", "csv", kMedium, "a.tmx"}, 1, 8192}},
         {"a.tmx", "a.tmx-elevations-42x32.png", "a.tmx-terrains-42x32.png"}},
        // Images that fit under the limit and a map that does not: its last
        // bytes fail only when it is flushed, after the images are written.
        {"an export whose map fails after its images changes nothing",
         {{{"write", "one.map", "1 1\n#0\n"}, 0, 0},
          {{"write", "two.map", "2 4\n#1~2#3~4\n#5~6#7~8\n"}, 0, 0},
          {{"one.map", "a.tmx"}, 0, 0},
          {{"two.map", "a.tmx"}, 1, 4096}},
         {"a.tmx", "a.tmx-elevations-42x32.png", "a.tmx-terrains-42x32.png", "one.map", "two.map"}},
    };
    for (const Row& row : rows) {
        TempDir dir;
        for (const Step& step : row.steps) {
            if (step.args[0] == "copy" || step.args[0] == "write") {
                writeText(dir / step.args[2 - (step.args[0] == "write")],
                          step.args[0] == "copy" ? readText(dir / step.args[1]) : step.args[2]);
                continue;
            }
            std::vector<std::string> args;
            // File names (with a dot) are in the row's folder.
            for (const std::string& a : step.args)
                args.push_back(a[0] == '-' || a[0] == '/' || a.find('.') == std::string::npos ? a : dir / a);
            // What the old files were, for a step that must fail.
            std::map<std::string, std::string> before;
            for (const std::string& name : dir.entries()) before[name] = readText(dir / name);
            const ConvertRun run = step.fileLimit ? convertWithFileLimit(args, step.fileLimit) : convert(args);
            ASSERT_EQ(run.code, step.code) << row.name << ": " << run.err;
            if (step.code != 0) {
                std::map<std::string, std::string> after;
                for (const std::string& name : dir.entries()) after[name] = readText(dir / name);
                EXPECT_TRUE(after == before) << row.name;
            }
        }
        EXPECT_EQ(dir.entries(), row.files) << row.name;
        for (const std::string& name : dir.entries()) {
            if (name.size() < 4 || (name.compare(name.size() - 4, 4, ".tmx") && name.compare(name.size() - 4, 4, ".tmj")))
                continue;
            exchange::TileMap tiles;
            std::string error;
            ASSERT_TRUE(exchange::readTileMap(dir / name, exchange::Limits{}, tiles, error)) << row.name << ": " << error;
            for (const exchange::Tileset& ts : tiles.tilesets) {
                DecodedPng png;
                ASSERT_TRUE(readPng(dir / ts.image, png)) << row.name << ": " << name << " names " << ts.image;
                EXPECT_EQ(png.width, ts.imagewidth) << row.name << ": " << name << " names " << ts.image;
                EXPECT_EQ(png.height, ts.imageheight) << row.name << ": " << name << " names " << ts.image;
                EXPECT_EQ(ts.tilewidth, tiles.tilewidth) << row.name << ": " << name;
            }
        }
    }
}

// Tiled's own renderer draws an export: every cell's centre pixel has the
// colour of its terrain at elevation 0.
TEST(ConvertTool, TmxrasterizerDrawsTheExport) {
    if (::access("/usr/bin/tmxrasterizer", X_OK) != 0)
        GTEST_SKIP() << "tmxrasterizer is not installed (Debian package tiled)";
    TempDir dir;
    HxMap map(0, 0);
    ASSERT_TRUE(quietLoad(map, kSmall));
    // A few cells of every other terrain too, and of a character the
    // catalogue does not have.
    const char extra[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?', 'x'};
    for (int k = 0; k < 12; ++k) map.st(k * 2 % map.xs(), k, extra[k]);
    ASSERT_TRUE(map.saveMap((dir / "in.map").c_str()));
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    for (int zoom : {23, 31}) {
        const std::string name = "zoom " + std::to_string(zoom);
        ASSERT_EQ(convert({"--zoom", std::to_string(zoom), dir / "in.map", dir / "out.tmx"}).code, 0) << name;
        const std::string command = "cd '" + dir.path + "' && QT_QPA_PLATFORM=offscreen tmxrasterizer out.tmx out.png "
                                    ">/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << name;
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / "out.png", png)) << name;
        const int p = zoom + 1, w = 4 * p / 3;
        int wrong = 0;
        for (int y = 0; y < map.ys(); ++y)
            for (int x = 0; x < map.xs(); ++x) {
                const int cx = x * p + w / 2, cy = y * p + (x % 2 == 0 ? p / 2 : 0) + p / 2;
                ASSERT_LT(cx, png.width) << name;
                ASSERT_LT(cy, png.height) << name;
                if (png.at(cx, cy) != colours.at(map.t(x, y), 0)) ++wrong;
            }
        EXPECT_EQ(wrong, 0) << name;
    }
}

// Tiled itself reads an export and saves it again in the other format, with
// its own writer: the import of what it wrote is still Tarven's own save,
// for every terrain and elevation character a map file can hold.
TEST(ConvertTool, TiledResavesTheExport) {
    if (::access("/usr/bin/tiled", X_OK) != 0) GTEST_SKIP() << "tiled is not installed (Debian package tiled)";
    TempDir dir;
    {
        HxMap every(0, 0);
        fillEveryByte(every);
        ASSERT_TRUE(every.saveMap((dir / "every.map").c_str()));
    }
    const std::string expected = ownSave(dir / "every.map", dir / "own.map");
    struct Row {
        const char* name;
        const char* encoding;
        const char* exported;
        const char* format;   // Tiled's name for the format it saves in
        const char* resaved;
    };
    const Row rows[] = {
        {"tmx in csv, saved by Tiled as tmj", "csv", "a.tmx", "json", "b.tmj"},
        {"tmj in gzip, saved by Tiled as tmx", "gzip", "a.tmj", "tmx", "b.tmx"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(convert({"--encoding", row.encoding, dir / "every.map", dir / row.exported}).code, 0) << row.name;
        const std::string command = "cd '" + dir.path + "' && QT_QPA_PLATFORM=offscreen tiled --export-map " +
                                    row.format + " " + row.exported + " " + row.resaved + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << row.name;
        const ConvertRun back = convert({dir / row.resaved, dir / "back.map"});
        ASSERT_EQ(back.code, 0) << row.name << ": " << back.err;
        EXPECT_TRUE(readText(dir / "back.map") == expected) << row.name;
    }
}

// Layer data in the forms other writers give it: white space and line ends
// anywhere, a comma after the last gid, flag bits, the largest gid.
TEST(ConvertImport, LayerDataFormsThatRead) {
    const std::string gids = std::string("\x01\0\0\0\x02\0\0\x80\xff\xff\xff\xff\0\0\0\0", 16);
    const std::vector<std::uint32_t> expected{1, 0x80000002u, 0xffffffffu, 0};
    struct Row {
        const char* name;
        bool csv;
        std::string text;
        std::string compression;
    };
    const std::string b64 = base64(gids);
    const Row rows[] = {
        {"csv as Tiled writes it", true, "\n1,2147483650,\n4294967295,0\n", ""},
        {"csv with a comma after the last gid", true, "1,2147483650,4294967295,0,", ""},
        {"csv with CR LF and blanks", true, " 1 ,\r\n 2147483650 , 4294967295 ,\t0 \r\n", ""},
        {"base64 with line ends inside", false, "\n   " + b64.substr(0, 8) + "\n   " + b64.substr(8) + "\n  ", ""},
        {"base64 of zlib", false, base64(deflateBytes(gids, false)), "zlib"},
        {"base64 of gzip", false, base64(deflateBytes(gids, true)), "gzip"},
        {"base64 of zstd", false, base64(zstdBytes(gids, 10)), "zstd"},
    };
    for (const Row& row : rows) {
        std::vector<std::uint32_t> out;
        std::string error;
        const bool ok = row.csv ? exchange::decodeCsv(row.text.data(), row.text.size(), 4, out, error)
                                : exchange::decodeBase64(row.text.data(), row.text.size(), row.compression, 4, out, error);
        ASSERT_TRUE(ok) << row.name << ": " << error;
        EXPECT_EQ(out, expected) << row.name;
    }
    // Two commas in a row and bytes after a compressed stream are not data.
    std::vector<std::uint32_t> out;
    std::string error;
    EXPECT_FALSE(exchange::decodeCsv("1,,2,3", 6, 3, out, error));
    const std::string trailing = base64(deflateBytes(gids, false) + "xx");
    EXPECT_FALSE(exchange::decodeBase64(trailing.data(), trailing.size(), "zlib", 4, out, error));
    EXPECT_NE(error.find("follow the end"), std::string::npos) << error;
}
