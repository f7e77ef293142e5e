// keyvane-terminal serve is safe by default: a request without the token,
// for another Host, from another Origin, with a body over its limit or with
// words that would name a path is refused, and nothing is written; files the
// server writes stay inside the root, owner-only, never through a symbolic
// link. Checked against the request function itself and against the real
// server on the loopback address.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/decoder/imaging/image.h"
#include "platform/host/terminal.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"
#include "tests/support/served.h"
#include "tests/support/test_child.h"
#include "tests/support/wedge_process.h"
#include "tools/terminal/serve_api.h"

namespace {

namespace fs = std::filesystem;
using console::serve::Request;
using console::serve::Response;

const char* const kIni = "' test settings\r\nEnableScanner = 1\r\nOutPutMode = 1\r\n";

class ServeSafety : public ::testing::Test {
protected:
    void SetUp() override {
        wedge::RootOptions o;
        o.settingsIni = kIni;
        root = wedge::makeTerminalRoot(o);
        ASSERT_FALSE(root.empty());
        outside = testfiles::makeTempFolder("keyvane-outside");
        ASSERT_FALSE(outside.empty());
        site.options.root = root;
        site.listen = "127.0.0.1";
        site.port = 8123;
        site.token = console::serve::newToken();
        site.webFolder = std::string(KEYVANE_SOURCE_DIR) + "/dist/web";
        site.uploads = root + "/.terminal/serve";
        site.console = std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal";
        ASSERT_EQ(site.token.size(), 32u);
    }
    void TearDown() override {
        wedge::removeTerminalRoot(root);
        testfiles::removeFolder(outside);
    }

    // A request as the page makes it: the right Host, the page's Origin for a change, the cookie.
    Request request(const std::string& method, const std::string& path, const std::string& body = "") const {
        Request r;
        r.method = method;
        r.path = path;
        r.body = body;
        r.headers = {{"Host", "127.0.0.1:8123"}, {"Cookie", "other=1; keyvane-8123=" + site.token}};
        if (method != "GET") r.headers.emplace_back("Origin", "http://127.0.0.1:8123");
        return r;
    }
    Response send(const Request& r) const { return console::serve::handle(site, r); }

