#include "link/PushQueue.h"

#include "link/Protocol.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace tavrin {

PushQueue::PushQueue(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent)
    , m_network(network) {}

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
    if (m_inFlight || m_waiting.isEmpty())
        return;
    m_current = m_waiting.takeFirst();
    QNetworkRequest request(m_current.url);
    request.setRawHeader(protocol::kContentTypeName, protocol::kContentTypeValue);
    request.setTransferTimeout(kTimeoutMs);
    m_inFlight = m_network->post(request, m_current.body);
    connect(m_inFlight, &QNetworkReply::finished, this, &PushQueue::onFinished);
}

void PushQueue::onFinished() {
    QNetworkReply* reply = m_inFlight;
    m_inFlight = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    const Push done = m_current;
    emit pushFinished(done.kind, status == 200, done.token);
    sendNext();
}

} // namespace tavrin
