#include "pngbands.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <mutex>
#include <exception>
#include <system_error>

#include <png.h>
#include <zlib.h>

#include "workqueue.h"

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

// Palette indices one byte each to `bits` (1, 2 or 4) bits, the leftmost
// pixel in the high bits.
void packBits(const std::uint8_t* src, int width, int bits, unsigned char* dst) {
    if (bits == 4) {   // the common case, in a loop the compiler vectorizes
        const int pairs = width / 2;
        for (int i = 0; i < pairs; ++i)
            dst[i] = static_cast<unsigned char>(src[2 * i] << 4 | src[2 * i + 1]);
        if (width % 2 != 0) dst[pairs] = static_cast<unsigned char>(src[width - 1] << 4);
        return;
    }
    const int perByte = 8 / bits;
    int x = 0;
    for (; x + perByte <= width; x += perByte) {
        unsigned acc = 0;
        for (int k = 0; k < perByte; ++k) acc = (acc << bits) | src[x + k];
        *dst++ = static_cast<unsigned char>(acc);
    }
    if (x < width) {
        unsigned acc = 0;
        int k = 0;
        for (; x < width; ++x, ++k) acc = (acc << bits) | src[x];
        *dst = static_cast<unsigned char>(acc << (bits * (perByte - k)));
    }
}

void putBig32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

struct Bytes {
    const unsigned char* data;
    std::size_t size;
};

// One PNG chunk whose data is the parts given, one after another.
bool writeChunk(std::FILE* file, const char* type, std::initializer_list<Bytes> parts) {
    std::size_t length = 0;
    for (const Bytes& b : parts) length += b.size;
    unsigned char head[8];
    putBig32(head, static_cast<std::uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    bool ok = std::fwrite(head, 1, 8, file) == 8;
    for (const Bytes& b : parts) {
        if (b.size == 0) continue;
        crc = crc32_z(crc, b.data, b.size);
        ok = ok && std::fwrite(b.data, 1, b.size, file) == b.size;
    }
    unsigned char tail[4];
    putBig32(tail, static_cast<std::uint32_t>(crc));
    return ok && std::fwrite(tail, 1, 4, file) == 4;
}

// Bytes that are written before they are read, so never cleared.
class Buffer {
public:
    unsigned char* data() { return p_.get(); }
    const unsigned char* data() const { return p_.get(); }
    std::size_t size() const { return size_; }
    // Keeps the first `keep` bytes.
    void resize(std::size_t n, std::size_t keep = 0) {
        if (n > capacity_) {
            std::unique_ptr<unsigned char[]> q(new unsigned char[n]);
            if (keep > 0) std::memcpy(q.get(), p_.get(), keep);
            p_.swap(q);
            capacity_ = n;
        }
        size_ = n;
    }

private:
    std::unique_ptr<unsigned char[]> p_;
    std::size_t capacity_ = 0, size_ = 0;
};

// One band's compressed rows, waiting for their turn in the file.
struct Slot {
    Buffer data;
    uLong adler = 1;
    std::size_t rawLength = 0;
    bool ready = false;
};

enum class Stop { None, Missing, Failed };

// What the runners of one picture share. A band k is drawn, packed as PNG
// rows (filter byte 0, then the row) and compressed as a run of raw deflate
// blocks ending on a byte boundary (the last band ends the stream) by
// whichever runner takes it; the runs go into the file in order, inside one
// zlib stream whose checksum is combined from the bands' own, written by
// whichever runner finds the next band ready. Band k uses slot
// k % slots.size(), so at most that many bands are ahead of the file.
struct Job {
    int width = 0, height = 0, bandRows = 0, bands = 0, bits = 8, level = 1;
    bool indexed = false, direct = false;
    std::size_t rowBytes = 0;
    const DrawBand* draw = nullptr;
    const DrawIndexBand* drawIndices = nullptr;
    const Lookup* lookup = nullptr;

    std::vector<Slot> slots;
    std::mutex mutex;
    std::condition_variable changed;
    int written = 0;   // bands in the file
    Stop stop = Stop::None;
    std::string error;
    std::exception_ptr thrown;   // from drawing, passed on by write()

    void halt(Stop why, const std::string& message) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stop == Stop::None) {
                stop = why;
                error = message;
            }
        }
        changed.notify_all();
    }
};

