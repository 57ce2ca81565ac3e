// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/AnswerReader.h"

#include "link/transport/BodySink.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace tavrin::transport {

namespace {

// How much Qt may read ahead of us: what sits in its buffer is not yet counted.
constexpr qint64 kReadAheadBytes = 1024 * 1024;
// The extra deadline a POST gets: one millisecond for every this many bytes of its body.
constexpr qint64 kUploadBytesPerMs = 1024;

// The error codes Qt gives to a whole answer with an error status (404, 500...),
// as opposed to a transfer that went wrong.
bool isStatusError(QNetworkReply::NetworkError error) {
    return (error >= QNetworkReply::ContentAccessDenied &&
            error <= QNetworkReply::UnknownContentError &&
            error != QNetworkReply::ContentReSendError) ||
           (error >= QNetworkReply::InternalServerError &&
            error <= QNetworkReply::UnknownServerError);
}

} // namespace

void prepareRequest(QNetworkRequest& request) {
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
}

AnswerReader::AnswerReader(QNetworkReply* reply, const Limits& limits, qint64 uploadBytes,
                           Finished finished)
    : QObject(reply)
    , m_reply(reply)
    , m_limits(limits)
    , m_finished(std::move(finished))
    , m_body(std::make_unique<BodySink>(limits.maxBytes)) {
    reply->setReadBufferSize(kReadAheadBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, &AnswerReader::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &AnswerReader::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &AnswerReader::onFinished);
    if (limits.timeoutMs > kNoTimeout) {
        m_deadline = new QTimer(this);
        m_deadline->setSingleShot(true);
        connect(m_deadline, &QTimer::timeout, this, [this] { fail(Failure::Timeout); });
        m_deadline->start(int(qMin<qint64>(
            limits.timeoutMs + qMax<qint64>(0, uploadBytes) / kUploadBytesPerMs, INT_MAX)));
    }
}

AnswerReader::~AnswerReader() = default;

void AnswerReader::cancel() {
    fail(Failure::NoAnswer);
}

void AnswerReader::onMetaData() {
    if (m_done || m_headSeen || !m_reply)
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    m_headSeen = true;
    m_status = status.toInt();
    if (m_status >= 300 && m_status < 400) {
        fail(Failure::Redirected);
        return;
    }

    if (!m_body->setContentEncoding(m_reply->rawHeader("Content-Encoding"))) {
        fail(Failure::BadEncoding);
        return;
    }

    if (m_reply->hasRawHeader("Content-Length")) {
        bool valid = false;
        const qint64 length = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&valid);
        m_announcedLength = valid && length >= 0 ? length : -1;
    }
    // A plain body announced beyond the limit is refused before any of it comes.
    if (!m_body->isCompressed() && m_announcedLength > m_limits.maxBytes)
        fail(Failure::TooLarge);
}

void AnswerReader::onReadyRead() {
    if (m_done || !m_reply)
        return;
    onMetaData();
    if (m_done)
        return;
    take(m_reply->readAll());
}

void AnswerReader::take(const QByteArray& bytes) {
    const Failure failure = m_body->take(bytes);
    if (failure != Failure::None)
        fail(failure);
}

void AnswerReader::onFinished() {
    if (m_done || !m_reply)
        return;
    onMetaData();
    if (m_done)
        return;
    take(m_reply->readAll());
    if (m_done)
        return;

    const QNetworkReply::NetworkError error = m_reply->error();
    if (error != QNetworkReply::NoError && !isStatusError(error)) {
        if (error == QNetworkReply::TimeoutError)
            fail(Failure::Timeout);
        else
            fail(m_headSeen ? Failure::Truncated : Failure::NoAnswer);
        return;
    }
    if (!m_headSeen) {
        fail(Failure::NoAnswer);
        return;
    }
    // Qt ends a body cut short by a close without an error: count it ourselves.
    if (m_announcedLength >= 0 && m_body->wireBytes() != m_announcedLength) {
        fail(Failure::Truncated);
        return;
    }
    if (const Failure failure = m_body->finish(); failure != Failure::None) {
        fail(failure);
        return;
    }

    Answer answer;
    answer.status = m_status;
    answer.body = m_body->takeBody();
    answer.contentType = m_reply->rawHeader("Content-Type");
    deliver(answer);
}

void AnswerReader::fail(Failure failure) {
    if (m_done)
        return;
    Answer answer;
    answer.status = m_status;
    answer.failure = failure;
    if (m_reply)
        answer.contentType = m_reply->rawHeader("Content-Type");
    deliver(answer);
}

void AnswerReader::deliver(const Answer& answer) {
    m_done = true;
    m_body.reset();
    if (m_deadline)
        m_deadline->stop();
    Finished finished = std::move(m_finished);
    if (QNetworkReply* reply = m_reply) {
        disconnect(reply, nullptr, this, nullptr);
        if (!reply->isFinished())
            reply->abort();
        reply->deleteLater();
    }
    // Last: the receiver may delete the reply, and this reader with it.
    if (finished)
        finished(answer);
}

} // namespace tavrin::transport
