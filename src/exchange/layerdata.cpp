// Layer data: csv, base64, and base64 of zlib, gzip or zstd streams. The
// decoders take no memory on the word of the map's size alone: buffers grow
// with what the data actually holds, and stop one byte past width x height
// x 4, which is already an error.
#include "tilemap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

namespace exchange {

namespace {

std::string cellsText(std::uint64_t cells) { return std::to_string(cells); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Grows `out` for more output, never past cap + 1 bytes (one byte more than
// allowed shows that the data is too long). Returns false when already there.
bool grow(std::vector<unsigned char>& out, std::size_t used, std::size_t cap) {
    if (used >= cap + 1) return false;
    std::size_t next = std::max<std::size_t>(used * 2, 64 << 10);
    next = std::min(next, cap + 1);
    out.resize(next);
    return true;
}

std::string tooLong(std::uint64_t cells) {
    return "the layer data expands past the " + cellsText(cells) + " cells x 4 bytes the map has room for";
}

std::string wrongSize(std::uint64_t bytes, std::uint64_t cells) {
    return "the layer data holds " + std::to_string(bytes) + " bytes where " + cellsText(cells) +
           " cells need " + std::to_string(cells * 4);
}

bool inflateCapped(const unsigned char* in, std::size_t n, bool gzip, std::uint64_t cells,
                   std::vector<unsigned char>& out, std::size_t& used, std::string& error) {
    const std::size_t cap = static_cast<std::size_t>(cells * 4);
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK) {
        error = "cannot start the decompressor";
        return false;
    }
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
    zs.next_in = const_cast<unsigned char*>(in);
    used = 0;
    const char* const kind = gzip ? "gzip" : "zlib";
    for (;;) {
        // zlib counts in 32-bit units: feed it at most 1 GiB at a time.
        const std::size_t inLeft = n - static_cast<std::size_t>(zs.next_in - in);
        zs.avail_in = static_cast<uInt>(std::min<std::size_t>(inLeft, 1u << 30));
        if (used == out.size() && !grow(out, used, cap)) {
            error = tooLong(cells);
            return false;
        }
        zs.next_out = out.data() + used;
        const std::size_t room = std::min<std::size_t>(out.size() - used, 1u << 30);
        zs.avail_out = static_cast<uInt>(room);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        used += room - zs.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_OK) continue;
        if (rc == Z_BUF_ERROR && zs.avail_out == 0) continue;
        if (rc == Z_BUF_ERROR) error = std::string("the ") + kind + " stream is cut short";
        else error = std::string("the ") + kind + " stream is damaged" + (zs.msg ? std::string(": ") + zs.msg : "");
        return false;
    }
    if (used > cap) {
        error = tooLong(cells);
        return false;
    }
    if (static_cast<std::size_t>(zs.next_in - in) != n) {
        error = std::string("bytes follow the end of the ") + kind + " stream";
        return false;
    }
    return true;
}

bool zstdCapped(const unsigned char* in, std::size_t n, std::uint64_t cells, std::vector<unsigned char>& out,
                std::size_t& used, std::string& error) {
    const std::size_t cap = static_cast<std::size_t>(cells * 4);
    std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> ctx(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!ctx) {
        error = "cannot start the decompressor";
        return false;
    }
    // The decoder's window need not exceed the data it may produce, so a
    // frame asking for a larger one is refused before it is allocated.
    // (10 is the smallest window a frame can have, 27 the decoder's default
    // limit.)
    int windowLog = 10;
    while (windowLog < 27 && (std::size_t(1) << windowLog) < cap + 1) ++windowLog;
    ZSTD_DCtx_setParameter(ctx.get(), ZSTD_d_windowLogMax, windowLog);
    ZSTD_inBuffer input{in, n, 0};
    used = 0;
    std::size_t rc = 1;
    while (rc != 0) {
        if (used == out.size() && !grow(out, used, cap)) {
            error = tooLong(cells);
            return false;
        }
        ZSTD_outBuffer output{out.data(), out.size(), used};
        const std::size_t before = input.pos;
        rc = ZSTD_decompressStream(ctx.get(), &output, &input);
        used = output.pos;
        if (ZSTD_isError(rc) && ZSTD_getErrorCode(rc) == ZSTD_error_frameParameter_windowTooLarge) {
            error = "the zstd stream asks for a window larger than the " + cellsText(cells) +
                    " cells x 4 bytes the map has room for";
            return false;
        }
        if (ZSTD_isError(rc)) {
            error = std::string("the zstd stream is damaged: ") + ZSTD_getErrorName(rc);
            return false;
        }
        if (rc != 0 && input.pos == n && output.pos < output.size && before == input.pos) {
            error = "the zstd stream is cut short";
            return false;
        }
    }
    if (used > cap) {
        error = tooLong(cells);
        return false;
    }
    if (input.pos != n) {
        error = "bytes follow the end of the zstd stream";
        return false;
    }
    return true;
}

// Base64 as Tiled writes it: the standard alphabet with '=' padding, white
// space anywhere. Anything else is refused before decoding, since GLib's
// decoder skips what it does not know.
bool cleanBase64(const char* text, std::size_t length, std::string& clean, std::string& error) {
    clean.reserve(length);
    std::size_t padding = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (isSpace(c)) continue;
        const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                           c == '/';
        if (c == '=') {
            ++padding;
        } else if (!alpha || padding > 0) {
            error = "the layer data is not valid base64 (character " + std::to_string(i + 1) + ")";
            return false;
        }
        clean += c;
    }
    if (clean.size() % 4 != 0 || padding > 2) {
        error = "the layer data is not valid base64 (its length does not come out even)";
        return false;
    }
    return true;
}

void gidsFromBytes(const unsigned char* p, std::size_t cells, std::vector<std::uint32_t>& gids) {
    gids.resize(cells);
    for (std::size_t i = 0; i < cells; ++i, p += 4)
        gids[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                  std::uint32_t(p[3]) << 24;
}

struct GFree {
    void operator()(void* p) const { g_free(p); }
};

}  // namespace

bool parseEncoding(const std::string& name, Encoding& encoding) {
    static const struct {
        const char* name;
        Encoding encoding;
    } kNames[] = {{"csv", Encoding::Csv},
                  {"base64", Encoding::Base64},
                  {"zlib", Encoding::Zlib},
                  {"gzip", Encoding::Gzip},
                  {"zstd", Encoding::Zstd}};
    for (const auto& n : kNames)
        if (name == n.name) {
            encoding = n.encoding;
            return true;
        }
    return false;
}

const char* encodingName(Encoding encoding) {
    switch (encoding) {
    case Encoding::Csv: return "csv";
    case Encoding::Base64: return "base64";
    case Encoding::Zlib: return "zlib";
    case Encoding::Gzip: return "gzip";
    case Encoding::Zstd: return "zstd";
    }
    return "?";
}

std::string encodeGids(const std::vector<std::uint32_t>& gids, Encoding encoding, int width) {
    if (encoding == Encoding::Csv) {
        // One row per line, as Tiled writes it: a comma after every gid but
        // the last.
        std::string text;
        text.reserve(gids.size() * 3 + 2);
        text += '\n';
        char buf[16];
        for (std::size_t i = 0; i < gids.size(); ++i) {
            const int n = std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(gids[i]));
            text.append(buf, static_cast<std::size_t>(n));
            if (i + 1 < gids.size()) {
                text += ',';
                if (width > 0 && (i + 1) % static_cast<std::size_t>(width) == 0) text += '\n';
            }
        }
        text += '\n';
        return text;
    }
    std::vector<unsigned char> raw(gids.size() * 4);
    for (std::size_t i = 0; i < gids.size(); ++i) {
        const std::uint32_t g = gids[i];
        raw[4 * i] = static_cast<unsigned char>(g);
        raw[4 * i + 1] = static_cast<unsigned char>(g >> 8);
        raw[4 * i + 2] = static_cast<unsigned char>(g >> 16);
        raw[4 * i + 3] = static_cast<unsigned char>(g >> 24);
    }
    std::vector<unsigned char> packed;
    if (encoding == Encoding::Zlib || encoding == Encoding::Gzip) {
        z_stream zs;
        std::memset(&zs, 0, sizeof zs);
        deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, encoding == Encoding::Gzip ? 16 + MAX_WBITS : MAX_WBITS,
                     8, Z_DEFAULT_STRATEGY);
        packed.resize(deflateBound(&zs, static_cast<uLong>(raw.size())) + 32);
        zs.next_in = raw.data();
        zs.avail_in = static_cast<uInt>(raw.size());
        zs.next_out = packed.data();
        zs.avail_out = static_cast<uInt>(packed.size());
        deflate(&zs, Z_FINISH);
        packed.resize(zs.total_out);
        deflateEnd(&zs);
    } else if (encoding == Encoding::Zstd) {
        packed.resize(ZSTD_compressBound(raw.size()));
        const std::size_t n = ZSTD_compress(packed.data(), packed.size(), raw.data(), raw.size(), ZSTD_CLEVEL_DEFAULT);
        packed.resize(ZSTD_isError(n) ? 0 : n);
    } else {
        packed.swap(raw);
    }
    std::unique_ptr<gchar, GFree> text(g_base64_encode(packed.data(), packed.size()));
    return text ? std::string(text.get()) : std::string();
}

