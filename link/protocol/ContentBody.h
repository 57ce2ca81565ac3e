// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <vector>

namespace tavrin::protocol {

// The body of a content push (what contentBody() makes), kept in step with a
// note change by change: a change re-encodes the few pieces of the note
// around it and moves the rest of the body in place, so a keystroke costs a
// piece of the note, not the whole of it, and no new buffer while the last
// body has been let go.
class ContentBodyCache {
public:
    // Characters per piece; a piece that grows beyond twice this is split.
    static constexpr int kPieceChars = 1024;

    // Encodes the whole note for this id.
    void reset(const QJsonValue& id, const QString& content);
    // `content` is the note after a change at `position` (UTF-16 units) of
    // `removed` units of text() by `added` units.
    void apply(const QString& content, int position, int removed, int added);

    // The note the body is for; text() == the note and id() == the id means
    // the body is up to date.
    const QString& text() const { return m_text; }
    const QJsonValue& id() const { return m_id; }
    // contentBody(id(), text()): nullopt when it cannot be sent exactly.
    std::optional<QByteArray> body() const;

private:
    struct Piece {
        int chars;
        int bytes;
    };

    void encodePieces(int start, int chars, QByteArray* encoded, std::vector<Piece>* pieces) const;

    QJsonValue m_id = QJsonValue::Undefined;
    QString m_text;
    QByteArray m_body;
    int m_prefixBytes = 0; // "noteId=…&content="
    std::vector<Piece> m_pieces;
    bool m_sendable = false;
};

} // namespace tavrin::protocol
