// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The misbehaviours of the simulator's console ("misbehave <path|all> <mode> [args...]"): ways
// of answering badly, each applied to the answer the phone would give.

#include "sim/NoteServer.h"

#include <QString>

#include <optional>

namespace tavrin::sim {

class Misbehaviour {
public:
    // Parses "<mode> [args...]"; nullopt, with the reason in *error, when it names no mode or
    // its arguments do not fit.
    static std::optional<Misbehaviour> parse(const QString& modeAndArguments, QString* error);

    // The phone's own answer, misbehaving.
    Reply apply(const Reply& normal) const;
    // The mode and its arguments, as typed.
    QString text() const { return m_text; }

    // The modes and their arguments, one a line, for the console's help.
    static QString modesHelp();
    // The path a console word names: a path as is ("/desktop/fonts"), or one of the short
    // names heartbeat, note, content, selection, save, background, font; empty for others.
    static QString pathNamed(const QString& word);

private:
    enum class Mode { Drip, Chunked, Stall, Reset, Lie, Redirect, Charset, Gzip, Bomb, Raw };

    Mode m_mode = Mode::Gzip;
    QString m_text;
    qint64 m_count = 0;   // bytes per piece, bytes before the stall or reset, length, status
    int m_intervalMs = 0; // drip and chunked
    bool m_chunked = false;
    QByteArray m_bytes; // the chunk, the location, the charset, the raw answer, the bomb
    QByteArray m_label; // the charset label
};

} // namespace tavrin::sim
