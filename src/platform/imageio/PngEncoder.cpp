// PNG writing of our own on zlib. Each row is filtered with the one of None, Sub, Up and
// Paeth whose bytes, read as signed, have the least sum of magnitudes (libpng's measure;
// Average rarely wins and is skipped). The filtered rows are compressed in pieces on several
// threads, as parallel gzip does: each piece is a raw deflate stream primed with the 32 KiB
// before it and ended by a sync flush (the last one by the final block), so the pieces join
// into one zlib stream whose checksum is combined from theirs.
#include "platform/imageio/ImageCodecs.h"

#include <sched.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace tarpelix::platform::codecs::png {

namespace {

constexpr std::size_t pieceBytes = std::size_t{1} << 20; // filtered bytes per piece, about
constexpr std::size_t window = 32768;                     // what deflate can refer back to
constexpr std::size_t blockBytes = std::size_t{1} << 16;  // compressed bytes per data chunk, at most
constexpr std::size_t sliceBytes = std::size_t{1} << 30;  // input per deflate call, at most
constexpr unsigned maxWorkers = 16;

void put32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

// A chunk of `length` data bytes at `chunk + 8`: fills in its length, type and CRC.
void sealChunk(std::uint8_t* chunk, const char* type, std::size_t length) {
    put32(chunk, static_cast<std::uint32_t>(length));
    std::memcpy(chunk + 4, type, 4);
    put32(chunk + 8 + length, static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), chunk + 4,
                                                               static_cast<uInt>(length + 4))));
}

unsigned processorsAvailable() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

bool opaque(const Image& image, const std::uint8_t* pixels) {
    const auto components = static_cast<std::size_t>(image.components);
    const std::size_t sampleBytes = static_cast<std::size_t>(image.bitsPerComponent / 8);
    const std::size_t pixelBytes = components * sampleBytes;
    const std::size_t alphaAt = (components - 1) * sampleBytes;
    for (std::size_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = pixels + y * image.bytesPerRow + alphaAt;
        unsigned all = 0xff;
        // Both bytes of a 16-bit alpha sample must be all ones.
        for (std::size_t x = 0; x < image.width; ++x) {
            const std::uint8_t* alpha = row + x * pixelBytes;
            all &= alpha[0] & alpha[sampleBytes - 1];
        }
        if (all != 0xff) return false;
    }
    return true;
}

// How rows of the image become rows of the file: samples big-endian, alpha left out when it
// is opaque everywhere.
struct Format {
    const Image* image;
    const std::uint8_t* pixels;
    std::size_t sampleBytes;
    std::size_t inComponents;
    std::size_t outComponents;
    std::size_t outPixelBytes;
    std::size_t outRowBytes;
    bool inPlace; // a row of the image already is a row of the file
};

// Row `y` in the file's form: the image's own row when it is, else written into `scratch`.
const std::uint8_t* fileRow(const Format& format, std::size_t y, std::uint8_t* scratch) {
    const std::uint8_t* in = format.pixels + y * format.image->bytesPerRow;
    if (format.inPlace) return in;
    const std::size_t width = format.image->width;
    if (format.sampleBytes == 1 && format.inComponents == 4 && format.outComponents == 3) {
        for (std::size_t x = 0; x < width; ++x) { // the common case: opaque RGBA
            scratch[x * 3] = in[x * 4];
            scratch[x * 3 + 1] = in[x * 4 + 1];
            scratch[x * 3 + 2] = in[x * 4 + 2];
        }
        return scratch;
    }
    if (format.sampleBytes == 1) {
        for (std::size_t x = 0; x < width; ++x) {
            for (std::size_t c = 0; c < format.outComponents; ++c) {
                scratch[x * format.outComponents + c] = in[x * format.inComponents + c];
            }
        }
        return scratch;
    }
    for (std::size_t x = 0; x < width; ++x) {
        for (std::size_t c = 0; c < format.outComponents; ++c) {
            std::uint16_t sample;
            std::memcpy(&sample, in + (x * format.inComponents + c) * 2, 2);
            std::uint8_t* out = scratch + (x * format.outComponents + c) * 2;
            out[0] = static_cast<std::uint8_t>(sample >> 8);
            out[1] = static_cast<std::uint8_t>(sample);
        }
    }
    return scratch;
}

// The magnitude of a filtered byte read as signed (128 counts as 128).
std::uint8_t magnitude(std::uint8_t value) {
    auto sample = static_cast<std::int8_t>(value);
    return static_cast<std::uint8_t>(sample < 0 ? -sample : sample);
}

