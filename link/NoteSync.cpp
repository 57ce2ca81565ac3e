#include "link/NoteSync.h"

#include "link/LinkState.h"
#include "link/protocol/Protocol.h"
#include "state/Attrs.h"
#include "tools/History.h"

namespace tavrin {

NoteSync::NoteSync(transport::Transport* transport, int pushTimeoutMs, QObject* parent)
    : QObject(parent)
    , m_pushes(new PushQueue(transport, pushTimeoutMs, this)) {
    connect(m_pushes, &PushQueue::pushFinished, this, &NoteSync::onPushFinished);
}

bool NoteSync::takeEditorText(const QString& text) {
    // Every real change differs from the text before it (the editor starts empty).
    if (text == m_editorText)
        return false;
    m_editorText = text;
    return true;
}

void NoteSync::pushContent() {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->isLoadOk())
        return;
    sendContent(m_editorText);
}

void NoteSync::sendContent(const QString& content) {
    // The link's own status texts are never the note's content.
    if (!m_attrs->ip() || link::isHintText(content))
        return;
    const std::optional<QByteArray> body = protocol::contentBody(m_attrs->noteId(), content);
    if (!body)
        return; // a lone surrogate cannot be encoded; the next change goes as usual
    m_lastQueuedContent = content;
    m_lastQueuedNoteId = m_attrs->noteId();
    m_pushes->enqueue(PushQueue::Kind::Content,
                      link::noteServerUrl(*m_attrs, protocol::kModifyContentPath), *body,
                      ++m_contentSeq);
}

void NoteSync::pushSelection(int start, int end) {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->ip())
        return;
    m_pushes->enqueue(PushQueue::Kind::Selection,
                      link::noteServerUrl(*m_attrs, protocol::kUpdateSelectionPath),
                      protocol::selectionBody(m_attrs->noteId(), start, end));
}

void NoteSync::pushSave() {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->ip())
        return;
    m_pushes->enqueue(PushQueue::Kind::Save, link::noteServerUrl(*m_attrs, protocol::kSaveNowPath),
                      protocol::saveBody(m_attrs->noteId()));
}

void NoteSync::onPushFinished(PushQueue::Kind kind, bool ok, quint64 token) {
    if (kind != PushQueue::Kind::Content)
        return;
    if (!ok) {
        m_resendPending = true;
        m_resendNoteId = m_lastQueuedNoteId;
        return;
    }
    if (token == m_contentSeq)
        m_confirmedText = m_lastQueuedContent;
}

void NoteSync::resendIfNeeded() {
    if (!m_attrs || !m_resendPending || !m_attrs->isLoadOk() ||
        !sameNoteId(m_resendNoteId, m_attrs->noteId()))
        return;
    m_resendPending = false;
    sendContent(m_editorText);
}

void NoteSync::keepUnconfirmedEdits(const QJsonValue& noteId) {
    // Only a loaded note has edits, and only what the phone never confirmed is kept.
    if (!m_attrs || !m_attrs->isLoadOk() || m_editorText == m_confirmedText ||
        link::isHintText(m_editorText))
        return;
    m_unconfirmed = UnconfirmedEdits{noteId, m_editorText};
}

void NoteSync::offerKeptEdits(const QJsonValue& noteId, const QString& content,
                              History* history) {
    if (!m_unconfirmed)
        return;
    // The reload replaced the text typed before the drop: redo brings it back.
    if (sameNoteId(m_unconfirmed->noteId, noteId) && m_unconfirmed->text != content)
        history->addToOutStack(m_unconfirmed->text);
    m_unconfirmed.reset();
}

void NoteSync::setAttrs(Attrs* attrs) {
    m_attrs = attrs;
}

} // namespace tavrin
