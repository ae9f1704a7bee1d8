// Every run setting of zdtool in one place: process-wide variables filled by the command line
// and read by the connection, queries, output, control and submission parts.
#ifndef ZDTOOL_RUNSETTINGS_H
#define ZDTOOL_RUNSETTINGS_H

#include <string>

#include "ZRPropertyMap.h"

// Fixed capacities of the two character-array settings (including the NUL).
constexpr int kServerCapacity = 256;
constexpr int kStrBufferCapacity = 2048;

// Connection.
extern char server[kServerCapacity];
extern int nPort;
extern std::string username;
extern std::string password;
// -p -: the password is read at the terminal or from standard input before connecting.
extern bool passwordFromInput;
extern std::string templatesdir;
extern bool use_templates_cache;
extern int nVerbose;
// Seconds that any wait on the Dispatcher may last (connecting, receiving, sending); 0 = no limit.
extern int nTimeout;
constexpr int kDefaultTimeout = 60;

// Output shaping.
extern int nHeaders;
extern int nSeparators;
extern int nCostants;
// What query mode prints: padded tables (the default), tab-separated values or JSON Lines.
enum zdOutputFormat { kOutputTable, kOutputTsv, kOutputJson };
extern zdOutputFormat outputFormat;

// Modes.
extern int queryActive;
extern int controlActive;
extern int submitActive;

// Query selection.
extern int queryJobs;
extern int queryCpus;
extern int queryLogs;
extern int queryPools;
extern int queryChunks;
extern int queryStats;
extern int queryTemplates;
extern int queryEngine;
extern int queryAll;
extern int queryTemplateFields;
extern int queryArchiveMode;
extern int queryJobParent;
extern int queryJobStatus;
extern int queryJobEngine;
extern int queryCpuStatus;
extern int queryCpuOs;

// Object identifiers.
extern int jobid;
extern int cpuid;
extern int chunkid;

// Control selection and arguments.
extern int controlDisp;
extern int controlCpu;
extern int controlJobs;
extern int controlChunks;
extern std::string new_password;
extern char strBuffer[kStrBufferCapacity];
extern long intBuffer;

// Job packet types a template's logic selects.
enum zdJobType { kJobMultiFrame = 1, kJobSingleHost = 2, kJobOther = 4, kJobFrameSlicing = 8 };

// The job or folder that batch submission sends.
struct zdSubmitJob {
    int parent;
    int jobID;
    std::string wait;
    int folder;
    int priority;
    int reservedCounters[3];
    int jobType;
    int packetSize;  // also the number of slices
    int engine;      // template UID
    int maxInstances;
    int reserved;
    bool skipErrors;
    std::string name;
    std::string pool;
    std::string reservedText;
    std::string group;
    std::string department;
    bool reservedFlags[2];
    bool overrideMail;
    std::string mailAddress;
    bool overrideJobNotifications;
    bool jobNotificationsEnabled;
    std::string jobNotificationLevel;
    bool overrideChunkNotifications;
    bool chunkNotificationsEnabled;
    std::string chunkNotificationLevel;
    bool overrideChunkTimeout;
    int chunkTimeout;  // minutes
    ZRFramework::zrPropertyMap properties;
};
extern zdSubmitJob submitjob;

// The exit status of a run that the command line ends: -1, or 0 after --help and --version.
extern int stopStatus;

// Restores every setting above to its initial value (the submission record included).
void resetRunSettings();

#endif