// Writes the filter type and the filtered bytes of `row` (above it `previous`, all zeros for
// the first row) to `out`, none of them overlapping. The arithmetic stays in 16 bits so
// that the loops vectorise.
void filterRow(const std::uint8_t* __restrict row, const std::uint8_t* __restrict previous, std::size_t length,
               std::size_t pixelBytes, std::uint8_t* __restrict out, std::uint8_t* __restrict sub,
               std::uint8_t* __restrict up, std::uint8_t* __restrict paeth) {
    for (std::size_t i = 0; i < pixelBytes; ++i) {
        sub[i] = row[i];
        up[i] = static_cast<std::uint8_t>(row[i] - previous[i]);
        paeth[i] = up[i]; // with nothing to the left, Paeth predicts the byte above
    }
    for (std::size_t i = pixelBytes; i < length; ++i) {
        std::int16_t a = row[i - pixelBytes], b = previous[i], c = previous[i - pixelBytes];
        auto p = static_cast<std::int16_t>(b - c), q = static_cast<std::int16_t>(a - c),
             r = static_cast<std::int16_t>(p + q);
        auto pa = static_cast<std::int16_t>(p < 0 ? -p : p), pb = static_cast<std::int16_t>(q < 0 ? -q : q),
             pc = static_cast<std::int16_t>(r < 0 ? -r : r);
        std::int16_t predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        sub[i] = static_cast<std::uint8_t>(row[i] - a);
        up[i] = static_cast<std::uint8_t>(row[i] - b);
        paeth[i] = static_cast<std::uint8_t>(row[i] - predicted);
    }
    // Sums of rows longer than 16 MiB may wrap; they then only choose less well.
    std::uint32_t none = 0, subCost = 0, upCost = 0, paethCost = 0;
    for (std::size_t i = 0; i < length; ++i) {
        none += magnitude(row[i]);
        subCost += magnitude(sub[i]);
        upCost += magnitude(up[i]);
        paethCost += magnitude(paeth[i]);
    }
    std::uint8_t type = 0;
    const std::uint8_t* chosen = row;
    std::uint32_t best = none;
    if (subCost < best) best = subCost, type = 1, chosen = sub;
    if (upCost < best) best = upCost, type = 2, chosen = up;
    if (paethCost < best) type = 4, chosen = paeth;
    out[0] = type;
    std::memcpy(out + 1, chosen, length);
}

struct Piece {
    std::size_t firstRow = 0;
    std::size_t endRow = 0;
    // Whole data chunks, ready to write.
    std::vector<Bytes> chunks;
    std::size_t heldBytes = 0;
    uLong adler = 1;
    std::size_t length = 0;
    bool done = false;
};

// What one thread needs to compress pieces.
class Compressor {
public:
    explicit Compressor(const Format& format)
        : format_(format), zeros_(format.outRowBytes, 0), rows_{Bytes(format.outRowBytes), Bytes(format.outRowBytes)},
          sub_(format.outRowBytes), up_(format.outRowBytes), paeth_(format.outRowBytes), block_(8 + blockBytes + 4) {}

    // Filters and compresses the piece's rows, handing each data chunk to `emit` (false
    // stops). False on a refusal or a failure of zlib.
    template <typename Emit>
    bool compress(Piece& piece, bool last, Emit&& emit) {
        const std::size_t stride = format_.outRowBytes + 1;
        std::size_t primingRows = std::min(piece.firstRow, (window + stride - 1) / stride);
        std::size_t from = piece.firstRow - primingRows;
        filtered_.resize((piece.endRow - from) * stride);
        // The row above stays in one scratch row while the next is written into the other.
        const std::uint8_t* previous = from == 0 ? zeros_.data() : fileRow(format_, from - 1, rows_[1].data());
        std::size_t spare = 0;
        for (std::size_t y = from; y < piece.endRow; ++y, spare ^= 1) {
            const std::uint8_t* row = fileRow(format_, y, rows_[spare].data());
            filterRow(row, previous, format_.outRowBytes, format_.outPixelBytes, filtered_.data() + (y - from) * stride,
                      sub_.data(), up_.data(), paeth_.data());
            previous = row;
        }
        const std::uint8_t* input = filtered_.data() + primingRows * stride;
        piece.length = (piece.endRow - piece.firstRow) * stride;
        piece.adler = 1;
        for (std::size_t at = 0; at < piece.length; at += sliceBytes) {
            piece.adler = adler32(piece.adler, input + at, static_cast<uInt>(std::min(sliceBytes, piece.length - at)));
        }

        z_stream stream{};
        if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
        struct End {
            z_stream* stream;
            ~End() { deflateEnd(stream); }
        } end{&stream};
        std::size_t dictionary = std::min(window, primingRows * stride);
        if (dictionary > 0 &&
            deflateSetDictionary(&stream, input - dictionary, static_cast<uInt>(dictionary)) != Z_OK) {
            return false;
        }
        const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
        std::size_t remaining = piece.length;
        for (;;) {
            if (stream.avail_in == 0 && remaining > 0) {
                std::size_t slice = std::min(remaining, sliceBytes);
                stream.next_in = const_cast<std::uint8_t*>(input + (piece.length - remaining));
                stream.avail_in = static_cast<uInt>(slice);
                remaining -= slice;
            }
            int mode = remaining > 0 ? Z_NO_FLUSH : flush;
            stream.next_out = block_.data() + 8;
            stream.avail_out = static_cast<uInt>(blockBytes);
            int result = deflate(&stream, mode);
            std::size_t produced = blockBytes - stream.avail_out;
            if (result == Z_STREAM_ERROR || (result == Z_BUF_ERROR && produced == 0 && mode == Z_FINISH)) return false;
            if (produced > 0) {
                sealChunk(block_.data(), "IDAT", produced);
                if (!emit(block_.data(), produced + 12)) return false;
            }
            if (mode == Z_FINISH ? result == Z_STREAM_END : mode != Z_NO_FLUSH && stream.avail_out != 0) return true;
        }
    }

private:
    const Format& format_;
    Bytes zeros_;
    Bytes rows_[2];
    Bytes sub_, up_, paeth_;
    Bytes filtered_;
    Bytes block_;
};

