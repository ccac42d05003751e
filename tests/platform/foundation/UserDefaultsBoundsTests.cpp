// Defaults files that read, but whose values write as more than a file is read at, and a file
// whose attributes would make the XML tokenizer hold hundreds of megabytes. Each goes through
// UserDefaults in a child of its own, whose exit status tells what came of it and whose peak
// memory is measured from just before the file is read.

#include "platform/foundation/UserDefaults.h"
#include "support/TemporaryDirectory.h"

#include "PropertyListFiles.h"

#include "support/DeathTestChild.h"
#include "support/PeakMemory.h"

#include <gtest/gtest.h>


#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <string>

using namespace tarpelix::platform;
using namespace tarpelix::testing::plist;
using tarpelix::testing::peakResidentKB;
using tarpelix::testing::resetPeakResidentKB;
using tarpelix::testing::TemporaryDirectory;
using Dictionary = PropertyListValue::Dictionary;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long memoryLimitKB = 256 * 1024; // freed blocks wait in the sanitizer's quarantine
#else
constexpr long memoryLimitKB = 96 * 1024;
#endif

enum Verdict {
    kept = 0,              // the new text would not fit: the old file is there byte for byte
    rewritten,             // the file reads back with every key it held and the new one
    tooMuchMemory = 20,    // the peak grew past the limit
    valueLost,             // the value set is not there in memory
    oldFileChanged,        // a file that could not be rewritten was changed anyway
    writtenTooLarge,       // a file past the size a file is read at was written
    keyLost,               // a key the old file held is gone from the new one
    writeReportedWrongly,  // the write said it succeeded when it did not, or the reverse
};


// Reads the defaults in `path` (which holds `before`, with `keysBefore`), sets one key and exits
// with the verdict, removing the child's own `scratch` folder first.
[[noreturn]] void setOverAndExit(const TemporaryDirectory& scratch, const std::string& path,
                                 const std::string& before, const std::set<std::string>& keysBefore) {
    ::alarm(120);
    const long start = resetPeakResidentKB();
    const auto verdict = [&]() -> Verdict {
        auto defaults = UserDefaults::create(path);
        defaults->set("showPasteOverlay", false);
        const bool synchronized = defaults->synchronize();
        if (defaults->boolean("showPasteOverlay") != false) return valueLost;
        std::ifstream in(path, std::ios::binary);
        const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (after.size() > PropertyList::maximumSize) return writtenTooLarge;
        if (after == before) return synchronized ? writeReportedWrongly : kept;
        if (!synchronized) return oldFileChanged;
        auto reread = PropertyList::readFile(path);
        const auto* values = reread ? reread->get<Dictionary>() : nullptr;
        if (!values || !values->contains("showPasteOverlay") ||
            values->find("showPasteOverlay")->second != PropertyListValue(false))
            return keyLost;
        for (const auto& key : keysBefore)
            if (!values->contains(key)) return keyLost;
        return rewritten;
    }();
    const long growth = peakResidentKB() - start;
    std::fprintf(stderr, "verdict %d, peak grew by %ld kB\n", static_cast<int>(verdict), growth);
    tarpelix::testing::exitRemoving(scratch.path(), growth >= memoryLimitKB ? tooMuchMemory : verdict);
}

} // namespace

TEST(UserDefaultsBoundsDeathTest, ValuesThatWouldNotReadBackKeepTheFileThatDoes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char* name;
        std::function<std::string()> bytes;
        std::set<std::string> keys; // what the file holds
        Verdict expected;
    } shapes[] = {
        // 510 levels over 261,544 references to one `true`: 526 KB, a 6 MB text once indented
        // no deeper than the cap.
        {"deep shared true", [] { return deepShared("\x09", 510, 261'544); }, {"a"}, rewritten},
        // The same over 60 ampersands: 80 MB of text.
        {"deep shared ampersands", [] { return deepShared(asciiObject(std::string(60, '&')), 510, 261'544); }, {"a"}, kept},
        // 255 references to 64,000 bytes of data: 21.8 MB of Base64.
        {"shared data", [] { return sharedData(64'000, 255); }, {"a"}, kept},
        // Distinct attributes filling a 16 MB file; refused, so the next change replaces it.
        {"16 MB of attributes", [] { return manyAttributes(PropertyList::maximumSize); }, {}, rewritten},
    };
    TemporaryDirectory directory;
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        const auto bytes = shape.bytes();
        const auto path = directory.write("UserDefaults.plist", bytes, 0600);
        ASSERT_LE(bytes.size(), PropertyList::maximumSize);
        EXPECT_EXIT(setOverAndExit(directory, path, bytes, shape.keys),
                    ::testing::ExitedWithCode(shape.expected), "peak grew by");
    }
}

TEST(UserDefaults, AFileAtTheAttributeCapIsRefusedAndOrdinaryFilesStillRead) {
    // Expat holds each attribute of a tag before it is handed on: a tag of distinct attributes is
    // refused once expat holds a megabyte, wherever the file ends.
    EXPECT_FALSE(parse(manyAttributes(1 << 20)));
    EXPECT_FALSE(parse(manyAttributes(PropertyList::maximumSize)));
    // A few hundred attributes are nothing to it.
    EXPECT_TRUE(parse(manyAttributes(4096)));
    // The shipped Info.plist, and a defaults file as the application writes it.
    EXPECT_TRUE(PropertyList::readFile(TARPELIX_SOURCE_DIR "/resources/Info.plist"));
    TemporaryDirectory directory;
    auto defaults = UserDefaults::create(directory.file("UserDefaults.plist"));
    defaults->set("showPasteOverlay", true);
    defaults->set("lastSettingsSection", "storage");
    defaults->set("onboardingProgress", Bytes(300, '{'));
    EXPECT_EQ(UserDefaults::create(directory.file("UserDefaults.plist"))->string("lastSettingsSection"), "storage");
}