// Compresses raw bytes into `out` (resized to fit) as deflate blocks.
bool deflateBand(z_stream& z, const unsigned char* raw, std::size_t length, bool last, Buffer& out) {
    if (deflateReset(&z) != Z_OK) return false;
    out.resize(deflateBound(&z, static_cast<uLong>(length)) + 64);
    z.next_in = const_cast<unsigned char*>(raw);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        const int r = deflate(&z, flush);
        if (r == Z_STREAM_ERROR) return false;
        if (last ? r == Z_STREAM_END : (z.avail_in == 0 && z.avail_out > 0)) break;
        const std::size_t used = out.size() - z.avail_out;
        out.resize(out.size() * 2, used);
        z.next_out = out.data() + used;
        z.avail_out = static_cast<uInt>(out.size() - used);
    }
    out.resize(out.size() - z.avail_out, out.size() - z.avail_out);
    return true;
}

// What each thread keeps from one picture to the next: its compressor and
// the buffers of one band, so that many small pictures (the tiles of a
// pyramid) start neither a compressor nor a buffer each.
struct Scratch {
    z_stream z{};
    int level = -1;
    std::vector<unsigned char> raw;
    std::vector<std::uint8_t> indices;
    std::vector<Pixel> pixels;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (level >= 0) deflateEnd(&z);
    }
    // A compressor at `level`; false when none can be had.
    bool compressor(int wanted) {
        if (level == wanted) return true;
        if (level >= 0) deflateEnd(&z);
        z = z_stream{};
        level = deflateInit2(&z, wanted, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK ? wanted : -1;
        return level >= 0;
    }
};

Scratch& threadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

// Draws, packs and compresses bands with the calling thread's scratch.
class BandWorker {
public:
    explicit BandWorker(Job& job) : job_(job), s_(threadScratch()) {}

