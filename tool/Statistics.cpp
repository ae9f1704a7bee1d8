// The statistics conversation, the decoding of its text and the report of query letter s.
#include "Statistics.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CommandLine.h"
#include "Connection.h"
#include "Queries.h"
#include "ZRBase64.h"
#include "ZRStringHelper.h"

using ZRFramework::ZRStringHelper::FormatTime;

zdDispatcherStats dstats{};

namespace {

constexpr size_t kStatsLines = 32;
const char kSeparator[] = "----------------------------------\n";

int64_t wide(const std::string& text) {
    return std::strtoll(text.c_str(), nullptr, 10);
}

// strtof: a value beyond float's range becomes infinity instead of an undefined conversion.
float average(const std::string& text) {
    return std::strtof(text.c_str(), nullptr);
}

template <typename... Args>
void add(std::string& out, const char* format, Args... args) {
    char line[512];
    int n = std::snprintf(line, sizeof line, format, args...);
    if (n > 0) out.append(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
}

}  // namespace

void update_stats(std::string& encoded) {
    char* decoded = nullptr;
    unsigned long length = 0;
    if (!ZRFramework::ZRBase64::DecodeAlloc(encoded.data(), encoded.size(), &decoded, &length))
        return;
    std::string text(decoded);
    ZRFramework::ZRBase64::DeleteBuffer(&decoded);
    std::vector<std::string> v = ZRFramework::ZRStringHelper::TokenizeString(text, "\n");
    if (v.size() < kStatsLines) return;
    zdDispatcherStats& d = dstats;
    d.runningSince = parseInt(v[0]);
    d.updatedOn = parseInt(v[1]);
    d.totalBytesIn = wide(v[2]);
    d.totalBytesOut = wide(v[3]);
    d.controlBytesIn = wide(v[4]);
    d.controlBytesOut = wide(v[5]);
    d.rcBytesIn = wide(v[6]);
    d.rcBytesOut = wide(v[7]);
    d.notificationBytesIn = wide(v[8]);
    d.notificationBytesOut = wide(v[9]);
    d.httpBytesIn = wide(v[10]);
    d.httpBytesOut = wide(v[11]);
    d.totalKbsIn = average(v[12]);
    d.totalKbsOut = average(v[13]);
    d.controlKbsIn = average(v[14]);
    d.controlKbsOut = average(v[15]);
    d.rcKbsIn = average(v[16]);
    d.rcKbsOut = average(v[17]);
    d.notificationKbsIn = average(v[18]);
    d.notificationKbsOut = average(v[19]);
    d.httpKbsIn = average(v[20]);
    d.httpKbsOut = average(v[21]);
    d.rcConnections = parseInt(v[22]);
    d.managementConnections = parseInt(v[23]);
    d.notificationConnections = parseInt(v[24]);
    d.httpSessions = parseInt(v[25]);
    d.httpConnections = parseInt(v[26]);
    d.httpsConnections = parseInt(v[27]);
    d.occupiedClients = parseInt(v[28]);
    d.pausedClients = parseInt(v[29]);
    d.idleClients = parseInt(v[30]);
    d.unavailableClients = parseInt(v[31]);
}

bool GetStats() {
    sendMsg(zdCode::kStatisticsRequest, std::string());
    do {
        if (!receiveMsg()) return false;
    } while (static_cast<unsigned char>(message[0]) != zdCode::kStatistics);
    std::string encoded = getstringline(rcvargs, 1);
    update_stats(encoded);
    return true;
}

std::string statsReport() {
    const zdDispatcherStats& d = dstats;
    std::string r;
    add(r, "\nTotal Job on Dispatcher: %d\n", jobsRetained);
    add(r, "Total Nodes on Dispatcher: %d\n", cpusReceived);
    add(r, "Total Logs on Dispatcher: %d\n", logsReceived);
    add(r, "Total Pools on Dispatcher: %d\n", poolsCounted);
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

bool QueryStats() {
    if (!GetStats()) return false;
    _zdprintf(1, "%s", statsReport().c_str());
    return true;
}
