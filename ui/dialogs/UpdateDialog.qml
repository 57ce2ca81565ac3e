import QtQuick 2.15
import QtQuick.Controls 2.15

// Offers the download page of a newer version.
Dialog {
    property alias note: updateLabel.text

    // The user agreed to go to the download page.
    signal downloadRequested()

    title: "发现新版"
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
                text: "确定"
                onClicked: {
                    close()
                    downloadRequested()
                }
            }
        }
    }
}
