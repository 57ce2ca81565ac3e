#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace tavrin {

// Sends the pushes of one link to the phone strictly in order, one at a time.
//
// Several requests in flight would travel over several connections, and the
// phone could then apply an older text after a newer one. So: a newer content
// push replaces a content push still waiting (likewise a selection push), and
// a save request never overtakes what was queued before it and is dropped only
// when the same save already waits right before it.
class PushQueue : public QObject {
    Q_OBJECT

public:
    enum class Kind { Content, Selection, Save };
    Q_ENUM(Kind)

    static constexpr int kTimeoutMs = 5000;

    explicit PushQueue(QNetworkAccessManager* network, QObject* parent = nullptr);

    // `token` comes back with pushFinished (the link uses it to know which
    // text a finished content push carried).
    void enqueue(Kind kind, const QUrl& url, const QByteArray& body, quint64 token = 0);

    int waitingCount() const { return m_waiting.size(); }
    bool isBusy() const { return m_inFlight != nullptr; }

signals:
    void pushFinished(tavrin::PushQueue::Kind kind, bool ok, quint64 token);

private:
    struct Push {
        Kind kind;
        QUrl url;
        QByteArray body;
        quint64 token;
    };

    void sendNext();
    void onFinished();

    QNetworkAccessManager* m_network;
    QList<Push> m_waiting;
    QNetworkReply* m_inFlight = nullptr;
    Push m_current{};
};

} // namespace tavrin
