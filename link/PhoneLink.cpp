// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/PhoneLink.h"

#include "link/NoteSync.h"
#include "link/protocol/Protocol.h"
#include "link/transport/Transport.h"
#include "state/Attrs.h"
#include "tools/History.h"

#include <QCoreApplication>

namespace tavrin {

PhoneLink::PhoneLink(QObject* parent)
    : QObject(parent)
    , m_ownTransport(new transport::HttpTransport(this))
    , m_monitor(new ConnectionMonitor(m_ownTransport, this))
    , m_sync(new NoteSync(m_ownTransport, this)) {

    connect(m_monitor, &ConnectionMonitor::stateChanged, this, [this] {
        emit stateChanged();
        if (m_connectionScreen != connectionScreen()) {
            m_connectionScreen = connectionScreen();
            emit connectionScreenChanged();
        }
    });
    connect(m_monitor, &ConnectionMonitor::charCountTextChanged, this,
            &PhoneLink::charCountTextChanged);
    connect(m_monitor, &ConnectionMonitor::backgroundSourceChanged, this,
            &PhoneLink::backgroundSourceChanged);
    connect(m_monitor, &ConnectionMonitor::leavingNote, m_sync, &NoteSync::keepUnconfirmedEdits);
    connect(m_monitor, &ConnectionMonitor::noteSwitched, this, [this](bool resuming) {
        m_sync->noteSwitched(resuming);
        setConflictText(QString());
        // The same note back after a drop keeps its history.
        if (!resuming)
            m_attrs->history()->clearStack();
    });
    connect(m_monitor, &ConnectionMonitor::noteStillOpen, m_sync, &NoteSync::linkAlive);
    connect(m_monitor, &ConnectionMonitor::stateChanged, this, &PhoneLink::syncStatusChanged);
    connect(m_sync, &NoteSync::statusChanged, this, &PhoneLink::syncStatusChanged);
    connect(m_monitor, &ConnectionMonitor::hintRequested, this, &PhoneLink::assignEditorText);
    connect(m_monitor, &ConnectionMonitor::noteLoaded, this, &PhoneLink::onNoteLoaded);
}

void PhoneLink::setAttrs(Attrs* attrs) {
    if (m_attrs == attrs)
        return;
    m_attrs = attrs;
    m_monitor->setAttrs(attrs);
    m_sync->setAttrs(attrs);
    emit attrsChanged();
}

link::State PhoneLink::state() const {
    return m_monitor->state();
}

QUrl PhoneLink::backgroundSource() const {
    return m_monitor->backgroundSource();
}

QVariant PhoneLink::charCountText() const {
    return m_monitor->charCountText();
}

void PhoneLink::setTransport(transport::Transport* transport) {
    m_monitor->setTransport(transport);
    m_sync->pushQueue()->setTransport(transport);
}

void PhoneLink::setTimings(const link::Timings& timings) {
    m_monitor->setTimings(timings);
    m_sync->setTimings(timings);
}

void PhoneLink::setJournalDirectory(const QString& directory) {
    m_sync->setJournalDirectory(directory);
}

bool PhoneLink::editable() const {
    switch (state()) {
    case link::State::Loaded:
    case link::State::Offline:
        return true;
    case link::State::Loading:
        return m_monitor->isResuming();
    default:
        return false;
    }
}

QString PhoneLink::reasonText() const {
    return link::reasonText(state(), m_monitor->refusal(), m_monitor->timings().maxNoteChars);
}

QString PhoneLink::syncStatusText() const {
    switch (state()) {
    case link::State::NoNote:
        return QCoreApplication::translate("Link", "手机上没有打开纯文本便签");
    case link::State::Loading:
        return m_monitor->isResuming() ? m_sync->statusText()
                                       : QCoreApplication::translate("Link", "正在载入便签…");
    case link::State::Loaded:
    case link::State::Offline:
        return m_sync->statusText();
    default:
        return {};
    }
}

void PhoneLink::setConflictText(const QString& text) {
    if (m_conflictText == text)
        return;
    m_conflictText = text;
    emit conflictTextChanged();
}

void PhoneLink::restoreLocalText() {
    if (m_conflictText.isEmpty())
        return;
    const QString local = m_conflictText;
    setConflictText(QString());
    emit assignEditorText(local);
}

void PhoneLink::dismissConflict() {
    setConflictText(QString());
}

const PushQueue* PhoneLink::pushQueue() const {
    return m_sync->pushQueue();
}

void PhoneLink::updateIp(const QString& ip) {
    if (!m_attrs)
        return;
    m_attrs->setIp(ip);
    if (m_monitor->addressChanged())
        emit automaticUpdateCheckRequested();
}

void PhoneLink::onNoteLoaded(const QJsonValue& noteId, const QString& content) {
    const NoteSync::Arrival arrival = m_sync->noteArrived(noteId, content);
    emit assignEditorText(arrival.text);
    // The editor may have held that text already: then no change notified the push.
    m_sync->pushIfUnconfirmed();
    if (arrival.conflict) {
        // Never silently: the local text is offered, and one redo away.
        m_attrs->history()->addToOutStack(arrival.localText);
        setConflictText(arrival.localText);
    }
}

void PhoneLink::justUpdateContent(const QString& content) {
    if (!m_sync->takeEditorText(content) || !m_attrs)
        return;
    m_attrs->history()->addToInStack(content);
    m_sync->pushContent();
}

void PhoneLink::justUpdateContent(const QString& content, int position, int charsRemoved,
                                  int charsAdded) {
    if (!m_sync->takeEditorText(content, NoteChange{position, charsRemoved, charsAdded}) ||
        !m_attrs)
        return;
    m_attrs->history()->addToInStack(content, position, charsRemoved, charsAdded);
    m_sync->pushContent();
}

void PhoneLink::postSelection(int start, int end) {
    m_sync->pushSelection(start, end);
}

void PhoneLink::postToSaveNow() {
    m_sync->pushSave();
}

QUrl PhoneLink::fontUrl(const QString& addressText) const {
    if (addressText.isEmpty())
        return {};
    return protocol::requestUrl(addressText, QLatin1String(protocol::kFontsPath));
}

} // namespace tavrin
