// Tests of a stream's socket events routed to a window: a message-only window and its message
// loop see exactly the events the stream asked for at each step.
#include <gtest/gtest.h>

#include "../SocketTestSupport.h"
#include "ZRSocket.h"

#include <windows.h>

#include <chrono>
#include <string>

using namespace ZRFramework;
using namespace ZRFramework::ZRSocket;
using namespace sockettest;

namespace {

class RoutingWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "zrRoutingTest";
        RegisterClassA(&windowClass);  // a second registration fails harmlessly
        window_ = CreateWindowExA(0, "zrRoutingTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
        stream_.socketFd = connection_.local;
    }
    void TearDown() override {
        if (window_ != nullptr) DestroyWindow(window_);
    }

    // The FD_* events of the WM_USER messages for our socket within `ms`, or-ed together, after
    // `until` has been seen (or the time is up).
    long Events(long until, int ms = kWaitMs) {
        long seen = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while ((seen & until) != until && std::chrono::steady_clock::now() < end) {
            MSG message;
            if (!PeekMessageA(&message, window_, 0, 0, PM_REMOVE)) {
                Sleep(2);
                continue;
            }
            if (message.message == WM_USER &&
                message.wParam == static_cast<WPARAM>(connection_.local))
                seen |= WSAGETSELECTEVENT(message.lParam);
        }
        return seen;
    }

    Connection connection_{Transport::kLoopbackTcp};
    zrSocketStream stream_;
    HWND window_ = nullptr;
};

TEST_F(RoutingWindowTest, ReadsWritesAndTheEndReachTheWindow) {
    ASSERT_TRUE(stream_.RegisterRoutingWindow(window_));
    EXPECT_EQ(stream_.routingWindow, window_);
    // Nothing queued: no write events, however writable the socket is.
    EXPECT_EQ(Events(FD_WRITE, 200) & FD_WRITE, 0);

    ASSERT_TRUE(SendAll(connection_.peer, Frame("A", "hello")));
    EXPECT_EQ(Events(FD_READ) & FD_READ, FD_READ);
    while (stream_.Read() > 0) {
    }
    EXPECT_EQ(Take(stream_.GetNextMessage()), "Ahello");

    // Queued output asks for writability until it is all sent.
    ASSERT_TRUE(stream_.AddMessage("B", "reply"));
    EXPECT_EQ(Events(FD_WRITE) & FD_WRITE, FD_WRITE);
    EXPECT_GT(stream_.Write(), 0);
    EXPECT_FALSE(stream_.HasToWrite());
    EXPECT_EQ(ReceiveUpTo(connection_.peer, Frame("B", "reply").size()), Frame("B", "reply"));

    connection_.ClosePeer();
    EXPECT_EQ(Events(FD_CLOSE) & FD_CLOSE, FD_CLOSE);
    EXPECT_EQ(stream_.Read(), 0);
    EXPECT_TRUE(stream_.broken);

    EXPECT_EQ(stream_.Close(), 0);
    connection_.local = -1;
    EXPECT_EQ(stream_.routingWindow, nullptr);
}

TEST_F(RoutingWindowTest, RegistrationOfAClosedSocketFails) {
    CloseDescriptor(connection_.local);
    connection_.local = -1;
    stream_.socketFd = -1;
    EXPECT_FALSE(stream_.RegisterRoutingWindow(window_));
}

}  // namespace
