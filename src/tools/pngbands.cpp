#include "pngbands.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <png.h>
#include <zlib.h>

namespace pngbands {

using hxpic::Pixel;

std::vector<Pixel> paletteOrder(const std::vector<Pixel>& colours) {
    std::vector<Pixel> sorted(colours);
    std::sort(sorted.begin(), sorted.end());   // 0, transparent, sorts first
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
}

namespace {

// Pixel to palette index: a small open-addressed table, with the last pixel
// remembered because the pictures come in runs of one colour.
class Lookup {
public:
    explicit Lookup(const std::vector<Pixel>& palette) : keys(kSize, 0), index(kSize, -1) {
        for (std::size_t i = 0; i < palette.size(); ++i) {
            std::size_t h = hash(palette[i]);
            while (index[h] >= 0) h = (h + 1) & (kSize - 1);
            keys[h] = palette[i];
            index[h] = static_cast<short>(i);
        }
    }
    // -1 when the pixel is not in the palette.
    int find(Pixel p) const {
        for (std::size_t h = hash(p);; h = (h + 1) & (kSize - 1)) {
            if (index[h] < 0) return -1;
            if (keys[h] == p) return index[h];
        }
    }

private:
    static constexpr std::size_t kSize = 1024;   // 4 x the largest palette
    static std::size_t hash(Pixel p) { return (p * 2654435761u) >> 22; }
    std::vector<Pixel> keys;
    std::vector<short> index;
};

// Packs one row of pixels as palette indices of `bits` bits, the leftmost
// pixel in the high bits as PNG wants. False when a pixel is not in the
// palette.
bool packIndexed(const Pixel* src, int width, int bits, const Lookup& lookup, unsigned char* dst) {
    Pixel last = src[0];
    int lastIndex = lookup.find(last);
    if (lastIndex < 0) return false;
    if (bits == 8) {
        for (int x = 0; x < width; ++x) {
            const Pixel p = src[x];
            if (p != last) {
                last = p;
                lastIndex = lookup.find(p);
                if (lastIndex < 0) return false;
            }
            dst[x] = static_cast<unsigned char>(lastIndex);
        }
        return true;
    }
    const int perByte = 8 / bits;
    unsigned acc = 0;
    int filled = 0;
    for (int x = 0; x < width; ++x) {
        const Pixel p = src[x];
        if (p != last) {
            last = p;
            lastIndex = lookup.find(p);
            if (lastIndex < 0) return false;
        }
        acc = (acc << bits) | static_cast<unsigned>(lastIndex);
        if (++filled == perByte) {
            *dst++ = static_cast<unsigned char>(acc);
            acc = 0;
            filled = 0;
        }
    }
    if (filled > 0) *dst = static_cast<unsigned char>(acc << (bits * (perByte - filled)));
    return true;
}

// cairo's premultiplied 0xAARRGGBB words to straight R, G, B, A bytes.
void packRgba(const Pixel* src, int width, unsigned char* dst) {
    for (int x = 0; x < width; ++x, dst += 4) {
        const Pixel p = src[x];
        unsigned a = p >> 24, r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
        if (a != 0 && a != 255) {
            r = std::min(255u, r * 255 / a);
            g = std::min(255u, g * 255 / a);
            b = std::min(255u, b * 255 / a);
        }
        dst[0] = static_cast<unsigned char>(r);
        dst[1] = static_cast<unsigned char>(g);
        dst[2] = static_cast<unsigned char>(b);
        dst[3] = static_cast<unsigned char>(a);
    }
}

// What the drawing thread and the encoding thread share: two bands of
// packed rows that go back and forth, and how the encoder ended.
struct Shared {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    std::vector<unsigned char> band[2];
    std::vector<png_bytep> rowPointers[2];
    int rows[2] = {0, 0};
    bool full[2] = {false, false};
    bool noMore = false;    // the drawing thread has handed over its last band
    bool stop = false;      // the drawing thread gives up
    bool failed = false;    // the encoder failed; `error` says why
    std::string error;
    std::mutex mutex;
    std::condition_variable changed;