    // Draws, packs and compresses band k into its slot, which must be free.
    // False (with the job halted) on failure.
    bool run(int k) {
        if (!s_.compressor(job_.level)) {
            job_.halt(Stop::Failed, "cannot start the compressor");
            return false;
        }
        const int top = k * job_.bandRows;
        const int n = std::min(job_.bandRows, job_.height - top);
        const std::size_t length = stride() * n;
        try {
            if (s_.raw.size() < stride() * job_.bandRows) s_.raw.resize(stride() * job_.bandRows);
            const std::size_t pixels = static_cast<std::size_t>(job_.width) * job_.bandRows;
            if (job_.direct && job_.bits < 8 && s_.indices.size() < pixels) s_.indices.resize(pixels);
            if (!job_.direct && s_.pixels.size() < pixels) s_.pixels.resize(pixels);
        } catch (const std::bad_alloc&) {
            job_.halt(Stop::Failed, "out of memory");
            return false;
        }
        try {
            if (!drawBand(top, n)) {
                job_.halt(Stop::Missing, "");
                return false;
            }
        } catch (...) {
            {
                std::lock_guard<std::mutex> lock(job_.mutex);
                if (!job_.thrown) job_.thrown = std::current_exception();
            }
            job_.halt(Stop::Failed, "cannot draw the picture");
            return false;
        }
        Slot& slot = job_.slots[static_cast<std::size_t>(k) % job_.slots.size()];
        slot.adler = adler32_z(1L, s_.raw.data(), length);
        bool ok;
        try {
            ok = deflateBand(s_.z, s_.raw.data(), length, k == job_.bands - 1, slot.data);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        if (!ok) {
            job_.halt(Stop::Failed, "cannot compress the picture");
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(job_.mutex);
            slot.rawLength = length;
            slot.ready = true;
        }
        return true;
    }

private:
    std::size_t stride() const { return job_.rowBytes + 1; }

    // The band's PNG rows in raw: a filter byte (0, none) before each row.
    // False when a pixel is not in the palette.
    bool drawBand(int top, int n) {
        const std::size_t stride = this->stride();
        const int width = job_.width;
        std::vector<unsigned char>& raw = s_.raw;
        if (job_.direct && job_.bits == 8) {
            // The rows are drawn in place, each after its filter byte.
            std::fill(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(stride * n), 0);
            (*job_.drawIndices)(top, n, raw.data() + 1, static_cast<std::ptrdiff_t>(stride));
            return true;
        }
        if (job_.direct) {
            std::fill(s_.indices.begin(), s_.indices.begin() + static_cast<std::ptrdiff_t>(width) * n, 0);
            (*job_.drawIndices)(top, n, s_.indices.data(), width);
            for (int r = 0; r < n; ++r) {
                raw[stride * r] = 0;
                packBits(s_.indices.data() + static_cast<std::size_t>(width) * r, width, job_.bits,
                         raw.data() + stride * r + 1);
            }
            return true;
        }
        std::fill(s_.pixels.begin(), s_.pixels.begin() + static_cast<std::ptrdiff_t>(width) * n, 0u);
        (*job_.draw)(top, n, s_.pixels.data());
        for (int r = 0; r < n; ++r) {
            const Pixel* src = s_.pixels.data() + static_cast<std::size_t>(width) * r;
            unsigned char* dst = raw.data() + stride * r;
            dst[0] = 0;
            if (!job_.indexed) packRgba(src, width, dst + 1);
            else if (!packIndexed(src, width, job_.bits, *job_.lookup, dst + 1)) return false;
        }
        return true;
    }

    Job& job_;
    Scratch& s_;
};

// libpng writes the signature and the header chunks; the picture data do
// not go through it.
struct HeaderWriter {
    std::FILE* file;
    std::string error;
};

void onPngError(png_structp png, png_const_charp message) {
    auto* w = static_cast<HeaderWriter*>(png_get_error_ptr(png));
    if (w->error.empty()) w->error = message;
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void onPngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* w = static_cast<HeaderWriter*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, w->file) != length) {
        w->error = std::strerror(errno);
        png_error(png, "write failed");
    }
}

void onPngFlush(png_structp) {}

