// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The reformatting functions written as regular-expression replacements, the
// form that defines them. Slow but obviously right: the scanners in
// Reformat.cpp are checked and measured against it. Not used by the program.

#include "tools/Reformat.h"

#include <QRegularExpression>
#include <QString>
#include <QStringView>

namespace tavrin::reformat::regex_form {

inline const QRegularExpression& blankLinePattern() {
    static const QRegularExpression pattern(QStringLiteral("\n(\n)*( )*(\n)*\n"));
    return pattern;
}

inline const QRegularExpression& trailingSpacePattern() {
    static const QRegularExpression pattern(QStringLiteral("(  )*\n"));
    return pattern;
}

inline const QRegularExpression& lineBreakPattern() {
    static const QRegularExpression pattern(QStringLiteral("[\n\r]"));
    return pattern;
}

inline const QRegularExpression& tabPattern() {
    static const QRegularExpression pattern(QStringLiteral("\t+"));
    return pattern;
}

inline const QRegularExpression& ideographicSpacePattern() {
    static const QRegularExpression pattern(QStringLiteral("\u3000"));
    return pattern;
}

inline QString autoFormatPlain(QStringView text) {
    QString result = text.toString();
    result.remove(tabPattern());
    result.remove(ideographicSpacePattern());
    result.replace(blankLinePattern(), QStringLiteral("\n"));
    result.replace(lineBreakPattern(), QStringLiteral("\n\n\u3000\u3000"));
    return QStringLiteral("\u3000\u3000") + result;
}

inline QString autoFormatMarkdown(QStringView text) {
    QString result = text.toString();
    result.replace(blankLinePattern(), QStringLiteral("\n"));
    result.replace(trailingSpacePattern(), QStringLiteral("\n"));
    result.replace(lineBreakPattern(), QStringLiteral("  \n\n"));
    return result;
}

inline QString removeIndent(QStringView text) {
    QString result = text.toString();
    result.remove(tabPattern());
    result.remove(ideographicSpacePattern());
    return result;
}

inline QString removeBlankLines(QStringView text) {
    QString result = text.toString();
    result.replace(blankLinePattern(), QStringLiteral("\n"));
    return result;
}

using Transform = QString (*)(QStringView);

// Each scanner beside the regular-expression form it must agree with.
struct Operation {
    const char* name;
    Transform scanner;
    Transform regex;
};

inline const Operation kOperations[] = {
    {"autoFormatPlain", &reformat::autoFormatPlain, &autoFormatPlain},
    {"autoFormatMarkdown", &reformat::autoFormatMarkdown, &autoFormatMarkdown},
    {"removeIndent", &reformat::removeIndent, &removeIndent},
    {"removeBlankLines", &reformat::removeBlankLines, &removeBlankLines},
};

} // namespace tavrin::reformat::regex_form
