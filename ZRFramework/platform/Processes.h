// What starting, waiting for and signalling processes needs from the system. The shared logic
// (argument splitting, environments, trees, packets) stays in ZRProcesses.cpp; the public pipe,
// wait, kill, priority and impersonation functions are defined by each platform's file.
#ifndef ZRFRAMEWORK_PLATFORM_PROCESSES_H
#define ZRFRAMEWORK_PLATFORM_PROCESSES_H

#include <string>
#include <utility>
#include <vector>

#include "ZRProcesses.h"

namespace ZRFramework {
namespace ZRPlatform {

// Everything SpawnProcess has prepared for one start.
struct ChildStart {
    std::string path;
    std::string commandLine;  // the path, quoted when it holds a space, then the arguments
    char** argv;              // commandLine split; argv[0] is the path
    const char* folder;       // null or empty: ours
    ZRProcesses::zrPipeHandles* pipes;
    ZRProcesses::zrEnvironment* environment;  // null: inherit ours
    const char* user;                         // null or empty: ours
    const char* password;                     // for the user's log-on where the system asks
};

// Starts the child; on success closes the pipes' child ends in the parent and sets them to -1.
// On failure null, with the platform's error code and text (code 0 when the user could not be
// taken on).
ZRProcesses::zrProcess* StartChild(const ChildStart& start, int& errorCode, std::string& errorText);

// The platform's codes for a pipe end that is missing and for memory that ran out, and the text
// of any of its codes.
int BadHandleError();
int NoMemoryError();
std::string ErrorText(int code);

// Releases what the system holds for a started child; the object itself is the caller's.
void ReleaseChild(ZRProcesses::zrProcess* process);

// This process's environment as name and value pairs, in the system's order.
std::vector<std::pair<std::string, std::string>> ReadOwnEnvironment();

// The user's home folder and shell; false when the user is unknown or users cannot be looked up.
bool LookupUserHome(const char* user, std::string& home, std::string& shell);

// Sends the datagram once to the IPv4 address and port with broadcasting allowed; true when all
// of it was sent.
bool SendBroadcastDatagram(const char* address, int port, const std::string& packet);

// The command SendSystemEvent runs for an event (shutdown 0, sleep 1 and 2, restart 3, log-out
// 4), or null for any other value.
const char* SystemEventCommand(int event);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
