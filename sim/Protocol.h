// The Dispatcher's side of the conversations zdsim serves: one handler per conversation, pure
// over the farm, the session and the received payload, returning the reply frames to queue.
#ifndef ZDSIM_PROTOCOL_H
#define ZDSIM_PROTOCOL_H

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FarmModel.h"
#include "MessageCodes.h"
#include "PayloadText.h"
#include "Payloads.h"
#include "Templates.h"

namespace zdsim {

namespace Code = ::zdCode;

// What a submission may make zdsim keep.
constexpr size_t kMaxAttributes = 4096;
constexpr size_t kMaxJobs = 1000000;

// Login answers.
namespace LoginResult {
using namespace zdProtocol::LoginResult;
constexpr int kNone = -1;  // no login yet
}  // namespace LoginResult

constexpr int kDefaultProtocolVersion = zdProtocol::kProtocolVersion;
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
    // Submissions must name a template the catalogue holds (set when templates are served).
    bool checkEngines = false;
    bool refuseSubmissions = false;
};

struct Context {
    Farm* farm;
    const TemplateCatalogue* templates;
    const ProtocolSettings* settings;
};

// The answer to a login of `user` with the decoded `password`.
int DecideLogin(const Farm& farm, const std::string& user, const std::string& password);

// kLogin "host\nuser\nBase64(password)\nkind\n" -> kLoginResult "N\n".
Replies HandleLogin(const Context& context, Session& session, const std::string& payload);
// kStatusRequest -> kStatus, twelve lines (docs/protocol.md).
Replies HandleStatus(const Context& context, const Session& session);
// kHashesRequest -> kHashes with the hashes map.
Replies HandleHashesRequest(const Context& context);
// kTemplateRequest "UID" -> kTemplate "UID\nname\nfile name\nBase64(text)\n"; an unknown UID
// gets empty name, file name and text.
Replies HandleTemplateRequest(const Context& context, const std::string& payload);

// kStatisticsRequest -> kStatistics whose line 1 is the Base64 of the 32-line statistics text.
Replies HandleStatisticsRequest(const Context& context);

// Node, job and chunk commands: applied to the farm, no reply. `note` (when not null) receives
// a line for the log when the command names what the farm does not hold.
void HandleControl(const Context& context, unsigned char code, const std::string& payload,
                   std::string* note);
// kPasswordChange "Base64(old)\nBase64(new)\n" -> kPasswordResult "1\n" after changing the
// logged-in user's password when `old` is it, else "0\n".
Replies HandlePasswordChange(const Context& context, const Session& session,
                             const std::string& payload);
// kNewJob, kEditedJob and kNewFolder -> kSubmitted "ID\n", or a refusal (kRefused malformed,
// kRefusedContent content) whose text says why.
Replies HandleSubmission(const Context& context, const Session& session, unsigned char code,
                         const std::string& payload);
// Replaces `attributes` with the block after Base64: groups of four lines up to the first empty
// name. False when it holds more than kMaxAttributes names; a repeated name takes the later
// value.
bool ParseAttributeBlock(const std::string& block,
                         std::vector<std::pair<std::string, Attribute>>& attributes);
// True for the codes whose handling may change the farm.
bool ChangesFarm(unsigned char code);

// Routes one received message to its handler. `known` (when not null) is false for codes this
// version does not serve; those get no reply. Listings are conversations of many frames and
// are not routed here (Listings.h). Requests are served whether or not the session
// has logged in. `note` (when not null) says why a command changed nothing, for the log.
Replies HandleMessage(const Context& context, Session& session, unsigned char code,
                      const std::string& payload, bool* known, std::string* note = nullptr);

// Base64 of the exact bytes; empty for empty input.
using zdProtocol::EncodeBase64;
// Strict decimal int with optional surrounding white space; false otherwise.
inline bool ParseInt(std::string_view text, int& value) {
    return zdProtocol::ParseStrictInt(text, value);
}

}  // namespace zdsim

#endif
