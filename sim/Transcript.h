// The transcript of what zdsim received: one line per frame with the client number, the code in
// hexadecimal and the payload with its control bytes escaped.
#ifndef ZDSIM_TRANSCRIPT_H
#define ZDSIM_TRANSCRIPT_H

#include <cstdio>
#include <string>

namespace zdsim {

// "\n", "\t", "\r" and "\\" for those bytes, "\xNN" (upper-case hex) for the other control bytes
// (below 0x20 and 0x7F); every other byte as it is.
std::string EscapePayload(const std::string& payload);
// "<client> <code as two upper-case hex digits>", then " <escaped payload>" when there is one,
// then a line feed.
std::string TranscriptLine(int client, unsigned char code, const std::string& payload);

class TranscriptWriter {
public:
    TranscriptWriter() = default;
    ~TranscriptWriter();
    TranscriptWriter(const TranscriptWriter&) = delete;
    TranscriptWriter& operator=(const TranscriptWriter&) = delete;

    // Creates or truncates the file; false with the reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Writes and flushes one line, so a reader sees every frame as soon as it was handled.
    void Record(int client, unsigned char code, const std::string& payload);

private:
    FILE* file_ = nullptr;
};

}  // namespace zdsim

#endif
