// TMX, Tiled's XML map, and TSX, its XML tileset, read with tinyxml2 and
// written with its printer.
//
// Entities: tinyxml2 replaces only the five predefined entities and
// character references; any other reference stays in the text as written.
// A document type declaration with an internal subset (where entities are
// declared, nested ones and external ones alike) is refused before parsing,
// so nothing is ever expanded or fetched. A declaration that only names an
// external DTD, as very old maps have, is skipped and never fetched.
#include "tilemap.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <tinyxml2.h>

#include "tilemapread.h"

namespace exchange {

namespace {

using tinyxml2::XMLElement;

// The prolog's document type declaration, if any, must not declare
// anything. The search stops at the root element's start.
bool checkDoctype(const std::string& text, std::string& error) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t lt = text.find('<', i);
        if (lt == std::string::npos || lt + 1 >= text.size()) return true;
        const char next = text[lt + 1];
        if (next == '?') {   // processing instruction, XML declaration
            const std::size_t end = text.find("?>", lt + 2);
            if (end == std::string::npos) return true;
            i = end + 2;
        } else if (text.compare(lt, 4, "<!--") == 0) {
            const std::size_t end = text.find("-->", lt + 4);
            if (end == std::string::npos) return true;
            i = end + 3;
        } else if (text.compare(lt, 9, "<!DOCTYPE") == 0) {
            std::size_t j = lt + 9;
            char quote = 0;
            for (; j < text.size(); ++j) {
                const char c = text[j];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    error = "the document type declaration declares entities or other markup, which are not read";
                    return false;
                } else if (c == '>') {
                    break;
                }
            }
            i = j + 1;
        } else if (next == '!') {
            error = "unexpected markup before the root element";
            return false;
        } else {
            return true;   // the root element
        }
    }
    return true;
}

