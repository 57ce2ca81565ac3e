// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Socket chores that cpp-httplib does not offer: finding the socket of a connection that a
// handler is serving, to end it without an answer or take it over, and ending every connection
// of a listener.

#include <QString>

#include <vector>

namespace tavrin::sim::sockets {

struct Endpoint {
    QString ip; // numeric, as getnameinfo writes it
    int port = -1;
    bool operator==(const Endpoint& other) const { return ip == other.ip && port == other.port; }
};

// The local address of a bound socket; port -1 when the socket has none.
Endpoint localEndpoint(int fd);

// The descriptor of the TCP socket of this process whose local and peer ends are these; -1 when
// there is none. Nothing is changed: the owner still has it.
int connectionDescriptor(const Endpoint& local, const Endpoint& peer);

// Shuts down (both directions) the TCP socket of this process whose local and peer ends are
// these. The owner still closes it. False when no such socket was found.
bool shutdownConnection(const Endpoint& local, const Endpoint& peer);

// The descriptors of every connected TCP socket of this process whose local end is this one,
// that is every connection accepted by the listener bound there. Nothing is changed.
std::vector<int> acceptedConnections(const Endpoint& local);

// Shuts down every connected TCP socket of this process whose local end is this one, that is
// every connection accepted by the listener bound there. Returns how many.
int shutdownAcceptedConnections(const Endpoint& local);

} // namespace tavrin::sim::sockets
