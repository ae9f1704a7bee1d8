// Control commands: payloads for the Dispatcher, node, job and chunk families, the replies the
// Dispatcher commands wait for, and the hand-over to the query step.
#include "Control.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CommandLine.h"
#include "Connection.h"
#include "ConsoleOutput.h"
#include "PayloadText.h"
#include "Payloads.h"
#include "RunSettings.h"
#include "ZRRuntime.h"

using namespace ZRFramework;

namespace {

// Only the chosen listing follows a command; everything else is switched off.
void selectOnly(int* chosen) {
    queryJobs = queryCpus = queryLogs = queryPools = queryChunks = 0;
    queryStats = queryTemplates = queryEngine = queryAll = queryTemplateFields = 0;
    if (chosen) *chosen = 1;
}

int runDispatcherCommand() {
    submitActive = 0;
    queryActive = 0;
    switch (controlDisp) {
        case 1:
            sendMsg(zdCode::kSoftRestart, std::string());
            return 0;
        case 2:
            sendMsg(zdCode::kPasswordChange,
                    zdProtocol::BuildPasswordChange(zdProtocol::EncodeBase64(password),
                                                    zdProtocol::EncodeBase64(new_password)));
            if (!waitPausedFor({zdCode::kPasswordResult})) return -1;
            if (zdProtocol::ParseNumberReply(rcvargs) == 1)
                _zdprintf(1, "Account password successfully updated\n");
            else
                zdError("Dispatcher denied the operation.\n");
            return 0;
        case 3:
            sendMsg(zdCode::kStatisticsReset, std::string());
            return waitPausedFor({zdCode::kStatus}) ? 0 : -1;
        case 4:
            sendMsg(zdCode::kSelectionLogic, std::string());
            if (!waitPausedFor({zdCode::kStatus})) return -1;
            _zdprintf(1, "Dispatcher selection logic changed\n");
            return 0;
        default:
            return 0;
    }
}

void runNodeCommand() {
    using namespace zdCode;
    static const unsigned char codes[] = {kNodePause,       kNodeResume,        kNodeKillGoOn,
                                          kNodeKillRedo,    kNodeKillPause,     kNodeKillReinit,
                                          kNodeSoftRestart, kJobNodesKillPause, kJobNodesKillRedo};
    if (controlCpu < 1 || controlCpu > 9) return;
    selectOnly(&queryCpus);
    bool onJob = controlCpu == 8 || controlCpu == 9;
    if (onJob) queryJobs = 1;
    const unsigned char command = codes[controlCpu - 1];
    sendMsg(command, zdProtocol::BuildCommand(command, onJob ? jobid : cpuid));
    if (controlCpu == 7) queryActive = 0;
}

void runJobCommand() {
    using namespace zdCode;
    static const unsigned char codes[] = {
        kJobPause,    kJobResume,  kJobReinit,    kJobRename,  kJobPriority,  kJobPool,
        kJobMaxNodes, kJobDepend,  kJobNotes,     kJobDelete,  kJobParent,    kJobUnlock,
        kJobLock,     kJobArchive, kJobUnarchive, kJobProject, kJobDepartment};
    if (controlJobs < 1 || controlJobs > 17) return;
    selectOnly(&queryJobs);
    const unsigned char command = codes[controlJobs - 1];
    std::string payload;
    switch (controlJobs) {
        case 4:   // rename
        case 8:   // dependencies
        case 9:   // notes
        case 16:  // project
        case 17:  // department
            payload = zdProtocol::BuildCommand(command, jobid, std::string_view(strBuffer));
            break;
        case 5:  // priority
        case 7:  // max nodes
            payload = zdProtocol::BuildCommand(command, jobid, intBuffer);
            break;
        case 6:  // the pool comes first
            payload = zdProtocol::BuildCommand(command, jobid, std::string_view(strBuffer));
            break;
        case 11:  // the parent comes first
            payload = zdProtocol::BuildCommand(command, jobid, intBuffer);
            break;
        default:
            payload = zdProtocol::BuildCommand(command, jobid);
            break;
    }
    sendMsg(command, payload);
    if (controlJobs == 10) jobid = 0;  // the job is gone: list them all
}

void runChunkCommand() {
    if (controlChunks != 1 && controlChunks != 2) return;
    selectOnly(&queryChunks);
    const unsigned char command =
        controlChunks == 1 ? zdCode::kChunkRequeue : zdCode::kChunkComplete;
    sendMsg(command, zdProtocol::BuildCommand(command, jobid, static_cast<long>(chunkid)));
}

}  // namespace

bool waitPausedFor(std::initializer_list<unsigned char> codes) {
    for (;;) {
        MicroSleep(100);
        if (!receiveMsg()) return false;
        for (unsigned char code : codes)
            if (static_cast<unsigned char>(message[0]) == code) return true;
    }
}

int runControlMode() {
    if (controlDisp) return runDispatcherCommand();
    if (controlCpu) runNodeCommand();
    if (controlJobs) runJobCommand();
    if (controlChunks) runChunkCommand();
    return 0;
}
