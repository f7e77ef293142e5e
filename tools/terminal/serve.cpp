// keyvane-terminal serve: the handheld in a browser. Serves one terminal
// root (or a temporary one made from a settings folder) to a page that shows
// it live: an event thread sleeps in the terminal's change call and sends a
// new state to every open page when what it shows changed; the page's
// actions are the console's commands. The requests themselves are answered
// by serve_api.cpp, apart from the socket.
#include <httplib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <ostream>
#include <thread>

#include "console.h"
#include "platform/host/terminal.h"
#include "serve_api.h"
#include "serve_state.h"

#ifndef KEYVANE_WEB_FROM_BINDIR
#define KEYVANE_WEB_FROM_BINDIR "../share/keyvane/web"
#endif

namespace console {

namespace {

namespace fs = std::filesystem;

// The open pages at most (each holds a connection and a thread of the pool).
constexpr int kMostPages = 64;
constexpr int kThreads = kMostPages + 8;
// How long the terminal is still before a burst of changes is drawn, and
// the longest a burst waits (milliseconds).
constexpr int kSettleMs = 3;
constexpr int kMostSettleMs = 15;
// A quiet stream says it still stands this often, so that a page gone away is noticed.
constexpr int kKeepAliveSeconds = 10;

// The end of the server: a signal's handler writes to this pipe, which the
// command's own thread reads (the signals stay unblocked for every process
// the server starts).
int endingPipe[2] = {-1, -1};

void onEndingSignal(int) {
    char b = 1;
    ssize_t ignored = write(endingPipe[1], &b, 1);
    (void)ignored;
}

// The state the event thread made last, and the open pages waiting for the next.
struct Hub {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t version = 0;
    std::string state;
    bool stopping = false;
    int pages = 0;
};

// The page's folder: beside the program in the build tree, else where the package installs it.
std::string webFolder() {
    if (const char* env = std::getenv("KEYVANE_WEB"); env != nullptr && *env) return env;
    std::error_code ec;
    for (const std::string& candidate :
         {selfDirectory() + "/web", selfDirectory() + "/" + std::string(KEYVANE_WEB_FROM_BINDIR)})
        if (fs::exists(candidate + "/index.html", ec)) return fs::weakly_canonical(candidate, ec).string();
    return "";
}

// The token of a root served before is kept (owner-only) so that a page open
// across a restart of the server finds it again; else a fresh one.
std::string siteToken(const std::string& uploads) {
    std::string path = uploads + "/token";
    struct stat st {};
    std::string kept;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0 &&
        readHostFile(path, kept) && kept.size() == 33 && kept.back() == '\n') {
        kept.pop_back();
        if (kept.find_first_not_of("0123456789abcdef") == std::string::npos) return kept;
    }
    std::string token = serve::newToken();
    if (token.empty()) return token;
    std::string part = path + ".part";
    unlink(part.c_str());
    if (FILE* f = std::fopen(part.c_str(), "wx")) {
        std::fputs((token + "\n").c_str(), f);
        std::fclose(f);
        rename(part.c_str(), path.c_str());
    }
    return token;
}

serve::Request requestOf(const httplib::Request& in) {
    serve::Request r;
    r.method = in.method;
    r.path = in.path;
    for (const auto& [k, v] : in.params) r.query.emplace_back(k, v);
    for (const auto& [k, v] : in.headers) r.headers.emplace_back(k, v);
    r.body = in.body;
    return r;
}

void eventThread(const Options& options, Hub& hub) {
    uint64_t seen = terminal::changeCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(hub.mutex);
            if (hub.stopping) return;
        }
        std::string state = serve::snapshotJson(options);
        // One line: the stream's data lines end at a line break.
        state.erase(std::remove(state.begin(), state.end(), '\n'), state.end());
        {
            std::lock_guard<std::mutex> hold(hub.mutex);
            if (state != hub.state) {
                hub.state = std::move(state);
                ++hub.version;
                hub.changed.notify_all();
            }
        }
        uint64_t now = terminal::waitForChange(seen, 5000);
        // A burst (a barcode's keys, one by one) is drawn once: the state is
        // made when the terminal has been still for a moment, or a little
        // later at the most, not once per key.
        auto first = std::chrono::steady_clock::now();
        while (now != seen && std::chrono::steady_clock::now() - first < std::chrono::milliseconds(kMostSettleMs)) {
            seen = now;
            now = terminal::waitForChange(seen, kSettleMs);
        }
        seen = now;
    }
}

