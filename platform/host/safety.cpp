// The host terminal's safety checks: the root, its terminal folder,
// terminal.conf and the configured decoder library must be the owner's alone,
// and a path named by a command must lie inside the root.
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/host/internal.h"
#include "platform/host/terminal.h"

namespace terminal {

namespace {

// The one-line refusal for a path others may write, or "".
std::string writableByOthers(const std::string& path, const char* what) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return "";
    return std::string(what) + " " + path +
           " is writable by group or others; refused (make it the owner's alone: chmod go-w " + path + ")";
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace

std::string safetyProblem() {
    const std::string& top = root();
    std::string problem = writableByOthers(top, "terminal root");
    if (problem.empty()) problem = writableByOthers(top + "/.terminal", "terminal folder");
    if (problem.empty()) problem = writableByOthers(host::configPath(), "terminal configuration");
    if (problem.empty()) {
        std::string decoder = config("decoder");
        if (!decoder.empty()) {
            problem = writableByOthers(decoder, "decoder library");
            size_t slash = decoder.rfind('/');
            if (problem.empty() && slash != std::string::npos && slash > 0)
                problem = writableByOthers(decoder.substr(0, slash), "decoder library folder");
        }
    }
    return problem;
}

bool insideRoot(const std::string& path) {
    std::string top = resolved(root());
    if (top.empty()) return false;
    // The file itself need not exist yet: its folder decides, or, when that
    // is missing too, the nearest folder on the way that exists.
    std::string folder;
    std::string rest = path;
    while (folder.empty()) {
        size_t slash = rest.rfind('/');
        if (slash == std::string::npos || slash == 0) return false;
        rest = rest.substr(0, slash);
        folder = resolved(rest);
    }
    return folder == top || folder.compare(0, top.size() + 1, top + "/") == 0;
}

}  // namespace terminal
