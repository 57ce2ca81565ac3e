// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A connection taken away from cpp-httplib inside a handler, so that the note server can write
// answers cpp-httplib cannot: a few bytes at a time, cut short, with a lying length, endless,
// followed by silence or by an RST.
//
// Taking over: the handler's socket is duplicated onto a descriptor of our own, and the
// descriptor cpp-httplib holds is pointed at /dev/null (dup3). cpp-httplib then writes its
// own answer to /dev/null and closes that, which touches the connection no more, while the
// connection lives on the duplicate until we close it. Every wait here also watches the
// server's stop event and the client's close, so no answer outlives the server's stop().

#include "sim/NoteServer.h"

#include <QByteArray>

#include <functional>
#include <memory>

namespace tavrin::sim {

class TakenConnection {
public:
    enum class Result { Done, ClientClosed, Stopped };

    // Takes the connected socket fd away from cpp-httplib (see above); stopFd is the server's
    // stop event, readable once the server stops. Null when it cannot.
    static std::unique_ptr<TakenConnection> takeOver(int fd, int stopFd);
    ~TakenConnection(); // closes, if not closed yet
    TakenConnection(const TakenConnection&) = delete;
    TakenConnection& operator=(const TakenConnection&) = delete;

    // Writes all the bytes, adding what went out to *written.
    Result write(const QByteArray& bytes, qint64* written);
    // Waits ms; earlier when the client closes or the server stops.
    Result pause(int ms);
    // Waits until the client closes or the server stops (ClientClosed or Stopped).
    Result waitForClose();
    // Ends the connection cleanly: a FIN, then a short wait for the client's close so that
    // what the client still sends does not turn the close into an RST.
    void close();
    // Ends the connection with an RST: SO_LINGER with a zero timeout, then close.
    void reset();

private:
    TakenConnection(int fd, int stopFd);
    // Waits for the events on the socket (0 for none), the client's close or the stop, at
    // most timeoutMs (-1: no limit); Done when the events came or the time ran out.
    Result wait(short events, int timeoutMs);
    bool stopSignalled() const;

    int m_fd;
    int m_stopFd;
};

// Writes the reply on the connection as the reply asks (pieces, cut, endless chunks) and ends
// the connection as it asks. stalling(true) and stalling(false) bracket a stall. Returns how
// the connection ended; *written gets the bytes written.
Served::Ending writeReply(TakenConnection& connection, const Reply& reply, qint64* written,
                          const std::function<void(bool stalling)>& stalling);

} // namespace tavrin::sim
