// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs an outside tool (cmake, cpack, a validator) for a test and prints what it said, so a
// failing check shows the tool's own words in the test log.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ToolRun {
    // The exit code, or -1 when the tool did not start, crashed or ran out of time.
    int exitCode = -1;
    // Standard output and standard error, merged.
    QString output;

    bool succeeded() const { return exitCode == 0; }
};

ToolRun runTool(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                int timeoutMs = 60000);
