// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AddressValidator.h"

namespace tavrin {

namespace {

constexpr int kLongestAddress = 15; // "255.255.255.255"

// One of the four numbers: 0 to 255 in ASCII digits, no leading zero but in "0".
bool isOctet(QStringView part) {
    if (part.isEmpty() || part.size() > 3)
        return false;
    int value = 0;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= 255 && (part.size() == 1 || part.front() != QLatin1Char('0'));
}

} // namespace

QValidator::State AddressValidator::validate(QString& input, int&) const {
    return isValidIP(input) ? Acceptable : Intermediate;
}

bool AddressValidator::isValidIP(const QString& text) {
    if (text.size() > kLongestAddress)
        return false;
    const QStringView whole(text);
    int start = 0;
    for (int part = 0; part < 4; ++part) {
        const int dot = part < 3 ? text.indexOf(QLatin1Char('.'), start) : text.size();
        if (dot < 0 || !isOctet(whole.mid(start, dot - start)))
            return false;
        start = dot + 1;
    }
    return true;
}

} // namespace tavrin
