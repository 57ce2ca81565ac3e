// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/protocol/ContentBody.h"

#include "link/protocol/Protocol.h"

namespace tavrin::protocol {

namespace {

// A piece never ends between the two halves of a surrogate pair.
int pieceEnd(const QString& text, int start, int chars) {
    int end = start + chars;
    if (text[end - 1].isHighSurrogate() && text[end].isLowSurrogate())
        ++end;
    return end;
}

} // namespace

void ContentBodyCache::encodePieces(int start, int chars, QByteArray* encoded,
                                    std::vector<Piece>* pieces) const {
    // Pieces of about kPieceChars; a short remainder joins the last piece.
    const int end = start + chars;
    while (start < end) {
        const int stop = end - start <= 2 * kPieceChars ? end : pieceEnd(m_text, start, kPieceChars);
        const std::optional<QByteArray> bytes =
            encodeURIComponent(QStringView(m_text).mid(start, stop - start));
        if (!bytes) {
            pieces->clear();
            encoded->clear();
            return;
        }
        encoded->append(*bytes);
        pieces->push_back({stop - start, int(bytes->size())});
        start = stop;
    }
}

void ContentBodyCache::reset(const QJsonValue& id, const QString& content) {
    m_id = id;
    m_text = content;
    m_pieces.clear();
    m_body.clear();
    // The id's part, then the whole note in pieces.
    const std::optional<QByteArray> empty = contentBody(id, QString());
    m_sendable = empty.has_value();
    if (!m_sendable)
        return;
    m_body = *empty;
    m_prefixBytes = int(m_body.size());
    QByteArray encoded;
    encodePieces(0, int(content.size()), &encoded, &m_pieces);
    m_sendable = !m_pieces.empty() || content.isEmpty();
    m_body += encoded;
}

void ContentBodyCache::apply(const QString& content, int position, int removed, int added) {
    const int oldSize = int(m_text.size());
    if (!m_sendable || position < 0 || removed < 0 || added < 0 || position + removed > oldSize ||
        oldSize - removed + added != content.size() || m_pieces.empty()) {
        reset(m_id, content);
        return;
    }
    // The pieces the change touches. They end between whole characters, so a
    // pair split or joined by the change is inside the text encoded again,
    // and found out there.
    int first = 0;
    int firstStart = 0;
    int firstByte = m_prefixBytes;
    while (first + 1 < int(m_pieces.size()) && firstStart + m_pieces[first].chars <= position) {
        firstStart += m_pieces[first].chars;
        firstByte += m_pieces[first].bytes;
        ++first;
    }
    int last = first;
    int chars = m_pieces[first].chars;
    int bytes = m_pieces[first].bytes;
    while (last + 1 < int(m_pieces.size()) && firstStart + chars < position + removed) {
        ++last;
        chars += m_pieces[last].chars;
        bytes += m_pieces[last].bytes;
    }

    m_text = content;
    QByteArray encoded;
    std::vector<Piece> pieces;
    const int newChars = chars - removed + added;
    encodePieces(firstStart, newChars, &encoded, &pieces);
    if (pieces.empty() && newChars > 0) {
        m_sendable = false; // a lone surrogate: sent again once the note is whole
        return;
    }
    m_body.replace(firstByte, bytes, encoded);
    m_pieces.erase(m_pieces.begin() + first, m_pieces.begin() + last + 1);
    m_pieces.insert(m_pieces.begin() + first, pieces.begin(), pieces.end());
}

std::optional<QByteArray> ContentBodyCache::body() const {
    if (!m_sendable)
        return std::nullopt;
    return m_body;
}

} // namespace tavrin::protocol
