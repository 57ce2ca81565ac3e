#pragma once

// The one road to HTTP servers: a GET of a resource or a POST of a form, each
// with a timeout, answered once with the status and the body. The header, the
// status and the timeouts are handled here and nowhere else.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;

namespace tavrin::transport {

// Sent with every request, GET or POST.
inline constexpr char kContentTypeName[] = "Content-type";
inline constexpr char kContentTypeValue[] = "application/x-www-form-urlencoded";

struct Answer {
    int status = 0; // the HTTP status; 0 when no answer came (refused, reset, timed out)
    QByteArray body;
    QByteArray contentType; // the Content-Type header as received

    bool isOk() const { return status == 200; }
    // The body decoded by the charset its Content-Type names (UTF-8 by default).
    QString text() const;
};

// Decodes a body by the charset a Content-Type header names, UTF-8 when it
// names none or one that is unknown.
QString decodeBody(const QByteArray& body, const QByteArray& contentTypeHeader);

class Transport : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const Answer&)>;
    static constexpr int kNoTimeout = 0;

    using QObject::QObject;

    // Each request is answered exactly once, later, from the event loop,
    // unless `context` is gone by then. `timeoutMs` also counts the time a
    // request waits for a free connection.
    virtual void get(const QUrl& url, int timeoutMs, QObject* context, Done done) = 0;
    virtual void postForm(const QUrl& url, const QByteArray& body, int timeoutMs,
                          QObject* context, Done done) = 0;
};

// The real thing, over QNetworkAccessManager.
class HttpTransport : public Transport {
    Q_OBJECT

public:
    explicit HttpTransport(QObject* parent = nullptr);

    void get(const QUrl& url, int timeoutMs, QObject* context, Done done) override;
    void postForm(const QUrl& url, const QByteArray& body, int timeoutMs, QObject* context,
                  Done done) override;

private:
    QNetworkAccessManager* m_network;
};

} // namespace tavrin::transport
