import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import Qt.labs.settings 1.1
import Qt.labs.platform 1.1 as Platform
import Tavrin 1.0

Window {
    id: window
    objectName: "window"
    width: 480
    height: 640
    visible: true
    title: link.charCountText === undefined || link.charCountText === null
           ? qsTr("Tavrin")
           : qsTr("Tavrin ( ") + link.charCountText + qsTr(" 字)")

    // ---- State -------------------------------------------------------------

    Settings {
        id: settings
        objectName: "settings"
        // Stored values arrive in this order: the appearance before the remembered address.
        property int fontSize: 15
        property int padding: 10
        property string fontFamily: ""
        property string bgColor: "#00000000"
        property string color: "#444444"
        property string input: ""
    }

    Attrs {
        id: attrs
        objectName: "attrs"
    }

    PhoneLink {
        id: link
        objectName: "link"
        attrs: attrs
        onShowIpInputViewRequested: window.showIpInputView(visible)
        onAssignEditorText: textEdit.text = text
        onAutomaticUpdateCheckRequested: updater.checkUpdate(false)
    }

    UpdateChecker {
        id: updater
        objectName: "updater"
        onNewVersionFound: {
            updateLabel.text = upgradeNote
            updateDialog.visible = true
        }
        onMessageRequested: showMsg(title, text)
    }

    Connections {
        target: attrs.history
        function onRestoreText(text) { textEdit.text = text }
    }

    // ---- Connection screen -------------------------------------------------

    Image {
        id: ivBg
        objectName: "ivBg"
        x: 0
        y: 0
        width: window.width
        height: window.height
        fillMode: Image.PreserveAspectCrop
        cache: true
        source: link.backgroundSource
    }

    Image {
        id: logo
        objectName: "logo"
        width: 100
        height: 100
        x: window.width / 2 - width / 2
        y: window.height / 2 - height * 2
        fillMode: Image.PreserveAspectFit
        source: updater.logoUrl
    }

    Label {
        id: tvName
        objectName: "tvName"
        x: window.width / 2 - width / 2
        y: logo.y + logo.height + 10
        font.pixelSize: 18
        text: qsTr("Tavrin")
    }

    Label {
        id: tvVersion
        objectName: "tvVersion"
        x: window.width / 2 - width / 2
        y: logo.y + logo.height + 40
        font.pixelSize: 14
        color: "#888888"
        text: qsTr("V:") + attrs.versionName
    }

    Label {
        id: tvBottom
        objectName: "tvBottom"
        x: window.width / 2 - width / 2
        y: window.height - 40
        font.pixelSize: 14
        color: "#cccccc"
        text: qsTr("Copyright © 2026 Tavrin. All rights reserved.")
    }

    Rectangle {
        id: ipLayout
        objectName: "ipLayout"
        width: 240
        height: 30
        x: window.width / 2 - width / 2
        y: window.height / 2 - height / 2
        radius: 2
        border.width: 2
        border.color: "#dddddd"

        TextField {
            id: ipInput
            objectName: "ipInput"
            x: 0
            y: 0
            width: ipLayout.width
            height: ipLayout.height
            background: null
            leftPadding: 5
            rightPadding: 5
            horizontalAlignment: TextInput.AlignHCenter
            verticalAlignment: TextInput.AlignVCenter
            font.pixelSize: 14
            cursorVisible: true
            selectByMouse: true
            placeholderText: qsTr("长按便签的扫码按钮获取IP地址")
            text: settings.input
            onTextChanged: window.handleAddressText(text)
        }
    }

    RoundButton {
        id: btnShortcut
        objectName: "btnShortcut"
        width: 160
        x: window.width / 2 - width / 2
        y: window.height - height * 4.5
        radius: 2
        text: qsTr("快捷键说明")
        onClicked: showShortcuts()
    }

    RoundButton {
        id: btnCheckUpdate
        objectName: "btnCheckUpdate"
        width: 160
        x: window.width / 2 - width / 2
        y: window.height - height * 3
        radius: 2
        text: qsTr("检查更新")
        onClicked: updater.checkUpdate(true)
    }

    // ---- Editor screen -----------------------------------------------------

    ScrollView {
        id: scrollView
        objectName: "scrollView"
        x: 0
        y: 0
        width: window.width
        height: window.height
        visible: false
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
        ScrollBar.vertical.interactive: true
        // The chosen background colour lies under the text only.
        background: Rectangle { color: settings.bgColor }

        Flickable {
            id: flickView
            objectName: "flickView"
            x: 0
            y: 0
            width: window.width
            height: window.height
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
                source: ipInput.text === "" ? "" : "http://" + ipInput.text + ":8080/desktop/fonts"
                onStatusChanged: {
                    if (status === FontLoader.Ready)
                        textEdit.font.family = settings.fontFamily !== "" ? settings.fontFamily : name
                }
            }

            TextEdit {
                id: textEdit
                objectName: "textEdit"
                x: 0
                y: 0
                width: scrollView.width
                wrapMode: TextEdit.Wrap
                selectByMouse: true
                cursorVisible: true
                focus: true
                color: settings.color
                textMargin: settings.padding
                // A size that is not positive would be ignored with a warning.
                font.pixelSize: Math.max(1, settings.fontSize)
                tabStopDistance: settings.fontSize * 2
                font.family: settings.fontFamily

                // Redo is the editor's own while it has something to redo; then the
                // window's history, which also keeps the edits that a dropped
                // connection kept from the phone.
                Keys.onPressed: {
                    if (event.matches(StandardKey.Redo) && !canRedo) {
                        attrs.history.postToRedo()
                        event.accepted = true
                    }
                }

                onCursorRectangleChanged: flickView.ensureVisible(cursorRectangle)
                onSelectionStartChanged: link.postSelection(selectionStart, selectionEnd)
                onTextChanged: link.justUpdateContent(getText(0, length))
            }
        }
    }

    // ---- Dialogs -----------------------------------------------------------

    Dialog {
        id: msgDialog
        objectName: "msgDialog"
        width: 280
        x: window.width / 2 - width / 2
        y: window.height / 2 - height / 2

        Label {
            id: msgLabel
            objectName: "msgLabel"
            width: 280
            font.pixelSize: 16
            lineHeight: 1.5
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        }
    }

    Dialog {
        id: fontSizeDialog
        objectName: "fontSizeDialog"
        x: window.width / 2 - width / 2
        y: window.height / 2 - height / 2
        title: qsTr("设置字体大小") + settings.fontSize

        Slider {
            id: fontSizeSlider
            objectName: "fontSizeSlider"
            from: 0
            to: 40
            stepSize: 0
            value: settings.fontSize
            onMoved: {
                const size = Math.ceil(value)
                fontSizeDialog.title = qsTr("设置字体大小") + size
                settings.fontSize = size
            }
        }
    }

    Dialog {
        id: paddingDialog
        objectName: "paddingDialog"
        x: window.width / 2 - width / 2
        y: window.height / 2 - height / 2
        title: qsTr("设置内边距：") + settings.padding

        Slider {
            id: paddingSlider
            objectName: "paddingSlider"
            from: 0
            to: 40
            stepSize: 0
            value: settings.padding
            onMoved: {
                const padding = Math.ceil(value)
                paddingDialog.title = qsTr("设置内边距：") + padding
                settings.padding = padding
            }
        }
    }

    Platform.ColorDialog {
        id: colorDialog
        objectName: "colorDialog"
        title: qsTr("设置文字颜色")
        currentColor: settings.color
        onAccepted: settings.color = color.toString()
    }

    Platform.ColorDialog {
        id: bgColorDialog
        objectName: "bgColorDialog"
        title: qsTr("设置背景颜色")
        currentColor: settings.bgColor
        onAccepted: settings.bgColor = color.toString()
    }

    Platform.FontDialog {
        id: fontDialog
        objectName: "fontDialog"
        title: qsTr("设置字体:") + textEdit.font.family
        currentFont: editorFontInPoints
        onAccepted: {
            // A font chosen by point size is converted at the desktop's 96 dpi.
            settings.fontSize = font.pixelSize > 0 ? font.pixelSize : Math.round(font.pointSize * 4 / 3)
            settings.fontFamily = font.family
        }
    }

    Dialog {
        id: updateDialog
        objectName: "updateDialog"
        title: "发现新版"
        modal: false
        x: window.width / 2 - width / 2
        y: window.height / 2 - height / 2

        Column {
            spacing: 0

            Label {
                id: updateLabel
                objectName: "updateLabel"
                width: 220
                bottomPadding: 20
                font.pixelSize: 16
                lineHeight: 1.1
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                text: "现在去官网下载新版吗？"
            }

            Row {
                spacing: 0
                leftPadding: 0
                rightPadding: 0

                RoundButton {
                    id: updateCancelBtn
                    objectName: "updateCancelBtn"
                    width: 100
                    radius: 2
                    text: "取消"
                    onClicked: updateDialog.visible = false
                }

                Label {
                    width: 20
                }

                RoundButton {
                    id: msgOkBtn
                    objectName: "msgOkBtn"
                    width: 100
                    radius: 2
                    text: "确定"
                    onClicked: {
                        updateDialog.visible = false
                        jumpToWeb(updater.downloadPage)
                    }
                }
            }
        }
    }

    // ---- Key bindings ------------------------------------------------------

    Action { shortcut: "Ctrl+Shift+F"; onTriggered: autoFormat() }
    Action { shortcut: "Page Up"; onTriggered: scrollToTop() }
    Action { shortcut: "Page Down"; onTriggered: scrollToBottom() }
    Action { shortcut: "Ctrl+T"; onTriggered: fontSizeDialog.visible = true }
    Action { shortcut: "Shift+Tab"; onTriggered: removeIndent() }
    Action { shortcut: "Ctrl+Shift+L"; onTriggered: removeBlankLines() }
    Action { shortcut: "Ctrl+Shift+T"; onTriggered: openFontDialog() }
    Action { shortcut: "Ctrl+P"; onTriggered: paddingDialog.visible = true }
    Action { shortcut: "Ctrl+O"; onTriggered: colorDialog.visible = true }
    Action { shortcut: "Ctrl+B"; onTriggered: bgColorDialog.visible = true }
    Action { shortcut: "Ctrl+S"; onTriggered: link.postToSaveNow() }
    Action { shortcut: "Ctrl+Z"; onTriggered: attrs.history.postToUndo() }
    Action { shortcut: "Ctrl+Shift+Z"; onTriggered: attrs.history.postToRedo() }

    // ---- Operations --------------------------------------------------------

    function handleAddressText(text) {
        if (TextTools.isValidIP(text)) {
            settings.input = text
            link.updateIp(text)
            ipLayout.border.color = ipInput.activeFocus ? "#2775b6" : "#dddddd"
        } else {
            ipLayout.border.color = "#ed3333"
        }
    }

    function showIpInputView(visible) {
        scrollView.visible = !visible
        ipLayout.visible = visible
        ipInput.focus = visible
        tvName.visible = visible
        tvVersion.visible = visible
        tvBottom.visible = visible
        logo.visible = visible
        btnCheckUpdate.visible = visible
        btnShortcut.visible = visible
    }

    // The editor's font, in the points the platform's font dialog works with
    // (96 dpi), and with the family the editor really shows when none is chosen.
    property font editorFontInPoints
    editorFontInPoints.family: textEdit.font.family !== "" ? textEdit.font.family
                                                           : Qt.application.font.family
    editorFontInPoints.pointSize: textEdit.font.pixelSize * 3 / 4

    function openFontDialog() {
        if (fontDialog.visible)
            return
        fontDialog.visible = true
        // The platform's dialog exists once it is open: it starts on the editor's font.
        fontDialog.currentFont = editorFontInPoints
    }

    function showMsg(title, msg) {
        msgDialog.title = title
        msgLabel.text = msg
        msgDialog.visible = true
    }

    function showShortcuts() {
        showMsg(qsTr("快捷键说明"), "Ctrl+S:保存\nCtrl+T:字体大小\nCtrl+O:文字颜色\nCtrl+P:内边距\nCtrl+Z:撤回\nCtrl+⬆️:聚焦到文首\nCtrl+⬇️:聚焦到文末\nCtrl+Shift+T:修改字体\nCtrl+Shift+F:段首缩进+插入空行\nCtrl+Shift+L:移除空行\nShift+Tab:移除段首缩进\nCtrl+Shift+Z:反撤回")
    }

    function scrollToTop() {
        flickView.contentY = 0
    }

    function scrollToBottom() {
        flickView.contentY = flickView.contentHeight - flickView.height
    }

    function justPrint(text) {
        TextTools.justPrint(text)
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

    function autoFormat() {
        replaceTextKeepingPlace(TextTools.autoFormat(textEdit.text, attrs.isMarkdown))
    }

    function removeIndent() {
        justPrint("shift + Tab")
        if (attrs.noteId === 0)
            return
        replaceTextKeepingPlace(TextTools.removeIndent(textEdit.text, textEdit.selectionStart,
                                                       textEdit.selectionEnd))
    }

    function removeBlankLines() {
        justPrint("shift + Shift + L")
        if (attrs.noteId === 0)
            return
        replaceTextKeepingPlace(TextTools.removeBlankLines(textEdit.text, textEdit.selectionStart,
                                                           textEdit.selectionEnd))
    }

    function jumpToWeb(url) {
        Qt.openUrlExternally(url)
    }
}