// Sends the state to one page each time it changes, until the page goes or the server ends.
bool streamEvents(Hub& hub, uint64_t& sent, httplib::DataSink& sink) {
    std::string message;
    {
        std::unique_lock<std::mutex> hold(hub.mutex);
        hub.changed.wait_for(hold, std::chrono::seconds(kKeepAliveSeconds),
                             [&] { return hub.stopping || hub.version != sent; });
        if (hub.stopping) {
            sink.done();
            return false;
        }
        if (sent == 0) message = "retry: 1000\n";
        if (hub.version != sent) {
            message += "event: state\ndata: " + hub.state + "\n\n";
            sent = hub.version;
        } else {
            message += ": still here\n\n";
        }
    }
    return sink.write(message.data(), message.size());
}

void answer(serve::Site& site, Hub& hub, const httplib::Request& in, httplib::Response& out) {
    serve::Response r = serve::handle(site, requestOf(in));
    out.status = r.status;
    for (const auto& [k, v] : r.headers) out.set_header(k.c_str(), v);
    out.set_header("Cache-Control", "no-store");
    out.set_header("X-Content-Type-Options", "nosniff");
    out.set_header("Referrer-Policy", "no-referrer");
    out.set_header("X-Frame-Options", "DENY");
    out.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data: blob:; style-src 'self'; script-src 'self'; "
                   "connect-src 'self'; frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
    if (!r.events) {
        out.set_content(r.body, r.contentType.c_str());
        return;
    }
    {
        std::lock_guard<std::mutex> hold(hub.mutex);
        if (hub.pages >= kMostPages) {
            out.status = 503;
            out.set_content("too many pages open\n", "text/plain");
            return;
        }
        ++hub.pages;
    }
    auto sent = std::make_shared<uint64_t>(0);
    out.set_chunked_content_provider(
        "text/event-stream",
        [&hub, sent](size_t, httplib::DataSink& sink) { return streamEvents(hub, *sent, sink); },
        [&hub](bool) {
            std::lock_guard<std::mutex> hold(hub.mutex);
            --hub.pages;
        });
}

std::string urlHost(const std::string& listen) {
    if (listen == "0.0.0.0") return "127.0.0.1";
    if (listen == "::" || listen == "[::]") return "[::1]";
    return listen.find(':') != std::string::npos && listen.front() != '[' ? "[" + listen + "]" : listen;
}

}  // namespace

