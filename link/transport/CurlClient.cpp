// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/CurlClient.h"

#include "link/transport/BodySink.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QScopeGuard>
#include <QTimer>

#include <climits>

namespace tavrin::transport {

namespace {

// The extra deadline a POST gets: one millisecond for every this many bytes of its body.
constexpr qint64 kUploadBytesPerMs = 1024;

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// Gone once the event loop gets to it: a notifier or the timer may be the very object whose
// signal is being handled when the client is deleted from an answer's callback.
void dispose(QObject* object) {
    if (!object)
        return;
    if (auto* notifier = qobject_cast<QSocketNotifier*>(object))
        notifier->setEnabled(false);
    object->deleteLater();
}

} // namespace

// One transfer: what came of its head so far, and the body taken into the sink.
struct CurlClient::Request {
    // What the head of the answer said; begun again at each status line, as an interim
    // answer (100 Continue...) comes before the real one.
    struct Head {
        int status = 0;
        bool done = false; // the status line and every header field came
        QByteArray contentType;
        QByteArray contentEncoding;
        QByteArray transferEncoding;
        qint64 contentLength = -1;
    };

    explicit Request(qint64 maxBytes)
        : maxBytes(maxBytes) {}

    QByteArray form; // the POST's body: curl sends it from here
    Transport::Done done;
    qint64 maxBytes;
    Head head;
    std::unique_ptr<BodySink> sink; // once the head came
    // Set by a callback that stopped the transfer; curl then reports a write error.
    Failure failure = Failure::None;

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        const size_t bytes = size * count;
        return static_cast<Request*>(self)->takeHeaderLine(QByteArray(data, int(bytes))) ? bytes
                                                                                         : 0;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        const size_t bytes = size * count;
        auto* request = static_cast<Request*>(self);
        if (request->failure != Failure::None || !request->sink)
            return 0;
        request->failure = request->sink->take(QByteArray::fromRawData(data, int(bytes)));
        return request->failure == Failure::None ? bytes : 0;
    }

    static QByteArray joined(const QByteArray& before, const QByteArray& value) {
        return before.isEmpty() ? value : before + ", " + value;
    }

    // False stops the transfer, with the reason in `failure`.
    bool takeHeaderLine(QByteArray line) {
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            head = Head();
            head.status = line.split(' ').value(1).toInt();
            return true;
        }
        if (head.done)
            return true; // the trailer fields of a chunked body: not part of the head
        if (!line.isEmpty()) {
            const int colon = line.indexOf(':');
            if (colon <= 0)
                return true; // nothing we read
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-type")
                head.contentType = joined(head.contentType, value);
            else if (name == "content-encoding")
                head.contentEncoding = joined(head.contentEncoding, value);
            else if (name == "transfer-encoding")
                head.transferEncoding = joined(head.transferEncoding, value.toLower());
            else if (name == "content-length")
                head.contentLength = value.toLongLong();
            return true;
        }
        if (head.status < 200)
            return true; // the end of an interim answer
        head.done = true;
        sink = std::make_unique<BodySink>(maxBytes);
        if (head.status >= 300 && head.status < 400)
            failure = Failure::Redirected; // never followed
        else if (!sink->setContentEncoding(head.contentEncoding) ||
                 (!head.transferEncoding.isEmpty() && head.transferEncoding != "chunked"))
            failure = Failure::BadEncoding;
        else if (!sink->isCompressed() && head.contentLength > maxBytes)
            failure = Failure::TooLarge; // refused before any of it comes
        return failure == Failure::None;
    }

    Answer answer(CURLcode result) {
        Answer answer;
        answer.failure = failure;
        if (answer.failure == Failure::None) {
            if (result == CURLE_OPERATION_TIMEDOUT)
                answer.failure = Failure::Timeout;
            else if (!head.done)
                answer.failure = Failure::NoAnswer; // curl takes a head cut short for a whole one
            else if (result != CURLE_OK)
                answer.failure = Failure::Truncated;
            else
                answer.failure = sink->finish(); // a compressed stream without its end
        }
        // A status counts once the whole head came.
        if (head.done) {
            answer.status = head.status;
            answer.contentType = head.contentType;
        }
        if (answer.failure == Failure::None)
            answer.body = sink->takeBody();
        return answer;
    }
};

CurlClient::CurlClient(QObject* parent)
    : QObject(parent) {
    m_timer = new QTimer;
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });

    if (!curlReady())
        return;
    m_multi = curl_multi_init();
    if (!m_multi)
        return;
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlClient::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlClient::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, kKeptConnections);

    const QByteArray contentType = QByteArray(kContentTypeName) + ": " + kContentTypeValue;
    // An empty value keeps curl from sending its own: no "Expect: 100-continue" wait before
    // a large push, and no "Accept: */*", which nobody reads.
    for (const QByteArray& header : {contentType, QByteArray("Expect:"), QByteArray("Accept:")})
        m_headers = curl_slist_append(m_headers, header.constData());
}

