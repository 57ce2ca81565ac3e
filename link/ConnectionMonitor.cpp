// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/ConnectionMonitor.h"

#include "link/protocol/Protocol.h"
#include "link/transport/Transport.h"
#include "state/Attrs.h"

#include <QTimer>

namespace tavrin {

using link::State;

ConnectionMonitor::ConnectionMonitor(transport::Transport* transport, QObject* parent)
    : QObject(parent)
    , m_transport(transport)
    , m_countDown(new QTimer(this)) {
    m_countDown->setObjectName(QStringLiteral("countDown"));
    m_countDown->setInterval(m_timings.heartbeatIntervalMs);
    connect(m_countDown, &QTimer::timeout, this, &ConnectionMonitor::heartBeat);
}

void ConnectionMonitor::setTimings(const link::Timings& timings) {
    m_timings = timings;
    m_countDown->setInterval(timings.heartbeatIntervalMs);
}

void ConnectionMonitor::setState(State state, link::Refusal refusal) {
    if (m_state == state && m_refusal == refusal)
        return;
    qCDebug(lcLink) << "state" << m_state << "->" << state;
    m_state = state;
    m_refusal = refusal;
    emit stateChanged();
}

bool ConnectionMonitor::isResuming() const {
    return m_state == State::Loading && m_heldNote && m_attrs &&
           sameNoteId(*m_heldNote, m_attrs->noteId());
}

bool ConnectionMonitor::addressChanged() {
    if (m_countDown->isActive())
        return false;
    setState(State::Connecting);
    m_countDown->start();
    // The first tick comes at once, but from the event loop: whatever the
    // caller does next (the update check) is sent before the first heartbeat.
    QTimer::singleShot(0, this, [this] {
        if (m_countDown->isActive())
            heartBeat();
    });
    return true;
}

void ConnectionMonitor::heartBeat() {
    if (!m_attrs || !m_attrs->ip())
        return;
    if (m_outstandingHeartbeats >= m_timings.maxOutstandingHeartbeats)
        return;
    ++m_outstandingHeartbeats;
    m_transport->get(link::noteServerUrl(*m_attrs, protocol::kHeartBeatPath),
                     {m_timings.heartbeatTimeoutMs, protocol::kMaxHeartbeatAnswerBytes}, this, [this](const transport::Answer& answer) {
                         --m_outstandingHeartbeats;
                         onHeartbeatAnswer(answer);
                     });
}

void ConnectionMonitor::onHeartbeatAnswer(const transport::Answer& reply) {
    if (!m_attrs)
        return;
    if (!reply.isOk()) {
        onHeartbeatFailed();
        return;
    }
    const std::optional<protocol::HeartbeatAnswer> answer = protocol::parseHeartbeat(reply.text());
    if (!answer)
        return; // not an object: counts as not come

    const QJsonValue heldId = m_attrs->noteId();
    const bool noteChanged = !sameNoteId(heldId, answer->noteId);
    m_attrs->setNoteId(answer->noteId);
    if (answer->markdown)
        m_attrs->setMarkdown(*answer->markdown);

    if (m_attrs->noteIdIsZero()) {
        emit leavingNote(heldId);
        m_heldNote.reset();
        emit hintRequested(link::noNoteHint());
        m_attrs->setLoadOk(false);
        setState(State::NoNote);
        return;
    }
    if (noteChanged) {
        m_loadRetryBeats = 0;
        emit leavingNote(heldId);
        if (m_heldNote && !sameNoteId(*m_heldNote, answer->noteId))
            m_heldNote.reset();
        emit noteSwitched(m_heldNote.has_value());
        setState(State::Loading);
        reloadBackground();
        loadNote();
        return;
    }
    const std::optional<QString> count = protocol::charCountText(answer->charCount);
    setCharCountText(count ? QVariant(*count) : QVariant());
    if (m_state == State::Refused || m_state == State::Unreachable || m_state == State::Offline) {
        retryLoadIfDue();
        return;
    }
    emit noteStillOpen();
}

void ConnectionMonitor::retryLoadIfDue() {
    if (--m_beatsUntilLoadRetry > 0)
        return;
    if (m_state != State::Offline)
        setState(State::Loading);
    loadNote();
}

void ConnectionMonitor::onHeartbeatFailed() {
    emit leavingNote(m_attrs->noteId());
    m_attrs->setNoteId(QJsonValue(0));
    m_attrs->setLoadOk(false);
    // A loaded note stays in the editor, and stays editable, until its phone is back.
    if (m_heldNote) {
        setState(State::Offline);
        return;
    }
    setState(State::Unreachable);
    emit hintRequested(link::unreachableHint());
}

void ConnectionMonitor::setCharCountText(const QVariant& text) {
    if (m_charCountText == text && m_charCountText.isNull() == text.isNull())
        return;
    m_charCountText = text;
    emit charCountTextChanged();
}

void ConnectionMonitor::loadNote() {
    if (!m_attrs || m_attrs->noteIdIsZero())
        return;
    m_attrs->setLoadOk(false);
    if (!m_attrs->ip())
        return;
    m_transport->get(link::noteServerUrl(*m_attrs, protocol::kGetNotePath),
                     {m_timings.loadTimeoutMs, protocol::kMaxNoteAnswerBytes}, this,
                     [this](const transport::Answer& answer) { onLoadAnswer(answer); });
}

void ConnectionMonitor::loadFailed() {
    m_loadRetryBeats = m_loadRetryBeats == 0 ? 1 : qMin(m_loadRetryBeats * 2, 30);
    m_beatsUntilLoadRetry = m_loadRetryBeats;
}

void ConnectionMonitor::refuseLoad(link::Refusal refusal) {
    // Nothing of the answer may become the note: the note held before (another
    // note's text) is let go, and the note is asked for again later.
    emit leavingNote(m_attrs->noteId());
    m_heldNote.reset();
    m_attrs->setLoadOk(false);
    setState(State::Refused, refusal);
    loadFailed();
}

void ConnectionMonitor::onLoadAnswer(const transport::Answer& reply) {
    if (!m_attrs)
        return;
    // The phone answered, but not with a note the editor can take.
    if (reply.status == 200 && reply.failure == transport::Failure::TooLarge) {
        refuseLoad(link::Refusal::TooLarge);
        return;
    }
    if (!reply.isOk()) {
        emit leavingNote(m_attrs->noteId());
        loadFailed();
        if (isResuming() || (m_state == State::Offline && m_heldNote)) {
            m_attrs->setLoadOk(false);
            setState(State::Offline);
            return;
        }
        setState(State::Unreachable);
        m_attrs->setLoadOk(false);
        emit hintRequested(link::unreachableHint());
        return;
    }
    const std::optional<QString> body = reply.decodedText();
    if (!body) {
        refuseLoad(link::Refusal::Undecodable);
        return;
    }
    const std::optional<protocol::NoteLoadAnswer> answer = protocol::parseNoteLoad(*body);
    using Kind = protocol::NoteLoadAnswer::Kind;
    if (!answer || answer->kind != Kind::Note) {
        // A note that cannot be sent back exactly would be shown and never pushed.
        refuseLoad(!answer                       ? link::Refusal::BrokenNote
                   : answer->kind == Kind::NoNote  ? link::Refusal::NoNoteGiven
                   : answer->kind == Kind::Inexact ? link::Refusal::Unsendable
                                                   : link::Refusal::BrokenNote);
        return;
    }
    if (!protocol::canSendContentExactly(answer->content) ||
        !protocol::canSendIdExactly(answer->noteId)) {
        refuseLoad(link::Refusal::Unsendable);
        return;
    }
    if (answer->content.size() > m_timings.maxNoteChars) {
        refuseLoad(link::Refusal::TooLarge);
        return;
    }
    m_loadRetryBeats = 0;
    m_heldNote = answer->noteId;
    m_attrs->setLoadOk(true);
    setState(State::Loaded);
    m_attrs->setNoteId(answer->noteId);
    m_attrs->setMarkdown(answer->markdown);
    emit noteLoaded(answer->noteId, answer->content);
}

void ConnectionMonitor::reloadBackground() {
    if (!m_attrs || !m_attrs->ip())
        return;
    // Clearing first makes the second assignment a change even for the same address.
    m_backgroundSource = QUrl();
    emit backgroundSourceChanged();
    m_backgroundSource = link::noteServerUrl(*m_attrs, protocol::kBgPicturePath);
    emit backgroundSourceChanged();
}

void ConnectionMonitor::setAttrs(Attrs* attrs) {
    m_attrs = attrs;
}

} // namespace tavrin
