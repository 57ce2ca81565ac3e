// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whole-text reshaping of a note. Each function behaves exactly as the
// global left-to-right replacement of its regular expressions under
// ECMA-262 matching (see Reformat.cpp for the patterns).

#include <QString>
#include <QStringView>

namespace tavrin::reformat {

// Plain note: tabs and ideographic spaces removed, blank lines collapsed,
// every line break becomes an empty line plus a two-ideographic-space indent,
// and the text is indented.
QString autoFormatPlain(QStringView text);
// Markdown note: blank lines collapsed, trailing space pairs dropped, and
// every line break becomes a hard break ("  ") followed by an empty line.
QString autoFormatMarkdown(QStringView text);
QString autoFormat(QStringView text, bool markdown);

// Removes every run of tabs and every ideographic space.
QString removeIndent(QStringView text);
// Replaces every blank-line run by one line feed.
QString removeBlankLines(QStringView text);

// Applies `transform` to text[start, end), or to the whole text when
// start == end; positions outside the text are clamped to it.
QString applyToSelection(const QString& text, int start, int end,
                         QString (*transform)(QStringView));

} // namespace tavrin::reformat
