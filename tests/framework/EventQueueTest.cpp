// Tests of the event queue: level-triggered read interest, one-shot write interest that never
// costs the read interest, the registrations a socket stream makes, and an echo event loop over
// two stream pairs fed by a producer thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "ZREventQueue.h"
#include "ZRSocket.h"

using namespace ZRFramework;
using namespace ZRFramework::ZREventQueue;
using namespace sockettest;

namespace {

struct Queue {
    int fd = CreateEventQueue();
    Queue() = default;
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;
    ~Queue() { DestroyEventQueue(fd); }

    // The events of one wait, by descriptor.
    std::map<int, int> Wait(int ms) {
        zrQueueEvent events[16];
        std::map<int, int> got;
        const int n = WaitEventQueue(fd, events, 16, ms);
        for (int i = 0; i < n; ++i)
            got[events[i].fd] |= events[i].events;
        return got;
    }
};

constexpr int kNoWaitMs = 0;

TEST(EventQueueTest, ReadInterestIsLevelTriggered) {
    Queue q;
    ASSERT_GE(q.fd, 0);
    Connection c(Transport::kSocketPair);
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, false), 0);
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
    ASSERT_TRUE(SendAll(c.peer, "x"));
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventReadable}}));
    char byte;
    ASSERT_EQ(recv(Native(c.local), &byte, 1, 0), 1);
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
}

TEST(EventQueueTest, WriteInterestIsReportedOnceAndKeepsReadInterest) {
    Queue q;
    Connection c(Transport::kSocketPair);
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, true), 0);
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventWritable}}));
    // Still writable, but the interest was used up.
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
    ASSERT_TRUE(SendAll(c.peer, "x"));
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventReadable}}));

    ASSERT_EQ(WatchDescriptor(q.fd, c.local, true), 0);
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventReadable | kEventWritable}}));
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventReadable}}));

    // Watching for reading alone withdraws an unreported write interest.
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, true), 0);
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, false), 0);
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventReadable}}));
}

TEST(EventQueueTest, UnwatchAndReusedDescriptors) {
    Queue q;
    Connection c(Transport::kSocketPair);
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, true), 0);
    ASSERT_EQ(UnwatchDescriptor(q.fd, c.local), 0);
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
    EXPECT_EQ(UnwatchDescriptor(q.fd, c.local), -1);

#ifndef _WIN32
    // A descriptor closed while watched leaves nothing behind that blocks its number (POSIX
    // hands out the lowest free number again; Winsock handles are not reused that way).
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, true), 0);
    const int number = c.local;
    close(c.local);
    c.local = -1;
    int fresh[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fresh), 0);
    const int reused = fresh[0] == number ? fresh[0] : fresh[1];
    ASSERT_EQ(reused, number);
    EXPECT_EQ(WatchDescriptor(q.fd, reused, true), 0);
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{reused, kEventWritable}}));
    close(fresh[0]);
    close(fresh[1]);
#endif

    zrQueueEvent events[1];
    EXPECT_EQ(WaitEventQueue(q.fd, events, 0, 0), -1);
    EXPECT_EQ(WaitEventQueue(-1, events, 1, 0), -1);
    EXPECT_EQ(WatchDescriptor(-1, 0, false), -1);
}

TEST(EventQueueTest, PeerCloseIsReportedReadable) {
    Queue q;
    Connection c(Transport::kLoopbackTcp);
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, false), 0);
    c.ClosePeer();
    const auto got = q.Wait(kWaitMs);
    ASSERT_EQ(got.count(c.local), 1u);
    EXPECT_TRUE(got.at(c.local) & kEventReadable);
}

