// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/NoteSync.h"

#include "link/protocol/Protocol.h"
#include "state/Attrs.h"
#include "tools/Merge.h"

#include <QCoreApplication>
#include <QTimer>

namespace tavrin {

NoteSync::NoteSync(transport::Transport* transport, QObject* parent)
    : QObject(parent)
    , m_pushes(new PushQueue(transport, m_timings.pushTimeoutMs, this))
    , m_journalTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
    , m_showSendingTimer(new QTimer(this)) {
    connect(m_pushes, &PushQueue::pushFinished, this, &NoteSync::onPushFinished);
    m_journalTimer->setSingleShot(true);
    m_journalTimer->setInterval(m_timings.journalDelayMs);
    connect(m_journalTimer, &QTimer::timeout, this, &NoteSync::writeJournal);
    m_retryTimer->setSingleShot(true);
    m_showSendingTimer->setSingleShot(true);
    m_showSendingTimer->setInterval(m_timings.showSendingAfterMs);
    connect(m_showSendingTimer, &QTimer::timeout, this, [this] {
        m_quietSending.reset();
        emit statusChanged();
    });
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        if (loaded() && sameNoteId(m_baseNoteId, m_attrs->noteId()))
            sendContent(m_editorText);
    });
}

void NoteSync::setAttrs(Attrs* attrs) {
    m_attrs = attrs;
}

void NoteSync::setTimings(const link::Timings& timings) {
    m_timings = timings;
    m_pushes->setTimeout(timings.pushTimeoutMs);
    m_journalTimer->setInterval(timings.journalDelayMs);
    m_showSendingTimer->setInterval(timings.showSendingAfterMs);
}

bool NoteSync::loaded() const {
    return m_attrs && !m_attrs->noteIdIsZero() && m_attrs->isLoadOk();
}

bool NoteSync::takeEditorText(const QString& text, std::optional<NoteChange> change) {
    // Every real change differs from the text before it (the editor starts empty).
    if (!change && text == m_editorText)
        return false;
    // (Texts shared with the body's compare at once.)
    if (change && loaded() && m_contentBody.text() == m_editorText)
        m_contentBody.apply(text, change->position, change->removed, change->added);
    m_editorText = text;
    if (m_kept && !link::isHintText(text))
        m_kept->local = text;
    m_editedSinceSave = true;
    if (loaded() || m_kept) {
        ++m_changesSinceConfirmed;
        scheduleJournal();
        updateStatus();
    }
    return true;
}

void NoteSync::pushContent() {
    if (!loaded())
        return;
    // While the phone refuses, the newest text waits for the retry.
    if (m_retryTimer->isActive())
        return;
    sendContent(m_editorText);
}

void NoteSync::pushIfUnconfirmed() {
    if (loaded() && m_editorText != m_base && m_editorText != m_lastQueuedContent)
        pushContent();
}

void NoteSync::sendContent(const QString& content) {
    // The link's own status texts are never the note's content.
    if (!m_attrs->ip() || link::isHintText(content))
        return;
    if (m_contentBody.id() != m_attrs->noteId() || m_contentBody.text() != content)
        m_contentBody.reset(m_attrs->noteId(), content);
    const std::optional<QByteArray> body = m_contentBody.body();
    if (!body)
        return; // a lone surrogate cannot be encoded; the next change goes as usual
    m_lastQueuedContent = content;
    m_lastQueuedNoteId = m_attrs->noteId();
    m_sentSinceBase.append(content);
    if (m_sentSinceBase.size() > 8)
        m_sentSinceBase.removeFirst();
    m_pushes->enqueue(PushQueue::Kind::Content,
                      link::noteServerUrl(*m_attrs, protocol::kModifyContentPath), *body,
                      ++m_contentSeq, int(content.size()));
    updateStatus();
}

void NoteSync::pushSelection(int start, int end) {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->ip())
        return;
    m_pushes->enqueue(PushQueue::Kind::Selection,
                      link::noteServerUrl(*m_attrs, protocol::kUpdateSelectionPath),
                      protocol::selectionBody(m_attrs->noteId(), start, end), 0,
                      qMax(start, end));
}

void NoteSync::pushSave() {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->ip())
        return;
    m_saveInFlight = true;
    m_pushes->enqueue(PushQueue::Kind::Save, link::noteServerUrl(*m_attrs, protocol::kSaveNowPath),
                      protocol::saveBody(m_attrs->noteId()));
    updateStatus();
}

void NoteSync::onPushFinished(PushQueue::Kind kind, bool ok, int status, quint64 token) {
    if (kind == PushQueue::Kind::Save) {
        m_saveInFlight = false;
        m_savePending = !ok;
        if (ok) {
            m_savedAt = m_clock();
            m_editedSinceSave = false;
        }
        updateStatus();
        return;
    }
    if (kind != PushQueue::Kind::Content) {
        updateStatus();
        return;
    }
    if (!ok) {
        if (status != 0) {
            onContentRefused(status);
        } else {
            m_resendPending = true;
        }
        updateStatus();
        return;
    }
    m_refusedStatus = 0;
    m_retryDelayMs = 0;
    m_retryTimer->stop();
    if (token == m_contentSeq && sameNoteId(m_lastQueuedNoteId, m_baseNoteId)) {
        m_base = m_lastQueuedContent;
        m_sentSinceBase.clear();
        m_lastConfirmedAt = m_clock();
        if (m_base == m_editorText)
            m_changesSinceConfirmed = 0;
        scheduleJournal();
    }
    updateStatus();
}

void NoteSync::onContentRefused(int status) {
    // The phone is there and says no: not once per heartbeat, but after a
    // wait that doubles with every refusal.
    m_refusedStatus = status;
    m_resendPending = false;
    m_retryDelayMs = m_retryDelayMs == 0 ? m_timings.pushRetryMinMs
                                         : qMin(m_retryDelayMs * 2, m_timings.pushRetryMaxMs);
    m_retryTimer->start(m_retryDelayMs);
}

