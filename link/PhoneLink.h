#pragma once

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <optional>

#include "link/PushQueue.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace tavrin {

class Attrs;

// The client of the phone's note server: the one-second heartbeat, loading
// the note open on the phone, and pushing every edit back.
//
// The link tells the scene what to do through signals, all emitted
// synchronously in the order the steps happen; assigning the editor text
// calls justUpdateContent() back before the signal returns.
class PhoneLink : public QObject {
    Q_OBJECT
    Q_PROPERTY(tavrin::Attrs* attrs READ attrs WRITE setAttrs NOTIFY attrsChanged)
    Q_PROPERTY(QUrl backgroundSource READ backgroundSource NOTIFY backgroundSourceChanged)
    Q_PROPERTY(QVariant charCountText READ charCountText NOTIFY charCountTextChanged)

public:
    static constexpr int kHeartbeatIntervalMs = 1000;
    // A phone that vanishes without closing its connections is noticed this
    // long after the last heartbeat was sent.
    static constexpr int kHeartbeatTimeoutMs = 3000;
    static constexpr int kLoadTimeoutMs = 10000;
    static constexpr int kMaxOutstandingHeartbeats = 4;

    static QString unreachableHint();
    static QString noNoteHint();
    static bool isHintText(const QString& text);

    explicit PhoneLink(QObject* parent = nullptr);

    Attrs* attrs() const { return m_attrs; }
    void setAttrs(Attrs* attrs);

    QUrl backgroundSource() const { return m_backgroundSource; }
    // The phone's character count for the window title; null for none.
    QVariant charCountText() const { return m_charCountText; }

    QTimer* countDown() const { return m_countDown; }
    int outstandingHeartbeats() const { return m_outstandingHeartbeats; }
    const PushQueue* pushQueue() const { return m_pushes; }

    Q_INVOKABLE void updateIp(const QString& ip);
    Q_INVOKABLE void heartBeat();
    Q_INVOKABLE void httpForHeartBeat();
    Q_INVOKABLE void loadNote();
    Q_INVOKABLE void httpForLoadNote();
    Q_INVOKABLE void reloadIvBg();

    // The editor's whole text after each change of it.
    Q_INVOKABLE void justUpdateContent(const QString& content);
    Q_INVOKABLE void postSelection(int start, int end);
    Q_INVOKABLE void postToSaveNow();

signals:
    void attrsChanged();
    void backgroundSourceChanged();
    void charCountTextChanged();
    void showIpInputViewRequested(bool visible);
    void assignEditorText(const QString& text);
    void automaticUpdateCheckRequested();

private:
    struct UnsyncedEdits {
        QJsonValue noteId;
        QString text;
    };

    QUrl urlFor(const char* path) const; // at the held address
    QNetworkReply* get(const char* path, int timeoutMs);
    void onHeartbeatFinished(QNetworkReply* reply);
    void onHeartbeatFailed();
    void onLoadFinished(QNetworkReply* reply);
    void setCharCountText(const QVariant& text);
    void sendContent(const QString& content);
    void onPushFinished(PushQueue::Kind kind, bool ok, quint64 token);
    void resendContentIfNeeded();
    void rememberUnsyncedEdits(const QJsonValue& noteId);
    void offerUnsyncedEdits(const QJsonValue& noteId, const QString& loadedContent);

    QPointer<Attrs> m_attrs;
    QNetworkAccessManager* m_network;
    PushQueue* m_pushes;
    QTimer* m_countDown;
    int m_outstandingHeartbeats = 0;
    QUrl m_backgroundSource;
    QVariant m_charCountText;

    // What the editor holds, and the newest text known to have reached the phone.
    QString m_editorText;
    QString m_confirmedText;
    quint64 m_contentSeq = 0;
    QString m_lastQueuedContent;
    QJsonValue m_lastQueuedNoteId;
    // A content push failed: the newest text goes again after the next good heartbeat.
    bool m_resendPending = false;
    QJsonValue m_resendNoteId;
    // Text typed just before the link dropped, kept until the note is loaded again.
    std::optional<UnsyncedEdits> m_unsynced;
};

} // namespace tavrin