bool intAttribute(const XMLElement* e, const char* name, bool required, long long low, long long high,
                  long long& value, std::string& error) {
    const char* text = e->Attribute(name);
    if (!text) {
        if (required) error = "<" + std::string(e->Name()) + "> has no " + name + " attribute";
        return !required;
    }
    if (!parseInteger(text, low, high, value)) {
        error = "<" + std::string(e->Name()) + "> has " + name + "=\"" + text + "\", not a whole number from " +
                std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    return true;
}

bool readProperties(const XMLElement* owner, std::vector<Property>& list, std::string& error) {
    for (const XMLElement* ps = owner->FirstChildElement("properties"); ps;
         ps = ps->NextSiblingElement("properties"))
        for (const XMLElement* p = ps->FirstChildElement("property"); p; p = p->NextSiblingElement("property")) {
            Property prop;
            const char* name = p->Attribute("name");
            if (!name) {
                error = "a <property> has no name";
                return false;
            }
            prop.name = name;
            if (const char* type = p->Attribute("type")) prop.type = type;
            if (const char* value = p->Attribute("value")) prop.value = value;
            else if (const char* body = p->GetText()) prop.value = body;
            list.push_back(std::move(prop));
        }
    return true;
}

// The contents of a <tileset> element, from the map or from a .tsx file.
bool readTilesetElement(const XMLElement* e, Tileset& ts, std::string& error) {
    if (const char* name = e->Attribute("name")) ts.name = name;
    long long v = 0;
    if (!intAttribute(e, "tilewidth", false, 0, INT_MAX, v, error)) return false;
    ts.tilewidth = static_cast<int>(v);
    v = 0;
    if (!intAttribute(e, "tileheight", false, 0, INT_MAX, v, error)) return false;
    ts.tileheight = static_cast<int>(v);
    v = -1;
    if (!intAttribute(e, "tilecount", false, 0, UINT32_MAX, v, error)) return false;
    const bool hasCount = v >= 0;
    ts.tilecount = hasCount ? static_cast<std::uint32_t>(v) : 0;
    v = 0;
    if (!intAttribute(e, "columns", false, 0, INT_MAX, v, error)) return false;
    ts.columns = static_cast<int>(v);
    if (const XMLElement* image = e->FirstChildElement("image")) {
        if (const char* source = image->Attribute("source")) ts.image = source;
        v = 0;
        if (!intAttribute(image, "width", false, 0, INT_MAX, v, error)) return false;
        ts.imagewidth = static_cast<int>(v);
        v = 0;
        if (!intAttribute(image, "height", false, 0, INT_MAX, v, error)) return false;
        ts.imageheight = static_cast<int>(v);
    }
    std::uint64_t highest = 0;
    std::vector<Tile> tiles;
    for (const XMLElement* t = e->FirstChildElement("tile"); t; t = t->NextSiblingElement("tile")) {
        Tile tile;
        if (!intAttribute(t, "id", true, 0, UINT32_MAX - 1, v, error)) return false;
        tile.id = static_cast<std::uint32_t>(v);
        highest = std::max<std::uint64_t>(highest, tile.id + std::uint64_t(1));
        if (const char* type = t->Attribute("class")) tile.type = type;
        else if (const char* type2 = t->Attribute("type")) tile.type = type2;
        if (!readProperties(t, tile.properties, error)) return false;
        tiles.push_back(std::move(tile));
    }
    if (!tiles.empty()) ts.tiles = std::make_shared<const std::vector<Tile>>(std::move(tiles));
    if (!hasCount) ts.tilecount = static_cast<std::uint32_t>(std::max<std::uint64_t>(highest, countFromImage(ts)));
    return true;
}

bool readLayerData(const XMLElement* layer, std::uint64_t cells, Layer& out, std::string& error) {
    const XMLElement* data = layer->FirstChildElement("data");
    if (!data) {
        error = "the layer '" + out.name + "' has no data";
        return false;
    }
    if (data->FirstChildElement("chunk")) {
        error = "the layer '" + out.name + "' is stored in chunks, as infinite maps are; they are not supported";
        return false;
    }
    const char* encoding = data->Attribute("encoding");
    const char* compression = data->Attribute("compression");
    const char* text = data->GetText();
    const std::size_t length = text ? std::strlen(text) : 0;
    std::string why;
    bool ok = false;
    if (!encoding) {
        // The oldest form: one <tile gid="..."/> per cell.
        out.gids.clear();
        ok = true;
        for (const XMLElement* t = data->FirstChildElement("tile"); t && ok; t = t->NextSiblingElement("tile")) {
            long long gid = 0;
            if (out.gids.size() == cells) {
                why = "the layer data holds more than the map's " + std::to_string(cells) + " cells";
                ok = false;
            } else if (!intAttribute(t, "gid", false, 0, UINT32_MAX, gid, why)) {
                ok = false;
            } else {
                out.gids.push_back(static_cast<std::uint32_t>(gid));
            }
        }
        if (ok && out.gids.size() != cells) {
            why = "the layer data holds " + std::to_string(out.gids.size()) + " gids for the map's " +
                  std::to_string(cells) + " cells";
            ok = false;
        }
    } else if (std::strcmp(encoding, "csv") == 0) {
        ok = decodeCsv(text ? text : "", length, cells, out.gids, why);
    } else if (std::strcmp(encoding, "base64") == 0) {
        ok = decodeBase64(text ? text : "", length, compression ? compression : "", cells, out.gids, why);
    } else {
        why = "the encoding '" + std::string(encoding) + "' is not supported (csv and base64 are)";
    }
    if (!ok) error = "layer '" + out.name + "': " + why;
    return ok;
}

// The tile layers under an element, groups included (as deep as they are
// read).
std::uint64_t countLayers(const XMLElement* parent, int depth) {
    std::uint64_t n = 0;
    if (depth > kMaxGroupDepth) return n;
    for (const XMLElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (std::strcmp(e->Name(), "group") == 0) n += countLayers(e, depth + 1);
        else if (std::strcmp(e->Name(), "layer") == 0) ++n;
    }
    return n;
}

struct TmxReader {
    const std::string& folder;
    const Limits& limits;
    TileMap& map;
    std::string& error;
    TilesetCache cache;

    bool layers(const XMLElement* parent, int depth) {
        if (depth > kMaxGroupDepth) {
            error = "layer groups are nested more than " + std::to_string(kMaxGroupDepth) + " deep";
            return false;
        }
        const std::uint64_t cells = std::uint64_t(map.width) * std::uint64_t(map.height);
        for (const XMLElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
            const std::string kind = e->Name();
            if (kind == "group") {
                if (!layers(e, depth + 1)) return false;
                continue;
            }
            if (kind != "layer") continue;
            Layer layer;
            if (const char* name = e->Attribute("name")) layer.name = name;
            long long v = 0;
            if (!intAttribute(e, "width", false, 0, INT_MAX, v, error)) return false;
            long long h = 0;
            if (!intAttribute(e, "height", false, 0, INT_MAX, h, error)) return false;
            if ((v != 0 && v != map.width) || (h != 0 && h != map.height)) {
                error = "the layer '" + layer.name + "' is " + std::to_string(v) + " x " + std::to_string(h) +
                        " cells, not the map's " + std::to_string(map.width) + " x " + std::to_string(map.height);
                return false;
            }
            v = 1;
            if (!intAttribute(e, "visible", false, 0, 1, v, error)) return false;
            layer.visible = v != 0;
            if (!readLayerData(e, cells, layer, error)) return false;
            map.layers.push_back(std::move(layer));
        }
        return true;
    }

    bool tileset(const XMLElement* e) {
        Tileset ts;
        long long firstgid = 0;
        if (!intAttribute(e, "firstgid", true, 1, ~kGidFlags, firstgid, error)) return false;
        if (const char* source = e->Attribute("source")) {
            if (!readExternalTileset(joinPath(folder, source), limits, cache, ts, error)) return false;
        } else if (!readTilesetElement(e, ts, error)) {
            return false;
        }
        ts.firstgid = static_cast<std::uint32_t>(firstgid);
        map.tilesets.push_back(std::move(ts));
        return true;
    }
};

bool parseXml(tinyxml2::XMLDocument& doc, const std::string& text, std::string& error) {
    if (!checkDoctype(text, error)) return false;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        error = std::string("malformed XML: ") + (doc.ErrorStr() ? doc.ErrorStr() : "unknown error");
        return false;
    }
    return true;
}

}  // namespace

