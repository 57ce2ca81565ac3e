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

void TextTools::justPrint(const QString& text) const {
    qCDebug(lcUi).noquote() << text;
}

} // namespace tavrin
