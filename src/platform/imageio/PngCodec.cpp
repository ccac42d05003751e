// PNG reading and writing on libpng. libpng reports errors by longjmp, so every function
// that sets a jump point below holds only trivially destructible locals, and the callbacks
// that may raise an error hold none when they do.
#include "platform/imageio/ImageCodecs.h"

#include <png.h>

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

struct ReadGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadGuard() { png_destroy_read_struct(&png, &info, nullptr); }
};

using Writer = std::function<std::size_t(const std::uint8_t*, std::size_t)>;

std::size_t offer(const Writer& write, const std::uint8_t* bytes, std::size_t count) noexcept {
    try {
        return write(bytes, count);
    } catch (...) {
        return 0;
    }
}

void writeBytes(png_structp png, png_bytep bytes, std::size_t length) {
    if (offer(*static_cast<const Writer*>(png_get_io_ptr(png)), bytes, length) != length) {
        png_error(png, "output refused");
    }
}

void flushNothing(png_structp) {}

bool writeImage(png_structp png, png_infop info, const Image* image, int colorType) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height),
                 image->bitsPerComponent, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (image->bitsPerComponent == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    const std::uint8_t* row = image->pixels.data();
    for (std::size_t y = 0; y < image->height; ++y, row += image->bytesPerRow) {
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

struct WriteGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteGuard() { png_destroy_write_struct(&png, &info); }
};

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
    if (!readHeader(data)) return nullptr;
    ReadGuard guard;
    guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, raiseError, ignoreWarning);
    if (!guard.png) return nullptr;
    guard.info = png_create_info_struct(guard.png);
    if (!guard.info) return nullptr;
    Reader reader{data};
    png_set_read_fn(guard.png, &reader, readBytes);

    Layout layout;
    if (!readLayout(guard.png, guard.info, &layout)) return nullptr;
    if (layout.channels < 1 || layout.channels > 4 || (layout.bitDepth != 8 && layout.bitDepth != 16) ||
        layout.rowBytes == 0 || layout.height > std::numeric_limits<std::size_t>::max() / layout.rowBytes) {
        return nullptr;
    }
    auto image = std::make_shared<Image>();
    std::vector<png_bytep> rows;
    try {
        image->pixels.resize(layout.rowBytes * layout.height);
        rows.resize(layout.height);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (std::size_t y = 0; y < layout.height; ++y) rows[y] = image->pixels.data() + y * layout.rowBytes;
    if (!readRows(guard.png, rows.data())) return nullptr;

    image->width = layout.width;
    image->height = layout.height;
    image->bitsPerComponent = layout.bitDepth;
    image->components = layout.channels;
    image->hasAlpha = layout.channels == 2 || layout.channels == 4;
    image->bytesPerRow = layout.rowBytes;
    return image;
}

bool encode(const Image& image, const Writer& write) {
    static constexpr int colorTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                         PNG_COLOR_TYPE_RGB_ALPHA};
    if (image.components < 1 || image.components > 4 || image.hasAlpha != (image.components % 2 == 0) ||
        (image.bitsPerComponent != 8 && image.bitsPerComponent != 16) || image.width == 0 || image.height == 0 ||
        image.width > 0x7fffffff || image.height > 0x7fffffff) {
        return false;
    }
    std::size_t packedRow = image.width * static_cast<std::size_t>(image.components * image.bitsPerComponent / 8);
    if (image.bytesPerRow < packedRow || image.pixels.size() / image.bytesPerRow < image.height) return false;

    WriteGuard guard;
    guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, raiseError, ignoreWarning);
    if (!guard.png) return false;
    guard.info = png_create_info_struct(guard.png);
    if (!guard.info) return false;
    png_set_write_fn(guard.png, const_cast<Writer*>(&write), writeBytes, flushNothing);
    return writeImage(guard.png, guard.info, &image, colorTypes[image.components - 1]);
}

} // namespace tarpelix::platform::codecs::png
