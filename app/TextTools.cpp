// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TextTools.h"

#include "app/Logging.h"
#include "tools/Reformat.h"

namespace tavrin {

QString TextTools::autoFormat(const QString& text, bool markdown) const {
    return reformat::autoFormat(text, markdown);
}

QString TextTools::removeIndent(const QString& text, int start, int end) const {
    return reformat::applyToSelection(text, start, end, &reformat::removeIndent);
}

QString TextTools::removeBlankLines(const QString& text, int start, int end) const {
    return reformat::applyToSelection(text, start, end, &reformat::removeBlankLines);
}

bool TextTools::needsWrapAnywhere(const QString& text) const {
    // Ideographs break anywhere anyway; spaces and line breaks are places to break.
    constexpr int kLongestWordLaidOutByWord = 2000;
    int run = 0;
    for (const QChar c : text) {
        if (c.isSpace() || c.unicode() >= 0x2E80) {
            run = 0;
        } else if (++run > kLongestWordLaidOutByWord) {
            return true;
        }
    }
    return false;
}

void TextTools::justPrint(const QString& text) const {
    qCDebug(lcUi).noquote() << text;
}

} // namespace tavrin
