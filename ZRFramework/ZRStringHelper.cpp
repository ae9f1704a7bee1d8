// ZRStringHelper: trimming, conversions, tokenising, escaping and time formatting on byte strings.
// Every function is stateless; texts are bytes with no character-set awareness.
#include "ZRStringHelper.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ZRFramework {
namespace ZRStringHelper {

namespace {

// Calls sink(begin, length) for each token; shared by the three Tokenize forms.
template <typename Sink>
void ForEachToken(const std::string& text, const std::string& separators, Sink&& sink) {
    const size_t step = separators.size();
    size_t start = 0;
    // The step is the whole separator string, so it can jump past the end: nothing is left then.
    while (start < text.size()) {
        const size_t pos = text.find_first_of(separators, start);
        if (pos == std::string::npos) {
            sink(text.data() + start, text.size() - start);
            return;
        }
        sink(text.data() + start, pos - start);
        start = pos + step;
    }
}

char HexDigit(unsigned value) {
    return "0123456789ABCDEF"[value & 0x0F];
}

// No validation: any pair of bytes yields some value.
unsigned HexValue(unsigned char c) {
    if (c > 0x40) {
        const unsigned upper = (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
        return upper - 55u;
    }
    return static_cast<unsigned>(c) - 0x30u;
}

}  // namespace

void TrimCR(std::string& text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](char c) { return c == '\n' || c == '\r' || c == '\t'; }),
               text.end());
}

void TrimLeft(std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
}

void TrimRight(std::string& text) {
    const size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
}

bool ToBool(std::string text) {
    return text != "0";
}

std::string FromBool(bool value) {
    return value ? "1" : "0";
}

std::string FromInt(int value) {
    return std::to_string(value);
}

std::string FromLong(long value) {
    return std::to_string(value);
}

std::string FromTime(zrSeconds seconds) {
    return std::to_string(seconds);
}

std::string FromInt64(long long value) {
    return std::to_string(value);
}

std::string FromSizet(zrSizet value) {
    return std::to_string(value);
}

std::string FromDouble(double value, int precision) {
    char small[64];
    const int length = std::snprintf(small, sizeof small, "%.*f", precision, value);
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
    // Large magnitudes or precisions: format again into a buffer of the exact size.
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(&text[0], text.size() + 1, "%.*f", precision, value);
    return text;
}

std::string FromFloat(float value, int precision) {
    return FromDouble(static_cast<double>(value), precision);
}

std::string ToLower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ToUpper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool ExtractToken(std::string& source, std::string& token, const char* separator) {
    if (source.empty()) return false;
    const size_t pos = separator ? source.find(separator) : std::string::npos;
    if (pos == std::string::npos) {
        token.swap(source);
        source.clear();
        return true;
    }
    // Exactly one character is skipped: callers pass one-character separators.
    token.assign(source, 0, pos);
    source.erase(0, pos + 1);
    return true;
}

bool ExtractToken(std::string& source, std::string& token, const char* separator, const char* quote,
                  bool stripQuotes) {
    if (source.empty()) return false;
    // An empty or missing separator or quote simply never matches.
    const bool hasSeparator = separator && *separator;
    const bool hasQuote = quote && *quote;
    const char sep = hasSeparator ? *separator : '\0';
    const char quo = hasQuote ? *quote : '\0';

    std::string collected;
    bool inQuotes = false;
    size_t i = 0;
    const size_t size = source.size();
    while (i < size) {
        const char c = source[i];
        if (hasSeparator && c == sep && !inQuotes) {
            ++i;
            break;
        }
        if (c == '\\' && i + 1 < size) {
            const char next = source[i + 1];
            collected += next == 'n' ? '\n' : next == 't' ? '\t' : next;
            i += 2;
            continue;
        }
        if (hasQuote && c == quo) {
            inQuotes = !inQuotes;
            if (!stripQuotes) collected += c;
        } else {
            collected += c;
        }
        ++i;
    }
    if (inQuotes) return false;
    token.swap(collected);
    source.erase(0, i);
    return true;
}

std::string ConformToOS(std::string path) {
    std::replace(path.begin(), path.end(), ZRPlatform::kForeignSeparator,
                 ZRPlatform::kPathSeparator);
    return path;
}

bool SplitCommandLines(std::string commandLine, std::string& first, std::string& rest) {
    const size_t size = commandLine.size();
    bool quoted = false;
    size_t end = 0;
    for (; end < size; ++end) {
        const char c = commandLine[end];
        if (c == ' ' && !quoted) break;
        if (c == '"') {
            if (quoted) break;
            quoted = true;
        }
    }
    if (end == 0) return false;
    if (commandLine[0] == '"') {
        // Skip the closing quote and the one character after it.
        if (end + 2 < size) rest = commandLine.substr(end + 2);
        commandLine.resize(end);
        first = commandLine.substr(1);
    } else {
        if (end + 1 < size) rest = commandLine.substr(end + 1);
        commandLine.resize(end);
        first.swap(commandLine);
    }
    return true;
}

std::vector<std::string> TokenizeString(std::string text, std::string separators) {
    std::vector<std::string> tokens;
    ForEachToken(text, separators, [&tokens](const char* begin, size_t length) {
        tokens.emplace_back(begin, length);
    });
    return tokens;
}

std::set<std::string> TokenizeStringToSet(std::string text, std::string separators) {
    std::set<std::string> tokens;
    ForEachToken(text, separators,
                 [&tokens](const char* begin, size_t length) { tokens.emplace(begin, length); });
    return tokens;
}

