#include "link/AddressValidation.h"

#include <QRegularExpression>

namespace tavrin {

bool isValidIP(const QString& text) {
    // [0-9] rather than \d: full-width and other non-ASCII digits never count.
    static const QRegularExpression pattern(
        QStringLiteral("((25[0-5]|2[0-4][0-9]|((1[0-9]{2})|([1-9]?[0-9])))\\.){3}"
                       "(25[0-5]|2[0-4][0-9]|((1[0-9]{2})|([1-9]?[0-9])))"));
    return pattern.match(text).hasMatch();
}

} // namespace tavrin
