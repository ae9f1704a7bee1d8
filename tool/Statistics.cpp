// The statistics conversation, the decoding of its text and the report of query letter s.
#include "Statistics.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CommandLine.h"
#include "Connection.h"
#include "PayloadText.h"
#include "Payloads.h"
#include "ZRStringHelper.h"

using ZRFramework::ZRStringHelper::FormatTime;

zdDispatcherStats dstats{};

namespace {

const char kSeparator[] = "----------------------------------\n";

template <typename... Args>
void add(std::string& out, const char* format, Args... args) {
    char line[512];
    int n = std::snprintf(line, sizeof line, format, args...);
    if (n > 0) out.append(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
}

}  // namespace

void update_stats(std::string& encoded) {
    std::string decoded;
    if (!zdProtocol::DecodeBase64(encoded, decoded)) return;
    // The decoded text ends at its first NUL, as a C string would.
    zdProtocol::DispatcherStatistics read;
    if (!zdProtocol::ParseStatisticsText(decoded.c_str(), read)) return;
    zdDispatcherStats& d = dstats;
    d.runningSince = static_cast<int32_t>(read.runningSince);
    d.updatedOn = static_cast<int32_t>(read.updatedOn);
    d.totalBytesIn = read.totalBytesIn;
    d.totalBytesOut = read.totalBytesOut;
    d.controlBytesIn = read.controlBytesIn;
    d.controlBytesOut = read.controlBytesOut;
    d.rcBytesIn = read.rcBytesIn;
    d.rcBytesOut = read.rcBytesOut;
    d.notificationBytesIn = read.notificationBytesIn;
    d.notificationBytesOut = read.notificationBytesOut;
    d.httpBytesIn = read.httpBytesIn;
    d.httpBytesOut = read.httpBytesOut;
    d.totalKbsIn = static_cast<float>(read.totalKbsIn);
    d.totalKbsOut = static_cast<float>(read.totalKbsOut);
    d.controlKbsIn = static_cast<float>(read.controlKbsIn);
    d.controlKbsOut = static_cast<float>(read.controlKbsOut);
    d.rcKbsIn = static_cast<float>(read.rcKbsIn);
    d.rcKbsOut = static_cast<float>(read.rcKbsOut);
    d.notificationKbsIn = static_cast<float>(read.notificationKbsIn);
    d.notificationKbsOut = static_cast<float>(read.notificationKbsOut);
    d.httpKbsIn = static_cast<float>(read.httpKbsIn);
    d.httpKbsOut = static_cast<float>(read.httpKbsOut);
    d.rcConnections = static_cast<int32_t>(read.rcConnections);
    d.managementConnections = static_cast<int32_t>(read.managementConnections);
    d.notificationConnections = static_cast<int32_t>(read.notificationConnections);
    d.httpSessions = static_cast<int32_t>(read.httpSessions);
    d.httpConnections = static_cast<int32_t>(read.httpConnections);
    d.httpsConnections = static_cast<int32_t>(read.httpsConnections);
    d.occupiedClients = static_cast<int32_t>(read.occupiedClients);
    d.pausedClients = static_cast<int32_t>(read.pausedClients);
    d.idleClients = static_cast<int32_t>(read.idleClients);
    d.unavailableClients = static_cast<int32_t>(read.unavailableClients);
}

bool GetStats() {
    sendMsg(zdCode::kStatisticsRequest, std::string());
    do {
        if (!receiveMsg()) return false;
    } while (static_cast<unsigned char>(message[0]) != zdCode::kStatistics);
    std::string encoded(zdProtocol::ParseStatisticsReply(rcvargs));
    update_stats(encoded);
    return true;
}

std::string statsReport(const zdListingCounts& counts) {
    const zdDispatcherStats& d = dstats;
    std::string r;
    add(r, "\nTotal Job on Dispatcher: %d\n", counts.jobs);
    add(r, "Total Nodes on Dispatcher: %d\n", counts.nodes);
    add(r, "Total Logs on Dispatcher: %d\n", counts.logs);
    add(r, "Total Pools on Dispatcher: %d\n", counts.pools);
    r += kSeparator;
    r += "Dispatcher data\n";
    r += kSeparator;
    r += "Dispatcher server running since: " + FormatTime(d.runningSince, 2) + "\n";
    r += "Statistics updated on: " + FormatTime(d.updatedOn, 2) + "\n";
    r += "Internal version: " + dispatcher_version + "\n";
    add(r, "Network protocol version: %d\n", protocol_version);
    add(r, "RC Connections: %d\n", d.rcConnections);
    add(r, "Notification connections: %d\n", d.notificationConnections);
    add(r, "Management connections: %d\n", d.managementConnections);
    add(r, "Http connections: %d\n", d.httpConnections);
    add(r, "Https connections: %d\n", d.httpsConnections);
    add(r, "Active http sessions: %d\n", d.httpSessions);
    add(r, "Occupied clients: %d\n", d.occupiedClients);
    add(r, "Paused clients: %d\n", d.pausedClients);
    add(r, "Idle clients: %d\n", d.idleClients);
    add(r, "Unavailable clients: %d\n", d.unavailableClients);
    r += kSeparator;
    r += "Bytes counters\n";
    r += kSeparator;
    const std::pair<const char*, int64_t> counters[] = {
        {"RC connections total bytes in: ", d.rcBytesIn},
        {"RC connections total bytes out: ", d.rcBytesOut},
        {"Control connections total bytes in: ", d.controlBytesIn},
        {"Control connections total bytes out: ", d.controlBytesOut},
        {"Notification connections total bytes in: ", d.notificationBytesIn},
        {"Notification connections total bytes out: ", d.notificationBytesOut},
        {"Http connections total bytes in: ", d.httpBytesIn},
        {"Http connections total bytes out: ", d.httpBytesOut},
        {"Total bytes in: ", d.totalBytesIn},
        {"Total bytes out: ", d.totalBytesOut},
    };
    for (const auto& [label, value] : counters)
        add(r, "%s%" PRId64 "\n", label, value);
    r += kSeparator;
    r += "Bandwidth usage\n";
    r += kSeparator;
    const std::pair<const char*, float> averages[] = {
        {"RC", d.rcKbsIn},
        {"RC", d.rcKbsOut},
        {"Control", d.controlKbsIn},
        {"Control", d.controlKbsOut},
        {"Notification", d.notificationKbsIn},
        {"Notification", d.notificationKbsOut},
        {"Http", d.httpKbsIn},
        {"Http", d.httpKbsOut},
        {"Total", d.totalKbsIn},
        {"Total", d.totalKbsOut},
    };
    for (size_t i = 0; i < sizeof averages / sizeof averages[0]; ++i) {
        r += averages[i].first;
        add(r, i % 2 == 0 ? " average Kb/s in: %.2f Kb/s\n" : " average Kb/s out: %.2f Kb/s\n",
            static_cast<double>(averages[i].second));
    }
    return r;
}

bool QueryStats(const zdListingCounts& counts) {
    if (!GetStats()) return false;
    _zdprintf(1, "%s", statsReport(counts).c_str());
    return true;
}
