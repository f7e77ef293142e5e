// The reader process: the same barcodes as reading in this process; a
// picture that aborts the reader library, a reader that dies, hangs, answers
// nonsense or cannot be started gives no read and leaves no process behind,
// and the next frame is read by a new reader; the reader ends with the
// process that started it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "platform/decoder/imaging/reader_process.h"
#include "tests/support/temp_root.h"
#include "tests/support/test_child.h"

namespace scanimage {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kReader = KEYVANE_BINARY_DIR "/platform/decoder/keyvane-reader";
// A JPEG on which the reader library's detector fails an assertion.
const std::string kAborting = KEYVANE_SOURCE_DIR "/tools/fuzz-image/corpus/regression-line.jpg";

GrayImage picture(const char* format, const std::string& data, int x = 60, int y = 60) {
    GrayImage label;
    std::string error;
    LabelStyle style;
    style.barHeight = 50;
    EXPECT_TRUE(renderLabel(*formatByName(format), data, style, label, error)) << error;
    GrayImage p = canvas(640, 480);
    place(p, label, x, y);
    return p;
}

// Whether `pid` is a process at all (a zombie counts).
bool exists(pid_t pid) {
    return pid > 0 && fs::exists("/proc/" + std::to_string(pid));
}

bool childOfThisProcess(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    char state = 0;
    int parent = 0;
    return std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid() && state != 'Z';
}

class ReaderProcess : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testfiles::makeTempFolder("keyvane-reader");
        ASSERT_FALSE(dir.empty());
        use(kReader);
    }
    void TearDown() override {
        stopReader();
        use(kReader);
        testfiles::removeFolder(dir);
    }
    static void use(const std::string& program) { setenv("KEYVANE_READER", program.c_str(), 1); }
    // A stand-in reader: a shell script.
    std::string script(const std::string& name, const std::string& body) {
        std::string path = dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }
    int read(const GrayImage& image, ReaderOutcome& outcome, ReaderWait wait = ReaderWait{}) {
        symbols.assign(kMaxSymbols, Symbol{});
        int n = readSymbolsApart(image, openRequest(), symbols.data(), kMaxSymbols, wait, &outcome);
        symbols.resize(static_cast<size_t>(n));
        return n;
    }
    // After a failed frame: the old reader is gone (reaped, no zombie), and
    // the next frame starts a new one that reads.
    void expectRecovery(pid_t old) {
        EXPECT_EQ(0, readerProcess());
        if (old > 0) {
            EXPECT_FALSE(exists(old)) << "the reader " << old << " was left behind";
        }
        use(kReader);
        ReaderOutcome outcome;
        ASSERT_EQ(1, read(picture("Code128", "NEXT-LABEL"), outcome));
        EXPECT_EQ(ReaderOutcome::Read, outcome);
        EXPECT_EQ("NEXT-LABEL", symbols[0].bytes);
        EXPECT_NE(old, readerProcess());
    }

    std::string dir;
    std::vector<Symbol> symbols;
};

TEST_F(ReaderProcess, ReadsWhatThisProcessReadsAndStaysForTheNextFrame) {
    GrayImage p = picture("QRCode", std::string("bin\0\xff\x80", 6), 300, 40);
    GrayImage label;
    std::string error;
    ASSERT_TRUE(renderLabel(*formatByName("EAN-13"), "4006381333931", LabelStyle{}, label, error));
    place(p, label, 40, 300);
    std::vector<Symbol> here(kMaxSymbols);
    here.resize(static_cast<size_t>(readSymbols(p, openRequest(), here.data(), kMaxSymbols)));
    ASSERT_EQ(2u, here.size());

    ReaderOutcome outcome;
    ASSERT_EQ(2, read(p, outcome));
    EXPECT_EQ(ReaderOutcome::Read, outcome);
    for (size_t i = 0; i < here.size(); ++i) {
        EXPECT_EQ(here[i].bytes, symbols[i].bytes);
        EXPECT_EQ(here[i].letter, symbols[i].letter);
        EXPECT_EQ(here[i].second, symbols[i].second);
        EXPECT_EQ(here[i].third, symbols[i].third);
        EXPECT_EQ(here[i].symbologyId, symbols[i].symbologyId);
        EXPECT_EQ(here[i].top, symbols[i].top);
        EXPECT_EQ(here[i].left, symbols[i].left);
    }
    pid_t pid = readerProcess();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(childOfThisProcess(pid));

    // One reader for frame after frame, of any size; the capacity is kept.
    GrayImage large = canvas(1920, 1080);
    place(large, picture("Code39", "LARGE"), 1200, 500);
    ASSERT_EQ(1, read(large, outcome));
    EXPECT_EQ("LARGE", symbols[0].bytes);
    Symbol one[1];
    EXPECT_EQ(1, readSymbolsApart(p, openRequest(), one, 1, ReaderWait{}, &outcome));
    EXPECT_EQ(here[0].bytes, one[0].bytes);
    EXPECT_EQ(0, read(canvas(16, 16), outcome));
    EXPECT_EQ(ReaderOutcome::Read, outcome);
    EXPECT_EQ(pid, readerProcess());

    stopReader();
    EXPECT_EQ(0, readerProcess());
    EXPECT_FALSE(exists(pid));
}

