// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include "app/AddressValidator.h"
#include "state/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace tavrin {

CommandLine readCommandLine(const QStringList& arguments, bool strict) {
    QCommandLineParser parser;
    // Options are words after one dash as well, like Qt's own (-platform, -reverse): read as
    // letters, -reverse would hold -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QCoreApplication::translate(
        "tavrin::CommandLine", "用电脑的键盘和屏幕编辑手机上打开的便签。"));
    // Our own --help: Qt's would also offer --help-all, whose Qt options need the GUI.
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")},
        QCoreApplication::translate("tavrin::CommandLine", "显示本帮助。"));
    const QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")},
        QCoreApplication::translate("tavrin::CommandLine", "显示版本号。"));
    parser.addOption(help);
    parser.addOption(version);
    const QCommandLineOption address(
        QStringLiteral("address"),
        QCoreApplication::translate("tavrin::CommandLine",
                                    "启动时连接这个地址的手机，如同在地址栏输入了它。"),
        QCoreApplication::translate("tavrin::CommandLine", "地址"));
    parser.addOption(address);

    CommandLine line;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::ShowHelp;
        line.output = parser.helpText();
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::Action::ShowVersion;
        line.output =
            QStringLiteral("%1 %2\n").arg(QLatin1String(kProgramName), QLatin1String(kVersionName));
        return line;
    }

    auto fail = [&line](const QString& message) {
        line.action = CommandLine::Action::Fail;
        line.address.clear();
        line.output =
            message + QLatin1Char('\n') +
            QCoreApplication::translate("tavrin::CommandLine", "用 --help 查看可用的选项。") +
            QLatin1Char('\n');
        return line;
    };
    // An unknown option may be one of Qt's until the application object has taken them out;
    // a missing value is wrong at once.
    if (!parsed && (strict || parser.unknownOptionNames().isEmpty()))
        return fail(parser.errorText());
    if (strict && !parser.positionalArguments().isEmpty()) {
        return fail(QCoreApplication::translate("tavrin::CommandLine", "多余的参数：%1")
                        .arg(parser.positionalArguments().join(QLatin1Char(' '))));
    }
    if (parser.isSet(address)) {
        line.address = parser.value(address);
        if (!AddressValidator::isValidIP(line.address)) {
            return fail(QCoreApplication::translate("tavrin::CommandLine", "不是有效的地址：%1")
                            .arg(line.address));
        }
    }
    return line;
}

} // namespace tavrin
