// The server loop: accepts clients, reads whole frames through each client's zrSocketStream,
// hands them to the protocol handlers and queues the replies, all on the event-queue thread.
#include "Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "ZREventQueue.h"
#include "ZRLogger.h"
#include "ZRSocket.h"

namespace zdsim {

using namespace ZRFramework;

namespace {

constexpr const char* kSource = "zdsim";
// The stream grows its input 4097 bytes at a time and wants a read's worth of room, so this
// much above the largest frame lets every frame within the limit fit.
constexpr unsigned long kReadSlack = 2 * 4097 + 1;
constexpr int kEventsPerWait = 64;

void SetCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    if (flags != -1) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

class StreamHold {
public:
    explicit StreamHold(zrSocketStream& stream) : mutex_(stream.streamLock) {
        ZRProcesses::LockMutex(mutex_);
    }
    ~StreamHold() { ZRProcesses::UnlockMutex(mutex_); }
    StreamHold(const StreamHold&) = delete;
    StreamHold& operator=(const StreamHold&) = delete;

private:
    ZRProcesses::zrMutex mutex_;
};

// Appends whole frames to the stream's output under its lock and limit, growing the buffer by
// doubling: a listing is queued in many top-ups, and growing to the exact size each time would
// copy the queue over and over.
bool AppendToStream(zrSocketStream& stream, const std::string& frames, uint32_t& queued) {
    if (stream.broken || stream.streamLock == nullptr) return false;
    {
        StreamHold hold(stream);
        const uint64_t needed = uint64_t{stream.outLength} + frames.size();
        if (needed > stream.maxOutgoing) return false;
        if (needed + 1 > stream.outCapacity) {
            const uint64_t doubled =
                std::max<uint64_t>(needed + 1, uint64_t{stream.outCapacity} * 2);
            const uint64_t wanted = std::min<uint64_t>(doubled, uint64_t{stream.maxOutgoing} + 1);
            unsigned long capacity = stream.outCapacity;
            char* grown = ZRSocket::zr_resize_buffer(stream.outBuffer, &capacity, stream.outLength,
                                                     static_cast<unsigned long>(wanted));
            if (grown == nullptr) return false;
            stream.outBuffer = grown;
            stream.outCapacity = static_cast<uint32_t>(capacity);
        }
        std::memcpy(stream.outBuffer + stream.outLength, frames.data(), frames.size());
        stream.outLength += static_cast<uint32_t>(frames.size());
        queued = stream.outLength;
    }
    if (stream.kqueueFd != -1)
        ZREventQueue::WatchDescriptor(stream.kqueueFd, stream.socketFd, true);
    return true;
}

}  // namespace

struct Server::Client {
    struct Deferred {
        unsigned char code;
        std::string payload;
    };

    zrSocketStream stream;
    Session session;
    long frames = 0;
    bool closing = false;  // --close-after reached: close once the output is out
    // The listing being sent, or sent and still collecting acknowledgements.
    std::unique_ptr<ListingConversation> listing;
    std::deque<Deferred> deferred;  // requests that arrived while the listing streamed
    size_t deferredBytes = 0;
    std::string batch;  // frames on their way into the stream, kept to reuse its memory
    size_t unexpectedLogged = 0;

    bool Streaming() const { return listing != nullptr && !listing->Sent(); }
    bool Stuck() const { return listing != nullptr && listing->WaitingForAck(); }
};

Server::Server(Farm& farm, const TemplateCatalogue& templates, const ProtocolSettings& settings,
               const ServerOptions& options, TranscriptWriter* transcript, zrLogger* logger)
    : farm_(farm),
      templates_(templates),
      settings_(settings),
      options_(options),
      transcript_(transcript),
      logger_(logger),
      cache_(farm) {}

Server::~Server() {
    CloseAll();
    if (listenFd_ != -1) close(listenFd_);
    if (queue_ != -1) ZREventQueue::DestroyEventQueue(queue_);
    for (int fd : wakeFds_)
        if (fd != -1) close(fd);
}

bool Server::Start(std::string& error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options_.port));
    if (options_.port < 0 || options_.port > 65535 ||
        inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port);
        return false;
    }
    listenFd_ = ZRSocket::CreateSocket(0);
    if (listenFd_ == -1) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    SetCloseOnExec(listenFd_);
    const int reuse = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    // The framework's ListenSocket keeps a backlog of 5; a farm's clients arrive in bursts.
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, SOMAXCONN) != 0) {
        error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port) +
                ": " + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ZRSocket::SetBlockStatus(listenFd_, false);

    queue_ = ZREventQueue::CreateEventQueue();
    if (queue_ == -1 || ZRSocket::CreateLoopbackPipes(wakeFds_) != 0) {
        error = std::string("cannot create the event queue: ") + std::strerror(errno);
        return false;
    }
    SetCloseOnExec(wakeFds_[0]);
    SetCloseOnExec(wakeFds_[1]);
    if (ZREventQueue::WatchDescriptor(queue_, listenFd_, false) != 0 ||
        ZREventQueue::WatchDescriptor(queue_, wakeFds_[0], false) != 0) {
        error = std::string("cannot watch the listening socket: ") + std::strerror(errno);
        return false;
    }
    ZRLogger::AddLogEntry(logger_, 2, kSource, "Listening on %s:%d", options_.bindAddress.c_str(),
                          port_);
    return true;
}