std::set<long> TokenizeStringToLongSet(std::string text, std::string separators) {
    std::set<long> numbers;
    std::string token;
    ForEachToken(text, separators, [&](const char* begin, size_t length) {
        if (length == 0) return;
        // A terminated copy: the bytes after the token may be digits of the next one.
        token.assign(begin, length);
        numbers.insert(std::strtol(token.c_str(), nullptr, 10));
    });
    return numbers;
}

std::string GetLine(const char* text, int lineNumber) {
    if (!text || lineNumber < 1) return std::string();
    const char* line = text;
    for (int n = 1; n < lineNumber; ++n) {
        const char* feed = std::strchr(line, '\n');
        if (!feed) return std::string();
        line = feed + 1;
    }
    const char* feed = std::strchr(line, '\n');
    return feed ? std::string(line, feed) : std::string(line);
}

std::string GetLine(std::string text, int lineNumber) {
    return GetLine(text.c_str(), lineNumber);
}

std::string EncodeURL(std::string text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '.' || byte == '/' || byte == '-' ||
            byte == '_') {
            encoded += c;
        } else if (byte == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += HexDigit(byte >> 4);
            encoded += HexDigit(byte);
        }
    }
    return encoded;
}

std::string DecodeURL(std::string text) {
    std::string decoded;
    decoded.reserve(text.size());
    const size_t size = text.size();
    size_t i = 0;
    // A '%' with fewer than two characters after it is copied as it stands.
    while (i < size) {
        if (text[i] == '%' && i + 2 < size) {
            const unsigned high = HexValue(static_cast<unsigned char>(text[i + 1]));
            const unsigned low = HexValue(static_cast<unsigned char>(text[i + 2]));
            decoded += static_cast<char>(static_cast<unsigned char>(high * 16u + low));
            i += 3;
        } else {
            decoded += text[i];
            ++i;
        }
    }
    return decoded;
}

std::string Replace(std::string text, std::string what, std::string with) {
    if (what.empty() || text.empty()) return text;
    size_t pos = text.find(what);
    if (pos == std::string::npos) return text;
    // One pass into a new string: repeated in-place replacement is quadratic on long texts.
    std::string result;
    result.reserve(text.size());
    size_t start = 0;
    while (pos != std::string::npos) {
        result.append(text, start, pos - start);
        result += with;
        start = pos + what.size();
        pos = text.find(what, start);
    }
    result.append(text, start, std::string::npos);
    return result;
}

std::string EncodeHTML(std::string text) {
    // One pass gives the same text as replacing "&", then "<", then ">".
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                encoded += "&amp;";
                break;
            case '<':
                encoded += "&lt;";
                break;
            case '>':
                encoded += "&gt;";
                break;
            default:
                encoded += c;
        }
    }
    return encoded;
}

std::string EncodeSQL(std::string text) {
    return Replace(std::move(text), "'", "''");
}

std::string FormatTime(zrSeconds seconds, int mode) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm parts;
    // The re-entrant form, so that concurrent callers never share a result. tzset keeps the
    // zone as current as localtime would, but only runs when TZ changed: with TZ unset it
    // examines /etc/localtime on every call, which dominates printing a table of times.
    thread_local bool zoneLoaded = false;
    thread_local std::string loadedZone;
    const char* zone = std::getenv("TZ");
    if (!zoneLoaded || loadedZone != (zone ? zone : "")) {
        ReloadTimeZone();
        zoneLoaded = true;
        loadedZone = zone ? zone : "";
    }
    if (!LocalTime(when, parts)) return std::string();
    const int month = parts.tm_mon + 1;
    const int year = parts.tm_year + 1900;
    // Six ints of at most 11 characters each plus separators fit comfortably.
    char buffer[96];
    int length;
    switch (mode) {
        case 0:
            length = std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", parts.tm_hour,
                                   parts.tm_min, parts.tm_sec);
            break;
        case 1:
            length =
                std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", month, parts.tm_mday, year);
            break;
        case 3:
            length = std::snprintf(buffer, sizeof buffer, "%02d%02d%04d%02d%02d%02d", month,
                                   parts.tm_mday, year, parts.tm_hour, parts.tm_min, parts.tm_sec);
            break;
        default:
            length = std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", month,
                                   parts.tm_mday, year, parts.tm_hour, parts.tm_min, parts.tm_sec);
            break;
    }
    if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return std::string();
    return std::string(buffer, static_cast<size_t>(length));
}

std::string FormatTimespan(zrSeconds seconds) {
    if (seconds < 0) return std::string();
    // Days printed in full width: a 32-bit count would wrap for very long spans.
    const unsigned long long span = static_cast<unsigned long long>(seconds);
    std::string text = std::to_string(span / 86400);
    text += " days, ";
    text += std::to_string((span % 86400) / 3600);
    text += " hours, ";
    text += std::to_string((span % 3600) / 60);
    text += " mins, ";
    text += std::to_string(span % 60);
    text += " secs";
    return text;
}

std::string LongSetToPrintableRanges(std::set<long>* values) {
    std::string text;
    if (!values || values->empty()) return text;
    auto it = values->begin();
    while (it != values->end()) {
        const long first = *it;
        long last = first;
        // Compare by subtraction: last + 1 would overflow at the top of the range.
        for (++it; it != values->end() && *it - 1 == last; ++it)
            last = *it;
        if (!text.empty()) text += ',';
        text += std::to_string(first);
        if (last != first) {
            text += '-';
            text += std::to_string(last);
        }
    }
    return text;
}

}  // namespace ZRStringHelper
}  // namespace ZRFramework
