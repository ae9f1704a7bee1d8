// The transcript writer and its escaping.
#include "Transcript.h"

#include <cerrno>
#include <cstring>

namespace zdsim {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, unsigned char byte) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

}  // namespace

std::string EscapePayload(const std::string& payload) {
    std::string out;
    out.reserve(payload.size());
    for (const char c : payload) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\x";
                    AppendHex(out, byte);
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string TranscriptLine(int client, unsigned char code, const std::string& payload) {
    std::string line = std::to_string(client) + " ";
    AppendHex(line, code);
    if (!payload.empty()) line += " " + EscapePayload(payload);
    line += "\n";
    return line;
}

TranscriptWriter::~TranscriptWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

bool TranscriptWriter::Open(const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (file_ != nullptr) std::fclose(file_);
    file_ = file;
    return true;
}

void TranscriptWriter::Record(int client, unsigned char code, const std::string& payload) {
    if (file_ == nullptr) return;
    const std::string line = TranscriptLine(client, code, payload);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace zdsim
