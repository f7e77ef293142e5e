// The host terminal's reset: every shared record back to its power-on
// state (all zero) and the logs emptied; the clock keeps running.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace terminal {

void reset() {
    // Every facility keeps its state in a record of the state folder whose
    // all-zero contents mean "power-on state"; the clock keeps running.
    std::string stateDir = root() + "/.terminal/state";
    if (DIR* d = opendir(stateDir.c_str())) {
        std::vector<std::pair<std::string, size_t>> records;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == ".." || name == "clock" || name == "changes") continue;  // both keep running
            struct stat st {};
            if (stat((stateDir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            if (static_cast<size_t>(st.st_size) <= sizeof(host::SharedHeader)) continue;
            records.emplace_back(name, static_cast<size_t>(st.st_size));
        }
        closedir(d);
        for (const auto& [name, size] : records) {
            host::SharedHeader* h = host::mapRecord(name.c_str(), size);
            if (h == nullptr) continue;
            host::Lock lock(h);
            std::memset(reinterpret_cast<char*>(h) + sizeof(host::SharedHeader), 0,
                        size - sizeof(host::SharedHeader));
            host::notifyAll(h);
        }
    }
    std::string logs = host::logDir();
    if (DIR* d = opendir(logs.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
        for (const auto& name : names) unlink((logs + "/" + name).c_str());
    }
}

}  // namespace terminal
