// The Dispatcher's side of the conversations zdsim serves: one handler per conversation, pure
// over the farm, the session and the received payload, returning the reply frames to queue.
#ifndef ZDSIM_PROTOCOL_H
#define ZDSIM_PROTOCOL_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FarmModel.h"
#include "Templates.h"

namespace zdsim {

namespace Code {
constexpr unsigned char kLogin = 0x20;
constexpr unsigned char kLoginResult = 0x68;
constexpr unsigned char kStatusRequest = 0x23;
constexpr unsigned char kStatus = 0x6E;
constexpr unsigned char kHashesRequest = 0xD1;
constexpr unsigned char kHashes = 0xD4;
constexpr unsigned char kTemplateRequest = 0xD2;
constexpr unsigned char kTemplate = 0xD3;
constexpr unsigned char kStatisticsRequest = 0xC0;
constexpr unsigned char kStatistics = 0xC2;
}  // namespace Code

// Login answers.
namespace LoginResult {
constexpr int kNone = -1;  // no login yet
constexpr int kUser = 0;
constexpr int kGuest = 2;
constexpr int kDenied = 3;
}  // namespace LoginResult

constexpr int kDefaultProtocolVersion = 610;
// Line 4 of a template reply under --bad-template: '*' and ' ' are outside the Base64 alphabet.
constexpr const char* kNotBase64 = "*** not Base64 ***";

struct Reply {
    unsigned char code;
    std::string text;
    bool operator==(const Reply& other) const { return code == other.code && text == other.text; }
};
using Replies = std::vector<Reply>;

// What one connection has told the server so far.
struct Session {
    int client = 0;  // 1 for the first connection accepted, and so on
    int loginResult = LoginResult::kNone;
    std::string host;
    std::string user;
    std::string kind;
};

// How the server answers, including the faults it injects for the tool's failure paths.
struct ProtocolSettings {
    int protocolVersion = kDefaultProtocolVersion;
    std::optional<int> forcedLoginResult;
    std::optional<int> badTemplateUid;
    std::map<int, std::string> templateOverrides;  // UID -> text served instead
    std::map<int, std::string> templateFileNames;  // UID -> file name served instead
    std::optional<std::string> hashesText;         // served instead of the catalogue's map
    // Listings wait for each acknowledgement before the next frame instead of streaming.
    bool lockstep = false;
};

struct Context {
    Farm* farm;
    const TemplateCatalogue* templates;
    const ProtocolSettings* settings;
};

// The answer to a login of `user` with the decoded `password`.
int DecideLogin(const Farm& farm, const std::string& user, const std::string& password);

// 0x20 "host\nuser\nBase64(password)\nkind\n" -> 0x68 "N\n".
Replies HandleLogin(const Context& context, Session& session, const std::string& payload);
// 0x23 -> 0x6E, twelve lines (docs/protocol.md).
Replies HandleStatus(const Context& context, const Session& session);
// 0xD1 -> 0xD4 with the hashes map.
Replies HandleHashesRequest(const Context& context);
// 0xD2 "UID" -> 0xD3 "UID\nname\nfile name\nBase64(text)\n"; an unknown UID gets empty name,
// file name and text.
Replies HandleTemplateRequest(const Context& context, const std::string& payload);

// 0xC0 -> 0xC2 whose line 1 is the Base64 of the 32-line statistics text.
Replies HandleStatisticsRequest(const Context& context);

// Routes one received message to its handler. `known` (when not null) is false for codes this
// version does not serve; those get no reply. Listings are conversations of many frames and
// are not routed here (Listings.h). Requests are served whether or not the session
// has logged in.
Replies HandleMessage(const Context& context, Session& session, unsigned char code,
                      const std::string& payload, bool* known);

// Base64 of the exact bytes; empty for empty input.
std::string EncodeBase64(const std::string& bytes);
// Strict decimal int with optional surrounding white space; false otherwise.
bool ParseInt(const std::string& text, int& value);

}  // namespace zdsim

#endif