    // Encoder side: the slot when it is full, or -1 when no band is left.
    int takeFull(int slot) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return full[slot] || noMore || stop; });
        return full[slot] && !stop ? slot : -1;
    }
    void release(int slot) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            full[slot] = false;
        }
        changed.notify_all();
    }
    void fail(const std::string& why) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failed) error = why;
            failed = true;
        }
        changed.notify_all();
    }
    // Drawing side: waits until the slot is free; false when the encoder
    // has stopped.
    bool waitFree(int slot) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !full[slot] || failed; });
        return !failed;
    }
    void publish(int slot, int n) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            rows[slot] = n;
            full[slot] = true;
        }
        changed.notify_all();
    }
    void finish(bool giveUp) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            noMore = true;
            stop = giveUp;
        }
        changed.notify_all();
    }
};

void onPngError(png_structp png, png_const_charp message) {
    auto* shared = static_cast<Shared*>(png_get_error_ptr(png));
    if (shared->error.empty()) shared->error = message;
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void onPngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* shared = static_cast<Shared*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, shared->file) != length) {
        shared->error = std::strerror(errno);
        png_error(png, "write failed");
    }
}

void onPngFlush(png_structp) {}

// The encoder's steps. Every libpng call happens inside one of them,
// between its setjmp and its end, with no objects alive that a jump back
// would skip. False once the encoder has failed.
bool encodeStart(Shared* shared) {
    if (setjmp(png_jmpbuf(shared->png))) {
        shared->fail(shared->error.empty() ? std::string("cannot encode the picture") : shared->error);
        return false;
    }
    png_write_info(shared->png, shared->info);
    return true;
}

bool encodeBand(Shared* shared, int slot) {
    if (setjmp(png_jmpbuf(shared->png))) {
        shared->fail(shared->error.empty() ? std::string("cannot encode the picture") : shared->error);
        return false;
    }
    png_write_rows(shared->png, shared->rowPointers[slot].data(), static_cast<png_uint_32>(shared->rows[slot]));
    shared->release(slot);
    return true;
}

bool encodeEnd(Shared* shared) {
    if (setjmp(png_jmpbuf(shared->png))) {
        shared->fail(shared->error.empty() ? std::string("cannot encode the picture") : shared->error);
        return false;
    }
    png_write_end(shared->png, nullptr);
    return true;
}

// The encoding thread.
void encode(Shared* shared) {
    if (!encodeStart(shared)) return;
    for (int k = 0;; k ^= 1) {
        const int slot = shared->takeFull(k);
        if (slot < 0) break;
        if (!encodeBand(shared, slot)) return;
    }
    if (!shared->stop) encodeEnd(shared);
}

}  // namespace

