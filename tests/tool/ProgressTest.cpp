// The progress count of listings on a terminal's standard error, with the terminal and the clock
// in the test's hands.
#include <gtest/gtest.h>

#include "ConsoleOutput.h"
#include "Progress.h"
#include "QueryTestSupport.h"

using namespace querytest;

namespace {

int64_t fakeNow = 0;
int clockReads = 0;
int64_t stepMillis = 0;  // how far the clock moves at each read

int64_t fakeClock() {
    ++clockReads;
    fakeNow += stepMillis;
    return fakeNow;
}

class ProgressCount : public testing::Test {
protected:
    void SetUp() override {
        FreshRun();
        nVerbose = 2;
        fakeNow = clockReads = 0;
        stepMillis = 0;
        setProgressClock(fakeClock);
        setTerminalStream(stderr, true);
        setTerminalStream(stdout, false);
        dispatcher_ = std::make_unique<zdtest::FakeDispatcher>();
    }
    void TearDown() override {
        dispatcher_.reset();
        setProgressClock(nullptr);
        resetOutputState();
        resetRunSettings();
        resetColumnLists();
        resetQueryState();
    }

    // Runs a node listing of `count` records; standard error as written.
    std::string ListNodes(int count) {
        std::vector<std::string> records;
        for (int i = 1; i <= count; ++i) {
            Node node;
            node.id = i;
            records.push_back(NodeText(node));
        }
        dispatcher_->QueueInBackground(Frame(zdCode::kNodesStart, "") + [&] {
            std::string frames;
            for (const std::string& text : records)
                frames += Frame(zdCode::kNodesRecord, text);
            return frames;
        }() + Frame(zdCode::kNodesEnd, ""));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_TRUE(QueryCpus(queryOptionsFromSettings()));
        std::fflush(stdout);
        testing::internal::GetCapturedStdout();
        return testing::internal::GetCapturedStderr();
    }

    std::unique_ptr<zdtest::FakeDispatcher> dispatcher_;
};

TEST_F(ProgressCount, AppearsUpdatesAtMostFourTimesASecondAndIsErased) {
    stepMillis = 100;
    const std::string err = ListNodes(2048);
    // The clock is read at the start and once per 256 records, not per record: 100 (start),
    // then 200, 300, 400 (drawn), ... 700 (drawn), 800, 900.
    EXPECT_EQ(clockReads, 1 + 2048 / 256);
    EXPECT_EQ(err, "\r768 records received\r1536 records received\r" + std::string(21, ' ') + "\r");
}

TEST_F(ProgressCount, ShownOnlyOnATerminalAtTheDefaultVerbosity) {
    stepMillis = 1000;
    EXPECT_EQ(ListNodes(300), "\r256 records received\r" + std::string(20, ' ') + "\r");

    setTerminalStream(stderr, false);
    EXPECT_EQ(ListNodes(300), "");
    setTerminalStream(stderr, true);
    nVerbose = 1;
    EXPECT_EQ(ListNodes(300), "");
    nVerbose = 3;
    EXPECT_EQ(ListNodes(300), "");

    // A listing that arrives at once shows nothing.
    nVerbose = 2;
    stepMillis = 0;
    EXPECT_EQ(ListNodes(1000), "");
}

TEST_F(ProgressCount, ErasedBeforeAFailureIsReported) {
    stepMillis = 1000;
    std::string frames = Frame(zdCode::kNodesStart, "");
    for (int i = 1; i <= 300; ++i) {
        Node node;
        node.id = i;
        frames += Frame(zdCode::kNodesRecord, NodeText(node));
    }
    dispatcher_->QueueInBackground(frames);
    dispatcher_->Hangup();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(QueryCpus(queryOptionsFromSettings()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\r256 records received\r" + std::string(20, ' ') +
                  "\rSocket error while communicating with the Dispatcher.\n");
}

}  // namespace
