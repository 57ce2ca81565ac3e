#include "app/AddressValidator.h"

#include <QRegularExpression>

namespace tavrin {

QValidator::State AddressValidator::validate(QString& input, int&) const {
    return isValidIP(input) ? Acceptable : Intermediate;
}

bool AddressValidator::isValidIP(const QString& text) {
    // [0-9] rather than \d: full-width and other non-ASCII digits never count.
    static const QRegularExpression pattern(
        QStringLiteral("((25[0-5]|2[0-4][0-9]|((1[0-9]{2})|([1-9]?[0-9])))\\.){3}"
                       "(25[0-5]|2[0-4][0-9]|((1[0-9]{2})|([1-9]?[0-9])))"));
    return pattern.match(text).hasMatch();
}

} // namespace tavrin
