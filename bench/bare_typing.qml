// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Window 2.15

// The bare editor the typing benchmark compares Tavrin with: the same
// wrapping TextEdit in a window, with nothing listening to its changes.
Window {
    width: 480
    height: 640
    visible: true

    Flickable {
        anchors.fill: parent
        contentWidth: textEdit.paintedWidth
        contentHeight: textEdit.paintedHeight

        TextEdit {
            id: textEdit
            objectName: "textEdit"
            width: parent.width
            wrapMode: TextEdit.Wrap
            focus: true
            textMargin: 10
            font.pixelSize: 15
        }
    }
}