bool readTsx(const std::string& text, Tileset& ts, std::string& error) {
    tinyxml2::XMLDocument doc;
    if (!parseXml(doc, text, error)) return false;
    const XMLElement* root = doc.RootElement();
    if (!root || std::strcmp(root->Name(), "tileset") != 0) {
        error = "it is not a tileset (its root element is not <tileset>)";
        return false;
    }
    return readTilesetElement(root, ts, error);
}

bool parseTmx(const std::string& text, const std::string& folder, const Limits& limits, TileMap& map,
              std::string& error) {
    map = TileMap();
    tinyxml2::XMLDocument doc;
    if (!parseXml(doc, text, error)) return false;
    const XMLElement* root = doc.RootElement();
    if (!root || std::strcmp(root->Name(), "map") != 0) {
        error = "it is not a map (its root element is not <map>)";
        return false;
    }
    MapHeader header;
    header.orientation = root->Attribute("orientation") ? root->Attribute("orientation") : "";
    header.staggeraxis = root->Attribute("staggeraxis") ? root->Attribute("staggeraxis") : "";
    header.staggerindex = root->Attribute("staggerindex") ? root->Attribute("staggerindex") : "";
    header.infinite = root->Attribute("infinite") && std::strcmp(root->Attribute("infinite"), "0") != 0;
    long long v = 0;
    if (!intAttribute(root, "width", true, LLONG_MIN, LLONG_MAX, v, error)) return false;
    header.width = v;
    if (!intAttribute(root, "height", true, LLONG_MIN, LLONG_MAX, v, error)) return false;
    header.height = v;
    v = 0;
    if (!intAttribute(root, "tilewidth", false, 0, INT_MAX, v, error)) return false;
    map.tilewidth = static_cast<int>(v);
    v = 0;
    if (!intAttribute(root, "tileheight", false, 0, INT_MAX, v, error)) return false;
    map.tileheight = static_cast<int>(v);
    v = 0;
    if (!intAttribute(root, "hexsidelength", false, 0, INT_MAX, v, error)) return false;
    map.hexsidelength = static_cast<int>(v);
    if (!checkHeader(header, limits, map, error)) return false;
    if (!readProperties(root, map.properties, error)) return false;

    // Before any layer is decoded, so that a small file of many large
    // compressed layers takes no memory for them.
    if (!checkLayerCells(countLayers(root, 0), std::uint64_t(map.width) * std::uint64_t(map.height), limits, error))
        return false;
    TmxReader reader{folder, limits, map, error, {}};
    for (const XMLElement* e = root->FirstChildElement("tileset"); e; e = e->NextSiblingElement("tileset"))
        if (!reader.tileset(e)) return false;
    if (!reader.layers(root, 0)) return false;
    return finishMap(map, error);
}

