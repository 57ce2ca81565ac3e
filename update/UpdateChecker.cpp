#include "update/UpdateChecker.h"

#include "link/transport/Transport.h"
#include "state/Version.h"
#include "update/MakerSite.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcUpdate, "tavrin.update", QtInfoMsg)

// What an answer leads to:
//   status 200, `code` the number 1, a note   -> newVersionFound (manual and automatic)
//   status 200, `code` anything else, a msg   -> messageRequested (manual only)
//   status 200, not a JSON object, or no text -> nothing
//   any other status, or no answer at all     -> the network message (manual only)
// No timeout is set: a check that never completes shows nothing.

namespace tavrin {

namespace {

QString stringOrEmpty(const QJsonValue& value) {
    return value.isString() ? value.toString() : QString();
}

} // namespace

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
    , m_transport(new transport::HttpTransport(this)) {}

QUrl UpdateChecker::logoUrl() const {
    return maker::logoUrl();
}

QString UpdateChecker::downloadPage() const {
    return maker::downloadPage();
}

bool UpdateChecker::available() const {
    return maker::isContacted();
}

void UpdateChecker::checkUpdate(bool byHand) {
    if (!available()) {
        qCDebug(lcUpdate) << "not checking: built without the update check";
        return;
    }
    const QUrl url = maker::checkUpdateUrl(byHand, kVersionCode);
    qCDebug(lcUpdate) << "checking" << url;
    m_transport->get(url, transport::Transport::kNoTimeout, this,
                     [this, byHand](const transport::Answer& answer) {
                         handleAnswer(answer, byHand);
                     });
}

QString UpdateChecker::messageTitle() {
    return tr("检查更新");
}

void UpdateChecker::handleAnswer(const transport::Answer& reply, bool byHand) {
    qCDebug(lcUpdate) << "answer" << reply.status;
    // No answer at all (refused, failed handshake, ...) leaves the status 0.
    if (!reply.isOk()) {
        if (byHand)
            emit messageRequested(messageTitle(), tr("网络异常，请检查网络是否畅通～"));
        return;
    }

    const QJsonDocument document = QJsonDocument::fromJson(reply.text().toUtf8());
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
        emit messageRequested(messageTitle(), message);
}

} // namespace tavrin
