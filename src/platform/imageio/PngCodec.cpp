// PNG reading on libpng, after a check of the file's chunks of our own. libpng reports
// errors by longjmp, so every function that sets a jump point below holds only trivially
// destructible locals, and the callbacks that may raise an error hold none when they do.
#include "platform/imageio/ImageCodecs.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

namespace tarpelix::platform::codecs::png {

namespace {

constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::size_t headerEnd = 8 + 8 + 13 + 4; // signature, IHDR chunk with its CRC

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool chunkIs(const std::uint8_t* type, std::string_view name) {
    return std::memcmp(type, name.data(), 4) == 0;
}

struct Header {
    std::uint32_t width;
    std::uint32_t height;
    int bitDepth;
};

// The image header chunk, validated as the PNG format defines it.
std::optional<Header> readHeader(Data data) {
    if (!hasSignature(data) || data.size() < headerEnd) return std::nullopt;
    const std::uint8_t* chunk = data.data() + 8;
    if (bigEndian32(chunk) != 13 || !chunkIs(chunk + 4, "IHDR")) return std::nullopt;
    const std::uint8_t* fields = chunk + 8;
    Header header{bigEndian32(fields), bigEndian32(fields + 4), fields[8]};
    int colorType = fields[9];
    constexpr std::uint32_t maxDimension = 0x7fffffff;
    if (header.width == 0 || header.height == 0 || header.width > maxDimension || header.height > maxDimension) {
        return std::nullopt;
    }
    bool depthFits = false;
    switch (colorType) {
    case 0: depthFits = header.bitDepth == 1 || header.bitDepth == 2 || header.bitDepth == 4 || header.bitDepth == 8 || header.bitDepth == 16; break;
    case 3: depthFits = header.bitDepth == 1 || header.bitDepth == 2 || header.bitDepth == 4 || header.bitDepth == 8; break;
    case 2: case 4: case 6: depthFits = header.bitDepth == 8 || header.bitDepth == 16; break;
    default: break;
    }
    if (!depthFits || fields[10] != 0 || fields[11] != 0 || fields[12] > 1) return std::nullopt;
    return header;
}

// The frame count of an animated PNG: the animation control chunk before the image data.
std::optional<std::uint32_t> animationFrames(Data data) {
    std::size_t offset = headerEnd;
    while (data.size() - offset >= 8) {
        std::uint32_t length = bigEndian32(data.data() + offset);
        const std::uint8_t* type = data.data() + offset + 4;
        if (length > 0x7fffffff || chunkIs(type, "IDAT") || chunkIs(type, "IEND")) break;
        if (chunkIs(type, "acTL")) {
            if (length < 8 || data.size() - offset - 8 < 8) break;
            return bigEndian32(data.data() + offset + 8);
        }
        if (data.size() - offset < std::size_t{length} + 12) break;
        offset += std::size_t{length} + 12;
    }
    return std::nullopt;
}

// Walks the chunks from the header to the end chunk as a decoder would meet them, without
// inflating anything: every chunk complete, with a name of letters; the critical ones known,
// with good CRCs (ancillary CRCs are not checked, as libpng does not insist on them), in
// order: one header first, at most one palette (required before the data of a palette
// image), the data chunks in one run, and the end after them.
bool wellFormed(Data data, int colorType) {
    bool palette = false, sawData = false, dataEnded = false;
    for (std::size_t offset = 8;;) {
        if (data.size() - offset < 12) return false; // ends before its end chunk
        const std::uint8_t* chunk = data.data() + offset;
        std::uint32_t length = bigEndian32(chunk);
        if (length > 0x7fffffff || data.size() - offset - 12 < length) return false;
        const std::uint8_t* type = chunk + 4;
        for (int i = 0; i < 4; ++i) {
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z'))) return false;
        }
        bool critical = (type[0] & 0x20) == 0;
        if (critical && crc32(crc32(0, nullptr, 0), type, length + 4) != bigEndian32(type + 4 + length)) return false;
        bool isData = chunkIs(type, "IDAT");
        if (sawData && !isData) dataEnded = true;
        if (isData) {
            if (dataEnded || (colorType == PNG_COLOR_TYPE_PALETTE && !palette)) return false;
            sawData = true;
        } else if (chunkIs(type, "IHDR")) {
            if (offset != 8) return false;
        } else if (chunkIs(type, "PLTE")) {
            // A second palette is an error; one after the data, or in a grey image, is ignored.
            if (palette) return false;
            palette = true;
            if (colorType == PNG_COLOR_TYPE_PALETTE && (length == 0 || length % 3 != 0 || length > 3 * 256)) return false;
        } else if (chunkIs(type, "IEND")) {
            return sawData;
        } else if (critical) {
            return false; // a critical chunk no decoder here knows
        }
        offset += std::size_t{length} + 12;
    }
}

void raiseError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void ignoreWarning(png_structp, png_const_charp) {}

struct Reader {
    Data data;
    std::size_t offset = 0;
};

void readBytes(png_structp png, png_bytep out, std::size_t length) {
    auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
    if (length > reader->data.size() - reader->offset) png_error(png, "truncated");
    std::memcpy(out, reader->data.data() + reader->offset, length);
    reader->offset += length;
}

struct Layout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int channels = 0;
    int bitDepth = 0;
    std::size_t rowBytes = 0;
};

// Reads up to the image data and sets the transformations to 8- or 16-bit grey or RGB,
// with alpha when the file has any transparency.
bool readLayout(png_structp png, png_infop info, Layout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if constexpr (std::endian::native == std::endian::little) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = png_get_image_width(png, info);
    layout->height = png_get_image_height(png, info);
    layout->channels = png_get_channels(png, info);
    layout->bitDepth = png_get_bit_depth(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool readRows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

// libpng reading from memory; `png` is null when it cannot be set up.
struct Reading {
    explicit Reading(Data data) : reader{data} {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, raiseError, ignoreWarning);
        if (png) info = png_create_info_struct(png);
        if (!info) {
            png_destroy_read_struct(&png, nullptr, nullptr);
            return;
        }
        png_set_read_fn(png, &reader, readBytes);
    }
    ~Reading() { png_destroy_read_struct(&png, &info, nullptr); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    Reader reader;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

// The orientation of an eXIf chunk met before the image data.
std::uint16_t readOrientation(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return 1;
    png_read_info(png, info);
    png_uint_32 size = 0;
    png_bytep exif = nullptr;
    if (!png_get_eXIf_1(png, info, &size, &exif) || !exif) return 1;
    return exifOrientation(Data(exif, size));
}

} // namespace

bool hasSignature(Data data) {
    return data.size() >= sizeof signature && std::equal(std::begin(signature), std::end(signature), data.begin());
}

std::size_t count(Data data) {
    if (!readHeader(data)) return 0;
    return animationFrames(data).value_or(1);
}

std::optional<ImageProperties> properties(Data data) {
    auto header = readHeader(data);
    if (!header) return std::nullopt;
    return ImageProperties{
        {std::string(ImagePropertyPixelWidth), std::int64_t{header->width}},
        {std::string(ImagePropertyPixelHeight), std::int64_t{header->height}},
        {std::string(ImagePropertyDepth), std::int64_t{header->bitDepth}},
    };
}

std::shared_ptr<const Image> decode(Data data) {
    if (!readHeader(data) || !wellFormed(data, data[8 + 8 + 9])) return nullptr;
    Layout layout;
    {
        Reading reading(data);
        if (!reading.png || !readLayout(reading.png, reading.info, &layout)) return nullptr;
    }
    if (layout.channels < 1 || layout.channels > 4 || (layout.bitDepth != 8 && layout.bitDepth != 16) ||
        layout.rowBytes == 0 || layout.height > std::numeric_limits<std::size_t>::max() / layout.rowBytes) {
        return nullptr;
    }
    auto image = std::make_shared<Image>();
    image->width = layout.width;
    image->height = layout.height;
    image->bitsPerComponent = layout.bitDepth;
    image->components = layout.channels;
    image->hasAlpha = layout.channels == 2 || layout.channels == 4;
    image->bytesPerRow = layout.rowBytes;
    // The image may outlive the bytes it came from: the decoder keeps its own copy.
    auto file = std::make_shared<const Bytes>(data.begin(), data.end());
    image->pixels = Pixels::decodedOnFirstRead([file, layout]() -> std::optional<Bytes> {
        Reading reading(*file);
        Layout read;
        if (!reading.png || !readLayout(reading.png, reading.info, &read) || read.rowBytes != layout.rowBytes ||
            read.height != layout.height) {
            return std::nullopt;
        }
        Bytes pixels(layout.rowBytes * layout.height);
        std::vector<png_bytep> rows(layout.height);
        for (std::size_t y = 0; y < layout.height; ++y) rows[y] = pixels.data() + y * layout.rowBytes;
        if (!readRows(reading.png, rows.data())) return std::nullopt;
        return pixels;
    });
    return image;
}

std::uint16_t orientation(Data data) {
    if (!readHeader(data) || !wellFormed(data, data[8 + 8 + 9])) return 1;
    Reading reading(data);
    if (!reading.png) return 1;
    return readOrientation(reading.png, reading.info);
}

} // namespace tarpelix::platform::codecs::png
