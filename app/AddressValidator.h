#pragma once

#include <QValidator>

namespace tavrin {

// Validates the address field. The field takes any text as it is typed
// (invalid text is Intermediate, never refused); an address counts once it
// passes isValidIP.
class AddressValidator : public QValidator {
    Q_OBJECT

public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override;

    // True when four dotted numbers of the usual form stand anywhere in the
    // text. The pattern is searched, not anchored, and knows only ASCII
    // digits: the whole text is kept as the address, whatever stands around
    // the match.
    Q_INVOKABLE static bool isValidIP(const QString& text);
};

} // namespace tavrin
