// SPDX-License-Identifier: GPL-3.0-or-later
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

    // True when the whole text is four numbers from 0 to 255 joined by dots:
    // ASCII digits only, no leading zeros (but "0" itself), nothing before,
    // between or after (no spaces, port, path or fifth number). The text goes
    // into URLs unchanged, so nothing else may pass.
    Q_INVOKABLE static bool isValidIP(const QString& text);
};

} // namespace tavrin
