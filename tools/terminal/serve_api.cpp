// keyvane-terminal serve: one request in, one response out. The page's reads
// are the console's records (serve_state.cpp); its actions are the console's
// commands, run here with words the server puts together: a request names no
// file (the server writes uploads itself, owner-only, inside the root, and
// passes their paths), and a word from a request is never taken as an option.
#include "serve_api.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/decoder/imaging/image.h"
#include "platform/host/terminal.h"
#include "serve_state.h"

namespace console::serve {

namespace fs = std::filesystem;

namespace {

// The decode buffer holds 4096 bytes: no barcode or card carries more.
constexpr size_t kMostDataBytes = 4096;

// The actions run one at a time (a person's pace); the console's commands
// share process-wide records.
std::mutex& actionMutex() {
    static std::mutex m;
    return m;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

const std::string* header(const Request& r, const char* name) {
    for (const auto& [k, v] : r.headers)
        if (lower(k) == name) return &v;
    return nullptr;
}

const std::string* parameter(const Request& r, const char* name) {
    for (const auto& [k, v] : r.query)
        if (k == name) return &v;
    return nullptr;
}

std::string parameterOr(const Request& r, const char* name, const std::string& otherwise) {
    const std::string* p = parameter(r, name);
    return p != nullptr ? *p : otherwise;
}

bool sameSecret(const std::string& a, const std::string& b) {
    // Constant time in the secret's length: every byte is looked at.
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

Response text(int status, const std::string& body) {
    Response r;
    r.status = status;
    r.body = body + "\n";
    return r;
}

Response json(int status, const std::string& body) {
    Response r;
    r.status = status;
    r.contentType = "application/json";
    r.body = body;
    return r;
}

// ------------------------------------------------------------------ the checks of every request
bool ipLiteral(const std::string& name) {
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') return true;
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

bool wildcard(const std::string& listen) {
    return listen == "0.0.0.0" || listen == "::" || listen == "[::]";
}

std::string bracketed(const std::string& address) {
    return address.find(':') != std::string::npos && address.front() != '[' ? "[" + address + "]" : address;
}

// The Host a browser sends for this server: the loopback names, the address
// listened on, and on a wildcard address any address literal or this
// machine's name, each with the port.
bool hostAllowed(const Site& site, const std::string& host) {
    std::string port = ":" + std::to_string(site.port);
    if (host.size() <= port.size() || host.compare(host.size() - port.size(), port.size(), port) != 0) return false;
    std::string name = lower(host.substr(0, host.size() - port.size()));
    if (name == "127.0.0.1" || name == "localhost" || name == "[::1]" || name == lower(bracketed(site.listen)))
        return true;
    if (!wildcard(site.listen)) return false;
    char machine[256] = {};
    return ipLiteral(name) || (gethostname(machine, sizeof machine - 1) == 0 && name == lower(machine));
}

std::string cookieToken(const Site& site, const Request& r) {
    const std::string* cookies = header(r, "cookie");
    if (cookies == nullptr) return "";
    std::string want = cookieName(site) + "=";
    size_t at = 0;
    while (at < cookies->size()) {
        size_t end = cookies->find(';', at);
        if (end == std::string::npos) end = cookies->size();
        size_t b = cookies->find_first_not_of(' ', at);
        if (b != std::string::npos && b < end && cookies->compare(b, want.size(), want) == 0)
            return cookies->substr(b + want.size(), end - b - want.size());
        at = end + 1;
    }
    return "";
}

// ------------------------------------------------------------------ files the server writes
// Makes `folder` (inside the root, owner-only, no symbolic link).
bool ownFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0 && terminal::insideRoot(folder);
}

// Writes a new file (never one that exists, never through a symbolic link),
// owner-only, inside the root.
bool writeNewFile(const std::string& path, const std::string& bytes) {
    if (!terminal::insideRoot(path)) return false;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    bool ok = fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) unlink(path.c_str());
    return ok;
}

std::string uniqueName(const char* stem, const char* extension) {
    static std::atomic<unsigned> next{0};
    char name[96];
    std::snprintf(name, sizeof name, "%s-%d-%u%s", stem, static_cast<int>(getpid()), next.fetch_add(1), extension);
    return name;
}

// A fresh folder for one draft of a settings file, removed when it goes.
struct Draft {
    std::string folder, path;
    explicit Draft(const Site& site) {
        if (!ownFolder(site.uploads)) return;
        std::string f = site.uploads + "/" + uniqueName("draft", "");
        if (mkdir(f.c_str(), 0700) == 0) folder = f;
    }
    ~Draft() {
        std::error_code ec;
        if (!folder.empty()) fs::remove_all(folder, ec);
    }
    bool write(const std::string& name, const std::string& bytes) {
        if (folder.empty()) return false;
        path = folder + "/" + name;
        return writeNewFile(path, bytes);
    }
    Draft(const Draft&) = delete;
    Draft& operator=(const Draft&) = delete;
};

// ------------------------------------------------------------------ running the console's commands
// A request's word for a command: never one of the command's options (a
// request names no file and no folder), never empty where a value is meant.
bool wordRefused(const std::string& command, const std::string& word, std::string& problem) {
    if (const OptionRule* o = findOption(command, word)) {
        bool path = o->kind == ValueKind::File || o->kind == ValueKind::Folder;
        problem = "\"" + escape(word) + "\" is an option of " + command + (path ? " that names a path" : "") +
                  ", not a value a request may give";
        return true;
    }
    if (word.size() > 1 && word[0] == '-' && word[1] == '-') {
        problem = "a value may not begin with --";
        return true;
    }
    return false;
}

// Runs `fixed` (the server's words) followed by `given` (a request's) and
// answers with the command's record, its exit code and what it said.
Response runAction(const Site& site, Args fixed, const Args& given) {
    std::string problem;
    for (const auto& w : given)
        if (wordRefused(fixed[0], w, problem)) return text(400, problem);
    fixed.insert(fixed.end(), given.begin(), given.end());
    if (!site.actions) return json(200, "{\"rc\":0,\"out\":null,\"problems\":\"\"}");
    int rc = 0;
    std::string problems;
    std::string out;
    {
        std::lock_guard<std::mutex> hold(actionMutex());
        out = commandJson(site.options, fixed, &rc, &problems);
    }
    return json(rc == kOk ? 200 : rc == kUsage ? 400 : 422, "{\"rc\":" + std::to_string(rc) + ",\"out\":" + out +
                                                                  ",\"problems\":" + jsonString(problems) + "}");
}

Response runChild(const Site& site, const Args& args, int realMilliseconds) {
    if (!site.actions) return json(200, "{\"rc\":0,\"out\":null,\"problems\":\"\"}");
    std::string out, err;
    int rc = runConsole(site.console, site.options, args, out, err, realMilliseconds);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return json(200, "{\"rc\":" + std::to_string(rc) + ",\"out\":" + (out.empty() ? "null" : out) +
                         ",\"problems\":" + jsonString(err) + "}");
}

// A barcode's or card's data as a person types it: escapes ("\\r", "\\x02") as the console reads them.
bool dataOf(const std::string& typed, std::string& data, Response& refused) {
    std::string problem;
    if (!unescape(typed, data, problem)) {
        refused = text(400, "the data: " + problem);
        return false;
    }
    if (data.empty() || data.size() > kMostDataBytes) {
        refused = text(400, "the data must be 1.." + std::to_string(kMostDataBytes) + " bytes");
        return false;
    }
    return true;
}

// ------------------------------------------------------------------ the routes
Response page(const Site& site, const Request& r);
Response staticFile(const Site& site, const Request& r);

Response state(const Site& site, const Request&) {
    if (!site.actions) return json(200, "{}");
    return json(200, snapshotJson(site.options));
}

Response events(const Site&, const Request&) {
    Response r;
    r.events = true;
    r.contentType = "text/event-stream";
    return r;
}

Response key(const Site& site, const Request& r) {
    std::string down = parameterOr(r, "down", "");
    if (down != "1" && down != "0") return text(400, "down must be 1 (hold) or 0 (release)");
    return runAction(site, {down == "1" ? "hold" : "release"}, {});
}

Response view(const Site& site, const Request& r) {
    std::string data;
    Response refused;
    if (!dataOf(r.body, data, refused)) return refused;
    Args given{data};
    Args fixed{"view"};
    if (const std::string* sym = parameter(r, "sym"); sym != nullptr && !sym->empty()) {
        std::string problem;
        if (wordRefused("view", *sym, problem)) return text(400, problem);
        // A symbology named by its name is both the reported letter and the
        // engine's id, as a scanned label is; a letter or a number names the
        // letter alone (a number given to --symid would be an engine id).
        bool named = sym->size() > 1 && std::any_of(sym->begin(), sym->end(), [](char c) { return c < '0' || c > '9'; });
        fixed = named ? Args{"view", "--sym", *sym, "--symid", *sym} : Args{"view", "--sym", *sym};
    }
    return runAction(site, fixed, given);
}

Response clearView(const Site& site, const Request&) {
    return runAction(site, {"clear-view"}, {});
}

// A number as label reads its turn and blur: digits and a point, a sign first.
bool fractionWord(const std::string& word) {
    size_t first = !word.empty() && word[0] == '-' ? 1 : 0;
    return word.size() > first && word.size() < 12 &&
           std::all_of(word.begin() + static_cast<long>(first), word.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

Response label(const Site& site, const Request& r) {
    std::string data;
    Response refused;
    if (!dataOf(r.body, data, refused)) return refused;
    std::string format = parameterOr(r, "format", "Code128");
    Args extra;
    for (const char* option : {"rotate", "blur"}) {
        const std::string* v = parameter(r, option);
        if (v == nullptr || v->empty()) continue;
        if (!fractionWord(*v)) return text(400, std::string(option) + " must be a number");
        extra.push_back(std::string("--") + option);
        extra.push_back(*v);
    }
    std::string problem;
    if (wordRefused("label", format, problem)) return text(400, problem);
    if (!site.actions) return json(200, "{\"rc\":0,\"out\":null,\"problems\":\"\"}");
    if (!ownFolder(site.uploads)) return text(500, "cannot make " + site.uploads);
    std::string out = site.uploads + "/" + uniqueName("label", ".png");
    if (!terminal::insideRoot(out)) return text(500, "the label would leave the terminal root");
    Args fixed{"label", "--sym", format, "--out", out};
    fixed.insert(fixed.end(), extra.begin(), extra.end());
    Response made = runAction(site, fixed, {data});
    if (made.status != 200) return made;
    return runAction(site, {"view", "--image", out}, {});
}

Response picture(const Site& site, const Request& r) {
    if (r.body.empty()) return text(400, "the picture is the body");
    if (r.body.size() > scanimage::kMaxFileBytes) return text(413, "the picture is larger than the engine reads");
    // Read once here, within the engine's limits, before anything is written.
    scanimage::GrayImage image;
    scanimage::LoadStatus status =
        scanimage::decodeImage(reinterpret_cast<const uint8_t*>(r.body.data()), r.body.size(), image);
    if (status == scanimage::LoadStatus::TooLarge) return text(413, "the picture is larger than the engine reads");
    if (status != scanimage::LoadStatus::Ok)
        return text(415, std::string("the engine cannot read the picture: ") + scanimage::loadStatusText(status));
    if (!site.actions) return json(200, "{\"rc\":0,\"out\":null,\"problems\":\"\"}");
    bool png = r.body.size() > 4 && std::memcmp(r.body.data(), "\x89PNG", 4) == 0;
    if (!ownFolder(site.uploads)) return text(500, "cannot make " + site.uploads);
    std::string path = site.uploads + "/" + uniqueName("picture", png ? ".png" : ".jpg");
    if (!writeNewFile(path, r.body)) return text(500, "cannot write the picture");
    return runAction(site, {"view", "--image", path}, {});
}

Response swipe(const Site& site, const Request& r) {
    std::string data;
    Response refused;
    if (!dataOf(r.body, data, refused)) return refused;
    return runAction(site, {"swipe"}, {data});
}

Response wedge(const Site& site, const Request& r) {
    std::string what = parameterOr(r, "do", "");
    if (what != "start" && what != "stop" && what != "kill") return text(400, "do must be start, stop or kill");
    return runAction(site, {what}, {});
}

Response commandWordRoute(const Site& site, const Request& r) {
    std::string word = parameterOr(r, "word", "");
    const char* known[] = {"quit", "connect", "disconnect", "enable", "disable"};
    if (std::find_if(std::begin(known), std::end(known), [&](const char* k) { return word == k; }) == std::end(known))
        return text(400, "word must be quit, connect, disconnect, enable or disable");
    return runAction(site, {"command", word}, {});
}

Response tray(const Site& site, const Request&) {
    return runAction(site, {"tray", "tap"}, {});
}

Response menu(const Site& site, const Request& r) {
    std::string choice = parameterOr(r, "choice", "");
    if (choice.empty()) return text(400, "which choice? (exit, settings, none or a number)");
    return runAction(site, {"menu"}, {choice});
}

Response answer(const Site& site, const Request& r) {
    std::string a = parameterOr(r, "answer", "");
    if (a.empty()) return text(400, "which answer? (ok, cancel, yes, no, ...)");
    return runAction(site, {"answer"}, {a});
}

Response clearText(const Site& site, const Request&) {
    return runAction(site, {"clear-text"}, {});
}

// The settings file a request names: "ini" or "vqf", nothing else. The
// path is the one the wedge would read, else the first place it looks.
bool settingsTarget(const Site& site, const Request& r, std::string& name, std::string& path) {
    std::string file = parameterOr(r, "file", "");
    if (file != "ini" && file != "vqf") return false;
    name = file == "ini" ? "Keyvane.ini" : "DecodeSettings.Vqf";
    path = terminal::hostPath(file == "ini" ? u"\\Zentrova\\Keyvane.ini" : u"\\Zentrova\\DecodeSettings.Vqf");
    if (site.actions) {
        for (const std::string& found : terminalSettingsFiles())
            if (lower(fs::path(found).filename().string()) == lower(name)) path = found;
    }
    return true;
}

Response readSettings(const Site& site, const Request& r) {
    std::string name, path;
    if (!settingsTarget(site, r, name, path)) return text(400, "file must be ini or vqf");
    std::string bytes;
    if (site.actions && !readHostFile(path, bytes)) bytes.clear();
    Response out;
    out.contentType = "text/plain; charset=utf-8";
    out.headers.emplace_back("X-Keyvane-File", name);
    out.body = bytes;
    return out;
}

// check (and, for Keyvane.ini, settings --effective) of a draft.
Response checkSettings(const Site& site, const Request& r) {
    std::string name, path;
    if (!settingsTarget(site, r, name, path)) return text(400, "file must be ini or vqf");
    if (!site.actions) return json(200, "{\"findings\":null,\"effective\":null}");
    Draft draft(site);
    if (!draft.write(name, r.body)) return text(500, "cannot write the draft");
    std::string findings, effective, err;
    runConsole(site.console, site.options, {"check", draft.path}, findings, err, 20000);
    if (name == "Keyvane.ini") runConsole(site.console, site.options, {"settings", "--effective", draft.path}, effective, err, 20000);
    auto value = [](std::string t) {
        while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
        return t.empty() ? std::string("null") : t;
    };
    return json(200, "{\"findings\":" + value(findings) + ",\"effective\":" + value(effective) + "}");
}

// What a barcode becomes under a draft of Keyvane.ini.
Response explainBarcode(const Site& site, const Request& r) {
    std::string data;
    Response refused;
    if (!dataOf(parameterOr(r, "data", ""), data, refused)) return refused;
    std::string sym = parameterOr(r, "sym", "");
    std::string problem;
    if (wordRefused("explain", data, problem) || (!sym.empty() && wordRefused("explain", sym, problem)))
        return text(400, problem);
    if (!site.actions) return json(200, "{\"rc\":0,\"out\":null,\"problems\":\"\"}");
    Draft draft(site);
    if (!draft.write("Keyvane.ini", r.body)) return text(500, "cannot write the draft");
    Args args{"explain", "--settings", draft.path, data};
    if (!sym.empty()) {
        args.push_back("--sym");
        args.push_back(sym);
    }
    return runChild(site, args, 60000);
}

// Whether check's records (JSON) hold an error.
bool hasErrors(const std::string& findings) {
    for (size_t at = findings.find("\"severity\""); at != std::string::npos; at = findings.find("\"severity\"", at + 1)) {
        size_t value = findings.find_first_not_of(" :", at + 10);
        if (value != std::string::npos && findings.compare(value, 7, "\"error\"") == 0) return true;
    }
    return false;
}

// Saves a settings file and starts the wedge again on it; a file with errors
// is saved only when the request says so (force=1).
Response saveSettings(const Site& site, const Request& r) {
    std::string name, path;
    if (!settingsTarget(site, r, name, path)) return text(400, "file must be ini or vqf");
    if (!site.actions) return json(200, "{\"saved\":false}");
    bool force = parameterOr(r, "force", "0") == "1";
    std::string findings;
    {
        Draft draft(site);
        if (!draft.write(name, r.body)) return text(500, "cannot write the draft");
        std::string err;
        // check exits 0 (clean) or 1 (findings); anything else is no answer, and nothing is saved on none.
        int rc = runConsole(site.console, site.options, {"check", draft.path}, findings, err, 20000);
        if (rc != 0 && rc != 1) return text(500, "cannot check " + name + ": " + err);
    }
    bool errors = hasErrors(findings);
    if (errors && !force)
        return json(409, "{\"saved\":false,\"findings\":" + (findings.empty() ? std::string("null") : findings) + "}");
    if (!terminal::insideRoot(path)) return text(403, "the settings file would leave the terminal root");
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::string part = fs::path(path).parent_path().string() + "/" + uniqueName(".saving", "");
    if (!writeNewFile(part, r.body)) return text(500, "cannot write " + path);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        unlink(part.c_str());
        return text(403, name + " is no plain file");
    }
    if (rename(part.c_str(), path.c_str()) != 0) {
        unlink(part.c_str());
        return text(500, "cannot replace " + path);
    }
    // The wedge reads its settings at start-up: stopped when it runs, started again.
    std::string started;
    int rc = 0;
    {
        std::lock_guard<std::mutex> hold(actionMutex());
        if (wedgeRunning(site.options) > 0 || runningWedgePid() > 0) commandJson(site.options, {"stop"}, &rc);
        started = commandJson(site.options, {"start"}, &rc);
    }
    return json(rc == kOk ? 200 : 422, "{\"saved\":true,\"restarted\":" + std::string(rc == kOk ? "true" : "false") +
                                           ",\"start\":" + started + ",\"findings\":" +
                                           (findings.empty() ? std::string("null") : findings) + "}");
}

struct Route {
    const char* method;
    const char* path;
    Response (*handler)(const Site&, const Request&);
    size_t bodyLimit;
};

// clang-format off
const Route kRoutes[] = {
    {"GET",  "/",                page,             0},
    {"GET",  "/app.js",          staticFile,       0},
    {"GET",  "/style.css",       staticFile,       0},
    {"GET",  "/api/state",       state,            0},
    {"GET",  "/api/events",      events,           0},
    {"POST", "/api/key",         key,              0},
    {"POST", "/api/view",        view,             kMostDataBytes},
    {"POST", "/api/clear-view",  clearView,        0},
    {"POST", "/api/label",       label,            kMostDataBytes},
    {"POST", "/api/picture",     picture,          scanimage::kMaxFileBytes},
    {"POST", "/api/swipe",       swipe,            kMostDataBytes},
    {"POST", "/api/wedge",       wedge,            0},
    {"POST", "/api/command",     commandWordRoute, 0},
    {"POST", "/api/tray",        tray,             0},
    {"POST", "/api/menu",        menu,             0},
    {"POST", "/api/answer",      answer,           0},
    {"POST", "/api/clear-text",  clearText,        0},
    {"GET",  "/api/settings",    readSettings,     0},
    {"POST", "/api/check",       checkSettings,    kMostSettingsBytes},
    {"POST", "/api/explain",     explainBarcode,   kMostSettingsBytes},
    {"PUT",  "/api/settings",    saveSettings,     kMostSettingsBytes},
};
// clang-format on

Response page(const Site& site, const Request& r) {
    // The address printed carries the token once; the cookie carries it from then on.
    if (const std::string* t = parameter(r, "token"); t != nullptr) {
        Response out = text(303, "see /");
        out.headers.emplace_back("Location", "/");
        out.headers.emplace_back("Set-Cookie", cookieName(site) + "=" + site.token + "; HttpOnly; SameSite=Strict; Path=/");
        return out;
    }
    return staticFile(site, r);
}

Response staticFile(const Site& site, const Request& r) {
    struct Served {
        const char* path;
        const char* file;
        const char* type;
    };
    const Served kServed[] = {{"/", "index.html", "text/html; charset=utf-8"},
                              {"/app.js", "app.js", "text/javascript; charset=utf-8"},
                              {"/style.css", "style.css", "text/css; charset=utf-8"}};
    for (const Served& s : kServed) {
        if (r.path != s.path) continue;
        Response out;
        out.contentType = s.type;
        if (!site.actions) return out;
        if (!readHostFile(site.webFolder + "/" + s.file, out.body))
            return text(500, "the page's " + std::string(s.file) + " is missing from " + site.webFolder);
        return out;
    }
    return text(404, "no such page");
}

}  // namespace

size_t largestBody() {
    size_t most = 0;
    for (const Route& r : kRoutes) most = std::max(most, r.bodyLimit);
    return most;
}

std::string cookieName(const Site& site) {
    return "keyvane-" + std::to_string(site.port);
}

std::string newToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        got += static_cast<size_t>(n);
    }
    static const char* const kDigits = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kDigits[b >> 4];
        token += kDigits[b & 15];
    }
    return token;
}

