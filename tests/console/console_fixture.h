// The console as a user or a script meets it: the real keyvane-terminal in
// its own process, on a fresh terminal root of its own per test.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_root.h"
#include "tests/support/test_child.h"

namespace consoletest {

namespace fs = std::filesystem;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

// In a forked child: becomes the program args[0], outside any terminal the
// environment names.
[[noreturn]] inline void execProgram(std::vector<std::string>& args) {
    unsetenv("KEYVANE_TERMINAL");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Starts the program args[0] with its standard output and error going to
// the two files, outside any terminal the environment names.
inline pid_t startProgram(std::vector<std::string> args, const std::string& outPath, const std::string& errPath) {
    pid_t pid = testchild::forkTestChild();
    if (pid == 0) {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        execProgram(args);
    }
    return pid;
}

// Runs the program args[0] to its end: its exit code and what it printed.
inline Result runProgram(std::vector<std::string> args, const std::string& outPath, const std::string& errPath) {
    pid_t pid = startProgram(std::move(args), outPath, errPath);
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = testfiles::fileText(outPath);
    r.err = testfiles::fileText(errPath);
    return r;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testfiles::makeTempFolder("keyvane-console-test");
        ASSERT_FALSE(dir_.empty());
        root_ = dir_ + "/terminal";
    }

    void TearDown() override {
        // Peers opened by a test end with their pid files.
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root_ + "/.terminal/peers", ec))
            if (e.path().extension() == ".pid") {
                int pid = std::atoi(testfiles::fileText(e.path()).c_str());
                fs::remove(e.path(), ec);
                if (pid > 0) kill(pid, SIGTERM);
            }
        run({"kill"});
        // A process that just ended may still have been writing its logs.
        for (int i = 0; i < 5 && fs::exists(dir_); ++i) {
            fs::remove_all(dir_, ec);
            if (fs::exists(dir_)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Runs keyvane-terminal --root <root> ARGS.
    Result run(std::vector<std::string> args, bool withRoot = true) {
        std::string exe = std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal";
        if (withRoot) args.insert(args.begin(), {"--root", root_});
        args.insert(args.begin(), exe);
        return runProgram(std::move(args), dir_ + "/out", dir_ + "/err");
    }

    std::string writeScenario(const std::string& name, const std::string& text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string samples() const { return std::string(KEYVANE_SOURCE_DIR) + "/samples"; }

    std::string dir_, root_;
};

}  // namespace consoletest