int serveCommand(const Options& given, const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionGiven> options_;
    Args rest;
    if (int rc = readOptions(args[0], args, 1, kNoWords, options_, rest, err); rc != kOk) return rc;
    std::string listen = "127.0.0.1", from;
    int port = 0;
    for (const OptionGiven& o : options_) {
        if (o.is("--listen")) listen = o.text;
        if (o.is("--port")) port = static_cast<int>(o.number);
        if (o.is("--from")) from = o.text;
    }
    if (listen.size() > 2 && listen.front() == '[' && listen.back() == ']') listen = listen.substr(1, listen.size() - 2);
    std::string web = webFolder();
    if (web.empty())
        return failure(args[0], err, "the page is missing (no web/index.html beside " + selfDirectory() + " nor " +
                                         KEYVANE_WEB_FROM_BINDIR + ")");
    Options options = given;
    options.progress = nullptr;
    bool temporary = false;
    std::error_code ec;
    if (!from.empty()) {
        if (!fs::is_directory(from, ec)) return usage(args[0], err, "no folder " + from);
        if (!makeTemporaryFolder("serve", options.root)) return failure(args[0], err, "cannot make a temporary terminal root");
        temporary = true;
        std::ostringstream made, problems;
        if (runCommand(options, {"init", "--from", from}, made, problems) != kOk) {
            err << problems.str();
            fs::remove_all(options.root, ec);
            return kFailed;
        }
    } else if (!terminal::isRoot(options.root)) {
        return usage(args[0], err,
                     "no terminal at " + options.root + " (make one with: keyvane-terminal --root " + options.root +
                         " init, or serve --from a settings folder)");
    }
    if (!terminal::attach(options.root)) return failure(args[0], err, "cannot attach to the terminal at " + options.root);
    if (std::string unsafe = terminal::safetyProblem(); !unsafe.empty()) return failure(args[0], err, unsafe);

    if (endingPipe[0] < 0 && pipe2(endingPipe, O_CLOEXEC) != 0) return failure(args[0], err, "cannot make a pipe");
    struct sigaction ending {};
    ending.sa_handler = onEndingSignal;
    sigemptyset(&ending.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &ending, nullptr);
    signal(SIGPIPE, SIG_IGN);

    serve::Site site;
    site.options = options;
    site.listen = listen;
    site.webFolder = web;
    site.uploads = options.root + "/.terminal/serve";
    site.console = fs::read_symlink("/proc/self/exe", ec).string();
    mkdir(site.uploads.c_str(), 0700);
    if (!terminal::insideRoot(site.uploads)) return failure(args[0], err, site.uploads + " leaves the terminal root");
    site.token = siteToken(site.uploads);
    if (site.token.empty()) return failure(args[0], err, "no random bytes for the token");

    Hub hub;
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_payload_max_length(serve::largestBody());
    server.set_read_timeout(5, 0);
    server.set_idle_interval(0, 100000);
    server.set_write_timeout(10, 0);
    server.set_keep_alive_timeout(5);
    // A state is written as it is made: no waiting for the last one's acknowledgement.
    server.set_tcp_nodelay(true);
    auto handler = [&](const httplib::Request& in, httplib::Response& res) { answer(site, hub, in, res); };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Patch(".*", handler);
    server.Delete(".*", handler);
    server.Options(".*", handler);
    int bound = port == 0 ? server.bind_to_any_port(listen) : (server.bind_to_port(listen, port) ? port : -1);
    if (bound <= 0) {
        if (temporary) fs::remove_all(options.root, ec);
        return failure(args[0], err, "cannot listen on " + urlHost(listen) + ":" + std::to_string(port));
    }
    site.port = bound;

    bool startedWedge = false;
    if (temporary) {
        std::string problems;
        int rc = 0;
        serve::commandJson(options, {"start"}, &rc, &problems);
        startedWedge = rc == kOk;
        if (!startedWedge) err << problems;
    }
    std::thread events(eventThread, std::cref(options), std::ref(hub));
    std::thread listener([&] { server.listen_after_bind(); });
    std::string url = "http://" + urlHost(listen) + ":" + std::to_string(bound) + "/?token=" + site.token;
    if (options.json)
        printRecord(options, {{"url", url}, {"port", bound}, {"root", options.root}, {"temporary", temporary}}, out);
    else
        out << "serving " << options.root << "\nopen " << url << "\n(Ctrl-C ends)\n";
    out.flush();

    char b = 0;
    while (read(endingPipe[0], &b, 1) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> hold(hub.mutex);
        hub.stopping = true;
        hub.changed.notify_all();
    }
    terminal::noteChange();
    server.stop();
    listener.join();
    events.join();
    if (startedWedge) {
        std::ostringstream o, e;
        if (runCommand(options, {"stop", "--timeout", "5s"}, o, e) != kOk) runCommand(options, {"kill"}, o, e);
    }
    if (temporary) fs::remove_all(options.root, ec);
    return kOk;
}

}  // namespace console
