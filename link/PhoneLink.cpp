#include "link/PhoneLink.h"

#include "link/Protocol.h"
#include "state/Attrs.h"
#include "tools/History.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace tavrin {

namespace {

int statusOf(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString bodyOf(QNetworkReply* reply) {
    return protocol::decodeBody(reply->readAll(), reply->rawHeader("Content-Type"));
}

} // namespace

QString PhoneLink::unreachableHint() {
    return QStringLiteral("请长按便签APP的扫码按钮启动服务");
}

QString PhoneLink::noNoteHint() {
    return QStringLiteral("请打开一篇纯文本便签");
}

bool PhoneLink::isHintText(const QString& text) {
    return text == unreachableHint() || text == noNoteHint();
}

PhoneLink::PhoneLink(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_pushes(new PushQueue(m_network, this))
    , m_countDown(new QTimer(this)) {
    m_countDown->setObjectName(QStringLiteral("countDown"));
    m_countDown->setInterval(kHeartbeatIntervalMs);
    connect(m_countDown, &QTimer::timeout, this, &PhoneLink::heartBeat);
    connect(m_pushes, &PushQueue::pushFinished, this, &PhoneLink::onPushFinished);
}

void PhoneLink::setAttrs(Attrs* attrs) {
    if (m_attrs == attrs)
        return;
    m_attrs = attrs;
    emit attrsChanged();
}

void PhoneLink::updateIp(const QString& ip) {
    if (!m_attrs)
        return;
    m_attrs->setIp(ip);
    if (m_countDown->isActive())
        return;
    m_countDown->start();
    // The first tick comes at once, but from the event loop: the update check
    // below is sent before the first heartbeat.
    QTimer::singleShot(0, this, [this] {
        if (m_countDown->isActive())
            heartBeat();
    });
    emit automaticUpdateCheckRequested();
}

void PhoneLink::heartBeat() {
    httpForHeartBeat();
}

QUrl PhoneLink::urlFor(const char* path) const {
    return protocol::requestUrl(*m_attrs->ip(), QLatin1String(path));
}

QNetworkReply* PhoneLink::get(const char* path, int timeoutMs) {
    QNetworkRequest request(urlFor(path));
    request.setRawHeader(protocol::kContentTypeName, protocol::kContentTypeValue);
    // The timeout also counts the time a request waits for a free connection.
    request.setTransferTimeout(timeoutMs);
    return m_network->get(request);
}

void PhoneLink::httpForHeartBeat() {
    if (!m_attrs || !m_attrs->ip())
        return;
    // A phone that accepts connections but never answers must not pile up
    // requests; the timeout keeps this bound from being reached in practice.
    if (m_outstandingHeartbeats >= kMaxOutstandingHeartbeats)
        return;
    QNetworkReply* reply = get(protocol::kHeartBeatPath, kHeartbeatTimeoutMs);
    ++m_outstandingHeartbeats;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        --m_outstandingHeartbeats;
        reply->deleteLater();
        onHeartbeatFinished(reply);
    });
}

void PhoneLink::onHeartbeatFinished(QNetworkReply* reply) {
    if (!m_attrs)
        return;
    if (statusOf(reply) != 200) {
        onHeartbeatFailed();
        return;
    }
    const std::optional<protocol::HeartbeatAnswer> answer = protocol::parseHeartbeat(bodyOf(reply));
    if (!answer)
        return;

    const QJsonValue heldId = m_attrs->noteId();
    const bool noteChanged = !sameNoteId(heldId, answer->noteId);
    m_attrs->setNoteId(answer->noteId);
    if (answer->markdown)
        m_attrs->setMarkdown(*answer->markdown);

    if (m_attrs->noteIdIsZero()) {
        rememberUnsyncedEdits(heldId);
        emit assignEditorText(noNoteHint());
        m_attrs->setLoadOk(false);
        emit showIpInputViewRequested(false);
        return;
    }
    if (noteChanged) {
        rememberUnsyncedEdits(heldId);
        m_resendPending = false;
        m_attrs->history()->clearStack();
        emit showIpInputViewRequested(false);
        reloadIvBg();
        loadNote();
        return;
    }
    const std::optional<QString> count = protocol::charCountText(answer->charCount);
    setCharCountText(count ? QVariant(*count) : QVariant());
    resendContentIfNeeded();
}

void PhoneLink::onHeartbeatFailed() {
    rememberUnsyncedEdits(m_attrs->noteId());
    m_attrs->setNoteId(QJsonValue(0));
    m_attrs->setLoadOk(false);
    emit showIpInputViewRequested(true);
    emit assignEditorText(unreachableHint());
}

void PhoneLink::setCharCountText(const QVariant& text) {
    if (m_charCountText == text && m_charCountText.isNull() == text.isNull())
        return;
    m_charCountText = text;
    emit charCountTextChanged();
}

