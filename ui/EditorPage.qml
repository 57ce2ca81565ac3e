import QtQuick 2.15
import QtQuick.Controls 2.15

// The editor screen: the note in a scrolling, wrapping plain-text editor
// drawn with the chosen appearance.
Item {
    // The appearance: settings' fontSize, padding, fontFamily, bgColor, color.
    property QtObject appearance
    // Where the editor's font comes from; empty for none.
    property url fontSource
    readonly property alias editor: textEdit
    readonly property alias flick: flickView

    // Every change of the text and of the selection start, and redo past the
    // editor's own redo.
    signal textEdited(string text)
    signal selectionStartMoved(int start, int end)
    signal redoPastEditor()

    ScrollView {
        id: scrollView
        objectName: "scrollView"
        anchors.fill: parent

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

            TextEdit {
                id: textEdit
                objectName: "textEdit"
                width: scrollView.width
                wrapMode: TextEdit.Wrap
                selectByMouse: true
                cursorVisible: true
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
                onSelectionStartChanged: selectionStartMoved(selectionStart, selectionEnd)
                onTextChanged: textEdited(getText(0, length))
            }
        }
    }

    function scrollToTop() {
        flickView.contentY = 0
    }

    function scrollToBottom() {
        flickView.contentY = flickView.contentHeight - flickView.height
    }

    // Reformatting: assign the whole text (recorded and pushed like typing),
    // put the cursor back at the old selection start, then the scroll position.
    // The cursor is placed through cursorPosition: TextEdit.select() raises a
    // text change of its own, which would record and push the text twice.
    function replaceTextKeepingPlace(newText) {
        const start = textEdit.selectionStart
        const contentY = flickView.contentY
        textEdit.text = newText
        textEdit.cursorPosition = start
        flickView.contentY = contentY
    }
}