bool decodeCsv(const char* text, std::size_t length, std::uint64_t cells, std::vector<std::uint32_t>& gids,
               std::string& error) {
    gids.clear();
    std::size_t i = 0;
    auto skip = [&] {
        while (i < length && isSpace(text[i])) ++i;
    };
    skip();
    while (i < length) {
        if (text[i] < '0' || text[i] > '9') {
            error = "the csv layer data has something other than a number at character " + std::to_string(i + 1);
            return false;
        }
        std::uint64_t v = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            if (v > 0xffffffffu) {
                error = "the csv layer data has a gid above 4294967295";
                return false;
            }
        }
        if (gids.size() == cells) {
            error = "the csv layer data holds more than the map's " + cellsText(cells) + " cells";
            return false;
        }
        gids.push_back(static_cast<std::uint32_t>(v));
        skip();
        if (i < length && text[i] == ',') {
            ++i;
            skip();
        } else if (i < length) {
            error = "the csv layer data has something other than a comma at character " + std::to_string(i + 1);
            return false;
        }
    }
    if (gids.size() != cells) {
        error = "the csv layer data holds " + std::to_string(gids.size()) + " gids for the map's " +
                cellsText(cells) + " cells";
        return false;
    }
    return true;
}

bool decodeBase64(const char* text, std::size_t length, const std::string& compression, std::uint64_t cells,
                  std::vector<std::uint32_t>& gids, std::string& error) {
    gids.clear();
    const bool zlibStream = compression == "zlib";
    const bool gzipStream = compression == "gzip";
    const bool zstdStream = compression == "zstd";
    if (!compression.empty() && !zlibStream && !gzipStream && !zstdStream) {
        error = "the compression '" + compression + "' is not supported (zlib, gzip and zstd are)";
        return false;
    }
    std::string clean;
    if (!cleanBase64(text, length, clean, error)) return false;
    gsize n = 0;
    std::unique_ptr<guchar, GFree> bytes(clean.empty() ? nullptr : g_base64_decode(clean.c_str(), &n));
    clean = std::string();
    if (compression.empty()) {
        if (n != cells * 4) {
            error = wrongSize(n, cells);
            return false;
        }
        gidsFromBytes(bytes.get(), static_cast<std::size_t>(cells), gids);
        return true;
    }
    std::vector<unsigned char> out;
    std::size_t used = 0;
    const bool ok = zstdStream ? zstdCapped(bytes.get(), n, cells, out, used, error)
                               : inflateCapped(bytes.get(), n, gzipStream, cells, out, used, error);
    if (!ok) return false;
    if (used != cells * 4) {
        error = wrongSize(used, cells);
        return false;
    }
    bytes.reset();
    gidsFromBytes(out.data(), static_cast<std::size_t>(cells), gids);
    return true;
}

bool readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& text, std::string& error) {
    const std::string quoted = "'" + path + "'";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot read " + quoted + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "cannot read " + quoted + ": it is not a regular file";
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = "cannot read " + quoted + ": " + std::strerror(errno);
        return false;
    }
    std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
        ::close(*f);
        delete f;
    });
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read " + quoted + ": it is not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        error = "cannot read " + quoted + ": it is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    // Only the bytes the file had when it was opened.
    text.assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t r = ::read(fd, &text[got], text.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            error = "cannot read " + quoted + ": " + std::strerror(errno);
            return false;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    text.resize(got);
    return true;
}

}  // namespace exchange
