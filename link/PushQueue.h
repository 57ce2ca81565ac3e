// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUrl>

namespace tavrin {

namespace transport {
class Transport;
}

// Sends the pushes of one link to the phone strictly in order, one at a time.
//
// Several requests in flight would travel over several connections, and the
// phone could then apply an older text after a newer one. So: a newer content
// push replaces a content push still waiting (likewise a selection push), and
// a save request never overtakes what was queued before it and is dropped only
// when the same save already waits right before it.
class PushQueue : public QObject {
    Q_OBJECT

public:
    enum class Kind { Content, Selection, Save };
    Q_ENUM(Kind)

    PushQueue(transport::Transport* transport, int timeoutMs, QObject* parent = nullptr);

    void setTransport(transport::Transport* transport) { m_transport = transport; }
    void setTimeout(int timeoutMs) { m_timeoutMs = timeoutMs; }

    // `token` comes back with pushFinished (the link uses it to know which
    // text a finished content push carried).
    void enqueue(Kind kind, const QUrl& url, const QByteArray& body, quint64 token = 0);

    int waitingCount() const { return m_waiting.size(); }
    bool isBusy() const { return m_busy; }

signals:
    // `status`: the HTTP status of the answer, 0 when none came.
    void pushFinished(tavrin::PushQueue::Kind kind, bool ok, int status, quint64 token);

private:
    struct Push {
        Kind kind;
        QUrl url;
        QByteArray body;
        quint64 token;
    };

    void sendNext();

    transport::Transport* m_transport;
    int m_timeoutMs;
    QList<Push> m_waiting;
    bool m_busy = false;
};

} // namespace tavrin
