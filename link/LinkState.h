// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the phone link knows of the phone, as one value, and the timings of its
// requests. The scene's screens follow the state.

#include <QJsonValue>
#include <QLoggingCategory>
#include <QObject>
#include <QUrl>

namespace tavrin {

class Attrs;

namespace link {
Q_NAMESPACE

enum class State {
    NoAddress,   // no valid address entered yet
    Connecting,  // an address, no heartbeat answered yet
    Unreachable, // the last heartbeat or note load failed
    NoNote,      // the phone answers but has no plain-text note open
    Loading,     // a note is open on the phone and being loaded
    Loaded,      // the note is in the editor; edits go to the phone
    Refused,     // the phone answered the load without a usable note
    Offline,     // the phone of a loaded note went away: the note stays, its edits are kept
};
Q_ENUM_NS(State)

// The connection screen shows in these states, the editor screen in the others.
bool showsConnectionScreen(State state);

struct Timings {
    int heartbeatIntervalMs = 1000;
    // A phone that vanishes without closing its connections is noticed this
    // long after the last heartbeat was sent.
    int heartbeatTimeoutMs = 3000;
    int loadTimeoutMs = 10000;
    int pushTimeoutMs = 5000;
    // A phone that accepts connections but never answers must not pile up
    // heartbeats; the timeout keeps this bound from being reached in practice.
    int maxOutstandingHeartbeats = 4;
    // A content push the phone refused goes again after this, doubling up to the maximum.
    int pushRetryMinMs = 1000;
    int pushRetryMaxMs = 30000;
    // Unconfirmed edits reach the journal on disk this long after a change.
    int journalDelayMs = 500;
    // A push answered within this long leaves the status line as it was (no
    // "sending" flashing at every keystroke, no repaint of the window for it).
    int showSendingAfterMs = 500;
    // The longest note (UTF-16 units) the editor takes: loading one this long
    // blocks the window for about 0.9 s on a 2-core machine (1 M: 1.15 s).
    int maxNoteChars = 750000;
};

// Why the connection screen shows, or why no note is in the editor.
enum class Refusal {
    None,
    NoNoteGiven, // the phone answered the load with no note
    BrokenNote,  // the load answer is not a note the link can use
    Unsendable,  // the note or its id cannot be sent back exactly (half a surrogate pair)
    Undecodable, // the answer's charset is unknown, or its bytes are not text in it
    TooLarge,    // the note is longer than the editor can take and stay responsive
};


// `path` on the note server at the address the record holds; empty without one.
QUrl noteServerUrl(const Attrs& attrs, const char* path);

// The link's own status texts, shown in the editor instead of a note.
QString unreachableHint();
QString noNoteHint();
bool isHintText(const QString& text);

// The line under the address box for a state; empty when nothing needs saying.
QString reasonText(State state, Refusal refusal, int maxNoteChars = Timings{}.maxNoteChars);

} // namespace link
} // namespace tavrin

Q_DECLARE_LOGGING_CATEGORY(lcLink)
