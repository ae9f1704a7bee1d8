// Batch submission: checking the submission record against its template, serialising it, and
// sending it to the Dispatcher.
#ifndef ZDTOOL_SUBMISSION_H
#define ZDTOOL_SUBMISSION_H

#include <string>

#include "MessageCodes.h"
#include "RunSettings.h"

// Checks `submitjob` against the template chosen with -e (from the process-wide manager) and
// stores the job type. 0 when it must not be sent (message printed), non-zero otherwise.
int validateBatch();

// Four lines per property, in map order: name, value, specified, path substitution.
std::string buildPropertiesText(ZRFramework::zrPropertyMap& properties);
// The 28-line job record of a new or edited job.
std::string buildJobRecord(zdSubmitJob& job);
// Parent, name and priority of a new folder.
std::string buildFolderPayload(const zdSubmitJob& job);

// Validates and sends `submitjob`, then waits for the answer. 0 when the Dispatcher accepted
// it; -1 when it was invalid, refused, or the connection failed (message printed).
int runSubmission();

#endif
