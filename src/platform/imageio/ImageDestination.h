#pragma once

#include "platform/imageio/Image.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace tarpelix::platform {

// Where an encoder's output goes, block by block. The callback returns how many of the
// bytes it took; taking fewer than it was given ends the encoding.
class DataConsumer {
public:
    using PutBytes = std::function<std::size_t(const std::uint8_t* bytes, std::size_t count)>;

    // None without a callback. `capacity` is the most the callback will ever take in all:
    // an encoder holds no more output than that while it waits to put it.
    static std::shared_ptr<DataConsumer> create(PutBytes putBytes, std::size_t capacity = SIZE_MAX);

    // Offers one block; an exception from the callback counts as taking nothing.
    std::size_t putBytes(const std::uint8_t* bytes, std::size_t count) const noexcept;

    std::size_t capacity() const { return capacity_; }

private:
    DataConsumer(PutBytes putBytes, std::size_t capacity) : putBytes_(std::move(putBytes)), capacity_(capacity) {}
    PutBytes putBytes_;
    std::size_t capacity_;
};

// Encodes images into a file of one type, written to a data consumer when finalized.
// Only PNG, with one image, is supported; alpha that is opaque everywhere is left out.
class ImageDestination {
public:
    // None when the consumer is missing, the type is not PNG or the count is not 1.
    static std::unique_ptr<ImageDestination> createWithDataConsumer(std::shared_ptr<DataConsumer> consumer,
                                                                   std::string_view type, std::size_t count);

    void addImage(std::shared_ptr<const Image> image);

    // Writes the file. False when the images added do not match the count, an image cannot
    // be encoded, the consumer refused a block, or the destination was finalized before.
    bool finalize();

private:
    ImageDestination(std::shared_ptr<DataConsumer> consumer, std::size_t count)
        : consumer_(std::move(consumer)), count_(count) {}
    std::shared_ptr<DataConsumer> consumer_;
    std::size_t count_;
    std::vector<std::shared_ptr<const Image>> images_;
    bool finalized_ = false;
};

} // namespace tarpelix::platform
