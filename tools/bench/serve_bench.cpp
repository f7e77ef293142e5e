// keyvane-terminal serve against its floors, on a root made from the sample
// terminal with the wedge running:
// - from the wedge's last typed key to the state that shows it arriving on a
//   page's event stream (what the page draws from), median and 99th
//   percentile over 200 scans, against the wedge's own delivery time (the
//   scan key pressed to the last key typed) in the same scans;
// - the server's resident memory and processor time with 50 pages open and
//   idle, against the server with no page open, and during 200 scans against
//   the wedge's own processor time for them.
//   build/default/tools/bench/bench_serve
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"
#include "tests/support/served.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kConsole = KEYVANE_CONSOLE_PATH;
const std::string kSample = std::string(KEYVANE_SOURCE_DIR) + "/samples/terminal";
constexpr int kScans = 200;
constexpr int kPages = 50;

int console(const std::vector<std::string>& words) {
    std::string command = "'" + kConsole + "'";
    for (const auto& w : words) command += " '" + w + "'";
    return std::system((command + " >/dev/null 2>&1").c_str());
}

using Server = served::Server;

Server startServer(const std::string& root) {
    return served::start(kConsole, root);
}

// A page's event stream: the states as they arrive, each with its moment.
class Page {
public:
    Page(const Server& s) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(s.port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        std::string host = "127.0.0.1:" + std::to_string(s.port);
        std::string request = "GET /api/events HTTP/1.1\r\nHost: " + host + "\r\nCookie: keyvane-" +
                              std::to_string(s.port) + "=" + s.token + "\r\nAccept: text/event-stream\r\n\r\n";
        if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return;
        reader_ = std::thread([this] { read(); });
    }
    ~Page() {
        if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) close(fd_);
    }
    // The moment the first state holding `text` arrived, waiting up to 10 s for it.
    bool arrived(const std::string& text, Clock::time_point& when) {
        std::unique_lock<std::mutex> hold(mutex_);
        bool ok = changed_.wait_for(hold, std::chrono::seconds(10), [&] {
            for (const auto& [t, state] : states_)
                if (state.find(text) != std::string::npos) {
                    when = t;
                    return true;
                }
            return false;
        });
        states_.clear();
        return ok;
    }
    size_t received() const { return count_.load(); }

private:
    void read() {
        std::string pending;
        char buffer[65536];
        for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            Clock::time_point now = Clock::now();
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t at; (at = pending.find("\ndata: ")) != std::string::npos;) {
                size_t end = pending.find('\n', at + 7);
                if (end == std::string::npos) break;
                std::lock_guard<std::mutex> hold(mutex_);
                states_.emplace_back(now, pending.substr(at + 7, end - at - 7));
                count_.fetch_add(1);
                pending.erase(0, end);
                changed_.notify_all();
            }
            if (pending.size() > (1u << 20)) pending.clear();
        }
    }

    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<Clock::time_point, std::string>> states_;
    std::atomic<size_t> count_{0};
};

