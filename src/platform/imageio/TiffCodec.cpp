// TIFF reading on libtiff, from memory through client procedures. libtiff's messages are
// taken by handlers of the open handle, so nothing is printed.
#include "platform/imageio/ImageCodecs.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>

namespace tarpelix::platform::codecs::tiff {

namespace {

// The largest single allocation libtiff may make for one file; well above what a strip of
// an image within the processing limit needs.
constexpr tmsize_t maxSingleAllocation = 256 * 1024 * 1024;

struct Memory {
    Data data;
    std::uint64_t offset = 0;
};

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* memory = static_cast<Memory*>(handle);
    if (size <= 0 || memory->offset >= memory->data.size()) return 0;
    auto count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), memory->data.size() - memory->offset);
    std::memcpy(buffer, memory->data.data() + memory->offset, count);
    memory->offset += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto* memory = static_cast<Memory*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = memory->offset;
    else if (whence == SEEK_END) base = memory->data.size();
    else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
    if (offset > std::numeric_limits<std::uint64_t>::max() / 2 - base) return static_cast<toff_t>(-1);
    memory->offset = base + offset;
    return memory->offset;
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t handle) { return static_cast<Memory*>(handle)->data.size(); }

int mapProc(thandle_t handle, void** base, toff_t* size) {
    auto* memory = static_cast<Memory*>(handle);
    *base = const_cast<std::uint8_t*>(memory->data.data()); // read-only use: opened for reading
    *size = memory->data.size();
    return 1;
}

void unmapProc(thandle_t, void*, toff_t) {}

int swallowMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct File {
    Memory memory;
    TIFF* tiff = nullptr;
    ~File() {
        if (tiff) TIFFClose(tiff);
    }
};

std::unique_ptr<File> open(Data data) {
    auto file = std::make_unique<File>();
    file->memory.data = data;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, swallowMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, swallowMessage, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxSingleAllocation);
    file->tiff = TIFFClientOpenExt("clipboard", "r", &file->memory, readProc, writeProc, seekProc, closeProc,
                                   sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!file->tiff) return nullptr;
    return file;
}

std::unique_ptr<File> openAt(Data data, std::size_t index) {
    auto file = open(data);
    if (!file || index > std::numeric_limits<tdir_t>::max() ||
        !TIFFSetDirectory(file->tiff, static_cast<tdir_t>(index))) {
        return nullptr;
    }
    return file;
}

template <typename T>
T fieldDefaulted(TIFF* tiff, ttag_t tag) {
    T value{};
    TIFFGetFieldDefaulted(tiff, tag, &value);
    return value;
}

// Straight 8- or 16-bit grey or RGB, with or without alpha, in strips: copied as they are.
// None when the image has another layout; a null image when it does not decode.
std::optional<std::shared_ptr<Image>> decodeDirect(TIFF* tiff, std::uint32_t width, std::uint32_t height) {
    std::uint16_t photometric = 0;
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) || TIFFIsTiled(tiff)) return std::nullopt;
    auto samples = fieldDefaulted<std::uint16_t>(tiff, TIFFTAG_SAMPLESPERPIXEL);
    auto bits = fieldDefaulted<std::uint16_t>(tiff, TIFFTAG_BITSPERSAMPLE);
    auto planar = fieldDefaulted<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG);
    auto format = fieldDefaulted<std::uint16_t>(tiff, TIFFTAG_SAMPLEFORMAT);
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);

    int colors = photometric == PHOTOMETRIC_MINISBLACK ? 1 : photometric == PHOTOMETRIC_RGB ? 3 : 0;
    if (colors == 0 || planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT || (bits != 8 && bits != 16) ||
        (samples != colors && samples != colors + 1)) {
        return std::nullopt;
    }
    bool alpha = samples == colors + 1;
    // An undeclared extra sample is taken as premultiplied alpha, as libtiff does.
    bool premultiplied = alpha && (extraCount == 0 || extraTypes[0] == EXTRASAMPLE_ASSOCALPHA);
    if (alpha && extraCount > 0 && extraTypes[0] != EXTRASAMPLE_ASSOCALPHA && extraTypes[0] != EXTRASAMPLE_UNASSALPHA) {
        return std::nullopt;
    }

    std::size_t rowBytes = std::size_t{width} * samples * (bits / 8);
    if (static_cast<std::uint64_t>(TIFFScanlineSize64(tiff)) != rowBytes ||
        height > std::numeric_limits<std::size_t>::max() / rowBytes) {
        return nullptr;
    }
    Bytes pixels;
    try {
        pixels.resize(rowBytes * height);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    auto rowsPerStrip = std::min(fieldDefaulted<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP), height);
    if (rowsPerStrip == 0) return nullptr;
    std::uint32_t row = 0;
    for (std::uint32_t strip = 0; row < height; ++strip, row += rowsPerStrip) {
        if (strip >= TIFFNumberOfStrips(tiff)) return nullptr;
        std::size_t size = std::size_t{std::min(rowsPerStrip, height - row)} * rowBytes;
        tmsize_t read = TIFFReadEncodedStrip(tiff, strip, pixels.data() + std::size_t{row} * rowBytes,
                                             static_cast<tmsize_t>(size));
        if (read < 0 || static_cast<std::size_t>(read) != size) return nullptr;
    }
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->bitsPerComponent = bits;
    image->components = samples;
    image->hasAlpha = alpha;
    image->bytesPerRow = rowBytes;
    if (premultiplied) unpremultiply(*image, pixels);
    image->pixels = std::move(pixels);
    return image;
}

