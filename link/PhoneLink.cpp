#include "link/PhoneLink.h"

#include "link/NoteSync.h"
#include "link/protocol/Protocol.h"
#include "link/transport/Transport.h"
#include "state/Attrs.h"
#include "tools/History.h"

namespace tavrin {

PhoneLink::PhoneLink(QObject* parent)
    : QObject(parent)
    , m_ownTransport(new transport::HttpTransport(this))
    , m_monitor(new ConnectionMonitor(m_ownTransport, this))
    , m_sync(new NoteSync(m_ownTransport, m_monitor->timings().pushTimeoutMs, this)) {

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
    connect(m_monitor, &ConnectionMonitor::noteSwitched, this, [this] {
        m_sync->forgetResend();
        m_attrs->history()->clearStack();
    });
    connect(m_monitor, &ConnectionMonitor::noteStillOpen, m_sync, &NoteSync::resendIfNeeded);
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
    m_sync->pushQueue()->setTimeout(timings.pushTimeoutMs);
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
    m_sync->setConfirmedText(content);
    emit assignEditorText(content);
    m_sync->offerKeptEdits(noteId, content, m_attrs->history());
}

void PhoneLink::justUpdateContent(const QString& content) {
    if (!m_sync->takeEditorText(content) || !m_attrs)
        return;
    m_attrs->history()->addToInStack(content);
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
