#pragma once

// PNG and TIFF files made in memory at run time with libpng and libtiff, for tests and
// benchmarks. Header-only, so that a program which includes it links only the two libraries
// (they come with platform_imageio).

#include "platform/foundation/Bytes.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tarpelix::testing {

// The value of one sample (channel `c` of pixel x, y), in the range of the bit depth.
using SampleFunction = std::function<std::uint32_t(std::uint32_t x, std::uint32_t y, int c)>;

// A pattern that differs in every channel and across the image; values fit `bits`.
inline SampleFunction gradientSamples(int bits) {
    return [bits](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
        std::uint32_t mask = bits >= 32 ? 0xffffffffu : (1u << bits) - 1;
        return (x * 37 + y * 11 + static_cast<std::uint32_t>(c) * 101 + 7) & mask;
    };
}

// Deterministic noise, which no encoder compresses.
inline SampleFunction noiseSamples(int bits, std::uint32_t seed = 1) {
    return [bits, seed](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
        std::uint32_t v = seed ^ (x * 0x9E3779B1u) ^ (y * 0x85EBCA77u) ^ (static_cast<std::uint32_t>(c) * 0xC2B2AE3Du);
        v ^= v >> 15;
        v *= 0x2C1B3C6Du;
        v ^= v >> 12;
        v *= 0x297A2D39u;
        v ^= v >> 15;
        std::uint32_t mask = bits >= 32 ? 0xffffffffu : (1u << bits) - 1;
        return v & mask;
    };
}

// The samples of a Mac screenshot, `width` × `height` (laid out as on a 5120 × 2880 display,
// scaled): a menu bar, a gradient desktop, a document window of text lines with a noisy photo
// in it and a terminal of coloured monospaced text. Opaque; screenshots compress like this.
inline SampleFunction screenshotSamples(std::uint32_t width, std::uint32_t height) {
    const auto hash = [](std::uint32_t a, std::uint32_t b) {
        std::uint32_t v = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
        v ^= v >> 13;
        v *= 0xC2B2AE3Du;
        return v ^ (v >> 16);
    };
    return [=](std::uint32_t px, std::uint32_t py, int c) -> std::uint32_t {
        const std::uint32_t x = static_cast<std::uint32_t>(std::uint64_t{px} * 5120 / width);
        const std::uint32_t y = static_cast<std::uint32_t>(std::uint64_t{py} * 2880 / height);
        if (c == 3) return 255;
        if (y < 50) return c == 2 ? 240 : 232; // menu bar
        const bool inWindow = x >= 240 && x < 3000 && y >= 160 && y < 2200;
        const bool inTerminal = x >= 2600 && x < 4960 && y >= 760 && y < 2760;
        if (inTerminal) {
            if (y < 816) return 60;
            const std::uint32_t column = (x - 2600) / 18, line = (y - 816) / 40;
            const bool ink = (y - 816) % 40 < 28 && hash(column, line) % 5 != 0 && hash(px / 3, py / 3) % 3 == 0 &&
                             column < 40 + line % 60;
            if (!ink) return 30;
            return static_cast<std::uint32_t>(c) == line % 3 ? 220 : 120;
        }
        if (inWindow) {
            if (y < 216) return 236; // title bar
            if (x >= 1800 && y >= 1200) return 60 + ((px * 3 + py * (c + 1)) % 140) + hash(px, py * 3 + c) % 40;
            const std::uint32_t line = (y - 216) / 36;
            const bool ink = (y - 216) % 36 < 24 && x >= 320 && x < 320 + (hash(line, 1) % 2200) &&
                             hash(x / 7, line) % 6 != 0 && hash(px / 2, py / 2) % 4 == 0;
            return ink ? 25 : 255;
        }
        return c == 0 ? 40 + y / 24 : c == 1 ? 80 + x / 40 : 160 + (x + y) / 80; // desktop gradient
    };
}

struct PngSpec {
    std::uint32_t width = 4;
    std::uint32_t height = 3;
    int colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    int bitDepth = 8;
    bool interlaced = false;
    // Palette images: the palette has this many entries (index samples are reduced
    // modulo it), and the first `transparentEntries` of them are fully transparent.
    int paletteSize = 16;
    int transparentEntries = 0;
    // Written as an animation control chunk before the image data (frame count).
    std::optional<std::uint32_t> animationFrames{};
    SampleFunction samples{};
};

inline int pngChannels(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1; // palette index
    }
}