void PhoneLink::loadNote() {
    httpForLoadNote();
}

void PhoneLink::httpForLoadNote() {
    if (!m_attrs || m_attrs->noteIdIsZero())
        return;
    m_attrs->setLoadOk(false);
    if (!m_attrs->ip())
        return;
    QNetworkReply* reply = get(protocol::kGetNotePath, kLoadTimeoutMs);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        onLoadFinished(reply);
    });
}

void PhoneLink::onLoadFinished(QNetworkReply* reply) {
    if (!m_attrs)
        return;
    if (statusOf(reply) != 200) {
        rememberUnsyncedEdits(m_attrs->noteId());
        emit showIpInputViewRequested(true);
        m_attrs->setLoadOk(false);
        emit assignEditorText(unreachableHint());
        return;
    }
    const std::optional<protocol::NoteLoadAnswer> answer = protocol::parseNoteLoad(bodyOf(reply));
    if (!answer)
        return;
    if (answer->kind != protocol::NoteLoadAnswer::Kind::Note) {
        // No note given, or an answer that breaks the protocol: nothing of it
        // may become the note, so nothing is pushed until the next change of note.
        rememberUnsyncedEdits(m_attrs->noteId());
        m_attrs->setLoadOk(false);
        emit showIpInputViewRequested(true);
        return;
    }
    m_attrs->setLoadOk(true);
    emit showIpInputViewRequested(false);
    m_attrs->setNoteId(answer->noteId);
    m_attrs->setMarkdown(answer->markdown);
    m_confirmedText = answer->content;
    emit assignEditorText(answer->content);
    offerUnsyncedEdits(answer->noteId, answer->content);
}

void PhoneLink::reloadIvBg() {
    if (!m_attrs || !m_attrs->ip())
        return;
    // Clearing first makes the second assignment a change even for the same address.
    m_backgroundSource = QUrl();
    emit backgroundSourceChanged();
    m_backgroundSource = urlFor(protocol::kBgPicturePath);
    emit backgroundSourceChanged();
}

void PhoneLink::justUpdateContent(const QString& content) {
    // Every real change differs from the text before it (the editor starts
    // empty); the editor can raise a change notification of its own without
    // one (it does so when selecting).
    if (content == m_editorText)
        return;
    m_editorText = content;
    if (!m_attrs)
        return;
    m_attrs->history()->addToInStack(content);
    if (m_attrs->noteIdIsZero() || !m_attrs->isLoadOk())
        return;
    sendContent(content);
}

void PhoneLink::sendContent(const QString& content) {
    // The link's own status texts are never the note's content.
    if (!m_attrs->ip() || isHintText(content))
        return;
    const std::optional<QByteArray> body = protocol::contentBody(m_attrs->noteId(), content);
    if (!body)
        return; // a lone surrogate cannot be encoded; the next change goes as usual
    m_lastQueuedContent = content;
    m_lastQueuedNoteId = m_attrs->noteId();
    m_pushes->enqueue(PushQueue::Kind::Content, urlFor(protocol::kModifyContentPath), *body,
                      ++m_contentSeq);
}

void PhoneLink::postSelection(int start, int end) {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->ip())
        return;
    m_pushes->enqueue(PushQueue::Kind::Selection, urlFor(protocol::kUpdateSelectionPath),
                      protocol::selectionBody(m_attrs->noteId(), start, end));
}

void PhoneLink::postToSaveNow() {
    if (!m_attrs || m_attrs->noteIdIsZero() || !m_attrs->ip())
        return;
    m_pushes->enqueue(PushQueue::Kind::Save, urlFor(protocol::kSaveNowPath),
                      protocol::saveBody(m_attrs->noteId()));
}

void PhoneLink::onPushFinished(PushQueue::Kind kind, bool ok, quint64 token) {
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

void PhoneLink::resendContentIfNeeded() {
    if (!m_resendPending || !m_attrs->isLoadOk() || !sameNoteId(m_resendNoteId, m_attrs->noteId()))
        return;
    m_resendPending = false;
    sendContent(m_editorText);
}

void PhoneLink::rememberUnsyncedEdits(const QJsonValue& noteId) {
    // Called before the link lets go of the note: only a loaded note has edits.
    if (!m_attrs->isLoadOk() || m_editorText == m_confirmedText || isHintText(m_editorText))
        return;
    m_unsynced = UnsyncedEdits{noteId, m_editorText};
}

void PhoneLink::offerUnsyncedEdits(const QJsonValue& noteId, const QString& loadedContent) {
    if (!m_unsynced)
        return;
    // The reload replaced the text typed before the drop: redo brings it back.
    if (sameNoteId(m_unsynced->noteId, noteId) && m_unsynced->text != loadedContent)
        m_attrs->history()->addToOutStack(m_unsynced->text);
    m_unsynced.reset();
}

} // namespace tavrin
