// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An HTTPS server on a loopback address for tests: it makes its own certificate at start,
// answers each path with what the test set for it and records every request it receives.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QString>

#include <memory>

namespace tavrin::test {

struct RecordedRequest {
    QString method;
    QString path;                                 // decoded, without the query
    QString query;                                // as on the wire, without the "?"
    QList<QPair<QByteArray, QByteArray>> headers; // names with the case they were sent in
    QByteArray body;

    // The value of the first header with this name, compared without case; empty when absent.
    QByteArray header(const QByteArray& name) const;
};

struct TestAnswer {
    int status = 200;
    QByteArray contentType = "application/json;charset=utf-8"; // empty: no Content-Type
    QByteArray body;
    int delayMs = 0; // the answer is held back this long
    // No answer at all, the connection kept open, until releaseSilent() or stop().
    bool silent = false;
};

class HttpsTestServer {
public:
    // address: a loopback address such as "127.0.0.50"; the certificate names it.
    explicit HttpsTestServer(const QString& address);
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    // Listens on the port, or on a free one for 0. False when the port cannot be bound.
    bool start(quint16 port = 0);
    void stop();

    QString address() const;
    quint16 port() const;
    QString hostAndPort() const; // "address:port"

    // The certificate authority that signed the server's certificate.
    QSslCertificate caCertificate() const;
    // Makes every later TLS connection of this process accept the server (test code only).
    void trustInDefaultConfiguration() const;

    // Paths without an answer get 404 with an empty body.
    void setAnswer(const QString& path, const TestAnswer& answer);
    void setJsonAnswer(const QString& path, const QByteArray& json, int status = 200);
    void clearAnswers();
    // Silent requests waiting now go on and are answered as set for their path.
    void releaseSilent();
    int silentCount() const;

    QList<RecordedRequest> requests() const;
    int requestCount() const;
    void clearRequests();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tavrin::test
