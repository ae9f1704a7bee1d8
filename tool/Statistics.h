// The Dispatcher statistics report of query letter s: the statistics message, its decoding into
// dstats, and the report printed from it and from the listings' counts.
#ifndef ZDTOOL_STATISTICS_H
#define ZDTOOL_STATISTICS_H

#include <cstdint>
#include <string>
#include "MessageCodes.h"
#include "RunSettings.h"

// The 32 values of the statistics text, in its line order.
struct zdDispatcherStats {
    int32_t runningSince;
    int32_t updatedOn;
    int64_t totalBytesIn;
    int64_t totalBytesOut;
    int64_t controlBytesIn;
    int64_t controlBytesOut;
    int64_t rcBytesIn;
    int64_t rcBytesOut;
    int64_t notificationBytesIn;
    int64_t notificationBytesOut;
    int64_t httpBytesIn;
    int64_t httpBytesOut;
    float totalKbsIn;
    float totalKbsOut;
    float controlKbsIn;
    float controlKbsOut;
    float rcKbsIn;
    float rcKbsOut;
    float notificationKbsIn;
    float notificationKbsOut;
    float httpKbsIn;
    float httpKbsOut;
    int32_t rcConnections;
    int32_t managementConnections;
    int32_t notificationConnections;
    int32_t httpSessions;
    int32_t httpConnections;
    int32_t httpsConnections;
    int32_t occupiedClients;
    int32_t pausedClients;
    int32_t idleClients;
    int32_t unavailableClients;
};

// Zero until a statistics reply has been decoded.
extern zdDispatcherStats dstats;

// Decodes the Base64 statistics text into dstats; a text that does not decode or has fewer
// than 32 lines leaves dstats as it was.
void update_stats(std::string& encoded);
// Requests the statistics and decodes the reply; false when the connection failed.
bool GetStats();
// The counts of the listings fetched before the report.
struct zdListingCounts {
    int jobs = 0;   // retained by the job listing
    int nodes = 0;  // received
    int logs = 0;   // received
    int pools = 0;  // pool rows without an address
};
// The report, from dstats and the counts.
std::string statsReport(const zdListingCounts& counts);
// The report as one record for scripts (`format` tsv or json), members in the report's order.
std::string statsRecord(const zdListingCounts& counts, zdOutputFormat format, bool headers);
// GetStats, then the report at level 1.
bool QueryStats(const zdListingCounts& counts);

#endif
