// zdsim's server loop: a listening socket and one zrSocketStream per client, all driven by one
// event queue on one thread, so no client can hold up another.
#ifndef ZDSIM_SERVER_H
#define ZDSIM_SERVER_H

#include <atomic>
#include <map>
#include <memory>
#include <string>

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

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    int port = 0;  // 0: the system picks a free one
    unsigned long maxFrame = kDefaultMaxFrame;
    bool compress = false;
    // Close a connection once the reply to its N-th frame is sent; 0 closes on accept, -1 never.
    long closeAfter = -1;
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

private:
    struct Client;

    void AcceptClients();
    void ServeClient(int fd, int events);
    void TakeFrames(Client& client);
    void Queue(Client& client, const Reply& reply);
    void CloseClient(int fd, const char* why);
    void CloseAll();

    Farm& farm_;
    const TemplateCatalogue& templates_;
    const ProtocolSettings& settings_;
    ServerOptions options_;
    TranscriptWriter* transcript_;
    ZRFramework::zrLogger* logger_;

    int listenFd_ = -1;
    int queue_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    int nextClient_ = 1;
    bool acceptPaused_ = false;  // out of descriptors: the listener is not watched
    std::atomic<bool> stopping_{false};
    std::map<int, std::unique_ptr<Client>> clients_;
};

}  // namespace zdsim

#endif
