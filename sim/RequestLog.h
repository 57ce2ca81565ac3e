// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One line of the simulator's log for each request served.

#include "sim/NoteServer.h"

#include <QString>

namespace tavrin::sim {

// "HH:mm:ss.zzz METHOD PATH STATUS request-summary -> answer-summary"; STATUS is "drop" when
// no answer was written. A misbehaving answer adds "[how; N bytes written, how it ended]".
QString requestLogLine(const Request& request, const Served& served);

// The text cut to at most maxLength characters (an ellipsis marks the cut), line breaks
// shown as "\n".
QString abbreviated(const QString& text, int maxLength);

} // namespace tavrin::sim