void Server::Stop() {
    stopping_ = true;
    if (wakeFds_[1] != -1) {
        const char byte = 0;
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t n = write(wakeFds_[1], &byte, 1);
    }
}

bool Server::Run() {
    if (queue_ == -1) return false;
    ZREventQueue::zrQueueEvent events[kEventsPerWait];
    bool healthy = true;
    while (!stopping_) {
        const int n = ZREventQueue::WaitEventQueue(queue_, events, kEventsPerWait, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            ZRLogger::AddLogEntry(logger_, 1, kSource, "Event queue failed: %s",
                                  std::strerror(errno));
            healthy = false;
            break;
        }
        for (int i = 0; i < n && !stopping_; ++i) {
            const int fd = events[i].fd;
            if (fd == listenFd_) {
                AcceptClients();
            } else if (fd == wakeFds_[0]) {
                char drain[64];
                while (read(wakeFds_[0], drain, sizeof drain) > 0) {
                }
            } else {
                ServeClient(fd, events[i].events);
            }
            while (wakeWaiting_)
                WakeWaiting();
        }
    }
    CloseAll();
    ZRLogger::AddLogEntry(logger_, 2, kSource, "Stopped");
    return healthy;
}

void Server::AcceptClients() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd =
            ZRSocket::AcceptSocket(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length);
        if (fd == -1) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE) {
                // The pending connection would keep the listener readable and the loop
                // spinning: stop listening until a client leaves.
                ZRLogger::AddLogEntry(logger_, 1, kSource,
                                      "accept failed: %s; not accepting until a client leaves",
                                      std::strerror(errno));
                ZREventQueue::UnwatchDescriptor(queue_, listenFd_);
                acceptPaused_ = true;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                ZRLogger::AddLogEntry(logger_, 1, kSource, "accept failed: %s",
                                      std::strerror(errno));
            }
            return;
        }
        SetCloseOnExec(fd);
        ZRSocket::SetBlockStatus(fd, false);
        ZRSocket::SetNagleStatus(fd, false);

        auto client = std::make_unique<Client>();
        client->session.client = nextClient_++;
        client->stream.socketFd = fd;
        client->stream.SetMaxIncomingBufferSize(options_.maxFrame + kReadSlack);
        client->stream.SetMaxOutgoingBufferSize(kMaxQueuedOutput);
        char dotted[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
        ZRLogger::AddLogEntry(logger_, 2, kSource, "Client %d connected from %s:%d",
                              client->session.client, dotted, ntohs(peer.sin_port));
        if (options_.closeAfter == 0) {
            ZRLogger::AddLogEntry(logger_, 2, kSource, "Client %d closed: --close-after 0",
                                  client->session.client);
            ZRSocket::CloseSocket(fd);
            continue;
        }
        client->stream.RegisterKq(queue_);
        clients_[fd] = std::move(client);
    }
}

void Server::ServeClient(int fd, int events) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    Client& client = *it->second;
    zrSocketStream& stream = client.stream;

    if (events & ZREventQueue::kEventWritable) stream.Write();
    bool peerGone = false;
    if (events & ZREventQueue::kEventReadable) {
        const int got = stream.Read();
        if (got != -1) TakeFrames(client);
        peerGone = got == 0;
    }
    Advance(client);
    // Most replies fit the socket at once; the stream asks for a writable report otherwise.
    if (stream.HasToWrite()) stream.Write();
    // What the write took from a streaming listing is put back at once.
    Advance(client);

    // A lockstep listing waiting for an acknowledgement after --close-after will wait for ever.
    const bool busy = !client.Stuck() && (client.Streaming() || !client.deferred.empty());
    if (stream.broken) {
        CloseClient(fd, "connection failed or its buffers overflowed");
    } else if (peerGone) {
        CloseClient(fd, "disconnected");
    } else if (client.closing && !stream.HasToWrite() && !busy) {
        CloseClient(fd, "--close-after reached");
    }
}

