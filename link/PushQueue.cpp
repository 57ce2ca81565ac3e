// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/PushQueue.h"

#include "link/transport/Transport.h"

namespace tavrin {

PushQueue::PushQueue(transport::Transport* transport, int timeoutMs, QObject* parent)
    : QObject(parent)
    , m_transport(transport)
    , m_timeoutMs(timeoutMs) {}

void PushQueue::enqueue(Kind kind, const QUrl& url, const QByteArray& body, quint64 token) {
    if (kind == Kind::Save) {
        // A save right behind a waiting save of the same note, with nothing
        // between them, would save the same text again.
        if (!m_waiting.isEmpty()) {
            const Push& last = m_waiting.constLast();
            if (last.kind == Kind::Save && last.url == url && last.body == body)
                return;
        }
    } else {
        // Look back for a waiting push of the same kind, but never past a save:
        // what was typed before a save must reach the phone before it.
        for (int i = m_waiting.size() - 1; i >= 0; --i) {
            Push& waiting = m_waiting[i];
            if (waiting.kind == Kind::Save)
                break;
            if (waiting.kind == kind && waiting.url == url) {
                waiting.body = body;
                waiting.token = token;
                return;
            }
        }
    }
    m_waiting.append(Push{kind, url, body, token});
    sendNext();
}

void PushQueue::sendNext() {
    if (m_busy || m_waiting.isEmpty())
        return;
    m_busy = true;
    const Push push = m_waiting.takeFirst();
    m_transport->postForm(push.url, push.body, m_timeoutMs, this,
                          [this, kind = push.kind, token = push.token](
                              const transport::Answer& answer) {
                              m_busy = false;
                              emit pushFinished(kind, answer.isOk(), answer.status, token);
                              sendNext();
                          });
}

} // namespace tavrin
