// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NoteDocument.h"

#include "app/FreedMemory.h"
#include "link/PhoneLink.h"

#include <QQuickItem>
#include <QQuickTextDocument>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace tavrin {

NoteDocument::NoteDocument(QObject* parent)
    : QObject(parent) {}

QTextDocument* NoteDocument::document() const {
    return m_quickDocument ? m_quickDocument->textDocument() : nullptr;
}

void NoteDocument::setTextDocument(QQuickTextDocument* quickDocument) {
    if (m_quickDocument == quickDocument)
        return;
    if (QTextDocument* old = document())
        disconnect(old, nullptr, this, nullptr);
    m_quickDocument = quickDocument;
    if (QTextDocument* doc = document()) {
        // Whatever the editor holds already is the note, as typed.
        m_mirror.setText(notetext::typedForm(doc->toRawText()));
        m_revision = doc->revision();
        connect(doc, &QTextDocument::contentsChange, this, &NoteDocument::onContentsChange);
    } else {
        m_mirror.setText(QString());
    }
    emit textDocumentChanged();
}

void NoteDocument::setLink(PhoneLink* link) {
    if (m_link == link)
        return;
    if (m_link)
        disconnect(m_link, nullptr, this, nullptr);
    m_link = link;
    if (m_link)
        connect(m_link, &PhoneLink::syncStatusChanged, this, [this] { m_freedMemory.moved(); });
    emit linkChanged();
}

int NoteDocument::notePosition(int documentPosition) const {
    return m_mirror.notePosition(documentPosition);
}

int NoteDocument::documentPosition(int notePosition) const {
    return m_mirror.documentPosition(notePosition);
}

void NoteDocument::setText(const QString& text) {
    // The same text again changes nothing, not even its line breaks.
    if (text == m_mirror.text())
        return;
    m_mirror.setText(text);
    QTextDocument* doc = document();
    if (doc) {
        const QString shown = notetext::displayForm(text);
        m_settingText = true;
        m_documentChanged = false;
        // Through the editor, which resets its cursor and undo as for any text it is given.
        if (auto* editor = qobject_cast<QQuickItem*>(m_quickDocument->parent()))
            editor->setProperty("text", shown);
        // The editor skips a text that reads the same as its own, yet a U+2028
        // or an NBSP may stand where the note now has a LF or a space.
        if (!m_documentChanged) {
            QString raw = shown;
            std::replace(raw.begin(), raw.end(), QChar(QLatin1Char('\n')),
                         notetext::kParagraphSeparator);
            if (doc->toRawText() != raw)
                doc->setPlainText(shown);
        }
        m_settingText = false;
        m_revision = doc->revision();
    }
    m_freedMemory.moved();
    if (m_link)
        m_link->justUpdateContent(m_mirror.text());
}

void NoteDocument::onContentsChange(int position, int removed, int added) {
    QTextDocument* doc = document();
    if (m_settingText || !doc) {
        m_documentChanged = true;
        return;
    }
    // The editor also reports layout-only changes (a preedit string, the
    // whole document each time): no new revision, no new text.
    const int revision = doc->revision();
    if (removed == added && revision == m_revision)
        return;
    m_revision = revision;

    // Reports count the document's last separator, which is not text.
    const int oldLength = m_mirror.documentLength();
    const int newLength = doc->characterCount() - 1;
    removed = std::min(position + removed, oldLength) - position;
    added = removed + newLength - oldLength;
    if (position < 0 || removed < 0 || added < 0 || position + added > newLength) {
        position = 0;
        removed = oldLength;
        added = newLength;
    }
    QTextCursor cursor(doc);
    cursor.setPosition(position);
    cursor.setPosition(position + added, QTextCursor::KeepAnchor);
    const QString inserted = cursor.selectedText();
    const NoteChange change = m_mirror.apply(position, removed, inserted);
    if (change.removed == 0 && change.added == 0)
        return;
    m_freedMemory.moved();
    if (m_link)
        m_link->justUpdateContent(m_mirror.text(), change.position, change.removed, change.added);
}

} // namespace tavrin
