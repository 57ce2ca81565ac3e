// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the update server's answer says, read from its text. A pure function,
// apart from the checker, so that any text can be put to it.

#include <QString>

namespace tavrin::update {

// The answer comes within this long, or the check failed.
inline constexpr int kCheckTimeoutMs = 10000;
// An answer is a short JSON object with at most an upgrade note: larger ones fail.
inline constexpr qint64 kMaxAnswerBytes = 64 * 1024;

struct UpdateAnswer {
    enum class Kind {
        Nothing,    // not a JSON object, or nothing to show in it
        NewVersion, // `code` the number 1 with a non-empty `data.upgradeNote`: `text`
        Message,    // `code` anything else, with a non-empty `msg`: `text` (manual checks)
    };
    Kind kind = Kind::Nothing;
    QString text;
};

// Reads the body of a 200 answer.
UpdateAnswer readUpdateAnswer(const QString& body);

} // namespace tavrin::update
