#include "tools/TextTools.h"

#include "link/AddressValidation.h"
#include "tools/Reformat.h"

#include <QDebug>

namespace tavrin {

TextTools::TextTools(QObject* parent)
    : QObject(parent) {}

bool TextTools::isValidIP(const QString& text) const {
    return tavrin::isValidIP(text);
}

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
    qDebug().noquote() << text;
}

} // namespace tavrin
