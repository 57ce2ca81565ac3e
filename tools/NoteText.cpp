// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/NoteText.h"

#include <algorithm>

namespace tavrin {

namespace notetext {

QString displayForm(QStringView note) {
    QString shown;
    shown.reserve(note.size());
    for (int i = 0; i < note.size(); ++i) {
        const QChar c = note[i];
        if (c == QLatin1Char('\r') && i + 1 < note.size() && note[i + 1] == QLatin1Char('\n'))
            continue; // the LF that follows stands for both
        shown.append(breaksParagraph(c) ? QChar(QLatin1Char('\n')) : c);
    }
    return shown;
}

QString typedForm(QStringView documentText) {
    QString typed = documentText.toString();
    for (QChar& c : typed) {
        if (breaksParagraph(c))
            c = QLatin1Char('\n');
    }
    return typed;
}

} // namespace notetext

void NoteMirror::setText(const QString& text) {
    m_text = text;
    m_crlfAt.clear();
    const QChar* data = text.constData();
    const int size = text.size();
    int crlfs = 0;
    for (int i = 0; i + 1 < size; ++i) {
        if (data[i] == QLatin1Char('\r') && data[i + 1] == QLatin1Char('\n')) {
            m_crlfAt.push_back(i - crlfs);
            ++crlfs;
            ++i;
        }
    }
}

int NoteMirror::firstCrlfFrom(int documentPosition) const {
    return int(std::lower_bound(m_crlfAt.begin(), m_crlfAt.end(), documentPosition) -
               m_crlfAt.begin());
}

int NoteMirror::noteIndexAt(int documentPosition) const {
    return documentPosition + firstCrlfFrom(documentPosition);
}

int NoteMirror::notePosition(int documentPosition) const {
    return noteIndexAt(std::clamp(documentPosition, 0, documentLength()));
}

int NoteMirror::documentPosition(int notePosition) const {
    notePosition = std::clamp(notePosition, 0, int(m_text.size()));
    // The document position p with noteIndexAt(p) <= notePosition < noteIndexAt(p + 1).
    int low = 0;
    int high = documentLength();
    while (low < high) {
        const int mid = low + (high - low + 1) / 2;
        if (noteIndexAt(mid) <= notePosition)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

QChar NoteMirror::shownAt(int noteIndex) const {
    const QChar c = m_text[noteIndex];
    return notetext::breaksParagraph(c) ? notetext::kParagraphSeparator : c;
}

NoteChange NoteMirror::apply(int position, int removed, QStringView inserted) {
    // What the document showed before and shows now agree at both ends of a
    // reported range more often than not: those characters stay exact.
    int added = inserted.size();
    int front = 0;
    while (front < removed && front < added &&
           shownAt(noteIndexAt(position + front)) == inserted[front])
        ++front;
    int back = 0;
    while (back < removed - front && back < added - front &&
           shownAt(noteIndexAt(position + removed - 1 - back)) == inserted[added - 1 - back])
        ++back;
    position += front;
    removed -= front + back;
    added -= front + back;
    if (removed == 0 && added == 0)
        return {notePosition(position), 0, 0};

    const int noteStart = noteIndexAt(position);
    // The next kept character's index: a removed CR LF goes whole.
    const int noteEnd = noteIndexAt(position + removed);
    const QString typed = notetext::typedForm(inserted.mid(front, added));
    m_text.replace(noteStart, noteEnd - noteStart, typed);

    // The CR LFs removed go; those after the range move with it.
    const auto first = m_crlfAt.begin() + firstCrlfFrom(position);
    const auto last = m_crlfAt.begin() + firstCrlfFrom(position + removed);
    const auto after = m_crlfAt.erase(first, last);
    const int shift = added - removed;
    if (shift != 0) {
        for (auto it = after; it != m_crlfAt.end(); ++it)
            *it += shift;
    }
    // A typed LF right after a kept lone CR makes a CR LF in the note that
    // the document holds as two separators: the list, not the text, says
    // which separators are one CR LF, so the mapping stays exact.
    return {noteStart, noteEnd - noteStart, int(typed.size())};
}

} // namespace tavrin
