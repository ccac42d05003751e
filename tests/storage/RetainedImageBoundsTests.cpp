// Retained files that are not the size of the image the store wrote: they count as missing,
// none of them is read, and they cost no other record its image.

#include "storage/TransferStore.h"

#include "storage/StorageTestSupport.h"

#include "support/DeathTestChild.h"
#include "support/PeakMemory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

constexpr std::int64_t oneGB = 1'000'000'000;

class RetainedImageBoundsTest : public ::testing::Test {
protected:
    std::shared_ptr<TransferStore> open() {
        TransferStore::Options options;
        options.root = root();
        options.clock = [this] { return Date{now}; };
        options.scheduleMaintenance = false;
        options.timeZone = [] { return platform::TimeZone{"UTC"}; };
        return TransferStore::open(options);
    }

    std::filesystem::path root() const { return scratch / rootName; }
    std::filesystem::path imageOf(const TransferRecord& record) const {
        return root() / "images" / *record.localFilename;
    }
    TransferRecord createWithImage(TransferStore& store, double createdAt, const platform::Bytes& png) {
        now = createdAt;
        return store.create(makeRecord(createdAt, static_cast<std::int64_t>(png.size())), png);
    }

    ScratchDirectory scratch;
    std::string rootName = "Tarpelix";
    double now = 800'000'000;
};


} // namespace

TEST_F(RetainedImageBoundsTest, AFileOfAnotherSizeIsMissingAndCostsNoOtherRecordItsImage) {
    struct Case {
        const char* name;
        std::int64_t size; // the retained file's size afterwards; 0 appends nothing and cuts nothing
        bool keeps;
    };
    const Case cases[] = {
        {"as written", 0, true},
        {"one byte longer", 65, false},
        {"cut short", 32, false},
        {"grown to 1 GB, sparse", oneGB, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rootName = std::string("Tarpelix ") + c.name; // a store of its own
        auto store = open();
        const auto older = createWithImage(*store, 800'000'100, pngBytes(40, 3));
        const auto newer = createWithImage(*store, 800'000'200, pngBytes(64, 4));
        if (c.size) {
            ASSERT_EQ(::truncate(imageOf(newer).c_str(), c.size), 0);
        }

        EXPECT_EQ(store->readRetainedImage(newer.id), c.keeps ? std::optional(pngBytes(64, 4)) : std::nullopt);
        const auto latest = store->latestRetainedImage();
        ASSERT_TRUE(latest);
        EXPECT_EQ(latest->id, c.keeps ? newer.id : older.id);

        // A maintenance run measures the files again: the damaged one is not counted against
        // the budget, so the older image stays; the damaged reference is cleared like a
        // missing file's.
        store->maintain({});
        EXPECT_EQ(store->readRetainedImage(older.id), pngBytes(40, 3));
        EXPECT_EQ(store->record(newer.id)->localFilename.has_value(), c.keeps);
        EXPECT_EQ(store->record(newer.id)->imageSize, 64);
        const auto health = store->health();
        EXPECT_EQ(health.imageCount, c.keeps ? 2 : 1);
        EXPECT_EQ(health.imageBytes, c.keeps ? 104 : 40);

        // Opened again, the same: recovery clears what it finds missing.
        store.reset();
        store = open();
        const auto reopened = store->latestRetainedImage();
        ASSERT_TRUE(reopened);
        EXPECT_EQ(reopened->id, c.keeps ? newer.id : older.id);
    }
}

TEST_F(RetainedImageBoundsTest, AnImageLargerThanAnyPasteIsNeverReadThoughItIsKept) {
    auto store = open();
    const platform::Bytes huge(100'000'001, 0x42);
    const auto record = createWithImage(*store, 800'000'100, huge);
    ASSERT_TRUE(record.localFilename) << "within the budget, the store keeps it";
    EXPECT_FALSE(store->readRetainedImage(record.id));
    EXPECT_FALSE(store->latestRetainedImage());
    store->maintain({});
    EXPECT_TRUE(std::filesystem::exists(imageOf(record)));
    EXPECT_TRUE(store->record(record.id)->localFilename);
}

// The read of a file grown to 1 GB, in a process of its own so that its peak memory is the
// read's: a read of the file would take a gigabyte. The child closes its store and removes its
// own scratch folder before it exits.
TEST_F(RetainedImageBoundsTest, AFileGrownToAGigabyteIsNotRead) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr int refusedWithinBounds = 40, readSomething = 41, tooMuchMemory = 42;
    EXPECT_EXIT(
        {
            const int exitCode = [&] {
                auto store = open();
                const auto record = createWithImage(*store, 800'000'100, pngBytes(64, 4));
                if (::truncate(imageOf(record).c_str(), oneGB) != 0) return 2;
                const long before = resetPeakResidentKB();
                const bool read = store->readRetainedImage(record.id).has_value();
                const long growth = peakResidentKB() - before;
                std::fprintf(stderr, "read: %s, peak grew by %ld kB\n", read ? "yes" : "no", growth);
                return growth >= 64 * 1024 ? tooMuchMemory : read ? readSomething : refusedWithinBounds;
            }();
            exitRemoving(scratch.path(), exitCode);
        },
        ::testing::ExitedWithCode(refusedWithinBounds), "read: no");
}

// The largest image a paste retains is read into one allocation of its size: the peak grows by
// the image and little more (growing the buffer as the file is read cost a third more).
TEST_F(RetainedImageBoundsTest, TheLargestRetainedImageIsReadIntoOneAllocation) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's shadow of the bytes read is no measure of the read";
#endif
    constexpr std::size_t size = 100'000'000;
#if defined(__SANITIZE_ADDRESS__)
    constexpr long shadowKB = size / 8 / 1024; // the sanitizer's shadow of the new allocation
#else
    constexpr long shadowKB = 0;
#endif
    auto store = open();
    TransferRecord record;
    {
        platform::Bytes image(size, 0x42);
        record = createWithImage(*store, 800'000'100, image);
    }
    ASSERT_TRUE(record.localFilename);
    const long before = resetPeakResidentKB();
    const auto read = store->readRetainedImage(record.id);
    const long growth = peakResidentKB() - before;
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), size);
    EXPECT_EQ(std::count(read->begin(), read->end(), 0x42), static_cast<std::ptrdiff_t>(size));
    EXPECT_LE(growth, static_cast<long>(size / 1024) + shadowKB + 4 * 1024) << "kB the peak grew by";
}
