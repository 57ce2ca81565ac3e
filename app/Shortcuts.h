// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVector>

namespace tavrin {

// The one list of key bindings: the scene makes an Action of each entry,
// and the help text is built from the same entries, so it lists exactly the
// keys that act.
class Shortcuts : public QObject {
    Q_OBJECT
    // Each entry: {sequence, operation, help}; `operation` names a function of the window.
    Q_PROPERTY(QVariantList actions READ actions CONSTANT)
    Q_PROPERTY(QString helpText READ helpText CONSTANT)

public:
    struct Entry {
        const char* sequence;  // as QKeySequence reads it
        const char* operation; // a function of the window, called without arguments
        const char* help;      // what the help text says it does, untranslated
    };

    using QObject::QObject;

    static const QVector<Entry>& entries();
    // What the entry does, in the user's language.
    static QString help(const Entry& entry);
    QVariantList actions() const;
    // "keys:what" lines in the order of the entries.
    QString helpText() const;
};

} // namespace tavrin
