// The usage text that `zdtool -h` prints, and what --help and --version add to it.
#include <cstdio>
#include <cstring>
#include <string>

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "TableOutput.h"

namespace {

// A submission flag line: the flag and its value placeholder, tabs to the description column.
struct SubmissionLine {
    const char* flag;
    const char* description;
};

const SubmissionLine kSubmissionLines[] = {
    {"-b", "Batch submission mode"},
    {"-folder", "Submit a folder instead of a job"},
    {"-job [ID]", "Job id to edit (edits the given job instead of submitting a new one)"},
    {"-e [n]", "Engine template ID (MANDATORY)"},
    {"-n [s]", "Job name"},
    {"-f [s]", "Job file (MAPS TO job_file VALUE)"},
    {"-proj [s]", "Job project path (MAPS TO job_project VALUE)"},
    {"-group [s]", "Job project name"},
    {"-department [s]", "Job department"},
    {"-dest [s]", "Job output folder (MAPS TO output_folder VALUE)"},
    {"-sf [n]", "Start frame (MAPS TO start_frame VALUE, MANDATORY on MULTIFRAME JOBS)"},
    {"-ef [n]", "End frame (MAPS TO end_frame VALUE, MANDATORY on MULTIFRAME JOBS)"},
    {"-bf [n]", "By frame (MAPS TO by_frame VALUE)"},
    {"-se [n]", "Number by (MAPS TO number_by VALUE)"},
    {"-st [n]", "Step by (MAPS TO step_by VALUE)"},
    {"-target [s]", "Target host (MAPS TO target_host VALUE)"},
    {"-max [n]", "Max nodes allowed to work on the job"},
    {"-pr [n]", "Job priority"},
    {"-pk [n]", "Packet size"},
    {"-add [s]", "Additional command line flags (MAPS TO ADD_FLAGS VALUE)"},
    {"-pool [s]", "Target pool"},
    {"-ske [1/0]", "Skip errors"},
    {"-parent [ID]", "Parent folder ID"},
    {"-wait [s]", "Jobs to wait for (ID,ID,...)"},
    {"-info [s]", "Job notes (MAPS TO memo VALUE)"},
    {"-ojs [n]", "Override job status on completion (MAPS TO overridestatus VALUE)"},
    {"-attr [s] [s] [1/0]", "Custom attribute (Flag name - Flag value - Apply path substitution)"},
    {"-framecheck [s]", "Frame check mode (MAPS TO frame_check VALUE)"},
    {"-expectedframes [s]", "Expected frames (MAPS TO expected_frames VALUE)"},
    {"-checkfiles [s]", "File check mode, SizeLimits or other (MAPS TO check_file VALUE)"},
    {"-filelowlimit [n]", "File size low limit (MAPS TO file_low VALUE)"},
    {"-filehighlimit [n]", "File size high limit (MAPS TO file_high VALUE)"},
    {"-recursion [s]", "Frame check recursion (MAPS TO recursion VALUE)"},
    {"-oma [s]", "Override job mail address"},
    {"-ojn [n]",
     "Override job mail notifications (0 - Disabled, 1 - Completed, 2 - Warnings only)"},
    {"-ocn [n]",
     "Override chunk mail notifications (0 - Disabled, 1 - Completed, 2 - Warnings only)"},
    {"-oct [n]", "Override chunks timeout (value in minutes)"},
    {"-pja [s]", "Pre job action (MAPS TO pre_job_action VALUE)"},
    {"-pjacrt", "Pre job action: do not check the return code"},
    {"-pjart [n]",
     "Pre job action: expected return code (MAPS TO pre_job_action_check_retcode VALUE)"},
    {"-pjato [n]", "Pre job action timeout (MAPS TO pre_job_action_timeout VALUE)"},
    {"-eja [s]", "Post job action (MAPS TO post_job_action VALUE)"},
    {"-ejacrt", "Post job action: do not check the return code"},
    {"-ejart [n]",
     "Post job action: expected return code (MAPS TO post_job_action_check_retcode VALUE)"},
    {"-ejato [n]", "Post job action timeout (MAPS TO post_job_action_timeout VALUE)"},
    {"-pca [s]", "Pre chunk action (MAPS TO pre_chunk_action VALUE)"},
    {"-pcacrt", "Pre chunk action: do not check the return code"},
    {"-pcart [n]",
     "Pre chunk action: expected return code (MAPS TO pre_chunk_action_check_retcode VALUE)"},
    {"-pcato [n]", "Pre chunk action timeout (MAPS TO pre_chunk_action_timeout VALUE)"},
    {"-eca [s]", "Post chunk action (MAPS TO post_chunk_action VALUE)"},
    {"-ecacrt", "Post chunk action: do not check the return code"},
    {"-ecart [n]",
     "Post chunk action: expected return code (MAPS TO post_chunk_action_check_retcode VALUE)"},
    {"-ecato [n]", "Post chunk action timeout (MAPS TO post_chunk_action_timeout VALUE)"},
};

const SubmissionLine kSingleFrameLines[] = {
    {"-slc [n]", "Number of slices"},
    {"-asv [n]", "Antialiasing overlap"},
    {"-rat [n]", "Final image ratio (REQUIRED FOR Maya JOBS)"},
    {"-iw [n]", "Final image width (MANDATORY on IMAGE SLICING JOBS)"},
    {"-ih [n]", "Final image height (MANDATORY on IMAGE SLICING JOBS)"},
};

const char* const kConnectionAndControl[] = {
    "\nZendro remote tool version " ZDTOOL_VERSION,
    "----------------------------------------",
    "Usage:\n",
    "zdtool -S dispatcherserver -[flag] [value] ...",
    "\nFlags:\n",
    "-s\t\t\tDispatcher server name or ip address",
    "-port\t\t\tDispatcher server socket port",
    "-u\t\t\tUsername",
    "-p\t\t\tPassword",
    ("-templatesdir\t\tSpecify a different directory to read/write templates for the current "
     "session"),
    "-usecache\t\tSkips templates synchronization with the dispatcher",
    "-timeout [n]\t\tSeconds to wait for the Dispatcher at each step (default 60, 0 = no limit)",
    "\n\nLOCAL CONTROL MODE:\n",
    "-eev\t\t\tSend an enable control event to the local client",
    "-dev\t\t\tSend a disable control event to the local client",
    "\n\nCONTROL MODE:\n",
    "-chp [STRING]\t\tChange account password",
    "-dsr\t\t\tSoft restart Dispatcher service",
    "-rsc\t\t\tReset Dispatcher statistics counters",
    "-cds\t\t\tChange Dispatcher selection logic status",
    "-cpup [ID]\t\tPause given cpu",
    "-cpur [ID]\t\tResume given cpu",
    "-cpukg [ID]\t\tKill and go on given cpu",
    "-cpukp [ID]\t\tKill and pause given cpu",
    "-cpukr [ID]\t\tKill and redo given cpu",
    "-cpurn [ID]\t\tKill and reinit given cpu",
    "-cpukpjob [ID]\t\tKill and pause cpus working on a specific job",
    "-cpukrjob [ID]\t\tKill and redo cpus wokring on a specific job",
    "-cpusr [ID]\t\tSoft restart given cpu",
    "-jobp [ID]\t\tPause given job",
    "-jobr [ID]\t\tResume given job",
    "-jobri [ID]\t\tReinit given job",
    "-jobrn [ID] [s]\t\tRename given job",
    "-jobpr [ID] [n]\t\tChange priority of given job",
    "-jobpo [ID] [s]\t\tChange target pool of given job",
    "-jobmn [ID] [n]\t\tChange max nodes of given job",
    "-jobdp [ID] [s]\t\tChange dependancies of given job (ID,ID,...)",
    "-jobnt [ID] [s]\t\tChange notes of given job",
    "-jobpa [ID] [ID]\tChange parent of given job",
    "-jobproj [ID] [s]\tChange project of given job",
    "-jobdep [ID] [s]\tChange department of given job",
    "-jobrm [ID]\t\tDelete given job",
    "-lock [ID]\t\tLock given job",
    "-unlock [ID]\t\tUnlock given job",
    "-archive [ID]\t\tArchive given job",
    "-unarchive [ID]\t\tUnarchive given job",
    "-chunkrq [JOBID] [ID]\tRequeue given chunk",
    "-chunkdn [JOBID] [ID]\tSet given chunk to complete",
    "\n\nQUERY MODE:\n",
    "\n-q [cjplast]\t\tQuery mode",
    "\t\t\tc - Query nodes",
    "\t\t\tj - Query jobs",
    "\t\t\th - Query chunks",
    "\t\t\tp - Query pools",
    "\t\t\tl - Query logs",
    "\t\t\ts - Query statistics",
    "\t\t\tt - Query templates",
    "\t\t\ta - Query all",
    "\n-job [ID]\t\tJob id to query",
    "-qarc [n]\t\tQuery unarchivied (0), archivied(1) or both(2)",
    "-jobparent [ID]\t\tLimit query to a specific folder",
    "-jobstatus [n]\t\tLimit query to a specific status",
    "-jobengine [n]\t\tLimit query to a specific job template",
    "-templfields [ID]\t\tDumps template required fields",
    "\n-cpu [ID]\t\tNode id to query",
    "-cpustatus [n]\t\tLimit query to a specific status",
    "-cpuos [n]\t\tLimit query to a specific OS",
    "\n-chunk [ID]\t\tChunk id to query",
};

void putLine(FILE* out, const char* text) {
    zdPrintf(out, "%s\n", text);
}

void putFieldLine(FILE* out, const char* keyword, const char* meaning) {
    zdPrintf(out, "\t\t\t%s - %s\n", keyword, meaning);
}

template <typename Record>
void putNumberedFields(FILE* out, const char* heading, const zdCatalogue<Record>& catalogue) {
    putLine(out, heading);
    for (const zdField<Record>& field : catalogue)
        putFieldLine(out, field.keyword, field.meaning);
}

// Descriptions start at the fourth tab stop, with at least one tab after the flag.
void putSubmissionLine(FILE* out, const SubmissionLine& line) {
    size_t length = std::strlen(line.flag);
    int tabs = length >= 16 ? 1 : 3 - static_cast<int>(length / 8);
    zdPrintf(out, "\n%s%s%s", line.flag, std::string(tabs, '\t').c_str(), line.description);
}

void putSwitch(FILE* out, const char* line) {
    putLine(out, line);
    putLine(out, "\t\t\t1 - Yes");
    putLine(out, "\t\t\t0 - No");
}

}  // namespace