// Every other layout libtiff understands (palette, bilevel, CMYK, YCbCr, tiles, planes,
// other depths), through its RGBA reader: 8-bit RGB, or RGBA when the image has alpha.
std::shared_ptr<Image> decodeRGBA(TIFF* tiff, std::uint32_t width, std::uint32_t height) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tiff, message)) return nullptr;
    if (height > std::numeric_limits<std::size_t>::max() / 4 / width) return nullptr;
    Bytes pixels;
    try {
        pixels.resize(std::size_t{width} * height * 4);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    TIFFRGBAImage reader{};
    if (!TIFFRGBAImageBegin(&reader, tiff, 1, message)) return nullptr;
    // Rows come out in the order the file stores them, as decodeDirect gives them; the
    // orientation is applied only where an image is displayed.
    reader.req_orientation = reader.orientation;
    // The vector's storage comes from operator new, aligned for any fundamental type.
    auto* raster = reinterpret_cast<std::uint32_t*>(pixels.data());
    int decoded = TIFFRGBAImageGet(&reader, raster, width, height);
    bool alpha = reader.alpha != 0;
    TIFFRGBAImageEnd(&reader);
    if (!decoded) return nullptr;

    // Packed ABGR words (premultiplied when there is alpha) to bytes in R, G, B(, A) order.
    std::uint8_t* out = pixels.data();
    std::size_t count = std::size_t{width} * height;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t word;
        std::memcpy(&word, pixels.data() + i * 4, 4);
        *out++ = static_cast<std::uint8_t>(TIFFGetR(word));
        *out++ = static_cast<std::uint8_t>(TIFFGetG(word));
        *out++ = static_cast<std::uint8_t>(TIFFGetB(word));
        if (alpha) *out++ = static_cast<std::uint8_t>(TIFFGetA(word));
    }
    pixels.resize(static_cast<std::size_t>(out - pixels.data()));
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->bitsPerComponent = 8;
    image->components = alpha ? 4 : 3;
    image->hasAlpha = alpha;
    image->bytesPerRow = std::size_t{width} * image->components;
    if (alpha) unpremultiply(*image, pixels);
    image->pixels = std::move(pixels);
    return image;
}

} // namespace

bool hasSignature(Data data) {
    static constexpr std::uint8_t little[] = {'I', 'I', 42, 0}, big[] = {'M', 'M', 0, 42};
    static constexpr std::uint8_t bigLittle[] = {'I', 'I', 43, 0}, bigBig[] = {'M', 'M', 0, 43};
    if (data.size() < 4) return false;
    return std::ranges::any_of(std::initializer_list<const std::uint8_t*>{little, big, bigLittle, bigBig},
                               [&](const std::uint8_t* magic) { return std::memcmp(data.data(), magic, 4) == 0; });
}

std::size_t count(Data data) {
    auto file = open(data);
    return file ? TIFFNumberOfDirectories(file->tiff) : 0;
}

std::optional<ImageProperties> properties(Data data, std::size_t index) {
    auto file = openAt(data, index);
    if (!file) return std::nullopt;
    ImageProperties properties;
    std::uint32_t width = 0, height = 0;
    if (TIFFGetField(file->tiff, TIFFTAG_IMAGEWIDTH, &width)) {
        properties.emplace(ImagePropertyPixelWidth, std::int64_t{width});
    }
    if (TIFFGetField(file->tiff, TIFFTAG_IMAGELENGTH, &height)) {
        properties.emplace(ImagePropertyPixelHeight, std::int64_t{height});
    }
    properties.emplace(ImagePropertyDepth, std::int64_t{fieldDefaulted<std::uint16_t>(file->tiff, TIFFTAG_BITSPERSAMPLE)});
    return properties;
}

std::shared_ptr<const Image> decode(Data data, std::size_t index) {
    auto file = openAt(data, index);
    if (!file) return nullptr;
    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(file->tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(file->tiff, TIFFTAG_IMAGELENGTH, &height) ||
        width == 0 || height == 0) {
        return nullptr;
    }
    // libtiff holds one strip or tile while decoding; one far larger than the whole image
    // can only come from a damaged directory.
    std::uint64_t unit = TIFFIsTiled(file->tiff) ? TIFFTileSize64(file->tiff) : TIFFStripSize64(file->tiff);
    double imageBytes = double(width) * height * 8 * fieldDefaulted<std::uint16_t>(file->tiff, TIFFTAG_SAMPLESPERPIXEL);
    if (unit == 0 || double(unit) > imageBytes + (1u << 20)) return nullptr;
    if (auto image = decodeDirect(file->tiff, width, height)) return *image;
    return decodeRGBA(file->tiff, width, height);
}

std::uint16_t orientation(Data data, std::size_t index) {
    auto file = openAt(data, index);
    if (!file) return 1;
    auto value = fieldDefaulted<std::uint16_t>(file->tiff, TIFFTAG_ORIENTATION);
    return value >= 1 && value <= 8 ? value : 1;
}

} // namespace tarpelix::platform::codecs::tiff
