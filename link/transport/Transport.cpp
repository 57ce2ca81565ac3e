#include "link/transport/Transport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTextCodec>

namespace tavrin::transport {

namespace {

// The value of the `charset` parameter of a Content-Type header, unquoted.
QByteArray charsetParameter(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (int i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts.at(i).trimmed();
        const int equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

QNetworkRequest requestFor(const QUrl& url, int timeoutMs) {
    QNetworkRequest request(url);
    request.setRawHeader(kContentTypeName, kContentTypeValue);
    if (timeoutMs != Transport::kNoTimeout)
        request.setTransferTimeout(timeoutMs);
    return request;
}

void deliverWhenFinished(QNetworkReply* reply, QObject* context, Transport::Done done) {
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, guard = QPointer<QObject>(context), done = std::move(done)] {
                         reply->deleteLater();
                         if (!guard)
                             return;
                         Answer answer;
                         answer.status =
                             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                         answer.body = reply->readAll();
                         answer.contentType = reply->rawHeader("Content-Type");
                         done(answer);
                     });
}

} // namespace

QString Answer::text() const {
    return decodeBody(body, contentType);
}

QString decodeBody(const QByteArray& body, const QByteArray& contentTypeHeader) {
    const QByteArray charset = charsetParameter(contentTypeHeader);
    QTextCodec* codec = charset.isEmpty() ? nullptr : QTextCodec::codecForName(charset);
    if (!codec)
        codec = QTextCodec::codecForName("UTF-8");
    return codec->toUnicode(body);
}

HttpTransport::HttpTransport(QObject* parent)
    : Transport(parent)
    , m_network(new QNetworkAccessManager(this)) {}

void HttpTransport::get(const QUrl& url, int timeoutMs, QObject* context, Done done) {
    deliverWhenFinished(m_network->get(requestFor(url, timeoutMs)), context, std::move(done));
}

void HttpTransport::postForm(const QUrl& url, const QByteArray& body, int timeoutMs,
                             QObject* context, Done done) {
    deliverWhenFinished(m_network->post(requestFor(url, timeoutMs), body), context,
                        std::move(done));
}

} // namespace tavrin::transport
