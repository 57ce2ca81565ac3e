// SPDX-License-Identifier: GPL-3.0-or-later
#include "TakenConnection.h"

#include "Wire.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace tavrin::sim {
namespace {

constexpr int kCloseGraceMs = 1000;

using Clock = std::chrono::steady_clock;

// Rounded up: a pause must never come out shorter than asked.
int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

std::unique_ptr<TakenConnection> TakenConnection::takeOver(int fd, int stopFd) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        return nullptr;
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || ::dup3(null, fd, O_CLOEXEC) < 0) {
        if (null >= 0) {
            ::close(null);
        }
        ::close(own);
        return nullptr;
    }
    ::close(null);
    // Each piece of a dripped answer must leave at once, not wait for the previous one's ACK.
    const int yes = 1;
    ::setsockopt(own, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return std::unique_ptr<TakenConnection>(new TakenConnection(own, stopFd));
}

TakenConnection::TakenConnection(int fd, int stopFd)
    : m_fd(fd)
    , m_stopFd(stopFd) {}

TakenConnection::~TakenConnection() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

TakenConnection::Result TakenConnection::wait(short events, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd fds[2] = {{m_fd, static_cast<short>(events | POLLIN | POLLRDHUP), 0},
                         {m_stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs < 0 ? -1 : remainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return stopSignalled() ? Result::Stopped : Result::ClientClosed;
        }
        // The stop comes first: stop() also shuts the connections down, which looks like a
        // close by the client.
        if (fds[1].revents & POLLIN) {
            return Result::Stopped;
        }
        if (ready == 0) {
            if (Clock::now() < deadline) {
                continue; // poll may wake a little early
            }
            return Result::Done;
        }
        const short got = fds[0].revents;
        if (got & (POLLERR | POLLHUP | POLLNVAL)) {
            return stopSignalled() ? Result::Stopped : Result::ClientClosed;
        }
        if (got & (POLLIN | POLLRDHUP)) {
            // Whatever the client sends now is not read as a request: drop it, and see
            // whether it closed.
            char scratch[4096];
            for (;;) {
                const ssize_t length = ::recv(m_fd, scratch, sizeof scratch, MSG_DONTWAIT);
                if (length > 0) {
                    continue;
                }
                if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    break;
                }
                if (length < 0 && errno == EINTR) {
                    continue;
                }
                return stopSignalled() ? Result::Stopped : Result::ClientClosed;
            }
        }
        if (got & events) {
            return Result::Done;
        }
    }
}

bool TakenConnection::stopSignalled() const {
    pollfd stop{m_stopFd, POLLIN, 0};
    return ::poll(&stop, 1, 0) == 1 && (stop.revents & POLLIN);
}

TakenConnection::Result TakenConnection::write(const QByteArray& bytes, qint64* written) {
    // A zero-time look first, so that a client reading as fast as the server writes cannot
    // keep an endless answer going past the stop.
    if (const Result state = wait(0, 0); state != Result::Done) {
        return state;
    }
    qint64 at = 0;
    while (at < bytes.size()) {
        const ssize_t sent =
            ::send(m_fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at),
                   MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            at += sent;
            *written += sent;
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Result state = wait(POLLOUT, -1); state != Result::Done) {
                return state;
            }
            continue;
        }
        // EPIPE, ECONNRESET: the client is gone, or stop() shut the connection down.
        return stopSignalled() ? Result::Stopped : Result::ClientClosed;
    }
    return Result::Done;
}

TakenConnection::Result TakenConnection::pause(int ms) {
    return wait(0, ms < 0 ? 0 : ms);
}

TakenConnection::Result TakenConnection::waitForClose() {
    for (;;) {
        if (const Result state = wait(0, -1); state != Result::Done) {
            return state;
        }
    }
}

void TakenConnection::close() {
    if (m_fd < 0) {
        return;
    }
    ::shutdown(m_fd, SHUT_WR);
    wait(0, kCloseGraceMs);
    ::close(m_fd);
    m_fd = -1;
}

void TakenConnection::reset() {
    if (m_fd < 0) {
        return;
    }
    const linger abortive{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(m_fd);
    m_fd = -1;
}

Served::Ending writeReply(TakenConnection& connection, const Reply& reply, qint64* written,
                          const std::function<void(bool stalling)>& stalling) {
    using Result = TakenConnection::Result;
    bool anyWritten = false;
    const auto send = [&](const QByteArray& bytes) {
        if (reply.pieceBytes <= 0) {
            anyWritten = true;
            return connection.write(bytes, written);
        }
        for (int at = 0; at < bytes.size(); at += reply.pieceBytes) {
            if (anyWritten) {
                if (const Result state = connection.pause(reply.pieceIntervalMs);
                    state != Result::Done) {
                    return state;
                }
            }
            anyWritten = true;
            if (const Result state = connection.write(bytes.mid(at, reply.pieceBytes), written);
                state != Result::Done) {
                return state;
            }
        }
        return Result::Done;
    };

    QByteArray answer;
    if (reply.rawAnswer) {
        answer = reply.cutAfter >= 0 ? reply.rawAnswer->left(static_cast<int>(reply.cutAfter))
                                     : *reply.rawAnswer;
    } else {
        const QByteArray body = wire::framedBody(reply);
        answer = wire::head(reply) +
                 (reply.cutAfter >= 0 ? body.left(static_cast<int>(reply.cutAfter)) : body);
    }
    Result state = send(answer);
    const bool endless =
        !reply.rawAnswer && reply.chunked && reply.repeatChunkEveryMs >= 0 && reply.cutAfter < 0;
    if (endless) {
        const QByteArray again = wire::chunk(reply.body);
        while (state == Result::Done) {
            state = connection.pause(reply.repeatChunkEveryMs);
            if (state == Result::Done) {
                state = send(again);
            }
        }
    }

    if (state != Result::Done) {
        connection.close();
        return state == Result::Stopped ? Served::Ending::Stopped : Served::Ending::ClosedByClient;
    }
    switch (reply.ending) {
    case Reply::Ending::Reset:
        connection.reset();
        return Served::Ending::Reset;
    case Reply::Ending::Stall: {
        stalling(true);
        state = connection.waitForClose();
        stalling(false);
        connection.close();
        return state == Result::Stopped ? Served::Ending::Stopped : Served::Ending::ClosedByClient;
    }
    case Reply::Ending::Close:
        break;
    }
    connection.close();
    return Served::Ending::Closed;
}

} // namespace tavrin::sim
