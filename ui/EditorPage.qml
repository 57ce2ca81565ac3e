// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Controls 2.15
import Tavrin 1.0

// The editor screen: the note in a scrolling, wrapping plain-text editor
// drawn with the chosen appearance.
Item {
    // The appearance: settings' fontSize, padding, fontFamily, bgColor, color.
    property QtObject appearance
    // Where the editor's font comes from; empty for none.
    property url fontSource
    readonly property alias editor: textEdit
    // The exact note next to the editor's document; its changes go to the link.
    readonly property alias noteDocument: noteDocument
    property alias noteLink: noteDocument.link
    readonly property alias flick: flickView
    // The editor takes typing only where it is sent or kept.
    property bool editable: true
    // Where the text stands; empty: no status line.
    property string statusText
    // The status line warns (offline, refused, a failed save).
    property bool statusWarns: false
    // The local text that could not be merged; empty: no banner.
    property string conflictText

    signal keepLocalRequested()
    signal keepPhoneRequested()

    // Every change of the selection start (in note positions), and redo past
    // the editor's own redo. Changes of the text go from noteDocument to the link.
    signal selectionStartMoved(int start, int end)
    signal redoPastEditor()

    // Both sides changed the same place: the phone's text shows, the local one is offered.
    Rectangle {
        id: conflictBanner
        objectName: "conflictBanner"
        visible: conflictText !== ""
        width: parent.width
        height: visible ? conflictRow.implicitHeight + 12 : 0
        color: "#fff4d6"

        Row {
            id: conflictRow
            x: 8
            y: 6
            spacing: 8

            Label {
                id: tvConflict
                objectName: "tvConflict"
                width: conflictBanner.width - btnKeepLocal.width - btnKeepPhone.width - 40
                anchors.verticalCenter: parent.verticalCenter
                wrapMode: Text.WordWrap
                font.pixelSize: 13
                text: qsTr("手机上的便签也改了同一处：现在显示手机的文本。本机的文本可以恢复（或按 Ctrl+Shift+Z）。")
            }

            Button {
                id: btnKeepLocal
                objectName: "btnKeepLocal"
                text: qsTr("恢复本机文本")
                onClicked: keepLocalRequested()
            }

            Button {
                id: btnKeepPhone
                objectName: "btnKeepPhone"
                text: qsTr("保留手机文本")
                onClicked: keepPhoneRequested()
            }
        }
    }

    ScrollView {
        id: scrollView
        objectName: "scrollView"
        anchors.top: conflictBanner.bottom
        anchors.bottom: statusBar.top
        width: parent.width

        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
        ScrollBar.vertical.interactive: true
        // The chosen background colour lies under the text only.
        background: Rectangle { color: appearance.bgColor }

        Flickable {
            id: flickView
            objectName: "flickView"
            width: scrollView.width
            height: scrollView.height
            contentWidth: textEdit.paintedWidth
            contentHeight: textEdit.paintedHeight

            function ensureVisible(r) {
                if (contentX >= r.x)
                    contentX = r.x
                else if (contentX + width <= r.x + r.width)
                    contentX = r.x + r.width - width
                if (contentY >= r.y)
                    contentY = r.y
                else if (contentY + height <= r.y + r.height)
                    contentY = r.y + r.height - height
            }

            FontLoader {
                id: myFont
                objectName: "myFont"
                source: fontSource
                onStatusChanged: {
                    if (status === FontLoader.Ready)
                        textEdit.font.family = appearance.fontFamily !== "" ? appearance.fontFamily : name
                }
            }

            // A click below a short note still puts the cursor in it, at the end.
            MouseArea {
                id: belowText
                objectName: "belowText"
                y: textEdit.height
                width: flickView.width
                height: Math.max(0, flickView.height - textEdit.height)
                onPressed: {
                    textEdit.forceActiveFocus()
                    textEdit.cursorPosition = textEdit.length
                }
            }

            TextEdit {
                id: textEdit
                objectName: "textEdit"
                readOnly: !editable
                width: scrollView.width
                wrapMode: TextEdit.Wrap
                selectByMouse: true
                // Shown and blinking only while the editor has the keys: a blinking cursor in
                // an unfocused long note would repaint it twice a second for nothing.
                cursorVisible: activeFocus
                focus: true
                color: appearance.color
                textMargin: appearance.padding
                // A size that is not positive would be ignored with a warning.
                font.pixelSize: Math.max(1, appearance.fontSize)
                tabStopDistance: appearance.fontSize * 2
                font.family: appearance.fontFamily
                Accessible.role: Accessible.EditableText
                Accessible.name: qsTr("便签")
                Accessible.description: qsTr("手机上打开的便签，所做的修改会立即发送到手机")

                // Redo is the editor's own while it has something to redo; then the
                // window's history, which also keeps the edits that a dropped
                // connection kept from the phone.
                Keys.onPressed: {
                    if (event.matches(StandardKey.Redo) && !canRedo) {
                        redoPastEditor()
                        event.accepted = true
                    }
                }

                onCursorRectangleChanged: flickView.ensureVisible(cursorRectangle)
                onSelectionStartChanged: selectionStartMoved(noteDocument.notePosition(selectionStart),
                                                             noteDocument.notePosition(selectionEnd))
            }

            NoteDocument {
                id: noteDocument
                objectName: "noteDocument"
                textDocument: textEdit.textDocument
            }
        }
    }

    function scrollToTop() {
        flickView.contentY = 0
    }

    function scrollToBottom() {
        flickView.contentY = flickView.contentHeight - flickView.height
    }

    // The link's texts (a note, a merge, a hint): the cursor stays where it
    // was, at the end when it was there, so that typing goes on in place.
    function replaceTextKeepingCursor(newText) {
        const atEnd = textEdit.cursorPosition === textEdit.length
        const position = textEdit.cursorPosition
        textEdit.wrapMode = TextTools.needsWrapAnywhere(newText) ? TextEdit.WrapAnywhere : TextEdit.Wrap
        noteDocument.setText(newText)
        textEdit.cursorPosition = atEnd ? textEdit.length : Math.min(position, textEdit.length)
    }

    // The note's exact text, and a note position for the editor's selection.
    function noteText() {
        return noteDocument.text
    }

    function notePosition(editorPosition) {
        return noteDocument.notePosition(editorPosition)
    }

    // Reformatting: assign the whole text (recorded and pushed like typing),
    // put the cursor back at the old selection start, then the scroll position.
    // The cursor is placed through cursorPosition: TextEdit.select() raises a
    // text change of its own, which would record and push the text twice.
    function replaceTextKeepingPlace(newText) {
        const start = textEdit.selectionStart
        const contentY = flickView.contentY
        noteDocument.setText(newText)
        textEdit.cursorPosition = start
        flickView.contentY = contentY
    }

    // Where the text stands, under the text and never over it.
    Rectangle {
        id: statusBar
        objectName: "statusBar"
        anchors.bottom: parent.bottom
        width: parent.width
        height: statusText !== "" ? 22 : 0
        visible: statusText !== ""
        color: statusWarns ? "#fdecea" : "#f3f3f3"

        Label {
            id: tvSyncStatus
            objectName: "tvSyncStatus"
            x: 8
            anchors.verticalCenter: parent.verticalCenter
            width: parent.width - 16
            elide: Text.ElideRight
            font.pixelSize: 12
            color: statusWarns ? "#b3261e" : "#666666"
            text: statusText
        }
    }

    function focusEditor() {
        textEdit.forceActiveFocus()
    }
}
