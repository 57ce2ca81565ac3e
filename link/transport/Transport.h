// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one road to HTTP servers: a GET of a resource or a POST of a form, each
// with a deadline for the whole answer and a limit on its size, answered once
// with the status, the body and what went wrong. The header, the status, the
// deadlines and the limits are handled here and nowhere else.

#include "link/transport/Charset.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;

namespace tavrin::transport {
Q_NAMESPACE

class CurlClient;

// Sent with every request, GET or POST.
inline constexpr char kContentTypeName[] = "Content-type";
inline constexpr char kContentTypeValue[] = "application/x-www-form-urlencoded";

// What kept an answer from being a whole, good HTTP answer. An answer with an
// error status (404, 500...) that came whole has no failure: its status says it.
enum class Failure {
    None,
    NoAnswer,    // refused, reset or closed before a status line; TLS failed; cancelled
    Timeout,     // the whole answer did not come within the deadline
    TooLarge,    // the body (inflated, when compressed) grew beyond the limit
    Truncated,   // it began but broke off: fewer bytes than Content-Length, a reset or
                 // close mid-body, a chunked or compressed body without its end
    Redirected,  // a 3xx answer: no redirect is ever followed
    BadEncoding, // a Content-Encoding other than gzip or deflate, or a corrupt compressed body
};
Q_ENUM_NS(Failure)

inline constexpr int kNoTimeout = 0;
// Enough for any short JSON answer; callers that fetch more say so.
inline constexpr qint64 kDefaultMaxBytes = 64 * 1024;

struct Limits {
    // Implicit from a bare timeout, which keeps the default size limit.
    Limits(int timeoutMs = kNoTimeout, qint64 maxBytes = kDefaultMaxBytes)
        : timeoutMs(timeoutMs)
        , maxBytes(maxBytes) {}

    // From the moment the request is made (waiting for a connection included)
    // to the last byte of the answer; never restarted by bytes arriving. A POST
    // gets one more millisecond for every KiB of its body, so that a large
    // upload over a slow network is not cut. kNoTimeout: no deadline.
    int timeoutMs;
    // The body as delivered (inflated, when compressed): one byte more and the
    // request is aborted with Failure::TooLarge.
    qint64 maxBytes;
};

struct Answer {
    int status = 0; // the HTTP status; 0 when no status line came
    Failure failure = Failure::None;
    QByteArray body;        // empty unless the answer came whole; inflated when compressed
    QByteArray contentType; // the Content-Type header as received

    bool isOk() const { return status == 200 && failure == Failure::None; }
    // The body decoded by its byte order mark or charset (see decodeBody);
    // nullopt, with the reason in *problem, when it cannot be decoded exactly.
    std::optional<QString> decodedText(DecodeProblem* problem = nullptr) const;
    // decodedText(), or an empty text when it cannot be decoded: never a guess.
    QString text() const;
};

class Transport : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const Answer&)>;
    static constexpr int kNoTimeout = transport::kNoTimeout;

    using QObject::QObject;

    // Each request is answered exactly once, later, from the event loop,
    // unless `context` is gone by then.
    virtual void get(const QUrl& url, const Limits& limits, QObject* context, Done done) = 0;
    virtual void postForm(const QUrl& url, const QByteArray& body, const Limits& limits,
                          QObject* context, Done done) = 0;
};

// The real thing. Plain HTTP (the phone) goes through libcurl (CurlClient),
// on connections kept open and used again, which sees every way an answer
// breaks off; HTTPS (the maker's site) over QNetworkAccessManager. Neither
// follows a redirect, and both inflate compressed answers themselves, within
// the limit.
class HttpTransport : public Transport {
    Q_OBJECT

public:
    explicit HttpTransport(QObject* parent = nullptr);

    void get(const QUrl& url, const Limits& limits, QObject* context, Done done) override;
    void postForm(const QUrl& url, const QByteArray& body, const Limits& limits, QObject* context,
                  Done done) override;

private:
    static Done guarded(QObject* context, Done done);

    QNetworkAccessManager* m_network;
    CurlClient* m_curl;
};

} // namespace tavrin::transport
