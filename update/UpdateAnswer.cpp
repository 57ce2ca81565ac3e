// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdateAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace tavrin::update {

namespace {

QString stringOrEmpty(const QJsonValue& value) {
    return value.isString() ? value.toString() : QString();
}

} // namespace

UpdateAnswer readUpdateAnswer(const QString& body) {
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8());
    if (!document.isObject())
        return {};
    const QJsonObject answer = document.object();

    const QJsonValue code = answer.value(QLatin1String("code"));
    if (code.isDouble() && code.toDouble() == 1) {
        const QString note = stringOrEmpty(
            answer.value(QLatin1String("data")).toObject().value(QLatin1String("upgradeNote")));
        if (note.isEmpty())
            return {};
        return {UpdateAnswer::Kind::NewVersion, note};
    }
    const QString message = stringOrEmpty(answer.value(QLatin1String("msg")));
    if (message.isEmpty())
        return {};
    return {UpdateAnswer::Kind::Message, message};
}

} // namespace tavrin::update
