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
        id: flickView
        objectName: "flickView"
        anchors.fill: parent
        contentWidth: textEdit.paintedWidth
        contentHeight: textEdit.paintedHeight

        TextEdit {
            id: textEdit
            objectName: "textEdit"
            // The view's width, not the content's: that follows the text's.
            width: flickView.width
            wrapMode: TextEdit.Wrap
            focus: true
            textMargin: 10
            font.pixelSize: 15
        }
    }
}