CurlClient::~CurlClient() {
    if (m_multi) {
        for (auto& [easy, request] : m_requests) {
            curl_multi_remove_handle(m_multi, easy);
            curl_easy_cleanup(easy);
        }
        m_requests.clear();
        curl_multi_cleanup(m_multi);
    }
    curl_slist_free_all(m_headers);
    for (auto& [socket, watch] : m_watches) {
        dispose(watch.read);
        dispose(watch.write);
    }
    m_timer->stop();
    dispose(m_timer);
}

void CurlClient::send(const QUrl& url, const std::optional<QByteArray>& form, const Limits& limits,
                      Transport::Done done) {
    if (!m_multi || !url.isValid() || url.scheme() != QLatin1String("http") ||
        url.host().isEmpty()) {
        failLater(Failure::NoAnswer, std::move(done));
        return;
    }
    CURL* easy = curl_easy_init();
    if (!easy) {
        failLater(Failure::NoAnswer, std::move(done));
        return;
    }
    auto request = std::make_unique<Request>(limits.maxBytes);
    request->done = std::move(done);

    curl_easy_setopt(easy, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    // The phone is on the local network: an http_proxy meant for the web must not take it.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers);
    // Asked for, and inflated by the sink.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Request::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Request::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, request.get());
    if (limits.timeoutMs > kNoTimeout) {
        const qint64 uploadMs = form ? form->size() / kUploadBytesPerMs : 0;
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                         long(qMin<qint64>(limits.timeoutMs + uploadMs, LONG_MAX)));
    }
    if (form) {
        // Never null, so that an empty form still says "Content-Length: 0".
        request->form = form->isNull() ? QByteArray("") : *form;
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request->form.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request->form.constData());
    }

    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
        Transport::Done failed = std::move(request->done);
        curl_easy_cleanup(easy);
        failLater(Failure::NoAnswer, std::move(failed));
        return;
    }
    m_requests.emplace(easy, std::move(request));
    startNow();
}

void CurlClient::startNow() {
    // The request leaves now, before the window paints the keystroke that made
    // it: a repaint of a long note can hold the event loop for a long while.
    if (m_delivering > 0) {
        m_startWanted = true; // once the answers being delivered are through
        return;
    }
    int running = 0;
    curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
    // Whatever that finished (a refused connection, say) is answered later.
    if (!m_deliveryQueued) {
        m_deliveryQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_deliveryQueued = false;
                deliverFinished();
            },
            Qt::QueuedConnection);
    }
}

void CurlClient::failLater(Failure failure, Transport::Done done) {
    QMetaObject::invokeMethod(
        this,
        [failure, done = std::move(done)] {
            Answer answer;
            answer.failure = failure;
            done(answer);
        },
        Qt::QueuedConnection);
}

int CurlClient::onSocket(CURL*, curl_socket_t socket, int what, void* client, void*) {
    static_cast<CurlClient*>(client)->watch(socket, what);
    return 0;
}

int CurlClient::onTimer(CURLM*, long timeoutMs, void* client) {
    QTimer* timer = static_cast<CurlClient*>(client)->m_timer;
    if (timeoutMs < 0)
        timer->stop();
    else
        timer->start(int(qMin<long>(timeoutMs, INT_MAX)));
    return 0;
}

void CurlClient::watch(curl_socket_t socket, int what) {
    if (what == CURL_POLL_REMOVE) {
        const auto found = m_watches.find(socket);
        if (found == m_watches.end())
            return;
        dispose(found->second.read);
        dispose(found->second.write);
        m_watches.erase(found);
        return;
    }
    Watch& watch = m_watches[socket];
    setWatched(watch.read, socket, true, what & CURL_POLL_IN);
    setWatched(watch.write, socket, false, what & CURL_POLL_OUT);
}

void CurlClient::setWatched(QSocketNotifier*& notifier, curl_socket_t socket, bool reading,
                            bool on) {
    if (!on) {
        if (notifier)
            notifier->setEnabled(false);
        return;
    }
    if (!notifier) {
        notifier =
            new QSocketNotifier(socket, reading ? QSocketNotifier::Read : QSocketNotifier::Write);
        connect(notifier, &QSocketNotifier::activated, this, [this, socket, reading] {
            act(socket, reading ? CURL_CSELECT_IN : CURL_CSELECT_OUT);
        });
    }
    notifier->setEnabled(true);
}

void CurlClient::act(curl_socket_t socket, int events) {
    if (!m_multi)
        return;
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    deliverFinished();
}

void CurlClient::deliverFinished() {
    const QPointer<CurlClient> alive(this);
    ++m_delivering;
    const auto delivered = qScopeGuard([&] {
        if (!alive)
            return;
        if (--m_delivering == 0 && m_startWanted) {
            m_startWanted = false;
            startNow();
        }
    });
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        const auto found = m_requests.find(easy);
        if (found == m_requests.end())
            continue;
        std::unique_ptr<Request> request = std::move(found->second);
        m_requests.erase(found);
        // The message is gone with the handle; the connection stays for the next request.
        curl_multi_remove_handle(m_multi, easy);
        const Answer answer = request->answer(result);
        curl_easy_cleanup(easy);
        const Transport::Done done = std::move(request->done);
        request.reset();
        // The callback may send more, or delete this client.
        done(answer);
        if (!alive)
            return;
    }
}

} // namespace tavrin::transport
