#include "link/transport/Transport.h"

#include "link/transport/AnswerReader.h"

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

void deliverWhenRead(QNetworkReply* reply, const Limits& limits, qint64 uploadBytes,
                     QObject* context, Transport::Done done) {
    new AnswerReader(reply, limits, uploadBytes,
                     [guard = QPointer<QObject>(context), contextGiven = context != nullptr,
                      done = std::move(done)](const Answer& answer) {
                         if (contextGiven && !guard)
                             return;
                         done(answer);
                     });
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
    , m_network(new QNetworkAccessManager(this)) {
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void HttpTransport::get(const QUrl& url, const Limits& limits, QObject* context, Done done) {
    deliverWhenRead(m_network->get(requestFor(url)), limits, 0, context, std::move(done));
}

void HttpTransport::postForm(const QUrl& url, const QByteArray& body, const Limits& limits,
                             QObject* context, Done done) {
    deliverWhenRead(m_network->post(requestFor(url), body), limits, body.size(), context,
                    std::move(done));
}

} // namespace tavrin::transport
