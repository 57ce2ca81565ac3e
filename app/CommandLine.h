// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace tavrin {

// What the command line asks for.
struct CommandLine {
    enum class Action {
        Run,         // start the window
        ShowHelp,    // print `output` to stdout and exit 0
        ShowVersion, // the same
        Fail,        // print `output` to stderr and exit 1
    };

    Action action = Action::Run;
    // --address: connect to this phone at start; empty for none. Always valid when the action
    // is Run.
    QString address;
    QString output;
};

// Reads the program's arguments (the first is the program). Before the GUI exists, Qt's own
// options (-platform, -style, ...) are still among them: `strict` false lets options that are
// not the program's pass, so that --help and --version work without a display; once the
// application object has taken out its own, `strict` reports every unknown option.
CommandLine readCommandLine(const QStringList& arguments, bool strict);

} // namespace tavrin
