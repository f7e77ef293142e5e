#include "tests/support/served.h"

#include <unistd.h>

#include "tests/support/test_child.h"

namespace served {

Server start(const std::string& console, const std::string& root) {
    int out[2];
    Server s;
    if (pipe(out) != 0) return s;
    s.pid = testchild::forkTestChild();
    if (s.pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(console.c_str(), console.c_str(), "--root", root.c_str(), "serve", "--port", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    while (text.find("(Ctrl-C ends)") == std::string::npos) {
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    const std::string address = "http://127.0.0.1:", tokenMark = "?token=";
    size_t at = text.find(address), token = text.find(tokenMark);
    if (at == std::string::npos || token == std::string::npos) return s;
    s.port = std::stoi(text.substr(at + address.size()));
    size_t end = text.find_first_not_of("0123456789abcdef", token + tokenMark.size());
    s.token = text.substr(token + tokenMark.size(), end - token - tokenMark.size());
    return s;
}

}  // namespace served
