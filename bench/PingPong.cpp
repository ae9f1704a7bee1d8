// The floor of the query benchmark: a client that runs one zdsim listing with as little work per
// record as a client can do, and a meter that runs a program and reports its CPU time and memory.
//
//   bench_pingpong listing PORT [jobs|nodes|logs|pools]
//       requests the listing, acknowledges the start and every record as soon as its frame is
//       whole, stops at the end frame; prints "records=N bytes=B wall=S".
//   bench_pingpong measure REPORT PROGRAM [ARGS...]
//       runs PROGRAM with this process's standard streams and writes
//       "status=X wall=S user=S system=S maxrss_kb=K" to the REPORT file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

struct Listing {
    const char* name;
    char request, start, ack, record, end;
};

const Listing kListings[] = {
    {"jobs", '.', 'F', '/', 'D', 'E'},
    {"nodes", '0', 'N', '1', 'K', 'L'},
    {"logs", '%', 'c', '&', 'd', 'e'},
    {"pools", ',', 'Z', '-', '[', '\\'},
};

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// An empty-text frame: encoding 0, length 1, the code.
bool SendEmptyFrame(int fd, char code) {
    const char frame[6] = {0, 1, 0, 0, 0, code};
    return SendAll(fd, frame, sizeof frame);
}

int RunListing(int port, const Listing& listing) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        std::fprintf(stderr, "bench_pingpong: cannot connect to port %d: %s\n", port,
                     std::strerror(errno));
        return 1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const auto began = Clock::now();
    std::vector<char> held(1 << 16);
    size_t used = 0;
    uint64_t bytes = 0;
    uint64_t records = 0;
    bool ended = false;
    if (!SendEmptyFrame(fd, listing.request)) return 1;
    while (!ended) {
        if (held.size() - used < 4096) held.resize(held.size() * 2);
        const ssize_t n = recv(fd, held.data() + used, held.size() - used, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::fprintf(stderr, "bench_pingpong: connection ended after %llu records\n",
                         static_cast<unsigned long long>(records));
            return 1;
        }
        used += static_cast<size_t>(n);
        bytes += static_cast<uint64_t>(n);
        size_t at = 0;
        // Whole frames only; the text itself is never looked at.
        while (!ended && used - at >= 6) {
            const auto* p = reinterpret_cast<const unsigned char*>(held.data() + at);
            const uint64_t length =
                p[1] | uint64_t{p[2]} << 8 | uint64_t{p[3]} << 16 | uint64_t{p[4]} << 24;
            if (used - at < length + 5) break;
            const char code = static_cast<char>(p[5]);
            at += static_cast<size_t>(length) + 5;
            if (code == listing.record) ++records;
            if (code == listing.start || code == listing.record) {
                if (!SendEmptyFrame(fd, listing.ack)) return 1;
            } else if (code == listing.end) {
                ended = true;
            }
        }
        std::memmove(held.data(), held.data() + at, used - at);
        used -= at;
    }
    const double wall = Seconds(Clock::now() - began);
    close(fd);
    std::printf("records=%llu bytes=%llu wall=%.3f\n", static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(bytes), wall);
    return 0;
}

int Measure(const char* report, char** argv) {
    const auto began = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("bench_pingpong: fork");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[0], argv);
        std::fprintf(stderr, "bench_pingpong: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    int raw = 0;
    rusage usage{};
    while (wait4(pid, &raw, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("bench_pingpong: wait4");
            return 1;
        }
    }
    const double wall = Seconds(Clock::now() - began);
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    FILE* out = std::fopen(report, "w");
    if (out == nullptr) {
        std::perror(report);
        return 1;
    }
    std::fprintf(out, "status=%d wall=%.3f user=%.3f system=%.3f maxrss_kb=%ld\n", status, wall,
                 Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss);
    return std::fclose(out) == 0 ? 0 : 1;
}

int Usage() {
    std::fputs(
        "usage: bench_pingpong listing PORT [jobs|nodes|logs|pools]\n"
        "       bench_pingpong measure REPORT PROGRAM [ARGS...]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "listing") == 0) {
        const int port = std::atoi(argv[2]);
        const std::string kind = argc >= 4 ? argv[3] : "jobs";
        for (const Listing& listing : kListings)
            if (kind == listing.name && port > 0 && port < 65536) return RunListing(port, listing);
        return Usage();
    }
    if (argc >= 4 && std::strcmp(argv[1], "measure") == 0) return Measure(argv[2], argv + 3);
    return Usage();
}