void Server::TakeFrames(Client& client) {
    zrSocketStream& stream = client.stream;
    while (!stream.broken) {
        ZRSocket::FrameStatus status;
        uint64_t frameSize = 0;
        bool decoded = false;
        unsigned char code = 0;
        std::string payload;
        {
            // Decoded here rather than taken from GetNextMessage, whose text ends at its first
            // NUL: the transcript shows every byte a client sent.
            StreamHold hold(stream);
            status = ZRSocket::ScanFrame(stream.inBuffer, stream.inLength, &frameSize);
            if (status == ZRSocket::FrameStatus::kComplete && frameSize <= options_.maxFrame) {
                uint64_t textLength = 0;
                char* message = ZRSocket::DecodeFrame(stream.inBuffer, frameSize,
                                                      stream.maxIncoming, &textLength);
                if (message != nullptr) {
                    decoded = true;
                    code = static_cast<unsigned char>(message[0]);
                    payload.assign(message + 1, textLength);
                    ZRSocket::destroyEncodedMessage(message);
                }
            }
        }
        if (frameSize > options_.maxFrame) {
            ZRLogger::AddLogEntry(logger_, 1, kSource,
                                  "Client %d announced a frame of %llu bytes (limit %lu)",
                                  client.session.client, static_cast<unsigned long long>(frameSize),
                                  options_.maxFrame);
            stream.Shutdown();
            stream.broken = true;
            return;
        }
        if (status == ZRSocket::FrameStatus::kIncomplete) return;
        // Takes the frame off the stream.
        ZRSocket::destroyEncodedMessage(stream.GetNextMessage());
        if (!decoded) {
            ZRLogger::AddLogEntry(logger_, 1, kSource, "Client %d: dropped a malformed frame",
                                  client.session.client);
            continue;
        }
        // Past the --close-after count frames are drained unread until the output is out.
        if (client.closing) continue;

        ++client.frames;
        if (transcript_ != nullptr) transcript_->Record(client.session.client, code, payload);
        Receive(client, code, std::move(payload));
        if (options_.closeAfter > 0 && client.frames >= options_.closeAfter) client.closing = true;
    }
}

void Server::Receive(Client& client, unsigned char code, std::string payload) {
    ListingConversation* listing = client.listing.get();
    if (listing != nullptr && code == listing->Codes().ack) {
        const size_t index = listing->AcksReceived();
        if (!listing->Acknowledge(payload) && client.unexpectedLogged++ < 3) {
            ZRLogger::AddLogEntry(logger_, 1, kSource,
                                  "Client %d: acknowledgement %zu of the %s listing was not the "
                                  "one expected",
                                  client.session.client, index, listing->Codes().name);
        }
        if (listing->Sent() && listing->AcksReceived() >= listing->AcksExpected())
            EndListing(client);
        return;
    }
    // Requests wait until the listing is out, so that its frames are not interleaved.
    if (client.Streaming() || !client.deferred.empty() || MustWait(client, code)) {
        client.deferredBytes += payload.size();
        client.deferred.push_back({code, std::move(payload)});
        if (client.deferred.size() > kMaxDeferredFrames || client.deferredBytes > kMaxDeferredBytes)
            Drop(client, "too many requests waiting for a listing");
        return;
    }
    Process(client, code, payload);
}

void Server::Process(Client& client, unsigned char code, const std::string& payload) {
    if (const std::optional<ListingKind> kind = ListingRequested(code)) {
        StartListing(client, *kind, payload);
        return;
    }
    if (IsListingAcknowledgement(code)) {
        ZRLogger::AddLogEntry(logger_, 3, kSource,
                              "Client %d: acknowledgement 0x%02X of no listing, ignored",
                              client.session.client, code);
        return;
    }
    Context context{&farm_, &templates_, &settings_};
    bool known = false;
    std::string note;
    const Replies replies = HandleMessage(context, client.session, code, payload, &known, &note);
    ZRLogger::AddLogEntry(logger_, 3, kSource, "Client %d: code 0x%02X, %zu payload bytes%s",
                          client.session.client, code, payload.size(),
                          known ? "" : " (not served, ignored)");
    if (!note.empty())
        ZRLogger::AddLogEntry(logger_, 2, kSource, "Client %d: code 0x%02X ignored: %s",
                              client.session.client, code, note.c_str());
    if (ChangesFarm(code)) cache_.Clear();
    for (const Reply& reply : replies)
        Queue(client, reply);
}