namespace detail {

inline void pngAppend(png_structp png, png_bytep data, std::size_t length) {
    auto* out = static_cast<platform::Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
inline void pngFlush(png_structp) {}

inline bool pngWrite(png_structp png, png_infop info, const PngSpec* spec, const std::vector<png_bytep>* rows,
                     const std::vector<png_color>* palette, const std::vector<png_byte>* alphas) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, spec->width, spec->height, spec->bitDepth, spec->colorType,
                 spec->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (spec->colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette->data(), static_cast<int>(palette->size()));
        if (!alphas->empty()) png_set_tRNS(png, info, alphas->data(), static_cast<int>(alphas->size()), nullptr);
    }
    png_write_info(png, info);
    if (spec->animationFrames) {
        png_byte control[8] = {};
        std::uint32_t frames = *spec->animationFrames;
        control[0] = static_cast<png_byte>(frames >> 24);
        control[1] = static_cast<png_byte>(frames >> 16);
        control[2] = static_cast<png_byte>(frames >> 8);
        control[3] = static_cast<png_byte>(frames);
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("acTL"), control, sizeof control);
    }
    if (spec->bitDepth < 8) png_set_packing(png);
    png_write_image(png, const_cast<png_bytepp>(rows->data()));
    png_write_end(png, info);
    return true;
}

} // namespace detail

// A PNG file; 16-bit samples are given as values and stored big-endian as PNG wants.
inline platform::Bytes makePNG(const PngSpec& spec) {
    SampleFunction samples = spec.samples ? spec.samples : gradientSamples(spec.bitDepth);
    int channels = pngChannels(spec.colorType);
    bool palette = spec.colorType == PNG_COLOR_TYPE_PALETTE;
    // One byte per sample below 8 bits (packed by libpng), else 1 or 2 bytes.
    std::size_t sampleBytes = spec.bitDepth == 16 ? 2 : 1;
    std::vector<std::vector<png_byte>> storage(spec.height, std::vector<png_byte>(spec.width * channels * sampleBytes));
    for (std::uint32_t y = 0; y < spec.height; ++y) {
        for (std::uint32_t x = 0; x < spec.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                std::uint32_t value = samples(x, y, c);
                if (palette) value %= static_cast<std::uint32_t>(spec.paletteSize);
                std::size_t at = (x * channels + c) * sampleBytes;
                if (sampleBytes == 2) {
                    storage[y][at] = static_cast<png_byte>(value >> 8);
                    storage[y][at + 1] = static_cast<png_byte>(value);
                } else {
                    storage[y][at] = static_cast<png_byte>(value);
                }
            }
        }
    }
    std::vector<png_bytep> rows;
    for (auto& row : storage) rows.push_back(row.data());
    std::vector<png_color> colors;
    for (int i = 0; i < spec.paletteSize; ++i) {
        colors.push_back(png_color{static_cast<png_byte>(i * 15), static_cast<png_byte>(255 - i * 7),
                                   static_cast<png_byte>(i * 3)});
    }
    std::vector<png_byte> alphas(static_cast<std::size_t>(spec.transparentEntries), 0);

    platform::Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, detail::pngAppend, detail::pngFlush);
    bool written = detail::pngWrite(png, info, &spec, &rows, &colors, &alphas);
    png_destroy_write_struct(&png, &info);
    if (!written) throw std::runtime_error("makePNG failed");
    return out;
}

struct TiffPage {
    std::uint32_t width = 4;
    std::uint32_t height = 3;
    std::uint16_t samplesPerPixel = 4;
    std::uint16_t bitsPerSample = 8;
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t compression = COMPRESSION_NONE;
    // Type of the one extra sample (alpha) when there is one more sample than colours;
    // none writes no extra-samples tag.
    std::optional<std::uint16_t> extraSample = EXTRASAMPLE_UNASSALPHA;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint32_t rowsPerStrip = 2;
    // Tiles of this size (a multiple of 16) instead of strips.
    std::optional<std::uint32_t> tileSize{};
    SampleFunction samples{};
    // Written as the Orientation tag when given.
    std::optional<std::uint16_t> orientation{};
};

namespace detail {

struct TiffBuffer {
    platform::Bytes bytes;
    std::uint64_t offset = 0;
};

inline tmsize_t tiffRead(thandle_t h, void* buffer, tmsize_t size) {
    auto* b = static_cast<TiffBuffer*>(h);
    if (b->offset >= b->bytes.size()) return 0;
    auto n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), b->bytes.size() - b->offset);
    std::memcpy(buffer, b->bytes.data() + b->offset, n);
    b->offset += n;
    return static_cast<tmsize_t>(n);
}
inline tmsize_t tiffWrite(thandle_t h, void* buffer, tmsize_t size) {
    auto* b = static_cast<TiffBuffer*>(h);
    auto end = b->offset + static_cast<std::uint64_t>(size);
    if (end > b->bytes.size()) b->bytes.resize(end);
    std::memcpy(b->bytes.data() + b->offset, buffer, static_cast<std::size_t>(size));
    b->offset = end;
    return size;
}
inline toff_t tiffSeek(thandle_t h, toff_t offset, int whence) {
    auto* b = static_cast<TiffBuffer*>(h);
    if (whence == SEEK_CUR) offset += b->offset;
    if (whence == SEEK_END) offset += b->bytes.size();
    b->offset = offset;
    return offset;
}
inline int tiffClose(thandle_t) { return 0; }
inline toff_t tiffSize(thandle_t h) { return static_cast<TiffBuffer*>(h)->bytes.size(); }
inline int tiffMap(thandle_t, void**, toff_t*) { return 0; }
inline void tiffUnmap(thandle_t, void*, toff_t) {}

