// The connect operation and the serial listener on the host terminal: named
// events, sounds, message boxes, trace lines, and the CharInLog records of
// what a real pseudo-terminal peer sends.
#include <unistd.h>

#include <atomic>
#include <string>

#include "output/framing.h"
#include "platform/host/terminal.h"
#include "scan/engine.h"
#include "settings/settings.h"
#include "shell/state.h"
#include "tests/support/scanengine_support.h"
#include "tests/support/wedge_process.h"

namespace scanengine {
namespace {

int messageBoxCount(const std::u16string& text) {
    int n = 0;
    for (const auto& box : terminal::messageBoxes()) n += box.text == text && box.caption == u"Keyvane";
    return n;
}

int soundCount(const std::string& sound) {
    int n = 0;
    for (const std::string& s : soundNames()) n += s == sound;
    return n;
}

class ConnectTest : public EngineTerminal {
protected:
    void usePort3() {
        settings.ComportNumber = 3;
        settings.SendData.store(1);
    }
};

TEST_F(ConnectTest, EngineOnlyConnectsOnceAndAnnouncesItThroughTheEvents) {
    EXPECT_EQ(1, connectEngine(1));
    EXPECT_EQ(1, engineConnected.load());
    EXPECT_EQ(1, terminal::eventState("KVN_Enable_State"));
    EXPECT_EQ(1, terminal::eventState("KVN_Enable"));
    EXPECT_EQ(0, soundCount("resource:134"));  // engine only: no port step, no sound

    // Connected already: returns at once, sets no event.
    ResetEvent(enableEvent);
    ResetEvent(enableStateEvent);
    EXPECT_EQ(1, connectEngine(1));
    EXPECT_EQ(0, terminal::eventState("KVN_Enable_State"));
    EXPECT_EQ(0, terminal::eventState("KVN_Enable"));
}

TEST_F(ConnectTest, OpensThePortAndResetsTheFrameSequence) {
    ASSERT_TRUE(attachPeer(3));
    usePort3();
    settings.ConnectingTo = FramingXr1;
    frameSequenceCounter = 77;
    EXPECT_EQ(1, connectEngine(0));
    EXPECT_EQ(std::u16string(u"COM3:"), std::u16string(portName));
    EXPECT_EQ(1u, frameSequenceCounter);
    // The line carries its own "\r\n", which the text-mode append writes as "\r\r\n".
    EXPECT_EQ("Open Success : 0\r\r\n", wedge::traceText(root));
    EXPECT_EQ(1, soundCount("resource:134"));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(serialPortHandle.load(), "\x02hi\x03", 4, &written, nullptr));
    EXPECT_EQ("\x02hi\x03", peerBytes(4));

    // Connecting again closes the port it had open before opening it anew.
    HANDLE first = serialPortHandle.load();
    ASSERT_EQ(1, connectEngine(0));
    EXPECT_NE(first, serialPortHandle.load());
    EXPECT_FALSE(WriteFile(first, "x", 1, &written, nullptr));
}

TEST_F(ConnectTest, PortThatOpensOnTheThirdAttempt) {
    ASSERT_TRUE(attachPeer(3));
    terminal::setConfig("COM3.failopens", "2");
    usePort3();
    EXPECT_EQ(1, connectEngine(0));
    EXPECT_EQ((std::vector<std::string>{"Open Failed : 32", "Open Failed : 32", "Open Success : 0"}),
              traceStartingWith(root, "Open "));
    EXPECT_EQ(1, soundCount("resource:134"));
    EXPECT_EQ(0, soundCount("resource:135"));
}

TEST_F(ConnectTest, FiveFailedOpensReportTheFailureAndKeepTheEngine) {
    terminal::setPortPath(3, "none");
    usePort3();
    EXPECT_EQ(0, connectEngine(0));
    EXPECT_EQ(std::vector<std::string>(5, "Open Failed : 2"), traceStartingWith(root, "Open "));
    EXPECT_EQ(1, soundCount("resource:135"));
    EXPECT_EQ(0, soundCount("resource:134"));
    EXPECT_EQ(1, messageBoxCount(u"Failed to open COM Port."));
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    EXPECT_EQ(1, engineConnected.load());
}

// A read at the end of a closed peer's stream reports the far end gone.
TEST_F(ConnectTest, PortWhosePeerClosedFailsWritesReadsAndWaits) {
    ASSERT_TRUE(attachPeer(3));
    HANDLE port = CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    closePeer();
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(port, "abc", 3, &n, nullptr));
    EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
    char buffer[8];
    EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(0u, n);
    DWORD mask = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask, nullptr));  // returns, does not hang
    CloseHandle(port);
}