bool writeHeader(std::FILE* file, int width, int height, int bits, bool indexed, const std::vector<Pixel>& palette,
                 unsigned pixelsPerMetre, std::string& error) {
    HeaderWriter w{file, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = w.error.empty() ? "cannot encode the picture" : w.error;
        return false;
    }
    png_set_user_limits(png, kMaxWidth, kMaxHeight);
    png_set_write_fn(png, &w, onPngWrite, onPngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bits,
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
        png_set_PLTE(png, info, entries, static_cast<int>(palette.size()));
        if (translucent > 0) png_set_tRNS(png, info, alpha, translucent, nullptr);
    }
    if (pixelsPerMetre > 0) png_set_pHYs(png, info, pixelsPerMetre, pixelsPerMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

Result write(std::FILE* file, int width, int height, const Settings& settings, const DrawBand& draw,
             std::string& error) {
    if (width < 1 || height < 1 || width > kMaxWidth) {
        error = "the picture would be " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
        return Result::Failed;
    }
    const std::vector<Pixel> palette = paletteOrder(settings.colours);
    Job job;
    job.width = width;
    job.height = height;
    job.level = settings.zlibLevel;
    job.indexed = !palette.empty() && palette.size() <= 256;
    job.direct = job.indexed && settings.drawIndices;
    job.bits = !job.indexed ? 8 : palette.size() <= 2 ? 1 : palette.size() <= 4 ? 2 : palette.size() <= 16 ? 4 : 8;
    job.rowBytes = job.indexed ? (static_cast<std::size_t>(width) * job.bits + 7) / 8 : static_cast<std::size_t>(width) * 4;
    job.draw = &draw;
    job.drawIndices = &settings.drawIndices;

    // About 1 MiB of drawn pixels a band, but at least 16 rows up to 16 MiB:
    // a band of one pixel row would walk a whole row of cells for it.
    const std::size_t drawnRow = static_cast<std::size_t>(width) * (job.direct ? 1 : sizeof(Pixel));
    int bandRows = settings.bandRows;
    if (bandRows <= 0)
        bandRows = static_cast<int>(std::max((std::size_t(1) << 20) / drawnRow,
                                             std::min<std::size_t>(16, (std::size_t(16) << 20) / drawnRow)));
    job.bandRows = std::max(1, std::min(bandRows, height));
    job.bands = static_cast<int>((static_cast<long long>(height) + job.bandRows - 1) / job.bandRows);

    // Runners: this thread and helpers from the shared threads.
    const int runners = static_cast<int>(std::min<long long>(
        settings.threads > 0 ? settings.threads : work::threadCount(), job.bands));
    const Lookup lookup(job.indexed && !job.direct ? palette : std::vector<Pixel>());
    job.lookup = &lookup;
    try {
        job.slots.resize(static_cast<std::size_t>(2 * std::max(1, runners)));
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return Result::Failed;
    }

    if (!writeHeader(file, width, height, job.bits, job.indexed, palette, settings.pixelsPerMetre, error))
        return Result::Failed;

    // The zlib stream: its header (deflate, 32 KiB window, fastest), the
    // bands' blocks, and the checksum of all the rows.
    std::mutex fileMutex;
    uLong adler = adler32(0L, nullptr, 0);
    // Puts every band that is ready, in order, into the file.
    const auto writeReady = [&] {
        std::lock_guard<std::mutex> writing(fileMutex);
        for (;;) {
            int k;
            {
                std::lock_guard<std::mutex> lock(job.mutex);
                k = job.written;
                if (job.stop != Stop::None || k >= job.bands ||
                    !job.slots[static_cast<std::size_t>(k) % job.slots.size()].ready)
                    return;
            }
            Slot& slot = job.slots[static_cast<std::size_t>(k) % job.slots.size()];
            static const unsigned char zlibHeader[2] = {0x78, 0x01};
            adler = adler32_combine(adler, slot.adler, static_cast<z_off_t>(slot.rawLength));
            unsigned char check[4];
            putBig32(check, static_cast<std::uint32_t>(adler));
            const bool last = k == job.bands - 1;
            if (!writeChunk(file, "IDAT", {{zlibHeader, k == 0 ? 2u : 0u}, {slot.data.data(), slot.data.size()},
                                           {check, last ? 4u : 0u}})) {
                job.halt(Stop::Failed, std::strerror(errno));
                return;
            }
            {
                std::lock_guard<std::mutex> lock(job.mutex);
                slot.ready = false;
                ++job.written;
            }
            job.changed.notify_all();
            if (settings.progress)
                settings.progress(static_cast<double>(std::min<long long>(height, (k + 1LL) * job.bandRows)) / height);
        }
    };
    const int window = static_cast<int>(job.slots.size());
    work::run(job.bands, runners - 1, [&](long long item, int) {
        const int k = static_cast<int>(item);
        {
            // Bands are taken in order, so the one the file waits for is
            // never held up here.
            std::unique_lock<std::mutex> lock(job.mutex);
            job.changed.wait(lock, [&] { return job.stop != Stop::None || k < job.written + window; });
            if (job.stop != Stop::None) return;
        }
        BandWorker worker(job);
        if (worker.run(k)) writeReady();
    });
    if (job.thrown) std::rethrow_exception(job.thrown);
    if (job.stop == Stop::Missing) return Result::ColourMissing;
    if (job.stop == Stop::None && (!writeChunk(file, "IEND", {}) || std::fflush(file) != 0))
        job.halt(Stop::Failed, std::strerror(errno));
    if (job.stop == Stop::Failed) {
        error = job.error.empty() ? "cannot encode the picture" : job.error;
        return Result::Failed;
    }
    return Result::Written;
}

}  // namespace pngbands
