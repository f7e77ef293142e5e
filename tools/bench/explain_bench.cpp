// keyvane-terminal explain for ten barcodes under the sample terminal's
// settings, against its floor: the same ten scans through the console's own
// start, scan and stop on a root made from the same sample terminal.
//   build/tools/bench/bench_explain
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kConsole = KEYVANE_CONSOLE_PATH;
const std::string kSamples = std::string(KEYVANE_SOURCE_DIR) + "/samples";
constexpr int kBarcodes = 10;

std::string barcode(int n) {
    return std::to_string(10000 + n);
}

// Runs the console with `args`, its output dropped; its exit code.
int console(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string exe = kConsole;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ExplainTenBarcodes(benchmark::State& state) {
    std::vector<std::string> args = {"explain", "--settings", kSamples + "/terminal/Zentrova/Keyvane.ini"};
    for (int n = 1; n <= kBarcodes; ++n) args.insert(args.end(), {barcode(n), "--sym", "code128"});
    for (auto _ : state)
        if (console(args) != 0) state.SkipWithError("explain failed");
}

// The floor: a scenario of the console's own commands on a root of the
// sample terminal, the clock as explain sets it.
void BM_ConsoleScansTenBarcodes(benchmark::State& state) {
    char folder[] = "/tmp/keyvane-bench-explain-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string scenario = std::string(folder) + "/ten.scenario";
    {
        std::ofstream out(scenario);
        out << "init --from " << kSamples << "/terminal\nclock 20\nstart\n";
        for (int n = 1; n <= kBarcodes; ++n) out << "scan " << barcode(n) << " --sym code128\n";
        out << "stop\n";
    }
    for (auto _ : state)
        if (console({"run", scenario, "--quiet"}) != 0) state.SkipWithError("the scenario failed");
    std::error_code ec;
    fs::remove_all(folder, ec);
}

BENCHMARK(BM_ExplainTenBarcodes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ConsoleScansTenBarcodes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
