// keyvane-terminal serve on a terminal root, as a child that ends with its
// starter: the port it listens on and the token of the address it printed.
#pragma once

#include <sys/types.h>

#include <string>

namespace served {

struct Server {
    pid_t pid = -1;   // -1: not started
    int port = 0;     // 0: no address printed
    std::string token;
};

// Starts `console` serve --root `root` --port 0 and reads its address.
Server start(const std::string& console, const std::string& root);

}  // namespace served
