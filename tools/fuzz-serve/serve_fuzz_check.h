// What must hold for the served page's request handling, whatever a request
// holds: an answer with a real status; a request for another host answered
// 421, one from another site or without the token 403, before any route
// looks at it; a body over its route's limit 413; a change only by POST or
// PUT; the token in no answer but the cookie of the page's first load.
//
// The input is a request written as lines: the method, the path, then
// "q NAME=VALUE" (a parameter), "h NAME: VALUE" (a header), up to an empty
// line; the rest is the body. "@TOKEN" in a value stands for the server's
// token and "@HOST" for its address, so that inputs reach the routes.
// The routes answer without acting (Site::actions false): no command runs,
// no file is written, per input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host/terminal.h"
#include "tools/terminal/serve_api.h"

namespace servefuzz {

inline std::string substituted(std::string value, const console::serve::Site& site) {
    for (size_t at; (at = value.find("@TOKEN")) != std::string::npos;) value.replace(at, 6, site.token);
    for (size_t at; (at = value.find("@HOST")) != std::string::npos;) value.replace(at, 5, "127.0.0.1:8123");
    return value;
}

inline const console::serve::Site& site() {
    static console::serve::Site s = [] {
        console::serve::Site made;
        made.options.root = terminal::root();
        made.listen = "127.0.0.1";
        made.port = 8123;
        made.token = "0123456789abcdef0123456789abcdef";
        made.webFolder = "/nonexistent";
        made.uploads = made.options.root + "/.terminal/serve";
        made.console = "/nonexistent";
        made.actions = false;
        return made;
    }();
    return s;
}

inline std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    const console::serve::Site& s = site();
    std::string input(reinterpret_cast<const char*>(data), size);
    console::serve::Request r;
    size_t at = 0;
    int line = 0;
    while (at <= input.size()) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos) end = input.size();
        std::string text = input.substr(at, end - at);
        at = end + 1;
        if (line == 0) {
            r.method = text;
        } else if (line == 1) {
            r.path = text;
        } else if (text.empty()) {
            break;
        } else if (text.compare(0, 2, "q ") == 0) {
            size_t eq = text.find('=');
            if (eq == std::string::npos) eq = text.size();
            r.query.emplace_back(text.substr(2, eq - 2), substituted(eq < text.size() ? text.substr(eq + 1) : "", s));
        } else if (text.compare(0, 2, "h ") == 0) {
            size_t colon = text.find(": ");
            if (colon == std::string::npos) colon = text.size();
            r.headers.emplace_back(text.substr(2, colon - 2),
                                   substituted(colon < text.size() ? text.substr(colon + 2) : "", s));
        }
        ++line;
        if (end == input.size()) {
            at = input.size() + 1;
            break;
        }
    }
    if (at <= input.size()) r.body = input.substr(at);

    console::serve::Response answer = console::serve::handle(s, r);
    if (answer.status < 100 || answer.status > 599) return 1;

    // What the checks before the routes decide.
    const std::string* host = nullptr;
    const std::string* origin = nullptr;
    bool tokenGiven = false;
    for (const auto& [k, v] : r.headers) {
        std::string name = lower(k);
        if (name == "host" && host == nullptr) host = &v;
        if (name == "origin" && origin == nullptr) origin = &v;
        if (name == "x-keyvane-token" || name == "cookie") tokenGiven = tokenGiven || v.find(s.token) != std::string::npos;
    }
    for (const auto& [k, v] : r.query) tokenGiven = tokenGiven || (k == "token" && v == s.token);
    bool hostOk = host != nullptr && (lower(*host) == "127.0.0.1:8123" || lower(*host) == "localhost:8123" ||
                                      lower(*host) == "[::1]:8123");
    if (!hostOk && answer.status != 421) return 2;
    if (hostOk && answer.status == 421) return 3;
    if (hostOk && origin != nullptr && *origin != "http://" + lower(*host) && answer.status != 403) return 4;
    if (!tokenGiven && answer.status != 421 && answer.status != 403) return 5;
    // A change only by POST or PUT (and never through a GET, HEAD or another method).
    bool changes = r.path.compare(0, 5, "/api/") == 0 && r.path != "/api/state" && r.path != "/api/events" &&
                   !(r.path == "/api/settings" && (r.method == "GET" || r.method == "HEAD"));
    if (changes && answer.status == 200 && r.method != "POST" && r.method != "PUT") return 6;
    // Over the largest limit of all, no route takes it.
    if (r.body.size() > console::serve::largestBody() && answer.status == 200) return 7;
    // The token leaves only in the first load's cookie.
    if (answer.body.find(s.token) != std::string::npos) return 8;
    for (const auto& [k, v] : answer.headers)
        if (v.find(s.token) != std::string::npos && !(k == "Set-Cookie" && r.path == "/")) return 9;
    if (answer.events && answer.status != 200) return 10;
    return 0;
}

}  // namespace servefuzz
