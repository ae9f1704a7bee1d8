// The transcript: escaping of payload bytes, line layout, and lines visible before closing.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "Transcript.h"

namespace {

using zdsim::EscapePayload;
using zdsim::TranscriptLine;

TEST(Transcript, ControlBytesAreEscapedAndEverythingElseKept) {
    const struct {
        std::string payload;
        std::string escaped;
    } cases[] = {
        {"", ""},
        {"plain text 123", "plain text 123"},
        {"a\nb\n", "a\\nb\\n"},
        {"\t\r", "\\t\\r"},
        {"back\\slash", "back\\\\slash"},
        {"\\n", "\\\\n"},
        {std::string("\x01\x1f\x7f", 3), "\\x01\\x1F\\x7F"},
        {std::string("a\0b", 3), "a\\x00b"},
        {std::string("\x1b[0m", 4), "\\x1B[0m"},
        {"caf\xC3\xA9 \xff", "caf\xC3\xA9 \xff"},
        {" ~", " ~"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapePayload(c.payload), c.escaped) << c.escaped;
}

TEST(Transcript, LinesHoldClientCodeAndPayload) {
    EXPECT_EQ(TranscriptLine(1, 0x20, "host\nann\n"), "1 20 host\\nann\\n\n");
    EXPECT_EQ(TranscriptLine(12, 0x23, ""), "12 23\n");
    EXPECT_EQ(TranscriptLine(3, 0xD2, "7"), "3 D2 7\n");
    EXPECT_EQ(TranscriptLine(3, 0x0A, "1\nfx\n"), "3 0A 1\\nfx\\n\n");
}

TEST(Transcript, EachRecordIsReadableAtOnce) {
    simtest::TempFolder folder;
    const std::string path = folder / "record.txt";
    zdsim::TranscriptWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(path, error)) << error;
    writer.Record(1, 0x20, "a\n");
    EXPECT_EQ(simtest::ReadFile(path), "1 20 a\\n\n");
    writer.Record(2, 0xD1, "");
    EXPECT_EQ(simtest::ReadFile(path), "1 20 a\\n\n2 D1\n");

    zdsim::TranscriptWriter nowhere;
    EXPECT_FALSE(nowhere.Open(folder / "missing/record.txt", error));
    EXPECT_NE(error.find("missing/record.txt"), std::string::npos);
    nowhere.Record(1, 0x20, "ignored");
}

}  // namespace
