#include "windows/CopyLastImageController.h"
#include "windows/CopyLastUploadController.h"

#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace tarpelix;
using platform::Bytes;
using platform::Uuid;
using ImageSnapshot = TransferStorage::LatestImageSnapshot;
using UploadSnapshot = TransferStorage::ConfirmedUploadSnapshot;

namespace {

constexpr const char* noImage = "No image is available. It may have been removed or cleared.";

TransferRecord recordWith(std::optional<std::string> path, TransferOutcome outcome = TransferOutcome::succeeded) {
    TransferRecord record;
    record.uploadOutcome = outcome;
    record.confirmedRemotePath = std::move(path);
    return record;
}

// Answers a completion from a thread of its own, as the storage queue would, then runs the main
// queue until a block posted after the answer has run, so the answer has been taken (or dropped).
template <typename Completion, typename Value>
void answerFromAnotherThread(Completion completion, Value value) {
    std::thread([completion = std::move(completion), value = std::move(value)]() mutable {
        completion(std::move(value));
    }).join();
    bool drained = false;
    platform::DispatchQueue::main()->async([&drained] { drained = true; });
    EXPECT_TRUE(tarpelix::testing::runMainUntil([&] { return drained; }));
}

// The closures a controller is handed, kept so that each test answers them when and where it
// wants, and what the controller did with them.
struct Recorder {
    template <typename Value>
    using Pending = std::vector<std::function<void(Value)>>;

    std::vector<std::string> reports;
    int changes = 0;
    int offMainThread = 0; // reports and changes told on another thread
    bool writeAnswer = true;

    auto report() {
        return [this](const std::string& message) {
            offMainThread += !platform::isMainThread();
            reports.push_back(message);
        };
    }
    auto changed() {
        return [this] {
            offMainThread += !platform::isMainThread();
            ++changes;
        };
    }
};

struct CopyLastImageTest : ::testing::Test, Recorder {
    Pending<std::optional<ImageSnapshot>> loads;
    std::vector<std::pair<Uuid, std::function<void(std::optional<Bytes>)>>> reads;
    std::vector<Bytes> written;
    std::shared_ptr<CopyLastImageController> controller = CopyLastImageController::create(
        [this](auto completion) { loads.push_back(std::move(completion)); },
        [this](const Uuid& id, auto completion) { reads.emplace_back(id, std::move(completion)); },
        [this](const Bytes& png) {
            written.push_back(png);
            return writeAnswer;
        },
        report(), changed());

    ImageSnapshot a{TransferRecord{}};
    ImageSnapshot b{TransferRecord{}};
    Bytes png{0x89, 'P', 'N', 'G'};

    std::optional<Uuid> snapshotID() const {
        if (!controller->snapshot()) return std::nullopt;
        return controller->snapshot()->record.id;
    }
};

struct CopyLastUploadTest : ::testing::Test, Recorder {
    Pending<std::optional<UploadSnapshot>> loads;
    std::vector<std::string> written;
    std::shared_ptr<CopyLastUploadController> controller = CopyLastUploadController::create(
        [this](auto completion) { loads.push_back(std::move(completion)); },
        [this](const std::string& text) {
            written.push_back(text);
            return writeAnswer;
        },
        report(), changed());
};

} // namespace

TEST_F(CopyLastImageTest, OfTwoRefreshesOnlyTheSecondAnswerIsKeptInEitherOrderAndFromAnyThread) {
    for (bool secondAnswersFirst : {false, true}) {
        SCOPED_TRACE(secondAnswersFirst ? "second answers first, from another thread" : "first answers first");
        loads.clear();
        controller->invalidate();
        controller->refresh();
        controller->refresh();
        ASSERT_EQ(loads.size(), 2u);
        const int before = changes;
        if (secondAnswersFirst) {
            answerFromAnotherThread(loads[1], std::optional(b));
            answerFromAnotherThread(loads[0], std::optional(a));
        } else {
            loads[0](a);
            loads[1](b);
        }
        loads[1](a); // an answer given twice is taken once
        EXPECT_EQ(snapshotID(), b.record.id);
        EXPECT_EQ(changes, before + 1);
    }
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(offMainThread, 0);
}

TEST_F(CopyLastImageTest, OneCopyRunsAtATimeAndARefreshDuringItIsIgnored) {
    controller->copy();
    EXPECT_TRUE(controller->isCopying());
    controller->copy();
    controller->refresh();
    ASSERT_EQ(loads.size(), 1u);

    loads[0](a);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].first, a.record.id);
    EXPECT_TRUE(controller->isCopying());
    answerFromAnotherThread(reads[0].second, std::optional(png));

    EXPECT_FALSE(controller->isCopying());
    EXPECT_EQ(written, std::vector<Bytes>{png});
    EXPECT_EQ(snapshotID(), a.record.id);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(offMainThread, 0);

    // Once done, the next copy starts afresh.
    controller->copy();
    EXPECT_EQ(loads.size(), 2u);
}

