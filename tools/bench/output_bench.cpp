// Speed of the data output on the host terminal at real-time clock speed.
//
// DeliverMixedCase types a 30-character mixed-case barcode and an Enter
// suffix with InterCharacterDelay 1. Its typing speed is set by fixed pauses
// (2 ms for each key, 10 ms more after Enter, the character delay after each
// character); the counter "overhead" is the measured time of one delivery
// divided by the sum of those pauses (1.0 would be no cost beyond them).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "output/delivery.h"
#include "output/framing.h"
#include "platform/host/terminal.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "shell/app.h"

namespace {

struct BenchTerminal {
    std::string root;
    BenchTerminal() {
        char pattern[] = "/tmp/keyvane-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        root = made ? made : "/tmp/keyvane-bench";
        terminal::attach(root);
        terminal::setClockSpeed(1);
        terminal::setFocusClass(u"Edit");
        resetProcessState();
        fillCharacterToKeyTable(0);
    }
    ~BenchTerminal() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

BenchTerminal& benchTerminal() {
    static BenchTerminal t;
    return t;
}

constexpr char16_t kBarcode[] = u"AbCdEfGhIjKlMnOpQrStUvWxYz0a1B";
static_assert(sizeof kBarcode / sizeof kBarcode[0] == 31, "30 characters");

void DeliverMixedCase(benchmark::State& state) {
    benchTerminal();
    settings.SendToForegroundApp = 1;
    settings.SendData.store(0);
    settings.InterCharacterDelay = 1;
    const WORD suffix[] = {13, 0};
    const double pauses = 30 * (2.0 + 1.0) + (2.0 + 10.0 + 1.0);  // ms
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        deliverText(nullptr, kBarcode, suffix, 0, 0, 30);
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        terminal::clearFocusText();
        terminal::clearKeyEvents();
        state.ResumeTiming();
    }
    state.counters["pauses_ms"] = pauses;
    state.counters["overhead"] = total / static_cast<double>(state.iterations()) / pauses;
}
BENCHMARK(DeliverMixedCase)->Unit(benchmark::kMillisecond)->Iterations(20);

void BuildXr1Frame(benchmark::State& state) {
    std::string data(static_cast<size_t>(state.range(0)), 'x');
    unsigned char frame[kFrameBytes];
    for (auto _ : state) {
        size_t length = buildFrame(FramingXr1, data.data(), static_cast<int>(data.size()), frame);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BuildXr1Frame)->Arg(16)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