Response handle(const Site& site, const Request& r) {
    Response refused;
    // No DNS rebinding: the Host must be this server's.
    const std::string* host = header(r, "host");
    if (host == nullptr || !hostAllowed(site, *host)) return text(421, "this server does not answer for that host");
    // No cross-site requests: a browser's Origin must be the page's own.
    if (const std::string* origin = header(r, "origin"); origin != nullptr && *origin != "http://" + lower(*host))
        return text(403, "requests from another site are refused");
    if (const std::string* site_ = header(r, "sec-fetch-site"); site_ != nullptr && *site_ == "cross-site")
        return text(403, "requests from another site are refused");
    const Route* route = nullptr;
    bool pathKnown = false;
    for (const Route& candidate : kRoutes) {
        if (r.path != candidate.path) continue;
        pathKnown = true;
        if (r.method == candidate.method || (r.method == "HEAD" && std::string(candidate.method) == "GET"))
            route = &candidate;
    }
    // The token: in the cookie, a header, or the address printed (on the page's address only).
    std::string given = cookieToken(site, r);
    if (const std::string* h = header(r, "x-keyvane-token"); h != nullptr) given = *h;
    bool tokenOk = sameSecret(given, site.token);
    if (!tokenOk && r.path == "/" && r.method == "GET")
        if (const std::string* t = parameter(r, "token")) tokenOk = sameSecret(*t, site.token);
    if (!tokenOk) return text(403, "open the address keyvane-terminal serve printed (it carries the token)");
    if (!pathKnown) return text(404, "no such page");
    if (route == nullptr) {
        // The request's own words are not echoed back.
        Response out = text(405, "not with this method");
        std::string allowed;
        for (const Route& candidate : kRoutes)
            if (r.path == candidate.path) allowed += (allowed.empty() ? "" : ", ") + std::string(candidate.method);
        out.headers.emplace_back("Allow", allowed);
        return out;
    }
    if (r.body.size() > route->bodyLimit) return text(413, "the body is larger than " + r.path + " takes");
    Response out = route->handler(site, r);
    if (r.method == "HEAD") out.body.clear();
    return out;
}

}  // namespace console::serve
