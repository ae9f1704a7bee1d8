// zdsim's server loop: a listening socket and one zrSocketStream per client, all driven by one
// event queue on one thread, so no client can hold up another.
#ifndef ZDSIM_SERVER_H
#define ZDSIM_SERVER_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Listings.h"
#include "Protocol.h"
#include "Transcript.h"

namespace ZRFramework {
struct zrLogger;
}

namespace zdsim {

// Largest frame a client may send (header included) unless --max-frame says otherwise.
constexpr unsigned long kDefaultMaxFrame = 1024 * 1024;
// Replies queued for one client that has stopped reading; beyond it the client is dropped.
constexpr unsigned long kMaxQueuedOutput = 64ul * 1024 * 1024;
// A streaming listing is topped up to this many queued bytes each time the socket takes some, so
// a huge listing holds little memory and other clients are served between top-ups.
constexpr unsigned long kDefaultStreamTopUp = 2ul * 1024 * 1024;
// Requests that arrive while a listing streams wait for its end, up to these amounts; a client
// that sends more is dropped.
constexpr size_t kMaxDeferredFrames = 65536;
constexpr size_t kMaxDeferredBytes = 4ul * 1024 * 1024;

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    int port = 0;  // 0: the system picks a free one
    unsigned long maxFrame = kDefaultMaxFrame;
    bool compress = false;
    // Close a connection once the reply to its N-th frame is sent; 0 closes on accept, -1 never.
    long closeAfter = -1;
    unsigned long streamTopUp = kDefaultStreamTopUp;
};

class Server {
public:
    // Nothing is owned; all must outlive the server. `transcript` and `logger` may be null.
    Server(Farm& farm, const TemplateCatalogue& templates, const ProtocolSettings& settings,
           const ServerOptions& options, TranscriptWriter* transcript,
           ZRFramework::zrLogger* logger);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds, listens and creates the event queue; false with the reason in `error`.
    bool Start(std::string& error);
    // The port listened on, valid after Start.
    int Port() const { return port_; }
    // Serves until Stop, then closes every connection. False when the event queue failed.
    bool Run();
    // Safe from any thread and from a signal handler.
    void Stop();
    // The most bytes ever queued for one client at once; safe from any thread.
    uint64_t PeakQueuedOutput() const { return peakQueued_; }

private:
    struct Client;

    void AcceptClients();
    void ServeClient(int fd, int events);
    void TakeFrames(Client& client);
    void Receive(Client& client, unsigned char code, std::string payload);
    void Process(Client& client, unsigned char code, const std::string& payload);
    void StartListing(Client& client, ListingKind kind, const std::string& payload);
    void EndListing(Client& client);
    void Pump(Client& client);
    void Advance(Client& client);
    // A command that adds or removes jobs waits while another client streams the jobs listing.
    bool MustWait(const Client& client, unsigned char code) const;
    void WakeWaiting();
    void Queue(Client& client, const Reply& reply);
    bool Append(Client& client, const std::string& frames, const char* what);
    void Drop(Client& client, const std::string& why);
    void CloseClient(int fd, const char* why);
    void CloseAll();

    Farm& farm_;
    const TemplateCatalogue& templates_;
    const ProtocolSettings& settings_;
    ServerOptions options_;
    TranscriptWriter* transcript_;
    ZRFramework::zrLogger* logger_;
    RecordCache cache_;

    int listenFd_ = -1;
    int queue_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    int nextClient_ = 1;
    bool wakeWaiting_ = false;   // a jobs listing ended: commands held back may go
    bool acceptPaused_ = false;  // out of descriptors: the listener is not watched
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> peakQueued_{0};
    std::map<int, std::unique_ptr<Client>> clients_;
};

}  // namespace zdsim

#endif
