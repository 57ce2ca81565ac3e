// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Plain-HTTP requests on libcurl's multi interface, driven by the Qt event loop: a socket
// notifier for each socket curl watches and one timer for curl's timeouts. Connections stay
// open and are used again, so a push costs one round trip on a warm connection; curl sends a
// request again on a fresh connection when a kept one turns out to have been closed by the
// server. Never through a proxy, whatever the environment says.
//
// curl frames the answer (Content-Length, chunks, the close) and sees every way it breaks
// off; its body is inflated here, by BodySink, within the limit: curl's own inflating takes a
// compressed stream that ends early for a whole one, which would pass a cut note as the note.

#include "link/transport/Transport.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <curl/curl.h>

#include <map>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace tavrin::transport {

class CurlClient : public QObject {
    Q_OBJECT

public:
    // The connections kept open between requests, to the phone and any other host.
    static constexpr long kKeptConnections = 4;

    explicit CurlClient(QObject* parent = nullptr);
    // Ends every request still under way without a call.
    ~CurlClient() override;

    // A GET, or a POST of `form` (sent as it is, without a copy) when there is one. `done` is
    // called once, later, from the event loop, unless this client is gone by then.
    void send(const QUrl& url, const std::optional<QByteArray>& form, const Limits& limits,
              Transport::Done done);

private:
    struct Request;
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* client, void* unused);
    static int onTimer(CURLM* multi, long timeoutMs, void* client);
    void watch(curl_socket_t socket, int what);
    void setWatched(QSocketNotifier*& notifier, curl_socket_t socket, bool reading, bool on);
    void act(curl_socket_t socket, int events);
    void deliverFinished();
    void startNow();
    void failLater(Failure failure, Transport::Done done);

    CURLM* m_multi = nullptr;
    curl_slist* m_headers = nullptr;
    QTimer* m_timer = nullptr;
    int m_delivering = 0;       // depth of deliverFinished() calls under way
    bool m_startWanted = false; // a request was added while delivering
    bool m_deliveryQueued = false;
    std::map<curl_socket_t, Watch> m_watches;
    std::map<CURL*, std::unique_ptr<Request>> m_requests;
};

} // namespace tavrin::transport
