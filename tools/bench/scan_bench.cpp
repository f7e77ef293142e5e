// The scan engine's decode of one frame against the bare reader on the same
// image, in the same run (counter "ratio" = engine / bare, goal <= 1.2), and
// frames per second of continuous decoding at 640 x 480 (goal >= 30). The
// engine reads as the decoder library does: in the reader process.
// "cpu_ratio" compares the processor time of both processes to the bare
// reader's: on a busy machine the wall-time ratio also counts the waits for
// a core at the two hand-overs of each frame.
//   build/default/tools/bench/bench_scan
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ZXing/ReadBarcode.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ctime>
#include <string>

#include "platform/decoder/imaging/frames.h"
#include "platform/decoder/imaging/label.h"
#include "platform/decoder/imaging/reader_process.h"
#include "platform/decoder/imaging/symbols.h"

namespace {

using namespace scanimage;

GrayImage label(const char* format, const std::string& data, int module) {
    GrayImage image;
    std::string error;
    LabelStyle style;
    style.moduleSize = module;
    style.barHeight = 60;
    renderLabel(*formatByName(format), data, style, image, error);
    return image;
}

GrayImage picture(int width, int height, int labels) {
    GrayImage p = canvas(width, height);
    place(p, rotated(label("Code128", "ORDER-0042", 2), 4), 30, 20);
    if (labels > 1) place(p, label("QRCode", "LOT-77/2025", 3), width / 2, height / 3);
    if (labels > 2) place(p, label("EAN-13", "4006381333931", 2), 40, height * 2 / 3);
    p = blurred(p, 0.6);
    addNoise(p, 6, 1);
    return p;
}

// CPU time of this thread, and of the reader process (its scheduler
// statistics), in seconds: the cost of a decode whatever else the machine
// runs, where wall time also counts the waits for a free core.
double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double readerCpu() {
    std::ifstream stat("/proc/" + std::to_string(readerProcess()) + "/schedstat");
    double ns = 0;
    stat >> ns;
    return ns / 1e9;
}

// The same hints the engine gives the reader, all formats enabled.
ZXing::DecodeHints bareHints() {
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    hints.setTryDownscale(false);
    hints.setReturnCodabarStartEnd(true);
    hints.setMaxNumberOfSymbols(kMaxSymbols);
    return hints;
}

void EngineAgainstBareReader(benchmark::State& state) {
    int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    int labels = static_cast<int>(state.range(2));
    std::string path = "/tmp/keyvane-bench-" + std::to_string(getpid()) + ".png";
    saveImage(path, picture(width, height, labels));
    FrameSource source;
    openStillImage(source, path);
    std::filesystem::remove(path);
    const GrayImage& frame = *source.current(source.state, 0).image;
    ZXing::ImageView view(frame.pixels.data(), frame.width, frame.height, ZXing::ImageFormat::Lum);
    ZXing::DecodeHints hints = bareHints();
    ReadRequest request = openRequest();
    Symbol symbols[kMaxSymbols];
    // The reader process is started before the clock runs.
    readSymbolsApart(frame, request, symbols, kMaxSymbols, ReaderWait{});
    double bare = 0, engine = 0, bareCpu = 0, engineCpu = 0;
    size_t found = 0, foundBare = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        double c0 = threadCpu();
        auto results = ZXing::ReadBarcodes(view, hints);
        double c1 = threadCpu(), r1 = readerCpu();
        auto t1 = Clock::now();
        Frame f = source.current(source.state, 0);
        int n = readSymbolsApart(*f.image, request, symbols, kMaxSymbols, ReaderWait{});
        auto t2 = Clock::now();
        double c2 = threadCpu(), r2 = readerCpu();
        benchmark::DoNotOptimize(results);
        bare += std::chrono::duration<double>(t1 - t0).count();
        engine += std::chrono::duration<double>(t2 - t1).count();
        bareCpu += c1 - c0;
        engineCpu += (c2 - c1) + (r2 - r1);
        foundBare = results.size();
        found = static_cast<size_t>(n);
    }
    closeFrameSource(source);
    double iterations = static_cast<double>(state.iterations());
    state.counters["bare_ms"] = bare / iterations * 1000;
    state.counters["engine_ms"] = engine / iterations * 1000;
    state.counters["ratio"] = engine / bare;
    state.counters["cpu_ratio"] = engineCpu / bareCpu;
    state.counters["found"] = static_cast<double>(found);
    state.counters["found_bare"] = static_cast<double>(foundBare);
}
BENCHMARK(EngineAgainstBareReader)
    ->Args({640, 480, 1})
    ->Args({640, 480, 3})
    ->Args({1280, 720, 1})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// A folder of ten different 640 x 480 frames decoded one after another, as
// the engine does while the trigger holds: /1 in the reader process as the
// engine reads, /0 the same frames read in this process (its floor).
void ContinuousFrames640x480(benchmark::State& state) {
    std::string folder = "/tmp/keyvane-bench-frames-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 10; ++i) {
        GrayImage p = canvas(640, 480);
        place(p, rotated(label("Code128", "FRAME-" + std::to_string(i), 2), i), 40 + 20 * i, 30 + 30 * i);
        p = blurred(p, 0.6);
        addNoise(p, 6, static_cast<uint32_t>(i));
        char name[32];
        std::snprintf(name, sizeof name, "/%02d.png", i);
        saveImage(folder + name, p);
    }
    FrameSource source;
    openFrameFolder(source, folder, 1000);
    ReadRequest request = openRequest();
    Symbol symbols[kMaxSymbols];
    uint32_t now = 0;
    int reads = 0;
    for (auto _ : state) {
        // One frame later each time (1000 frames per second: every call a new frame).
        Frame f = source.current(source.state, now);
        now = (now + 1) % 10;
        if (f.image == nullptr) continue;
        reads += (state.range(0) != 0 ? readSymbolsApart(*f.image, request, symbols, kMaxSymbols, ReaderWait{})
                                      : readSymbols(*f.image, request, symbols, kMaxSymbols)) > 0;
    }
    closeFrameSource(source);
    std::filesystem::remove_all(folder);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["read_share"] = static_cast<double>(reads) / static_cast<double>(state.iterations());
}
// Real time: the reading is done by the reader process, not this thread.
BENCHMARK(ContinuousFrames640x480)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    setenv("KEYVANE_READER", KEYVANE_READER_PATH, 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopReader();
    return 0;
}