namespace {

void pushProperties(tinyxml2::XMLPrinter& p, const std::vector<Property>& list) {
    if (list.empty()) return;
    p.OpenElement("properties");
    for (const Property& prop : list) {
        p.OpenElement("property");
        p.PushAttribute("name", prop.name.c_str());
        if (!prop.type.empty() && prop.type != "string") p.PushAttribute("type", prop.type.c_str());
        p.PushAttribute("value", prop.value.c_str());
        p.CloseElement();
    }
    p.CloseElement();
}

}  // namespace

std::string writeTmx(const TileMap& map, Encoding encoding) {
    tinyxml2::XMLPrinter p;
    p.PushDeclaration("xml version=\"1.0\" encoding=\"UTF-8\"");
    p.OpenElement("map");
    p.PushAttribute("version", "1.8");
    p.PushAttribute("tiledversion", "1.8.2");
    p.PushAttribute("orientation", "hexagonal");
    p.PushAttribute("renderorder", "right-down");
    p.PushAttribute("width", map.width);
    p.PushAttribute("height", map.height);
    p.PushAttribute("tilewidth", map.tilewidth);
    p.PushAttribute("tileheight", map.tileheight);
    p.PushAttribute("infinite", 0);
    p.PushAttribute("hexsidelength", map.hexsidelength);
    p.PushAttribute("staggeraxis", "x");
    p.PushAttribute("staggerindex", "even");
    p.PushAttribute("nextlayerid", static_cast<int>(map.layers.size()) + 1);
    p.PushAttribute("nextobjectid", 1);
    pushProperties(p, map.properties);
    for (const Tileset& ts : map.tilesets) {
        p.OpenElement("tileset");
        p.PushAttribute("firstgid", static_cast<unsigned>(ts.firstgid));
        p.PushAttribute("name", ts.name.c_str());
        p.PushAttribute("tilewidth", ts.tilewidth);
        p.PushAttribute("tileheight", ts.tileheight);
        p.PushAttribute("tilecount", static_cast<unsigned>(ts.tilecount));
        p.PushAttribute("columns", ts.columns);
        if (!ts.image.empty()) {
            p.OpenElement("image");
            p.PushAttribute("source", ts.image.c_str());
            p.PushAttribute("width", ts.imagewidth);
            p.PushAttribute("height", ts.imageheight);
            p.CloseElement();
        }
        for (const Tile& tile : ts.tileList()) {
            p.OpenElement("tile");
            p.PushAttribute("id", static_cast<unsigned>(tile.id));
            if (!tile.type.empty()) p.PushAttribute("type", tile.type.c_str());
            pushProperties(p, tile.properties);
            p.CloseElement();
        }
        p.CloseElement();
    }
    int id = 0;
    for (const Layer& layer : map.layers) {
        p.OpenElement("layer");
        p.PushAttribute("id", ++id);
        p.PushAttribute("name", layer.name.c_str());
        p.PushAttribute("width", map.width);
        p.PushAttribute("height", map.height);
        if (!layer.visible) p.PushAttribute("visible", 0);
        p.OpenElement("data");
        p.PushAttribute("encoding", encoding == Encoding::Csv ? "csv" : "base64");
        if (encoding != Encoding::Csv && encoding != Encoding::Base64)
            p.PushAttribute("compression", encodingName(encoding));
        std::string text = encodeGids(layer.gids, encoding, map.width);
        if (encoding != Encoding::Csv) text = "\n   " + text + "\n  ";
        p.PushText(text.c_str());
        p.CloseElement();
        p.CloseElement();
    }
    p.CloseElement();
    return std::string(p.CStr(), p.CStrSize() > 0 ? p.CStrSize() - 1 : 0);
}

}  // namespace exchange
