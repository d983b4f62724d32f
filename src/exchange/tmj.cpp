// TMJ, Tiled's JSON map, and TSJ, its JSON tileset, with nlohmann-json.
#include "tilemap.h"

#include <climits>
#include <cstring>
#include <memory>

#include <nlohmann/json.hpp>

#include "tilemapread.h"

namespace exchange {

namespace {

using nlohmann::json;

// Stands for a layer's csv data while the document is dumped; no string the
// writer puts in a document holds it.
constexpr const char* kDataMark = "(tarven layer data ";

// A member that must be an integer from low to high when present.
bool intMember(const json& object, const char* key, bool required, long long low, long long high, long long& value,
               std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        if (required) error = std::string("the member \"") + key + "\" is missing";
        return !required;
    }
    long long v = 0;
    if (it->is_number_unsigned()) {
        const auto u = it->get<unsigned long long>();
        if (u > static_cast<unsigned long long>(LLONG_MAX)) v = LLONG_MAX;
        else v = static_cast<long long>(u);
    } else if (it->is_number_integer()) {
        v = it->get<long long>();
    } else {
        error = std::string("the member \"") + key + "\" is not a whole number";
        return false;
    }
    if (v < low || v > high) {
        error = std::string("the member \"") + key + "\" is " + std::to_string(v) + ", not from " +
                std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    value = v;
    return true;
}

std::string stringMember(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool readProperties(const json& owner, std::vector<Property>& list, std::string& error) {
    const auto it = owner.find("properties");
    if (it == owner.end()) return true;
    if (!it->is_array()) {
        error = "\"properties\" is not a list";
        return false;
    }
    for (const json& p : *it) {
        if (!p.is_object() || !p.contains("name") || !p["name"].is_string()) {
            error = "a property has no name";
            return false;
        }
        Property prop;
        prop.name = p["name"].get<std::string>();
        prop.type = stringMember(p, "type");
        const auto v = p.find("value");
        if (v != p.end()) {
            if (v->is_string()) prop.value = v->get<std::string>();
            else if (v->is_boolean()) prop.value = v->get<bool>() ? "true" : "false";
            else if (v->is_number() || v->is_null()) prop.value = v->dump();
        }
        list.push_back(std::move(prop));
    }
    return true;
}

bool readTilesetObject(const json& t, Tileset& ts, std::string& error) {
    ts.name = stringMember(t, "name");
    long long v = 0;
    if (!intMember(t, "tilewidth", false, 0, INT_MAX, v, error)) return false;
    ts.tilewidth = static_cast<int>(v);
    v = 0;
    if (!intMember(t, "tileheight", false, 0, INT_MAX, v, error)) return false;
    ts.tileheight = static_cast<int>(v);
    v = -1;
    if (!intMember(t, "tilecount", false, 0, UINT32_MAX, v, error)) return false;
    const bool hasCount = v >= 0;
    ts.tilecount = hasCount ? static_cast<std::uint32_t>(v) : 0;
    v = 0;
    if (!intMember(t, "columns", false, 0, INT_MAX, v, error)) return false;
    ts.columns = static_cast<int>(v);
    ts.image = stringMember(t, "image");
    v = 0;
    if (!intMember(t, "imagewidth", false, 0, INT_MAX, v, error)) return false;
    ts.imagewidth = static_cast<int>(v);
    v = 0;
    if (!intMember(t, "imageheight", false, 0, INT_MAX, v, error)) return false;
    ts.imageheight = static_cast<int>(v);
    std::uint64_t highest = 0;
    std::vector<Tile> list;
    const auto tiles = t.find("tiles");
    if (tiles != t.end()) {
        if (!tiles->is_array()) {
            error = "\"tiles\" is not a list";
            return false;
        }
        for (const json& e : *tiles) {
            if (!e.is_object()) {
                error = "a tile is not an object";
                return false;
            }
            Tile tile;
            if (!intMember(e, "id", true, 0, UINT32_MAX - 1, v, error)) return false;
            tile.id = static_cast<std::uint32_t>(v);
            highest = std::max<std::uint64_t>(highest, tile.id + std::uint64_t(1));
            tile.type = stringMember(e, "class");
            if (tile.type.empty()) tile.type = stringMember(e, "type");
            if (!readProperties(e, tile.properties, error)) return false;
            list.push_back(std::move(tile));
        }
    }
    if (!list.empty()) ts.tiles = std::make_shared<const std::vector<Tile>>(std::move(list));
    if (!hasCount) ts.tilecount = static_cast<std::uint32_t>(std::max<std::uint64_t>(highest, countFromImage(ts)));
    return true;
}

bool readData(const json& layer, std::uint64_t cells, Layer& out, std::string& error) {
    if (layer.contains("chunks")) {
        error = "the layer '" + out.name + "' is stored in chunks, as infinite maps are; they are not supported";
        return false;
    }
    const auto data = layer.find("data");
    if (data == layer.end()) {
        error = "the layer '" + out.name + "' has no data";
        return false;
    }
    std::string why;
    bool ok = true;
    if (data->is_array() && !data->empty() && data->back().is_binary()) {
        // A list of gids as the document builder keeps it, after any lists
        // or objects that were in it.
        const json::binary_t& bytes = data->back().get_binary();
        if (bytes.has_subtype() || data->size() != 1) {
            why = "the layer data holds something other than a gid";
            ok = false;
        } else if (bytes.size() / 4 != cells) {
            why = "the layer data holds " + std::to_string(bytes.size() / 4) + " gids for the map's " +
                  std::to_string(cells) + " cells";
            ok = false;
        } else {
            out.gids.resize(static_cast<std::size_t>(cells));
            if (cells > 0) std::memcpy(out.gids.data(), bytes.data(), bytes.size());
        }
    } else if (data->is_array()) {
        if (data->size() != cells) {
            why = "the layer data holds " + std::to_string(data->size()) + " gids for the map's " +
                  std::to_string(cells) + " cells";
            ok = false;
        } else {
            out.gids.reserve(data->size());
            for (const json& g : *data) {
                if (!g.is_number_unsigned() || g.get<unsigned long long>() > 0xffffffffull) {
                    why = "the layer data holds something other than a gid";
                    ok = false;
                    break;
                }
                out.gids.push_back(static_cast<std::uint32_t>(g.get<unsigned long long>()));
            }
        }
    } else if (data->is_string()) {
        const std::string encoding = stringMember(layer, "encoding");
        if (encoding != "base64") {
            why = "text data in the encoding '" + encoding + "' is not supported (base64 is)";
            ok = false;
        } else {
            const std::string& text = data->get_ref<const std::string&>();
            ok = decodeBase64(text.data(), text.size(), stringMember(layer, "compression"), cells, out.gids, why);
        }
    } else {
        why = "the layer data is neither a list nor a string";
        ok = false;
    }
    if (!ok) error = "layer '" + out.name + "': " + why;
    return ok;
}

// The tile layers in a list of layers, groups included (as deep as they
// are read).
std::uint64_t countLayers(const json& list, int depth) {
    std::uint64_t n = 0;
    if (depth > kMaxGroupDepth || !list.is_array()) return n;
    for (const json& l : list) {
        if (!l.is_object()) continue;
        const std::string type = stringMember(l, "type");
        if (type == "tilelayer") {
            ++n;
        } else if (type == "group") {
            const auto sub = l.find("layers");
            if (sub != l.end()) n += countLayers(*sub, depth + 1);
        }
    }
    return n;
}

struct TmjReader {
    const std::string& folder;
    const Limits& limits;
    TileMap& map;
    std::string& error;
    TilesetCache cache;

    bool layers(const json& list, int depth) {
        if (depth > kMaxGroupDepth) {
            error = "layer groups are nested more than " + std::to_string(kMaxGroupDepth) + " deep";
            return false;
        }
        if (!list.is_array()) {
            error = "\"layers\" is not a list";
            return false;
        }
        const std::uint64_t cells = std::uint64_t(map.width) * std::uint64_t(map.height);
        for (const json& l : list) {
            if (!l.is_object()) {
                error = "a layer is not an object";
                return false;
            }
            const std::string type = stringMember(l, "type");
            if (type == "group") {
                const auto sub = l.find("layers");
                if (sub != l.end() && !layers(*sub, depth + 1)) return false;
                continue;
            }
            if (type != "tilelayer") continue;
            Layer layer;
            layer.name = stringMember(l, "name");
            long long w = 0, h = 0;
            if (!intMember(l, "width", false, 0, INT_MAX, w, error) ||
                !intMember(l, "height", false, 0, INT_MAX, h, error))
                return false;
            if ((w != 0 && w != map.width) || (h != 0 && h != map.height)) {
                error = "the layer '" + layer.name + "' is " + std::to_string(w) + " x " + std::to_string(h) +
                        " cells, not the map's " + std::to_string(map.width) + " x " + std::to_string(map.height);
                return false;
            }
            const auto visible = l.find("visible");
            layer.visible = visible == l.end() || !visible->is_boolean() || visible->get<bool>();
            if (!readData(l, cells, layer, error)) return false;
            map.layers.push_back(std::move(layer));
        }
        return true;
    }

    bool tilesets(const json& list) {
        if (!list.is_array()) {
            error = "\"tilesets\" is not a list";
            return false;
        }
        for (const json& t : list) {
            if (!t.is_object()) {
                error = "a tileset is not an object";
                return false;
            }
            Tileset ts;
            long long firstgid = 0;
            if (!intMember(t, "firstgid", true, 1, ~kGidFlags, firstgid, error)) return false;
            const auto source = t.find("source");
            if (source != t.end() && source->is_string()) {
                if (!readExternalTileset(joinPath(folder, source->get<std::string>()), limits, cache, ts, error))
                    return false;
            } else if (!readTilesetObject(t, ts, error)) {
                return false;
            }
            ts.firstgid = static_cast<std::uint32_t>(firstgid);
            map.tilesets.push_back(std::move(ts));
        }
        return true;
    }
};

bool parseJson(const std::string& text, json& doc, std::string& error) {
    doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        error = "malformed JSON";
        return false;
    }
    if (!doc.is_object()) {
        error = "the JSON document is not an object";
        return false;
    }
    return true;
}

// Builds a map document as nlohmann's own parser does, except that each
// list under a "data" key keeps its gids as 4 bytes each in one binary value
// (which JSON text cannot express, so no file can forge one) in place of a
// json value of 16 bytes and more per gid; and the parse stops once those
// lists together hold more gids than the limits allow. A list with anything
// but gids in it keeps a binary value marked with a subtype.
class MapDocumentBuilder {
public:
    MapDocumentBuilder(json& root, std::uint64_t maxGids) : root_(root), maxGids_(maxGids) {}

