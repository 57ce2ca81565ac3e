// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Window 2.15

// The editor in the one-request-per-keystroke style, the second baseline of the
// sync benchmark: at every change of the text the whole text, percent-encoded,
// goes to the phone in a request of its own, and every change of the selection
// start in another; nothing waits for an answer and nothing is queued.
// `phoneAddress` and `noteId` come in as context properties.
Window {
    id: window
    objectName: "window"
    width: 480
    height: 640
    visible: true

    // Requests sent and not yet answered: the benchmark waits for none to be left.
    property int outstanding: 0

    function post(path, body) {
        var request = new XMLHttpRequest()
        request.onreadystatechange = function() {
            if (request.readyState === XMLHttpRequest.DONE)
                --window.outstanding
        }
        request.open("POST", "http://" + phoneAddress + ":8080" + path)
        request.setRequestHeader("Content-type", "application/x-www-form-urlencoded")
        ++window.outstanding
        request.send(body)
    }

    Flickable {
        id: flickView
        objectName: "flickView"
        anchors.fill: parent
        contentWidth: textEdit.paintedWidth
        contentHeight: textEdit.paintedHeight

        TextEdit {
            id: textEdit
            objectName: "textEdit"
            width: flickView.width
            wrapMode: TextEdit.Wrap
            focus: true
            textMargin: 10
            font.pixelSize: 15

            onTextChanged: window.post("/desktop/modifyNoteContent/", "noteId=" + noteId
                                       + "&content=" + encodeURIComponent(getText(0, length)))
            onSelectionStartChanged: window.post("/desktop/updateSelection/", "noteId=" + noteId
                                                 + "&start=" + selectionStart
                                                 + "&end=" + selectionEnd)
        }
    }
}
