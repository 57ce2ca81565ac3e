#include "update/UpdateChecker.h"

#include "link/Protocol.h"
#include "state/Version.h"
#include "update/MakerSite.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

// What an answer leads to:
//   status 200, `code` the number 1, a note   -> newVersionFound (manual and automatic)
//   status 200, `code` anything else, a msg   -> messageRequested (manual only)
//   status 200, not a JSON object, or no text -> nothing
//   any other status, or no answer at all     -> the network message (manual only)
// No timeout is set: a check that never completes shows nothing.

namespace tavrin {

namespace {

const QString kMessageTitle = QStringLiteral("检查更新");
const QString kNetworkFailureText = QStringLiteral("网络异常，请检查网络是否畅通～");

QString stringOrEmpty(const QJsonValue& value) {
    return value.isString() ? value.toString() : QString();
}

} // namespace

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this)) {}

QUrl UpdateChecker::logoUrl() const {
    return maker::logoUrl();
}

QString UpdateChecker::downloadPage() const {
    return maker::downloadPage();
}

void UpdateChecker::checkUpdate(bool byHand) {
    QNetworkRequest request(maker::checkUpdateUrl(byHand, kVersionCode));
    request.setRawHeader(protocol::kContentTypeName, protocol::kContentTypeValue);
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, byHand] {
        handleAnswer(reply, byHand);
        reply->deleteLater();
    });
}

void UpdateChecker::handleAnswer(QNetworkReply* reply, bool byHand) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // No answer at all (refused, failed handshake, ...) leaves the status 0.
    if (status != 200) {
        if (byHand)
            emit messageRequested(kMessageTitle, kNetworkFailureText);
        return;
    }

    const QString body = protocol::decodeBody(reply->readAll(), reply->rawHeader("Content-Type"));
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject answer = document.object();

    const QJsonValue code = answer.value(QLatin1String("code"));
    if (code.isDouble() && code.toDouble() == 1) {
        const QString note = stringOrEmpty(
            answer.value(QLatin1String("data")).toObject().value(QLatin1String("upgradeNote")));
        if (!note.isEmpty())
            emit newVersionFound(note);
        return;
    }

    if (!byHand)
        return;
    const QString message = stringOrEmpty(answer.value(QLatin1String("msg")));
    if (!message.isEmpty())
        emit messageRequested(kMessageTitle, message);
}

} // namespace tavrin
