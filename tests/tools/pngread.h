// Reads a PNG back for the tests, through libpng's own decoder.
#ifndef TARVEN_TESTS_PNGREAD_H
#define TARVEN_TESTS_PNGREAD_H

#include <cstdint>
#include <string>
#include <vector>

#include <png.h>

struct DecodedPng {
    int width = 0, height = 0;
    int colourType = -1, bitDepth = 0;
    std::vector<std::uint32_t> pixels;   // 0xAARRGGBB, transparent as 0
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// False when the file is not a PNG that libpng reads without complaint.
inline bool readPng(const std::string& path, DecodedPng& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGBA;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return false;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.resize(bytes.size() / 4);
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        const png_byte* p = &bytes[4 * i];
        out.pixels[i] = p[3] == 0 ? 0u : (std::uint32_t(p[3]) << 24 | std::uint32_t(p[0]) << 16 | p[1] << 8 | p[2]);
    }
    // The header's colour type and depth, straight from the file.
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char header[26];
        if (std::fread(header, 1, sizeof header, f) == sizeof header) {
            out.bitDepth = header[24];
            out.colourType = header[25];
        }
        std::fclose(f);
    }
    return true;
}

#endif
