// Serial ports of the host terminal, driven through the platform calls
// against real pseudo-terminals.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "tests/support/scanengine_support.h"
#include "tests/support/wedge_process.h"

namespace scanengine {
namespace {

HANDLE openCom(const char16_t* name) {
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string readAvailable(HANDLE port, int attempts = 200) {
    std::string out;
    for (int i = 0; i < attempts && out.empty(); ++i) {
        char buffer[256];
        DWORD got = 0;
        if (ReadFile(port, buffer, sizeof buffer, &got, nullptr) && got > 0)
            out.assign(buffer, got);
        else
            Sleep(5);
    }
    return out;
}

class PortTest : public EngineTerminal {};

TEST_F(PortTest, MissingPortsFailAsNotFound) {
    terminal::setPortPath(3, "none");
    EXPECT_EQ(INVALID_HANDLE_VALUE, openCom(u"COM3:"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    terminal::setPortPath(6, root + "/no/such/tty");
    EXPECT_EQ(INVALID_HANDLE_VALUE, openCom(u"COM6:"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(PortTest, ConfiguredPortCarriesBytesBothWaysRaw) {
    ASSERT_TRUE(attachPeer(3));
    HANDLE port = openCom(u"COM3:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    // No translation of line ends or control characters either way.
    std::string frame("\x02\r\n\x03\x7f\xff\x00z", 8);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr));
    EXPECT_EQ(frame.size(), written);
    EXPECT_EQ(frame, peerBytes(frame.size()));
    ASSERT_EQ(3, write(peer, "\r\n\x04", 3));
    EXPECT_EQ("\r\n\x04", readAvailable(port));
    CloseHandle(port);
}

TEST_F(PortTest, LargeWritesAreCompletedWhileThePeerReadsSlowly) {
    ASSERT_TRUE(attachPeer(3));
    HANDLE port = openCom(u"COM3:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    std::string big(200000, 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    std::string got;
    std::thread reader([&] { got = peerBytes(big.size(), 10000); });
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
    reader.join();
    EXPECT_EQ(big.size(), written);
    EXPECT_TRUE(got == big);
    CloseHandle(port);
}

TEST_F(PortTest, ReadHonoursTheTotalTimeOut) {
    ASSERT_TRUE(attachPeer(3));
    HANDLE port = openCom(u"COM3:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = 400;
    ASSERT_TRUE(SetCommTimeouts(port, &t));
    COMMTIMEOUTS back{};
    ASSERT_TRUE(GetCommTimeouts(port, &back));
    EXPECT_EQ(400u, back.ReadTotalTimeoutConstant);

    char buffer[16];
    DWORD got = 99;
    DWORD start = GetTickCount();
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(0u, got);
    EXPECT_GE(GetTickCount() - start, 390u);

    std::thread writer([&] {
        Sleep(100);
        (void)!write(peer, "ok", 2);
    });
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
    writer.join();
    EXPECT_EQ(2u, got);
    CloseHandle(port);
}

TEST_F(PortTest, WaitCommEventWakesForCharactersAndForClose) {
    ASSERT_TRUE(attachPeer(3));
    HANDLE port = openCom(u"COM3:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    ASSERT_EQ(1, write(peer, "x", 1));
    DWORD mask = 0;
    EXPECT_TRUE(WaitCommEvent(port, &mask, nullptr));
    EXPECT_EQ(EV_RXCHAR, mask);
    EXPECT_EQ("x", readAvailable(port));

    std::atomic<int> result{-1};
    std::thread waiter([&] {
        DWORD m = 0;
        result = WaitCommEvent(port, &m, nullptr) ? 1 : 0;
    });
    Sleep(100);
    EXPECT_EQ(-1, result.load());
    CloseHandle(port);
    waiter.join();
    EXPECT_EQ(0, result.load());
}

TEST_F(PortTest, PeerThatClosesFailsWritesAndReads) {
    ASSERT_TRUE(attachPeer(3));
    HANDLE port = openCom(u"COM3:");
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

// An unconfigured port is a pseudo-terminal of its own whose far end the
// terminal publishes; what is written there is also logged.
TEST_F(PortTest, AutoPortPublishesItsPeerAndLogsOutput) {
    HANDLE port = openCom(u"COM7:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    std::string peerPath = terminal::config("COM7.peer");
    ASSERT_FALSE(peerPath.empty());
    int far = open(peerPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(far, 0);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "hello\r", 6, &n, nullptr));
    std::string seen;
    ASSERT_TRUE(wedge::waitFor(
        [&] {
            char b[64];
            ssize_t r = read(far, b, sizeof b);
            if (r > 0) seen.append(b, static_cast<size_t>(r));
            return seen.size() >= 6;
        },
        3000));
    EXPECT_EQ("hello\r", seen);
    EXPECT_EQ("hello\r", rootFile(root, ".terminal/log/COM7.out"));
    ASSERT_EQ(2, write(far, "in", 2));
    EXPECT_EQ("in", readAvailable(port));
    close(far);

    // Nobody reading the far end: writes still complete instead of blocking.
    std::string block(100000, 'b');
    EXPECT_TRUE(WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &n, nullptr));
    EXPECT_EQ(block.size(), n);
    CloseHandle(port);
}

TEST_F(PortTest, SwipedCardArrivesAtTheCardReaderPort) {
    EXPECT_FALSE(terminal::swipeCard("%B123?"));  // no reader open yet
    HANDLE reader = openCom(u"COM1:");
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    ASSERT_TRUE(terminal::swipeCard("%B4111^CARD/HOLDER^2512?\r"));
    std::string got;
    for (int i = 0; i < 10 && got.size() < 25; ++i) got += readAvailable(reader);
    EXPECT_EQ("%B4111^CARD/HOLDER^2512?\r", got);
    CloseHandle(reader);
    EXPECT_FALSE(terminal::swipeCard("%B123?"));  // the reader's port is closed again
}

TEST_F(PortTest, PowerControlOnlyOnTheFourthPortWhenTheTerminalSwitchesByPort) {
    HANDLE com4 = openCom(u"COM4:");
    ASSERT_NE(INVALID_HANDLE_VALUE, com4);
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(com4, 17, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
    EXPECT_EQ(-1, terminal::fiveVoltState());

    terminal::setConfig("power", "port");
    EXPECT_TRUE(DeviceIoControl(com4, 17, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(1, terminal::fiveVoltState());
    EXPECT_TRUE(DeviceIoControl(com4, 18, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(0, terminal::fiveVoltState());
    EXPECT_FALSE(DeviceIoControl(com4, 19, nullptr, 0, nullptr, 0, &returned, nullptr));

    HANDLE com5 = openCom(u"COM5:");
    ASSERT_NE(INVALID_HANDLE_VALUE, com5);
    EXPECT_FALSE(DeviceIoControl(com5, 17, nullptr, 0, nullptr, 0, &returned, nullptr));
    CloseHandle(com5);
    CloseHandle(com4);
}

}  // namespace
}  // namespace scanengine
