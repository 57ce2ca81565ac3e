// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/GuardedNetwork.h"

#include "link/transport/AnswerReader.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace tavrin::transport {

namespace {

// Stands for the real reply until the whole answer is there, then gives it at
// once: head, data and end, or an error and no data.
class GuardedReply : public QNetworkReply {
public:
    GuardedReply(QNetworkReply* inner, const Limits& limits, qint64 uploadBytes, QObject* parent)
        : QNetworkReply(parent)
        , m_inner(inner) {
        setRequest(inner->request());
        setUrl(inner->url());
        setOperation(inner->operation());
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        // Both replies stay children of the manager, which deletes all of its
        // replies (the inner ones too) when it goes: neither may own the other.
        m_reader = new AnswerReader(inner, limits, uploadBytes,
                                    [this](const Answer& answer) { complete(answer); });
    }

    ~GuardedReply() override {
        if (!m_inner)
            return;
        delete m_reader; // still reading: nothing may come back to this reply
        if (!m_inner->isFinished())
            m_inner->abort();
        m_inner->deleteLater();
    }

    void abort() override {
        if (isFinished())
            return;
        m_aborted = true;
        if (m_reader)
            m_reader->cancel();
    }

    bool isSequential() const override { return true; }

    qint64 bytesAvailable() const override {
        return qint64(m_body.size()) - m_offset + QNetworkReply::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 count = qMin<qint64>(maxSize, qint64(m_body.size()) - m_offset);
        if (count <= 0)
            return isFinished() ? -1 : 0;
        memcpy(data, m_body.constData() + m_offset, size_t(count));
        m_offset += count;
        return count;
    }

private:
    void complete(const Answer& answer) {
        m_reader = nullptr; // goes with the inner reply
        if (answer.status > 0)
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, answer.status);
        if (m_inner) {
            setAttribute(QNetworkRequest::HttpReasonPhraseAttribute,
                         m_inner->attribute(QNetworkRequest::HttpReasonPhraseAttribute));
            // The body is given as it came out, inflated: its length and encoding are ours.
            for (const RawHeaderPair& header : m_inner->rawHeaderPairs()) {
                const QByteArray name = header.first.toLower();
                if (name != "content-length" && name != "content-encoding" && name != "location")
                    setRawHeader(header.first, header.second);
            }
        }

        const auto [error, text] = errorFor(answer);
        if (error == NoError) {
            m_body = answer.body;
            setHeader(QNetworkRequest::ContentLengthHeader, m_body.size());
        } else {
            setError(error, text);
        }
        setFinished(true);
        emit metaDataChanged();
        if (error != NoError)
            emit errorOccurred(error);
        if (!m_body.isEmpty()) {
            emit downloadProgress(m_body.size(), m_body.size());
            emit readyRead();
        }
        emit readChannelFinished();
        emit finished();
    }

    std::pair<NetworkError, QString> errorFor(const Answer& answer) const {
        const QString url = this->url().toDisplayString();
        switch (answer.failure) {
        case Failure::None:
            if (m_inner && m_inner->error() != NoError)
                return {m_inner->error(), m_inner->errorString()};
            return {NoError, QString()};
        case Failure::NoAnswer:
            if (m_aborted)
                return {OperationCanceledError, QStringLiteral("Operation canceled")};
            if (m_inner && m_inner->error() != NoError)
                return {m_inner->error(), m_inner->errorString()};
            return {UnknownNetworkError, QStringLiteral("No answer from %1").arg(url)};
        case Failure::Timeout:
            return {TimeoutError, QStringLiteral("The answer of %1 did not come in time").arg(url)};
        case Failure::TooLarge:
            return {UnknownContentError, QStringLiteral("The answer of %1 is too large").arg(url)};
        case Failure::Truncated:
            return {RemoteHostClosedError,
                    QStringLiteral("The answer of %1 was cut short").arg(url)};
        case Failure::Redirected:
            return {ProtocolFailure,
                    QStringLiteral("%1 redirects; redirects are not followed").arg(url)};
        case Failure::BadEncoding:
            return {ProtocolFailure,
                    QStringLiteral("The answer of %1 has an unreadable encoding").arg(url)};
        }
        return {UnknownNetworkError, QString()};
    }

    QPointer<QNetworkReply> m_inner;
    AnswerReader* m_reader = nullptr;
    QByteArray m_body;
    qint64 m_offset = 0;
    bool m_aborted = false;
};

bool isHttp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

GuardedNetworkAccessManager::GuardedNetworkAccessManager(LimitsFor limitsFor, QObject* parent)
    : QNetworkAccessManager(parent)
    , m_limitsFor(std::move(limitsFor)) {
    setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

QNetworkReply* GuardedNetworkAccessManager::createRequest(Operation op,
                                                          const QNetworkRequest& request,
                                                          QIODevice* outgoingData) {
    if (!isHttp(request.url()))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    QNetworkRequest guarded(request);
    prepareRequest(guarded);
    const qint64 uploadBytes =
        outgoingData && !outgoingData->isSequential() ? outgoingData->size() : 0;
    QNetworkReply* inner = QNetworkAccessManager::createRequest(op, guarded, outgoingData);
    return new GuardedReply(inner, m_limitsFor ? m_limitsFor(request.url()) : Limits(), uploadBytes,
                            this);
}

} // namespace tavrin::transport
