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
#include "RecordOutput.h"
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

std::string statsRecord(const zdListingCounts& counts, zdOutputFormat format, bool headers) {
    const zdDispatcherStats& d = dstats;
    std::vector<zdRecordMember> members;
    std::vector<std::string> cells;
    auto text = [&](const char* key, std::string value) {
        members.push_back({key, false});
        cells.push_back(std::move(value));
    };
    auto integer = [&](const char* key, int64_t value) {
        members.push_back({key, true});
        cells.push_back(std::to_string(value));
    };
    // As the report rounds them.
    auto average = [&](const char* key, float value) {
        std::string cell;
        add(cell, "%.2f", static_cast<double>(value));
        members.push_back({key, true});
        cells.push_back(std::move(cell));
    };
    integer("jobs", counts.jobs);
    integer("nodes", counts.nodes);
    integer("logs", counts.logs);
    integer("pools", counts.pools);
    text("running_since", FormatTime(d.runningSince, 2));
    text("updated_on", FormatTime(d.updatedOn, 2));
    text("internal_version", dispatcher_version);
    integer("protocol_version", protocol_version);
    integer("rc_connections", d.rcConnections);
    integer("notification_connections", d.notificationConnections);
    integer("management_connections", d.managementConnections);
    integer("http_connections", d.httpConnections);
    integer("https_connections", d.httpsConnections);
    integer("active_http_sessions", d.httpSessions);
    integer("occupied_clients", d.occupiedClients);
    integer("paused_clients", d.pausedClients);
    integer("idle_clients", d.idleClients);
    integer("unavailable_clients", d.unavailableClients);
    integer("rc_bytes_in", d.rcBytesIn);
    integer("rc_bytes_out", d.rcBytesOut);
    integer("control_bytes_in", d.controlBytesIn);
    integer("control_bytes_out", d.controlBytesOut);
    integer("notification_bytes_in", d.notificationBytesIn);
    integer("notification_bytes_out", d.notificationBytesOut);
    integer("http_bytes_in", d.httpBytesIn);
    integer("http_bytes_out", d.httpBytesOut);
    integer("total_bytes_in", d.totalBytesIn);
    integer("total_bytes_out", d.totalBytesOut);
    average("rc_kbs_in", d.rcKbsIn);
    average("rc_kbs_out", d.rcKbsOut);
    average("control_kbs_in", d.controlKbsIn);
    average("control_kbs_out", d.controlKbsOut);
    average("notification_kbs_in", d.notificationKbsIn);
    average("notification_kbs_out", d.notificationKbsOut);
    average("http_kbs_in", d.httpKbsIn);
    average("http_kbs_out", d.httpKbsOut);
    average("total_kbs_in", d.totalKbsIn);
    average("total_kbs_out", d.totalKbsOut);
    const zdRecordStream stream(format, "stats", std::move(members), headers);
    std::string out;
    stream.Headers(out);
    stream.Record(out, cells);
    return out;
}

bool QueryStats(const zdListingCounts& counts) {
    if (!GetStats()) return false;
    if (streamsRecords(outputFormat)) {
        std::string record = statsRecord(counts, outputFormat, nHeaders != 0);
        writeRecordText(record);
        return true;
    }
    _zdprintf(1, "%s", statsReport(counts).c_str());
    return true;
}