TEST_F(CopyLastImageTest, EachFailureReportsItsMessage) {
    struct Case {
        const char* name;
        bool loadsSnapshot;
        std::optional<Bytes> read;
        bool writeAnswer;
        const char* report;
        bool keepsSnapshot;
    };
    const Case cases[] = {
        {"no snapshot", false, std::nullopt, true, noImage, false},
        {"image file gone", true, std::nullopt, true, noImage, false},
        {"empty image", true, Bytes{}, true, noImage, false},
        {"pasteboard refuses", true, png, false, "Could not copy the image. Try again.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        written.clear();
        writeAnswer = c.writeAnswer;
        controller->copy();
        loads.back()(c.loadsSnapshot ? std::optional(a) : std::nullopt);
        if (c.loadsSnapshot) {
            EXPECT_EQ(snapshotID(), a.record.id);
            reads.back().second(c.read);
        }
        EXPECT_FALSE(controller->isCopying());
        EXPECT_EQ(reports, std::vector<std::string>{c.report});
        EXPECT_EQ(controller->snapshot().has_value(), c.keepsSnapshot);
        EXPECT_EQ(written.size(), c.writeAnswer ? 0u : 1u);
    }
}

TEST_F(CopyLastImageTest, AnInvalidatedCopyNeverReports) {
    for (bool duringRead : {false, true}) {
        SCOPED_TRACE(duringRead ? "during the read" : "during the load");
        controller->copy();
        if (duringRead) loads.back()(a);
        const int before = changes;
        controller->invalidate();
        EXPECT_FALSE(controller->isCopying());
        EXPECT_FALSE(controller->snapshot());
        EXPECT_EQ(changes, before + 1);

        // Accepted, either late answer would report that no image is available.
        if (duringRead) {
            reads.back().second(std::nullopt);
        } else {
            loads.back()(std::nullopt);
        }
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(changes, before + 1);
    }
}

TEST_F(CopyLastImageTest, AnswersAfterTheControllerIsGoneDoNothing) {
    controller->copy();
    auto load = loads[0];
    controller.reset();
    load(a);
    EXPECT_TRUE(reads.empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(CopyLastUploadTest, OnlyAConfirmedUploadIsKeptAndCopied) {
    struct Case {
        const char* name;
        std::optional<TransferRecord> record;
        bool writeAnswer;
        const char* report; // none: copied
    };
    const Case cases[] = {
        {"confirmed", recordWith("/home/me/.cache/shot.png"), true, nullptr},
        {"pasteboard refuses", recordWith("/home/me/.cache/shot.png"), false,
         "Could not copy the uploaded path. Try again."},
        {"empty path", recordWith(""), true, "No confirmed uploaded path is available."},
        {"no path", recordWith(std::nullopt), true, "No confirmed uploaded path is available."},
        {"upload failed", recordWith("/tmp/x.png", TransferOutcome::failed), true,
         "No confirmed uploaded path is available."},
        {"no snapshot", std::nullopt, true, "No confirmed uploaded path is available."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto snapshot = c.record ? std::optional(UploadSnapshot{*c.record}) : std::nullopt;
        const bool confirmed = c.report == nullptr || !c.writeAnswer;
        reports.clear();
        written.clear();
        writeAnswer = c.writeAnswer;

        controller->refresh();
        loads.back()(snapshot);
        EXPECT_EQ(controller->snapshot().has_value(), confirmed);

        controller->invalidate();
        controller->copy();
        EXPECT_TRUE(controller->isCopying());
        loads.back()(snapshot);
        EXPECT_FALSE(controller->isCopying());
        EXPECT_EQ(controller->snapshot().has_value(), confirmed);
        EXPECT_EQ(written, confirmed ? std::vector<std::string>{*c.record->confirmedRemotePath}
                                     : std::vector<std::string>{});
        EXPECT_EQ(reports, c.report ? std::vector<std::string>{c.report} : std::vector<std::string>{});
    }
}

TEST(CopyLastControllerDeathTest, CopyingOffTheMainThreadStopsTheProcess) {
    auto controller = CopyLastUploadController::create([](auto) {}, {}, {}, {});
    EXPECT_DEATH(std::thread([&] { controller->copy(); }).join(), "main thread");
}