TEST_F(ReaderProcess, PictureThatAbortsTheReaderLibraryGivesNoRead) {
    GrayImage image;
    ASSERT_EQ(LoadStatus::Ok, loadImage(kAborting, image));
    ReaderOutcome outcome;
    ASSERT_EQ(0, read(picture("Code128", "WARM-UP"), outcome) - 1);
    pid_t pid = readerProcess();
    EXPECT_EQ(0, read(image, outcome));
    EXPECT_EQ(ReaderOutcome::Died, outcome);
    expectRecovery(pid);
    // Again and again: every time a new reader.
    for (int i = 0; i < 3; ++i) {
        pid = readerProcess();
        EXPECT_EQ(0, read(image, outcome));
        EXPECT_EQ(ReaderOutcome::Died, outcome);
        expectRecovery(pid);
    }
}

TEST_F(ReaderProcess, ReaderThatDiesOrAnswersNonsenseGivesNoRead) {
    // Echoes the request's sequence number, so that only the rest is wrong.
    const std::string answer =
        R"(s=$(dd bs=8 count=1 <&3 2>/dev/null | od -An -to1 -j4 | tr -d '\n' | sed 's/ /\\/g'); printf "ARVK${s})";
    const std::vector<std::string> readers = {
        script("crash", "dd bs=8 count=1 <&3 >/dev/null 2>&1; kill -SEGV $$"),
        script("quit", "exit 3"),
        script("wrong-sequence", R"(printf 'ARVK\001\002\003\004\000\000\000\000' >&3; exec sleep 20)"),
        script("too-many", answer + R"(\377\377\000\000" >&3; exec sleep 20)"),
        script("unknown-symbology",
               answer + R"(\001\000\000\000Q\000\000\000" >&3; head -c 40 /dev/zero >&3; exec sleep 20)"),
        script("half-answer", answer + R"(\001\000\000\000j" >&3; exit 0)"),
    };
    for (const std::string& r : readers) {
        SCOPED_TRACE(r);
        use(r);
        ReaderOutcome outcome;
        EXPECT_EQ(0, read(picture("Code128", "NOT-READ"), outcome));
        bool dies = r.find("crash") != std::string::npos || r.find("quit") != std::string::npos ||
                    r.find("half") != std::string::npos;
        EXPECT_EQ(dies ? ReaderOutcome::Died : ReaderOutcome::BadAnswer, outcome) << readerOutcomeText(outcome);
        expectRecovery(0);
        stopReader();
    }
}

TEST_F(ReaderProcess, HungReaderIsStoppedAtTheLimitOrWhenTheCallerGivesUp) {
    use(script("hang", "exec sleep 60"));
    ReaderOutcome outcome;
    ReaderWait wait;
    wait.limitMs = 300;
    auto t0 = Clock::now();
    EXPECT_EQ(0, read(picture("Code128", "NOT-READ"), outcome, wait));
    auto took = Clock::now() - t0;
    EXPECT_EQ(ReaderOutcome::GaveUp, outcome);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    expectRecovery(0);

    // The caller gives up (the trigger released) long before the limit.
    use(script("hang", "exec sleep 60"));
    stopReader();
    int asked = 0;
    wait.limitMs = 60000;
    wait.context = &asked;
    wait.keepWaiting = [](void* context) { return ++*static_cast<int*>(context) < 5; };
    t0 = Clock::now();
    EXPECT_EQ(0, read(picture("Code128", "NOT-READ"), outcome, wait));
    EXPECT_EQ(ReaderOutcome::GaveUp, outcome);
    EXPECT_EQ(5, asked);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(3000));
    expectRecovery(0);
}

TEST_F(ReaderProcess, MissingReaderProgramGivesNoReadUntilItIsThere) {
    use(dir + "/no-such-reader");
    ReaderOutcome outcome;
    EXPECT_EQ(0, read(picture("Code128", "NOT-READ"), outcome));
    EXPECT_EQ(ReaderOutcome::Unavailable, outcome);
    EXPECT_EQ(0, readerProcess());
    expectRecovery(0);
}

// The reader of a process that is killed ends by itself: here the process
// is a child, and this one adopts the reader when it is orphaned.
TEST_F(ReaderProcess, ReaderEndsWithTheProcessThatStartedIt) {
    stopReader();
    ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
    int report[2];
    ASSERT_EQ(0, pipe(report));
    GrayImage p = picture("Code128", "IN-CHILD");
    pid_t child = testchild::forkTestChild();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Symbol s[1];
        ReaderOutcome outcome;
        int n = readSymbolsApart(p, openRequest(), s, 1, ReaderWait{}, &outcome);
        pid_t reader = n == 1 ? readerProcess() : 0;
        (void)!write(report[1], &reader, sizeof reader);
        raise(SIGKILL);
    }
    close(report[1]);
    pid_t reader = 0;
    ASSERT_EQ(static_cast<ssize_t>(sizeof reader), ::read(report[0], &reader, sizeof reader));
    close(report[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_GT(reader, 0);
    // Adopted now; it notices the closed socket and ends normally.
    auto until = Clock::now() + std::chrono::seconds(5);
    pid_t done = 0;
    while ((done = waitpid(reader, &status, WNOHANG)) == 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    if (done == 0) kill(reader, SIGKILL);
    ASSERT_EQ(reader, done) << "the reader did not end with its process";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
}  // namespace scanimage
