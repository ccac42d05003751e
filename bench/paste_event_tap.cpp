// The event tap's per-event decision: every key, modifier change, click and scroll of the
// session passes through PasteEventTap::handle on the tap thread.
#include "paste/PasteEventTap.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/Clock.h"

#include <benchmark/benchmark.h>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

std::shared_ptr<PasteEventTap> armedTap() {
    auto tap = PasteEventTap::create(systemUptime);
    tap->configure(true, 70001, systemUptime() + 3600.0);
    return tap;
}

void decide(benchmark::State& state, const EventRef& event) {
    auto tap = armedTap();
    for (auto _ : state) benchmark::DoNotOptimize(tap->handle(event->type(), event));
}

void BM_OrdinaryKeyDown(benchmark::State& state) { decide(state, InputEventsControl::keyEvent(0, true)); }
void BM_KeyUp(benchmark::State& state) { decide(state, InputEventsControl::keyEvent(0, false)); }
void BM_ModifierChange(benchmark::State& state) {
    decide(state, InputEventsControl::mouseEvent(EventType::flagsChanged, EventFlag::control));
}
void BM_MarkedEvent(benchmark::State& state) {
    auto event = InputEventsControl::keyEvent(9, true, EventFlag::control);
    event->setIntegerValueField(EventField::eventSourceUserData, PasteEventTap::syntheticTag);
    decide(state, event);
}

// A Control+V that is held (one copy, one block for the main queue) and its release.
void BM_HeldControlVAndRelease(benchmark::State& state) {
    auto tap = armedTap();
    auto down = InputEventsControl::keyEvent(9, true, EventFlag::control);
    auto up = InputEventsControl::keyEvent(9, false);
    std::int64_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tap->handle(EventType::keyDown, down));
        benchmark::DoNotOptimize(tap->handle(EventType::keyUp, up));
        if (++n % 1024 == 0) {
            state.PauseTiming();
            RunLoop::main()->runOnce(0); // hand the gestures to the (empty) receiver
            state.ResumeTiming();
        }
    }
    RunLoop::main()->runOnce(0);
}

} // namespace

BENCHMARK(BM_OrdinaryKeyDown);
BENCHMARK(BM_KeyUp);
BENCHMARK(BM_ModifierChange);
BENCHMARK(BM_MarkedEvent);
BENCHMARK(BM_HeldControlVAndRelease);
