// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// The scene's own diagnostics (key names of the reformatting shortcuts).
Q_DECLARE_LOGGING_CATEGORY(lcUi)
// Start-up: the command line and the languages chosen.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)
