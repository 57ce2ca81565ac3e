// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/Attrs.h"

#include "state/Version.h"
#include "tools/History.h"

namespace tavrin {

bool sameNoteId(const QJsonValue& a, const QJsonValue& b) {
    // QJsonValue's own equality already compares type first; Undefined equals
    // only Undefined, and a number never equals a string.
    return a == b;
}

Attrs::Attrs(QObject* parent)
    : QObject(parent)
    , m_history(new History(this)) {
    connect(m_history, &History::inStackChanged, this, &Attrs::inStackChanged);
    connect(m_history, &History::outStackChanged, this, &Attrs::outStackChanged);
}

bool Attrs::noteIdIsZero() const {
    return m_noteId.isDouble() && m_noteId.toDouble() == 0.0;
}

void Attrs::setNoteId(const QJsonValue& id) {
    if (sameNoteId(m_noteId, id))
        return;
    m_noteId = id;
    m_history->setActive(!noteIdIsZero());
    emit noteIdChanged();
}

void Attrs::setIp(const QString& ip) {
    if (m_ip == ip)
        return;
    m_ip = ip;
    emit ipChanged();
}

void Attrs::setMarkdown(bool markdown) {
    if (m_markdown == markdown)
        return;
    m_markdown = markdown;
    emit isMarkdownChanged();
}

void Attrs::setLoadOk(bool loadOk) {
    if (m_loadOk == loadOk)
        return;
    m_loadOk = loadOk;
    emit isLoadOkChanged();
}

int Attrs::versionCode() const {
    return kVersionCode;
}

QString Attrs::versionName() const {
    return QString::fromLatin1(kVersionName);
}

QStringList Attrs::inStack() const {
    return m_history->inStack();
}

QStringList Attrs::outStack() const {
    return m_history->outStack();
}

} // namespace tavrin
