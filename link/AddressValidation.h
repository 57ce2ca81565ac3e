#pragma once

#include <QString>

namespace tavrin {

// True when four dotted numbers of the usual form stand anywhere in the text.
// The pattern is searched, not anchored, and knows only ASCII digits: the
// whole text is kept as the address, whatever stands around the match.
bool isValidIP(const QString& text);

} // namespace tavrin
