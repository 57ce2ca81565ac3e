// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeTransport.h"

#include <QTimer>
#include <QUrlQuery>

using tavrin::transport::Answer;

QString FakeTransport::Sent::formValue(const QString& key) const {
    QString form = QString::fromUtf8(body);
    form.replace(QLatin1Char('+'), QLatin1Char(' '));
    return QUrlQuery(form).queryItemValue(key, QUrl::FullyDecoded);
}

void FakeTransport::get(const QUrl& url, const tavrin::transport::Limits& limits, QObject* context,
                        Done done) {
    const Sent request{QStringLiteral("GET"), url, {}, limits.timeoutMs, limits.maxBytes};
    m_sent.append(request);
    m_pending.append(Pending{request, context, std::move(done), context != nullptr});
    respondLater();
}

void FakeTransport::postForm(const QUrl& url, const QByteArray& body,
                             const tavrin::transport::Limits& limits, QObject* context, Done done) {
    const Sent request{QStringLiteral("POST"), url, body, limits.timeoutMs, limits.maxBytes};
    m_sent.append(request);
    m_pending.append(Pending{request, context, std::move(done), context != nullptr});
    respondLater();
}

void FakeTransport::respondLater() {
    if (!m_responder)
        return;
    QTimer::singleShot(0, this, [this] {
        for (int i = 0; i < m_pending.size(); ++i) {
            if (const std::optional<Answer> answer = m_responder(m_pending.at(i).request)) {
                take(i, *answer);
                return respondLater(); // the answer may have sent more
            }
        }
    });
}

QList<FakeTransport::Sent> FakeTransport::sent(const QString& path) const {
    QList<Sent> list;
    for (const Sent& request : m_sent)
        if (request.path() == path)
            list.append(request);
    return list;
}

int FakeTransport::pendingCount(const QString& path) const {
    return pending(path).size();
}

QList<FakeTransport::Sent> FakeTransport::pending(const QString& path) const {
    QList<Sent> list;
    for (const Pending& waiting : m_pending)
        if (path.isEmpty() || waiting.request.path() == path)
            list.append(waiting.request);
    return list;
}

int FakeTransport::indexOf(const QString& path, bool newest) const {
    for (int n = 0; n < m_pending.size(); ++n) {
        const int i = newest ? m_pending.size() - 1 - n : n;
        if (path.isEmpty() || m_pending.at(i).request.path() == path)
            return i;
    }
    return -1;
}

void FakeTransport::take(int index, const Answer& answer) {
    Pending waiting = m_pending.takeAt(index);
    // As the real transport: nothing is delivered to a receiver that is gone.
    if (waiting.contextGiven && !waiting.context)
        return;
    waiting.done(answer);
}

bool FakeTransport::answer(const QString& path, const Answer& answer) {
    const int index = indexOf(path, false);
    if (index < 0)
        return false;
    take(index, answer);
    return true;
}

bool FakeTransport::answerNewest(const QString& path, const Answer& answer) {
    const int index = indexOf(path, true);
    if (index < 0)
        return false;
    take(index, answer);
    return true;
}

bool FakeTransport::answerJson(const QString& path, const QByteArray& body, int status) {
    return answer(path, json(body, status));
}

bool FakeTransport::fail(const QString& path, tavrin::transport::Failure failure) {
    Answer none;
    none.failure = failure;
    return answer(path, none);
}

int FakeTransport::answerAll(const QString& path, const Answer& answer) {
    int count = 0;
    for (int index = indexOf(path, false); index >= 0; index = indexOf(path, false)) {
        take(index, answer);
        ++count;
    }
    return count;
}

Answer FakeTransport::json(const QByteArray& body, int status) {
    Answer answer;
    answer.status = status;
    answer.body = body;
    answer.contentType = "application/json; charset=utf-8";
    return answer;
}
