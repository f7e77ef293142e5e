// The connect operation and the serial listener on the host terminal: named
// events, sounds, message boxes, trace lines, and the CharInLog records of
// what a real pseudo-terminal peer sends.
#include <unistd.h>

#include <string>

#include "output/serial.h"
#include "platform/host/terminal.h"
#include "scan/engine.h"
#include "settings/settings.h"
#include "shell/app.h"
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

std::vector<std::string> openLines(const std::string& root) {
    return traceStartingWith(root, "Open ");
}

class ConnectTest : public EngineTerminal {};

TEST_F(ConnectTest, EngineOnlyConnectsOnceAndAnnouncesItThroughTheEvents) {
    EXPECT_EQ(1, connectEngine(1));
    EXPECT_TRUE(terminal::engineConnected());
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
    EXPECT_TRUE(soundNames().empty());
}

TEST_F(ConnectTest, EngineFailureShowsTheMessageAndLeavesTheFlagClear) {
    terminal::setConfig("engine", "fail");
    EXPECT_EQ(0, connectEngine(0));
    EXPECT_EQ(0, engineConnected.load());
    EXPECT_EQ(0, terminal::eventState("KVN_Enable_State"));
    EXPECT_EQ(1, messageBoxCount(u"Failed to connect to the Scan engine."));
    EXPECT_TRUE(soundNames().empty());
}

TEST_F(ConnectTest, WithoutSendDataNoPortOpensAndTheConnectedSoundPlays) {
    settings.SendData.store(0);
    EXPECT_EQ(1, connectEngine(0));
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    EXPECT_TRUE(openLines(root).empty());
    EXPECT_EQ(1, soundCount("resource:134"));
}

TEST_F(ConnectTest, OpensThePortAndResetsTheFrameSequence) {
    ASSERT_TRUE(attachPeer(3));
    settings.ComportNumber = 3;
    settings.SendData.store(1);
    settings.ConnectingTo = 1;
    frameSequenceCounter = 77;
    EXPECT_EQ(1, connectEngine(0));
    EXPECT_EQ(std::u16string(u"COM3:"), std::u16string(portName));
    ASSERT_NE(INVALID_HANDLE_VALUE, serialPortHandle.load());
    EXPECT_EQ(1u, frameSequenceCounter);
    // The line carries its own "\r\n", which the text-mode append writes as "\r\r\n".
    EXPECT_EQ("Open Success : 0\r\r\n", wedge::traceText(root));
    EXPECT_EQ(1, soundCount("resource:134"));

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(serialPortHandle.load(), "\x02hi\x03", 4, &written, nullptr));
    EXPECT_EQ("\x02hi\x03", peerBytes(4));
}

TEST_F(ConnectTest, ReconnectingClosesThePortItHadOpen) {
    ASSERT_TRUE(attachPeer(3));
    settings.ComportNumber = 3;
    settings.SendData.store(1);
    ASSERT_EQ(1, connectEngine(0));
    HANDLE first = serialPortHandle.load();
    ASSERT_EQ(1, connectEngine(0));
    HANDLE second = serialPortHandle.load();
    ASSERT_NE(INVALID_HANDLE_VALUE, second);
    EXPECT_NE(first, second);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(first, "x", 1, &written, nullptr));
    EXPECT_TRUE(WriteFile(second, "y", 1, &written, nullptr));
    EXPECT_EQ("y", peerBytes(1));
}

TEST_F(ConnectTest, PortThatOpensOnTheThirdAttempt) {
    ASSERT_TRUE(attachPeer(3));
    terminal::setConfig("COM3.failopens", "2");
    settings.ComportNumber = 3;
    settings.SendData.store(1);
    EXPECT_EQ(1, connectEngine(0));
    EXPECT_EQ((std::vector<std::string>{"Open Failed : 32", "Open Failed : 32", "Open Success : 0"}), openLines(root));
    EXPECT_EQ(1, soundCount("resource:134"));
    EXPECT_EQ(0, soundCount("resource:135"));
}

TEST_F(ConnectTest, FiveFailedOpensReportTheFailureAndKeepTheEngine) {
    terminal::setPortPath(3, "none");
    settings.ComportNumber = 3;
    settings.SendData.store(1);
    EXPECT_EQ(0, connectEngine(0));
    EXPECT_EQ(std::vector<std::string>(5, "Open Failed : 2"), openLines(root));
    EXPECT_EQ(1, soundCount("resource:135"));
    EXPECT_EQ(0, soundCount("resource:134"));
    EXPECT_EQ(1, messageBoxCount(u"Failed to open COM Port."));
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    EXPECT_EQ(1, engineConnected.load());
}

// Port numbers that "COM%d:" cannot hold in six characters name no port.
TEST_F(ConnectTest, PortNumbersOutsideZeroToNineNameNoPort) {
    settings.SendData.store(1);
    for (int number : {-1, 10, 123456}) {
        settings.ComportNumber = number;
        EXPECT_EQ(0, connectEngine(0)) << number;
        EXPECT_EQ(0, portName[0]) << number;
        EXPECT_EQ(1, connectEngine(1)) << number;  // the engine step alone still works
    }
    EXPECT_EQ(std::vector<std::string>(15, "Open Failed : 2"), openLines(root));
    EXPECT_EQ(3, messageBoxCount(u"Failed to open COM Port."));
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
    bool waitForLog(size_t records) {
        return wedge::waitFor(
            [&] {
                std::string log = charInLog();
                size_t n = 0;
                for (size_t at = log.find("break;"); at != std::string::npos; at = log.find("break;", at + 1)) ++n;
                return n >= records;
            },
            5000);
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(peer, bytes.data(), bytes.size()));
    }
};

TEST_F(ListenerTest, ShortChunkLogsZerosAndRecordsFollowOnTheSameLine) {
    send("abc");
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ("case 0:\r\r\nByte[8] = 0;\r\r\nByte[9] = 0;\r\r\nbreak;", charInLog());

    send(
        std::string("012345\xff"
                    "7\x80\x90",
                    10));
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(
        "case 0:\r\r\nByte[8] = 0;\r\r\nByte[9] = 0;\r\r\nbreak;"
        "case 255:\r\r\nByte[8] = 128;\r\r\nByte[9] = 144;\r\r\nbreak;",
        charInLog());
}

TEST_F(ListenerTest, PeerThatGoesAwayFailsWritesAndClosingEndsTheListener) {
    send("first chunk");
    ASSERT_TRUE(waitForLog(1));
    closePeer();
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(serialPortHandle.load(), "x", 1, &written, nullptr));
    EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
    closeSerialPort();
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    // A new session on a new peer logs again.
    ASSERT_TRUE(attachPeer(5));
    ASSERT_EQ(1, connectEngine(0));
    send("0123456789");
    ASSERT_TRUE(waitForLog(2));
    EXPECT_NE(std::string::npos, charInLog().find("break;case 54:\r\r\nByte[8] = 56;\r\r\nByte[9] = 57;"));
}

}  // namespace
}  // namespace scanengine
