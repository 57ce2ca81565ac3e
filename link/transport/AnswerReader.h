// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads one QNetworkReply to its end under a deadline and a size limit, and
// tells once what came of it: the whole answer, or the reason it is none.
//
// Qt ends a chunked body that a close or a reset cuts short as if it were
// whole; where that matters, HttpTransport reads plain HTTP through libcurl
// (CurlClient).

#include "link/transport/Transport.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QNetworkReply;
class QNetworkRequest;
class QTimer;

namespace tavrin::transport {

class BodySink;

// Sets what every request of ours carries: no redirects followed, and the
// compressed encodings we inflate ourselves (naming them turns off Qt's own
// inflating, which has no limit).
void prepareRequest(QNetworkRequest& request);

class AnswerReader : public QObject {
    Q_OBJECT

public:
    using Finished = std::function<void(const Answer&)>;

    // Becomes a child of `reply`, which it aborts on a failure. `uploadBytes`
    // lengthens the deadline (see Limits::timeoutMs). `finished` is called once,
    // from the event loop, and may delete the reply (it is deleted later anyway).
    AnswerReader(QNetworkReply* reply, const Limits& limits, qint64 uploadBytes, Finished finished);
    ~AnswerReader() override;

    // Stops reading and reports Failure::NoAnswer at once, unless already done.
    void cancel();

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void take(const QByteArray& bytes);
    void fail(Failure failure);
    void deliver(const Answer& answer);

    QPointer<QNetworkReply> m_reply;
    Limits m_limits;
    Finished m_finished;
    QTimer* m_deadline = nullptr;
    std::unique_ptr<BodySink> m_body;
    bool m_headSeen = false;
    bool m_done = false;
    int m_status = 0;
    qint64 m_announcedLength = -1; // Content-Length, of the bytes as sent
};

} // namespace tavrin::transport
