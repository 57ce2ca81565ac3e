// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

namespace tavrin {

// What the command line gives the scene, read once when the scene starts.
class StartOptions : public QObject {
    Q_OBJECT
    // The address of --address, which the scene takes in place of the remembered one (shown
    // in the field, connected at once, remembered); empty for none.
    Q_PROPERTY(QString address READ address CONSTANT)

public:
    using QObject::QObject;

    QString address() const { return startAddress(); }

    // Set before the scene is loaded (by start-up, or by a test).
    static void setAddress(const QString& address) { startAddress() = address; }

private:
    static QString& startAddress() {
        static QString value;
        return value;
    }
};

} // namespace tavrin
