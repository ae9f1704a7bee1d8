// Conversation handlers of zdsim: login, status, hashes map, template fetch and statistics.
#include "Protocol.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "Records.h"
#include "ZRBase64.h"
#include "ZRStringHelper.h"

namespace zdsim {

using ZRFramework::ZRStringHelper::GetLine;

namespace {

struct Base64Release {
    void operator()(char* buffer) const { ZRFramework::ZRBase64::DeleteBuffer(&buffer); }
};
using Base64Buffer = std::unique_ptr<char, Base64Release>;

bool DecodeBase64(const std::string& text, std::string& bytes) {
    char* raw = nullptr;
    unsigned long length = 0;
    if (!ZRFramework::ZRBase64::DecodeAlloc(text.data(), text.size(), &raw, &length)) return false;
    Base64Buffer owned(raw);
    bytes.assign(raw != nullptr ? raw : "", raw != nullptr ? length : 0);
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string EncodeBase64(const std::string& bytes) {
    if (bytes.empty()) return std::string();
    char* raw = nullptr;
    const unsigned long size = ZRFramework::ZRBase64::EncodeAlloc(bytes.data(), bytes.size(), &raw);
    Base64Buffer owned(raw);
    if (size == 0 || raw == nullptr) return std::string();
    return std::string(raw, size - 1);
}

bool ParseInt(const std::string& text, int& value) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    if (begin == end) return false;
    const std::string digits = text.substr(begin, end - begin);
    char* stop = nullptr;
    errno = 0;
    const long parsed = std::strtol(digits.c_str(), &stop, 10);
    const char first = digits[0];
    // strtol would also skip white space of its own choosing.
    const bool signOrDigit = first == '-' || first == '+' || (first >= '0' && first <= '9');
    if (!signOrDigit || errno != 0 || stop != digits.c_str() + digits.size() || parsed < INT_MIN ||
        parsed > INT_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

int DecideLogin(const Farm& farm, const std::string& user, const std::string& password) {
    const User* known = farm.FindUser(user);
    if (known != nullptr)
        return known->password == password ? known->loginResult : LoginResult::kDenied;
    return farm.allowGuests ? LoginResult::kGuest : LoginResult::kDenied;
}

Replies HandleLogin(const Context& context, Session& session, const std::string& payload) {
    session.host = GetLine(payload, 1);
    session.user = GetLine(payload, 2);
    session.kind = GetLine(payload, 4);
    std::string password;
    int result = LoginResult::kDenied;
    if (context.settings->forcedLoginResult) {
        result = *context.settings->forcedLoginResult;
    } else if (DecodeBase64(GetLine(payload, 3), password)) {
        result = DecideLogin(*context.farm, session.user, password);
    } else if (context.farm->FindUser(session.user) == nullptr && context.farm->allowGuests) {
        // A garbled password cannot matter to a guest.
        result = LoginResult::kGuest;
    }
    session.loginResult = result;
    return {{Code::kLoginResult, std::to_string(result) + "\n"}};
}

Replies HandleStatus(const Context& context, const Session& session) {
    const Farm& farm = *context.farm;
    int jobs = 0;
    int runningJobs = 0;
    for (const Job& job : farm.jobs) {
        if (job.type != 0) continue;
        ++jobs;
        if (job.status == JobStatus::kStarted || job.status == JobStatus::kStartedWithWarnings)
            ++runningJobs;
    }
    int renderingNodes = 0;
    for (const Node& node : farm.nodes)
        if (node.status == NodeStatus::kInProgress) ++renderingNodes;

    std::string text;
    auto line = [&text](const std::string& value) { text += value + "\n"; };
    line(std::to_string(farm.selectionLogic != 0 ? 1 : 0));
    line(std::to_string(jobs));
    line(std::to_string(runningJobs));
    line(std::to_string(farm.nodes.size()));
    line(std::to_string(renderingNodes));
    line(farm.version);
    line(farm.build);
    line(farm.host);
    line(std::to_string(farm.statistics.runningSince));
    line(std::to_string(session.client));
    line(std::to_string(session.loginResult));
    line(std::to_string(context.settings->protocolVersion));
    return {{Code::kStatus, text}};
}

Replies HandleHashesRequest(const Context& context) {
    const ProtocolSettings& settings = *context.settings;
    return {{Code::kHashes,
             settings.hashesText ? *settings.hashesText : context.templates->HashesMap()}};
}

Replies HandleTemplateRequest(const Context& context, const std::string& payload) {
    const ProtocolSettings& settings = *context.settings;
    int uid = 0;
    if (!ParseInt(payload, uid)) return {{Code::kTemplate, "\n\n\n\n"}};

    const ServedTemplate* found = context.templates->Find(uid);
    std::string name = found != nullptr ? found->name : std::string();
    std::string fileName = found != nullptr ? found->fileName : std::string();
    if (auto it = settings.templateFileNames.find(uid); it != settings.templateFileNames.end()) {
        fileName = it->second;
    }
    std::string body;
    if (settings.badTemplateUid && *settings.badTemplateUid == uid) {
        body = kNotBase64;
    } else if (auto it = settings.templateOverrides.find(uid);
               it != settings.templateOverrides.end()) {
        if (fileName.empty()) fileName = std::to_string(uid) + ".template";
        body = EncodeBase64(it->second);
    } else if (found != nullptr) {
        body = EncodeBase64(found->text);
    }
    return {{Code::kTemplate,
             std::to_string(uid) + "\n" + name + "\n" + fileName + "\n" + body + "\n"}};
}

Replies HandleStatisticsRequest(const Context& context) {
    return {{Code::kStatistics, EncodeBase64(StatisticsText(context.farm->statistics)) + "\n"}};
}

Replies HandleMessage(const Context& context, Session& session, unsigned char code,
                      const std::string& payload, bool* known) {
    if (known != nullptr) *known = true;
    switch (code) {
        case Code::kLogin:
            return HandleLogin(context, session, payload);
        case Code::kStatusRequest:
            return HandleStatus(context, session);
        case Code::kHashesRequest:
            return HandleHashesRequest(context);
        case Code::kTemplateRequest:
            return HandleTemplateRequest(context, payload);
        case Code::kStatisticsRequest:
            return HandleStatisticsRequest(context);
        default:
            if (known != nullptr) *known = false;
            return {};
    }
}

}  // namespace zdsim
