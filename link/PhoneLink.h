// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/ConnectionMonitor.h"
#include "link/LinkState.h"
#include "link/NoteSync.h"
#include "state/Attrs.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

namespace tavrin {

class PushQueue;
namespace transport {
class Transport;
}

// The client of the phone's note server, as the scene sees it: the connection
// monitor (heartbeat, loading, state) and the note sync (pushes), joined to
// the record, the history and the editor.
//
// The link tells the scene what to do through signals, all emitted
// synchronously in the order the steps happen; assigning the editor text
// calls justUpdateContent() back before the signal returns.
class PhoneLink : public QObject {
    Q_OBJECT
    Q_PROPERTY(tavrin::Attrs* attrs READ attrs WRITE setAttrs NOTIFY attrsChanged)
    Q_PROPERTY(tavrin::link::State state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool connectionScreen READ connectionScreen NOTIFY connectionScreenChanged)
    Q_PROPERTY(QUrl backgroundSource READ backgroundSource NOTIFY backgroundSourceChanged)
    Q_PROPERTY(QVariant charCountText READ charCountText NOTIFY charCountTextChanged)
    // The editor takes typing: a note is loaded, or kept while its phone is away.
    Q_PROPERTY(bool editable READ editable NOTIFY stateChanged)
    // The line under the address box: why the connection screen shows.
    Q_PROPERTY(QString reasonText READ reasonText NOTIFY stateChanged)
    // Where the text stands, for the editor screen's status line.
    Q_PROPERTY(tavrin::NoteSync::Status syncStatus READ syncStatus NOTIFY syncStatusChanged)
    Q_PROPERTY(QString syncStatusText READ syncStatusText NOTIFY syncStatusChanged)
    // The local text that could not be merged with the phone's; empty when none waits.
    Q_PROPERTY(QString conflictText READ conflictText NOTIFY conflictTextChanged)

public:
    explicit PhoneLink(QObject* parent = nullptr);

    Attrs* attrs() const { return m_attrs; }
    void setAttrs(Attrs* attrs);

    link::State state() const;
    // The connection screen shows (the editor screen otherwise).
    bool connectionScreen() const { return link::showsConnectionScreen(state()); }
    QUrl backgroundSource() const;
    // The phone's character count for the window title; null for none.
    QVariant charCountText() const;
    bool editable() const;
    QString reasonText() const;
    NoteSync::Status syncStatus() const { return m_sync->status(); }
    QString syncStatusText() const;
    QString conflictText() const { return m_conflictText; }

    // Tests put an in-process phone and their own timings in; the link does
    // not own the transport given.
    void setTransport(transport::Transport* transport);
    void setTimings(const link::Timings& timings);
    // Where unconfirmed edits are journalled; empty: the application's data location.
    void setJournalDirectory(const QString& directory);

    ConnectionMonitor* monitor() const { return m_monitor; }
    NoteSync* sync() const { return m_sync; }
    const PushQueue* pushQueue() const;
    QTimer* countDown() const { return m_monitor->countDown(); }
    int outstandingHeartbeats() const { return m_monitor->outstandingHeartbeats(); }

    // A valid address was entered.
    Q_INVOKABLE void updateIp(const QString& ip);
    // One tick of the heartbeat.
    void heartBeat() { m_monitor->heartBeat(); }

    // The editor's whole text after each change of it: recorded, then pushed.
    Q_INVOKABLE void justUpdateContent(const QString& content);
    // As above, for a change known to have happened: at `position`,
    // `charsRemoved` units of the text before became `charsAdded` units of `content`.
    void justUpdateContent(const QString& content, int position, int charsRemoved, int charsAdded);
    Q_INVOKABLE void postSelection(int start, int end);
    Q_INVOKABLE void postToSaveNow();

    // Where the editor's font comes from for the text in the address field;
    // empty for an empty text.
    Q_INVOKABLE QUrl fontUrl(const QString& addressText) const;

    // The offered local text replaces the phone's (and goes to the phone).
    Q_INVOKABLE void restoreLocalText();
    // The phone's text stays; the local text is still one redo away.
    Q_INVOKABLE void dismissConflict();

signals:
    void attrsChanged();
    void stateChanged();
    void connectionScreenChanged();
    void backgroundSourceChanged();
    void charCountTextChanged();
    void syncStatusChanged();
    void conflictTextChanged();
    void assignEditorText(const QString& text);
    void automaticUpdateCheckRequested();

private:
    void onNoteLoaded(const QJsonValue& noteId, const QString& content);
    void setConflictText(const QString& text);

    QPointer<Attrs> m_attrs;
    transport::Transport* m_ownTransport;
    ConnectionMonitor* m_monitor;
    NoteSync* m_sync;
    bool m_connectionScreen = true;
    QString m_conflictText;
};

} // namespace tavrin