// The pieces, compressed by worker threads and written in order by the calling thread.
// Output waiting to be written counts against the capacity with what was written; a
// piece that would pass it stops every worker, and the rest is then compressed here and
// streamed to the writer, which refuses it before the end.
class ParallelDeflate {
public:
    ParallelDeflate(const Format& format, std::vector<Piece>& pieces, const Writer& write, std::size_t capacity,
                    std::size_t written)
        : format_(format), pieces_(pieces), write_(write), capacity_(capacity), written_(written) {}

    bool run(unsigned workers, uLong& adler) {
        std::size_t next = 0;
        {
            std::vector<std::jthread> threads;
            struct Stop {
                ParallelDeflate* self;
                ~Stop() { self->halt(false); } // before the threads are joined, whatever happens here
            } stop{this};
            for (unsigned i = 0; i < workers; ++i) {
                try {
                    threads.emplace_back([this] { work(); });
                } catch (const std::system_error&) {
                    break; // fewer threads; this one finishes what they leave
                }
            }
            if (threads.empty()) return false;
            for (; next < pieces_.size(); ++next) {
                std::vector<Bytes> chunks;
                {
                    std::unique_lock lock(mutex_);
                    ready_.wait(lock, [&] { return pieces_[next].done || stopped_; });
                    if (!pieces_[next].done) break;
                    chunks = std::move(pieces_[next].chunks);
                }
                for (const auto& chunk : chunks) {
                    if (write_(chunk.data(), chunk.size()) != chunk.size()) return false;
                }
                std::lock_guard lock(mutex_);
                held_ -= pieces_[next].heldBytes;
                written_ += pieces_[next].heldBytes;
                adler = adler32_combine(adler, pieces_[next].adler, static_cast<z_off_t>(pieces_[next].length));
            }
        }
        if (next == pieces_.size()) return true;
        if (!overflow_) return false;
        Compressor compressor(format_);
        for (; next < pieces_.size(); ++next) {
            auto& piece = pieces_[next];
            if (piece.done) {
                for (const auto& chunk : piece.chunks) {
                    if (write_(chunk.data(), chunk.size()) != chunk.size()) return false;
                }
                piece.chunks.clear();
            } else if (!compressor.compress(piece, next + 1 == pieces_.size(),
                                            [&](const std::uint8_t* bytes, std::size_t count) {
                                                return write_(bytes, count) == count;
                                            })) {
                return false;
            }
            adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.length));
        }
        return true;
    }

