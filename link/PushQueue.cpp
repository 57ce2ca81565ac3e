// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/PushQueue.h"

#include "link/transport/Transport.h"

namespace tavrin {

PushQueue::PushQueue(transport::Transport* transport, int timeoutMs, QObject* parent)
    : QObject(parent)
    , m_transport(transport)
    , m_timeoutMs(timeoutMs) {}

void PushQueue::enqueue(Kind kind, const QUrl& url, const QByteArray& body, quint64 token,
                        int extent) {
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
            if (waiting.kind != kind || waiting.url != url)
                continue;
            if (kind == Kind::Content) {
                // The newest text takes the older one's place.
                waiting.body = body;
                waiting.token = token;
                waiting.extent = extent;
                return;
            }
            // A selection is in the newest text queued: it goes after that text.
            m_waiting.removeAt(i);
            break;
        }
    }
    m_waiting.append(Push{kind, url, body, token, extent});
    sendNext();
}

bool PushQueue::canSend(const Push& push) const {
    if (m_textBusy)
        return false;
    switch (push.kind) {
    case Kind::Selection:
        return !m_selectionBusy;
    case Kind::Content:
        return !m_selectionBusy || m_selectionExtent <= push.extent;
    case Kind::Save:
        return true;
    }
    return false;
}

void PushQueue::sendNext() {
    // Strictly in the order queued: the first waiting push, when it may go.
    while (!m_waiting.isEmpty() && canSend(m_waiting.constFirst()))
        send(m_waiting.takeFirst());
}

void PushQueue::send(const Push& push) {
    const bool selection = push.kind == Kind::Selection;
    if (selection) {
        m_selectionBusy = true;
        m_selectionExtent = push.extent;
    } else {
        m_textBusy = true;
    }
    m_transport->postForm(push.url, push.body, m_timeoutMs, this,
                          [this, selection, kind = push.kind, token = push.token](
                              const transport::Answer& answer) {
                              (selection ? m_selectionBusy : m_textBusy) = false;
                              emit pushFinished(kind, answer.isOk(), answer.status, token);
                              sendNext();
                          });
}

} // namespace tavrin
