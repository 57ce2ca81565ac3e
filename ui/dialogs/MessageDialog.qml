// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15

// The one message facility: a title and a wrapping text.
TitledDialog {
    property alias text: msgLabel.text

    // Open, the dialog holds the keyboard: no key reaches the note behind it.
    focus: true
    width: 280

    // Closed, the keys go back where they were.
    property Item focusBefore
    onAboutToShow: focusBefore = parent.Window.activeFocusItem
    onClosed: if (focusBefore) focusBefore.forceActiveFocus()
    x: parent.width / 2 - width / 2
    y: parent.height / 2 - height / 2

    Label {
        id: msgLabel
        objectName: "msgLabel"
        width: 280
        font.pixelSize: 16
        lineHeight: 1.5
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        focus: true
        Keys.onPressed: event.accepted = event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab
    }
}