// An arming made while another thread waits is never lost: after each burst of armings, a
// writable report is returned after the last of them.
TEST(EventQueueTest, ArmingDuringAWaitIsNotLost) {
    Queue q;
    Connection c(Transport::kSocketPair);
    ASSERT_EQ(WatchDescriptor(q.fd, c.local, false), 0);
    std::mutex arming;
    std::atomic<long> armed{0};
    std::atomic<long> reportedAfter{-1};  // armings completed when the last report came back
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        while (!done) {
            if (q.Wait(5).count(c.local) != 0) {
                std::lock_guard<std::mutex> hold(arming);
                reportedAfter = armed.load();
            }
        }
    });
    int lostRound = -1;
    for (int round = 0; round < 300 && lostRound == -1; ++round) {
        for (int i = 0; i < 20; ++i) {
            // Counted under the lock, so a report that came back after this arming sees it.
            std::lock_guard<std::mutex> hold(arming);
            EXPECT_EQ(WatchDescriptor(q.fd, c.local, true), 0);
            ++armed;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (reportedAfter < armed && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (reportedAfter < armed) lostRound = round;
    }
    done = true;
    waiter.join();
    EXPECT_EQ(lostRound, -1) << "the last arming of that round was lost";
}

// ---- Streams ----

TEST(EventQueueStreamTest, StreamAsksForWritingOnlyWhileOutputIsQueued) {
    Queue q;
    Connection c(Transport::kSocketPair);
    zrSocketStream stream;
    stream.socketFd = c.local;
    stream.RegisterKq(q.fd);
    EXPECT_EQ(stream.kqueueFd, q.fd);
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());

    ASSERT_TRUE(stream.AddMessage("a", "hello"));
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventWritable}}));
    EXPECT_GT(stream.Write(), 0);
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());

    // A read that would block re-asks for writing when output is queued, and not otherwise.
    EXPECT_EQ(stream.Read(), -1);
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
    ASSERT_TRUE(stream.AddMessage("b", "again"));
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventWritable}}));
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
    EXPECT_EQ(stream.Read(), -1);
    EXPECT_EQ(q.Wait(kWaitMs), (std::map<int, int>{{c.local, kEventWritable}}));

    // Close removes the registration.
    ASSERT_TRUE(SendAll(c.peer, "data"));
    EXPECT_EQ(stream.Close(), 0);
    c.local = -1;
    EXPECT_TRUE(q.Wait(kNoWaitMs).empty());
}

// Two client streams send messages (added by a producer thread) to two echo streams; one event
// loop drives all four until every message has come back.
TEST(EventQueueStreamTest, EventLoopEchoesEveryMessage) {
    constexpr int kMessages = 150;
    Queue q;
    Connection links[2] = {Connection(Transport::kSocketPair), Connection(Transport::kLoopbackTcp)};
    zrSocketStream clients[2];
    zrSocketStream servers[2];
    std::map<int, zrSocketStream*> byFd;
    std::vector<std::string> expected[2];
    for (int k = 0; k < 2; ++k) {
        const int small = 8192;
        SetSendBuffer(links[k].local, small);
        SetSendBuffer(links[k].peer, small);
        clients[k].socketFd = links[k].local;
        servers[k].socketFd = links[k].peer;
        for (zrSocketStream* s : {&clients[k], &servers[k]}) {
            s->SetMaxOutgoingBufferSize(64 << 20);
            s->RegisterKq(q.fd);
            byFd[s->socketFd] = s;
        }
        for (int i = 0; i < kMessages; ++i) {
            const size_t size = static_cast<size_t>(i * 997 % 30000);
            const std::string text =
                i % 3 == 0 ? Incompressible(size % 5000, i) : JobRecords(size, i);
            expected[k].push_back(std::string(1, static_cast<char>('A' + i % 26)) + text);
        }
    }

    std::thread producer([&] {
        for (int i = 0; i < kMessages; ++i) {
            for (int k = 0; k < 2; ++k) {
                const std::string& m = expected[k][i];
                EXPECT_TRUE(clients[k].AddMessage(m.substr(0, 1).c_str(), m.c_str() + 1));
            }
        }
    });

    std::vector<std::string> echoed[2];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto finished = [&] { return echoed[0].size() == kMessages && echoed[1].size() == kMessages; };
    while (!finished() && std::chrono::steady_clock::now() < deadline) {
        zrQueueEvent events[8];
        const int n = WaitEventQueue(q.fd, events, 8, 100);
        for (int i = 0; i < n; ++i) {
            zrSocketStream* s = byFd.at(events[i].fd);
            if (events[i].events & kEventWritable) s->Write();
            if (!(events[i].events & kEventReadable)) continue;
            while (s->Read() > 0) {
            }
            for (char* m; (m = s->GetNextMessage()) != nullptr;) {
                const std::string text(m + 1);
                const char code[2] = {m[0], '\0'};
                ZRSocket::destroyEncodedMessage(m);
                if (s == &servers[0] || s == &servers[1]) {
                    EXPECT_TRUE(s->AddMessage(code, text.c_str()));
                } else {
                    echoed[s == &clients[0] ? 0 : 1].push_back(code + text);
                }
            }
        }
    }
    producer.join();
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(echoed[k].size(), static_cast<size_t>(kMessages));
        for (size_t i = 0; i < std::min(echoed[k].size(), expected[k].size()); ++i)
            ASSERT_EQ(echoed[k][i], expected[k][i]) << i;
        for (zrSocketStream* s : {&clients[k], &servers[k]}) {
            EXPECT_FALSE(s->broken);
            EXPECT_FALSE(s->HasToWrite());
        }
    }
}

}  // namespace
