// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/FreedMemory.h"
#include "link/PhoneLink.h"
#include "tools/NoteText.h"

#include <QObject>
#include <QPointer>
#include <QQuickTextDocument>
#include <QString>

class QTextDocument;

namespace tavrin {

// The note as the editor holds it: bound to a TextEdit's textDocument, it
// keeps the exact note text (line breaks, NBSP and all, as the phone sent it)
// in step with every change of the document, at the cost of the change, and
// hands each change to the link (recorded, then pushed) as it happens.
// Texts from outside (a load, the history, the reformatting tools) come in
// through setText(): the note takes them exactly, the editor their shown form.
class NoteDocument : public QObject {
    Q_OBJECT
    Q_PROPERTY(QQuickTextDocument* textDocument READ textDocument WRITE setTextDocument NOTIFY
                   textDocumentChanged)
    Q_PROPERTY(tavrin::PhoneLink* link READ link WRITE setLink NOTIFY linkChanged)
    // Read when needed (the reformatting tools); no binding follows it.
    Q_PROPERTY(QString text READ text STORED false)

public:
    explicit NoteDocument(QObject* parent = nullptr);

    QQuickTextDocument* textDocument() const { return m_quickDocument; }
    void setTextDocument(QQuickTextDocument* document);
    PhoneLink* link() const { return m_link; }
    void setLink(PhoneLink* link);

    const QString& text() const { return m_mirror.text(); }
    Q_INVOKABLE void setText(const QString& text);

    // Editor (document) positions and note positions, which differ after a CR LF.
    Q_INVOKABLE int notePosition(int documentPosition) const;
    Q_INVOKABLE int documentPosition(int notePosition) const;

signals:
    void textDocumentChanged();
    void linkChanged();

private:
    void onContentsChange(int position, int removed, int added);
    QTextDocument* document() const;

    QPointer<QQuickTextDocument> m_quickDocument;
    QPointer<PhoneLink> m_link;
    NoteMirror m_mirror;
    FreedMemory m_freedMemory;
    // setText() is changing the document: those reports are not edits.
    bool m_settingText = false;
    bool m_documentChanged = false;
    int m_revision = -1;
};

} // namespace tavrin
