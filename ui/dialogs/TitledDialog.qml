// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Controls 2.15

// A popup dialog whose title is also its name for screen readers. Qt names a
// dialog after its title only while an accessibility client is running when
// the title is set; this keeps the name on the dialog's item at all times.
Dialog {
    Component.onCompleted: contentItem.parent.Accessible.name = Qt.binding(() => title)
}
