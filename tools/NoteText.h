// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>
#include <vector>

namespace tavrin {

// How a text document holds a note. QTextDocument keeps most characters as
// they are (NBSP, U+2028, BOM, NUL, lone and paired surrogates), but turns
// every LF, CR, CR LF, U+2029, U+FDD0 and U+FDD1 into one paragraph
// separator (U+2029). So the note and the document differ in two ways only:
// which line-break character a separator stands for, and CR LF, which is two
// units in the note and one in the document.
namespace notetext {

constexpr QChar kParagraphSeparator{0x2029};

// Characters the document turns into a paragraph separator.
inline bool breaksParagraph(QChar c) {
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1;
}

// The note as the document should be given it: each paragraph break as LF,
// a CR LF as one LF, every other character as it is.
QString displayForm(QStringView note);

// A text as typed into the document (or read from it): a paragraph separator
// is a typed line break, LF; everything else stays.
QString typedForm(QStringView documentText);

} // namespace notetext

// One change of the note, in note positions (UTF-16 units of the exact text).
struct NoteChange {
    int position = 0;
    int removed = 0;
    int added = 0;
};

// The exact note text next to the document that shows it, kept in step from
// the document's change reports. Document positions map to note positions
// through the list of paragraph separators that stand for a CR LF; an edit
// costs the size of the change plus one pass over that list.
class NoteMirror {
public:
    // The exact text; the document is to be given displayForm(text).
    void setText(const QString& text);
    const QString& text() const { return m_text; }
    // Length of the document's text (its characters without the last separator).
    int documentLength() const { return m_text.size() - int(m_crlfAt.size()); }

    // A note position for a document position, and back; positions inside a
    // CR LF map to its start. Both are clamped to the texts.
    int notePosition(int documentPosition) const;
    int documentPosition(int notePosition) const;

    // The document changed at `position`: `removed` characters became
    // `inserted` (read from the document, paragraph separators as U+2029).
    // The ends of the range the document shows unchanged keep their exact
    // characters (documents report wider ranges than what changed); the rest
    // is taken as typed. Returns the change of the note; an empty one when
    // nothing changed. The range must fit the document: position +
    // removed <= documentLength().
    NoteChange apply(int position, int removed, QStringView inserted);

    // How the document shows the note character at note index `i`, as the
    // document's text holds it (U+2029 for a break).
    QChar shownAt(int noteIndex) const;

private:
    // Index into m_crlfAt of the first CR LF at or after document position `pos`.
    int firstCrlfFrom(int documentPosition) const;
    // Note index of the character the document holds at `documentPosition`.
    int noteIndexAt(int documentPosition) const;

    QString m_text;
    // Document positions of the separators that stand for a CR LF, ascending.
    std::vector<int> m_crlfAt;
};

} // namespace tavrin
