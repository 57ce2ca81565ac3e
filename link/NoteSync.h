// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/LinkState.h"
#include "link/NoteJournal.h"
#include "link/PushQueue.h"
#include "link/protocol/ContentBody.h"
#include "tools/NoteText.h"

#include <QDateTime>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QString>
#include <functional>
#include <optional>

class QTimer;

namespace tavrin {

class Attrs;

// Keeps the phone's copy of the note in step with the editor: content,
// selection and save pushes; the base (the text the phone last confirmed);
// resend after a lost push and back-off after a refused one; the edits kept
// while the phone is away, on disk too, and brought back when the note
// returns (fast-forward, or a three-way merge).
class NoteSync : public QObject {
    Q_OBJECT

public:
    enum class Status {
        Idle,       // no note
        InSync,     // the phone has the editor's text
        Sending,    // pushes on their way
        Offline,    // the phone is away; edits are kept
        Refused,    // the phone refused the last content push
        Saved,      // the phone confirmed the last save request
        SaveFailed, // a save request failed; it goes again once the phone is back
    };
    Q_ENUM(Status)

    // What the editor shows once a note arrived.
    struct Arrival {
        QString text;
        // Both sides changed the same place: the editor shows the phone's
        // text and the local text is offered.
        bool conflict = false;
        QString localText;
    };

    explicit NoteSync(transport::Transport* transport, QObject* parent = nullptr);

    void setAttrs(Attrs* attrs);
    void setTimings(const link::Timings& timings);
    void setJournalDirectory(const QString& directory) { m_journal = NoteJournal(directory); }
    const NoteJournal& journal() const { return m_journal; }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    PushQueue* pushQueue() const { return m_pushes; }

    // The editor's whole text after a change notification; false when it is
    // the text already known (the editor notifies without a change when selecting).
    // With the change it made, the comparison (the note's length) is skipped,
    // and the next content push is encoded for the change only.
    bool takeEditorText(const QString& text, std::optional<NoteChange> change = std::nullopt);
    // The editor text goes to the phone, if a note is loaded to take it.
    void pushContent();
    void pushSelection(int start, int end);
    void pushSave();

    // A heartbeat answered for the note held: what failed for want of an
    // answer goes again (the newest text, then a failed save).
    void linkAlive();
    // The phone opened a note; `resuming`: the one held before a drop.
    void noteSwitched(bool resuming);
    // The link lets go of the note `noteId`: a loaded note's edits are kept.
    void keepUnconfirmedEdits(const QJsonValue& noteId);
    // The phone sent `content` for `noteId`; the base is now that text.
    Arrival noteArrived(const QJsonValue& noteId, const QString& content);
    // Once the arrival is in the editor: a text the phone does not have goes to it.
    void pushIfUnconfirmed();

    QString editorText() const { return m_editorText; }
    QString confirmedText() const { return m_base; }
    bool keepsEdits() const { return m_kept.has_value(); }

    Status status() const { return m_status; }
    QString statusText() const;
    int unsentChanges() const { return m_changesSinceConfirmed; }
    QDateTime offlineSince() const { return m_kept ? m_kept->since : QDateTime(); }
    int refusedStatus() const { return m_refusedStatus; }
    // The current wait before a refused push goes again (0 while none waits).
    int retryDelayMs() const;

signals:
    void statusChanged();

private:
    struct Kept {
        QJsonValue noteId;
        QString address;
        QString base;
        QString local; // the editor's text, hints left out
        QDateTime since;
    };

    bool loaded() const;
    void sendContent(const QString& content);
    void onPushFinished(PushQueue::Kind kind, bool ok, int status, quint64 token);
    void onContentRefused(int status);
    void scheduleJournal();
    void writeJournal();
    void updateStatus();

    QPointer<Attrs> m_attrs;
    link::Timings m_timings;
    PushQueue* m_pushes;
    NoteJournal m_journal;
    QTimer* m_journalTimer;
    QTimer* m_retryTimer;
    QTimer* m_showSendingTimer;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };

    QString m_editorText;
    // The body of the next content push, kept in step with the editor text.
    protocol::ContentBodyCache m_contentBody;
    // The note the base belongs to, and where it lives.
    QString m_base;
    QJsonValue m_baseNoteId{QJsonValue::Undefined};
    QString m_baseAddress;
    // Texts pushed since the base: a phone that comes back with one of them has only ours.
    // (Shared copies of the texts, the newest few: the queue holds at most two at a time.)
    QStringList m_sentSinceBase;
    int m_changesSinceConfirmed = 0;

    quint64 m_contentSeq = 0;
    QString m_lastQueuedContent;
    QJsonValue m_lastQueuedNoteId;
    // A content push got no answer: the newest text goes again after the next good heartbeat.
    bool m_resendPending = false;
    int m_refusedStatus = 0;
    int m_retryDelayMs = 0;
    bool m_savePending = false;
    bool m_saveInFlight = false;
    QDateTime m_lastConfirmedAt;
    QDateTime m_savedAt;
    bool m_editedSinceSave = false;
    // Edits of a note whose phone went away, until the note is back.
    std::optional<Kept> m_kept;
    Status m_status = Status::Idle;
    // While a push is young, the line still reads as this settled status did.
    std::optional<Status> m_quietSending;
};

} // namespace tavrin
