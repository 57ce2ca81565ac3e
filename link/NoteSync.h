#pragma once

#include "link/PushQueue.h"

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

namespace tavrin {

class Attrs;
class History;

// Keeps the phone's copy of the note in step with the editor: content,
// selection and save pushes, the text last confirmed by the phone, the resend
// of a failed content push, and the edits kept when the link lets go of a note.
class NoteSync : public QObject {
    Q_OBJECT

public:
    NoteSync(transport::Transport* transport, int pushTimeoutMs, QObject* parent = nullptr);

    void setAttrs(Attrs* attrs);

    PushQueue* pushQueue() const { return m_pushes; }

    // The editor's whole text after a change notification; false when it is
    // the text already known (the editor notifies without a change when selecting).
    bool takeEditorText(const QString& text);
    // The editor text goes to the phone, if a note is loaded to take it.
    void pushContent();
    void pushSelection(int start, int end);
    void pushSave();

    // The phone is there for the note held: a failed content push goes again.
    void resendIfNeeded();
    // The phone opened another note: what failed for the old one is not resent.
    void forgetResend() { m_resendPending = false; }
    // The link lets go of the note `noteId`: edits it never confirmed are kept.
    void keepUnconfirmedEdits(const QJsonValue& noteId);
    // The note arrived with `content`: the text the phone now holds.
    void setConfirmedText(const QString& content) { m_confirmedText = content; }
    // Once the loaded note is in the editor: edits kept for this note that the
    // load replaced are handed to `history` for redo.
    void offerKeptEdits(const QJsonValue& noteId, const QString& content, History* history);

    QString editorText() const { return m_editorText; }
    QString confirmedText() const { return m_confirmedText; }

private:
    struct UnconfirmedEdits {
        QJsonValue noteId;
        QString text;
    };

    void sendContent(const QString& content);
    void onPushFinished(PushQueue::Kind kind, bool ok, quint64 token);

    QPointer<Attrs> m_attrs;
    PushQueue* m_pushes;

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
    std::optional<UnconfirmedEdits> m_unconfirmed;
};

} // namespace tavrin
