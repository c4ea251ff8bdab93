// Cost of dispatching one input event, from the replay window to the sink.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstring>

#include "core/input_controller.h"

namespace korvex {
namespace {

// Counts calls so the work cannot be optimised away, and injects nothing.
class CountingSink final : public InputSink {
public:
    std::uint64_t calls = 0;
    void mouse_move(std::int32_t, std::int32_t) override { ++calls; }
    void mouse_button(std::uint8_t, bool) override { ++calls; }
    void wheel(std::int32_t) override { ++calls; }
    void hwheel(std::int32_t) override { ++calls; }
    void key(KeyCode, bool) override { ++calls; }
    void type_text(std::span<const char16_t>) override { ++calls; }
    Status lock_workstation() override { return {}; }
    void keep_awake() override { ++calls; }
    Status set_clipboard(std::string_view) override {
        ++calls;
        return {};
    }
    void adjust_brightness(bool) override { ++calls; }
};

class NoSas final : public SasAction {
public:
    SasOutcome send_sas() override { return SasOutcome::Unavailable; }
};

void put_f32(InputEvent& event, std::size_t at, float v) {
    auto bits = std::bit_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) event.payload[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void BM_DispatchPointerMove(benchmark::State& state) {
    CountingSink sink;
    NoSas sas;
    InputController controller(sink, sas);
    controller.add_client(7);
    controller.add_client(8);  // a second session, as on a busy host
    InputEvent move;
    move.kind = 1;
    put_f32(move, 0, 3.25f);
    put_f32(move, 4, -1.5f);
    std::uint64_t seq = 0, now = 1000;
    for (auto _ : state) {
        move.seq = ++seq;
        controller.dispatch_event(7, move, now += 8);
    }
    benchmark::DoNotOptimize(sink.calls);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchPointerMove);

void BM_DispatchKeyEvent(benchmark::State& state) {
    CountingSink sink;
    NoSas sas;
    InputController controller(sink, sas);
    controller.add_client(7);
    controller.add_client(8);
    InputEvent key;
    key.kind = 4;
    key.payload[0] = 0x04;  // "a", alternately down and up
    std::uint64_t seq = 0, now = 1000;
    for (auto _ : state) {
        key.seq = ++seq;
        key.payload[2] = static_cast<std::uint8_t>(seq & 1);
        controller.dispatch_event(7, key, now += 8);
    }
    benchmark::DoNotOptimize(sink.calls);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchKeyEvent);

}  // namespace
}  // namespace korvex