void Server::StartListing(Client& client, ListingKind kind, const std::string& payload) {
    if (client.listing != nullptr) EndListing(client);
    client.listing =
        std::make_unique<ListingConversation>(kind, payload, cache_, farm_, settings_.lockstep);
    client.unexpectedLogged = 0;
    ZRLogger::AddLogEntry(logger_, 3, kSource, "Client %d: %s listing of %zu records, %s",
                          client.session.client, CodesOf(kind).name, client.listing->RecordCount(),
                          settings_.lockstep ? "lockstep" : "pipelined");
}

void Server::EndListing(Client& client) {
    const ListingConversation& listing = *client.listing;
    if (listing.Kind() == ListingKind::kJobs) wakeWaiting_ = true;
    ZRLogger::AddLogEntry(logger_, 2, kSource,
                          "Client %d: %s listing%s: %zu records, %zu of %zu acknowledgements "
                          "(%zu unexpected)",
                          client.session.client, listing.Codes().name,
                          listing.Sent() ? "" : " cut short", listing.RecordCount(),
                          listing.AcksReceived(), listing.AcksExpected(), listing.AcksUnexpected());
    client.listing.reset();
}

void Server::Pump(Client& client) {
    ListingConversation* listing = client.listing.get();
    if (listing == nullptr || listing->Sent() || listing->WaitingForAck() || client.stream.broken)
        return;
    const uint32_t queued = client.stream.outLength;
    if (queued >= options_.streamTopUp) return;
    client.batch.clear();
    listing->Produce(client.batch, options_.streamTopUp - queued, options_.compress);
    if (!client.batch.empty() && !Append(client, client.batch, listing->Codes().name)) return;
    if (listing->Sent() && listing->AcksReceived() >= listing->AcksExpected()) EndListing(client);
    // Shrinks the batch again after a listing of unusually large records.
    if (client.batch.capacity() > 2 * options_.streamTopUp) std::string().swap(client.batch);
}

// Moves the listing on, then serves the requests that waited for its end, which may start the
// next listing.
void Server::Advance(Client& client) {
    for (;;) {
        Pump(client);
        if (client.stream.broken || client.Streaming() || client.deferred.empty()) return;
        if (MustWait(client, client.deferred.front().code)) return;
        Client::Deferred next = std::move(client.deferred.front());
        client.deferred.pop_front();
        client.deferredBytes -= next.payload.size();
        Process(client, next.code, next.payload);
    }
}

bool Server::MustWait(const Client& client, unsigned char code) const {
    if (code != Code::kJobDelete && code != Code::kNewJob && code != Code::kNewFolder) return false;
    for (const auto& [fd, other] : clients_) {
        const ListingConversation* listing = other->listing.get();
        if (other.get() != &client && listing != nullptr && listing->Kind() == ListingKind::kJobs &&
            other->Streaming())
            return true;
    }
    return false;
}

void Server::WakeWaiting() {
    wakeWaiting_ = false;
    for (auto& [fd, client] : clients_) {
        if (client->deferred.empty() || client->Streaming()) continue;
        Advance(*client);
        if (client->stream.HasToWrite()) client->stream.Write();
        Advance(*client);
    }
}

void Server::Queue(Client& client, const Reply& reply) {
    std::string frame;
    if (!AppendFrame(frame, reply.code, reply.text, options_.compress)) {
        Drop(client, "a reply cannot be framed");
        return;
    }
    Append(client, frame, "reply");
}

bool Server::Append(Client& client, const std::string& frames, const char* what) {
    uint32_t queued = 0;
    if (!AppendToStream(client.stream, frames, queued)) {
        Drop(client, std::string("no room for ") + std::to_string(frames.size()) + " bytes of " +
                         what + " in its output");
        return false;
    }
    uint64_t peak = peakQueued_;
    while (queued > peak && !peakQueued_.compare_exchange_weak(peak, queued)) {
    }
    return true;
}

void Server::Drop(Client& client, const std::string& why) {
    ZRLogger::AddLogEntry(logger_, 1, kSource, "Client %d: %s; dropping the client",
                          client.session.client, why.c_str());
    client.stream.Shutdown();
    client.stream.broken = true;
}

void Server::CloseClient(int fd, const char* why) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    if (it->second->listing != nullptr) EndListing(*it->second);
    ZRLogger::AddLogEntry(logger_, 2, kSource, "Client %d closed: %s", it->second->session.client,
                          why);
    it->second->stream.Close();
    clients_.erase(it);
    if (acceptPaused_ && !stopping_) {
        acceptPaused_ = false;
        ZREventQueue::WatchDescriptor(queue_, listenFd_, false);
    }
}

void Server::CloseAll() {
    while (!clients_.empty())
        CloseClient(clients_.begin()->first, "server stopping");
}

}  // namespace zdsim