int NoteSync::retryDelayMs() const {
    return m_retryTimer->isActive() ? m_retryDelayMs : 0;
}

void NoteSync::linkAlive() {
    if (!loaded() || !sameNoteId(m_baseNoteId, m_attrs->noteId()))
        return;
    if (m_resendPending && sameNoteId(m_lastQueuedNoteId, m_attrs->noteId())) {
        m_resendPending = false;
        sendContent(m_editorText);
    }
    if (m_savePending && !m_saveInFlight) {
        m_savePending = false;
        pushSave();
    }
}

void NoteSync::noteSwitched(bool resuming) {
    m_resendPending = false;
    m_retryTimer->stop();
    m_refusedStatus = 0;
    m_retryDelayMs = 0;
    if (!resuming)
        m_savePending = false;
    updateStatus();
}

void NoteSync::keepUnconfirmedEdits(const QJsonValue& noteId) {
    // Only a loaded note has edits to keep; they stay editable and are
    // counted until the note is back.
    // (The record may already hold the next id: the loaded flag tells.)
    if (!m_attrs || !m_attrs->isLoadOk() || m_kept || !sameNoteId(noteId, m_baseNoteId))
        return;
    m_kept = Kept{noteId, m_baseAddress, m_base, m_editorText, m_clock()};
    writeJournal();
    updateStatus();
}

NoteSync::Arrival NoteSync::noteArrived(const QJsonValue& noteId, const QString& content) {
    const QString address = m_attrs && m_attrs->ip() ? *m_attrs->ip() : QString();
    std::optional<QString> local;
    QString base;
    QStringList sent;
    if (m_kept && m_kept->address == address && sameNoteId(m_kept->noteId, noteId)) {
        local = m_kept->local;
        base = m_kept->base;
        sent = m_sentSinceBase;
    } else if (const std::optional<NoteJournal::Entry> entry = m_journal.find(address, noteId)) {
        // Left by an earlier run, or by a drop followed by another note.
        local = entry->text;
        base = entry->base;
    }
    m_kept.reset();
    m_base = content;
    m_baseNoteId = noteId;
    m_baseAddress = address;
    m_sentSinceBase.clear();
    m_changesSinceConfirmed = 0;
    updateStatus();

    if (!local || *local == content)
        return {content};
    // The phone holds the base, or a text we sent it: nothing new there, ours goes on.
    if (content == base || sent.contains(content))
        return {*local};
    if (*local == base)
        return {content};
    if (const std::optional<QString> merged = mergeThreeWays(base, *local, content))
        return {*merged};
    return {content, true, *local};
}

void NoteSync::scheduleJournal() {
    // Within about a second of a change, and not for every keystroke.
    if (!m_journalTimer->isActive())
        m_journalTimer->start();
}

void NoteSync::writeJournal() {
    m_journalTimer->stop();
    if (m_baseNoteId.isUndefined() || m_baseAddress.isEmpty())
        return;
    const bool holdsNote = m_kept || (loaded() && sameNoteId(m_baseNoteId, m_attrs->noteId()));
    const QString local = m_kept ? m_kept->local : m_editorText;
    if (holdsNote && local != m_base && !link::isHintText(local)) {
        m_journal.save({m_baseAddress, m_baseNoteId, m_base, local, m_clock()});
    } else if (local == m_base) {
        m_journal.remove(m_baseAddress, m_baseNoteId);
    }
}

void NoteSync::updateStatus() {
    Status status = Status::Idle;
    if (m_kept)
        status = Status::Offline;
    else if (!loaded())
        status = Status::Idle;
    else if (m_refusedStatus != 0)
        status = Status::Refused;
    else if (m_savePending)
        status = Status::SaveFailed;
    else if (m_pushes->isBusy() || m_pushes->waitingCount() > 0 || m_editorText != m_base)
        status = Status::Sending;
    else if (m_savedAt.isValid() && !m_editedSinceSave)
        status = Status::Saved;
    else
        status = Status::InSync;
    if (status != Status::Sending) {
        m_quietSending.reset();
        m_showSendingTimer->stop();
    } else if (m_status == Status::InSync || m_status == Status::Saved) {
        m_quietSending = m_status;
        m_showSendingTimer->start();
    }
    // The texts carry counts and times: every change may change them.
    m_status = status;
    emit statusChanged();
}

QString NoteSync::statusText() const {
    const QString timeFormat = QStringLiteral("HH:mm:ss");
    switch (m_quietSending.value_or(m_status)) {
    case Status::Idle:
        return {};
    case Status::InSync:
        return m_lastConfirmedAt.isValid()
                   ? QCoreApplication::translate("Link", "已同步 %1")
                         .arg(m_lastConfirmedAt.toString(timeFormat))
                   : QCoreApplication::translate("Link", "已同步");
    case Status::Sending:
        return QCoreApplication::translate("Link", "正在发送…");
    case Status::Offline:
        return QCoreApplication::translate("Link", "离线：%n 处修改未发送，自 %1 起", nullptr,
                                           m_changesSinceConfirmed)
            .arg(m_kept->since.toString(timeFormat));
    case Status::Refused:
        return QCoreApplication::translate("Link", "手机拒绝了修改（HTTP %1），稍后重试")
            .arg(m_refusedStatus);
    case Status::Saved:
        return QCoreApplication::translate("Link", "已保存 %1").arg(m_savedAt.toString(timeFormat));
    case Status::SaveFailed:
        return QCoreApplication::translate("Link", "保存失败，连接恢复后重试");
    }
    return {};
}

} // namespace tavrin