private:
    void halt(bool overflow) {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        overflow_ = overflow_ || overflow;
        ready_.notify_all();
    }

    void work() {
        try {
            Compressor compressor(format_);
            for (;;) {
                std::size_t index = taken_.fetch_add(1);
                if (index >= pieces_.size()) return;
                auto& piece = pieces_[index];
                {
                    std::lock_guard lock(mutex_);
                    if (stopped_) return;
                }
                bool compressed = compressor.compress(piece, index + 1 == pieces_.size(),
                                                      [&](const std::uint8_t* bytes, std::size_t count) {
                                                          return hold(piece, bytes, count);
                                                      });
                std::lock_guard lock(mutex_);
                if (!compressed) {
                    stopped_ = true;
                    ready_.notify_all();
                    return;
                }
                piece.done = true;
                ready_.notify_all();
            }
        } catch (...) {
            halt(false); // out of memory
        }
    }

    bool hold(Piece& piece, const std::uint8_t* bytes, std::size_t count) {
        std::lock_guard lock(mutex_);
        if (stopped_) return false;
        if (count > capacity_ - std::min(capacity_, written_ + held_)) {
            stopped_ = true;
            overflow_ = true;
            ready_.notify_all();
            return false;
        }
        piece.chunks.emplace_back(bytes, bytes + count);
        piece.heldBytes += count;
        held_ += count;
        return true;
    }

    const Format& format_;
    std::vector<Piece>& pieces_;
    const Writer& write_;
    const std::size_t capacity_;
    std::atomic<std::size_t> taken_{0};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::size_t written_;
    std::size_t held_ = 0;
    bool stopped_ = false;
    bool overflow_ = false;
};

} // namespace

bool encode(const Image& image, const Writer& write, std::size_t capacity) {
    static constexpr std::uint8_t colorTypes[] = {0, 4, 2, 6}; // grey, grey and alpha, RGB, RGBA
    if (image.components < 1 || image.components > 4 || image.hasAlpha != (image.components % 2 == 0) ||
        (image.bitsPerComponent != 8 && image.bitsPerComponent != 16) || image.width == 0 || image.height == 0 ||
        image.width > 0x7fffffff || image.height > 0x7fffffff) {
        return false;
    }
    const Bytes* pixels = image.pixels.get();
    std::size_t packedRow = image.width * static_cast<std::size_t>(image.components * image.bitsPerComponent / 8);
    if (!pixels || image.bytesPerRow < packedRow || pixels->size() / image.bytesPerRow < image.height) return false;

    try {
        Format format{};
        format.image = &image;
        format.pixels = pixels->data();
        format.sampleBytes = static_cast<std::size_t>(image.bitsPerComponent / 8);
        format.inComponents = static_cast<std::size_t>(image.components);
        bool dropAlpha = image.hasAlpha && opaque(image, pixels->data());
        format.outComponents = format.inComponents - (dropAlpha ? 1 : 0);
        format.outPixelBytes = format.outComponents * format.sampleBytes;
        format.outRowBytes = format.outPixelBytes * image.width;
        format.inPlace = !dropAlpha && (format.sampleBytes == 1 || std::endian::native == std::endian::big);

        std::uint8_t head[8 + 25] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        std::uint8_t* header = head + 8 + 8;
        put32(header, static_cast<std::uint32_t>(image.width));
        put32(header + 4, static_cast<std::uint32_t>(image.height));
        header[8] = static_cast<std::uint8_t>(image.bitsPerComponent);
        header[9] = colorTypes[format.outComponents - 1];
        sealChunk(head + 8, "IHDR", 13);
        // The zlib header (deflate, 32 KiB window, default level) in a data chunk of its own.
        std::uint8_t streamHead[12 + 2];
        streamHead[8] = 0x78;
        streamHead[9] = 0x9c;
        sealChunk(streamHead, "IDAT", 2);
        if (write(head, sizeof head) != sizeof head || write(streamHead, sizeof streamHead) != sizeof streamHead) {
            return false;
        }

        std::vector<Piece> pieces;
        std::size_t rowsPerPiece = std::max<std::size_t>(1, pieceBytes / (format.outRowBytes + 1));
        for (std::size_t row = 0; row < image.height; row += rowsPerPiece) {
            auto& piece = pieces.emplace_back();
            piece.firstRow = row;
            piece.endRow = std::min(image.height, row + rowsPerPiece);
        }
        unsigned workers = std::min({processorsAvailable(), maxWorkers, static_cast<unsigned>(pieces.size())});
        uLong adler = adler32(0, nullptr, 0);
        if (workers > 1) {
            ParallelDeflate deflater(format, pieces, write, capacity, sizeof head + sizeof streamHead);
            if (!deflater.run(workers, adler)) return false;
        } else {
            Compressor compressor(format);
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                if (!compressor.compress(pieces[i], i + 1 == pieces.size(),
                                         [&](const std::uint8_t* bytes, std::size_t count) {
                                             return write(bytes, count) == count;
                                         })) {
                    return false;
                }
                adler = adler32_combine(adler, pieces[i].adler, static_cast<z_off_t>(pieces[i].length));
            }
        }

        std::uint8_t tail[12 + 4 + 12];
        put32(tail + 8, static_cast<std::uint32_t>(adler));
        sealChunk(tail, "IDAT", 4);
        sealChunk(tail + 16, "IEND", 0);
        return write(tail, sizeof tail) == sizeof tail;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace tarpelix::platform::codecs::png
