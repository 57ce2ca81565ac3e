// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import Qt.labs.platform 1.1 as Platform
import Tavrin 1.0
import "dialogs"

Window {
    id: window
    objectName: "window"
    width: 480
    height: 640
    visible: true
    title: {
        if (link.charCountText === undefined || link.charCountText === null)
            return qsTr("Tavrin")
        //: The window title while a note is open: %1 is the note's character count on the phone.
        return qsTr("Tavrin ( %1 字)").arg(link.charCountText)
    }

    // The screen shown: set by showIpInputView, which follows the link's state.
    // Pages are sized by the window, whose content item has no size until it is shown.
    property bool ipInputViewVisible: true

    // ---- State -------------------------------------------------------------

    // fontSize, padding, fontFamily, bgColor, color and input, checked as they are
    // read and written. Stored values arrive in this order once the scene is built:
    // the appearance before the remembered address.
    SettingsStore {
        id: settings
        objectName: "settings"
    }

    Attrs {
        id: attrs
        objectName: "attrs"
    }

    PhoneLink {
        id: link
        objectName: "link"
        attrs: attrs
        onConnectionScreenChanged: window.showIpInputView(connectionScreen)
        onAssignEditorText: editorPage.replaceTextKeepingCursor(text)
        onAutomaticUpdateCheckRequested: updater.checkUpdate(false)
    }

    UpdateChecker {
        id: updater
        objectName: "updater"
        onNewVersionFound: {
            updateDialog.note = upgradeNote
            updateDialog.visible = true
        }
        onMessageRequested: showMsg(title, text)
    }

    Connections {
        target: attrs.history
        function onRestoreText(text) { editorPage.noteDocument.setText(text) }
    }

    // ---- Screens -----------------------------------------------------------

    Image {
        id: ivBg
        objectName: "ivBg"
        width: window.width
        height: window.height
        fillMode: Image.PreserveAspectCrop
        cache: true
        source: link.backgroundSource
    }

    ConnectionPage {
        id: connectionPage
        objectName: "connectionPage"
        width: window.width
        height: window.height
        visible: ipInputViewVisible
        versionName: attrs.versionName
        logoSource: updater.logoUrl
        updateCheckAvailable: updater.available
        rememberedAddress: settings.input
        reasonText: link.reasonText
        onAddressEdited: handleAddressText(text, valid)
        onShortcutsRequested: showShortcuts()
        onUpdateCheckRequested: updater.checkUpdate(true)
    }

    EditorPage {
        id: editorPage
        objectName: "editorPage"
        width: window.width
        height: window.height
        visible: !ipInputViewVisible
        appearance: settings
        // Only the address the link uses, never a half-typed one.
        fontSource: attrs.ip !== undefined ? link.fontUrl(attrs.ip) : ""
        editable: link.editable
        statusText: link.syncStatusText
        statusWarns: link.syncStatus === NoteSync.Offline || link.syncStatus === NoteSync.Refused
                     || link.syncStatus === NoteSync.SaveFailed
        conflictText: link.conflictText
        onKeepLocalRequested: link.restoreLocalText()
        onKeepPhoneRequested: link.dismissConflict()
        noteLink: link
        onSelectionStartMoved: link.postSelection(start, end)
        onRedoPastEditor: postToRedo()
    }

    // ---- Dialogs -----------------------------------------------------------

    MessageDialog {
        id: msgDialog
        objectName: "msgDialog"
    }

    SliderDialog {
        id: fontSizeDialog
        objectName: "fontSizeDialog"
        sliderObjectName: "fontSizeSlider"
        //: %1 is the font size in pixels.
        captionFormat: qsTr("设置字体大小%1")
        shownValue: settings.fontSize
        onChosen: settings.fontSize = chosenValue
    }

    SliderDialog {
        id: paddingDialog
        objectName: "paddingDialog"
        sliderObjectName: "paddingSlider"
        //: %1 is the inner margin in pixels.
        captionFormat: qsTr("设置内边距：%1")
        shownValue: settings.padding
        onChosen: settings.padding = chosenValue
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
        //: %1 is the name of the editor's font.
        title: qsTr("设置字体:%1").arg(editorPage.editor.font.family)
        currentFont: editorFontInPoints
        onAccepted: {
            // A font chosen by point size is converted at the desktop's 96 dpi.
            settings.fontSize = font.pixelSize > 0 ? font.pixelSize : Math.round(font.pointSize * 4 / 3)
            settings.fontFamily = font.family
        }
    }

    UpdateDialog {
        id: updateDialog
        objectName: "updateDialog"
        onDownloadRequested: jumpToWeb(updater.downloadPage)
    }

    // ---- Key bindings: one Action for each entry of the shortcut list -------

    Instantiator {
        model: Shortcuts.actions
        delegate: Action {
            shortcut: modelData.sequence
            onTriggered: window[modelData.operation]()
        }
    }

    // An address given on the command line takes the remembered one's place: the field
    // shows it, and it connects at once, with nothing typed on the way to wait for.
    Component.onCompleted: {
        if (StartOptions.address !== "")
            settings.input = StartOptions.address
    }

    // ---- Operations --------------------------------------------------------

    // The link starts once the typed address has stood still for a moment, so
    // that the addresses on the way (1.2.3.1, 1.2.3.10, ...) are never contacted.
    Timer {
        id: addressSettles
        objectName: "addressSettles"
        interval: 500
        property string address
        onTriggered: link.updateIp(address)
    }

    function handleAddressText(text, valid) {
        if (valid) {
            // The remembered address at start connects at once.
            const remembered = text === settings.input
            settings.input = text
            addressSettles.address = text
            if (remembered) {
                addressSettles.stop()
                link.updateIp(text)
            } else {
                addressSettles.restart()
            }
        } else {
            addressSettles.stop()
        }
        connectionPage.borderColor = !valid ? "#ed3333"
                                            : connectionPage.addressField.activeFocus ? "#2775b6" : "#dddddd"
    }

    // Typing never lands in the address because the screen switched under the
    // user: the field takes the focus only when the editor did not have it.
    function showIpInputView(visible) {
        const wasEditing = editorPage.editor.activeFocus
        ipInputViewVisible = visible
        if (visible && wasEditing)
            connectionPage.forceActiveFocus() // keys go nowhere, not into the hidden editor
        else if (visible)
            connectionPage.addressField.focus = true
        else
            editorPage.focusEditor()
    }

    // The editor's font, in the points the platform's font dialog works with
    // (96 dpi), and with the family the editor really shows when none is chosen.
    property font editorFontInPoints
    editorFontInPoints.family: editorPage.editor.font.family !== "" ? editorPage.editor.font.family
                                                                    : Qt.application.font.family
    editorFontInPoints.pointSize: editorPage.editor.font.pixelSize * 3 / 4

    function openFontDialog() {
        if (fontDialog.visible)
            return
        fontDialog.visible = true
        // The platform's dialog exists once it is open: it starts on the editor's font.
        fontDialog.currentFont = editorFontInPoints
    }

    function openFontSizeDialog() { fontSizeDialog.visible = true }
    function openPaddingDialog() { paddingDialog.visible = true }
    function openColorDialog() { colorDialog.visible = true }
    function openBgColorDialog() { bgColorDialog.visible = true }
    function postToSaveNow() { link.postToSaveNow() }
    function postToUndo() { attrs.history.postToUndo() }
    function postToRedo() { attrs.history.postToRedo() }
    function scrollToTop() { editorPage.scrollToTop() }
    function scrollToBottom() { editorPage.scrollToBottom() }

    function showMsg(title, msg) {
        msgDialog.title = title
        msgDialog.text = msg
        msgDialog.visible = true
    }

    function showShortcuts() {
        showMsg(qsTr("快捷键说明"), Shortcuts.helpText)
    }

    function justPrint(text) {
        TextTools.justPrint(text)
    }

    function autoFormat() {
        editorPage.replaceTextKeepingPlace(TextTools.autoFormat(editorPage.noteText(), attrs.isMarkdown))
    }

    function removeIndent() {
        justPrint("shift + Tab")
        if (attrs.noteId === 0)
            return
        const editor = editorPage.editor
        editorPage.replaceTextKeepingPlace(TextTools.removeIndent(editorPage.noteText(),
                                                                  editorPage.notePosition(editor.selectionStart),
                                                                  editorPage.notePosition(editor.selectionEnd)))
    }

    function removeBlankLines() {
        justPrint("shift + Shift + L")
        if (attrs.noteId === 0)
            return
        const editor = editorPage.editor
        editorPage.replaceTextKeepingPlace(TextTools.removeBlankLines(editorPage.noteText(),
                                                                      editorPage.notePosition(editor.selectionStart),
                                                                      editorPage.notePosition(editor.selectionEnd)))
    }

    function jumpToWeb(url) {
        Qt.openUrlExternally(url)
    }
}
