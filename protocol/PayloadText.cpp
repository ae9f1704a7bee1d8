// Number readers, Base64 adapters and the line reader and writer of the payloads.
#include "PayloadText.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZRBase64.h"

namespace zdProtocol {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads like strtoll with clamping; `digits` is false when no digit was seen.
long long ReadClamped(std::string_view text, long long lowest, long long highest) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const unsigned long long limit = negative ? static_cast<unsigned long long>(-(lowest + 1)) + 1
                                              : static_cast<unsigned long long>(highest);
    unsigned long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<unsigned long long>(text[i] - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    if (!negative) return static_cast<long long>(value);
    return value == limit ? lowest : -static_cast<long long>(value);
}

// What the Dispatcher trims around a number.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

long ParseLong(std::string_view text) {
    return static_cast<long>(ReadClamped(text, LONG_MIN, LONG_MAX));
}

int ParseInt(std::string_view text) {
    const long value = ParseLong(text);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

long long ParseLongLong(std::string_view text) {
    return ReadClamped(text, LLONG_MIN, LLONG_MAX);
}

float ParseFloat(std::string_view text) {
    char small[64];
    if (text.size() < sizeof small) {
        std::memcpy(small, text.data(), text.size());
        small[text.size()] = '\0';
        return std::strtof(small, nullptr);
    }
    const std::string copy(text);
    return std::strtof(copy.c_str(), nullptr);
}

bool ParseStrictLong(std::string_view text, long& value) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    if (begin == end) return false;
    const std::string digits(text.substr(begin, end - begin));
    const char first = digits[0];
    // strtol would also skip white space of its own choosing.
    if (!(first == '-' || first == '+' || (first >= '0' && first <= '9'))) return false;
    char* stop = nullptr;
    errno = 0;
    const long parsed = std::strtol(digits.c_str(), &stop, 10);
    if (errno != 0 || stop != digits.c_str() + digits.size()) return false;
    value = parsed;
    return true;
}

bool ParseStrictInt(std::string_view text, int& value) {
    long parsed = 0;
    if (!ParseStrictLong(text, parsed) || parsed < INT_MIN || parsed > INT_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseStrictFlag(std::string_view text, bool& flag) {
    int value = 0;
    if (!ParseStrictInt(text, value)) return false;
    flag = value != 0;
    return true;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    // Exactly the encoded length: Encode adds no NUL when there is no room for one.
    if (!out.empty())
        ZRFramework::ZRBase64::Encode(bytes.data(), bytes.size(), &out[0], out.size());
    return out;
}

bool DecodeBase64(std::string_view base64, std::string& out) {
    unsigned long size = base64.size() / 4 * 3 + 3;
    out.resize(size);
    if (!ZRFramework::ZRBase64::Decode(base64.data(), base64.size(), &out[0], &size)) {
        out.clear();
        return false;
    }
    out.resize(size);
    return true;
}

std::string_view LineOf(std::string_view text, size_t number) {
    if (number == 0) return std::string_view();
    LineReader lines(text);
    std::string_view line;
    for (size_t n = 0; n < number; ++n) {
        if (lines.AtEnd()) return std::string_view();
        line = lines.Next();
    }
    return line;
}

size_t CountLines(std::string_view text) {
    size_t count = 0;
    for (size_t at = 0; at < text.size(); ++count) {
        const size_t end = text.find('\n', at);
        at = end == std::string_view::npos ? text.size() : end + 1;
    }
    return count;
}

std::string_view LineReader::Next() {
    ++read_;
    const size_t end = rest_.find('\n');
    std::string_view line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return line;
}

void LineReader::SkipTo(int number) {
    while (Position() < number)
        Next();
}

void LineWriter::Number(long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out_.append(digits, end);
    out_ += '\n';
}

void LineWriter::Text(std::string_view value) {
    const size_t start = out_.size();
    out_ += value;
    for (size_t i = start; i < out_.size(); ++i) {
        const char c = out_[i];
        if (c == '\n' || c == '\r' || c == '\0') out_[i] = ' ';
    }
    out_ += '\n';
}

void LineWriter::Base64(std::string_view bytes) {
    const size_t at = out_.size();
    const size_t length = (bytes.size() + 2) / 3 * 4;
    out_.resize(at + length);
    if (length) ZRFramework::ZRBase64::Encode(bytes.data(), bytes.size(), &out_[at], length);
    out_ += '\n';
}

void LineWriter::Fixed2(double value) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.2f", value);
    out_.append(text, n > 0 && n < static_cast<int>(sizeof text) ? static_cast<size_t>(n) : 0);
    out_ += '\n';
}

void LineWriter::Shortest(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out_.append(text, result.ptr);
    out_ += '\n';
}

}  // namespace zdProtocol
