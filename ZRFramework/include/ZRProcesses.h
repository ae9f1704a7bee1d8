// Child processes with redirected standard streams and prepared environments, process snapshots
// and trees, priorities, environment blocks, user impersonation, wake-on-LAN and system events.
#ifndef ZRFRAMEWORK_PROCESSES_H
#define ZRFRAMEWORK_PROCESSES_H

#include <list>
#include <map>
#include <string>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRProcesses {

// A started child. The wait status is kept once the child is reaped, so that a later wait or
// terminate never touches a process id the system may have given to someone else.
struct zrProcess {
    int pid;
    bool reaped;
    long exitCode;
    void* handle;  // the system's process object where it has one, else null
};

// The three pipes of a child. A descriptor that holds nothing is -1; with mergeStdErr set the
// error pipe does not exist. SpawnProcess closes the child's ends in the parent and sets them to
// -1.
struct zrPipeHandles {
    int stdOutRead;    // parent reads the child's standard output
    int stdInWrite;    // parent writes the child's standard input
    int stdErrRead;    // parent reads the child's standard error
    int childStdIn;    // child's read end of standard input
    int childStdOut;   // child's write end of standard output
    int childStdErr;   // child's write end of standard error
    bool mergeStdErr;  // standard error goes to the output pipe
};

// Exact, case-sensitive names, iterated in name order.
struct zrEnvironment {
    std::map<std::string, std::string> variables;
};

// One process of the system.
struct zrProcInfo {
    std::string name;  // command name
    int pid;
    int ppid;
};
typedef std::list<zrProcInfo> zrProcsSnapshot;

// A node of a process tree; `children` is a null-terminated array, allocated for every node.
struct _procs_tree {
    std::string name;
    int pid;
    _procs_tree** children;
};

// Results of WaitProcess.
constexpr int kWaitRunning = 0;
constexpr int kWaitExited = 1;
constexpr int kWaitTimeout = 2;
constexpr int kWaitError = 3;

// Events of SendSystemEvent.
constexpr int kSystemShutdown = 0;
constexpr int kSystemSleep = 1;  // 2 too
constexpr int kSystemRestart = 3;
constexpr int kSystemLogout = 4;

// ---- Command lines and processes ----

// Splits a command line into a new null-terminated array of new strings: spaces and tabs
// separate arguments outside double quotes; a double-quoted run is one argument and ends at its
// closing quote; \" is a literal quote. There is no limit on the number or length of arguments.
// Null for null input or when memory runs out. Release with zr_free_argv_array.
ZRFRAMEWORK_API char** zr_create_argv_array(const char* commandLine);
ZRFRAMEWORK_API void zr_free_argv_array(char** argv);

// Starts `path` (no search of PATH) with the argument text split as above, the path being
// argument 0. With `pipes`, the child's standard streams are the pipes' child ends; with
// `environment`, it is the child's whole environment, else the child inherits ours. A non-empty
// `folder` becomes the child's working folder. A non-empty `user` makes the child run as that
// user (the password is not used on POSIX; Windows logs the user on with it). Null strings
// count as empty.
// On failure the result is null; `errorCode` holds the errno (Windows: the system error) of the
// failed step (0 when the user could not be taken on) and `errorText` its text. On success they
// are 0 and empty.
ZRFRAMEWORK_API zrProcess* SpawnProcess(const char* path, const char* arguments, const char* folder,
                                        zrPipeHandles* pipes, zrEnvironment* environment,
                                        int& errorCode, std::string& errorText, const char* user,
                                        const char* password);

// kWaitExited with `exitCode` once the child has ended: its exit status, or 128 plus the signal
// number when a signal ended it. Blocking waits without limit. Not blocking: kWaitRunning at
// once with a time-out of 0, else polls every 100 ms and gives kWaitTimeout once `timeout`
// seconds have passed (a negative time-out has passed already). kWaitError for null or when the
// child cannot be waited for.
ZRFRAMEWORK_API int WaitProcess(zrProcess* process, bool block, int timeout, long& exitCode);
ZRFRAMEWORK_API int GetProcessPid(zrProcess* process);
ZRFRAMEWORK_API int GetCurrentProcessPid();

// Kills the process with SIGKILL; a child of ours is reaped (at once when it had already ended).
// Nothing for an id below 1. False when no signal could be sent and nothing was reaped.
ZRFRAMEWORK_API bool TerminateProcess(int pid);
// As above; a child already reaped is left alone.
ZRFRAMEWORK_API bool TerminateProcess(zrProcess* process);
// Children first, depth first, then the node.
ZRFRAMEWORK_API void TerminateProcTree(_procs_tree* tree);
// Frees the object without touching the child; true.
ZRFRAMEWORK_API bool CloseProcess(zrProcess* process);

// ---- Pipes ----

// The descriptors are close-on-exec, so a pipe reaches only the child it is given to.
ZRFRAMEWORK_API zrPipeHandles* CreatePipes(bool mergeStdErr);
// With `close`, closes every end still open; frees the object.
ZRFRAMEWORK_API void DeletePipes(zrPipeHandles* pipes, bool close);
// Bytes read; 0 when nothing is waiting or at the end of the stream (never blocks); -1 on error.
ZRFRAMEWORK_API int ReadPipe(int fd, char* buffer, int size);
// Writes everything (blocking while the pipe is full); the bytes written, or -1 when nothing
// could be written. A reader that has gone gives -1, never SIGPIPE.
ZRFRAMEWORK_API int WritePipe(int fd, const char* data, int size);
ZRFRAMEWORK_API void ClosePipeHandle(int fd);

// ---- Priorities ----

