// Small upright copies of decoded images, and the EXIF orientation they are turned by.
#include "platform/imageio/ImageCodecs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace tarpelix::platform::codecs {

namespace {

// Where one source row or column lands when `from` pixels are averaged into `to` (to <= from):
// its area falls in output pixel `first` and possibly the next. Both weights are fractions of
// an output pixel's area, so the weights of one output pixel sum to 1.
struct Span {
    std::size_t first;
    double weightFirst;
    double weightNext;
};

std::vector<Span> spans(std::size_t from, std::size_t to) {
    // In units of 1/(from × to): source pixel i covers [i·to, (i+1)·to), output pixel o
    // covers [o·from, (o+1)·from). Exact in integers.
    std::vector<Span> result(from);
    const auto denominator = static_cast<double>(from);
    for (std::size_t i = 0; i < from; ++i) {
        std::uint64_t start = std::uint64_t{i} * to, end = start + to;
        std::size_t first = static_cast<std::size_t>(start / from);
        std::uint64_t inFirst = std::min<std::uint64_t>(end, std::uint64_t{first + 1} * from) - start;
        result[i] = Span{first, static_cast<double>(inFirst) / denominator,
                         static_cast<double>(to - inFirst) / denominator};
    }
    return result;
}

// One row of the source as premultiplied R, G, B and alpha, each 0 to 255.
void readRow(const Image& image, const std::uint8_t* row, std::vector<double>& out) {
    const auto components = static_cast<std::size_t>(image.components);
    const bool wide = image.bitsPerComponent == 16;
    auto sample = [&](std::size_t x, std::size_t c) -> double {
        if (!wide) return row[x * components + c];
        std::uint16_t value;
        std::memcpy(&value, row + (x * components + c) * 2, 2);
        return value / 257.0;
    };
    const bool colour = components >= 3;
    for (std::size_t x = 0; x < image.width; ++x) {
        double alpha = image.hasAlpha ? sample(x, components - 1) : 255.0;
        double scale = alpha / 255.0;
        double* pixel = out.data() + x * 4;
        for (std::size_t c = 0; c < 3; ++c) pixel[c] = sample(x, colour ? c : 0) * scale;
        pixel[3] = alpha;
    }
}

std::uint8_t toByte(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

// Display position (x, y) of an upright image `width` × `height` to the position it is read
// from in the stored image, for each EXIF orientation.
struct Source {
    std::size_t x, y;
};

Source storedPosition(std::uint16_t orientation, std::size_t x, std::size_t y, std::size_t width, std::size_t height) {
    switch (orientation) {
    case 2: return {width - 1 - x, y};              // mirrored left to right
    case 3: return {width - 1 - x, height - 1 - y}; // turned half round
    case 4: return {x, height - 1 - y};             // mirrored top to bottom
    case 5: return {y, x};                          // first row on the left, first column on top
    case 6: return {y, width - 1 - x};              // first row on the right, first column on top
    case 7: return {height - 1 - y, width - 1 - x}; // first row on the right, first column at the bottom
    case 8: return {height - 1 - y, x};             // first row on the left, first column at the bottom
    default: return {x, y};
    }
}

} // namespace

std::uint16_t exifOrientation(Data exif) {
    if (exif.size() < 8) return 1;
    const bool little = exif[0] == 'I' && exif[1] == 'I';
    if (!little && !(exif[0] == 'M' && exif[1] == 'M')) return 1;
    auto u16 = [&](std::size_t at) -> std::uint16_t {
        return little ? static_cast<std::uint16_t>(exif[at] | exif[at + 1] << 8)
                      : static_cast<std::uint16_t>(exif[at] << 8 | exif[at + 1]);
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? std::uint32_t{u16(at)} | std::uint32_t{u16(at + 2)} << 16
                      : std::uint32_t{u16(at)} << 16 | u16(at + 2);
    };
    if (u16(2) != 42) return 1;
    std::size_t directory = u32(4);
    if (directory > exif.size() - 2) return 1;
    std::size_t entries = u16(directory);
    constexpr std::uint16_t orientationTag = 0x0112, shortType = 3;
    for (std::size_t i = 0; i < entries; ++i) {
        std::size_t entry = directory + 2 + i * 12;
        if (entry > exif.size() - 12) break;
        if (u16(entry) != orientationTag) continue;
        if (u16(entry + 2) != shortType || u32(entry + 4) != 1) return 1;
        std::uint16_t value = u16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

std::shared_ptr<const Image> thumbnail(const Image& image, const Bytes& pixels, std::uint16_t orientation,
                                       std::size_t maxPixelSize) {
    if (image.width == 0 || image.height == 0 || maxPixelSize == 0 || image.components < 1 || image.components > 4 ||
        (image.bitsPerComponent != 8 && image.bitsPerComponent != 16)) {
        return nullptr;
    }
    // The stored image scaled so that its longer side, upright or not, is at most maxPixelSize.
    const std::size_t longest = std::max(image.width, image.height);
    auto scaled = [&](std::size_t side) -> std::size_t {
        if (longest <= maxPixelSize) return side;
        return std::max<std::size_t>(1, static_cast<std::size_t>((std::uint64_t{side} * maxPixelSize + longest / 2) / longest));
    };
    const std::size_t width = scaled(image.width), height = scaled(image.height);
    const bool turned = orientation >= 5 && orientation <= 8;
    const std::size_t uprightWidth = turned ? height : width, uprightHeight = turned ? width : height;

    try {
        // Area averaging in premultiplied samples, row by row: each source row adds into the
        // one or two output rows it overlaps; an output row is finished once no later source
        // row reaches it.
        const auto columns = spans(image.width, width), rows = spans(image.height, height);
        std::vector<double> source(image.width * 4), reduced(width * 4);
        std::vector<double> current(width * 4, 0.0), next(width * 4, 0.0);
        Bytes small(width * height * 4);
        std::size_t currentRow = 0;
        auto finishRow = [&] {
            std::uint8_t* out = small.data() + currentRow * width * 4;
            for (std::size_t x = 0; x < width; ++x) {
                const double* pixel = current.data() + x * 4;
                double alpha = pixel[3];
                for (std::size_t c = 0; c < 3; ++c) out[x * 4 + c] = alpha > 0 ? toByte(pixel[c] * 255.0 / alpha) : 0;
                out[x * 4 + 3] = toByte(alpha);
            }
            current.swap(next);
            std::fill(next.begin(), next.end(), 0.0);
            ++currentRow;
        };
        for (std::size_t y = 0; y < image.height; ++y) {
            const Span& row = rows[y];
            while (currentRow < row.first) finishRow();
            readRow(image, pixels.data() + y * image.bytesPerRow, source);
            std::fill(reduced.begin(), reduced.end(), 0.0);
            for (std::size_t x = 0; x < image.width; ++x) {
                const Span& column = columns[x];
                for (std::size_t c = 0; c < 4; ++c) {
                    double value = source[x * 4 + c];
                    reduced[column.first * 4 + c] += value * column.weightFirst;
                    if (column.weightNext > 0) reduced[(column.first + 1) * 4 + c] += value * column.weightNext;
                }
            }
            for (std::size_t i = 0; i < reduced.size(); ++i) {
                current[i] += reduced[i] * row.weightFirst;
                if (row.weightNext > 0) next[i] += reduced[i] * row.weightNext;
            }
        }
        while (currentRow < height) finishRow();

        Bytes upright(small.size());
        for (std::size_t y = 0; y < uprightHeight; ++y) {
            for (std::size_t x = 0; x < uprightWidth; ++x) {
                Source from = storedPosition(orientation, x, y, uprightWidth, uprightHeight);
                std::memcpy(upright.data() + (y * uprightWidth + x) * 4, small.data() + (from.y * width + from.x) * 4, 4);
            }
        }
        auto result = std::make_shared<Image>();
        result->width = uprightWidth;
        result->height = uprightHeight;
        result->bitsPerComponent = 8;
        result->components = 4;
        result->hasAlpha = true;
        result->bytesPerRow = uprightWidth * 4;
        result->pixels = std::move(upright);
        return result;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace tarpelix::platform::codecs
