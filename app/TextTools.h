// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

namespace tavrin {

// The scene's access to the reformatting functions.
class TextTools : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE QString autoFormat(const QString& text, bool markdown) const;
    // Both work on text[start, end), or on the whole text when start == end.
    Q_INVOKABLE QString removeIndent(const QString& text, int start, int end) const;
    Q_INVOKABLE QString removeBlankLines(const QString& text, int start, int end) const;
    // A run of letters so long, with no place to break it but anywhere, that
    // laying it out word by word would freeze the editor (seconds for 256 K).
    Q_INVOKABLE bool needsWrapAnywhere(const QString& text) const;
    // One line to the debug output (category tavrin.ui).
    Q_INVOKABLE void justPrint(const QString& text) const;
};

} // namespace tavrin
