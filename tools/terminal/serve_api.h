// keyvane-terminal serve: the handling of one request, apart from the
// socket: a request (method, path, query, headers, body) in, a response
// (status, headers, body) out. The routes are one table; every request is
// checked first (Host, Origin, the token) and bounded (each route's body
// limit). The server (serve.cpp), the safety tests and the fuzz target call it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "console.h"

namespace console::serve {

struct Request {
    std::string method;  // GET, POST, PUT, ...
    std::string path;    // without the query
    std::vector<std::pair<std::string, std::string>> query;    // decoded parameters
    std::vector<std::pair<std::string, std::string>> headers;  // names in any letter case
    std::string body;
};

struct Response {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool events = false;  // the event stream: the server keeps it open and sends the states
};

// What one server serves: the terminal, where it listens, its token and its page.
struct Site {
    Options options;         // the terminal root, attached
    std::string listen;      // the address listened on ("127.0.0.1", "::1", "0.0.0.0", ...)
    int port = 0;            // the port listened on
    std::string token;       // 32 hex digits
    std::string webFolder;   // index.html, app.js, style.css
    std::string uploads;     // <root>/.terminal/serve: pictures, labels and drafts the server writes
    std::string console;     // the console program that checks and explains (keyvane-terminal)
    bool actions = true;     // false: the routes that change things answer without doing them (the fuzz target)
};

// The largest body a request may carry at all (the picture engine's file limit).
size_t largestBody();
// The name of the cookie that holds the token (one per port: cookies do not tell ports apart).
std::string cookieName(const Site& site);
// A fresh token: 128 random bits as 32 hex digits; empty when no random bytes can be had.
std::string newToken();

// Answers one request.
Response handle(const Site& site, const Request& request);

// The longest a settings file may be that the page saves or checks.
constexpr size_t kMostSettingsBytes = 256 * 1024;

}  // namespace console::serve
