// Batch submission: the template checks, the job record and folder payloads, and the answer.
#include "Submission.h"

#include <cstdio>
#include <cstdlib>

#include "CommandLine.h"
#include "Connection.h"
#include "ConsoleOutput.h"
#include "Control.h"
#include "ListingRecords.h"
#include "PayloadText.h"
#include "Payloads.h"
#include "ZRTemplateManager.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRTemplateManager;

namespace {

constexpr const char* kSubmissionBlock = "SUBMISSION";

int jobTypeOf(const std::string& logic) {
    if (logic == "MULTIFRAME") return kJobMultiFrame;
    if (logic == "SINGLE") return kJobSingleHost;
    if (logic == "FRAMESLICING") return kJobFrameSlicing;
    return kJobOther;
}

bool fail(const char* text) {
    zdError("%s", text);
    return false;
}

// Every mandatory field of the template's SUBMISSION block must have a value; an activable one
// only when it was switched on.
bool checkMandatoryFields(zrTemplateManager* manager, zrTemplateEntry* entry, int uid,
                          zrPropertyMap& properties) {
    zrTemplateBlock* block = entry->GetBlockByName(kSubmissionBlock);
    if (!block) return true;
    zrTemplateItemIterator it;
    zrTemplateBlockEntry* item = nullptr;
    for (bool more = block->GetFirstItem(&it, kTemplateItemAdd, &item); more;
         more = block->GetNextItem(&it, kTemplateItemAdd, &item)) {
        std::string field = item->GetName();
        std::string mandatory, activable;
        entry->GetString(kSubmissionBlock, field.c_str(), kTemplateItemAdd, mandatory, 4);
        entry->GetString(kSubmissionBlock, field.c_str(), kTemplateItemAdd, activable, 5);
        if (mandatory != "MANDATORY") continue;
        std::string property = manager->ResolveMappingToJob(uid, field);
        std::string value;
        bool specified = false;
        bool exists = properties.GetString(property.c_str(), value, &specified, nullptr);
        if (activable == "ACTIVABLE" && !(exists && specified)) continue;
        if (value.empty()) {
            zdError("\nField %s is mandatory.\n", field.c_str());
            return false;
        }
    }
    return true;
}

bool checkJobType(zdSubmitJob& job) {
    zrPropertyMap& p = job.properties;
    std::string startText, endText, expectedFrames, frameCheck, recursionText, targetHost;
    bool hasStart = p.GetString("start_frame", startText, nullptr, nullptr);
    bool hasEnd = p.GetString("end_frame", endText, nullptr, nullptr);
    p.GetString("expected_frames", expectedFrames, nullptr, nullptr);
    p.GetString("frame_check", frameCheck, nullptr, nullptr);
    p.GetString("recursion", recursionText, nullptr, nullptr);
    p.GetString("target_host", targetHost, nullptr, nullptr);
    long recursion = std::atol(recursionText.c_str());
    switch (job.jobType) {
        case kJobSingleHost:
            if (targetHost.empty()) return fail("\nTarget host name or IP address is missing");
            return true;
        case kJobFrameSlicing:
            if (job.packetSize < 2) return fail("\nImage slices must be greater than 1");
            return true;
        case kJobMultiFrame:
            // Frames that were not given cannot be out of order.
            if (hasStart && hasEnd && std::atol(startText.c_str()) > std::atol(endText.c_str()))
                return fail("\nStarting frame must be less than ending frame");
            if (job.packetSize < 1) return fail("\nPacket size must be greater than 0");
            if (!frameCheck.empty()) {
                if (expectedFrames.empty()) return fail("\nExpected frames prefix is required");
                if (recursion <= 0) return fail("\nRecursion depth must be greater than 0");
            }
            return true;
        default:
            return true;
    }
}

}  // namespace

int validateBatch() {
    zdSubmitJob& job = submitjob;
    if (job.folder) {
        job.properties.Clear();
        return job.name.empty() ? fail("\nMissing folder name.\n") : 1;
    }
    zrTemplateManager* manager = zrTemplateManager::GetUniqueClass();
    zrTemplateEntry* entry = manager->GetTemplate(job.engine);
    if (!entry) return fail("\nMissing engine flag(-e) or invalid template UID.\n");
    if (job.name.empty()) return fail("\nMissing job name.\n");

    std::string logic;
    if (!entry->GetString("TEMPLATE", "TEMPLATE_LOGIC", kTemplateItemSet, logic, 0))
        logic = "MULTIFRAME";
    job.jobType = jobTypeOf(logic);

    if (!checkMandatoryFields(manager, entry, job.engine, job.properties)) return 0;
    return checkJobType(job) ? 1 : 0;
}

std::string buildPropertiesText(zrPropertyMap& properties) {
    std::string text;
    for (auto it = properties.Begin(); it != properties.End(); ++it) {
        item_attr attr = *it;
        zdProtocol::AppendPropertyGroup(text, attr.name, attr.value, attr.specified,
                                        attr.pathSubstitution, zdProtocol::TextRule::kAsGiven);
    }
    return text;
}

std::string buildJobRecord(zdSubmitJob& job) {
    const std::string properties = zdProtocol::EncodeBase64(buildPropertiesText(job.properties));
    zdProtocol::SubmissionRecord r;
    r.jobType = job.jobType;
    r.engine = job.engine;
    r.priority = job.priority;
    r.maxInstances = job.maxInstances;
    r.reserved = job.reservedFlags[0];
    r.name = job.name;
    r.jobId = job.jobID;
    r.packetSize = job.packetSize;
    r.pool = job.pool;
    r.skipErrors = job.skipErrors;
    r.parent = job.parent;
    r.folder = job.folder;
    r.wait = job.wait;
    r.overrideMail = job.overrideMail;
    r.mail = job.mailAddress;
    r.overrideJobNotifications = job.overrideJobNotifications;
    r.jobNotifications = job.jobNotificationsEnabled;
    r.jobNotificationLevel = job.jobNotificationLevel;
    r.overrideChunkNotifications = job.overrideChunkNotifications;
    r.chunkNotifications = job.chunkNotificationsEnabled;
    r.chunkNotificationLevel = job.chunkNotificationLevel;
    r.overrideChunkTimeout = job.overrideChunkTimeout;
    r.chunkTimeout = job.chunkTimeout;
    r.propertiesBase64 = properties;
    r.group = job.group;
    r.department = job.department;
    return zdProtocol::BuildSubmission(r);
}

std::string buildFolderPayload(const zdSubmitJob& job) {
    return zdProtocol::BuildFolder({job.parent, job.name, job.priority});
}

int runSubmission() {
    if (!validateBatch()) return -1;
    if (submitjob.folder) {
        _zdprintf(2, "Sending new folder to dispatcher...\n");
        sendMsg(zdCode::kNewFolder, buildFolderPayload(submitjob));
    } else {
        _zdprintf(2, "Sending new job to dispatcher...\n");
        sendMsg(submitjob.jobID == -1 ? zdCode::kNewJob : zdCode::kEditedJob,
                buildJobRecord(submitjob));
    }
    if (!waitPausedFor({zdCode::kSubmitted, zdCode::kRefused, zdCode::kRefusedContent})) return -1;
    if (static_cast<unsigned char>(message[0]) != zdCode::kSubmitted) {
        zdError("Submission failed.\n");
        return -1;
    }
    _zdprintf(1, "new job has ID: %d\n", zdProtocol::ParseInt(rcvargs));
    return 0;
}
