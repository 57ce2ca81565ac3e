// SPDX-License-Identifier: GPL-3.0-or-later
#include "Sockets.h"

#include <dirent.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace tavrin::sim::sockets {
namespace {

Endpoint endpointOf(const sockaddr_storage& address, socklen_t length) {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return {};
    }
    return {QString::fromLatin1(host), std::atoi(service)};
}

Endpoint peerEndpoint(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return endpointOf(address, length);
}

bool isStreamSocket(int fd) {
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

// Calls visit for every open file descriptor of the process.
void forEachDescriptor(const std::function<void(int)>& visit) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) {
        const long limit = sysconf(_SC_OPEN_MAX);
        for (int fd = 0; fd < (limit > 0 && limit < 65536 ? limit : 4096); ++fd) {
            visit(fd);
        }
        return;
    }
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && fd != own) {
            visit(static_cast<int>(fd));
        }
    }
    closedir(dir);
}

} // namespace

Endpoint localEndpoint(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return endpointOf(address, length);
}

int connectionDescriptor(const Endpoint& local, const Endpoint& peer) {
    int found = -1;
    forEachDescriptor([&](int fd) {
        if (found < 0 && isStreamSocket(fd) && localEndpoint(fd) == local &&
            peerEndpoint(fd) == peer) {
            found = fd;
        }
    });
    return found;
}

bool shutdownConnection(const Endpoint& local, const Endpoint& peer) {
    const int fd = connectionDescriptor(local, peer);
    return fd >= 0 && ::shutdown(fd, SHUT_RDWR) == 0;
}

std::vector<int> acceptedConnections(const Endpoint& local) {
    std::vector<int> found;
    forEachDescriptor([&](int fd) {
        if (isStreamSocket(fd) && localEndpoint(fd) == local && peerEndpoint(fd).port >= 0) {
            found.push_back(fd);
        }
    });
    return found;
}

int shutdownAcceptedConnections(const Endpoint& local) {
    int count = 0;
    for (const int fd : acceptedConnections(local)) {
        if (::shutdown(fd, SHUT_RDWR) == 0) {
            ++count;
        }
    }
    return count;
}

} // namespace tavrin::sim::sockets