class ListenerTest : public EngineTerminal {
protected:
    void SetUp() override {
        EngineTerminal::SetUp();
        ASSERT_TRUE(attachPeer(5));
        settings.ComportNumber = 5;
        settings.SendData.store(1);
        ASSERT_EQ(1, connectEngine(0));
    }
    std::string charInLog() { return rootFile(root, "CharInLog.txt"); }
    // The listener logs what it reads at once; the bound only stops a test
    // whose record never comes, and a starved thread on a loaded machine
    // needs more than a few seconds.
    bool waitForLog(size_t records, int realMilliseconds = 20000) {
        return wedge::waitFor(
            [&] {
                std::string log = charInLog();
                size_t n = 0;
                for (size_t at = log.find("break;"); at != std::string::npos; at = log.find("break;", at + 1)) ++n;
                return n >= records;
            },
            realMilliseconds);
    }
    void TearDown() override {
        terminal::setPortReadHook(nullptr);
        EngineTerminal::TearDown();
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(peer, bytes.data(), bytes.size()));
    }
};

TEST_F(ListenerTest, ShortChunkLogsZerosAndRecordsFollowOnTheSameLine) {
    send("abc");
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ("case 0:\r\r\nByte[8] = 0;\r\r\nByte[9] = 0;\r\r\nbreak;", charInLog());

    send(std::string("012345\xff" "7\x80\x90", 10));
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(
        "case 0:\r\r\nByte[8] = 0;\r\r\nByte[9] = 0;\r\r\nbreak;"
        "case 255:\r\r\nByte[8] = 128;\r\r\nByte[9] = 144;\r\r\nbreak;",
        charInLog());
}

// A chunk that arrives just as the listener gives up on an idle peer (with
// its last read) was once dropped. The second chunk of each round is sent at
// the listener's n-th empty read, from the 1st through the 11th (after the
// last read of the session): every one must leave its record.
TEST_F(ListenerTest, ChunkArrivingWithTheLastReadIsLogged) {
    std::atomic<int> emptyReads{0};
    std::atomic<int> sendAt{0};
    // Counted once the read's hook is done, so the next round starts after it.
    terminal::setPortReadHook([&](int comIndex, uint32_t got) {
        if (comIndex != 5 || got > 0) return;
        int n = emptyReads.load() + 1;
        if (n == sendAt.load()) send(std::string("BBBBBB") + static_cast<char>(100 + n) + "xyz");
        emptyReads.store(n);
    });
    size_t records = 0;
    for (int at = 1; at <= 11; ++at) {
        // The listener waits for the peer now: no read runs while the round is set up.
        emptyReads.store(0);
        sendAt.store(at);
        send("0123456789");
        records += 2;
        ASSERT_TRUE(waitForLog(records)) << "second chunk at empty read " << at;
        EXPECT_NE(std::string::npos, charInLog().find("case " + std::to_string(100 + at) + ":")) << at;
        // Ten empty reads end a session, and the one after them; a chunk that
        // came with that last read opens no new session, one after it does.
        int sessionEnd = at == 11 ? 22 : at == 10 ? 10 : 11;
        ASSERT_TRUE(wedge::waitFor([&] { return emptyReads.load() >= sessionEnd; }, 5000)) << at;
    }
}

TEST_F(ListenerTest, PeerThatGoesAwayMidSessionFailsWritesAndANewPeerIsLogged) {
    send("first chunk");
    ASSERT_TRUE(waitForLog(1));
    closePeer();
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(serialPortHandle.load(), "x", 1, &written, nullptr));
    EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
    closeSerialPort();
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    ASSERT_TRUE(attachPeer(5));
    ASSERT_EQ(1, connectEngine(0));
    send("0123456789");
    ASSERT_TRUE(waitForLog(2));
    EXPECT_NE(std::string::npos, charInLog().find("break;case 54:\r\r\nByte[8] = 56;\r\r\nByte[9] = 57;"));
}

}  // namespace
}  // namespace scanengine
