// Dynamic libraries on the host terminal. "Decoder.dll" (any letter case,
// with or without a folder) loads the stand-in decoder library; other names
// are device paths of shared objects inside the terminal root.
//
// The stand-in library is looked for as decoderCandidates() lists.
//
// Ordinals: the host loader finds the export of ordinal n of a library under
// the symbol name "ordinal_<n>" (GetProcAddress(h, MAKEINTRESOURCEA(n))).
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/loader.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"

namespace {

bool isFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executableDir() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Where the decoder library is looked for when the terminal's configuration
// names none, in order. KEYVANE_DECODER_FROM_BINDIR is where an installation
// keeps it, relative to the installed programs.
#ifndef KEYVANE_DECODER_FROM_BINDIR
#define KEYVANE_DECODER_FROM_BINDIR "../lib/keyvane"
#endif
std::vector<std::string> defaultDecoderCandidates() {
    std::vector<std::string> out;
    if (const char* env = getenv("KEYVANE_DECODER"); env != nullptr && env[0] != 0) {
        std::string dir = env;
        out.push_back(dir);
        out.push_back(dir + "/libDecoder.so");
        out.push_back(dir + "/platform/decoder/libDecoder.so");
    }
    std::string exe = executableDir();
    out.push_back(exe + "/libDecoder.so");
    out.push_back(exe + "/platform/decoder/libDecoder.so");
    out.push_back(exe + "/../platform/decoder/libDecoder.so");
    out.push_back(exe + "/" KEYVANE_DECODER_FROM_BINDIR "/libDecoder.so");
    return out;
}

std::vector<std::string> decoderCandidates() {
    std::vector<std::string> out;
    std::string configured = terminal::config("decoder");
    if (!configured.empty()) out.push_back(configured);
    for (std::string& path : defaultDecoderCandidates()) out.push_back(std::move(path));
    return out;
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string terminal::defaultDecoderLibrary() {
    for (const std::string& path : defaultDecoderCandidates()) {
        if (!isFile(path)) continue;
        char resolved[PATH_MAX];
        return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
    }
    return {};
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    host::NewsOnReturn news;
    if (fileName == nullptr || fileName[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name = host::toUtf8(fileName);
    std::vector<std::string> candidates;
    if (host::lowerAscii(baseName(name)) == "decoder.dll")
        candidates = decoderCandidates();
    else
        candidates.push_back(terminal::hostPath(fileName));
    for (const std::string& path : candidates) {
        if (!isFile(path)) continue;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            SetLastError(ERROR_SUCCESS);
            return static_cast<HMODULE>(handle);
        }
        fprintf(stderr, "[loader] %s: %s\n", path.c_str(), dlerror());
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == nullptr || procName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::string symbol;
    if (IS_INTRESOURCE(procName))
        symbol = "ordinal_" + std::to_string(static_cast<unsigned>(reinterpret_cast<uintptr_t>(procName)));
    else
        symbol = procName;
    void* address = dlsym(static_cast<void*>(module), symbol.c_str());
    if (address == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr || dlclose(static_cast<void*>(module)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    static char self;
    if (moduleName == nullptr) return reinterpret_cast<HMODULE>(&self);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