Result write(std::FILE* file, int width, int height, const Settings& settings, const DrawBand& draw,
             std::string& error) {
    if (width < 1 || height < 1 || width > kMaxWidth) {
        error = "the picture would be " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
        return Result::Failed;
    }
    const std::vector<Pixel> palette = paletteOrder(settings.colours);
    const bool indexed = !palette.empty() && palette.size() <= 256;
    const int bits = !indexed ? 8 : palette.size() <= 2 ? 1 : palette.size() <= 4 ? 2 : palette.size() <= 16 ? 4 : 8;
    const std::size_t rowBytes =
        indexed ? (static_cast<std::size_t>(width) * bits + 7) / 8 : static_cast<std::size_t>(width) * 4;

    int bandRows = settings.bandRows;
    if (bandRows <= 0) bandRows = static_cast<int>((std::size_t(1) << 20) / (static_cast<std::size_t>(width) * 4));
    bandRows = std::max(1, std::min(bandRows, height));

    const Lookup lookup(indexed ? palette : std::vector<Pixel>());
    Shared shared;
    shared.file = file;
    std::unique_ptr<Pixel[]> pixels;   // cleared band by band, as far as needed
    try {
        pixels.reset(new Pixel[static_cast<std::size_t>(width) * bandRows]);
        for (int s = 0; s < 2; ++s) {
            shared.band[s].resize(rowBytes * bandRows);
            shared.rowPointers[s].resize(bandRows);
            for (int r = 0; r < bandRows; ++r) shared.rowPointers[s][r] = shared.band[s].data() + rowBytes * r;
        }
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return Result::Failed;
    }

    shared.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &shared, onPngError, onPngWarning);
    if (shared.png) shared.info = png_create_info_struct(shared.png);
    if (!shared.info) {
        png_destroy_write_struct(&shared.png, nullptr);
        error = "out of memory";
        return Result::Failed;
    }
    // The set-up below cannot fail for a valid size, but libpng reports
    // through a jump in any case.
    if (setjmp(png_jmpbuf(shared.png))) {
        png_destroy_write_struct(&shared.png, &shared.info);
        error = shared.error.empty() ? "cannot encode the picture" : shared.error;
        return Result::Failed;
    }
    png_set_user_limits(shared.png, kMaxWidth, kMaxHeight);
    png_set_write_fn(shared.png, &shared, onPngWrite, onPngFlush);
    png_set_IHDR(shared.png, shared.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bits,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_color entries[256];
        png_byte alpha[256];
        int translucent = 0;
        for (std::size_t i = 0; i < palette.size(); ++i) {
            entries[i].red = static_cast<png_byte>(palette[i] >> 16);
            entries[i].green = static_cast<png_byte>(palette[i] >> 8);
            entries[i].blue = static_cast<png_byte>(palette[i]);
            alpha[i] = static_cast<png_byte>(palette[i] >> 24);
            if (alpha[i] != 255) translucent = static_cast<int>(i) + 1;
        }
        png_set_PLTE(shared.png, shared.info, entries, static_cast<int>(palette.size()));
        if (translucent > 0) png_set_tRNS(shared.png, shared.info, alpha, translucent, nullptr);
    }
    if (settings.pixelsPerMetre > 0)
        png_set_pHYs(shared.png, shared.info, settings.pixelsPerMetre, settings.pixelsPerMetre, PNG_RESOLUTION_METER);
    // Palette indices repeat along a row and from row to row, which plain
    // LZ77 matching at a low level finds without help: measured on the
    // samples, no filter packs tighter and faster than Sub or Up, and the
    // run-length-only strategy makes files four times larger.
    png_set_filter(shared.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(shared.png, settings.zlibLevel);
    png_set_compression_strategy(shared.png, Z_DEFAULT_STRATEGY);
    png_set_compression_buffer_size(shared.png, 1 << 18);

    // This thread draws and packs band k + 1 while the encoder compresses
    // band k: compression is the larger half. When no thread can be started
    // (under a tight memory limit, say), this thread encodes each band
    // after drawing it.
    std::thread encoder;
    try {
        encoder = std::thread(encode, &shared);
    } catch (const std::system_error&) {
    }
    const bool alone = !encoder.joinable();
    bool missing = false, encoderStopped = alone && !encodeStart(&shared);
    try {
        int slot = 0;
        for (int top = 0; top < height && !encoderStopped; top += bandRows, slot ^= 1) {
            const int n = std::min(bandRows, height - top);
            std::fill(pixels.get(), pixels.get() + static_cast<std::ptrdiff_t>(width) * n, 0u);
            draw(top, n, pixels.get());
            if (!shared.waitFree(slot)) {
                encoderStopped = true;
                break;
            }
            for (int r = 0; r < n && !missing; ++r) {
                const Pixel* src = pixels.get() + static_cast<std::size_t>(width) * r;
                if (indexed) missing = !packIndexed(src, width, bits, lookup, shared.rowPointers[slot][r]);
                else packRgba(src, width, shared.rowPointers[slot][r]);
            }
            if (missing) break;
            shared.publish(slot, n);
            if (alone) encoderStopped = !encodeBand(&shared, slot);
        }
    } catch (...) {
        // Drawing ran out of memory, say: the encoder stops before the
        // exception goes on.
        shared.finish(true);
        if (encoder.joinable()) encoder.join();
        png_destroy_write_struct(&shared.png, &shared.info);
        throw;
    }
    shared.finish(missing || encoderStopped);
    if (encoder.joinable()) encoder.join();
    else if (!missing && !encoderStopped) encodeEnd(&shared);
    Result result = shared.failed ? Result::Failed : missing ? Result::ColourMissing : Result::Written;
    if (result == Result::Written && std::fflush(file) != 0) {
        shared.error = std::strerror(errno);
        result = Result::Failed;
    }
    if (result == Result::Failed) error = shared.error;
    png_destroy_write_struct(&shared.png, &shared.info);
    return result;
}

}  // namespace pngbands
