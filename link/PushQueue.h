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

// Sends the pushes of one link to the phone in order.
//
// Requests in flight side by side travel over separate connections, and the
// phone could apply them in either order. So content pushes and saves go one
// at a time, in order: a newer content push replaces a content push still
// waiting, and a save request never overtakes what was queued before it and
// is dropped only when the same save already waits right before it.
// A selection push goes once the content queued before it has been answered
// (its positions are in that text), and one at a time; a newer one replaces
// one still waiting, and goes after the text queued last. A content push or a save does not wait for a selection
// push in flight when that selection fits the new text too: in whichever order
// the phone takes the two, the selection is in range, and the next selection
// push, which follows this content, puts the cursor right. So typing need not
// wait a round trip for each cursor move.
class PushQueue : public QObject {
    Q_OBJECT

public:
    enum class Kind { Content, Selection, Save };
    Q_ENUM(Kind)

    PushQueue(transport::Transport* transport, int timeoutMs, QObject* parent = nullptr);

    void setTransport(transport::Transport* transport) { m_transport = transport; }
    void setTimeout(int timeoutMs) { m_timeoutMs = timeoutMs; }

    // `token` comes back with pushFinished (the link uses it to know which
    // text a finished content push carried). `extent`: the length of the text
    // a content push carries; the larger end of a selection.
    void enqueue(Kind kind, const QUrl& url, const QByteArray& body, quint64 token = 0,
                 int extent = 0);

    int waitingCount() const { return m_waiting.size(); }
    // Anything in flight.
    bool isBusy() const { return m_textBusy || m_selectionBusy; }

signals:
    // `status`: the HTTP status of the answer, 0 when none came.
    void pushFinished(tavrin::PushQueue::Kind kind, bool ok, int status, quint64 token);

private:
    struct Push {
        Kind kind;
        QUrl url;
        QByteArray body;
        quint64 token;
        int extent;
    };

    bool canSend(const Push& push) const;
    void sendNext();
    void send(const Push& push);

    transport::Transport* m_transport;
    int m_timeoutMs;
    QList<Push> m_waiting;
    bool m_textBusy = false; // a content push or a save in flight
    bool m_selectionBusy = false;
    int m_selectionExtent = 0; // of the selection push in flight
};

} // namespace tavrin
