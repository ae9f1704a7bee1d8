// Fuzzes zdtool's frame reception over a socket pair, and the hashes map it receives.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "Connection.h"
#include "TemplateCache.h"
#include "ZRTemplateManager.h"

using ZRFramework::ZRTemplateManager::zrTemplateHashesMap;
using ZRFramework::ZRTemplateManager::zrTemplateManager;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The socket pair's buffer must take the whole input, or the write would block.
    if (size > 100000) return 0;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
    int buffer = 1 << 20;
    setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof(buffer));
    if (size > 0 && write(pair[1], data, size) != static_cast<ssize_t>(size)) {
        close(pair[0]);
        close(pair[1]);
        return 0;
    }
    close(pair[1]);

    s = pair[0];
    allocateBuffers();
    static zrTemplateManager* manager = zrTemplateManager::AllocateClass();
    while (getNextMsg()) {
        if (static_cast<unsigned char>(message[0]) != zdCode::kHashes) continue;
        zrTemplateHashesMap received, changed, removed;
        manager->UnmarshallHashesMap(&received, rcvargs);
        manager->CalculateHashesDiffs(&received, &changed, &removed);
        for (auto& [uid, record] : changed) isSafeCacheFileName(record->GetFileName());
        manager->DeleteHashesMap(&received);
        manager->DeleteHashesMap(&changed);
        manager->DeleteHashesMap(&removed);
    }
    closeConnection();
    releaseBuffers();
    return 0;
}