    // What the server may write: its uploads folder, the settings files.
    std::vector<std::string> written() const {
        std::vector<std::string> files;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(site.uploads, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->path().filename() != "token") files.push_back(it->path().string());
        for (auto it = fs::recursive_directory_iterator(outside, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            files.push_back(it->path().string());
        return files;
    }
    std::string settings() const { return testfiles::fileText(root + "/Zentrova/Keyvane.ini"); }

    std::string root, outside;
    console::serve::Site site;
};

// Every route, as the page calls it (with a body where it takes one).
struct Call {
    const char* method;
    const char* path;
    std::vector<std::pair<std::string, std::string>> query;
    std::string body;
};
const std::vector<Call> kCalls = {
    {"GET", "/", {}, ""},
    {"GET", "/app.js", {}, ""},
    {"GET", "/api/state", {}, ""},
    {"GET", "/api/events", {}, ""},
    {"POST", "/api/key", {{"down", "1"}}, ""},
    {"POST", "/api/view", {{"sym", "code128"}}, "ABC"},
    {"POST", "/api/label", {{"format", "Code128"}}, "ABC"},
    {"POST", "/api/picture", {}, "\x89PNG"},
    {"POST", "/api/swipe", {}, "%B41^X^?"},
    {"POST", "/api/wedge", {{"do", "start"}}, ""},
    {"POST", "/api/command", {{"word", "quit"}}, ""},
    {"POST", "/api/tray", {}, ""},
    {"POST", "/api/menu", {{"choice", "exit"}}, ""},
    {"POST", "/api/answer", {{"answer", "ok"}}, ""},
    {"POST", "/api/clear-text", {}, ""},
    {"GET", "/api/settings", {{"file", "ini"}}, ""},
    {"POST", "/api/check", {{"file", "ini"}}, "OutPutMode = 3\r\n"},
    {"POST", "/api/explain", {{"data", "ABC"}}, "OutPutMode = 3\r\n"},
    {"PUT", "/api/settings", {{"file", "ini"}}, "OutPutMode = 2\r\n"},
};

TEST_F(ServeSafety, WithoutTheTokenEveryRouteIsRefusedAndNothingHappens) {
    for (const Call& c : kCalls) {
        for (const char* cookie : {"", "keyvane-8123=", "keyvane-8123=00000000000000000000000000000000",
                                   "keyvane-8124=TOKEN"}) {
            Request r = request(c.method, c.path, c.body);
            r.query = c.query;
            std::string given = cookie;
            if (size_t at = given.find("TOKEN"); at != std::string::npos) given.replace(at, 5, site.token);
            r.headers[1].second = given;
            EXPECT_EQ(send(r).status, 403) << c.method << " " << c.path << " with cookie \"" << cookie << "\"";
        }
        // The address's token opens the page only, not the rest.
        Request r = request(c.method, c.path, c.body);
        r.query = c.query;
        r.query.emplace_back("token", site.token);
        r.headers.erase(r.headers.begin() + 1);
        if (std::string(c.path) != "/") {
            EXPECT_EQ(send(r).status, 403) << c.method << " " << c.path << "?token=";
        }
    }
    EXPECT_TRUE(terminal::inView().empty());
    EXPECT_FALSE(terminal::keyDown(42));
    EXPECT_EQ(settings(), kIni);
    EXPECT_TRUE(written().empty());
}

TEST_F(ServeSafety, TheFirstLoadTurnsTheAddressesTokenIntoAStrictCookie) {
    Request r = request("GET", "/");
    r.headers.erase(r.headers.begin() + 1);
    r.query = {{"token", site.token}};
    Response first = send(r);
    EXPECT_EQ(first.status, 303);
    std::string cookie, location;
    for (const auto& [k, v] : first.headers) {
        if (k == "Set-Cookie") cookie = v;
        if (k == "Location") location = v;
    }
    EXPECT_EQ(location, "/");
    EXPECT_EQ(cookie, "keyvane-8123=" + site.token + "; HttpOnly; SameSite=Strict; Path=/");
    Response page = send(request("GET", "/"));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>Keyvane terminal</title>"), std::string::npos);
    // A token of the right length but wrong is no token.
    std::string wrong = site.token;
    wrong[31] = wrong[31] == '0' ? '1' : '0';
    r.query = {{"token", wrong}};
    EXPECT_EQ(send(r).status, 403);
}

TEST_F(ServeSafety, AForeignHostIsRefused) {
    for (const char* host : {"evil.example:8123", "127.0.0.1:8124", "127.0.0.1", "localhost.evil.example:8123",
                             "", "127.0.0.2:8123", "[::2]:8123"}) {
        Request r = request("POST", "/api/view", "ABC");
        r.headers[0].second = host;
        EXPECT_EQ(send(r).status, 421) << host;
    }
    Request none = request("GET", "/api/state");
    none.headers.erase(none.headers.begin());
    EXPECT_EQ(send(none).status, 421);
    for (const char* host : {"localhost:8123", "LOCALHOST:8123", "[::1]:8123"}) {
        Request r = request("GET", "/api/settings");
        r.query = {{"file", "ini"}};
        r.headers[0].second = host;
        EXPECT_EQ(send(r).status, 200) << host;
    }
    EXPECT_TRUE(terminal::inView().empty());
}

TEST_F(ServeSafety, ARequestFromAnotherSiteIsRefused) {
    for (const char* origin : {"http://evil.example", "null", "http://127.0.0.1:8124", "https://127.0.0.1:8123",
                               "http://localhost:8123"}) {
        Request r = request("POST", "/api/view", "ABC");
        r.headers[2].second = origin;
        EXPECT_EQ(send(r).status, 403) << origin;
    }
    Request fetched = request("PUT", "/api/settings", "OutPutMode = 2\r\n");
    fetched.query = {{"file", "ini"}};
    fetched.headers.erase(fetched.headers.begin() + 2);
    fetched.headers.emplace_back("Sec-Fetch-Site", "cross-site");
    EXPECT_EQ(send(fetched).status, 403);
    EXPECT_TRUE(terminal::inView().empty());
    EXPECT_EQ(settings(), kIni);
    // The page's own request goes through.
    Request own = request("POST", "/api/view", "ABC");
    own.query = {{"sym", "code128"}};
    EXPECT_EQ(send(own).status, 200) << send(own).body;
    ASSERT_FALSE(terminal::inView().empty());
    EXPECT_EQ(terminal::inView().front().data, "ABC");
}

TEST_F(ServeSafety, ChangesTakePostOrPutOnly) {
    Request r = request("GET", "/api/view");
    EXPECT_EQ(send(r).status, 405);
    Request del = request("DELETE", "/api/settings");
    del.query = {{"file", "ini"}};
    EXPECT_EQ(send(del).status, 405);
    EXPECT_EQ(settings(), kIni);
}

TEST_F(ServeSafety, AnUploadOverItsLimitIsRefusedAndNothingWritten) {
    Request big = request("POST", "/api/picture", std::string(scanimage::kMaxFileBytes + 1, 'x'));
    EXPECT_EQ(send(big).status, 413);
    Request ini = request("PUT", "/api/settings", std::string(console::serve::kMostSettingsBytes + 1, '\''));
    ini.query = {{"file", "ini"}};
    EXPECT_EQ(send(ini).status, 413);
    Request barcode = request("POST", "/api/view", std::string(5000, 'A'));
    EXPECT_EQ(send(barcode).status, 413);
    // A picture small on disk but beyond the engine's pixels: a PNG header claiming 9000 x 9000.
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x23\x28\0\0\x23\x28\x08\x00\x00\x00\x00", 29);
    png += std::string("\0\0\0\0", 4);
    Request wide = request("POST", "/api/picture", png);
    int status = send(wide).status;
    EXPECT_TRUE(status == 413 || status == 415) << status;
    Request junk = request("POST", "/api/picture", "not a picture");
    EXPECT_EQ(send(junk).status, 415);
    EXPECT_EQ(settings(), kIni);
    EXPECT_TRUE(written().empty());
    EXPECT_TRUE(terminal::imageInView().path.empty());
}

TEST_F(ServeSafety, NothingOfARequestNamesAPath) {
    std::string target = outside + "/written";
    const std::vector<Call> tries = {
        {"GET", "/api/settings", {{"file", "../../../../etc/passwd"}}, ""},
        {"GET", "/api/settings", {{"file", target}}, ""},
        {"PUT", "/api/settings", {{"file", target}}, "x"},
        {"POST", "/api/check", {{"file", "../ini"}}, "x"},
        {"POST", "/api/view", {{"sym", "--image"}}, target},
        {"POST", "/api/view", {}, "--image"},
        {"POST", "/api/view", {{"sym", "--frames"}}, outside},
        {"POST", "/api/label", {{"format", "--out"}}, target},
        {"POST", "/api/label", {{"format", "Code128"}, {"rotate", "--onto"}}, "ABC"},
        {"POST", "/api/explain", {{"data", "--settings"}, {"sym", target}}, "x"},
        {"POST", "/api/explain", {{"data", "ABC"}, {"sym", "--image"}}, "x"},
        {"POST", "/api/menu", {{"choice", "--root"}}, ""},
        {"POST", "/api/answer", {{"answer", "--json"}}, ""},
        {"POST", "/api/wedge", {{"do", "start --wedge /bin/sh"}}, ""},
        {"POST", "/api/command", {{"word", "--wedge"}}, ""},
        {"GET", "/../../etc/passwd", {}, ""},
        {"GET", "/web/../../etc/passwd", {}, ""},
        {"GET", "/index.html/../app.js", {}, ""},
    };
    for (const Call& c : tries) {
        Request r = request(c.method, c.path, c.body);
        r.query = c.query;
        Response answer = send(r);
        EXPECT_TRUE(answer.status == 400 || answer.status == 404) << c.method << " " << c.path << " -> " << answer.status
                                                                  << " " << answer.body;
        EXPECT_EQ(answer.body.find("root:"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(terminal::inView().empty());
    EXPECT_TRUE(terminal::imageInView().path.empty());
    EXPECT_EQ(settings(), kIni);
    EXPECT_TRUE(written().empty());
}

TEST_F(ServeSafety, FilesAreWrittenOwnerOnlyInsideTheRootAndNeverThroughALink) {
    // A picture the engine reads goes to the server's folder, owner-only, and into view.
    std::string picture = root + "/label.png";
    scanimage::GrayImage image;
    image.width = 16;
    image.height = 16;
    image.pixels.assign(256, 255);
    ASSERT_TRUE(scanimage::saveImage(picture, image));
    Response put = send(request("POST", "/api/picture", testfiles::fileText(picture)));
    ASSERT_EQ(put.status, 200) << put.body;
    std::string shown = terminal::imageInView().path;
    ASSERT_EQ(shown.rfind(site.uploads + "/picture-", 0), 0u) << shown;
    struct stat st {};
    ASSERT_EQ(lstat(shown.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(lstat(site.uploads.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Keyvane.ini turned into a link to a file outside: saving does not follow it.
    std::string victim = outside + "/victim.ini";
    std::ofstream(victim) << "untouched";
    fs::remove(root + "/Zentrova/Keyvane.ini");
    fs::create_symlink(victim, root + "/Zentrova/Keyvane.ini");
    Request save = request("PUT", "/api/settings", "OutPutMode = 2\r\n");
    save.query = {{"file", "ini"}, {"force", "1"}};
    EXPECT_EQ(send(save).status, 403);
    EXPECT_EQ(testfiles::fileText(victim), "untouched");
    EXPECT_TRUE(fs::is_symlink(root + "/Zentrova/Keyvane.ini"));

    // The server's own folder turned into a link outside: nothing goes there.
    fs::remove_all(site.uploads);
    fs::create_symlink(outside, site.uploads);
    EXPECT_EQ(send(request("POST", "/api/picture", testfiles::fileText(picture))).status, 500);
    Request label = request("POST", "/api/label", "ABC");
    label.query = {{"format", "Code128"}};
    EXPECT_EQ(send(label).status, 500);
    Request check = request("POST", "/api/check", "OutPutMode = 3\r\n");
    check.query = {{"file", "ini"}};
    EXPECT_EQ(send(check).status, 500);
    EXPECT_EQ(fs::directory_iterator(outside) == fs::directory_iterator(), false);  // the victim alone
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(outside)) files += e.path().filename() == "victim.ini" ? 0 : 1;
    EXPECT_EQ(files, 0u);
}

TEST_F(ServeSafety, AFileWithErrorsIsSavedOnlyWhenAskedTwice) {
    Request save = request("PUT", "/api/settings", "OutPutMode = 9\r\n");
    save.query = {{"file", "ini"}};
    Response first = send(save);
    EXPECT_EQ(first.status, 409);
    EXPECT_NE(first.body.find("OutPutMode"), std::string::npos);
    EXPECT_EQ(settings(), kIni);
    EXPECT_TRUE(written().empty());  // the draft checked is gone
}

// ------------------------------------------------------------------ the real server on loopback
using Served = served::Server;

Served startServer(const std::string& root) {
    return served::start(std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal", root);
}

// One request over a socket of its own; the whole answer.
std::string roundTrip(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return "";
    }
    size_t done = 0;
    while (done < request.size()) {
        ssize_t n = send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    // Until the answer's head and the body it announces are in (a refused
    // body is not read to its end: the server need not close at once).
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<size_t>(n));
        size_t head = answer.find("\r\n\r\n");
        size_t length = answer.find("Content-Length: ");
        if (head != std::string::npos && length != std::string::npos && length < head &&
            answer.size() >= head + 4 + std::stoul(answer.substr(length + 16)))
            break;
    }
    close(fd);
    return answer;
}

std::string statusLine(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
}

TEST_F(ServeSafety, TheRealServerChecksEveryRequestOnTheLoopbackAddress) {
    Served s = startServer(root);
    ASSERT_GT(s.port, 0);
    std::string host = "Host: 127.0.0.1:" + std::to_string(s.port) + "\r\n";
    std::string cookie = "Cookie: keyvane-" + std::to_string(s.port) + "=" + s.token + "\r\n";
    EXPECT_EQ(statusLine(roundTrip(s.port, "GET /api/state HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n")),
              "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(statusLine(roundTrip(s.port, "GET /api/state HTTP/1.1\r\nHost: evil.example:" + std::to_string(s.port) +
                                              "\r\n" + cookie + "Connection: close\r\n\r\n")),
              "HTTP/1.1 421 Misdirected Request");
    EXPECT_EQ(statusLine(roundTrip(s.port, "POST /api/view HTTP/1.1\r\n" + host + cookie +
                                              "Origin: http://evil.example\r\nContent-Length: 3\r\nConnection: "
                                              "close\r\n\r\nABC")),
              "HTTP/1.1 403 Forbidden");
    // A body announced beyond every route's limit is refused before it is read.
    EXPECT_EQ(statusLine(roundTrip(s.port, "POST /api/picture HTTP/1.1\r\n" + host + cookie +
                                              "Content-Length: 999999999999\r\nConnection: close\r\n\r\nxx")),
              "HTTP/1.1 413 Payload Too Large");
    std::string state = roundTrip(s.port, "GET /api/state HTTP/1.1\r\n" + host + cookie + "Connection: close\r\n\r\n");
    EXPECT_EQ(statusLine(state), "HTTP/1.1 200 OK");
    EXPECT_NE(state.find("\"screen\":{\"width\":"), std::string::npos);
    EXPECT_NE(state.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
    EXPECT_TRUE(terminal::inView().empty());
    EXPECT_TRUE(written().empty());
    // Ctrl-C ends it cleanly.
    ASSERT_EQ(kill(s.pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(s.pid, &status, 0), s.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