// 4 highest, 3 high, 2 normal, 1 low; 0 when the process cannot be read. Pid 0 is this process.
ZRFRAMEWORK_API int GetProcessPriority(int pid);
// Level 4 sets the nice value -15, 3 sets -5, 1 sets 15, any other 0, for every thread of the
// process. False when refused.
ZRFRAMEWORK_API bool SetProcessPriority(int pid, int level);
// Children first, then the node.
ZRFRAMEWORK_API void SetProcTreePriority(_procs_tree* tree, int level);

// ---- Snapshots and trees ----

// Empties the list and fills it with the processes whose parent is `parent`, or all of them for
// -1, in ascending id order. False when the process table cannot be read.
ZRFRAMEWORK_API bool CreateProcsSnapshot(zrProcsSnapshot* list, int parent);
ZRFRAMEWORK_API void DeleteProcsSnapshot(zrProcsSnapshot* list);
// 0 when the process is not found.
ZRFRAMEWORK_API int GetParentPid(int pid);
// The tree rooted at pid, at most 20 levels below the root. Null and false for 0, for a process
// that does not exist, or when the process table cannot be read.
ZRFRAMEWORK_API bool CreateProcTreeSnapshot(int pid, _procs_tree** tree);
ZRFRAMEWORK_API void DestroyProcTree(_procs_tree* tree);
// A descendant whose name matches ignoring ASCII case; the nearest generation wins, then the
// lowest id. 0 when there is none.
ZRFRAMEWORK_API int GetChildOfProcess(int pid, const char* name);

// ---- Environments ----

// With `inherit`, a copy of this process's environment (the first of duplicate names wins).
ZRFRAMEWORK_API zrEnvironment* CreateEnvironment(bool inherit);
ZRFRAMEWORK_API void DestroyEnvironment(zrEnvironment* environment);
ZRFRAMEWORK_API bool GetEnvironmentValue(zrEnvironment* environment, const std::string& name,
                                         std::string& value);
ZRFRAMEWORK_API void SetEnvironmentValue(zrEnvironment* environment, const std::string& name,
                                         const std::string& value);
ZRFRAMEWORK_API void UnsetEnvironmentValue(zrEnvironment* environment, const std::string& name);

// Most references resolved by one ResolveEnvironmentString call; the rest is left as it stands.
constexpr int kMaxEnvironmentReferences = 1024;
// Replaces each %NAME% by the variable's value (empty when missing), resolving references that
// values bring in too. An empty reference (%%) is removed; so is an unterminated one, from its
// percent sign to the end of the text. A null environment resolves every reference to empty.
ZRFRAMEWORK_API std::string ResolveEnvironmentString(zrEnvironment* environment,
                                                     const std::string& text);
// A new block: "name=value" and a NUL for every variable with a non-empty name, in name order,
// then one more NUL (an empty environment gives a single NUL). Release with
// FreeEnvironmentAnsiString. Null for a null environment.
ZRFRAMEWORK_API char* GetEnvironmentAnsiString(zrEnvironment* environment);
ZRFRAMEWORK_API void FreeEnvironmentAnsiString(char* block);

// ---- Users ----

// Takes on the user's identity: permanent sets the real, effective and saved group and user and
// the user's supplementary groups; otherwise only the effective group and user. False when the
// user does not exist or the change is refused (a permanent change then restores the groups).
// The password is not used. Acts on the whole process. On Windows the account ("DOMAIN\\user",
// "user@domain" or a local name) is logged on with the password and the calling thread
// impersonates it, permanent or not, until RevertUserImpersonation.
ZRFRAMEWORK_API bool ImpersonateUser(const char* user, const char* password, bool permanent);
// Sets the effective user and group back to the real ones (Windows: the thread reverts to the
// process's own identity).
ZRFRAMEWORK_API bool RevertUserImpersonation();
// Removes the variables that change how programs load and run (IFS, CDPATH, LD_*, ...), then
// sets HOME, SHELL, LOGNAME and USER for the user. An unknown user gets the removal only and
// false.
ZRFRAMEWORK_API bool ImpersonateUser_PurgeEnvironment(zrEnvironment* environment, const char* user);

// ---- Host actions ----

// The 102-byte magic packet for a MAC address written with or without ":" and "-" between the
// digits; false unless exactly 12 hexadecimal digits remain.
ZRFRAMEWORK_API bool BuildWOLPacket(const std::string& mac, std::string& packet);
// Sends the packet once over UDP with broadcasting enabled to the IPv4 address and port.
ZRFRAMEWORK_API bool SendWOLTo(const std::string& mac, const char* address, int port);
// SendWOLTo the limited broadcast address 255.255.255.255; true when all 102 bytes were sent.
ZRFRAMEWORK_API bool SendWOL(std::string mac, int port);

// Runs a shell command, as system() does; the result is the command's wait status.
typedef int (*zrSystemCommandRunner)(const char* command);
// Replaces the runner of SendSystemEvent; null restores the default, system().
ZRFRAMEWORK_API void SetSystemCommandRunner(zrSystemCommandRunner runner);
// Runs "shutdown -h now" (0), "shutdown -s now" (1, 2), "shutdown -r now" (3) or
// "shutdown -k now" (4) through the runner; other events do nothing. Always true. Windows runs
// "shutdown /s /t 0", "rundll32.exe powrprof.dll,SetSuspendState 0,1,0", "shutdown /r /t 0" and
// "shutdown /l".
ZRFRAMEWORK_API bool SendSystemEvent(int event);
// System events by event code are not available on this platform: nothing is sent and the
// result is kSystemEventUnavailable.
constexpr int kSystemEventUnavailable = -1;
ZRFRAMEWORK_API int SendAppleEventToSystemProcess(unsigned int eventCode);

}  // namespace ZRProcesses
}  // namespace ZRFramework

#endif
