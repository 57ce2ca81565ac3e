// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/Transport.h"

#include "link/transport/AnswerReader.h"
#include "link/transport/CurlClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace tavrin::transport {

namespace {

QNetworkRequest requestFor(const QUrl& url) {
    QNetworkRequest request(url);
    request.setRawHeader(kContentTypeName, kContentTypeValue);
    prepareRequest(request);
    return request;
}

bool isPlainHttp(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || !url.isValid();
}

void deliverWhenRead(QNetworkReply* reply, const Limits& limits, qint64 uploadBytes,
                     Transport::Done done) {
    new AnswerReader(reply, limits, uploadBytes, std::move(done));
}

} // namespace

std::optional<QString> Answer::decodedText(DecodeProblem* problem) const {
    return decodeBody(body, contentType, problem);
}

QString Answer::text() const {
    return decodedText().value_or(QString());
}

HttpTransport::HttpTransport(QObject* parent)
    : Transport(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_curl(new CurlClient(this)) {
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

Transport::Done HttpTransport::guarded(QObject* context, Done done) {
    return [guard = QPointer<QObject>(context), contextGiven = context != nullptr,
            done = std::move(done)](const Answer& answer) {
        if (contextGiven && !guard)
            return;
        done(answer);
    };
}

void HttpTransport::get(const QUrl& url, const Limits& limits, QObject* context, Done done) {
    if (isPlainHttp(url)) {
        m_curl->send(url, std::nullopt, limits, guarded(context, std::move(done)));
        return;
    }
    deliverWhenRead(m_network->get(requestFor(url)), limits, 0, guarded(context, std::move(done)));
}

void HttpTransport::postForm(const QUrl& url, const QByteArray& body, const Limits& limits,
                             QObject* context, Done done) {
    if (isPlainHttp(url)) {
        m_curl->send(url, body, limits, guarded(context, std::move(done)));
        return;
    }
    deliverWhenRead(m_network->post(requestFor(url), body), limits, body.size(),
                    guarded(context, std::move(done)));
}

} // namespace tavrin::transport