    bool null() { return value(nullptr); }
    bool boolean(bool v) { return value(v); }
    bool number_integer(json::number_integer_t v) { return value(v); }
    bool number_unsigned(json::number_unsigned_t v) {
        if (!capturing()) return value(v);
        if (v > 0xffffffffull) {
            bad_ = true;
            return true;
        }
        if (++gids_ > maxGids_) {
            over_ = true;
            return false;
        }
        const std::uint32_t g = static_cast<std::uint32_t>(v);
        unsigned char b[4];
        std::memcpy(b, &g, 4);
        bytes_.insert(bytes_.end(), b, b + 4);
        return true;
    }
    bool number_float(json::number_float_t v, const std::string&) { return value(v); }
    bool string(std::string& v) { return value(std::move(v)); }
    bool binary(json::binary_t& v) { return value(std::move(v)); }
    bool start_object(std::size_t) {
        if (capturing()) bad_ = true;
        stack_.push_back(place(json::object()));
        return true;
    }
    bool key(std::string& k) {
        slot_ = &(*stack_.back())[k];
        dataNext_ = k == "data";
        return true;
    }
    bool end_object() {
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) {
        const bool data = dataNext_ && captureDepth_ == 0;
        if (capturing()) bad_ = true;
        stack_.push_back(place(json::array()));
        if (data) {
            captureDepth_ = stack_.size();
            bytes_.clear();
            bad_ = false;
        }
        return true;
    }
    bool end_array() {
        if (captureDepth_ == stack_.size()) {
            json kept = bad_ ? json::binary(std::move(bytes_), 1) : json::binary(std::move(bytes_));
            bytes_ = json::binary_t::container_type();
            stack_.back()->push_back(std::move(kept));
            captureDepth_ = 0;
        }
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const json::exception&) {
        failed_ = true;
        return false;
    }

