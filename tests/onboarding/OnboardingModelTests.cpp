#include "onboarding/OnboardingFixture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>

using namespace tarpelix;
using namespace tarpelix::testing;
using Step = OnboardingModel::Step;
using LoginChoice = OnboardingModel::LoginChoice;

namespace {

void expectFresh(const OnboardingModel& model) {
    EXPECT_TRUE(model.shouldPresentAutomatically());
    EXPECT_EQ(model.step(), Step::welcome);
    EXPECT_EQ(model.furthestStep(), Step::welcome);
    EXPECT_FALSE(model.selectedTerminalID());
    EXPECT_FALSE(model.isCompleted());
    EXPECT_FALSE(model.firstPasteVerified());
    EXPECT_FALSE(model.loginChoice());
}

TEST(OnboardingModelTest, StoredProgressThatDoesNotDecodeStrictlyLoadsFresh) {
    const std::pair<const char*, const char*> cases[] = {
        {"step 7", R"({"presented":true,"step":7,"completed":false,"firstPasteVerified":false})"},
        {"negative step", R"({"presented":true,"step":-1,"completed":false,"firstPasteVerified":false})"},
        {"fractional step", R"({"presented":true,"step":2.5,"completed":false,"firstPasteVerified":false})"},
        {"missing completed", R"({"presented":true,"step":2,"firstPasteVerified":false})"},
        {"missing step", R"({"presented":true,"completed":false,"firstPasteVerified":false})"},
        {"presented 1", R"({"presented":1,"step":2,"completed":false,"firstPasteVerified":false})"},
        {"unknown login choice",
         R"({"presented":true,"step":4,"completed":false,"firstPasteVerified":true,"loginChoice":"later"})"},
        {"terminal id not a string",
         R"({"presented":true,"step":2,"completed":false,"firstPasteVerified":false,"selectedTerminalID":3})"},
        {"not JSON", "{\"presented\":tru"},
        {"an array", "[true,2,false,false]"},
    };
    for (const auto& [name, json] : cases) {
        SCOPED_TRACE(name);
        ModelWorld world;
        world.store(json);
        auto model = world.model();
        expectFresh(*model);
        EXPECT_EQ(world.stored(), json); // loading writes nothing
    }
    ModelWorld world; // a value of another kind counts as none
    world.defaults->set(OnboardingModel::preferenceKey, std::string(R"({"presented":true})"));
    expectFresh(*world.model());
}

TEST(OnboardingModelTest, StoredProgressFarLargerThanAnyWrittenLoadsFreshUnparsed) {
    const std::string finished = R"({"presented":true,"step":4,"completed":true,"firstPasteVerified":true})";
    const std::pair<const char*, std::string> cases[] = {
        {"valid progress padded past 64 KB", finished + std::string(64 * 1024, ' ')},
        {"a megabyte nested", std::string(1 << 20, '[')},
    };
    for (const auto& [name, json] : cases) {
        SCOPED_TRACE(name);
        ModelWorld world;
        world.store(json);
        expectFresh(*world.model());
        EXPECT_EQ(world.stored(), json);
    }
    ModelWorld world; // padded within the bound, the same progress loads
    world.store(finished + std::string(1024, ' '));
    EXPECT_TRUE(world.model()->isCompleted());
}

TEST(OnboardingModelTest, AbsentOptionalKeysAndUnknownExtraKeysStillLoad) {
    ModelWorld world;
    world.store(R"({"presented":true,"step":3,"completed":true,"firstPasteVerified":false,"colour":"blue"})");
    auto model = world.model();
    EXPECT_FALSE(model->shouldPresentAutomatically());
    EXPECT_EQ(model->step(), Step::firstPaste);
    EXPECT_TRUE(model->isCompleted());
    EXPECT_TRUE(model->needsFirstPaste());
    EXPECT_FALSE(model->selectedTerminalID());
    EXPECT_FALSE(model->loginChoice());

    world.store(R"({"presented":true,"step":4,"completed":false,"firstPasteVerified":true,)"
                R"("selectedTerminalID":"com.googlecode.iterm2","loginChoice":"notNow"})");
    model = world.model();
    EXPECT_EQ(model->selectedTerminalID(), itermID);
    EXPECT_EQ(model->loginChoice(), LoginChoice::notNow);
    EXPECT_EQ(model->proposedTerminalID(), itermID);
}

TEST(OnboardingModelTest, SavedProgressRoundTripsAndLeavesOutAbsentValues) {
    ModelWorld world;
    world.ready[itermID] = true;
    auto model = world.model();
    model->present();
    const auto first = nlohmann::json::parse(*world.stored());
    EXPECT_EQ(first, nlohmann::json::parse(R"({"presented":true,"step":0,"completed":false,"firstPasteVerified":false})"));

    ASSERT_TRUE(model->continueSetup());
    ASSERT_TRUE(model->confirmTerminal(itermID));
    ASSERT_TRUE(model->continueSetup());
    model->recordFirstPasteSuccess();
    ASSERT_TRUE(model->continueSetup());
    ASSERT_TRUE(model->recordLoginChoice(LoginChoice::enable));
    const auto stored = nlohmann::json::parse(*world.stored());
    EXPECT_EQ(stored["selectedTerminalID"], itermID);
    EXPECT_EQ(stored["loginChoice"], "enable");
    EXPECT_EQ(stored["step"], 4);

    auto reloaded = world.model();
    EXPECT_EQ(reloaded->step(), Step::finish);
    EXPECT_EQ(reloaded->selectedTerminalID(), itermID);
    EXPECT_TRUE(reloaded->firstPasteVerified());
    EXPECT_EQ(reloaded->loginChoice(), LoginChoice::enable);
}

// Every operation at each step and gate: what it answers, where the window and the stored
// progress stand afterwards, and whether it wrote the user defaults.
TEST(OnboardingModelTest, OperationsFollowTheirStepsAndGates) {
    struct Case {
        const char* name;
        std::function<void(OnboardingModel&, ModelWorld&)> arrange; // after present()
        std::function<std::optional<bool>(OnboardingModel&)> operation;
        std::optional<bool> result;
        Step step;
        Step furthest;
        bool wrote;
        bool visible = true;
    };
    auto to = [](Step step) {
        return [step](OnboardingModel& m, ModelWorld& w) {
            w.ready[itermID] = true;
            if (step >= Step::terminal) m.continueSetup();
            if (step >= Step::permissions) m.confirmTerminal(itermID);
            if (step >= Step::firstPaste) m.continueSetup();
            if (step >= Step::finish) {
                m.recordFirstPasteSuccess();
                m.continueSetup();
            }
        };
    };
    auto continueSetup = [](OnboardingModel& m) -> std::optional<bool> { return m.continueSetup(); };
    auto back = [](OnboardingModel& m) -> std::optional<bool> {
        m.back();
        return std::nullopt;
    };
    auto tryLater = [](OnboardingModel& m) -> std::optional<bool> {
        m.tryLater();
        return std::nullopt;
    };
    auto notReady = [](ModelWorld& w) { w.ready[itermID] = false; };
    const Case cases[] = {
        {"continue on welcome", to(Step::welcome), continueSetup, true, Step::terminal, Step::terminal, true},
        {"back on welcome", to(Step::welcome), back, std::nullopt, Step::welcome, Step::welcome, false},
        {"continue on terminal", to(Step::terminal), continueSetup, false, Step::terminal, Step::terminal, true},
        {"confirm a listed terminal", to(Step::terminal),
         [](OnboardingModel& m) -> std::optional<bool> { return m.confirmTerminal(ghosttyID); }, true,
         Step::permissions, Step::permissions, true},
        {"confirm an unlisted terminal", to(Step::terminal),
         [](OnboardingModel& m) -> std::optional<bool> { return m.confirmTerminal(terminalAppID); }, false,
         Step::terminal, Step::terminal, true},
        {"back on terminal", to(Step::terminal), back, std::nullopt, Step::welcome, Step::terminal, false},
        {"continue on permissions, not ready",
         [&](OnboardingModel& m, ModelWorld& w) { to(Step::permissions)(m, w), notReady(w); }, continueSetup, false,
         Step::permissions, Step::permissions, true},
        {"continue on permissions, ready", to(Step::permissions), continueSetup, true, Step::firstPaste,
         Step::firstPaste, true},
        {"continue on permissions, returning from finish",
         [&](OnboardingModel& m, ModelWorld& w) {
             to(Step::finish)(m, w);
             m.back();
             m.back();
         },
         continueSetup, true, Step::finish, Step::finish, true},
        {"continue on first paste, unverified", to(Step::firstPaste), continueSetup, false, Step::firstPaste,
         Step::firstPaste, true},
        {"continue on first paste, verified",
         [&](OnboardingModel& m, ModelWorld& w) {
             to(Step::firstPaste)(m, w);
             m.recordFirstPasteSuccess();
         },
         continueSetup, true, Step::finish, Step::finish, true},
        {"continue on first paste, readiness lost",
         [&](OnboardingModel& m, ModelWorld& w) {
             to(Step::firstPaste)(m, w);
             m.recordFirstPasteSuccess();
             notReady(w);
         },
         continueSetup, false, Step::permissions, Step::firstPaste, true},
        {"try later, ready", to(Step::firstPaste), tryLater, std::nullopt, Step::finish, Step::finish, true},
        {"try later, not ready", [&](OnboardingModel& m, ModelWorld& w) { to(Step::firstPaste)(m, w), notReady(w); },
         tryLater, std::nullopt, Step::firstPaste, Step::firstPaste, false},
        {"try later off the first paste", to(Step::permissions), tryLater, std::nullopt, Step::permissions,
         Step::permissions, false},
        {"login choice on first paste", to(Step::firstPaste),
         [](OnboardingModel& m) -> std::optional<bool> { return m.recordLoginChoice(LoginChoice::enable); }, false,
         Step::firstPaste, Step::firstPaste, false},
        {"login choice on finish", to(Step::finish),
         [](OnboardingModel& m) -> std::optional<bool> { return m.recordLoginChoice(LoginChoice::notNow); }, true,
         Step::finish, Step::finish, true},
        {"continue on finish", to(Step::finish), continueSetup, false, Step::finish, Step::finish, true},
        {"finish without a login choice", to(Step::finish),
         [](OnboardingModel& m) -> std::optional<bool> { return m.finish(); }, false, Step::finish, Step::finish, true},
        {"finish, readiness lost",
         [&](OnboardingModel& m, ModelWorld& w) {
             to(Step::finish)(m, w);
             m.recordLoginChoice(LoginChoice::enable);
             notReady(w);
         },
         [](OnboardingModel& m) -> std::optional<bool> { return m.finish(); }, false, Step::permissions, Step::finish,
         true},
        {"finish", [&](OnboardingModel& m, ModelWorld& w) { to(Step::finish)(m, w), m.recordLoginChoice(LoginChoice::enable); },
         [](OnboardingModel& m) -> std::optional<bool> { return m.finish(); }, true, Step::finish, Step::finish, true,
         false},
        {"back on finish", to(Step::finish), back, std::nullopt, Step::firstPaste, Step::finish, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        auto model = world.model();
        model->present();
        c.arrange(*model, world);
        world.defaults->removeObject(OnboardingModel::preferenceKey);
        EXPECT_EQ(c.operation(*model), c.result);
        EXPECT_EQ(model->step(), c.step);
        EXPECT_EQ(model->furthestStep(), c.furthest);
        EXPECT_EQ(world.stored().has_value(), c.wrote);
        EXPECT_EQ(model->isVisible(), c.visible);
        if (c.wrote) {
            // What was written is what a relaunch resumes from.
            auto reloaded = world.model();
            EXPECT_EQ(reloaded->furthestStep(), c.furthest);
            EXPECT_EQ(reloaded->isCompleted(), model->isCompleted());
        }
    }
}

TEST(OnboardingModelTest, NothingIsWrittenBeforeSetupWasFirstPresented) {
    ModelWorld world;
    auto model = world.model();
    model->refresh();
    model->close();
    model->recordFirstPasteSuccess();
    EXPECT_TRUE(model->firstPasteVerified()); // kept in memory, written with the first presentation
    EXPECT_FALSE(model->continueSetup());
    EXPECT_FALSE(model->confirmTerminal(itermID));
    EXPECT_FALSE(model->finish());
    EXPECT_FALSE(world.stored());
    EXPECT_FALSE(std::filesystem::exists(world.defaults->file()));
    model->present();
    ASSERT_TRUE(world.stored());
    EXPECT_EQ(nlohmann::json::parse(*world.stored())["firstPasteVerified"], true);
}

// The defaults file is replaced only when the progress to store differs from the stored one:
// removing the file underneath the cached defaults shows whether anything was written.
TEST(OnboardingModelTest, OnlyAChangedProgressRewritesTheDefaultsFile) {
    ModelWorld world;
    world.ready[itermID] = true;
    auto model = world.model();
    model->present();
    ASSERT_TRUE(model->continueSetup());
    const auto file = world.defaults->file();
    ASSERT_TRUE(std::filesystem::remove(file));

    model->refresh();                     // nothing changed
    model->close();                       // only the visibility changed
    model->present();                     // shown again where it stopped
    EXPECT_FALSE(model->continueSetup()); // on the terminal step, which only a confirmation leaves
    model->back();
    model->back(); // nothing below welcome
    EXPECT_FALSE(std::filesystem::exists(file));

    model->recordFirstPasteSuccess();
    ASSERT_TRUE(std::filesystem::remove(file)); // the verification was a change
    model->recordFirstPasteSuccess();           // already verified
    model->refresh();
    EXPECT_FALSE(std::filesystem::exists(file));

    ASSERT_TRUE(model->continueSetup());
    ASSERT_TRUE(model->confirmTerminal(itermID)); // a real change
    ASSERT_TRUE(std::filesystem::exists(file));
    auto reloaded = world.model();
    EXPECT_EQ(reloaded->selectedTerminalID(), itermID);
    EXPECT_EQ(reloaded->furthestStep(), Step::permissions);
    EXPECT_TRUE(reloaded->firstPasteVerified());

    ASSERT_TRUE(std::filesystem::remove(file));
    world.installed.terminals = {terminal(ghosttyID)}; // the chosen terminal was uninstalled
    model->refresh();
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(world.model()->selectedTerminalID());
}

TEST(OnboardingModelTest, ReconfirmingKeepsAFurtherStepAndAnotherTerminalResetsItToPermissions) {
    ModelWorld world;
    world.ready = {{itermID, true}, {ghosttyID, true}};
    auto model = world.model();
    model->present();
    model->continueSetup();
    model->confirmTerminal(itermID);
    model->continueSetup();
    model->recordFirstPasteSuccess();
    model->continueSetup();
    ASSERT_EQ(model->furthestStep(), Step::finish);

    for (int i = 0; i < 3; ++i) model->back();
    ASSERT_EQ(model->step(), Step::terminal);
    EXPECT_TRUE(model->confirmTerminal(itermID));
    EXPECT_EQ(model->step(), Step::permissions);
    EXPECT_EQ(model->furthestStep(), Step::finish);
    EXPECT_TRUE(model->continueSetup());
    EXPECT_EQ(model->step(), Step::finish); // straight back to where it was

    for (int i = 0; i < 3; ++i) model->back();
    EXPECT_TRUE(model->confirmTerminal(ghosttyID));
    EXPECT_EQ(model->selectedTerminalID(), ghosttyID);
    EXPECT_EQ(model->step(), Step::permissions);
    EXPECT_EQ(model->furthestStep(), Step::permissions);
    EXPECT_TRUE(model->continueSetup());
    EXPECT_EQ(model->step(), Step::firstPaste);
}

TEST(OnboardingModelTest, AnotherTerminalInACompletedSetupKeepsItCompletedAndReopeningOnTheFirstPaste) {
    ModelWorld world;
    world.ready = {{itermID, true}, {ghosttyID, true}};
    world.store(R"({"presented":true,"step":4,"completed":true,"firstPasteVerified":false,)"
                R"("selectedTerminalID":"com.googlecode.iterm2","loginChoice":"enable"})");
    auto model = world.model();
    model->present();
    ASSERT_EQ(model->step(), Step::firstPaste);
    model->back(); // the window refuses Back once completed; the model still walks
    model->back();
    ASSERT_EQ(model->step(), Step::terminal);
    EXPECT_TRUE(model->confirmTerminal(ghosttyID));
    EXPECT_EQ(model->furthestStep(), Step::permissions);
    EXPECT_TRUE(model->continueSetup());
    EXPECT_EQ(model->step(), Step::firstPaste);
    model->close();

    auto reloaded = world.model();
    EXPECT_TRUE(reloaded->isCompleted());
    reloaded->present();
    EXPECT_EQ(reloaded->step(), Step::firstPaste);
    EXPECT_EQ(reloaded->selectedTerminalID(), ghosttyID);
}

TEST(OnboardingModelTest, AnUninstalledTerminalSendsAnUnfinishedSetupBackToTheTerminalStep) {
    for (const bool completed : {false, true}) {
        SCOPED_TRACE(completed ? "completed" : "unfinished");
        ModelWorld world;
        world.ready[itermID] = true;
        world.store(std::string(R"({"presented":true,"step":3,"firstPasteVerified":false,)") +
                    R"("selectedTerminalID":"com.googlecode.iterm2","completed":)" + (completed ? "true}" : "false}"));
        auto model = world.model();
        model->present();
        ASSERT_EQ(model->step(), Step::firstPaste);
        world.installed.terminals = {terminal(ghosttyID)};
        model->refresh();
        EXPECT_FALSE(model->selectedTerminalID());
        EXPECT_EQ(model->step(), Step::terminal);
        EXPECT_EQ(model->furthestStep(), completed ? Step::firstPaste : Step::terminal);
        EXPECT_EQ(model->isCompleted(), completed);
        EXPECT_EQ(model->proposedTerminalID(), ghosttyID);
    }
}

TEST(OnboardingModelTest, ACompletedSetupReopensOnTheFirstPasteAndClosesOnContinue) {
    ModelWorld world;
    world.ready[itermID] = true;
    world.store(R"({"presented":true,"step":4,"completed":true,"firstPasteVerified":false,)"
                R"("selectedTerminalID":"com.googlecode.iterm2","loginChoice":"notNow"})");
    auto model = world.model();
    EXPECT_TRUE(model->needsFirstPaste());
    model->present();
    EXPECT_EQ(model->step(), Step::firstPaste);
    EXPECT_FALSE(model->continueSetup()); // not verified yet
    model->recordFirstPasteSuccess();
    EXPECT_FALSE(model->needsFirstPaste());
    EXPECT_TRUE(model->continueSetup());
    EXPECT_FALSE(model->isVisible());
    EXPECT_EQ(model->step(), Step::firstPaste); // never shows the finish page
    EXPECT_FALSE(model->recordLoginChoice(LoginChoice::enable));
}

} // namespace