void printUsage(FILE* out) {
    for (const char* line : kConnectionAndControl)
        putLine(out, line);

    putLine(out, "\n-jf [#,#,...]\t\tReformat job fields\n");
    for (const zdField<jobentry>& field : jobCatalogue) {
        if (field.meaning) putFieldLine(out, field.keyword, field.meaning);
    }
    putLine(out, "\t\t\t##### - Custom attribute");
    putNumberedFields(out, "\n-cf [#,#,...]\t\tReformat cpu fields\n", cpuCatalogue);
    putNumberedFields(out, "\n-hf [#,#,...]\t\tReformat chunk fields\n", chunkCatalogue);
    putNumberedFields(out, "\n-lf [#,#,...]\t\tReformat log fields\n", logCatalogue);
    putNumberedFields(out, "\n-pf [#,#,...]\t\tReformat pool fields\n", poolCatalogue);

    putSwitch(out, "\n-H\t\t\tHeaders output mode");
    putSwitch(out, "\n-S\t\t\tSeparators output mode");
    putSwitch(out, "\n-C\t\t\tResolve fields costants");

    putLine(out, "\n\nBATCH SUBMISSION MODE:\n");
    for (const SubmissionLine& line : kSubmissionLines)
        putSubmissionLine(out, line);
    putLine(out, "\n\nSingle frame specific:");
    for (const SubmissionLine& line : kSingleFrameLines)
        putSubmissionLine(out, line);
    putLine(out, "\n\nBroadcast specific:");
    putSubmissionLine(out, {"-si [1/0]", "Single instance mode"});
    putLine(out, "\n");
}

namespace {

// Beside the usage text, which stays as it is. The manual page (docs/zdtool.1) gives the same
// warning under -p: a password given with -p on the command line is visible to other users of
// the machine; use -p - or ZD_PASSWORD instead.
const char* const kHelpAdditions[] = {
    "OTHER FLAGS AND VARIABLES:\n",
    "-o [table|tsv|json]\tQuery output format (default table)",
    "-p -\t\t\tRead the password at the terminal without echo, or as one line of standard input",
    "--help\t\t\tPrint this text and exit",
    "--version, -version\tPrint the version and exit",
    "\nZD_USER\t\t\tUsername when -u is not given",
    "ZD_PASSWORD\t\tPassword when -p is not given",
    "ZD_DISPATCHER\t\tDispatcher server when -s is not given: host or host:port",
    "\t\t\t(the port applies unless -port is given)",
    "\nA password given with -p on the command line is visible to other users of the machine:",
    "use -p - or ZD_PASSWORD instead.\n",
};

}  // namespace

void printHelp(FILE* out) {
    printUsage(out);
    for (const char* line : kHelpAdditions)
        putLine(out, line);
}

void printVersion(FILE* out) {
    putLine(out, "zdtool " ZDTOOL_VERSION);
}