    bool failed() const { return failed_; }
    bool over() const { return over_; }

private:
    bool capturing() const { return captureDepth_ != 0 && captureDepth_ == stack_.size(); }

    // Puts a value where the document is at: the root, the end of a list or
    // the member named last.
    json* place(json&& v) {
        dataNext_ = false;
        if (stack_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        json& parent = *stack_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(v));
            return &parent.back();
        }
        *slot_ = std::move(v);
        return slot_;
    }
    bool value(json&& v) {
        if (capturing()) {
            bad_ = true;
            return true;
        }
        place(std::move(v));
        return true;
    }

    json& root_;
    const std::uint64_t maxGids_;
    std::vector<json*> stack_;
    json* slot_ = nullptr;
    bool dataNext_ = false;
    std::size_t captureDepth_ = 0;   // the stack's size inside the list being captured
    json::binary_t::container_type bytes_;
    bool bad_ = false, failed_ = false, over_ = false;
    std::uint64_t gids_ = 0;
};

json propertiesJson(const std::vector<Property>& list) {
    json out = json::array();
    for (const Property& p : list) {
        json e{{"name", p.name}, {"type", p.type.empty() ? "string" : p.type}};
        long long v = 0;
        if (p.type == "int" && parseInteger(p.value.c_str(), LLONG_MIN, LLONG_MAX, v)) e["value"] = v;
        else if (p.type == "bool") e["value"] = p.value == "true";
        else e["value"] = p.value;
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace

bool readTsj(const std::string& text, Tileset& ts, std::string& error) {
    try {
        json doc;
        if (!parseJson(text, doc, error)) return false;
        return readTilesetObject(doc, ts, error);
    } catch (const json::exception& e) {
        error = std::string("unexpected JSON: ") + e.what();
        return false;
    }
}

bool parseTmj(const std::string& text, const std::string& folder, const Limits& limits, TileMap& map,
              std::string& error) {
    map = TileMap();
    try {
        json doc;
        MapDocumentBuilder builder(doc, limits.maxLayerCells);
        const bool parsed = json::sax_parse(text, &builder);
        if (builder.over()) {
            error = "the layer data lists hold more than the " + std::to_string(limits.maxLayerCells) +
                    " cells all layers together can have";
            return false;
        }
        if (!parsed || builder.failed()) {
            error = "malformed JSON";
            return false;
        }
        if (!doc.is_object()) {
            error = "the JSON document is not an object";
            return false;
        }
        const std::string type = stringMember(doc, "type");
        if (type != "map") {
            error = "it is not a map (its \"type\" is '" + type + "')";
            return false;
        }
        MapHeader header;
        header.orientation = stringMember(doc, "orientation");
        header.staggeraxis = stringMember(doc, "staggeraxis");
        header.staggerindex = stringMember(doc, "staggerindex");
        const auto infinite = doc.find("infinite");
        header.infinite = infinite != doc.end() && infinite->is_boolean() && infinite->get<bool>();
        if (!intMember(doc, "width", true, LLONG_MIN, LLONG_MAX, header.width, error) ||
            !intMember(doc, "height", true, LLONG_MIN, LLONG_MAX, header.height, error))
            return false;
        long long v = 0;
        if (!intMember(doc, "tilewidth", false, 0, INT_MAX, v, error)) return false;
        map.tilewidth = static_cast<int>(v);
        v = 0;
        if (!intMember(doc, "tileheight", false, 0, INT_MAX, v, error)) return false;
        map.tileheight = static_cast<int>(v);
        v = 0;
        if (!intMember(doc, "hexsidelength", false, 0, INT_MAX, v, error)) return false;
        map.hexsidelength = static_cast<int>(v);
        if (!checkHeader(header, limits, map, error)) return false;
        if (!readProperties(doc, map.properties, error)) return false;
        const auto layerList = doc.find("layers");
        if (layerList != doc.end() &&
            !checkLayerCells(countLayers(*layerList, 0), std::uint64_t(map.width) * std::uint64_t(map.height), limits,
                             error))
            return false;
        TmjReader reader{folder, limits, map, error, {}};
        const auto tilesets = doc.find("tilesets");
        if (tilesets != doc.end() && !reader.tilesets(*tilesets)) return false;
        const auto layers = doc.find("layers");
        if (layers != doc.end() && !reader.layers(*layers, 0)) return false;
        return finishMap(map, error);
    } catch (const json::exception& e) {
        error = std::string("unexpected JSON: ") + e.what();
        return false;
    }
}

std::string writeTmj(const TileMap& map, Encoding encoding) {
    json doc;
    doc["type"] = "map";
    doc["version"] = "1.8";
    doc["tiledversion"] = "1.8.2";
    doc["orientation"] = "hexagonal";
    doc["renderorder"] = "right-down";
    doc["staggeraxis"] = "x";
    doc["staggerindex"] = "even";
    doc["infinite"] = false;
    doc["compressionlevel"] = -1;
    doc["width"] = map.width;
    doc["height"] = map.height;
    doc["tilewidth"] = map.tilewidth;
    doc["tileheight"] = map.tileheight;
    doc["hexsidelength"] = map.hexsidelength;
    doc["nextlayerid"] = map.layers.size() + 1;
    doc["nextobjectid"] = 1;
    if (!map.properties.empty()) doc["properties"] = propertiesJson(map.properties);
    json tilesets = json::array();
    for (const Tileset& ts : map.tilesets) {
        json t{{"firstgid", ts.firstgid}, {"name", ts.name},         {"tilewidth", ts.tilewidth},
               {"tileheight", ts.tileheight}, {"tilecount", ts.tilecount}, {"columns", ts.columns},
               {"margin", 0},             {"spacing", 0}};
        if (!ts.image.empty()) {
            t["image"] = ts.image;
            t["imagewidth"] = ts.imagewidth;
            t["imageheight"] = ts.imageheight;
        }
        if (!ts.tileList().empty()) {
            json tiles = json::array();
            for (const Tile& tile : ts.tileList()) {
                json e{{"id", tile.id}};
                if (!tile.type.empty()) e["type"] = tile.type;
                if (!tile.properties.empty()) e["properties"] = propertiesJson(tile.properties);
                tiles.push_back(std::move(e));
            }
            t["tiles"] = std::move(tiles);
        }
        tilesets.push_back(std::move(t));
    }
    doc["tilesets"] = std::move(tilesets);
    json layers = json::array();
    int id = 0;
    for (const Layer& layer : map.layers) {
        json l{{"type", "tilelayer"}, {"id", ++id},  {"name", layer.name}, {"width", map.width},
               {"height", map.height}, {"x", 0},     {"y", 0},             {"opacity", 1},
               {"visible", layer.visible}};
        if (encoding == Encoding::Csv) {
            // Filled in after the dump, a row of cells to a line.
            l["data"] = kDataMark + std::to_string(id - 1) + ")";
        } else {
            l["encoding"] = "base64";
            if (encoding != Encoding::Base64) l["compression"] = encodingName(encoding);
            l["data"] = encodeGids(layer.gids, encoding, map.width);
        }
        layers.push_back(std::move(l));
    }
    doc["layers"] = std::move(layers);
    // Property values and names may hold any byte: replaced, not refused,
    // where they are not UTF-8.
    std::string text = doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
    if (encoding != Encoding::Csv) return text;
    std::string out;
    std::size_t gids = 0;
    for (const Layer& layer : map.layers) gids += layer.gids.size();
    out.reserve(text.size() + gids * 4);
    std::size_t from = 0;
    for (std::size_t k = 0; k < map.layers.size(); ++k) {
        const std::string mark = "\"" + std::string(kDataMark) + std::to_string(k) + ")\"";
        const std::size_t at = text.find(mark, from);
        if (at == std::string::npos) break;
        out.append(text, from, at - from);
        out += '[';
        std::string rows = encodeGids(map.layers[k].gids, Encoding::Csv, map.width);
        rows.pop_back();   // the last line end
        out += rows;
        out += ']';
        from = at + mark.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

}  // namespace exchange
