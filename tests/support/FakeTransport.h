// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An in-process phone for the link's tests: it keeps every request the link
// sends, and the test answers them one by one, synchronously, whenever it
// likes. Nothing goes over a socket and nothing waits on a clock.

#include "link/transport/Transport.h"

#include <QList>
#include <QPointer>
#include <functional>
#include <optional>

class FakeTransport : public tavrin::transport::Transport {
    Q_OBJECT

public:
    struct Sent {
        QString method; // "GET" or "POST"
        QUrl url;
        QByteArray body;
        int timeoutMs = 0;
        qint64 maxBytes = 0;
        QString path() const { return url.path(); }
        QString formValue(const QString& key) const;
    };

    using Transport::Transport;

    void get(const QUrl& url, const tavrin::transport::Limits& limits, QObject* context,
             Done done) override;
    void postForm(const QUrl& url, const QByteArray& body, const tavrin::transport::Limits& limits,
                  QObject* context, Done done) override;

    // Every request sent, in order; those of one path.
    const QList<Sent>& sent() const { return m_sent; }
    QList<Sent> sent(const QString& path) const;
    int sentCount(const QString& path) const { return sent(path).size(); }
    void clearSent() { m_sent.clear(); }

    // Requests not answered yet, oldest first.
    int pendingCount(const QString& path = QString()) const;
    QList<Sent> pending(const QString& path = QString()) const;

    // Answers the oldest (or newest) pending request of `path`; false when none waits.
    bool answer(const QString& path, const tavrin::transport::Answer& answer);
    bool answerNewest(const QString& path, const tavrin::transport::Answer& answer);
    bool answerJson(const QString& path, const QByteArray& json, int status = 200);
    // No whole answer: refused or reset (NoAnswer), timed out, too large, cut short...
    bool fail(const QString& path,
              tavrin::transport::Failure failure = tavrin::transport::Failure::NoAnswer);
    // Answers every pending request of `path` (all paths for an empty one) alike.
    int answerAll(const QString& path, const tavrin::transport::Answer& answer);

    static tavrin::transport::Answer json(const QByteArray& body, int status = 200);

    // A phone that answers by itself: every request the responder gives an
    // answer for is answered from the event loop, as a real one would be.
    using Responder = std::function<std::optional<tavrin::transport::Answer>(const Sent&)>;
    void setResponder(Responder responder) { m_responder = std::move(responder); }

private:
    struct Pending {
        Sent request;
        QPointer<QObject> context;
        Done done;
        bool contextGiven;
    };

    void take(int index, const tavrin::transport::Answer& answer);
    void respondLater();
    int indexOf(const QString& path, bool newest) const;

    QList<Sent> m_sent;
    QList<Pending> m_pending;
    Responder m_responder;
};

// The paths of the note server, for tests.
namespace paths {
inline const QString heartBeat = QStringLiteral("/desktop/heartBeat/");
inline const QString getNote = QStringLiteral("/desktop/getNote/");
inline const QString content = QStringLiteral("/desktop/modifyNoteContent/");
inline const QString selection = QStringLiteral("/desktop/updateSelection/");
inline const QString save = QStringLiteral("/desktop/saveNow/");
} // namespace paths
