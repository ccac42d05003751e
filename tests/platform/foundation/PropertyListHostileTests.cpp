// Files written to crash or exhaust a property-list reader. Each is read in a child process of
// its own, which answers through its exit status: a crash, a sanitizer's report (status 1),
// a timeout or a reading that grew the child's peak memory past 64 MB all tell apart from the
// refusal expected.

#include "platform/foundation/PropertyList.h"

#include "PropertyListFiles.h"

#include "support/PeakMemory.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

using namespace tarpelix::platform;
using namespace tarpelix::testing::plist;
using tarpelix::testing::peakResidentKB;
using tarpelix::testing::resetPeakResidentKB;

namespace {

constexpr int refused = 40, accepted = 41, tooMuchMemory = 42;
constexpr long memoryLimitKB = 64 * 1024;


// Parses `bytes` and exits with what came of it. The peak is reset first (clear_refs 5), so
// what it grows by is the reading's own.
[[noreturn]] void readAndExit(const std::string& bytes) {
    ::alarm(120);     // a reading that never ends dies of SIGALRM
    const long before = resetPeakResidentKB(); // what earlier shapes freed is not there to reuse
    const bool read = parse(bytes).has_value();
    const long growth = peakResidentKB() - before;
    std::fprintf(stderr, "read: %s, peak grew by %ld kB\n", read ? "accepted" : "refused", growth);
    std::fflush(nullptr);
    std::_Exit(growth >= memoryLimitKB ? tooMuchMemory : read ? accepted : refused);
}

// `depth` arrays, each holding only the next, over `true`: the chain a recursive reader follows
// to the bottom of its stack.
BinaryList chain(std::size_t depth, std::size_t referenceSize, std::size_t countWidth) {
    BinaryList list;
    list.referenceSize = referenceSize;
    for (std::size_t i = 0; i < depth; ++i)
        list.objects.push_back(arrayOf({i + 1}, referenceSize, countWidth));
    list.objects.push_back("\x09");
    return list;
}

// One string of `stringSize` bytes under `levels` of 16-way arrays that all share the level
// below: a few kilobytes that expand to 16^levels copies of the string.
std::string expansion(std::size_t stringSize, std::size_t levels) {
    BinaryList list;
    list.offsetSize = stringSize + 300 < 0x10000 ? 2 : 4;
    list.referenceSize = 1;
    list.objects.push_back(asciiObject(std::string(stringSize, 'x')));
    for (std::size_t level = 1; level <= levels; ++level) {
        std::string array = marker(0xA, 16);
        array += std::string(16, static_cast<char>(level - 1));
        list.objects.push_back(array);
    }
    list.top = levels;
    return list.bytes();
}

} // namespace

TEST(PropertyListHostileDeathTest, EachShapeIsRefusedInBoundedTimeAndMemory) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // An attribute in single quotes hiding 300,000 levels from a reader that misread quotes.
    const auto singleQuoted = [] {
        std::string text = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array a='>)";
        for (int i = 0; i < 300'000; ++i)
            text += "<array>";
        text += "<string>'</string>";
        for (int i = 0; i < 300'001; ++i)
            text += "</array>";
        return text + "</plist>";
    };
    const auto wideOffsets = [] {
        auto list = chain(200'000, 4, 0);
        list.offsetSize = 9;
        return list.bytes();
    };
    const auto declaringObjects = [] {
        BinaryList list;
        list.objects = {"\x09"};
        list.declaredCount = std::uint64_t{1} << 32;
        return list.bytes();
    };
    // 1.5 million `true`s under one array: a real offset table of 13 MB, far past the values allowed.
    const auto manyObjects = [] {
        constexpr std::size_t count = 1'500'000;
        BinaryList list;
        std::string top = marker(0xA, count, 4);
        for (std::size_t i = 1; i <= count; ++i)
            top += bigEndian(i, 4);
        list.objects.push_back(top);
        list.objects.resize(count + 1, "\x09");
        return list.bytes();
    };
    const struct {
        const char* name;
        std::function<std::string()> bytes;
        std::size_t expectedSize; // about, to show the shape is the one meant
    } shapes[] = {
        {"single-quoted XML, 300,000 deep", singleQuoted, 4'500'000},
        {"binary chain, 9-byte references", [] { return chain(200'000, 9, 0).bytes(); }, 2'800'000},
        {"binary chain, 9-byte offsets", wideOffsets, 2'800'000},
        {"binary chain, 16-byte counts", [] { return chain(200'000, 4, 16).bytes(); }, 5'200'000},
        {"4 KB shared expansion", [] { return expansion(4096, 15); }, 4'430},
        {"66 KB shared expansion", [] { return expansion(65'536, 15); }, 66'000},
        {"2^32 objects declared", declaringObjects, 50},
        {"1.5 million objects", manyObjects, 13'500'000},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        const auto bytes = shape.bytes();
        EXPECT_NEAR(static_cast<double>(bytes.size()), static_cast<double>(shape.expectedSize),
                    0.1 * static_cast<double>(shape.expectedSize));
        EXPECT_EXIT(readAndExit(bytes), ::testing::ExitedWithCode(refused), "refused");
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) // they reserve address space of their own
namespace {

// Parses `bytes` with room for only 4 MB more address space than the process holds now.
[[noreturn]] void readShortOfMemoryAndExit(const std::string& bytes) {
    std::ifstream status("/proc/self/status");
    std::string line;
    long sizeKB = 0;
    while (std::getline(status, line))
        if (line.starts_with("VmSize:")) sizeKB = std::stol(line.substr(7));
    const auto limit = static_cast<rlim_t>(sizeKB + 4096) * 1024;
    const rlimit cap{limit, limit};
    ::setrlimit(RLIMIT_AS, &cap);
    const bool read = parse(bytes).has_value();
    std::fprintf(stderr, "read: %s\n", read ? "accepted" : "refused");
    std::fflush(nullptr);
    std::_Exit(read ? accepted : refused);
}

} // namespace

TEST(PropertyListHostileDeathTest, RunningOutOfMemoryRefusesTheFileAndTheProcessGoesOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Within the budget (16 MB of strings once read), but past the memory left.
    BinaryList list;
    list.referenceSize = 1;
    list.objects = {marker(0xA, 1024) + std::string(1024, '\x01'), asciiObject(std::string(16'384, 'm'))};
    const auto bytes = list.bytes();
    ASSERT_TRUE(parse(bytes)) << "read whole with memory to spare";
    EXPECT_EXIT(readShortOfMemoryAndExit(bytes), ::testing::ExitedWithCode(refused), "refused");
}
#endif
