// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdateChecker.h"

#include "link/transport/Transport.h"
#include "state/Version.h"
#include "update/MakerSite.h"
#include "update/UpdateAnswer.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcUpdate, "tavrin.update", QtInfoMsg)

// What an answer leads to:
//   status 200, `code` the number 1, a note   -> newVersionFound (manual and automatic)
//   status 200, `code` anything else, a msg   -> messageRequested (manual only)
//   status 200, not a JSON object, no text, or
//   a body that cannot be decoded              -> nothing
//   any other status, no answer at all, no whole
//   answer within the deadline, a larger one   -> the network message (manual only)

namespace tavrin {

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
    m_transport->get(
        url, {m_timeoutMs, update::kMaxAnswerBytes}, this,
        [this, byHand](const transport::Answer& answer) { handleAnswer(answer, byHand); });
}

QString UpdateChecker::messageTitle() {
    return tr("检查更新");
}

void UpdateChecker::handleAnswer(const transport::Answer& reply, bool byHand) {
    qCDebug(lcUpdate) << "answer" << reply.status << reply.failure;
    if (!reply.isOk()) {
        if (byHand)
            emit messageRequested(messageTitle(), tr("网络异常，请检查网络是否畅通～"));
        return;
    }
    const update::UpdateAnswer answer = update::readUpdateAnswer(reply.text());
    switch (answer.kind) {
    case update::UpdateAnswer::Kind::NewVersion:
        emit newVersionFound(answer.text);
        break;
    case update::UpdateAnswer::Kind::Message:
        if (byHand)
            emit messageRequested(messageTitle(), answer.text);
        break;
    case update::UpdateAnswer::Kind::Nothing:
        break;
    }
}

} // namespace tavrin