// Resident memory (kB) and processor time (ms) of a process.
struct Use {
    long rssKb = 0;
    double cpuMs = 0;
};
Use useOf(pid_t pid) {
    Use u;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) u.rssKb = std::stol(line.substr(6));
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = all.rfind(')');
    if (close == std::string::npos) return u;
    std::istringstream fields(all.substr(close + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> f; ++i) {
        if (i == 14) utime = std::stoull(f);
        if (i == 15) {
            stime = std::stoull(f);
            break;
        }
    }
    u.cpuMs = static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return u;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Terminal {
    std::string root;
    Server server;
    int wedge = 0;

    bool make() {
        char folder[] = "/tmp/keyvane-bench-serve-XXXXXX";
        if (mkdtemp(folder) == nullptr) return false;
        root = folder;
        if (console({"--root", root, "init", "--from", kSample}) != 0) return false;
        if (console({"--root", root, "start"}) != 0) return false;
        if (!terminal::attach(root)) return false;
        for (const auto& w : terminal::windows())
            if (w.title == u"Keyvane") wedge = w.pid;
        server = startServer(root);
        return server.port > 0 && wedge > 0;
    }
    ~Terminal() {
        if (server.pid > 0) {
            kill(server.pid, SIGINT);
            waitpid(server.pid, nullptr, 0);
        }
        if (!root.empty()) {
            console({"--root", root, "stop"});
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    }
};

// One scan as a person makes it: the barcode in view, the key held until the
// text is typed, let go. The delivery: the key pressed to the last key typed.
bool scan(int n, Clock::time_point& pressed, Clock::time_point& typed, std::string& data) {
    data = "S" + std::to_string(100000 + n);
    terminal::clearFocusText();
    terminal::Barcode b;
    b.data = data;
    b.symbologyLetter = 'j';
    b.symbologyId = -1;
    terminal::putInView(b);
    std::u16string expected = u"C128 ";
    for (char c : data) expected += static_cast<char16_t>(c);
    expected += u" END\n";
    pressed = Clock::now();
    terminal::pressKey(42);
    bool ok = false;
    for (auto deadline = pressed + std::chrono::seconds(10); Clock::now() < deadline;) {
        terminal::waitFocusText(expected.size(), 1000);
        if (terminal::focusText() == expected) {
            ok = true;
            break;
        }
    }
    typed = Clock::now();
    if (!ok) {
        std::string shown;
        for (char16_t c : terminal::focusText()) shown += c < 128 ? static_cast<char>(c) : '?';
        std::fprintf(stderr, "scan %d: the screen shows \"%s\"\n", n, shown.c_str());
    }
    terminal::releaseKey(42);
    terminal::clearView();
    // The press is over once the wedge switched its lights off (EnableLEDs):
    // a press before that would find it still waiting for the release.
    for (auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;) {
        uint64_t seen = terminal::changeCount();
        if (terminal::ledState(1) == 0 && terminal::ledState(2) == 0) break;
        terminal::waitForChange(seen, 1000);
    }
    return ok;
}

void BM_ServeScanToPage(benchmark::State& state) {
    Terminal t;
    if (!t.make()) {
        state.SkipWithError("cannot serve the sample terminal");
        return;
    }
    std::vector<double> toPage, delivery;
    std::vector<std::unique_ptr<Page>> pages;
    for (int i = 0; i < kPages; ++i) pages.push_back(std::make_unique<Page>(t.server));
    Page& watched = *pages.front();
    Use before{}, after{}, wedgeBefore{}, wedgeAfter{};
    size_t statesBefore = 0, statesAfter = 0;
    for (auto _ : state) {
        before = useOf(t.server.pid);
        wedgeBefore = useOf(t.wedge);
        statesBefore = watched.received();
        for (int n = 0; n < kScans; ++n) {
            Clock::time_point pressed, typed, shown;
            std::string data;
            if (!scan(n, pressed, typed, data)) {
                state.SkipWithError("a scan was not typed");
                return;
            }
            if (!watched.arrived(data + " END", shown)) {
                state.SkipWithError("a page did not see a scan");
                return;
            }
            delivery.push_back(ms(typed - pressed));
            toPage.push_back(std::max(0.0, ms(shown - typed)));
        }
        after = useOf(t.server.pid);
        wedgeAfter = useOf(t.wedge);
        statesAfter = watched.received();
    }
    state.counters["states_per_scan"] = static_cast<double>(statesAfter - statesBefore) / kScans;
    double pageMedian = percentile(toPage, 0.5), page99 = percentile(toPage, 0.99);
    double deliveryMedian = percentile(delivery, 0.5), delivery99 = percentile(delivery, 0.99);
    state.counters["page_median_ms"] = pageMedian;
    state.counters["page_p99_ms"] = page99;
    state.counters["delivery_median_ms"] = deliveryMedian;
    state.counters["delivery_p99_ms"] = delivery99;
    state.counters["median_ratio"] = deliveryMedian > 0 ? pageMedian / deliveryMedian : 0;
    state.counters["p99_ratio"] = delivery99 > 0 ? page99 / delivery99 : 0;
    double serverCpu = after.cpuMs - before.cpuMs, wedgeCpu = wedgeAfter.cpuMs - wedgeBefore.cpuMs;
    state.counters["server_cpu_ms"] = serverCpu;
    state.counters["wedge_cpu_ms"] = wedgeCpu;
    state.counters["cpu_ratio"] = wedgeCpu > 0 ? serverCpu / wedgeCpu : 0;
    state.counters["server_rss_kb"] = static_cast<double>(after.rssKb);
    state.counters["pages"] = kPages;
    state.counters["scans"] = kScans;
}

// 50 pages open and idle against none, for the same while.
void BM_ServeIdlePages(benchmark::State& state) {
    Terminal t;
    if (!t.make()) {
        state.SkipWithError("cannot serve the sample terminal");
        return;
    }
    constexpr auto kWhile = std::chrono::seconds(5);
    Use none0{}, none1{}, open0{}, open1{};
    for (auto _ : state) {
        none0 = useOf(t.server.pid);
        std::this_thread::sleep_for(kWhile);
        none1 = useOf(t.server.pid);
        std::vector<std::unique_ptr<Page>> pages;
        for (int i = 0; i < kPages; ++i) pages.push_back(std::make_unique<Page>(t.server));
        // Each has its first state before the idle time is counted.
        for (auto deadline = Clock::now() + std::chrono::seconds(20); Clock::now() < deadline;)
            if (std::all_of(pages.begin(), pages.end(), [](const auto& p) { return p->received() > 0; })) break;
        open0 = useOf(t.server.pid);
        std::this_thread::sleep_for(kWhile);
        open1 = useOf(t.server.pid);
    }
    double seconds = std::chrono::duration<double>(kWhile).count();
    state.counters["rss_kb_no_page"] = static_cast<double>(none1.rssKb);
    state.counters["rss_kb_50_pages"] = static_cast<double>(open1.rssKb);
    state.counters["rss_ratio"] = none1.rssKb > 0 ? static_cast<double>(open1.rssKb) / static_cast<double>(none1.rssKb) : 0;
    state.counters["cpu_ms_per_s_no_page"] = (none1.cpuMs - none0.cpuMs) / seconds;
    state.counters["cpu_ms_per_s_50_pages"] = (open1.cpuMs - open0.cpuMs) / seconds;
}

BENCHMARK(BM_ServeScanToPage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ServeIdlePages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
