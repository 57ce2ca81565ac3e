// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ToolRun.h"

#include <QDebug>
#include <QProcess>

ToolRun runTool(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);

    ToolRun run;
    const QString commandLine = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    if (!process.waitForStarted()) {
        qWarning().noquote() << "could not start" << commandLine << ':' << process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        qWarning().noquote() << commandLine << "did not finish within" << timeoutMs << "ms";
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.output = QString::fromLocal8Bit(process.readAll());
    qInfo().noquote() << QStringLiteral("$ %1\n%2\n[exit %3]")
                             .arg(commandLine, run.output.trimmed(), QString::number(run.exitCode));
    return run;
}