inline void putSample(std::uint8_t* at, int bits, std::uint32_t value) {
    if (bits == 16) {
        auto v = static_cast<std::uint16_t>(value);
        std::memcpy(at, &v, 2); // libtiff takes samples in the host's byte order
    } else {
        *at = static_cast<std::uint8_t>(value);
    }
}

inline bool writePage(TIFF* tiff, const TiffPage& page) {
    SampleFunction samples = page.samples ? page.samples : gradientSamples(page.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, page.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, page.planar);
    if (page.orientation) TIFFSetField(tiff, TIFFTAG_ORIENTATION, *page.orientation);
    int colors = page.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (page.extraSample && page.samplesPerPixel > colors) {
        std::uint16_t types[] = {*page.extraSample};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, types);
    }
    if (page.photometric == PHOTOMETRIC_PALETTE) {
        std::size_t entries = std::size_t{1} << page.bitsPerSample;
        std::vector<std::uint16_t> red(entries), green(entries), blue(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            red[i] = static_cast<std::uint16_t>(i * 257 * 255 / (entries - 1));
            green[i] = static_cast<std::uint16_t>(65535 - red[i]);
            blue[i] = 0x8080;
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    bool packed = page.bitsPerSample < 8;
    int sampleBytes = page.bitsPerSample == 16 ? 2 : 1;
    auto fill = [&](std::uint8_t* buffer, std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h,
                    std::size_t rowBytes) {
        for (std::uint32_t y = 0; y < h; ++y) {
            std::uint8_t* row = buffer + y * rowBytes;
            for (std::uint32_t x = 0; x < w; ++x) {
                for (int c = 0; c < page.samplesPerPixel; ++c) {
                    std::uint32_t value = (x0 + x < page.width && y0 + y < page.height) ? samples(x0 + x, y0 + y, c) : 0;
                    if (packed) {
                        std::size_t bit = (std::size_t{x} * page.samplesPerPixel + c) * page.bitsPerSample;
                        int shift = 8 - page.bitsPerSample - static_cast<int>(bit % 8);
                        row[bit / 8] |= static_cast<std::uint8_t>(value << shift);
                    } else {
                        putSample(row + (std::size_t{x} * page.samplesPerPixel + c) * sampleBytes, page.bitsPerSample,
                                  value);
                    }
                }
            }
        }
    };
    auto rowBytesFor = [&](std::uint32_t w) {
        return (std::size_t{w} * page.samplesPerPixel * page.bitsPerSample + 7) / 8;
    };
    if (page.tileSize) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, *page.tileSize);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, *page.tileSize);
        std::size_t tileRow = rowBytesFor(*page.tileSize);
        for (std::uint32_t ty = 0; ty < page.height; ty += *page.tileSize) {
            for (std::uint32_t tx = 0; tx < page.width; tx += *page.tileSize) {
                std::vector<std::uint8_t> tile(tileRow * *page.tileSize, 0);
                fill(tile.data(), tx, ty, *page.tileSize, *page.tileSize, tileRow);
                if (TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) < 0) return false;
            }
        }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, page.rowsPerStrip);
        std::size_t rowBytes = rowBytesFor(page.width);
        std::vector<std::uint8_t> row(rowBytes);
        for (std::uint32_t y = 0; y < page.height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            fill(row.data(), 0, y, page.width, 1, rowBytes);
            if (TIFFWriteScanline(tiff, row.data(), y, 0) < 0) return false;
        }
    }
    return TIFFWriteDirectory(tiff) != 0;
}

} // namespace detail

// A TIFF file with one directory per page.
inline platform::Bytes makeTIFF(const std::vector<TiffPage>& pages) {
    detail::TiffBuffer buffer;
    TIFF* tiff = TIFFClientOpen("test", "w", &buffer, detail::tiffRead, detail::tiffWrite, detail::tiffSeek,
                                detail::tiffClose, detail::tiffSize, detail::tiffMap, detail::tiffUnmap);
    if (!tiff) throw std::runtime_error("makeTIFF: cannot open");
    bool written = std::all_of(pages.begin(), pages.end(), [&](const TiffPage& page) { return detail::writePage(tiff, page); });
    TIFFClose(tiff);
    if (!written) throw std::runtime_error("makeTIFF failed");
    return buffer.bytes;
}

inline platform::Bytes makeTIFF(const TiffPage& page) { return makeTIFF(std::vector<TiffPage>{page}); }

} // namespace tarpelix::testing
