// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.15
import QtQuick.Controls 2.15

// Offers the download page of a newer version.
TitledDialog {
    property alias note: updateLabel.text

    // The user agreed to go to the download page.
    signal downloadRequested()

    title: qsTr("发现新版")
    modal: false
    x: parent.width / 2 - width / 2
    y: parent.height / 2 - height / 2

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
            text: qsTr("现在去官网下载新版吗？")
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
                text: qsTr("取消")
                Accessible.role: Accessible.Button
                Accessible.name: text
                Accessible.description: qsTr("不下载新版，关闭对话框")
                onClicked: close()
            }

            Item {
                width: 20
                height: 1
            }

            RoundButton {
                id: msgOkBtn
                objectName: "msgOkBtn"
                width: 100
                radius: 2
                text: qsTr("确定")
                Accessible.role: Accessible.Button
                Accessible.name: text
                Accessible.description: qsTr("在浏览器中打开官网的下载页面")
                onClicked: {
                    close()
                    downloadRequested()
                }
            }
        }
    }
}
